// TEST, the shifts and rotates, SHLD/SHRD, XCHG, MOVSX/MOVZX, the F7 group
// (not, neg, mul, imul, div, idiv) and INC/DEC: keyword handlers, their
// parser-mode tables, and the one-operand /digit emitters they share.
#pragma once
#include <cstdint>

#include "core/dispatch.h"
#include "core/operands.h"
#include "encode/modrm.h"

struct Keyword_Entry;

// opcode /digit on a general register of `size` bits (the byte form clears
// bit 0). byte_rex_w: spl..dil take 48h instead of the bare 40h.
void Emit_Digit_Reg(uint32_t opcode, uint32_t digit, uint32_t size, const Operand_Record& reg, bool byte_rex_w);
// opcode /digit on a memory operand; `trailing` immediate bytes follow.
void Emit_Digit_Mem(uint32_t opcode, uint32_t digit, uint32_t size, const Mem_Operand& m, uint32_t trailing,
                    bool p66_first = false);
// The size of a PROC variable operand: the keyword, else its declared size,
// else the mode's default (16 bits in 16-bit code, 32 otherwise).
uint32_t Frame_Operand_Size(const Operand_Record& var);
// 16 in 16-bit code, 32 otherwise.
uint32_t Default_Operand_Size();

void Inst_Test(const Keyword_Entry* keyword);
void Inst_Rol(const Keyword_Entry* keyword);
void Inst_Ror(const Keyword_Entry* keyword);
void Inst_Rcl(const Keyword_Entry* keyword);
void Inst_Rcr(const Keyword_Entry* keyword);
void Inst_Shl(const Keyword_Entry* keyword);
void Inst_Shr(const Keyword_Entry* keyword);
void Inst_Sal(const Keyword_Entry* keyword);
void Inst_Sar(const Keyword_Entry* keyword);
void Inst_Shld(const Keyword_Entry* keyword);
void Inst_Shrd(const Keyword_Entry* keyword);
void Inst_Xchg(const Keyword_Entry* keyword);
void Inst_Movsx(const Keyword_Entry* keyword);
void Inst_Movzx(const Keyword_Entry* keyword);
void Inst_Not(const Keyword_Entry* keyword);
void Inst_Neg(const Keyword_Entry* keyword);
void Inst_Mul(const Keyword_Entry* keyword);
void Inst_Imul(const Keyword_Entry* keyword);
void Inst_Div(const Keyword_Entry* keyword);
void Inst_Idiv(const Keyword_Entry* keyword);
void Inst_Inc(const Keyword_Entry* keyword);
void Inst_Dec(const Keyword_Entry* keyword);

extern const Mode_Table Test_Shift_Mode_Table;
extern const Mode_Table Xchg_Movx_Mode_Table;
extern const Mode_Table Unary_Mode_Table;
