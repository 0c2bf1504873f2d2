// Label and equate tables: the program's user symbols. Pass 1 creates them;
// later passes find the same records and update them in place, counting every
// changed value so that the pass loop runs again.
#pragma once
#include <cstdint>
#include <vector>

#include "core/shortcuts.h"
#include "core/symtab.h"

constexpr uint32_t Symbol_Name_Size = 128;

// Labels and equates leave their names to the table's pool (symtab.h): the
// records stay small.
struct Label_Record {
  uint32_t data_type;   // item size in bits of the data after the label; 32 for `name:`
  uint32_t address;
  int32_t structure;    // structure record when the label is an instance, else -1
  uint32_t use_count;
  uint32_t section;
};

struct Equ_Record {
  uint64_t value;
  uint32_t use_count;
  uint32_t flags;  // Equ_Enum_Item, Equ_Provisional, Equ_Constant
};
constexpr uint32_t Equ_Enum_Item = 1;
// The value is pass 1's stand-in for an unknown one, or was computed from
// such a value: it is no answer yet, and the pass loop goes on until it is.
constexpr uint32_t Equ_Provisional = 2;
// Made by `name equ value`: a constant, which `=` does not assign again.
constexpr uint32_t Equ_Constant = 4;

// Values assigned to one `=` name, by order within a pass, for this pass and
// the one before: a reassignment counts as a change only when it differs from
// the same assignment of the previous pass.
struct Assign_History {
  uint32_t pass = 0;
  std::vector<uint64_t> previous, current;
};

struct Symbol_State {
  Symbol_Table<Label_Record> Labels;
  Symbol_Table<Equ_Record> Equates;
  int32_t Equ_Last_Created = -1;
  std::vector<Assign_History> Assignments;  // indexed by equate
  // The label defined after the one defined last, in the pass before: the
  // first guess of Label_Find_Defined.
  int32_t Label_Define_Next = -1;
  // Some user name is spelled like a register or a number, or holds + - *
  // (Symbol_Name_Added).
  bool Odd_Names = false;
  // Some label's name holds a '.' after its first byte: only then can a
  // dotted path name a label rather than a label's member.
  bool Dotted_Labels = false;
  // Finds of a provisional equate since the statement being defined began.
  uint32_t Provisional_Reads = 0;
};
extern Symbol_State Symbols;

constexpr uint32_t Label_Grow_Step = 2048;
constexpr uint32_t Equ_Grow_Step = 3072;

struct Label_Hit {
  int32_t index = -1;
  uint32_t data_type = 0;
  uint32_t address = 0;   // the (previous) address
  int32_t structure = -1;
};

// True while no user name could stand for a register, a number or a whole
// sum in an operand: then a text of registers and numbers means only that.
inline bool No_Odd_Names() { return Shortcuts_On() && !Symbols.Odd_Names; }

int Label_Table_Create();
void Label_Table_Free();
int32_t Label_Create(const char* name, uint32_t length, uint32_t data_type, uint32_t address);
int32_t Label_Find(const char* name, uint32_t length, uint32_t update, Label_Hit* hit);
int32_t Label_Find_Any(const char* name, uint32_t length, uint32_t update, Label_Hit* hit);
// Label_Find_Any for a label's definition in a later pass: labels are defined
// in the same order in every pass, so the record after the one defined last
// is tried first, without hashing, and the table is walked in order.
int32_t Label_Find_Defined(const char* name, uint32_t length, uint32_t update, Label_Hit* hit);
void Label_Define_Pending(uint32_t data_type);
// Marks a label as an instance of a structure (its members are label.member).
void Label_Set_Structure(const char* name, uint32_t length, int32_t structure);

int Equ_Table_Init();
void Equ_Table_Free();
int32_t Equ_Create(const char* name, uint32_t length, uint32_t low, uint32_t high);
int32_t Equ_Find(const char* name, uint32_t length, uint64_t* value);

// `equ` and `=` statements.
struct Keyword_Entry;
void Dir_Equ(const Keyword_Entry* keyword);
void Equ_Statement(const char* text, uint32_t length);
void Asign_Start(const char* text, uint32_t length);
void Asign_Value(const char* text, uint32_t length);
