// Procedures are not assembled by this build yet: no PROC is ever open.
#include "directives/proc.h"

uint32_t Proc_Block_Mode() { return 0; }
void Proc_Prologue_Due() {}
bool Proc_Is_Open() { return false; }
bool Local_Label_Find(const char*, uint32_t, uint32_t) { return false; }
void Local_Label_Create(const char*, uint32_t, uint32_t, uint32_t) {}
bool Local_Label_Value(const char*, uint32_t, uint32_t*, uint32_t*) { return false; }
bool Proc_Address(const char*, uint32_t, uint32_t*, uint32_t*) { return false; }
const char* Proc_Current_Name() { return nullptr; }
bool Proc_Local_Find(const char*, uint32_t, uint32_t*, uint32_t*) { return false; }
bool Proc_Arg_Find(const char*, uint32_t, uint32_t*, uint32_t*) { return false; }
void Proc_File_Start() {}
void Proc_Reset_Pass() {}
