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
// Inside an open structure definition a data or reserve statement declares a
// member instead of emitting bytes: the item (or, for a reserve, the count),
// the item's bits and its bytes per unit.
void Struc_Data_Member(const char* text, uint32_t length, uint32_t bits, uint32_t unit_bytes, bool count);
