// The shared encoding layer: instruction head, memory-operand emitters and
// immediates. Every byte goes through the checked emitter of sections.h, and
// every address field asks for its relocation right before it is written.
#include "encode/modrm.h"

#include "core/assemble.h"
#include "core/cmdline.h"
#include "core/diag.h"
#include "core/dispatch.h"
#include "core/keywords.h"
#include "core/operands.h"
#include "output/relocs.h"
#include "output/sections.h"

namespace {

constexpr const char* Msg_Can_Not_Encode = "Mod_Rm, [] can not encode ";
constexpr const char* Msg_Pair = "Mod_Rm16, [] can not encode this base+index combination";
constexpr const char* Msg_Wrong_Size = "Mod_RM, [] base or index has wrong size";
constexpr const char* Msg_Unknown_Mode = "Mod_Rm, [] unknown mode ";
constexpr const char* Msg_Base16 = "Mod_RM16, [] can not encode this base register ";
constexpr const char* Msg_Frame16 = "LOCAL, stack offset is too big.";
constexpr const char* Msg_Out_Of_Range = "Mod_RM, [] address out of range ";
constexpr const char* Msg_Mode = "Unknown encode for this mode (USE 64/32/16)";
constexpr const char* Msg_Rex_High8 = "Can not encode AH,CH,DH,BH with REX";
constexpr const char* Msg_Register_Mode = "Register can not be used in this mode: ";
constexpr const char* Msg_Size_Mismatch = "parameters have mismatched size.";


uint8_t Byte(uint32_t v) { return static_cast<uint8_t>(v); }

// -128..127 and not an address: one displacement byte will do.
bool Short_Disp(uint32_t disp, uint32_t relocatable) { return !relocatable && disp + 128u < 256u; }

// 16-bit rm of one address register: bx 7, bp 6, si 4, di 5.
int Rm16_Single(uint32_t reg) {
  switch (reg) {
    case 3: return 7;
    case 5: return 6;
    case 6: return 4;
    case 7: return 5;
    default: return -1;
  }
}

// 16-bit rm of a pair, in either order: bx+si 0, bx+di 1, bp+si 2, bp+di 3.
int Rm16_Pair(uint32_t a, uint32_t b) {
  if (a == 6 || a == 7) {
    uint32_t t = a;
    a = b;
    b = t;
  }
  if ((a != 3 && a != 5) || (b != 6 && b != 7)) return -1;
  return (a == 3 ? 0 : 2) + (b == 6 ? 0 : 1);
}

// A 16-bit address field holds -8000h..FFFFh.
bool Fits16(uint64_t v) { return v <= 0xFFFFu || v >= 0xFFFFFFFFFFFF8000u; }
bool Fits32(uint64_t v) { return v <= 0xFFFFFFFFu || v >= 0xFFFFFFFF80000000u; }
bool Fits_Signed32(int64_t v) { return v >= INT32_MIN && v <= INT32_MAX; }

// The displacement as written, in 64 bits; one that a caller set in `disp`
// alone counts as its sign extension.
int64_t Wide_Disp(const Mem_Expr& m) {
  if (static_cast<uint32_t>(m.disp_wide) == m.disp) return static_cast<int64_t>(m.disp_wide);
  return static_cast<int32_t>(m.disp);
}

// A 32-bit displacement field: 32-bit addresses wrap at 4 GiB, so the field
// also takes 80000000h..FFFFFFFFh there; a 64-bit address takes exactly the
// values that sign-extend back to themselves.
void Check_Disp32(bool address32) {
  const int64_t d = Wide_Disp(Params.mem);
  if (address32 ? !Fits32(static_cast<uint64_t>(d)) : !Fits_Signed32(d)) Error_Final(Msg_Out_Of_Range);
}

// Its range is checked by Mod_Rm16 on the whole displacement.
void Disp16(uint32_t disp, uint32_t relocatable, uint32_t target_section) {
  if (relocatable) Reloc_Add(Reloc_Abs32, 2, target_section);
  Emit_U16(disp);
}

// The 32-bit displacement of a 32- or 64-bit address. A label less one of
// the field's own section (ModRM_Parse's two-sections form) is a distance
// from the field: a 32-bit [base+disp] stores it for a pc-relative
// relocation, as the addend that the object format counts from the field's
// start (ELF) or end (COFF). Reloc_Add refuses the form anywhere else.
void Disp32(uint32_t disp, uint32_t relocatable, uint32_t target_section, bool two_sections_field) {
  if (two_sections_field && Params.mem.two_sections) {
    Params.mem.two_sections = 0;
    Reloc_Add(Reloc_Rel32, 4, target_section);
    const uint32_t f = Options.Output_Format;
    disp += Sections.Location_Counter + (f == Format_ELF32 || f == Format_ELF64 ? 0u : 4u);
  } else if (relocatable) {
    Reloc_Add(Reloc_Abs32, 4, target_section);
  }
  Emit_U32(disp);
}

uint32_t Scale_Bits(uint32_t scale) {
  switch (scale) {
    case 2: return 1;
    case 4: return 2;
    case 8: return 3;
    default: return 0;
  }
}

// [base+index*scale+disp] with 32-bit or 64-bit registers; register numbers
// are taken modulo 8 (REX.B and REX.X carry bit 3).
void Mod_Rm_Wide(uint32_t reg_field, uint32_t relocatable, uint32_t target_section, bool width32) {
  Mem_Expr& m = Params.mem;
  if (m.disp_present) Check_Disp32(width32 || (m.base_present ? m.base_size : m.index_size) == 32);
  const uint32_t reg = (reg_field & 7) << 3;
  const uint32_t base = m.base & 7;
  const uint32_t sib = Scale_Bits(m.scale) << 6 | (m.index & 7) << 3 | base;
  const bool short_disp = Short_Disp(m.disp, relocatable);
  if (m.term_count == 2) {
    if (m.base_present && m.disp_present) {
      if (base == 4) {  // esp, rsp, r12 as base need a SIB
        const uint8_t bytes[2] = {Byte((short_disp ? 0x44u : 0x84u) | reg), 0x24};
        Emit_Bytes(bytes, 2);
        if (short_disp) Emit_Byte(Byte(m.disp));
        else Disp32(m.disp, relocatable, target_section, false);
        return;
      }
      Emit_Byte(Byte((short_disp ? 0x40u : 0x80u) | reg | base));
      if (short_disp) Emit_Byte(Byte(m.disp));
      else Disp32(m.disp, relocatable, target_section, width32);
      return;
    }
    if (m.base_present && m.index_present) {
      if (m.base_size != m.index_size) {
        Error_Msg(Msg_Wrong_Size);
        return;
      }
      if (base != 5) {
        const uint8_t bytes[2] = {Byte(0x04u | reg), Byte(sib)};
        Emit_Bytes(bytes, 2);
      } else {  // mod 00 with base 101 would mean "no base": take disp8 0
        const uint8_t bytes[3] = {Byte(0x44u | reg), Byte(sib), 0};
        Emit_Bytes(bytes, 3);
      }
      return;
    }
    if (m.index_present && m.disp_present) {  // no base: SIB base 101, disp32
      const uint8_t bytes[2] = {Byte(0x04u | reg), Byte((sib & 0xF8u) | 5u)};
      Emit_Bytes(bytes, 2);
      Disp32(m.disp, relocatable, target_section, false);
      return;
    }
    Error_Msg(Msg_Unknown_Mode);
    Emit_Byte(Byte(reg));
    return;
  }
  if (m.term_count != 3) return;
  if (m.base_size != m.index_size) {
    Error_Msg(Msg_Wrong_Size);
    return;
  }
  const uint8_t bytes[2] = {Byte((short_disp ? 0x44u : 0x84u) | reg), Byte(sib)};
  Emit_Bytes(bytes, 2);
  if (short_disp) Emit_Byte(Byte(m.disp));
  else Disp32(m.disp, relocatable, target_section, false);
}

// The address width of a [register] or [base+index] operand in this mode:
// 16, 32 or 64, with 67h when it is not the mode's own; 0 when the mode has
// no such addressing.
uint32_t Address_Width(bool has16, bool has32, bool has64, bool has_other, uint8_t* p67) {
  *p67 = 0;
  if (has_other) return 0;
  switch (Mode()) {
    case Code_16:
      if (has32) {
        *p67 = 1;
        return 32;
      }
      return has64 ? 32 : 16;  // 64-bit registers were refused by the operand parser
    case Code_32:
      if (has16 && !has32) {
        *p67 = 1;
        return 16;
      }
      return 32;
    default:
      if (has16) return 0;
      if (has32) *p67 = 1;
      return 64;
  }
}

}  // namespace

