// Imports and exports: the entry points the core calls.
#pragma once
#include <cstdint>

void Import_Func_Current_Reset();
bool Import_Func_Current_Set();
void Import_Func_Set_Arg_Count(const char* text, uint32_t length);
bool Imports_Declared();

// An imported or external function as a call sees it.
struct Import_Func_Ref {
  uint32_t index;          // in the import function table
  uint32_t external;       // 1: an `extern` symbol that the linker resolves
  uint32_t thunk_address;  // the import's thunk (external 0)
  uint32_t thunk_section;
};
bool Import_Func_Find(const char* name, uint32_t length, Import_Func_Ref* found);
void Import_Func_Count_Use(uint32_t index);
