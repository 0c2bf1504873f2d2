// Structures are not assembled by this build yet: no name is a structure.
#include "directives/struc.h"

bool Struc_Member_Of(int32_t, const char*, uint32_t, uint32_t*, uint32_t*) { return false; }
bool Struc_Size_Of_Name(const char*, uint32_t, uint32_t*) { return false; }
bool Struc_Member_Of_Name(const char*, uint32_t, uint32_t*, uint32_t*) { return false; }
bool Struc_Is_Open() { return false; }
bool Struc_Start_Instance(const char*, uint32_t) { return false; }
void Struc_File_Start() {}
void Struc_Data_Member(const char*, uint32_t, uint32_t, uint32_t, bool) {}
