// ALU instructions: operand handlers, the kind dispatcher and one worker per
// operand form. Each worker checks sizes, fills an instruction head and hands
// the bytes to the encoding layer (modrm.h); the code mode only changes which
// prefixes the layer writes.
#include "encode/alu.h"

#include "core/assemble.h"
#include "core/diag.h"
#include "core/expr.h"
#include "core/operands.h"
#include "encode/modrm.h"
#include "output/sections.h"

namespace {

// The family's messages, one per situation.
struct Alu_Message_Table {
  const char* mismatch;              // register and memory sizes differ
  const char* param1_size;           // operand 1 has no usable size
  const char* param2_size;           // operand 2 has no usable size
  const char* register_size;         // reg,imm: unknown register size
  const char* complex_register_size; // reg,[complex]: unknown register size
  const char* complex_mismatch;      // register size against the bracketed label's
  const char* memory_size;           // a memory operand without any size
  const char* reloc_sizes;           // an address in an 8- or 16-bit immediate
  const char* frame_size;            // local/arg,imm without a usable size
  const char* value;                 // an immediate that the operand size can not hold
  const char* no_form;               // no form for the pair of operand kinds
  const char* complex_value;         // Encode_Complex_Imm: the immediate does not fit
};

constexpr Alu_Message_Table Msg = {
    "parameters have mismatched size.",
    "Unknown parameter 1 size",
    "Unknown parameter 2 size",
    "Unknown register size ",
    "Unknown register size",
    "Register size does not match []",
    "Mod_RM, [] has unknown size ",
    "Mod_RM, [] relocation conflicting sizes ",
    "Unknown or wrong param_1 size ",
    "ALU, value too big, can not be encoded.",
    "Can not encode parameter",
    "MOV, value too big, can not be encoded.",
};


// The width a memory operand takes when nothing gives it one.
uint32_t Default_Size() { return Mode() == Code_16 ? 16 : 32; }


uint32_t Byte_Form(uint32_t opcode, uint32_t size) { return size == 8 ? opcode & 0xFEu : opcode; }

// Immediates that the operand can not hold are refused once sizes are known.
void Check_Imm(const Operand_Record& imm, uint32_t size) {
  if (!Imm_Fits(imm.value, size)) Error_Final(Msg.value);
}

// opcode /r with a register in ModRM.reg and a memory operand.
void Rm_Form(uint32_t opcode, uint32_t size, const Operand_Record& reg, const Mem_Operand& m, bool p66_first = false) {
  Inst_Head h;
  Head_Opcode(h, Byte_Form(opcode, size));
  Head_Size(h, size);
  Head_Reg(h, reg.low(), reg.size, Rex_R);
  h.p66_first = p66_first ? 1 : 0;
  Emit_Mem_Form(h, m, reg.low(), 0);
}

// opcode /digit with a memory operand and an immediate of `imm_bytes`.
void Imm_Form(uint32_t opcode, uint32_t size, uint32_t digit, const Operand_Record& mem, const Operand_Record& imm,
              uint32_t imm_bytes, bool p66_first = false) {
  Inst_Head h;
  Head_Opcode(h, opcode);
  Head_Size(h, size);
  h.p66_first = p66_first ? 1 : 0;
  Emit_Mem_Form(h, Mem_Operand_Of(mem), digit, imm_bytes);
  Emit_Imm(imm, imm_bytes, size == 32);
}

// Group opcode and immediate length for an operand of `size`: 80 ib for
// bytes, 83 ib for a short immediate, else 81 with the full immediate.
void Group_Form(uint32_t group, uint32_t size, const Operand_Record& imm, uint32_t* opcode, uint32_t* bytes) {
  if (size == 8) {
    *opcode = group & 0xFEu;
    *bytes = 1;
  } else if (Imm_Short(imm)) {
    *opcode = group | 2u;
    *bytes = 1;
  } else {
    *opcode = group;
    *bytes = Imm_Bytes(size);
  }
}

// The operand size of a memory destination: the keyword, else the given size
// when it is usable, else the default after the form's message (pass 2 on).
uint32_t Memory_Size(uint32_t given, const char* message) {
  uint32_t s = Keyword_Operand_Size();
  if (s) return s;
  if (Size_Usable(given)) return given;
  Error_Final(message);
  return Default_Size();
}

// An address in an 8- or 16-bit immediate has no relocation: reported here,
// and the immediate is written without one.
Operand_Record Imm_For_Size(const Operand_Record& imm, uint32_t size) {
  Operand_Record r = imm;
  if (r.relocatable && size < 32) {
    Error_Msg(Msg.reloc_sizes);
    r.relocatable = 0;
  }
  return r;
}

void Encode_Alu_Reg_Imm(const Alu_Opcodes& o) {
  const Operand_Record& reg = Op1();
  const Operand_Record& imm = Op2();
  const uint32_t s = Register_Operand_Size(reg);
  const uint32_t n = reg.low();
  if (!Size_Usable(s)) {
    Error_Msg(Mode() == Code_64 || n == 0 ? Msg.param1_size : Msg.register_size);
    return;
  }
  // A keyword names the operand size, on the immediate too: `add eax,byte 5` contradicts eax.
  if (Keyword_Contradicts(s)) return;
  Check_Imm(imm, s);
  const bool short_imm = Imm_Short(imm);
  Inst_Head h;
  Head_Size(h, s);
  // al/ax/eax have their own opcodes outside 64-bit code; eax with a short
  // immediate in 32-bit code is shorter as 83 /digit ib.
  if (o.acc >= 0 && Mode() != Code_64 && n == 0 && !(Mode() == Code_32 && s == 32 && short_imm)) {
    Head_Opcode(h, Byte_Form(static_cast<uint32_t>(o.acc), s));
    Head_Emit(h);
    Emit_Imm(imm, Imm_Bytes(s), s == 32);
    return;
  }
  uint32_t opcode, bytes;
  Group_Form(static_cast<uint32_t>(o.group), s, imm, &opcode, &bytes);
  Head_Opcode(h, opcode);
  Head_Reg(h, n, reg.size, Rex_B);
  Head_Emit(h);
  Emit_Byte(static_cast<uint8_t>(0xC0u | (o.digit & 7) << 3 | (n & 7)));
  Emit_Imm(imm, bytes, s == 32);
}

void Encode_Alu_Direct_Reg(uint32_t opcode) {
  const Operand_Record& mem = Op1();
  const Operand_Record& reg = Op2();
  const uint32_t s = Register_Operand_Size(reg);
  if (!Size_Usable(s)) Error_Msg(Msg.param2_size);
  if (mem.size != s && !Keyword_Names_Size(s)) Error_Final(Msg.mismatch);
  Mem_Operand m = Mem_Operand_Of(mem);
  bool p66_first = false;
  if (Mode() == Code_16 && s == 32) {  // a 32-bit register takes the 32-bit address form
    m.p67 = 1;
    m.width = 32;
    p66_first = true;
  }
  Rm_Form(opcode, s, reg, m, p66_first);
}

void Encode_Alu_Direct_Imm(uint32_t group, uint32_t digit) {
  const Operand_Record& mem = Op1();
  const uint32_t s = Memory_Size(mem.size, Msg.memory_size);
  const Operand_Record& imm = Op2();
  Check_Imm(imm, s);
  uint32_t opcode, bytes;
  Group_Form(group, s, imm, &opcode, &bytes);
  Imm_Form(opcode, s, digit, mem, imm, bytes);
}

void Encode_Alu_Complex_Imm(uint32_t group, uint32_t digit) {
  const uint32_t s = Memory_Size(Params.mem.implied_size, Msg.memory_size);
  const Operand_Record imm = Imm_For_Size(Op2(), s);
  Check_Imm(imm, s);
  uint32_t opcode, bytes;
  Group_Form(group, s, imm, &opcode, &bytes);
  Imm_Form(opcode, s, digit, Op1(), imm, bytes);
}

void Encode_Alu_Frame_Imm(uint32_t group, uint32_t digit) {
  const Operand_Record& var = Op1();
  uint32_t s = Keyword_Operand_Size();
  if (!s && Size_Usable(var.size)) s = var.size;
  if (!s) {
    Error_Msg(Mode() == Code_64 ? Msg.param1_size : Msg.frame_size);
    s = Default_Size();
  }
  const Operand_Record& imm = Op2();
  Check_Imm(imm, s);
  uint32_t opcode, bytes;
  Group_Form(group, s, imm, &opcode, &bytes);
  Imm_Form(opcode, s, digit, var, imm, bytes);
}

// Register size against the size a bracketed label implies.
void Check_Complex_Size(uint32_t size) {
  const uint32_t implied = Params.mem.implied_size;
  if (implied && implied != size && Pass.Pass_Number >= 2 && !Keyword_Names_Size(size)) Error_Msg(Msg.complex_mismatch);
}

}  // namespace

