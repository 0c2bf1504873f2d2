// CALL, JMP and Jcc: operand handlers, the direct-branch core and the
// indirect worker.
//
// Direct branches:   short  EB rel8 / 70+cc rel8         (only with -size)
//                    near   E8 / E9 / 0F 80+cc, rel16 in 16-bit code, else rel32
// Indirect branches: FF /2 near call, /3 far call, /4 near jmp, /5 far jmp
// Far direct:        9A / EA, offset (16 or 32 bits), selector (16 bits)
//
// A branch to a label of another section of an object file can not be
// resolved here: every section of an object starts at 0 and the linker places
// them. It takes the near form and records a pc-relative relocation.
#include "encode/branch.h"

#include "core/assemble.h"
#include "core/cmdline.h"
#include "core/diag.h"
#include "core/expr.h"
#include "core/keywords.h"
#include "core/operands.h"
#include "core/symbols.h"
#include "directives/imports.h"
#include "directives/macro.h"
#include "directives/proc.h"
#include "encode/modrm.h"
#include "encode/opcodes.h"
#include "output/relocs.h"
#include "output/sections.h"

namespace {

enum class Branch : uint8_t { Call, Jmp, Jcc };

// The messages of one branch family.
struct Branch_Messages {
  const char* wrong_register;  // a register that can not be a near target
  const char* address_size;    // an address register the mode can not use
  const char* unknown;         // an unknown target from pass 2 on
  const char* out_of_range;    // a distance that the rel32 field can not hold
  const char* other_section;   // 16-bit code can not reach another section
  const char* far_selector;
  const char* far_target;
  const char* far_offset;
  const char* far_selector_size;
  const char* operand_size;    // a size keyword that no near form has
};

constexpr Branch_Messages Call_Msg = {
    "Call, wrong register size: ",
    "Call, wrong address size. ",
    "Call, target unknown: ",
    "Call, target out of range: ",
    "Call, target in another section in 16-bit code: ",
    "CALL FAR, selector unknown.",
    "CALL FAR, traget unknown.",
    "CALL FAR, offset too big.",
    "CALL FAR, selector too big.",
    "Call, wrong operand size. ",
};

constexpr Branch_Messages Jmp_Msg = {
    "JMP, can not encode operand ",
    "JMP, wrong address size.",
    "JMP, target unknown: ",
    "JMP, target unknown: ",
    "JMP, target in another section in 16-bit code: ",
    "JMP FAR, selector unknown.",
    "JMP FAR, traget unknown.",
    "JMP FAR, offset too big.",
    "JMP FAR, selector too big.",
    "JMP, can not encode operand ",
};

constexpr Branch_Messages Jcc_Msg = {
    "", "", "Unknown symbol: ", "Jcc, target out of range: ", "Jcc, target in another section in 16-bit code: ",
    "", "", "", "", "",
};

constexpr const char* Msg_Register_Class = "Call, can not use this register: ";
constexpr const char* Msg_Empty_Brackets = "Empty or orphan brackets? : ";
constexpr const char* Msg_Far_64 = "CALL FAR label, can not encode in 64 bits";
constexpr const char* Msg_Import_16 = "Call, can not call an import in 16-bit code: ";

constexpr int32_t No_Section = -1;

// What one statement carries from its keyword to its last operand.
struct Branch_State {
  uint32_t jcc_short = 0x70;
  uint32_t jcc_near = 0x80;
  uint32_t far_selector = 0;
};
Branch_State State;

const Branch_Messages& Messages_Of(Branch b) {
  return b == Branch::Call ? Call_Msg : b == Branch::Jmp ? Jmp_Msg : Jcc_Msg;
}

void Report(const char* message, const char* text, uint32_t length) {
  if (text) Error_Text(message, text, length);
  else Error_Msg(message);
}

// A section that the linker places apart from this one: no distance yet.
bool Other_Section(int32_t section) {
  return section != No_Section && static_cast<uint32_t>(section) != Sections.Current_Section &&
         Output_Is_Object();
}

// The rel32 field of a branch into another section, with its relocation: what
// the linker adds the section's place to.
void Emit_Section_Rel32(uint64_t target, uint32_t section) {
  const uint32_t field = Sections.Location_Counter;
  Reloc_Add(Reloc_Rel32, 4, section);
  uint32_t stored = static_cast<uint32_t>(target);
  switch (Options.Output_Format) {
    case Format_ELF32: case Format_ELF64: stored -= 4; break;
    case Format_MachO32: stored -= field + 4; break;
    default: break;
  }
  Emit_U32(stored);
}

// The near opcode bytes of a branch kind.
void Emit_Near_Opcode(Branch b, uint32_t near_opcode) {
  switch (b) {
    case Branch::Call: Emit_Byte(0xE8); return;
    case Branch::Jmp: Emit_Byte(0xE9); return;
    case Branch::Jcc:
      Emit_Byte(0x0F);
      Emit_Byte(static_cast<uint8_t>(near_opcode));
      return;
  }
}

// The one direct-branch core. `section` is the target's section, or
// No_Section for a plain number. `text` names the target in messages (may be
// nullptr). Returns the displacement written.
int64_t Branch_Direct(Branch b, uint32_t short_opcode, uint32_t near_opcode, uint64_t target, int32_t section,
                      const char* text, uint32_t length) {
  const Branch_Messages& msg = Messages_Of(b);
  if (!Code_Mode_Known()) return 0;
  const int64_t here = Sections.Location_Counter;
  const int64_t to = static_cast<int64_t>(target);

  if (Other_Section(section)) {
    if (Mode() == Code_16) {
      Report(msg.other_section, text, length);
      return 0;
    }
    Emit_Near_Opcode(b, near_opcode);
    Emit_Section_Rel32(target, static_cast<uint32_t>(section));
    return static_cast<int32_t>(target);
  }

  if (b != Branch::Call && Options.Short_Jumps) {
    const int64_t d = to - (here + 2);
    if (d >= -128 && d <= 127) {
      Emit_Byte(static_cast<uint8_t>(b == Branch::Jmp ? 0xEB : short_opcode));
      Emit_Byte(static_cast<uint8_t>(d));
      return d;
    }
  }

  const int64_t head = b == Branch::Jcc ? 2 : 1;
  if (Mode() == Code_16) {
    const int64_t d = to - (here + head + 2);
    // 16-bit code wraps at 64 KiB: -8000h..+8000h reach every address.
    if (static_cast<uint32_t>(d) + 0x8000u > 0x10000u) {
      if (b == Branch::Jmp) Error_Final(msg.unknown);
      else if (Pass.Pass_Number >= 2) Report(msg.out_of_range, text, length);
    }
    Emit_Near_Opcode(b, near_opcode);
    Emit_U16(static_cast<uint32_t>(d));
    return static_cast<int16_t>(d);
  }
  const int64_t d = to - (here + head + 4);
  // A 64-bit target must lie within the rel32 reach; a 32-bit one is an
  // address modulo 2^32 (or a negative number written in 64 bits).
  const bool fits = Mode() == Code_64 ? d >= INT32_MIN && d <= INT32_MAX
                                      : (target >> 32) == 0 || (target >> 31) == 0x1FFFFFFFFull;
  if (!fits && Pass.Pass_Number >= 2) Report(msg.out_of_range, text, length);
  Emit_Near_Opcode(b, near_opcode);
  Emit_U32(static_cast<uint32_t>(d));
  return static_cast<int32_t>(d);
}

// ---- Indirect branches: FF /digit ----------------------------------------------------

// A register that the operand parser already reported for this mode.
bool Register_Refused_In_Mode(const Operand_Record& r) {
  return Mode() != Code_64 && (r.value > 7 || r.size == 64);
}

// FF /digit with a general register (near forms only).
void Indirect_Register(Branch b, uint32_t digit, uint32_t number, uint32_t size) {
  const Branch_Messages& msg = Messages_Of(b);
  if (!Code_Mode_Known() || Keyword_Contradicts(size)) return;  // `call word eax`
  Inst_Head h;
  if (Mode() == Code_64) {
    if (size != 64) {
      Error_Msg(msg.wrong_register);
      return;
    }
  } else if (size != 16 && size != 32) {
    Error_Msg(msg.wrong_register);
    return;
  } else {
    Head_Size(h, size);  // 66h for the width that is not the mode's own
  }
  if (number > 7) h.rex |= Rex_B;
  Head_Opcode(h, 0xFF);
  Head_Emit(h);
  Emit_Byte(static_cast<uint8_t>(0xC0 | digit << 3 | (number & 7)));
}

// An address register the mode can not use: byte registers anywhere, 16-bit
// ones in 64-bit code.
bool Address_Size_Refused(const Operand_Record& r) {
  auto bad = [](uint32_t size) { return size == 8 || (Mode() == Code_64 && size == 16); };
  if (r.kind == Op_Mem_Reg) return bad(r.size);
  if (r.kind == Op_Mem_Complex) {
    const Mem_Expr& e = Params.mem;
    return (e.base_present && bad(e.base_size)) || (e.index_present && bad(e.index_size));
  }
  return false;
}

// FF /digit with a memory operand of any kind (3, 4, 5, 7, 8).
void Indirect_Memory(Branch b, uint32_t digit, const Operand_Record& r) {
  if (!Code_Mode_Known()) return;
  if (Address_Size_Refused(r)) {
    Error_Msg(Messages_Of(b).address_size);
    return;
  }
  const bool near = digit == 2 || digit == 4;
  const Params_Context::Flags& f = Params.flags;
  // A near target is as wide as the code (64 bits in 64-bit code) or, in
  // 16- and 32-bit code, the other of 16 and 32 bits: no other width exists.
  const bool other_width = Mode() == Code_64 ? f.dword || f.byte_ || f.tbyte
                                             : f.byte_ || f.qword || f.tbyte;
  if (near && other_width) {
    Error_Msg(Messages_Of(b).operand_size);
    return;
  }
  Inst_Head h;
  // `word` (`dword` in 16-bit code) asks for the other operand width.
  if ((Mode() == Code_16 && f.dword) || (Mode() != Code_16 && f.word)) h.p66 = 1;
  Mem_Operand m = Mem_Operand_Of(r);
  // Near complex forms with an extended register carry REX.W, as this
  // assembler always wrote them; the far forms never do (with W they would
  // read a 10-byte pointer), nor does the 16-bit form.
  if (near && Mode() == Code_64 && r.kind == Op_Mem_Complex && m.rex && !h.p66) h.rex |= Rex_W;
  Head_Opcode(h, 0xFF);
  Emit_Mem_Form(h, m, digit, 0);
}

// ---- Bracketed operands of CALL and the far forms -----------------------------------

struct Mem_Lookup {
  bool frames;  // PROC `local` and `arg` items
  bool macros;  // a macro call may give the operand
  const char* unknown;
};

// 0: operand 1 holds a memory operand; 1: a macro call took over; -1: reported.
int Branch_Mem_Operand(const char* text, uint32_t length, const Mem_Lookup& how) {
  Operand_Record& r = Op1();
  const uint32_t inner = length >= 2 ? length - 2 : 0;
  if (inner >= 1024) {
    Error_Msg("Parameter in [] is too big: ");
    return -1;
  }
  Stripped_Text s = Expr_Strip_Blanks(text + (length >= 2 ? 1 : 0), inner);
  if (s.length == 0) {
    Error_Text(Msg_Empty_Brackets, text, length);
    return -1;
  }
  auto set = [&r](uint32_t kind, uint64_t value, uint32_t size, uint32_t relocatable) {
    r.kind = kind;
    r.value = value;
    r.size = size;
    r.relocatable = relocatable;
    r.target_section = Sections.Reloc_Target_Section;
  };
  uint32_t frame = 0, size = 0;
  if (how.frames && Proc_Local_Find(s.text, s.length, &frame, &size)) {
    set(Op_Local, frame, size, 0);
    return 0;
  }
  if (how.frames && Proc_Arg_Find(s.text, s.length, &frame, &size)) {
    set(Op_Arg, frame, size, 0);
    return 0;
  }
  Register_Hit reg;
  if (Register_Find(s.text, s.length, &reg) == 0) {
    if (reg.reg_class != Reg_General) {
      Error_Text(Msg_Register_Class, text, length);
      return -1;
    }
    if (!Register_Usable(s.text, s.length, reg.number, reg.size, reg.reg_class)) return -1;
    set(Op_Mem_Reg, reg.number, reg.size, 0);
    return 0;
  }
  Label_Hit hit;
  if (Label_Find_Any(s.text, s.length, 0, &hit) >= 0) {
    set(Op_Mem_Direct, hit.address, hit.data_type, 1);
    return 0;
  }
  Eval_Result e = Eval_Value(s.text, s.length);
  if (e.status == 0) {
    set(Op_Mem_Direct, e.value, 0, Expr.Expr_Relocatable);
    r.reloc_kind = Expr.Expr_Reloc_Kind;
    return 0;
  }
  if (ModRM_Parse(s.text, s.length) == 0) {
    const Mem_Expr& m = Params.mem;
    set(Op_Mem_Complex, m.disp, m.implied_size, m.relocatable);
    if (m.section >= 0) r.target_section = static_cast<uint32_t>(m.section);
    return 0;
  }
  if (Diag.Stop_Flag) return -1;
  if (how.macros && Macro_Start_Call_From_Operand(s.text, s.length)) return 1;
  if (Pass.Pass_Number == 1) {
    set(Op_Mem_Direct, 0, 0, 0);
    r.unknown = 1;
    return 0;
  }
  Error_Text(how.unknown, text, length);
  return -1;
}

// ---- Far direct forms: 9A / EA -----------------------------------------------------

void Far_Selector(const char* text, uint32_t length, const Branch_Messages& msg) {
  uint64_t value = 0;
  if (Equ_Find(text, length, &value) >= 0) {
    State.far_selector = static_cast<uint32_t>(value);
    return;
  }
  Eval_Result e = Eval_Value(text, length);
  if (e.status == 0) {
    State.far_selector = static_cast<uint32_t>(e.value);
    return;
  }
  State.far_selector = Pass.Pass_Number == 1 ? 8 : 0;
  if (Pass.Pass_Number > 1) Error_Text(msg.far_selector, text, length);
}

void Far_Target(const char* text, uint32_t length, uint8_t opcode, const Branch_Messages& msg) {
  uint64_t offset = 0;
  uint32_t relocatable = 0;
  uint32_t section = 0;
  Label_Hit hit;
  uint32_t address = 0, proc_section = 0;
  if (Label_Find_Any(text, length, 0, &hit) >= 0) {
    offset = hit.address;
    relocatable = 1;
    section = Sections.Reloc_Target_Section;
  } else if (Proc_Address(text, length, &address, &proc_section)) {
    offset = address;
    relocatable = 1;
    section = proc_section;
  } else if (Equ_Find(text, length, &offset) >= 0) {
  } else {
    Eval_Result e = Eval_Value(text, length);
    if (e.status == 0) {
      offset = e.value;
      relocatable = Expr.Expr_Relocatable;
      section = Sections.Reloc_Target_Section;
    } else if (Pass.Pass_Number > 1) {
      Error_Text(msg.far_target, text, length);
      return;
    }
  }
  if (!Code_Mode_Known()) return;
  if (Mode() == Code_64) {
    Error_Msg(Msg_Far_64);
    return;
  }
  const uint32_t bytes = Mode() == Code_16 ? 2 : 4;
  Emit_Byte(opcode);
  // An address in the offset field is relocated as any absolute address; a
  // 16-bit field can not be, which the relocation table reports.
  if (relocatable) Reloc_Add(Reloc_Abs32, bytes, section);
  if (bytes == 2) Emit_U16(static_cast<uint32_t>(offset));
  else Emit_U32(static_cast<uint32_t>(offset));
  Emit_U16(State.far_selector);
  if (offset >> (bytes * 8)) Error_Msg(msg.far_offset);
  if (State.far_selector > 0xFFFF) Error_Msg(msg.far_selector_size);
}

// ---- CALL --------------------------------------------------------------------------

void Call_Target(const char* text, uint32_t length) {
  uint32_t address = 0, section = 0;
  Import_Func_Ref import{};
  Label_Hit hit;
  Register_Hit reg;
  uint64_t value = 0;
  if (Proc_Address(text, length, &address, &section)) {
    Branch_Direct(Branch::Call, 0, 0, address, static_cast<int32_t>(section), text, length);
  } else if (Import_Func_Find(text, length, &import)) {
    Call_Extern(import, text, length);
  } else if (Local_Label_Value(text, length, &address, &section)) {
    Branch_Direct(Branch::Call, 0, 0, address, static_cast<int32_t>(section), text, length);
  } else if (Label_Find_Any(text, length, 0, &hit) >= 0) {
    Branch_Direct(Branch::Call, 0, 0, hit.address, static_cast<int32_t>(Sections.Reloc_Target_Section), text,
                  length);
  } else if (Register_Find(text, length, &reg) == 0) {
    if (reg.reg_class != Reg_General) Error_Text(Msg_Register_Class, text, length);
    else if (Register_Usable(text, length, reg.number, reg.size, reg.reg_class))
      Indirect_Register(Branch::Call, 2, reg.number, reg.size);
  } else if (Equ_Find(text, length, &value) >= 0) {
    Branch_Direct(Branch::Call, 0, 0, value, No_Section, text, length);
  } else if (Eval_Result e = Eval_Value(text, length); e.status == 0) {
    const int32_t target_section = Expr.Expr_Relocatable ? static_cast<int32_t>(Sections.Reloc_Target_Section)
                                                         : No_Section;
    Branch_Direct(Branch::Call, 0, 0, e.value, target_section, text, length);
  } else if (Macro_Start_Call_From_Operand(text, length)) {
    return;
  } else if (Run_Modifier(text, length)) {
    if (Params.flags.far_) Parser.Parser_Mode = Mode_Call_Far_Selector;
    return;
  } else if (Pass.Pass_Number == 1) {
    Encode_Call_Label(Sections.Location_Counter + 5);
  } else {
    Error_Text(Call_Msg.unknown, text, length);
  }
  Parser.Parser_Mode = 0;
}

void Call_Target_Mem(const char* text, uint32_t length) {
  int rc = Branch_Mem_Operand(text, length, {true, true, Call_Msg.unknown});
  if (rc == 1) return;
  Parser.Parser_Mode = 0;
  if (rc == 0) Indirect_Memory(Branch::Call, 2, Op1());
}

void Call_Far_Selector(const char* text, uint32_t length) {
  Far_Selector(text, length, Call_Msg);
  Parser.Parser_Mode = Mode_Call_Far_Target;
}

void Call_Far_Target(const char* text, uint32_t length) {
  Parser.Parser_Mode = 0;
  Far_Target(text, length, 0x9A, Call_Msg);
}

void Call_Far_Mem(const char* text, uint32_t length) {
  Parser.Parser_Mode = 0;
  if (Branch_Mem_Operand(text, length, {false, false, Call_Msg.far_target}) == 0)
    Indirect_Memory(Branch::Call, 3, Op1());
}

// ---- JMP ---------------------------------------------------------------------------

void Encode_Jmp(const char* text, uint32_t length) {
  const Operand_Record& r = Op1();
  switch (r.kind) {
    case Op_Reg:
      if (!Register_Refused_In_Mode(r)) Indirect_Register(Branch::Jmp, 4, r.low(), r.size);
      return;
    case Op_Imm: {
      const int32_t section = r.relocatable ? static_cast<int32_t>(r.target_section) : No_Section;
      Branch_Direct(Branch::Jmp, 0, 0, r.value, section, text, length);
      return;
    }
    case Op_Mem_Reg: case Op_Mem_Direct: case Op_Mem_Complex: case Op_Local: case Op_Arg:
      Indirect_Memory(Branch::Jmp, 4, r);
      return;
    default:
      Error_Text(Jmp_Msg.wrong_register, text, length);
      return;
  }
}

void Jmp_Target(const char* text, uint32_t length) {
  uint32_t address = 0, section = 0;
  if (Local_Label_Value(text, length, &address, &section)) {
    Parser.Parser_Mode = 0;
    Branch_Direct(Branch::Jmp, 0, 0, address, static_cast<int32_t>(section), text, length);
    return;
  }
  int rc = Parse_Operand(text, length, &Op1());
  if (rc == 1) {
    if (Params.flags.far_) Parser.Parser_Mode = Mode_Jmp_Far_Selector;
    return;
  }
  Parser.Parser_Mode = 0;
  if (rc == 0) Encode_Jmp(text, length);
}

void Jmp_Target_Mem(const char* text, uint32_t length) {
  int rc = Parse_Operand_Mem(text, length, &Op1());
  if (rc == 1) return;
  Parser.Parser_Mode = 0;
  if (rc == 0) Encode_Jmp(text, length);
}

void Jmp_Far_Selector(const char* text, uint32_t length) {
  Far_Selector(text, length, Jmp_Msg);
  Parser.Parser_Mode = Mode_Jmp_Far_Target;
}

void Jmp_Far_Target(const char* text, uint32_t length) {
  Parser.Parser_Mode = 0;
  Far_Target(text, length, 0xEA, Jmp_Msg);
}

void Jmp_Far_Mem(const char* text, uint32_t length) {
  Parser.Parser_Mode = 0;
  if (Branch_Mem_Operand(text, length, {false, false, Jmp_Msg.far_target}) == 0)
    Indirect_Memory(Branch::Jmp, 5, Op1());
}

// ---- Jcc ---------------------------------------------------------------------------

void Jcc_Target(const char* text, uint32_t length) {
  Parser.Parser_Mode = 0;
  uint32_t address = 0, section = 0;
  Label_Hit hit;
  if (Local_Label_Value(text, length, &address, &section)) {
    Branch_Direct(Branch::Jcc, State.jcc_short, State.jcc_near, address, static_cast<int32_t>(section), text,
                  length);
  } else if (Label_Find_Any(text, length, 0, &hit) >= 0) {
    Branch_Direct(Branch::Jcc, State.jcc_short, State.jcc_near, hit.address,
                  static_cast<int32_t>(Sections.Reloc_Target_Section), text, length);
  } else if (Pass.Pass_Number == 1) {
    Emit_Fill(6);  // the longest form: a forward jump keeps its place
  } else {
    Error_Text(Jcc_Msg.unknown, text, length);
  }
}

}  // namespace

