// Location-counter directives: `align n`, `org address`, `disp address` and
// `base address`. They move the current position of the current section (the
// address `$` and the write position in its buffer) without writing bytes.
#pragma once
#include <cstdint>

struct Keyword_Entry;

// Moves `$` up to the next multiple of n (any n; 0 and 1 do nothing) through
// the checked emitter, and records n as an alignment the section needs.
// False (nothing moved) when the result would not fit 32 bits.
bool Align_Location(uint64_t n);

void Dir_Align(const Keyword_Entry* keyword);
void Dir_Org(const Keyword_Entry* keyword);
void Dir_Disp(const Keyword_Entry* keyword);
