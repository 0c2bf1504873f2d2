// Keyword and register tables. The built-in keyword list (every mnemonic,
// directive, calling-convention and resource-script word) and the register
// list are loaded into hashed tables once per assembled file; lookups ignore
// case. Short keyword lists (operand modifiers) are searched linearly.
#pragma once
#include <cstdint>

#include "core/fixed_names.h"
#include "core/symtab.h"

struct Keyword_Entry;
// A keyword handler receives its loaded entry; payload k is entry->payload[k-1].
using Keyword_Handler = void (*)(const Keyword_Entry* keyword);

// Keyword kind bits.
enum : uint32_t {
  Kw_Code = 1,        // generates code or data: needs a section or an open structure
  Kw_Directive = 2,
  Kw_Modifier = 4,    // operand-modifier list entries
  Kw_Convention = 8,
  Kw_Resource = 16,   // valid only inside a resource block
  Kw_Varg = 32,
};

// "No further opcode byte" / "no mandatory prefix" in SSE payloads.
constexpr uint32_t Payload_None = 0xFFFFFFFFu;

// Handler identities of the built-in keyword list (keyword_list.h), resolved to
// functions by Keyword_Handler_Of (keyword_handlers.cpp). A family that this
// build does not assemble resolves to nullptr; using such a keyword reports
// "<keyword>: not implemented".
enum class Kh : uint16_t;

// One record of the built-in keyword list.
struct Keyword_Record {
  const char* name;  // lower case
  uint32_t kind;
  Kh handler;
  uint32_t payload[4];
};
Keyword_Handler Keyword_Handler_Of(Kh id);

struct Keyword_Entry {
  char name[32];
  uint32_t name_length;
  uint32_t use_count;
  int32_t next;
  uint32_t kind;
  Keyword_Handler handler;
  uint32_t payload[4];
};

struct Register_Record {
  const char* name;
  uint32_t size;
  uint32_t number;
  uint32_t reg_class;
};

struct Register_Entry {
  char name[32];
  uint32_t name_length;
  uint32_t use_count;
  int32_t next;
  uint32_t size;
  uint32_t number;
  uint32_t reg_class;
};

// Register classes.
enum : uint32_t {
  Reg_General = 1, Reg_X87 = 2, Reg_Segment = 3, Reg_MMX = 4, Reg_XMM = 5, Reg_Control = 6, Reg_Debug = 7,
};

// Short keyword list record (operand modifiers and the like).
struct Short_Keyword;
using Short_Keyword_Handler = void (*)(const Short_Keyword* keyword);
struct Short_Keyword {
  const char* name;
  uint32_t kind;
  Short_Keyword_Handler handler;
  uint32_t payload;
};

constexpr uint32_t Keyword_Capacity = 1024;
constexpr uint32_t Register_Capacity = 512;

struct Keyword_State {
  Keyword_Entry* Keywords = nullptr;
  int32_t Keyword_Count = -1;
  Register_Entry* Registers = nullptr;
  int32_t Register_Count = -1;
  // Hit globals of the last successful Keyword_Find / Keyword_List_Find.
  uint32_t Keyword_Hit_Kind = 0;
  const Keyword_Entry* Keyword_Hit_Entry = nullptr;
};
extern Keyword_State Keywords;

// The built-in lists (keyword_list.cpp).
extern const Keyword_Record Builtin_Keywords[];
extern const uint32_t Builtin_Keyword_Count;
extern const Register_Record Builtin_Registers[];
extern const uint32_t Builtin_Register_Count;
// The same lists as hash tables the compiler builds (fixed_names.h).
using Keyword_Name_Table = Fixed_Name_Table<1024>;
using Register_Name_Table = Fixed_Name_Table<512>;
extern const Keyword_Name_Table Keyword_Names;
extern const Register_Name_Table Register_Names;
extern const Short_Keyword Modifier_List[];
extern const uint32_t Modifier_List_Count;
// The operand modifier of that name (A-Z taken as a-z), or nullptr.
const Short_Keyword* Modifier_Find(const char* text, uint32_t length);

int Keyword_Table_Create();
void Keyword_Table_Fill();
void Keyword_Table_Free();
int32_t Keyword_Add(uint32_t length, const char* name, uint32_t kind, Keyword_Handler handler,
                    const uint32_t payload[4]);
// 0 and the hit globals set (use count + 1), or -1.
int Keyword_Find(const char* text, uint32_t length);

int Register_Table_Create();
void Register_Table_Fill();
void Register_Table_Free();
int32_t Register_Add(uint32_t length, const char* name, uint32_t size, uint32_t number, uint32_t reg_class);

struct Register_Hit {
  uint32_t size;
  uint32_t number;
  uint32_t reg_class;
  int32_t entry;
};
// -1 when the text is no register name.
int Register_Find(const char* text, uint32_t length, Register_Hit* hit);
// The built-in register record named `text`, or -1 (no table needed).
int32_t Builtin_Register_Index(const char* text, uint32_t length);

// Linear search of a short list: the record, or nullptr.
const Short_Keyword* Keyword_List_Find(const char* text, uint32_t length, const Short_Keyword* list,
                                       uint32_t count);

// Runs a keyword's handler, or reports "<name>: not implemented".
void Keyword_Run(const Keyword_Entry* entry);
