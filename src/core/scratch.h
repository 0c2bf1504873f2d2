// Scratch text for the statement being assembled: texts built while parsing
// (blank-stripped operands, `$line` replacements) stay valid until the
// top-level statement ends, since handlers keep (pointer, length) pairs.
#pragma once
#include <cstdint>

// nullptr when memory is exhausted.
char* Scratch_Alloc(uint32_t size);
// Frees everything handed out since the last reset (keeps one block).
void Scratch_Reset();
void Scratch_Free_All();