// ---- Workers shared with other families -----------------------------------------------

void Encode_Reg_Reg(uint32_t opcode) {
  const Operand_Record& a = Op1();
  const Operand_Record& b = Op2();
  const uint32_t s = Register_Operand_Size(a);
  if (a.size != b.size) Error_Msg(Msg.mismatch);
  else if (Keyword_Contradicts(s)) return;
  Inst_Head h;
  Head_Opcode(h, Byte_Form(opcode, s));
  if (!Head_Size(h, s)) Error_Msg(Msg.param1_size);
  Head_Reg(h, a.low(), a.size, Rex_R);
  Head_Reg(h, b.low(), b.size, Rex_B);
  Head_Emit(h);
  Emit_Byte(static_cast<uint8_t>(0xC0u | (a.low() & 7) << 3 | (b.low() & 7)));
}

void Encode_Reg_Mem(uint32_t opcode) {
  const Operand_Record& reg = Op1();
  const uint32_t s = Register_Operand_Size(reg);
  if (!Size_Usable(s)) Error_Msg(Msg.param1_size);
  Rm_Form(opcode, s, reg, Mem_Operand_Of(Op2()));
}

void Encode_Reg_Direct(uint32_t opcode) {
  const Operand_Record& reg = Op1();
  const Operand_Record& mem = Op2();
  const uint32_t s = Register_Operand_Size(reg);
  if (!Size_Usable(s)) Error_Msg(Msg.param1_size);
  if (mem.size != s && !Keyword_Names_Size(s)) Error_Final(Msg.mismatch);
  Rm_Form(opcode, s, reg, Mem_Operand_Of(mem));
}