// ---- Entry points ------------------------------------------------------------------

int64_t Encode_Call_Label(uint64_t target) {
  return Branch_Direct(Branch::Call, 0, 0, target, No_Section, nullptr, 0);
}

int64_t Encode_Jmp_Label(uint64_t target) {
  return Branch_Direct(Branch::Jmp, 0, 0, target, No_Section, nullptr, 0);
}

int64_t Encode_Jcc(uint64_t target, uint32_t short_opcode, uint32_t near_opcode) {
  return Branch_Direct(Branch::Jcc, short_opcode, near_opcode, target, No_Section, nullptr, 0);
}

void Call_Extern(const Import_Func_Ref& import, const char* name, uint32_t length) {
  if (Mode() == Code_16) {
    // No 16-bit pc-relative relocation exists, and E8 rel32 is no 16-bit call.
    Error_Text(Msg_Import_16, name, length);
    return;
  }
  Emit_Byte(0xE8);
  const uint32_t field = Sections.Location_Counter;
  if (import.external) {
    Reloc_Add_Extern(field - static_cast<uint32_t>(Sections.Image_Base), import.index, Reloc_Extern_Rel);
    uint32_t stored = 0;
    switch (Options.Output_Format) {
      case Format_ELF32: case Format_ELF64: stored = static_cast<uint32_t>(-4); break;
      case Format_MachO32: stored = static_cast<uint32_t>(-4) - field; break;
      default: break;
    }
    Emit_U32(stored);
  } else if (Other_Section(static_cast<int32_t>(import.thunk_section))) {
    Emit_Section_Rel32(import.thunk_address, import.thunk_section);
  } else {
    Emit_U32(import.thunk_address - (field + 4));
  }
  Import_Func_Count_Use(import.index);
}

