// XCHG (87h, 86h for bytes; never the 90h+r short form) and MOVSX/MOVZX
// (0F BE/BF, 0F B6/B7; 63h for a 32-bit source of movsx in 64-bit code).
// The first operand is always a general register in ModRM.reg.
#include "core/assemble.h"
#include "core/diag.h"
#include "core/expr.h"
#include "encode/group_ops.h"
#include "output/sections.h"

namespace {

void Start(uint32_t mode) {
  Params_Reset();
  Parser.Parser_Mode = mode;
}

// ---- XCHG ---------------------------------------------------------------------------------

constexpr const char* Msg_Xchg_Form = "XCHG, can not encode this";
constexpr const char* Msg_Xchg_Mismatch = "XCHG, size mismatch";
constexpr const char* Msg_Xchg_Register = "XCHG, unknown register size";

void Encode_Xchg() {
  if (!Code_Mode_Known()) return;
  const Operand_Record& reg = Op1();
  Operand_Record& other = Op2();
  if (reg.kind != Op_Reg || (other.kind != Op_Reg && !Is_Memory_Kind(other.kind))) {
    Error_Msg(Msg_Xchg_Form);
    return;
  }
  const uint32_t s = Register_Operand_Size(reg);
  if (!Size_Usable(s)) {
    const bool xchg_message = other.kind == Op_Reg || other.kind == Op_Mem_Direct;
    Error_Msg(xchg_message ? Msg_Xchg_Register
              : other.kind == Op_Mem_Complex && Mode() == Code_32 ? "Unknown parameter 1 size"
                                                                   : "Unknown parameter 2 size");
    return;
  }
  Inst_Head h;
  Head_Opcode(h, s == 8 ? 0x86 : 0x87);
  Head_Size(h, s);
  Head_Reg(h, reg.low(), reg.size, Rex_R);
  if (other.kind == Op_Reg) {
    // Operand 1 in ModRM.rm, operand 2 in ModRM.reg: xchg eax,ebx is 87 D8.
    if (other.size != reg.size) {
      Error_Msg(Msg_Xchg_Mismatch);
      return;
    }
    if (Keyword_Contradicts(s)) return;
    h.rex = 0;
    Head_Size(h, s);
    Head_Reg(h, reg.low(), reg.size, Rex_B);
    Head_Reg(h, other.low(), other.size, Rex_R);
    Head_Emit(h);
    Emit_Byte(static_cast<uint8_t>(0xC0u | (other.low() & 7) << 3 | (reg.low() & 7)));
    return;
  }
  if (other.kind == Op_Mem_Direct) {
    if (other.size != s && !Keyword_Names_Size(s)) Error_Final(Msg_Xchg_Mismatch);
  } else if (Keyword_Contradicts(s)) {
    return;
  }
  if (other.kind == Op_Mem_Complex) {
    other.relocatable |= Expr.Expr_Relocatable;
    h.p66_first = 1;
  }
  Emit_Mem_Form(h, Mem_Operand_Of(other), reg.low(), 0);
}

void Xchg_Param1(const char* text, uint32_t length) {
  if (Parse_Operand(text, length, &Op1()) != 1) Parser.Parser_Mode = Mode_Xchg_Param2;
}

void Xchg_Param1_Mem(const char* text, uint32_t length) {
  Parse_Operand_Mem(text, length, &Op1());
  Parser.Parser_Mode = Mode_Xchg_Param2;
}

void Xchg_Finish(int result) {
  if (result == 1) return;
  Parser.Parser_Mode = 0;
  if (result == 0 && Op1().kind != Op_None) Encode_Xchg();
}

void Xchg_Param2(const char* text, uint32_t length) { Xchg_Finish(Parse_Operand(text, length, &Op2())); }
void Xchg_Param2_Mem(const char* text, uint32_t length) { Xchg_Finish(Parse_Operand_Mem(text, length, &Op2())); }

// ---- MOVSX and MOVZX ------------------------------------------------------------------------

struct Extend_Mnemonic {
  uint32_t mode1, mode2;
  bool sign;
  uint8_t from8, from16;
  const char* no_bracket;   // a bracketed destination
  const char* form;         // no form for the operand kinds
  const char* param1_size;  // destination size without a form
  const char* param2_size;  // source size without an opcode
};

constexpr Extend_Mnemonic Extends[] = {
    {Mode_Movsx_Param1, Mode_Movsx_Param2, true, 0xBE, 0xBF, "MOVSX, can not take [] here: ",
     "MOVSX, unknown encode mode ", "MOVSX, unknown or invalid param_1 size ",
     "MOVSX, unknown or invalid param_2 size "},
    {Mode_Movzx_Param1, Mode_Movzx_Param2, false, 0xB6, 0xB7, "MOVZX, can not take [] here: ",
     "MOVZX, unknown encode mode ", "MOVZX, unknown or invalid param_1 size ",
     "MOVZX, unknown or invalid param_2 size "},
};

const Extend_Mnemonic* Current_Extend() {
  const uint32_t mode = Parser.Parser_Mode;
  for (const Extend_Mnemonic& e : Extends)
    if (e.mode1 == mode || e.mode2 == mode) return &e;
  return nullptr;
}

// The source size: a register's own; for memory the keyword, else (except
// for [register]) the size of the label, variable or bracketed label.
uint32_t Extend_Source_Size(const Operand_Record& source) {
  switch (source.kind) {
    case Op_Reg: return source.size;
    case Op_Mem_Reg: return Keyword_Operand_Size();
    case Op_Mem_Complex: {
      const uint32_t k = Keyword_Operand_Size();
      return k ? k : Params.mem.implied_size;
    }
    default: {
      const uint32_t k = Keyword_Operand_Size();
      return k ? k : source.size;
    }
  }
}

void Encode_Extend(const Extend_Mnemonic& e) {
  if (!Code_Mode_Known()) return;
  const Operand_Record& dest = Op1();
  Operand_Record& source = Op2();
  if (dest.kind != Op_Reg || (source.kind != Op_Reg && !Is_Memory_Kind(source.kind))) {
    Error_Msg(e.form);
    return;
  }
  const uint32_t d = Register_Operand_Size(dest);
  if (d != 16 && d != 32 && !(d == 64 && Mode() == Code_64)) {
    Error_Msg(e.param1_size);
    return;
  }
  const uint32_t s = Extend_Source_Size(source);
  Inst_Head h;
  if (s == 8) {
    Head_Opcode2(h, 0x0F, e.from8);
  } else if (s == 16) {  // also into a 16-bit register (a plain load)
    Head_Opcode2(h, 0x0F, e.from16);
  } else if (s == 32 && e.sign && Mode() == Code_64 && d != 16) {  // 66 63 would read 16 bits
    Head_Opcode(h, 0x63);
  } else {
    // Size errors that a later label may settle wait for pass 2.
    const bool settles = source.kind == Op_Mem_Direct || source.kind == Op_Mem_Complex ||
                         source.kind == Op_Local || source.kind == Op_Arg;
    if (settles && !Keyword_Operand_Size()) Error_Final(e.param2_size);
    else Error_Msg(e.param2_size);
    if (!settles || Pass.Pass_Number >= 2) return;
    Head_Opcode2(h, 0x0F, e.from16);
  }
  Head_Size(h, d);
  Head_Reg(h, dest.low(), dest.size, Rex_R);
  if (source.kind == Op_Reg) {
    if (Keyword_Contradicts(source.size)) return;  // the keyword names the source: `movzx eax,byte bx`
    Head_Reg(h, source.low(), source.size, Rex_B);
    Head_Emit(h);
    Emit_Byte(static_cast<uint8_t>(0xC0u | (dest.low() & 7) << 3 | (source.low() & 7)));
    return;
  }
  if (source.kind == Op_Mem_Complex) source.relocatable |= Expr.Expr_Relocatable;
  h.p66_first = Mode() == Code_16 ? 1 : 0;
  h.mem_size = static_cast<uint8_t>(s);  // the source has its own size
  Mem_Operand m = Mem_Operand_Of(source);
  if (Mode() == Code_16 && source.kind == Op_Mem_Direct && source.value > 0xFFFFu &&
      source.value <= 0xFFFFFFFFu) {
    m.p67 = 1;  // an address above FFFFh takes the 32-bit form
    m.width = 32;
  }
  Emit_Mem_Form(h, m, dest.low(), 0);
}

void Extend_Param1(const char* text, uint32_t length) {
  const Extend_Mnemonic* e = Current_Extend();
  if (e && Parse_Operand(text, length, &Op1()) != 1) Parser.Parser_Mode = e->mode2;
}

void Extend_Param1_Mem(const char* text, uint32_t length) {
  const Extend_Mnemonic* e = Current_Extend();
  if (!e) return;
  Error_Text(e->no_bracket, text, length);
  Not_Implemented_Skip_Statement();  // the source is not read
}

void Extend_Finish(int result) {
  const Extend_Mnemonic* e = Current_Extend();
  if (!e || result == 1) return;
  Parser.Parser_Mode = 0;
  if (result == 0 && Op1().kind != Op_None) Encode_Extend(*e);
}

void Extend_Param2(const char* text, uint32_t length) { Extend_Finish(Parse_Operand(text, length, &Op2())); }
void Extend_Param2_Mem(const char* text, uint32_t length) { Extend_Finish(Parse_Operand_Mem(text, length, &Op2())); }

constexpr Mode_Handler Words[] = {
    {Mode_Xchg_Param1, Xchg_Param1},    {Mode_Xchg_Param2, Xchg_Param2},
    {Mode_Movsx_Param1, Extend_Param1}, {Mode_Movsx_Param2, Extend_Param2},
    {Mode_Movzx_Param1, Extend_Param1}, {Mode_Movzx_Param2, Extend_Param2},
};

constexpr Mode_Handler Brackets[] = {
    {Mode_Xchg_Param1, Xchg_Param1_Mem},    {Mode_Xchg_Param2, Xchg_Param2_Mem},
    {Mode_Movsx_Param1, Extend_Param1_Mem}, {Mode_Movsx_Param2, Extend_Param2_Mem},
    {Mode_Movzx_Param1, Extend_Param1_Mem}, {Mode_Movzx_Param2, Extend_Param2_Mem},
};

}  // namespace

void Inst_Xchg(const Keyword_Entry*) { Start(Mode_Xchg_Param1); }
void Inst_Movsx(const Keyword_Entry*) { Start(Mode_Movsx_Param1); }
void Inst_Movzx(const Keyword_Entry*) { Start(Mode_Movzx_Param1); }

extern const Mode_Table Xchg_Movx_Mode_Table = {
    "xchg, movsx, movzx", Words, sizeof(Words) / sizeof(Words[0]), Brackets, sizeof(Brackets) / sizeof(Brackets[0]),
    nullptr,              0,
};
