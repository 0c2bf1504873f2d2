// INVOKE and CINVOKE: a call with arguments by the target's calling
// convention, written as ordinary statements and assembled from that text.
#pragma once
#include <cstdint>

#include "core/dispatch.h"

struct Keyword_Entry;

bool Invoke_Pending();
void Invoke_Expand();
// A pass starts with no INVOKE pending.
void Invoke_Reset_Pass();

void Dir_Invoke(const Keyword_Entry* keyword);
void Dir_Cinvoke(const Keyword_Entry* keyword);

extern const Mode_Table Invoke_Mode_Table;
