// The one-operand instructions: not, neg, mul, imul, div, idiv (F7h /digit,
// F6h for bytes) and inc, dec (40h+r / 48h+r outside 64-bit code, else FFh
// /0 and /1, FEh for bytes). imul has its one-operand form only.
#include "core/diag.h"
#include "core/expr.h"
#include "core/keywords.h"
#include "encode/group_ops.h"
#include "output/sections.h"

namespace {

constexpr const char* Msg_No_Form = "Can not encode parameter";

struct Unary_Mnemonic {
  uint32_t mode;
  uint32_t digit;
};

constexpr Unary_Mnemonic Unary_Mnemonics[] = {
    {Mode_Not_Param, 2}, {Mode_Neg_Param, 3}, {Mode_Mul_Param, 4},
    {Mode_Imul_Param, 5}, {Mode_Div_Param, 6}, {Mode_Idiv_Param, 7},
};

const Unary_Mnemonic* Current_Unary() {
  for (const Unary_Mnemonic& m : Unary_Mnemonics)
    if (m.mode == Parser.Parser_Mode) return &m;
  return nullptr;
}

void Start(uint32_t mode) {
  Params_Reset();
  Parser.Parser_Mode = mode;
}

// ---- NOT, NEG, MUL, IMUL, DIV, IDIV --------------------------------------------------------

constexpr const char* Msg_Target_Size = "unknown target size";

void Encode_Unary_F7(uint32_t digit) {
  if (!Code_Mode_Known()) return;
  Operand_Record& t = Op1();
  const uint32_t k = Keyword_Operand_Size();
  if (t.kind == Op_Reg) {
    const uint32_t s = Register_Operand_Size(t);
    if (!Size_Usable(s)) {
      Error_Msg("unknown register size");
      return;
    }
    if (Keyword_Contradicts(s)) return;
    Emit_Digit_Reg(0xF7, digit, s, t, true);
    return;
  }
  if (!Is_Memory_Kind(t.kind)) {
    Error_Msg(Msg_No_Form);
    return;
  }
  Mem_Operand m = Mem_Operand_Of(t);
  uint32_t s = k;
  switch (t.kind) {
    case Op_Mem_Direct:
      if (Mode() == Code_16) {
        // A 32-bit label (or a label not yet defined) takes the 32-bit address form.
        if (t.size == 32) {
          m.p67 = 1;
          m.width = 32;
        }
      } else if (!s && Size_Usable(t.size)) {
        s = t.size;
      }
      break;
    case Op_Mem_Complex:
      t.relocatable |= Expr.Expr_Relocatable;
      if (!s && Size_Usable(Params.mem.implied_size)) s = Params.mem.implied_size;
      break;
    case Op_Local:
    case Op_Arg:
      s = Frame_Operand_Size(t);
      if (!k && !Size_Usable(t.size) && Mode() == Code_64) s = 64;
      break;
    default: break;
  }
  if (!s) {
    Error_Msg(Msg_Target_Size);
    s = Default_Operand_Size();
  }
  Emit_Digit_Mem(0xF7, digit, s, m, 0, t.kind == Op_Mem_Complex);
}

void Unary_Finish(int result) {
  const Unary_Mnemonic* m = Current_Unary();
  if (!m || result == 1) return;
  Parser.Parser_Mode = 0;
  if (result == 0) Encode_Unary_F7(m->digit);
}

void Unary_Param(const char* text, uint32_t length) { Unary_Finish(Parse_Operand(text, length, &Op1())); }
void Unary_Param_Mem(const char* text, uint32_t length) { Unary_Finish(Parse_Operand_Mem(text, length, &Op1())); }

// ---- INC and DEC ---------------------------------------------------------------------------

struct Inc_Dec {
  uint32_t digit;
  uint8_t short_form;           // 40h+r / 48h+r
  const char* unknown_word;     // a plain word that is no general register
  const char* target_size;      // a memory operand without a usable size
};

constexpr Inc_Dec Inc_Form = {0, 0x40, "Unknown symbol: ", "INC, unknown target size"};
constexpr Inc_Dec Dec_Form = {1, 0x48, "DEC, unknown target: ", "DEC, unknown target size"};

const Inc_Dec& Current_Inc_Dec() { return Parser.Parser_Mode == Mode_Dec_Param ? Dec_Form : Inc_Form; }

void Inc_Dec_Register(const Inc_Dec& f, const Operand_Record& reg) {
  const uint32_t s = reg.size;
  if (Keyword_Contradicts(s)) return;
  if (Mode() != Code_64 && (s == 16 || s == 32)) {
    Inst_Head h;
    Head_Size(h, s);
    Head_Opcode(h, f.short_form + (reg.low() & 7));
    Head_Emit(h);
    return;
  }
  Emit_Digit_Reg(0xFF, f.digit, s, reg, true);
}

void Inc_Dec_Memory(const Inc_Dec& f) {
  if (!Code_Mode_Known()) return;
  Operand_Record& t = Op1();
  uint32_t s = Keyword_Operand_Size();
  switch (t.kind) {
    case Op_Mem_Reg:
      if (!s) Error_Msg(f.target_size);
      break;
    case Op_Mem_Direct:
      if (!s && Size_Usable(t.size)) s = t.size;
      if (!s) {
        if (Mode() == Code_64) Error_Msg(f.target_size);
        else Error_Final(f.target_size);
      }
      break;
    case Op_Mem_Complex:
      t.relocatable |= Expr.Expr_Relocatable;
      if (!s && Size_Usable(Params.mem.implied_size)) s = Params.mem.implied_size;
      if (!s) Error_Msg(f.target_size);
      break;
    case Op_Local:
    case Op_Arg: s = Frame_Operand_Size(t); break;
    default: Error_Msg(Msg_No_Form); return;
  }
  if (!s) s = Default_Operand_Size();
  Emit_Digit_Mem(0xFF, f.digit, s, Mem_Operand_Of(t), 0, t.kind == Op_Mem_Complex);
}

void Inc_Dec_Param(const char* text, uint32_t length) {
  const Inc_Dec& f = Current_Inc_Dec();
  Reg_Size_Hit hit;
  if (Reg_Size(text, length, &hit) == 0) {
    Parser.Parser_Mode = 0;
    if (!Code_Mode_Known()) return;
    if (hit.size == 64 && Mode() != Code_64) {
      Error_Msg("Unknown register size ");
      return;
    }
    if (!Register_Usable(text, length, hit.number, hit.size, Reg_General)) return;
    Operand_Record& r = Op1();
    r.kind = Op_Reg;
    r.value = hit.number;
    r.size = hit.size;
    Inc_Dec_Register(f, r);
    return;
  }
  if (Run_Modifier(text, length)) return;
  Error_Text(f.unknown_word, text, length);
  Parser.Parser_Mode = 0;
}

void Inc_Dec_Param_Mem(const char* text, uint32_t length) {
  const Inc_Dec& f = Current_Inc_Dec();
  const int result = Parse_Operand_Mem(text, length, &Op1());
  if (result == 1) return;
  Parser.Parser_Mode = 0;
  if (result == 0) Inc_Dec_Memory(f);
}

constexpr Mode_Handler Words[] = {
    {Mode_Not_Param, Unary_Param},  {Mode_Neg_Param, Unary_Param}, {Mode_Mul_Param, Unary_Param},
    {Mode_Imul_Param, Unary_Param}, {Mode_Div_Param, Unary_Param}, {Mode_Idiv_Param, Unary_Param},
    {Mode_Inc_Param, Inc_Dec_Param}, {Mode_Dec_Param, Inc_Dec_Param},
};

constexpr Mode_Handler Brackets[] = {
    {Mode_Not_Param, Unary_Param_Mem},  {Mode_Neg_Param, Unary_Param_Mem}, {Mode_Mul_Param, Unary_Param_Mem},
    {Mode_Imul_Param, Unary_Param_Mem}, {Mode_Div_Param, Unary_Param_Mem}, {Mode_Idiv_Param, Unary_Param_Mem},
    {Mode_Inc_Param, Inc_Dec_Param_Mem}, {Mode_Dec_Param, Inc_Dec_Param_Mem},
};

}  // namespace

void Inst_Not(const Keyword_Entry*) { Start(Mode_Not_Param); }
void Inst_Neg(const Keyword_Entry*) { Start(Mode_Neg_Param); }
void Inst_Mul(const Keyword_Entry*) { Start(Mode_Mul_Param); }
void Inst_Imul(const Keyword_Entry*) { Start(Mode_Imul_Param); }
void Inst_Div(const Keyword_Entry*) { Start(Mode_Div_Param); }
void Inst_Idiv(const Keyword_Entry*) { Start(Mode_Idiv_Param); }
void Inst_Inc(const Keyword_Entry*) { Start(Mode_Inc_Param); }
void Inst_Dec(const Keyword_Entry*) { Start(Mode_Dec_Param); }

extern const Mode_Table Unary_Mode_Table = {
    "not, neg, mul, imul, div, idiv, inc, dec", Words, sizeof(Words) / sizeof(Words[0]), Brackets,
    sizeof(Brackets) / sizeof(Brackets[0]),     nullptr, 0,
};
