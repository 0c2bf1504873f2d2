// Text equates (`define NAME text`, `tequ`) and the string functions
// `strcut`, `stradd` and `strlen`, plus `$emit_parg`.
//
// A text equate's name, standing later as a word or bracketed text, is
// parsed as its stored text. A string function takes over the statement
// until its last parameter, then hands its result back to the statement as a
// new word, string or bracketed token, as if that text had been written.
#pragma once
#include <cstdint>

#include "core/symtab.h"

constexpr uint32_t Text_Equ_Name_Size = 128;
constexpr uint32_t Text_Equ_Text_Size = 256;
constexpr uint32_t Str_Params_Depth = 64;
constexpr uint32_t Str_Result_Size = 512;

struct Text_Equ_Record {
  char name[Text_Equ_Name_Size];
  uint32_t name_length;
  char text[Text_Equ_Text_Size];
  uint32_t text_length;
  uint32_t use_count;
};

// A string-function parameter: 1 word, 2 quoted string, 3 bracketed text.
struct Str_Param {
  const char* text = nullptr;
  uint32_t length = 0;
  uint32_t type = 0;
};

// What a string function saves of the statement it interrupts.
struct Str_Frame {
  uint32_t mode = 0;
  const char* pending_name = nullptr;
  uint32_t pending_length = 0;
  uint32_t count = 0;
  Str_Param params[3];
};

struct Text_Equ_State {
  Symbol_Table<Text_Equ_Record> Table;
  int32_t Current = -1;  // the text equate whose text this statement gives
  Str_Frame Frames[Str_Params_Depth];
  uint32_t Depth = 0;
  uint32_t Count = 0;  // parameters of the running function
  Str_Param Params[3];
};
extern Text_Equ_State Text_Equs;

int Text_Equ_Table_Init();
void Text_Equ_Table_Free();
void Text_Equ_Reset_Pass();

bool Text_Equ_Any();
// The stored text of `name` (a copy that lives until the statement ends).
bool Text_Equ_Find(const char* name, uint32_t length, const char** text, uint32_t* text_length);
void Text_Equ_Current_Reset();
// A string-function name as a value takes over the statement (true).
bool Str_Func_Start(const char* name, uint32_t length);

struct Keyword_Entry;
void Dir_Tequ(const Keyword_Entry* keyword);
