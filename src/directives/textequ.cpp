// Text equates are not assembled by this build yet: there are none.
#include "directives/textequ.h"

bool Text_Equ_Any() { return false; }
bool Text_Equ_Find(const char*, uint32_t, const char**, uint32_t*) { return false; }
void Text_Equ_Current_Reset() {}
bool Str_Func_Start(const char*, uint32_t) { return false; }