// ---- Instruction head --------------------------------------------------------------

void Head_Opcode(Inst_Head& h, uint32_t opcode) {
  h.opcode[0] = Byte(opcode);
  h.length = 1;
}

void Head_Opcode2(Inst_Head& h, uint32_t first, uint32_t second) {
  h.opcode[0] = Byte(first);
  h.opcode[1] = Byte(second);
  h.length = 2;
}

bool Head_Size(Inst_Head& h, uint32_t size) {
  switch (size) {
    case 8: h.size = 8; return true;
    case 16:
      if (Mode() != Code_16) h.p66 = 1;
      h.size = 16;
      return true;
    case 32:
      if (Mode() == Code_16) h.p66 = 1;
      h.size = 32;
      return true;
    case 64:
      if (Mode() != Code_64) return false;
      h.rex |= Rex_W;
      h.size = 64;
      return true;
    default: return false;
  }
}

void Head_Reg(Inst_Head& h, uint32_t number, uint32_t size, uint8_t rex_bit) {
  if (size == 8 && number >= 4 && number <= 7) h.high8 = 1;
  if (Mode() != Code_64) return;
  if (number > 16) h.rex |= Rex_Any;
  else if (number > 7) h.rex |= rex_bit;
}

bool Head_Emit(const Inst_Head& h) {
  uint8_t bytes[8];
  uint32_t n = 0;
  if (h.p66_first && h.p66) bytes[n++] = 0x66;
  if (h.p67) bytes[n++] = 0x67;
  if (!h.p66_first && h.p66) bytes[n++] = 0x66;
  if (h.mandatory) bytes[n++] = h.mandatory;
  bool ok = true;
  if (Mode() == Code_64 && h.rex) {
    if (h.high8) {
      Error_Msg(Msg_Rex_High8);
      ok = false;
    }
    bytes[n++] = Byte(0x40u | (h.rex & 0x0Fu));
  }
  for (uint32_t i = 0; i < h.length && i < 3; ++i) bytes[n++] = h.opcode[i];
  Emit_Bytes(bytes, n);
  return ok;
}