int64_t Emit_Jo(uint64_t target) { return Encode_Jcc(target, 0x70, 0x80); }
int64_t Emit_Jno(uint64_t target) { return Encode_Jcc(target, 0x71, 0x81); }
int64_t Emit_Jb(uint64_t target) { return Encode_Jcc(target, 0x72, 0x82); }
int64_t Emit_Jae(uint64_t target) { return Encode_Jcc(target, 0x73, 0x83); }
int64_t Emit_Je(uint64_t target) { return Encode_Jcc(target, 0x74, 0x84); }
int64_t Emit_Jne(uint64_t target) { return Encode_Jcc(target, 0x75, 0x85); }
int64_t Emit_Jbe(uint64_t target) { return Encode_Jcc(target, 0x76, 0x86); }
int64_t Emit_Ja(uint64_t target) { return Encode_Jcc(target, 0x77, 0x87); }
int64_t Emit_Js(uint64_t target) { return Encode_Jcc(target, 0x78, 0x88); }
int64_t Emit_Jns(uint64_t target) { return Encode_Jcc(target, 0x79, 0x89); }
int64_t Emit_Jp(uint64_t target) { return Encode_Jcc(target, 0x7A, 0x8A); }
int64_t Emit_Jnp(uint64_t target) { return Encode_Jcc(target, 0x7B, 0x8B); }
int64_t Emit_Jl(uint64_t target) { return Encode_Jcc(target, 0x7C, 0x8C); }
int64_t Emit_Jge(uint64_t target) { return Encode_Jcc(target, 0x7D, 0x8D); }
int64_t Emit_Jle(uint64_t target) { return Encode_Jcc(target, 0x7E, 0x8E); }
int64_t Emit_Jg(uint64_t target) { return Encode_Jcc(target, 0x7F, 0x8F); }

