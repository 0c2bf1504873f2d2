// PUSH and POP in every operand form, and the register and segment-register
// workers that the PROC prologue and epilogue call without an operand parser.
#pragma once
#include <cstdint>

#include "core/dispatch.h"

struct Keyword_Entry;

void Inst_Push(const Keyword_Entry* keyword);
void Inst_Pop(const Keyword_Entry* keyword);

// Operand record 1 of Params; the text is for the messages.
void Encode_Push(const char* text, uint32_t length);
void Encode_Pop(const char* text, uint32_t length);

// General registers by number and size in bits, for the current code mode.
// Each worker checks the number, the size and the mode itself: a register the
// mode can not push or pop is reported and nothing is written.
void Encode_Push_Reg(uint32_t number, uint32_t size);
void Encode_Pop_Reg(uint32_t number, uint32_t size);
// The 64-bit forms (rax..r15, ax..r15w); only in 64-bit code.
void Encode_Push_Reg64(uint32_t number, uint32_t size);
void Encode_Pop_Reg64(uint32_t number, uint32_t size);
// Segment registers: es 0, cs 1, ss 2, ds 3, fs 4, gs 5.
void Encode_Push_Sreg(uint32_t number);
void Encode_Pop_Sreg(uint32_t number);

extern const Mode_Table Stack_Mode_Table;