// ---- Memory operands ------------------------------------------------------------------

Mem_Operand Mem_Operand_Of(const Operand_Record& r) {
  Mem_Operand m;
  m.record = &r;
  switch (Mode()) {
    case Code_16: m.width = 16; break;
    case Code_32: m.width = 32; break;
    default: m.width = 64; break;
  }
  if (r.kind == Op_Mem_Reg) {
    const uint32_t s = r.size;
    uint32_t w = Address_Width(s == 16, s == 32, s == 64, s != 16 && s != 32 && s != 64, &m.p67);
    if (w == 0) Error_Msg(Msg_Can_Not_Encode);
    else m.width = w;
    if (r.value > 7) m.rex |= Rex_B;
  } else if (r.kind == Op_Mem_Complex) {
    const Mem_Expr& e = Params.mem;
    bool has[3] = {false, false, false};  // 16, 32, 64
    bool other = false;
    auto note = [&](uint32_t present, uint32_t size) {
      if (!present) return;
      if (size == 16) has[0] = true;
      else if (size == 32) has[1] = true;
      else if (size == 64) has[2] = true;
      else other = true;
    };
    note(e.base_present, e.base_size);
    note(e.index_present, e.index_size);
    uint32_t w = Address_Width(has[0], has[1], has[2], other, &m.p67);
    if (w == 0) Error_Msg(Msg_Can_Not_Encode);
    else m.width = w;
    if (e.base_present && e.base > 7) m.rex |= Rex_B;
    if (e.index_present && e.index > 7) m.rex |= Rex_X;
  }
  return m;
}

void Head_Mem(Inst_Head& h, const Mem_Operand& m) {
  if (m.p67) h.p67 = 1;
  if (Mode() == Code_64) h.rex |= m.rex;
}