void Inst_Call(const Keyword_Entry*) {
  Params_Reset();
  Parser.Parser_Mode = Mode_Call_Target;
}

void Inst_Jmp(const Keyword_Entry*) {
  Params_Reset();
  Parser.Parser_Mode = Mode_Jmp_Target;
}

void Inst_Jcc(const Keyword_Entry* keyword) {
  Params_Reset();
  State.jcc_short = keyword->payload[0];
  State.jcc_near = keyword->payload[1];
  Parser.Parser_Mode = Mode_Jcc_Target;
}

namespace {
const Mode_Handler Words[] = {
    {Mode_Call_Target, Call_Target},
    {Mode_Call_Far_Selector, Call_Far_Selector},
    {Mode_Call_Far_Target, Call_Far_Target},
    {Mode_Jmp_Target, Jmp_Target},
    {Mode_Jmp_Far_Selector, Jmp_Far_Selector},
    {Mode_Jmp_Far_Target, Jmp_Far_Target},
    {Mode_Jcc_Target, Jcc_Target},
};
const Mode_Handler Brackets[] = {
    {Mode_Call_Target, Call_Target_Mem},
    {Mode_Call_Far_Selector, Call_Far_Mem},
    {Mode_Jmp_Target, Jmp_Target_Mem},
    {Mode_Jmp_Far_Selector, Jmp_Far_Mem},
};
}  // namespace

extern const Mode_Table Branch_Mode_Table = {"call, jmp and jcc", Words, 7, Brackets, 4, nullptr, 0};
