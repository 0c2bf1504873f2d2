// System instructions: the 0F /digit forms (ltr, str, stmxcsr, the VMX
// pointer instructions, invlpg, clflush), the descriptor-table loads and
// stores, arpl, bound, and the far-pointer segment loads.
#pragma once
#include <cstdint>

#include "core/dispatch.h"

struct Keyword_Entry;

// [prefix] 0F second /digit on operand record 1 (a general register or any
// memory operand). prefix -1: none.
void Encode_0F_Digit(int32_t prefix, uint32_t second, uint32_t digit);

void Inst_Ltr(const Keyword_Entry* keyword);
void Inst_Str(const Keyword_Entry* keyword);
void Inst_Stmxcsr(const Keyword_Entry* keyword);
void Inst_Vmxon(const Keyword_Entry* keyword);
void Inst_Vmptrld(const Keyword_Entry* keyword);
void Inst_Vmptrst(const Keyword_Entry* keyword);
void Inst_Vmclear(const Keyword_Entry* keyword);
void Inst_Sidt(const Keyword_Entry* keyword);
void Inst_Lidt(const Keyword_Entry* keyword);
void Inst_Lgdt(const Keyword_Entry* keyword);
void Inst_Sgdt(const Keyword_Entry* keyword);
void Inst_Arpl(const Keyword_Entry* keyword);
void Inst_Bound(const Keyword_Entry* keyword);
void Inst_Clflush(const Keyword_Entry* keyword);
void Inst_Invlpg(const Keyword_Entry* keyword);
void Inst_Lds(const Keyword_Entry* keyword);
void Inst_Les(const Keyword_Entry* keyword);
void Inst_Lfs(const Keyword_Entry* keyword);
void Inst_Lgs(const Keyword_Entry* keyword);
void Inst_Lss(const Keyword_Entry* keyword);

extern const Mode_Table System_Mode_Table;