void Encode_Reg_Complex(uint32_t opcode) {
  const Operand_Record& reg = Op1();
  const uint32_t s = Register_Operand_Size(reg);
  if (!Size_Usable(s)) Error_Msg(Msg.complex_register_size);
  Check_Complex_Size(s);
  Rm_Form(opcode, s, reg, Mem_Operand_Of(Op2()));
}

void Encode_Reg_Frame(uint32_t opcode, uint32_t) {
  const Operand_Record& reg = Op1();
  const Operand_Record& var = Op2();
  const uint32_t s = Register_Operand_Size(reg);
  if (!Size_Usable(s)) Error_Msg(Msg.param1_size);
  if (var.size != s && !Keyword_Names_Size(s)) Error_Final(Msg.mismatch);
  Rm_Form(opcode, s, reg, Mem_Operand_Of(var));
}

void Encode_Mem_Reg(uint32_t opcode) {
  const Operand_Record& reg = Op2();
  const uint32_t s = Register_Operand_Size(reg);
  if (!Size_Usable(s)) Error_Msg(Msg.param2_size);
  Rm_Form(opcode, s, reg, Mem_Operand_Of(Op1()));
}

void Encode_Mem_Imm(uint32_t group, uint32_t digit) {
  uint32_t s = Keyword_Operand_Size();
  if (!s) {
    s = Default_Size();
    Error_Final(Msg.param2_size);
  }
  const Operand_Record& imm = Op2();
  Check_Imm(imm, s);
  // 66h comes before 67h in this form outside 32-bit code.
  Imm_Form(Byte_Form(group, s), s, digit, Op1(), imm, Imm_Bytes(s), Mode() != Code_32);
}

