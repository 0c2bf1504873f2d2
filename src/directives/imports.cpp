// Imports are not assembled by this build yet: none are declared.
#include "directives/imports.h"

void Import_Func_Current_Reset() {}
bool Import_Func_Current_Set() { return false; }
void Import_Func_Set_Arg_Count(const char*, uint32_t) {}
bool Imports_Declared() { return false; }
bool Import_Func_Find(const char*, uint32_t, Import_Func_Ref*) { return false; }
void Import_Func_Count_Use(uint32_t) {}
