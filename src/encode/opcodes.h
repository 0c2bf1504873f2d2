// Operand-less instructions (their bytes are the keyword payload), `$time`,
// and Emit_Fill, which reserves NOP-filled room for code written later.
#pragma once
#include <cstdint>

struct Keyword_Entry;
void Inst_Opcode1(const Keyword_Entry* keyword);
void Inst_Opcode2(const Keyword_Entry* keyword);
void Inst_Opcode3(const Keyword_Entry* keyword);
void Dir_Time(const Keyword_Entry* keyword);
void Emit_Fill(uint32_t n);