void Encode_Complex_Reg(uint32_t opcode) {
  const Operand_Record& reg = Op2();
  const uint32_t s = Register_Operand_Size(reg);
  if (!Size_Usable(s)) Error_Msg(Msg.memory_size);
  Check_Complex_Size(s);
  Rm_Form(opcode, s, reg, Mem_Operand_Of(Op1()));
}

void Encode_Frame_Reg(uint32_t opcode, uint32_t) {
  const Operand_Record& var = Op1();
  const Operand_Record& reg = Op2();
  const uint32_t s = Register_Operand_Size(reg);
  if (!Size_Usable(s)) Error_Msg(Msg.param2_size);
  if (var.size != s && !Keyword_Names_Size(s)) Error_Final(Msg.mismatch);
  Rm_Form(opcode, s, reg, Mem_Operand_Of(var));
}

void Encode_Complex_Imm(uint32_t opcode, uint32_t digit, uint64_t value) {
  const uint32_t s = Memory_Size(Params.mem.implied_size, Msg.memory_size);
  Operand_Record imm = Imm_For_Size(Op2(), s);
  imm.value = value;
  if (!Imm_Fits(value, s)) Error_Msg(Msg.complex_value);
  Imm_Form(Byte_Form(opcode, s), s, digit, Op1(), imm, Imm_Bytes(s));
}

// ---- The kind dispatcher -----------------------------------------------------------------

int Encode_Alu(const Alu_Opcodes& o) {
  if (!Code_Mode_Known()) return 0;
  Operand_Record& a = Op1();
  const Operand_Record& b = Op2();
  const bool local = a.kind == Op_Local || b.kind == Op_Local;
  auto reg_form = [](int32_t opcode, void (*worker)(uint32_t)) {
    if (opcode < 0) return -1;
    worker(static_cast<uint32_t>(opcode));
    return 0;
  };
  auto frame_form = [local](int32_t opcode, void (*worker)(uint32_t, uint32_t)) {
    if (opcode < 0) return -1;
    worker(static_cast<uint32_t>(opcode), local ? 1u : 0u);
    return 0;
  };
  const bool group = o.group >= 0;
  const uint32_t g = static_cast<uint32_t>(o.group);
  switch (a.kind) {
    case Op_Reg:
      switch (b.kind) {
        case Op_Reg: return reg_form(o.reg_rm, Encode_Reg_Reg);
        case Op_Imm:
          if (!group) return -1;
          Encode_Alu_Reg_Imm(o);
          return 0;
        case Op_Mem_Reg: return reg_form(o.reg_rm, Encode_Reg_Mem);
        case Op_Mem_Direct: return reg_form(o.reg_rm, Encode_Reg_Direct);
        case Op_Mem_Complex: return reg_form(o.reg_rm, Encode_Reg_Complex);
        case Op_Local:
        case Op_Arg: return frame_form(o.reg_rm, Encode_Reg_Frame);
        default: return -1;
      }
    case Op_Mem_Reg:
      if (b.kind == Op_Reg) return reg_form(o.rm_reg, Encode_Mem_Reg);
      if (b.kind != Op_Imm || !group) return -1;
      Encode_Mem_Imm(g, o.digit);
      return 0;
    case Op_Mem_Direct:
      if (b.kind == Op_Reg) return reg_form(o.rm_reg, Encode_Alu_Direct_Reg);
      if (b.kind != Op_Imm || !group) return -1;
      Encode_Alu_Direct_Imm(g, o.digit);
      return 0;
    case Op_Mem_Complex:
      if (b.kind == Op_Reg) {
        if (o.rm_reg < 0) return -1;
        a.relocatable |= Expr.Expr_Relocatable;
        Encode_Complex_Reg(static_cast<uint32_t>(o.rm_reg));
        return 0;
      }
      if (b.kind != Op_Imm || !group) return -1;
      Encode_Alu_Complex_Imm(g, o.digit);
      return 0;
    case Op_Local:
    case Op_Arg:
      if (b.kind == Op_Reg) return frame_form(o.rm_reg, Encode_Frame_Reg);
      if (b.kind != Op_Imm || !group) return -1;
      Encode_Alu_Frame_Imm(g, o.digit);
      return 0;
    default: return -1;
  }
}

