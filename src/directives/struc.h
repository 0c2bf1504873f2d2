// Structures, unions, structure instances with initialisers, `rs`, and
// enumerations.
//
// A structure definition (`struc NAME` ... `ends`) emits nothing: the data and
// reserve statements inside it declare members, named NAME.member, at the
// structure's growing size (inside a union all at the union's start). A label
// of a structure type reaches its members as label.member, and paths a.b.c
// walk nested structures. Enumerations are runs of numeric equates.
#pragma once
#include <cstdint>
#include <vector>

#include "core/symtab.h"

constexpr uint32_t Struc_Name_Size = 128;
constexpr uint32_t Struc_Init_Depth = 16;

// Structures and members leave their names (at most Struc_Name_Size - 1
// bytes) to their tables' pools: the records stay small.
struct Struc_Record {
  uint32_t size;
  uint32_t use_count;
  int32_t first_member;   // the members' indices, while they stand in a row
  uint32_t member_count;
  bool members_in_row;
};

struct Member_Record {  // named STRUCTURE.member
  uint32_t type;     // item bits; 8 for a nested instance or an `rs` member
  uint32_t offset;
  int32_t nested;    // structure of a nested instance or `rs`, else -1
  uint32_t count;    // elements of a reserve member, else 1
  int32_t owner;
  uint32_t use_count;
};

struct Enum_Record {
  char name[Struc_Name_Size];
  uint32_t name_length;
  uint32_t start;
  uint32_t count;
  uint32_t max;
};

// One level of an instance initialiser: the structure being filled and where.
struct Struc_Init_Level {
  int32_t structure = -1;
  uint32_t size = 0;
  uint32_t base_offset = 0;   // Section_Write_Offset of the level's first byte
  uint32_t base_address = 0;  // Location_Counter of the level's first byte
  uint32_t ordinal = 0;       // the member the next value fills
  int32_t explicit_offset = -1;
  int32_t explicit_type = -1;
  uint32_t named = 0;
  uint32_t array = 0;
};

struct Struc_State {
  Symbol_Table<Struc_Record> Strucs;
  Symbol_Table<Member_Record> Members;
  Symbol_Table<Enum_Record> Enums;
  std::vector<std::vector<int32_t>> Members_Of;  // member indices by structure, in declaration order
  std::vector<uint32_t> Member_Tags;  // by member: Member_Tag of its dotted part
  // Some structure or member name holds a '.': then "S.m" might name a
  // member of another structure, and only the table says which.
  bool Dotted_Names = false;
  int32_t Struc_Current = -1;
  int32_t Union_Depth = -1;
  uint32_t Union_Largest = 0;
  // The open instance initialiser.
  Struc_Init_Level Init;
  uint32_t Array_Type = 0, Array_Index = 0, Array_Count = 0;
  Struc_Init_Level Init_Stack[Struc_Init_Depth];
  uint32_t Init_Depth = 0;
  uint32_t Init_Overflow = 0;  // `{` refused at the depth limit, still to be closed
  // `rs`: the structure between its name and its count.
  int32_t Rs_Structure = -1;
  uint32_t Rs_Size = 0;
  // The open `enum` statement.
  int32_t Enum_Current = -1;
  uint32_t Enum_Params = 0;
  uint32_t Enum_Value = 0;
  uint32_t Enum_Max = 0;
};
extern Struc_State Strucs;

int Struc_Tables_Create();
void Struc_Tables_Free();

// The member `.m` (text from the dot on, paths .m.k included) of `structure`.
bool Struc_Member_Of(int32_t structure, const char* member, uint32_t length, uint32_t* offset, uint32_t* data_type);
bool Struc_Size_Of_Name(const char* name, uint32_t length, uint32_t* size);
// NAME.member or a path NAME.a.b: the summed offset and the last member's type.
bool Struc_Member_Of_Name(const char* name, uint32_t length, uint32_t* offset, uint32_t* data_type);
bool Struc_Is_Open();
// A structure name at a statement start begins an instance declaration (true).
bool Struc_Start_Instance(const char* name, uint32_t length);
void Struc_File_Start();
// `org n` inside a definition: the structure grows by n (first pass only).
void Struc_Org_Grow(uint64_t bytes);
// At the end of a file: the enumeration or initialiser it left open; at the
// end of the main file also a definition.
void Struc_File_End_Checks();
// Inside an open structure definition a data or reserve statement declares a
// member instead of emitting bytes: the item (or, for a reserve, the count),
// the item's bits and its bytes per unit.
void Struc_Data_Member(const char* text, uint32_t length, uint32_t bits, uint32_t unit_bytes, bool count);

struct Keyword_Entry;
void Dir_Struc(const Keyword_Entry* keyword);
void Dir_Ends(const Keyword_Entry* keyword);
void Dir_Union(const Keyword_Entry* keyword);
void Dir_Endu(const Keyword_Entry* keyword);
void Dir_Rs(const Keyword_Entry* keyword);
void Dir_Enum(const Keyword_Entry* keyword);
void Dir_Ende(const Keyword_Entry* keyword);
