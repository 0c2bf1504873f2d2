// Conditional assembly: #if, #ifdef, #ifndef, #ifb, #ifnb, #if_used,
// #if_not_used, #else and #endif. A false condition skips words up to the
// matching #else or #endif; the levels are global, so they may span included
// files and macro expansions.
#pragma once
#include <cstdint>

struct Cond_Saved {
  uint32_t open, depth, skip_depth;
};

struct Keyword_Entry;
void Dir_Hash_If(const Keyword_Entry* keyword);
void Dir_Hash_Ifdef(const Keyword_Entry* keyword);
void Dir_Hash_Ifndef(const Keyword_Entry* keyword);
void Dir_Hash_Ifnb(const Keyword_Entry* keyword);
void Dir_Hash_Ifb(const Keyword_Entry* keyword);
void Dir_Hash_If_Used(const Keyword_Entry* keyword);
void Dir_Hash_If_Not_Used(const Keyword_Entry* keyword);
void Dir_Hash_Else(const Keyword_Entry* keyword);
void Dir_Hash_Endif(const Keyword_Entry* keyword);

Cond_Saved Cond_Save();
void Cond_Restore(const Cond_Saved& saved);
// Around each source file: a level the file left open is reported at its end.
void Cond_File_Start();
void Cond_File_End_Checks();
void Cond_Reset_Pass();
