// Linkage declarations: import libraries, imported or external functions,
// exports and the entry point. CALL and INVOKE look imports up and count
// their uses; the output writers read the tables and fill the fields kept
// for them (IAT slots, thunks, symbol numbers).
#pragma once
#include <cstdint>
#include <string>
#include <unordered_map>

#include "core/symtab.h"

constexpr uint32_t Import_Name_Size = 128;  // names hold at most 127 bytes
constexpr uint32_t Import_Dll_Max = 256;
constexpr uint32_t Import_Func_Grow_Step = 2048;
constexpr uint32_t Export_Grow_Step = 1024;

enum Import_Dll_Kind : uint32_t { Dll_Kind_Dll = 0, Dll_Kind_Lib = 1 };

struct Import_Dll_Record {
  char name[Import_Name_Size];
  uint32_t name_length;
  uint32_t kind;       // Import_Dll_Kind
  uint32_t writer[2];  // the PE writers' words: bit 0 of [0] = used
};

struct Import_Function_Record {
  char name[Import_Name_Size];
  uint32_t name_length;
  uint32_t library;       // Import_Dll_Record index (0 for extern)
  uint32_t external;      // 1: import_lib or extern, no IAT slot and no thunk
  uint32_t iat_slot_rva;  // filled by the PE import builders
  uint32_t thunk_address; // filled by Import_Thunks_Emit after every pass
  char alias[Import_Name_Size];
  uint32_t alias_length;  // 0: none
  uint32_t convention;    // 0 stdcall, 1 cdecl, 3 noframe, 4 win64_push, 5 win64, 6 lin64
  int32_t arg_count;      // -1 unknown
  uint32_t flags;         // bit 0: varg
  uint32_t use_count;
  uint32_t symbol[5];     // the object writers' symbol numbers
};

struct Export_Record {
  char name[Import_Name_Size];
  uint32_t name_length;
  char alias[Import_Name_Size];
  uint32_t alias_length;
  uint32_t address;
  uint32_t section;
  uint32_t writer[3];
};

struct Entry_Record {
  uint32_t set;        // 1 once an entry statement resolved
  uint64_t value;      // address or number
  int32_t section;     // -1 for a number
  uint32_t name_length;
  char name[Import_Name_Size];
};

struct Import_State {
  Import_Dll_Record Dlls[Import_Dll_Max];
  int32_t Import_Dll_Count = -1;  // index of the last library
  uint32_t Current_Library = 0;
  uint32_t Current_Kind = 0;      // the external flag the next name takes
  Symbol_Table<Import_Function_Record> Funcs;
  int32_t Import_Func_Current = -1;  // the import named on this line
  Symbol_Table<Export_Record> Exports;
  int32_t Export_Current = -1;       // the export named on this line
  // The names exported so far in this pass (the alias where one is given),
  // each with its export: a name is exported once.
  std::unordered_map<std::string, int32_t> Exported;
  Entry_Record Entry;
};
extern Import_State Imports;

// Tables: created and freed once per source file; exports rebuilt every pass.
int Import_Tables_Create();
void Import_Tables_Free();
void Imports_Reset_Pass();
void Imports_Line_End();  // the names of this line stop taking attributes

int32_t Import_Dll_Create(const char* name, uint32_t length, uint32_t kind);
int32_t Import_Func_Create(const char* name, uint32_t length, uint32_t library, uint32_t external);
int32_t Import_Func_Find(const char* name, uint32_t length);
// A name defined here (label, equate or PROC) that is also imported or
// external is reported with `message` by the definition that comes second.
bool Import_Clash(const char* message, const char* name, uint32_t length);
// Counts one use (CALL, INVOKE) of the import at `index`.
void Import_Func_Use(int32_t index);

// An imported or external function as a call sees it.
struct Import_Func_Ref {
  uint32_t index;          // in the import function table
  uint32_t external;       // 1: an `extern` symbol that the linker resolves
  uint32_t thunk_address;  // the import's thunk (external 0)
  uint32_t thunk_section;
};
bool Import_Func_Find(const char* name, uint32_t length, Import_Func_Ref* found);
void Import_Func_Count_Use(uint32_t index);
int32_t Export_Create(const char* name, uint32_t length, uint32_t address, uint32_t section);
// Sorts the exports into ascending unsigned byte order of their names.
void Export_Sort();

inline int32_t Import_Func_Count() { return Imports.Funcs.count; }
inline int32_t Export_Count() { return Imports.Exports.count; }
inline Import_Function_Record& Import_Func_At(int32_t index) { return Imports.Funcs[index]; }
inline Export_Record& Export_At(int32_t index) { return Imports.Exports[index]; }

// Seams of the statement parser: attributes that follow the name on its line.
void Import_Func_Current_Reset();
bool Import_Func_Current_Set();
void Import_Func_Set_Arg_Count(const char* text, uint32_t length);
// A convention keyword on the line of an import (pass 1 only); false when
// this line names no import.
bool Import_Func_Set_Convention(uint32_t convention);
bool Import_Func_Set_Varg();
bool Imports_Declared();

// Keyword handlers and their word handlers.
struct Keyword_Entry;
void Dir_Import_Dll(const Keyword_Entry* keyword);
void Dir_Import_Lib(const Keyword_Entry* keyword);
void Dir_Import_Func(const Keyword_Entry* keyword);
void Dir_Extern(const Keyword_Entry* keyword);
void Dir_Export(const Keyword_Entry* keyword);
void Dir_Alias(const Keyword_Entry* keyword);
void Dir_Entry(const Keyword_Entry* keyword);
