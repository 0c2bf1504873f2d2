// The word and doubleword string instructions, LEA and BSWAP.
#pragma once

#include "core/dispatch.h"

struct Keyword_Entry;

void Inst_Movsd(const Keyword_Entry* keyword);
void Inst_Movsw(const Keyword_Entry* keyword);
void Inst_Stosd(const Keyword_Entry* keyword);
void Inst_Stosw(const Keyword_Entry* keyword);
void Inst_Lodsd(const Keyword_Entry* keyword);
void Inst_Lodsw(const Keyword_Entry* keyword);
void Inst_Lea(const Keyword_Entry* keyword);
void Inst_Bswap(const Keyword_Entry* keyword);
void Encode_Bswap(uint32_t number, uint32_t size);

extern const Mode_Table String_Lea_Bswap_Mode_Table;