void Mem_Emit(const Mem_Operand& m, uint32_t reg_field, uint32_t trailing) {
  const Operand_Record& r = *m.record;
  switch (r.kind) {
    case Op_Mem_Reg:
      if (m.width == 16) Mod_RM16_Reg(r.low(), r.size, reg_field);
      else Mod_RM32_Reg(r.low(), r.size, reg_field);
      return;
    case Op_Mem_Complex:
      if (m.width == 16) Mod_Rm16(reg_field, r.relocatable, r.target_section);
      else if (m.width == 32) Mod_RM32(reg_field, r.relocatable, r.target_section);
      else Mod_RM64(reg_field, r.relocatable, r.target_section);
      return;
    case Op_Mem_Direct:
      if (m.width == 16) Emit_ModRM_Direct16(r.value, reg_field, r.relocatable, r.target_section);
      else if (m.width == 32) Emit_ModRM_Direct32(r.value, reg_field, r.relocatable, r.target_section);
      else Emit_ModRM_Direct64(r.value, reg_field, r.relocatable, r.target_section, trailing);
      return;
    case Op_Local:
    case Op_Arg:
      if (m.width == 16) Emit_ModRM_Frame16(r.low(), reg_field, r.kind == Op_Local);
      else Emit_ModRM_Frame32(r.low(), reg_field, r.kind == Op_Local);
      return;
    default: return;
  }
}

bool Keyword_Size_Agrees(uint32_t size) {
  const uint32_t k = Keyword_Written_Size();
  if (!k || !size || size == Mem_Size_Any || k == size) return true;
  // One message per statement: a family that already refused the sizes said it.
  if (Pass.Pass_Number >= 2 && Diag.Error_Count == Params.error_mark) Error_Msg(Msg_Size_Mismatch);
  return false;
}

bool Keyword_Contradicts(uint32_t register_size) {
  const uint32_t k = Keyword_Written_Size();
  if (!k || k == register_size) return false;
  Error_Msg(Msg_Size_Mismatch);
  return true;
}

uint32_t Declared_Mem_Size(const Operand_Record& mem) {
  if (mem.kind == Op_Mem_Complex) return Params.mem.implied_size;
  if (mem.kind == Op_Mem_Direct || mem.kind == Op_Local || mem.kind == Op_Arg) return mem.size;
  return 0;
}

void Label_Size_Agrees(const Operand_Record& mem, uint32_t size) {
  if (Pass.Pass_Number < 2 || Keyword_Names_Size(size)) return;  // a forward label has no size in pass 1
  const uint32_t declared = Declared_Mem_Size(mem);
  if (!declared || declared == size) return;
  Error_Msg(mem.kind == Op_Mem_Complex ? "Register size does not match []" : Msg_Size_Mismatch);
}

void Emit_Mem_Form(Inst_Head h, const Mem_Operand& m, uint32_t reg_field, uint32_t trailing) {
  Keyword_Size_Agrees(h.mem_size ? h.mem_size : h.size);
  Head_Mem(h, m);
  Head_Emit(h);
  Mem_Emit(m, reg_field, trailing);
}

// ---- [base+index*scale+disp] -------------------------------------------------------------

void Mod_Rm16(uint32_t reg_field, uint32_t relocatable, uint32_t target_section) {
  const Mem_Expr& m = Params.mem;
  // The 16-bit field holds -8000h..FFFFh; bits beyond 32 would be lost unseen.
  if (m.disp_present && !Fits16(static_cast<uint64_t>(Wide_Disp(m)))) Error_Final(Msg_Out_Of_Range);
  const uint32_t reg = (reg_field & 7) << 3;
  const bool short_disp = Short_Disp(m.disp, relocatable);
  const uint32_t mod = short_disp ? 0x40u : 0x80u;
  // A scale factor has no 16-bit encoding.
  auto pair_rm = [&]() {
    int rm = Rm16_Pair(m.base & 7, m.index & 7);
    if (rm < 0 || m.scale > 1) {
      Error_Msg(Msg_Pair);
      rm = 0;
    }
    return static_cast<uint32_t>(rm);
  };
  auto disp = [&]() {
    if (short_disp) Emit_Byte(Byte(m.disp));
    else Disp16(m.disp, relocatable, target_section);
  };
  if (m.term_count == 2) {
    if (m.base_present && m.disp_present) {
      int rm = Rm16_Single(m.base & 7);
      if (rm < 0) {
        Error_Msg(Msg_Can_Not_Encode);
        rm = 0;
      }
      Emit_Byte(Byte(mod | reg | static_cast<uint32_t>(rm)));
      disp();
      return;
    }
    if (m.base_present && m.index_present) {
      if (m.base_size != m.index_size) {
        Error_Msg(Msg_Wrong_Size);
        return;
      }
      Emit_Byte(Byte(reg | pair_rm()));
      return;
    }
    if (m.index_present && m.disp_present) {  // 16-bit addressing has no index without a base
      Error_Msg(Msg_Can_Not_Encode);
      Emit_Byte(Byte(0x06u | reg));
      Emit_U16(m.disp);
      return;
    }
    Error_Msg(Msg_Unknown_Mode);
    Emit_Byte(Byte(reg));
    return;
  }
  if (m.term_count != 3) return;
  if (m.base_size != m.index_size) {
    Error_Msg(Msg_Wrong_Size);
    return;
  }
  Emit_Byte(Byte(mod | reg | pair_rm()));
  disp();
}

