// The word and doubleword string instructions (written as soon as their
// keyword is read), LEA (its operands parsed here, encoded as the ALU's
// register-from-memory form with opcode 8Dh) and BSWAP (0F C8+r).
#include "encode/string_ops.h"

#include "core/diag.h"
#include "core/expr.h"
#include "core/operands.h"
#include "encode/alu.h"
#include "encode/modrm.h"
#include "output/sections.h"

namespace {

// 66h for the size that is not the mode's own, then the opcode.
void Encode_String_Op(uint8_t opcode, uint32_t size) {
  Inst_Head h;
  Head_Size(h, size);
  Head_Opcode(h, opcode);
  Head_Emit(h);
  Parser.Parser_Mode = 0;
}

void Lea_Param1(const char* text, uint32_t length) {
  if (Parse_Operand(text, length, &Params.op[0]) == 1) return;
  Parser.Parser_Mode = Mode_Lea_Param2;
}

void Lea_Param1_Mem(const char* text, uint32_t length) {
  Error_Text("LEA, can not take [] here: ", text, length);
  Parser.Parser_Mode = Mode_Lea_Param2;
}

void Lea_Param2(const char* text, uint32_t length) {
  Error_Text("LEA, must have [] here: ", text, length);
  Parser.Parser_Mode = 0;
}

void Lea_Param2_Mem(const char* text, uint32_t length) {
  if (Parse_Operand_Mem(text, length, &Params.op[1]) == 1) return;
  // An address has no operand size: the size a label's data would imply
  // must not be compared with the destination register. ([register]
  // operands keep theirs: it is the address width.)
  Params.mem.implied_size = 0;
  Operand_Record& source = Params.op[1];
  if (source.kind == Op_Mem_Direct || source.kind == Op_Mem_Complex || source.kind == Op_Local ||
      source.kind == Op_Arg)
    source.size = Params.op[0].size;
  if (Encode_Alu_Reg_Rm(0x8D) != 0) Error_Msg("Can not encode parameter");
  Parser.Parser_Mode = 0;
}

void Bswap_Param(const char* text, uint32_t length) {
  Parser.Parser_Mode = 0;
  Reg_Size_Hit reg;
  if (Reg_Size(text, length, &reg) != 0) {
    Error_Text("BSWAP, invalid parameter: ", text, length);
    return;
  }
  if (reg.number > 7 && Parser.Code_Mode != Code_64) {
    Error_Text("Register can not be used in this mode: ", text, length);
    return;
  }
  Operand_Record& r = Params.op[0];
  r.kind = Op_Reg;
  r.value = reg.number;
  r.size = reg.size;
  Encode_Bswap(reg.number, reg.size);
}

}  // namespace

void Encode_Bswap(uint32_t number, uint32_t size) {
  if (size != 16 && size != 32) {
    Error_Msg("BSWAP, invalid parameter size.");
    return;
  }
  Inst_Head h;
  Head_Size(h, size);  // 66h for the size that is not the mode's own
  Head_Reg(h, number, size, Rex_B);
  Head_Opcode2(h, 0x0F, 0xC8 + (number & 7));
  Head_Emit(h);
}

void Inst_Movsd(const Keyword_Entry*) { Encode_String_Op(0xA5, 32); }
void Inst_Movsw(const Keyword_Entry*) { Encode_String_Op(0xA5, 16); }
void Inst_Stosd(const Keyword_Entry*) { Encode_String_Op(0xAB, 32); }
void Inst_Stosw(const Keyword_Entry*) { Encode_String_Op(0xAB, 16); }
void Inst_Lodsd(const Keyword_Entry*) { Encode_String_Op(0xAD, 32); }
void Inst_Lodsw(const Keyword_Entry*) { Encode_String_Op(0xAD, 16); }

void Inst_Lea(const Keyword_Entry*) {
  Params_Reset();
  Parser.Parser_Mode = Mode_Lea_Param1;
}

void Inst_Bswap(const Keyword_Entry*) {
  Parser.Parser_Mode = Mode_Bswap_Param;
  Params_Reset();
}

namespace {
const Mode_Handler Words[] = {
    {Mode_Lea_Param1, Lea_Param1},
    {Mode_Lea_Param2, Lea_Param2},
    {Mode_Bswap_Param, Bswap_Param},
};
const Mode_Handler Brackets[] = {
    {Mode_Lea_Param1, Lea_Param1_Mem},
    {Mode_Lea_Param2, Lea_Param2_Mem},
};
}  // namespace

extern const Mode_Table String_Lea_Bswap_Mode_Table = {"lea and bswap", Words, 3, Brackets, 2, nullptr, 0};
