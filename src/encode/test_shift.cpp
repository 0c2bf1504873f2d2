// TEST, the eight shifts and rotates, and SHLD/SHRD. TEST reuses the ALU
// workers where the forms agree; every other form is one /digit or /r
// instruction built on the encoding layer.
#include <utility>

#include "core/diag.h"
#include "core/expr.h"
#include "encode/alu.h"
#include "encode/group_ops.h"
#include "output/relocs.h"
#include "output/sections.h"

namespace {

constexpr const char* Msg_No_Form = "Can not encode parameter";
constexpr const char* Msg_Mismatch = "parameters have mismatched size.";
constexpr const char* Msg_Value = "ALU, value too big, can not be encoded.";
constexpr const char* Msg_Expecting_Cl = "SHIFT, expecting CL register";
constexpr const char* Msg_Count = "SHIFT, value too big, can not be encoded.";

void Start(uint32_t mode) {
  Params_Reset();
  Parser.Parser_Mode = mode;
}

bool Is_Cl(const Operand_Record& r) { return r.kind == Op_Reg && r.size == 8 && r.low() == 1; }

// ---- TEST -------------------------------------------------------------------------------

struct Test_Messages {
  const char* param1_size;     // reg,imm and local,imm in 64-bit code
  const char* direct_reg;      // [direct],reg: the register has no usable size
  const char* direct_imm;      // [direct],imm: neither keyword nor label gives a size
  const char* complex_size;    // [complex],imm: no size
  const char* frame_size;      // local,imm in 16- and 32-bit code
};

constexpr Test_Messages Test_Msg = {
    "Unknown parameter 1 size",
    "unknown parameter_2 size",
    "unknown parameter_1 size",
    "Mod_RM, [] has unknown size ",
    "Unknown or wrong param_1 size ",
};

// The immediate of an operand of `size` bits: an address has no place in
// an 8- or 16-bit field, and the value must fit (once sizes are known).
Operand_Record Test_Imm(uint32_t size) {
  Operand_Record imm = Op2();
  if (imm.relocatable && size < 32) {
    Error_Msg(Msg_Reloc_Sizes);
    imm.relocatable = 0;
  }
  if (!Imm_Fits(imm.value, size)) Error_Final(Msg_Value);
  return imm;
}

// F7 /0 (F6 /0) with an immediate of the full operand size.
void Test_Mem_Imm(uint32_t size, const Operand_Record& mem) {
  const Operand_Record imm = Test_Imm(size);
  const uint32_t bytes = Imm_Bytes(size);
  Emit_Digit_Mem(0xF7, 0, size, Mem_Operand_Of(mem), bytes);
  Emit_Imm(imm, bytes, size == 32);
}

void Test_Reg_Imm() {
  const Operand_Record& reg = Op1();
  const uint32_t s = Register_Operand_Size(reg);
  if (!Size_Usable(s)) {
    Error_Msg(Test_Msg.param1_size);
    return;
  }
  if (Keyword_Contradicts(s)) return;
  const Operand_Record imm = Test_Imm(s);
  if (reg.low() == 0) {  // al, ax, eax, rax: A8h / A9h
    Inst_Head h;
    Head_Opcode(h, s == 8 ? 0xA8 : 0xA9);
    Head_Size(h, s);
    Head_Emit(h);
  } else {
    Emit_Digit_Reg(0xF7, 0, s, reg, false);
  }
  Emit_Imm(imm, Imm_Bytes(s), s == 32);
}

// [direct],reg: the register gives the size; a 32-bit register in 16-bit
// code takes the 32-bit address form.
void Test_Direct_Reg() {
  const Operand_Record& reg = Op2();
  const uint32_t s = Register_Operand_Size(reg);
  if (!Size_Usable(s)) {
    Error_Msg(Test_Msg.direct_reg);
    return;
  }
  if (Keyword_Contradicts(s)) return;
  Label_Size_Agrees(Op1(), s);
  Mem_Operand m = Mem_Operand_Of(Op1());
  bool p66_first = false;
  if (Mode() == Code_16 && s == 32) {
    m.p67 = 1;
    m.width = 32;
    p66_first = true;
  }
  Inst_Head h;
  Head_Opcode(h, s == 8 ? 0x84 : 0x85);
  Head_Size(h, s);
  Head_Reg(h, reg.low(), reg.size, Rex_R);
  h.p66_first = p66_first ? 1 : 0;
  Emit_Mem_Form(h, m, reg.low(), 0);
}

void Test_Direct_Imm() {
  const Operand_Record& mem = Op1();
  uint32_t s = Keyword_Operand_Size();
  if (!s && Size_Usable(mem.size)) s = mem.size;
  if (!s) {
    Error_Final(Test_Msg.direct_imm);
    s = Default_Operand_Size();
  }
  Test_Mem_Imm(s, mem);
}

void Test_Complex_Imm() {
  uint32_t s = Keyword_Operand_Size();
  if (!s && Size_Usable(Params.mem.implied_size)) s = Params.mem.implied_size;
  if (!s) {
    Error_Final(Test_Msg.complex_size);
    s = Default_Operand_Size();
  }
  Test_Mem_Imm(s, Op1());
}

void Test_Frame_Imm() {
  const Operand_Record& var = Op1();
  uint32_t s = Keyword_Operand_Size();
  if (!s && Size_Usable(var.size)) s = var.size;
  if (!s) {
    Error_Msg(Mode() == Code_64 ? Test_Msg.param1_size : Test_Msg.frame_size);
    s = Default_Operand_Size();
  }
  Test_Mem_Imm(s, var);
}

// The memory operand comes first; a register pair is written with the
// second register in ModRM.reg (test eax,ebx is 85 D8).
bool Encode_Test() {
  if (!Code_Mode_Known()) return true;
  Operand_Record& a = Op1();
  const Operand_Record& b = Op2();
  const bool reg = b.kind == Op_Reg;
  const bool imm = b.kind == Op_Imm;
  if (!reg && !imm) return false;
  if (reg && Is_Memory_Kind(a.kind) && a.kind != Op_Mem_Direct && Keyword_Contradicts(Register_Operand_Size(b)))
    return true;
  switch (a.kind) {
    case Op_Reg:
      if (imm) {
        Test_Reg_Imm();
      } else {
        std::swap(Params.op[0], Params.op[1]);
        Encode_Reg_Reg(0x85);
      }
      return true;
    case Op_Mem_Reg:
      if (reg) Encode_Mem_Reg(0x85);
      else Encode_Mem_Imm(0xF7, 0);
      return true;
    case Op_Mem_Direct:
      if (reg) Test_Direct_Reg();
      else Test_Direct_Imm();
      return true;
    case Op_Mem_Complex:
      a.relocatable |= Expr.Expr_Relocatable;
      if (reg) Encode_Complex_Reg(0x85);
      else Test_Complex_Imm();
      return true;
    case Op_Local:
    case Op_Arg:
      if (reg) Encode_Frame_Reg(0x85, a.kind == Op_Local ? 1 : 0);
      else Test_Frame_Imm();
      return true;
    default: return false;
  }
}

void Test_Param1(const char* text, uint32_t length) {
  if (Parse_Operand(text, length, &Op1()) != 1) Parser.Parser_Mode = Mode_Test_Param2;
}

void Test_Param1_Mem(const char* text, uint32_t length) {
  if (Parse_Operand_Mem(text, length, &Op1()) != 1) Parser.Parser_Mode = Mode_Test_Param2;
}

void Test_Param2(const char* text, uint32_t length) {
  const int result = Parse_Operand(text, length, &Op2());
  if (result == 1) return;
  Parser.Parser_Mode = 0;
  if (result == 0 && Op1().kind != Op_None && !Encode_Test()) Error_Msg(Msg_No_Form);
}

void Test_Param2_Mem(const char* text, uint32_t length) {
  Error_Text("TEST, can not encode this: ", text, length);
  Parser.Parser_Mode = 0;
}

// ---- Shifts and rotates --------------------------------------------------------------------

using Param1_Parser = int (*)(const char* text, uint32_t length);

int Reg_Param1(const char* text, uint32_t length) { return Parse_Reg_Param1(text, length); }
int Mem_Param1(const char* text, uint32_t length) { return Parse_Mem_Param1(text, length); }
int Any_Param1(const char* text, uint32_t length) { return Parse_Operand(text, length, &Op1()); }
int Any_Param1_Mem(const char* text, uint32_t length) { return Parse_Operand_Mem(text, length, &Op1()); }
int Reg_Param2(const char* text, uint32_t length) { return Parse_Param2(text, length); }
int Any_Param2(const char* text, uint32_t length) { return Parse_Operand(text, length, &Op2()); }

struct Shift_Mnemonic {
  uint32_t mode1, mode2;
  uint32_t digit;
  Param1_Parser word1, bracket1, word2;
  bool bracket1_waits;  // a modifier keyword before the [] keeps the first mode
};

constexpr Shift_Mnemonic Shift_Mnemonics[] = {
    {Mode_Rol_Param1, Mode_Rol_Param2, 0, Reg_Param1, Mem_Param1, Reg_Param2, false},
    {Mode_Ror_Param1, Mode_Ror_Param2, 1, Reg_Param1, Any_Param1_Mem, Any_Param2, true},
    {Mode_Rcl_Param1, Mode_Rcl_Param2, 2, Reg_Param1, Mem_Param1, Reg_Param2, false},
    {Mode_Rcr_Param1, Mode_Rcr_Param2, 3, Reg_Param1, Mem_Param1, Reg_Param2, false},
    {Mode_Shl_Param1, Mode_Shl_Param2, 4, Any_Param1, Any_Param1_Mem, Any_Param2, true},
    {Mode_Shr_Param1, Mode_Shr_Param2, 5, Reg_Param1, Mem_Param1, Reg_Param2, false},
    {Mode_Sal_Param1, Mode_Sal_Param2, 6, Any_Param1, Any_Param1_Mem, Any_Param2, true},
    {Mode_Sar_Param1, Mode_Sar_Param2, 7, Any_Param1, Any_Param1_Mem, Any_Param2, true},
};

const Shift_Mnemonic* Current_Shift() {
  const uint32_t mode = Parser.Parser_Mode;
  for (const Shift_Mnemonic& m : Shift_Mnemonics)
    if (m.mode1 == mode || m.mode2 == mode) return &m;
  return nullptr;
}

constexpr const char* Msg_Shift_Size = "SHIFT, unknown target size";
constexpr const char* Msg_Unknown_Size = "Mod_RM, [] has unknown size ";

// The operand size of the destination by its kind; 0 when the instruction
// must not be written.
uint32_t Shift_Target_Size(const Operand_Record& t) {
  const uint32_t k = Keyword_Operand_Size();
  switch (t.kind) {
    case Op_Reg: {
      const uint32_t s = Register_Operand_Size(t);
      if (!Size_Usable(s)) {
        Error_Msg("Unknown register size ");
        return 0;
      }
      return Keyword_Contradicts(s) ? 0 : s;  // `shl eax,byte 1` names a byte shift
    }
    case Op_Mem_Reg:
      if (k) return k;
      if (Mode() == Code_32) return t.size;  // the address register's width
      Error_Msg(Msg_Shift_Size);
      return Default_Operand_Size();
    case Op_Mem_Direct:
      if (k) return k;
      if (Size_Usable(t.size)) return t.size;
      Error_Msg(Msg_Shift_Size);
      return Default_Operand_Size();
    case Op_Mem_Complex:
      if (k) return k;
      if (Size_Usable(Params.mem.implied_size)) return Params.mem.implied_size;
      Error_Final(Msg_Unknown_Size);
      return Default_Operand_Size();
    case Op_Local:
    case Op_Arg: return Frame_Operand_Size(t);
    default: return 0;
  }
}

// D1h by 1, D3h by CL, C1h with a count byte (any other constant that a
// byte holds; the processor masks the count anyway).
bool Encode_Shift(uint32_t digit) {
  if (!Code_Mode_Known()) return true;
  Operand_Record& t = Op1();
  const Operand_Record& count = Op2();
  if (t.kind != Op_Reg && !Is_Memory_Kind(t.kind)) return false;
  if (count.kind != Op_Reg && count.kind != Op_Imm) return false;
  if (t.kind == Op_Mem_Complex) t.relocatable |= Expr.Expr_Relocatable;
  const uint32_t s = Shift_Target_Size(t);
  if (!s) return true;
  uint32_t opcode = 0xD1, count_bytes = 0;
  if (count.kind == Op_Reg) {
    if (!Is_Cl(count)) Error_Msg(Msg_Expecting_Cl);
    opcode = 0xD3;
  } else if (count.value != 1) {
    opcode = 0xC1;
    count_bytes = 1;
  }
  if (t.kind == Op_Reg) Emit_Digit_Reg(opcode, digit, s, t, false);
  else Emit_Digit_Mem(opcode, digit, s, Mem_Operand_Of(t), count_bytes);
  if (count_bytes) Emit_Imm8(count, Msg_Count);
  return true;
}

void Shift_Param1(const char* text, uint32_t length) {
  const Shift_Mnemonic* m = Current_Shift();
  if (m && m->word1(text, length) != 1) Parser.Parser_Mode = m->mode2;
}

void Shift_Param1_Mem(const char* text, uint32_t length) {
  const Shift_Mnemonic* m = Current_Shift();
  if (!m) return;
  if (m->bracket1(text, length) == 1 && m->bracket1_waits) return;
  Parser.Parser_Mode = m->mode2;
}

void Shift_Param2(const char* text, uint32_t length) {
  const Shift_Mnemonic* m = Current_Shift();
  if (!m) return;
  const int result = m->word2(text, length);
  if (result == 1) return;
  Parser.Parser_Mode = 0;
  if (result == 0 && Op1().kind != Op_None && !Encode_Shift(m->digit)) Error_Msg(Msg_No_Form);
}

void Shift_Param2_Mem(const char* text, uint32_t length) {
  Error_Text("Can not use here: ", text, length);
  Parser.Parser_Mode = 0;
}

// ---- SHLD and SHRD -------------------------------------------------------------------------

struct Double_Shift {
  uint32_t mode1, mode2, mode3;
  uint32_t by_imm, by_cl;  // second opcode bytes
};

constexpr Double_Shift Double_Shifts[] = {
    {Mode_Shld_Param1, Mode_Shld_Param2, Mode_Shld_Param3, 0xA4, 0xA5},
    {Mode_Shrd_Param1, Mode_Shrd_Param2, Mode_Shrd_Param3, 0xAC, 0xAD},
};

const Double_Shift* Current_Double_Shift() {
  const uint32_t mode = Parser.Parser_Mode;
  for (const Double_Shift& d : Double_Shifts)
    if (d.mode1 == mode || d.mode2 == mode || d.mode3 == mode) return &d;
  return nullptr;
}

void Encode_Shld_Shrd(const Double_Shift& d) {
  if (!Code_Mode_Known()) return;
  Operand_Record& t = Op1();
  const Operand_Record& source = Op2();
  const Operand_Record& count = Params.op[2];
  if (t.kind != Op_Reg && !Is_Memory_Kind(t.kind)) {
    Error_Msg("Unknown parameter type");
    return;
  }
  if (source.kind != Op_Reg) {
    Error_Msg("Expecting register as param 2");
    return;
  }
  if (count.kind != Op_Reg && count.kind != Op_Imm) {
    Error_Msg(Msg_No_Form);
    return;
  }
  const uint32_t s = Register_Operand_Size(source);
  if (s == 8 || !Size_Usable(s)) {
    Error_Msg("Unknown register size ");
    return;
  }
  if (t.kind == Op_Reg ? Register_Operand_Size(t) != s : Keyword_Operand_Size() && Keyword_Operand_Size() != s) {
    Error_Msg(Msg_Mismatch);
    return;
  }
  if (t.kind == Op_Reg && Keyword_Contradicts(s)) return;
  Label_Size_Agrees(t, s);
  const bool by_cl = count.kind == Op_Reg;
  if (by_cl && !Is_Cl(count)) {
    Error_Msg(Msg_Expecting_Cl);
    return;
  }
  Inst_Head h;
  Head_Opcode2(h, 0x0F, by_cl ? d.by_cl : d.by_imm);
  Head_Size(h, s);
  Head_Reg(h, source.low(), source.size, Rex_R);
  const uint32_t count_bytes = by_cl ? 0 : 1;
  if (t.kind == Op_Reg) {
    Head_Reg(h, t.low(), t.size, Rex_B);
    Head_Emit(h);
    Emit_Byte(static_cast<uint8_t>(0xC0u | (source.low() & 7) << 3 | (t.low() & 7)));
  } else {
    if (t.kind == Op_Mem_Complex) t.relocatable |= Expr.Expr_Relocatable;
    Emit_Mem_Form(h, Mem_Operand_Of(t), source.low(), count_bytes);
  }
  if (count_bytes) Emit_Imm8(count, Msg_Count);
}

void Double_Param1(const char* text, uint32_t length) {
  const Double_Shift* d = Current_Double_Shift();
  if (d && Parse_Operand(text, length, &Op1()) != 1) Parser.Parser_Mode = d->mode2;
}

void Double_Param1_Mem(const char* text, uint32_t length) {
  const Double_Shift* d = Current_Double_Shift();
  if (d && Parse_Operand_Mem(text, length, &Op1()) != 1) Parser.Parser_Mode = d->mode2;
}

void Double_Param2(const char* text, uint32_t length) {
  const Double_Shift* d = Current_Double_Shift();
  if (d && Parse_Operand(text, length, &Op2()) != 1) Parser.Parser_Mode = d->mode3;
}

void Double_Param3(const char* text, uint32_t length) {
  const Double_Shift* d = Current_Double_Shift();
  if (!d) return;
  const int result = Parse_Operand(text, length, &Params.op[2]);
  if (result == 1) return;
  Parser.Parser_Mode = 0;
  if (result == 0 && Op1().kind != Op_None && Op2().kind != Op_None) Encode_Shld_Shrd(*d);
}

constexpr Mode_Handler Words[] = {
    {Mode_Test_Param1, Test_Param1},   {Mode_Test_Param2, Test_Param2},
    {Mode_Rol_Param1, Shift_Param1},   {Mode_Rol_Param2, Shift_Param2},
    {Mode_Ror_Param1, Shift_Param1},   {Mode_Ror_Param2, Shift_Param2},
    {Mode_Rcl_Param1, Shift_Param1},   {Mode_Rcl_Param2, Shift_Param2},
    {Mode_Rcr_Param1, Shift_Param1},   {Mode_Rcr_Param2, Shift_Param2},
    {Mode_Shl_Param1, Shift_Param1},   {Mode_Shl_Param2, Shift_Param2},
    {Mode_Shr_Param1, Shift_Param1},   {Mode_Shr_Param2, Shift_Param2},
    {Mode_Sal_Param1, Shift_Param1},   {Mode_Sal_Param2, Shift_Param2},
    {Mode_Sar_Param1, Shift_Param1},   {Mode_Sar_Param2, Shift_Param2},
    {Mode_Shld_Param1, Double_Param1}, {Mode_Shld_Param2, Double_Param2}, {Mode_Shld_Param3, Double_Param3},
    {Mode_Shrd_Param1, Double_Param1}, {Mode_Shrd_Param2, Double_Param2}, {Mode_Shrd_Param3, Double_Param3},
};

constexpr Mode_Handler Brackets[] = {
    {Mode_Test_Param1, Test_Param1_Mem},   {Mode_Test_Param2, Test_Param2_Mem},
    {Mode_Rol_Param1, Shift_Param1_Mem},   {Mode_Rol_Param2, Shift_Param2_Mem},
    {Mode_Ror_Param1, Shift_Param1_Mem},   {Mode_Ror_Param2, Shift_Param2_Mem},
    {Mode_Rcl_Param1, Shift_Param1_Mem},   {Mode_Rcl_Param2, Shift_Param2_Mem},
    {Mode_Rcr_Param1, Shift_Param1_Mem},   {Mode_Rcr_Param2, Shift_Param2_Mem},
    {Mode_Shl_Param1, Shift_Param1_Mem},   {Mode_Shl_Param2, Shift_Param2_Mem},
    {Mode_Shr_Param1, Shift_Param1_Mem},   {Mode_Shr_Param2, Shift_Param2_Mem},
    {Mode_Sal_Param1, Shift_Param1_Mem},   {Mode_Sal_Param2, Shift_Param2_Mem},
    {Mode_Sar_Param1, Shift_Param1_Mem},   {Mode_Sar_Param2, Shift_Param2_Mem},
    {Mode_Shld_Param1, Double_Param1_Mem}, {Mode_Shrd_Param1, Double_Param1_Mem},
};

}  // namespace

