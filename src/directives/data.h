// Data definition and reserve directives: db du dw dd dq dt, real4 real8
// real10, and the reserves rb rw rd rq rt ro. A keyword handler only sets the
// parser mode; every later word of the statement is one item (or the count).
#pragma once
#include <cstdint>

struct Keyword_Entry;

void Dir_Db(const Keyword_Entry* keyword);
void Dir_Du(const Keyword_Entry* keyword);
void Dir_Dw(const Keyword_Entry* keyword);
void Dir_Dd(const Keyword_Entry* keyword);
void Dir_Dq(const Keyword_Entry* keyword);
void Dir_Dt(const Keyword_Entry* keyword);
void Dir_Real4(const Keyword_Entry* keyword);
void Dir_Real8(const Keyword_Entry* keyword);
void Dir_Real10(const Keyword_Entry* keyword);
void Dir_Rb(const Keyword_Entry* keyword);
void Dir_Rw(const Keyword_Entry* keyword);
void Dir_Rd(const Keyword_Entry* keyword);
void Dir_Rq(const Keyword_Entry* keyword);
void Dir_Rt(const Keyword_Entry* keyword);
void Dir_Ro(const Keyword_Entry* keyword);

// Item handlers: one call per word of the statement.
void DB_Item(const char* text, uint32_t length);
void DW_Item(const char* text, uint32_t length);  // dw and du
void DD_Item(const char* text, uint32_t length);
void DQ_Item(const char* text, uint32_t length);
void DT_Item(const char* text, uint32_t length);
void Real4_Item(const char* text, uint32_t length);
void Real8_Item(const char* text, uint32_t length);
void Real10_Item(const char* text, uint32_t length);

// Quoted strings (quotes included): bytes one for one, or UTF-8 to UTF-16LE.
void DB_String(const char* text, uint32_t length);
void DU_String(const char* text, uint32_t length);

// Reserve counts: one per statement, then the statement ends.
void RB_Count(const char* text, uint32_t length);
void RW_Count(const char* text, uint32_t length);
void RD_Count(const char* text, uint32_t length);
void RQ_Count(const char* text, uint32_t length);
void RT_Count(const char* text, uint32_t length);
void RO_Count(const char* text, uint32_t length);