void Mod_RM32(uint32_t reg_field, uint32_t relocatable, uint32_t target_section) {
  Mod_Rm_Wide(reg_field, relocatable, target_section, true);
}

void Mod_RM64(uint32_t reg_field, uint32_t relocatable, uint32_t target_section) {
  Mod_Rm_Wide(reg_field, relocatable, target_section, false);
}

// ---- [register] -----------------------------------------------------------------------

void Mod_RM16_Reg(uint32_t base, uint32_t, uint32_t reg_field) {
  uint32_t rm;
  switch (base) {
    case 6: rm = 4; break;
    case 7: rm = 5; break;
    case 3: rm = 7; break;
    default:  // [bp] alone would be a disp16 address
      Error_Msg(Msg_Base16);
      rm = 7;
      break;
  }
  Emit_Byte(Byte((reg_field & 7) << 3 | rm));
}

void Mod_RM32_Reg(uint32_t base, uint32_t, uint32_t reg_field) {
  const uint32_t b = base & 7;
  const uint32_t reg = (reg_field & 7) << 3;
  if (b == 5) {  // ebp, rbp, r13: mod 00 would mean disp32 / RIP
    const uint8_t bytes[2] = {Byte(0x45u | reg), 0};
    Emit_Bytes(bytes, 2);
    return;
  }
  Emit_Byte(Byte(reg | b));
  if (b == 4) Emit_Byte(0x24);  // esp, rsp, r12: SIB without index
}

void Emit_ModRM_Base(uint32_t base, uint32_t size, uint32_t reg_field) {
  switch (Mode()) {
    case Code_64: Mod_RM64_Reg(base, size, reg_field); return;
    case Code_32: Mod_RM32_Reg(base, size, reg_field); return;
    case Code_16: Mod_RM16_Reg(base, size, reg_field); return;
    default: Error_Msg(Msg_Mode); return;
  }
}

// ---- [direct address] ---------------------------------------------------------------

void Emit_Address(uint64_t address, uint32_t bytes, uint32_t relocatable, uint32_t target_section) {
  if ((bytes == 2 && !Fits16(address)) || (bytes == 4 && !Fits32(address))) Error_Final(Msg_Out_Of_Range);
  if (relocatable) Reloc_Add(bytes == 8 ? Reloc_Abs64 : Reloc_Abs32, bytes, target_section);
  if (relocatable && bytes == 8) address = Reloc_Abs64_Value(address);
  switch (bytes) {
    case 2: Emit_U16(static_cast<uint32_t>(address)); return;
    case 4: Emit_U32(static_cast<uint32_t>(address)); return;
    default: Emit_U64(address); return;
  }
}

void Emit_ModRM_Direct16(uint64_t address, uint32_t reg_field, uint32_t relocatable, uint32_t target_section) {
  Emit_Byte(Byte(0x06u | (reg_field & 7) << 3));
  Emit_Address(address, 2, relocatable, target_section);
}

void Emit_ModRM_Direct32(uint64_t address, uint32_t reg_field, uint32_t relocatable, uint32_t target_section) {
  Emit_Byte(Byte(0x05u | (reg_field & 7) << 3));
  Emit_Address(address, 4, relocatable, target_section);
}