void Inst_Test(const Keyword_Entry*) { Start(Mode_Test_Param1); }
void Inst_Rol(const Keyword_Entry*) { Start(Mode_Rol_Param1); }
void Inst_Ror(const Keyword_Entry*) { Start(Mode_Ror_Param1); }
void Inst_Rcl(const Keyword_Entry*) { Start(Mode_Rcl_Param1); }
void Inst_Rcr(const Keyword_Entry*) { Start(Mode_Rcr_Param1); }
void Inst_Shl(const Keyword_Entry*) { Start(Mode_Shl_Param1); }
void Inst_Shr(const Keyword_Entry*) { Start(Mode_Shr_Param1); }
void Inst_Sal(const Keyword_Entry*) { Start(Mode_Sal_Param1); }
void Inst_Sar(const Keyword_Entry*) { Start(Mode_Sar_Param1); }
void Inst_Shld(const Keyword_Entry*) { Start(Mode_Shld_Param1); }
void Inst_Shrd(const Keyword_Entry*) { Start(Mode_Shrd_Param1); }

extern const Mode_Table Test_Shift_Mode_Table = {
    "test, shifts", Words, sizeof(Words) / sizeof(Words[0]), Brackets, sizeof(Brackets) / sizeof(Brackets[0]),
    nullptr,        0,
};
