// Structures and unions: the entry points the core calls.
#pragma once
#include <cstdint>

// The member `.m` (text from the dot on) of structure `structure`.
bool Struc_Member_Of(int32_t structure, const char* member, uint32_t length, uint32_t* offset, uint32_t* data_type);
bool Struc_Size_Of_Name(const char* name, uint32_t length, uint32_t* size);
bool Struc_Member_Of_Name(const char* name, uint32_t length, uint32_t* offset, uint32_t* data_type);
bool Struc_Is_Open();
// A structure name at a statement start begins an instance declaration (true).
bool Struc_Start_Instance(const char* name, uint32_t length);
void Struc_File_Start();
