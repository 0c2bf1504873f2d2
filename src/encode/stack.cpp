// PUSH and POP: the operand handlers of parser modes 31 and 30, the kind
// dispatchers and one worker per form. Register pushes are 50h+r / 58h+r,
// immediates 6Ah ib / 68h iw-id, memory FF /6 and 8F /0, segment registers
// their one- or two-byte forms.
#include "encode/stack.h"

#include "core/diag.h"
#include "core/expr.h"
#include "core/operands.h"
#include "encode/modrm.h"
#include "output/sections.h"

namespace {

struct Stack_Op {
  uint8_t reg_opcode;      // 50h / 58h
  uint8_t mem_opcode;      // FFh / 8Fh
  uint8_t digit;           // 6 / 0
  const char* bad_operand;
  const char* bad_byte;
};

constexpr Stack_Op Push_Op = {0x50, 0xFF, 6, "PUSH, can not encode operand: ", "PUSH, can not encode BYTE"};
constexpr Stack_Op Pop_Op = {0x58, 0x8F, 0, "POP, can not encode operand", "POP, can not encode BYTE"};

const char* const Msg_Bad_Type = "PUSH, can not encode this type: ";
const char* const Msg_Qword = "PUSH, can not encode QWORD";
const char* const Msg_Dword = "PUSH, can not encode DWORD";
const char* const Msg_Too_Big = "PUSH, value too big, can not be encoded.";
const char* const Msg_Push_Sreg = "PUSH: can not encode this SREG";
const char* const Msg_Pop_Sreg = "POP, can not encode this SREG";
const char* const Msg_Mismatch = "parameters have mismatched size.";

// The stack width of the code mode: what a push without a size keyword moves.
uint32_t Stack_Width() { return Mode() == Code_16 ? 16 : Mode() == Code_32 ? 32 : 64; }

void Reg_Form(const Stack_Op& op, uint32_t number, uint32_t size, bool long_mode) {
  bool ok;
  if (long_mode) ok = number < 16 && (size == 16 || size == 64);
  else ok = number < 8 && (size == 16 || size == 32);
  if (!ok) {
    Error_Msg(op.bad_operand);
    return;
  }
  Inst_Head h;
  if (size == 16 && long_mode) h.p66 = 1;
  else if (!long_mode && size != (Mode() == Code_16 ? 16u : 32u)) h.p66 = 1;
  if (number > 7) h.rex |= Rex_B;
  Head_Opcode(h, op.reg_opcode + (number & 7));
  Head_Emit(h);
}

void Reg64(const Stack_Op& op, uint32_t number, uint32_t size) {
  if (Mode() != Code_64) {
    Error_Msg(op.bad_operand);
    return;
  }
  Reg_Form(op, number, size, true);
}

// One size rule for every memory, immediate and segment register form: the
// stack width by default, `word` and `dword` where the mode has them, never
// a byte or ten. 0 after reporting a keyword that names no push.
uint32_t Push_Width(const Stack_Op& op) {
  const auto& f = Params.flags;
  if (f.byte_) {
    Error_Msg(op.bad_byte);
    return 0;
  }
  if (f.tbyte) {
    Error_Msg(Msg_Mismatch);
    return 0;
  }
  if (f.word) return 16;
  if (f.dword) {
    if (Mode() != Code_64) return 32;
    Error_Msg(Msg_Dword);
    return 0;
  }
  if (f.qword && Mode() != Code_64) {
    Error_Msg(Msg_Qword);
    return 0;
  }
  return Stack_Width();
}

void Mem_Form(const Stack_Op& op) {
  Operand_Record& r = Op1();
  const uint32_t size = Push_Width(op);
  if (!size) return;
  if (r.kind == Op_Mem_Complex) r.relocatable |= Expr.Expr_Relocatable;
  const Mem_Operand m = Mem_Operand_Of(r);
  Inst_Head h;
  if (size != Stack_Width()) h.p66 = 1;
  Head_Opcode(h, op.mem_opcode);
  // 64-bit pushes and pops need no REX.W; the forms with an extended base or
  // index register take it anyway (REX 49h-4Bh), the 16-bit ones must not.
  const bool extended = Mode() == Code_64 && m.rex != 0 && size == 64;
  if (extended && (r.kind == Op_Mem_Complex || (r.kind == Op_Mem_Reg && op.digit == 0))) h.rex |= Rex_W;
  Emit_Mem_Form(h, m, op.digit, 0);
}

// The width of Push_Width: 66h pushes the other width. In 64-bit code
// `dword` names the immediate that a 64-bit push sign-extends, and in every
// mode `byte` the immediate byte of a push of the stack width (6Ah).
void Imm_Form(const Operand_Record& r) {
  const auto& f = Params.flags;
  const uint32_t size = (f.dword && Mode() == Code_64) ? 64 : f.byte_ ? Stack_Width() : Push_Width(Push_Op);
  if (!size) return;
  if (!Imm_Fits(r.value, size)) Error_Msg(size == 64 ? Msg_Qword : Msg_Too_Big);
  Inst_Head h;
  if (size != Stack_Width()) h.p66 = 1;
  const bool short_form = Imm_Short(r);
  Head_Opcode(h, short_form ? 0x6A : 0x68);
  Head_Emit(h);
  if (short_form) Emit_Byte(static_cast<uint8_t>(r.low()));
  else Emit_Imm(r, size == 16 ? 2 : 4);
}

void Sreg(uint32_t number, bool push, bool narrow);

void Encode_Stack(const Stack_Op& op, const char* text, uint32_t length) {
  if (!Code_Mode_Known()) return;
  const Operand_Record& r = Op1();
  switch (r.kind) {
    case Op_Reg:
      if (!Keyword_Contradicts(r.size)) Reg_Form(op, r.low(), r.size, Mode() == Code_64);
      return;
    case Op_Imm:
      if (op.digit != 6) break;
      Imm_Form(r);
      return;
    case Op_Segment: {
      const uint32_t size = Push_Width(op);
      if (size) Sreg(r.low(), op.digit == 6, size != Stack_Width());
      return;
    }
    case Op_Mem_Reg:
    case Op_Mem_Direct:
    case Op_Mem_Complex:
    case Op_Local:
    case Op_Arg: Mem_Form(op); return;
    default: break;
  }
  Error_Text(Msg_Bad_Type, text, length);
}

void Push_Operand(const char* text, uint32_t length) {
  const int result = Parse_Operand(text, length, &Params.op[0]);
  if (result == 1) return;
  if (result == 0) Encode_Push(text, length);
  Parser.Parser_Mode = 0;
}

void Push_Operand_Mem(const char* text, uint32_t length) {
  const int result = Parse_Operand_Mem(text, length, &Params.op[0]);
  if (result == 1) return;
  if (result == 0) Encode_Push(text, length);
  Parser.Parser_Mode = 0;
}

void Push_String(const char* text, uint32_t length) {
  Parser.Parser_Mode = 0;
  Operand_Record& r = Params.op[0];
  if (Mini_String(text, length, &r) != 0) return;
  r.relocatable = 0;
  if (Code_Mode_Known()) Imm_Form(r);
}

void Pop_Operand(const char* text, uint32_t length) {
  const int result = Parse_Operand(text, length, &Params.op[0]);
  if (result == 1) return;
  if (result == 0) Encode_Pop(text, length);
  Parser.Parser_Mode = 0;
}

void Pop_Operand_Mem(const char* text, uint32_t length) {
  const int result = Parse_Operand_Mem(text, length, &Params.op[0]);
  if (result == 1) return;
  if (result == 0) Encode_Pop(text, length);
  Parser.Parser_Mode = 0;
}

// Segment register forms: {one-byte opcode or 0, second byte after 0Fh}.
struct Sreg_Form {
  uint8_t push, pop;  // 0: refused
  uint8_t escaped;    // 1: 0Fh comes first
};
constexpr Sreg_Form Sreg_Forms[6] = {
    {0x06, 0x07, 0}, {0x0E, 0x00, 0}, {0x16, 0x17, 0}, {0x1E, 0x1F, 0}, {0xA0, 0xA1, 1}, {0xA8, 0xA9, 1},
};

// narrow: `push word fs` in 32- or 64-bit code, `push dword fs` in 16-bit code (66h).
void Sreg(uint32_t number, bool push, bool narrow) {
  const char* msg = push ? Msg_Push_Sreg : Msg_Pop_Sreg;
  if (number > 5 || (Mode() == Code_64 && number < 4)) {
    Error_Msg(msg);
    return;
  }
  const Sreg_Form& f = Sreg_Forms[number];
  const uint8_t opcode = push ? f.push : f.pop;
  if (opcode == 0) {
    Error_Msg(msg);
    return;
  }
  Inst_Head h;
  h.p66 = narrow ? 1 : 0;
  if (f.escaped) Head_Opcode2(h, 0x0F, opcode);
  else Head_Opcode(h, opcode);
  Head_Emit(h);
}

}  // namespace