int Encode_Alu_Reg_Rm(uint32_t opcode) {
  // Only a register loaded from memory has a meaning here (lea).
  const uint32_t k = Op2().kind;
  if (Op1().kind != Op_Reg || !Is_Memory_Kind(k)) return -1;
  return Encode_Alu({-1, static_cast<int32_t>(opcode), -1, 0, -1});
}

int Emit_Cmp() { return Encode_Alu({0x39, 0x3B, 0x81, 7, 0x3D}); }

// ---- Keyword and operand handlers ------------------------------------------------------------

namespace {

struct Alu_Mnemonic {
  uint32_t mode1, mode2;
  Alu_Opcodes opcodes;
};

constexpr Alu_Mnemonic Alu_Mnemonics[] = {
    {Mode_Add_Param1, Mode_Add_Param2, {0x01, 0x03, 0x81, 0, 0x05}},
    {Mode_Or_Param1, Mode_Or_Param2, {0x09, 0x0B, 0x81, 1, 0x0D}},
    {Mode_Adc_Param1, Mode_Adc_Param2, {0x11, 0x13, 0x81, 2, 0x15}},
    {Mode_Sbb_Param1, Mode_Sbb_Param2, {0x19, 0x1B, 0x81, 3, 0x1D}},
    {Mode_And_Param1, Mode_And_Param2, {0x21, 0x23, 0x81, 4, 0x25}},
    {Mode_Sub_Param1, Mode_Sub_Param2, {0x29, 0x2B, 0x81, 5, 0x2D}},
    {Mode_Xor_Param1, Mode_Xor_Param2, {0x31, 0x33, 0x81, 6, 0x35}},
    {Mode_Cmp_Param1, Mode_Cmp_Param2, {0x39, 0x3B, 0x81, 7, 0x3D}},
};

const Alu_Mnemonic* Current_Mnemonic() {
  const uint32_t mode = Parser.Parser_Mode;
  for (const Alu_Mnemonic& m : Alu_Mnemonics)
    if (m.mode1 == mode || m.mode2 == mode) return &m;
  return nullptr;
}

void Start(uint32_t mode) {
  Params_Reset();
  Parser.Parser_Mode = mode;
}

// A parser result of 1 (a modifier keyword, or a macro call that owns the
// mode now) keeps waiting for the operand.
void First_Operand(int result) {
  const Alu_Mnemonic* m = Current_Mnemonic();
  if (result != 1 && m) Parser.Parser_Mode = m->mode2;
}

void Finish() {
  const Alu_Mnemonic* m = Current_Mnemonic();
  if (m && Encode_Alu(m->opcodes) == -1) Error_Msg(Msg.no_form);
  Parser.Parser_Mode = 0;
}

void Alu_Param1(const char* text, uint32_t length) { First_Operand(Parse_Operand(text, length, &Op1())); }
void Alu_Param1_Mem(const char* text, uint32_t length) { First_Operand(Parse_Operand_Mem(text, length, &Op1())); }

void Alu_Param2(const char* text, uint32_t length) {
  if (Parse_Operand(text, length, &Op2()) == 1) return;
  Finish();
}

void Alu_Param2_Mem(const char* text, uint32_t length) {
  if (Parse_Operand_Mem(text, length, &Op2()) == 1) return;
  Finish();
}

void Alu_Quoted_Operand(const char* text, uint32_t length) {
  if (Mini_String(text, length, &Op2()) != 0) {
    Parser.Parser_Mode = 0;
    return;
  }
  Finish();
}

constexpr Mode_Handler Words[] = {
    {Mode_Add_Param1, Alu_Param1}, {Mode_Add_Param2, Alu_Param2}, {Mode_Or_Param1, Alu_Param1},
    {Mode_Or_Param2, Alu_Param2},  {Mode_Adc_Param1, Alu_Param1}, {Mode_Adc_Param2, Alu_Param2},
    {Mode_Sbb_Param1, Alu_Param1}, {Mode_Sbb_Param2, Alu_Param2}, {Mode_And_Param1, Alu_Param1},
    {Mode_And_Param2, Alu_Param2}, {Mode_Sub_Param1, Alu_Param1}, {Mode_Sub_Param2, Alu_Param2},
    {Mode_Xor_Param1, Alu_Param1}, {Mode_Xor_Param2, Alu_Param2}, {Mode_Cmp_Param1, Alu_Param1},
    {Mode_Cmp_Param2, Alu_Param2},
};

constexpr Mode_Handler Brackets[] = {
    {Mode_Add_Param1, Alu_Param1_Mem}, {Mode_Add_Param2, Alu_Param2_Mem}, {Mode_Or_Param1, Alu_Param1_Mem},
    {Mode_Or_Param2, Alu_Param2_Mem},  {Mode_Adc_Param1, Alu_Param1_Mem}, {Mode_Adc_Param2, Alu_Param2_Mem},
    {Mode_Sbb_Param1, Alu_Param1_Mem}, {Mode_Sbb_Param2, Alu_Param2_Mem}, {Mode_And_Param1, Alu_Param1_Mem},
    {Mode_And_Param2, Alu_Param2_Mem}, {Mode_Sub_Param1, Alu_Param1_Mem}, {Mode_Sub_Param2, Alu_Param2_Mem},
    {Mode_Xor_Param1, Alu_Param1_Mem}, {Mode_Xor_Param2, Alu_Param2_Mem}, {Mode_Cmp_Param1, Alu_Param1_Mem},
    {Mode_Cmp_Param2, Alu_Param2_Mem},
};

// adc and sbb take no quoted operand.
constexpr Mode_Handler Strings[] = {
    {Mode_Add_Param2, Alu_Quoted_Operand}, {Mode_Or_Param2, Alu_Quoted_Operand},
    {Mode_And_Param2, Alu_Quoted_Operand}, {Mode_Sub_Param2, Alu_Quoted_Operand},
    {Mode_Xor_Param2, Alu_Quoted_Operand}, {Mode_Cmp_Param2, Alu_Quoted_Operand},
};

}  // namespace

void Inst_Add(const Keyword_Entry*) { Start(Mode_Add_Param1); }
void Inst_Or(const Keyword_Entry*) { Start(Mode_Or_Param1); }
void Inst_Adc(const Keyword_Entry*) { Start(Mode_Adc_Param1); }
void Inst_Sbb(const Keyword_Entry*) { Start(Mode_Sbb_Param1); }
void Inst_And(const Keyword_Entry*) { Start(Mode_And_Param1); }
void Inst_Sub(const Keyword_Entry*) { Start(Mode_Sub_Param1); }
void Inst_Xor(const Keyword_Entry*) { Start(Mode_Xor_Param1); }
void Inst_Cmp(const Keyword_Entry*) { Start(Mode_Cmp_Param1); }

extern const Mode_Table Alu_Mode_Table = {
    "alu",   Words,   sizeof(Words) / sizeof(Words[0]), Brackets, sizeof(Brackets) / sizeof(Brackets[0]),
    Strings, sizeof(Strings) / sizeof(Strings[0]),
};
