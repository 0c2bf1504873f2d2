// Text equates and string functions: the entry points the core calls.
#pragma once
#include <cstdint>

bool Text_Equ_Any();
bool Text_Equ_Find(const char* name, uint32_t length, const char** text, uint32_t* text_length);
void Text_Equ_Current_Reset();
// A string-function name as an equate value takes over the statement (true).
bool Str_Func_Start(const char* name, uint32_t length);
