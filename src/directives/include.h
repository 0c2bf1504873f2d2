// Source and binary includes.
#pragma once

struct Keyword_Entry;
void Dir_Include(const Keyword_Entry* keyword);
void Inst_Incbin(const Keyword_Entry* keyword);
void Inst_Incfrom(const Keyword_Entry* keyword);
