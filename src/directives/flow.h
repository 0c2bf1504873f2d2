// .IF, .WHILE and .REPEAT: run-time blocks and loops compiled to CMP and
// conditional jumps. `&&` and `||` bind equally and group from the right:
// `a && b || c` is `a && (b || c)`; parentheses are words of their own.
#pragma once
#include <cstdint>

#include "core/dispatch.h"

struct Keyword_Entry;

bool If_Line_End_Pending();
void If_Line_End();
void Flow_Until_Line_End();
void Flow_While_Line_End();
// Blocks still open at the end of the file that opened them are reported.
void Flow_File_End_Checks();
// Blocks still open at `proc` or `endp` are reported.
void Flow_Proc_Checks();
// Called when the main source file starts: a new pass opens no block.
void Flow_Reset_Pass();

// The jump taken when the condition `code` (1..12, the condition operator
// codes) holds (True) or fails (False), to target.
void Emit_Jcc_True(uint64_t target, uint32_t code, uint32_t is_signed);
void Emit_Jcc_False(uint64_t target, uint32_t code, uint32_t is_signed);

void Dir_If(const Keyword_Entry* keyword);
void Dir_Elseif(const Keyword_Entry* keyword);
void Dir_Else(const Keyword_Entry* keyword);
void Dir_Endif(const Keyword_Entry* keyword);
void Dir_While(const Keyword_Entry* keyword);
void Dir_Endw(const Keyword_Entry* keyword);
void Dir_Repeat(const Keyword_Entry* keyword);
void Dir_Until(const Keyword_Entry* keyword);

extern const Mode_Table Flow_Mode_Table;
