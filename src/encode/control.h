// RET, RETN, IRETQ, INT, LOOP and ENTER, and the one-instruction emitters
// that the PROC prologue and epilogue use.
#pragma once
#include <cstdint>

#include "core/dispatch.h"

struct Keyword_Entry;

void Inst_Ret(const Keyword_Entry* keyword);
void Inst_Retn(const Keyword_Entry* keyword);
void Inst_Iretq(const Keyword_Entry* keyword);
void Inst_Int(const Keyword_Entry* keyword);
void Inst_Loop(const Keyword_Entry* keyword);
void Inst_Enter(const Keyword_Entry* keyword);

void Emit_Ret();                                  // C3
void Emit_Ret_N(uint32_t bytes);                  // C2 iw (low 16 bits)
void Emit_Leave();                                // C9
void Emit_Enter(uint32_t size, uint32_t level);   // C8 iw ib (low 16 and 8 bits)
// E2 and the 8-bit displacement to the target; the range is judged from pass 2
// on, the two bytes are always written.
void Encode_Loop(uint32_t target, bool reachable);

extern const Mode_Table Control_Mode_Table;
