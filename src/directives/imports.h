// Imports and exports: the entry points the core calls.
#pragma once
#include <cstdint>

void Import_Func_Current_Reset();
bool Import_Func_Current_Set();
void Import_Func_Set_Arg_Count(const char* text, uint32_t length);
bool Imports_Declared();
