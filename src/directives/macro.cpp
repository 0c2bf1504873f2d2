// Macros are not assembled by this build yet: no name is a macro.
#include "directives/macro.h"

bool Macro_Call_Pending() { return false; }
void Macro_Expand() {}
void Macro_Body_Line_Advance() {}
void Macro_Body_Starts_At(const char*) {}
bool Macro_Error_Context(char*, uint32_t, uint32_t*) { return false; }
bool Macro_Start_Call_From_Operand(const char*, uint32_t) { return false; }
bool Macro_Start_Call_From_Statement(const char*, uint32_t) { return false; }
bool Macro_Start_Call_From_Equ(const char*, uint32_t) { return false; }
void Macro_Reset_Pass() {}