void Emit_Rip_Field(uint64_t address, uint32_t relocatable, uint32_t target_section, uint32_t trailing) {
  const uint32_t field = Sections.Location_Counter;
  switch (Options.Output_Format) {
    case Format_COFF32:
    case Format_COFF64:
    case Format_ELF32:
    case Format_ELF64:
    case Format_OMF32: {
      // The linker resolves the distance; the field holds the addend (ELF
      // counts from the field's start, COFF from its end). A number that is
      // no address has no place in an object's RIP field.
      if (relocatable) Reloc_Add(Reloc_Rel32, 4, target_section);
      else Error_Final(Msg_Out_Of_Range);
      if (!Fits_Signed32(static_cast<int64_t>(address))) Error_Final(Msg_Out_Of_Range);  // the addend
      const bool elf = Options.Output_Format == Format_ELF32 || Options.Output_Format == Format_ELF64;
      Emit_U32(static_cast<uint32_t>(address) - trailing - (elf ? 4u : 0u));
      return;
    }
    case Format_Binary:
    case Format_PE32:
    case Format_PE64: {
      // An image: the distance is final and needs no relocation.
      const int64_t distance = static_cast<int64_t>(address) - (static_cast<int64_t>(field) + 4 + trailing);
      if (distance < INT32_MIN || distance > INT32_MAX) Error_Final(Msg_Out_Of_Range);
      Emit_U32(static_cast<uint32_t>(distance));
      return;
    }
    case Format_MachO32: {
      // A local pc-relative field holds the distance in the object's own
      // layout; the linker adds how far the two sections move apart. A
      // number that is no address would not stay at that distance.
      if (relocatable) Reloc_Add(Reloc_Rel32, 4, target_section);
      else Error_Final(Msg_Out_Of_Range);
      const int64_t distance = static_cast<int64_t>(address) - (static_cast<int64_t>(field) + 4 + trailing);
      if (!Fits_Signed32(distance)) Error_Final(Msg_Out_Of_Range);
      Emit_U32(static_cast<uint32_t>(distance));
      return;
    }
    default:
      if (relocatable) Reloc_Add(Reloc_Abs32, 4, target_section);
      Emit_U32(static_cast<uint32_t>(address) - (field + 4 + trailing));
      return;
  }
}

void Emit_ModRM_Direct64(uint64_t address, uint32_t reg_field, uint32_t relocatable, uint32_t target_section,
                         uint32_t trailing) {
  Emit_Byte(Byte(0x05u | (reg_field & 7) << 3));
  Emit_Rip_Field(address, relocatable, target_section, trailing);
}

void Emit_ModRM_Direct(uint64_t address, uint32_t reg_field, uint32_t relocatable, uint32_t target_section,
                       uint32_t trailing) {
  switch (Mode()) {
    case Code_64: Emit_ModRM_Direct64(address, reg_field, relocatable, target_section, trailing); return;
    case Code_32: Emit_ModRM_Direct32(address, reg_field, relocatable, target_section); return;
    case Code_16: Emit_ModRM_Direct16(address, reg_field, relocatable, target_section); return;
    default: Error_Msg(Msg_Mode); return;
  }
}

// ---- PROC frame variables ----------------------------------------------------------------
// The offset is the distance from the frame pointer; a `local` lies below it.
// Offsets below 127 take one displacement byte (127 itself takes the long form).

void Emit_ModRM_Frame16(uint32_t offset, uint32_t reg_field, uint32_t is_local) {
  if (offset > 0xFFFF) Error_Msg(Msg_Frame16);
  const uint32_t disp = is_local ? 0u - offset : offset;
  const uint32_t reg = (reg_field & 7) << 3;
  if (offset < 127) {
    const uint8_t bytes[2] = {Byte(0x46u | reg), Byte(disp)};
    Emit_Bytes(bytes, 2);
    return;
  }
  Emit_Byte(Byte(0x86u | reg));
  Emit_U16(disp);
}

void Emit_ModRM_Frame32(uint32_t offset, uint32_t reg_field, uint32_t is_local) {
  // Off rbp the field is sign-extended; off ebp the address wraps at 4 GiB.
  if (Mode() == Code_64 && offset > (is_local ? 0x80000000u : 0x7FFFFFFFu)) Error_Final(Msg_Out_Of_Range);
  const uint32_t disp = is_local ? 0u - offset : offset;
  const uint32_t reg = (reg_field & 7) << 3;
  if (offset < 127) {
    const uint8_t bytes[2] = {Byte(0x45u | reg), Byte(disp)};
    Emit_Bytes(bytes, 2);
    return;
  }
  Emit_Byte(Byte(0x85u | reg));
  Emit_U32(disp);
}

