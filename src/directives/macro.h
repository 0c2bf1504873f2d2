// Macros, REPT and FOR: the entry points the core calls.
#pragma once
#include <cstdint>

bool Macro_Call_Pending();
void Macro_Expand();
void Macro_Body_Line_Advance();
void Macro_Body_Starts_At(const char* position);
// Name and body line of the innermost macro being expanded, for error lines.
bool Macro_Error_Context(char* name, uint32_t capacity, uint32_t* line);
// Each starts a macro call when the word names a macro (true).
bool Macro_Start_Call_From_Operand(const char* text, uint32_t length);
bool Macro_Start_Call_From_Statement(const char* text, uint32_t length);
bool Macro_Start_Call_From_Equ(const char* text, uint32_t length);
void Macro_Reset_Pass();
void Macro_Table_Free();
// Macro calls being expanded (REPT and FOR bodies do not count).
uint32_t Macro_Depth();

// Keyword handlers.
struct Keyword_Entry;
void Dir_Macro(const Keyword_Entry* keyword);
void Dir_Endm(const Keyword_Entry* keyword);
void Dir_Rept(const Keyword_Entry* keyword);
void Dir_For(const Keyword_Entry* keyword);
void Dir_For_Do(const Keyword_Entry* keyword);
// A body still open at the end of the source file it began in.
void Macro_File_End_Checks();