void Encode_Push(const char* text, uint32_t length) { Encode_Stack(Push_Op, text, length); }
void Encode_Pop(const char* text, uint32_t length) { Encode_Stack(Pop_Op, text, length); }

void Encode_Push_Reg(uint32_t number, uint32_t size) {
  if (Code_Mode_Known()) Reg_Form(Push_Op, number, size, Mode() == Code_64);
}
void Encode_Pop_Reg(uint32_t number, uint32_t size) {
  if (Code_Mode_Known()) Reg_Form(Pop_Op, number, size, Mode() == Code_64);
}
void Encode_Push_Reg64(uint32_t number, uint32_t size) { Reg64(Push_Op, number, size); }
void Encode_Pop_Reg64(uint32_t number, uint32_t size) { Reg64(Pop_Op, number, size); }
void Encode_Push_Sreg(uint32_t number) {
  if (Code_Mode_Known()) Sreg(number, true, false);
}
void Encode_Pop_Sreg(uint32_t number) {
  if (Code_Mode_Known()) Sreg(number, false, false);
}

void Inst_Push(const Keyword_Entry*) {
  Params_Reset();
  Parser.Parser_Mode = Mode_Push_Operand;
}

void Inst_Pop(const Keyword_Entry*) {
  Params_Reset();
  Parser.Parser_Mode = Mode_Pop_Operand;
}

namespace {
const Mode_Handler Words[] = {
    {Mode_Push_Operand, Push_Operand},
    {Mode_Pop_Operand, Pop_Operand},
};
const Mode_Handler Brackets[] = {
    {Mode_Push_Operand, Push_Operand_Mem},
    {Mode_Pop_Operand, Pop_Operand_Mem},
};
const Mode_Handler Strings[] = {
    {Mode_Push_Operand, Push_String},
};
}  // namespace

extern const Mode_Table Stack_Mode_Table = {"push and pop", Words, 2, Brackets, 2, Strings, 1};