// ---- Immediates -----------------------------------------------------------------------

bool Imm_Fits(uint64_t value, uint32_t size) {
  const int64_t s = static_cast<int64_t>(value);
  const bool high_zero = (value >> 32) == 0;
  // Expressions with `not`, `and`, `shl` ... yield 32-bit results: a byte or
  // word may also be given as the 32-bit pattern of a negative number.
  const int64_t s32 = static_cast<int32_t>(static_cast<uint32_t>(value));
  auto within = [&](int64_t low, int64_t high) {
    return (s >= low && s <= high) || (high_zero && s32 >= low && s32 <= high);
  };
  switch (size) {
    case 8: return within(-128, 255);
    case 16: return within(-32768, 65535);
    case 64: return Fits_Signed32(s);
    default: return high_zero || (s < 0 && s >= INT32_MIN);
  }
}

bool Imm_Short(const Operand_Record& r) { return !r.relocatable && r.low() + 128u < 256u; }

uint32_t Imm_Reloc_Type(const Operand_Record& r) { return r.reloc_kind == Reloc_Rva32 ? Reloc_Rva32 : Reloc_Abs32; }

void Emit_Imm(const Operand_Record& r, uint32_t bytes, bool zero_extended) {
  if (r.relocatable) {
    uint32_t type = Imm_Reloc_Type(r);
    if (bytes == 8 && type == Reloc_Abs32) type = Reloc_Abs64;
    Reloc_Record* rec = Reloc_Add(type, bytes, r.target_section);
    if (rec && zero_extended && type == Reloc_Abs32) rec->zero_extended = 1;
    if (bytes == 8 && type == Reloc_Abs64) {
      Emit_U64(Reloc_Abs64_Value(r.value));
      return;
    }
  }
  switch (bytes) {
    case 1: Emit_Byte(Byte(r.low())); return;
    case 2: Emit_U16(r.low()); return;
    case 4: Emit_U32(r.low()); return;
    default: Emit_U64(r.value); return;
  }
}

void Emit_Imm8(const Operand_Record& r, const char* message) {
  if (!Imm_Fits(r.value, 8)) Error_Final(message);
  // An object's address is a section offset that the linker moves: a byte
  // field has no relocation to carry it.
  else if (r.relocatable && Output_Is_Object()) Error_Final(Msg_Reloc_Sizes);
  Emit_Byte(Byte(r.low()));
}

// ---- Sizes and registers -------------------------------------------------------------------

uint32_t Keyword_Operand_Size() {
  const auto& f = Params.flags;
  if (f.byte_) return 8;
  if (f.word) return 16;
  if (f.dword) return 32;
  if (f.qword && Mode() == Code_64) return 64;
  return 0;
}

uint32_t Keyword_Written_Size() {
  if (Params.flags.qword && !Params.flags.byte_ && !Params.flags.word && !Params.flags.dword) return 64;
  if (Params.flags.tbyte && !Keyword_Operand_Size()) return 80;
  return Keyword_Operand_Size();
}

bool Keyword_Names_Size(uint32_t size) {
  const auto& f = Params.flags;
  switch (size) {
    case 8: return f.byte_ != 0;
    case 16: return f.word != 0;
    case 32: return f.dword != 0;
    case 64: return f.qword != 0;
    default: return false;
  }
}

bool Size_Usable(uint32_t size) { return size == 8 || size == 16 || size == 32 || (size == 64 && Mode() == Code_64); }

uint32_t Register_Operand_Size(const Operand_Record& r) {
  return r.size == 64 && Mode() != Code_64 ? 32 : r.size;
}

bool Register_Usable(const char* text, uint32_t length, uint32_t number, uint32_t size, uint32_t reg_class) {
  if (Mode() == Code_64) return true;
  const bool high = number > 7 || (reg_class == Reg_Control && size == 64);  // cr8
  const bool wide = reg_class == Reg_General && size == 64;
  if (!high && !wide) return true;
  Error_Text(Msg_Register_Mode, text, length);
  return false;
}

bool Code_Mode_Known() {
  if (Mode() <= Code_64) return true;
  Error_Msg(Msg_Mode);
  return false;
}
