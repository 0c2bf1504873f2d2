// Statement dispatch: the first word of a statement is classified by
// Statement_Start; every later token goes by Parser_Mode to the handler that a
// family registered for that mode.
#pragma once
#include <cstdint>

#include "core/parser_modes.h"

struct Keyword_Entry;
struct Short_Keyword;

using Token_Handler = void (*)(const char* text, uint32_t length);

struct Mode_Handler {
  uint32_t mode;
  Token_Handler handler;
};

// The (mode, handler) pairs that one family registers for words, [..] texts
// and quoted strings. Every family table is listed in dispatch_registry.cpp.
struct Mode_Table {
  const char* family;
  const Mode_Handler* words;
  uint32_t word_count;
  const Mode_Handler* brackets;
  uint32_t bracket_count;
  const Mode_Handler* strings;
  uint32_t string_count;
};

extern const Mode_Table* const Family_Mode_Tables[];
extern const uint32_t Family_Mode_Table_Count;

struct Parser_State {
  uint32_t Parser_Mode = 0;
  uint32_t Code_Mode = 1;  // 0 = 16-bit, 1 = 32-bit, 2 = 64-bit code
  uint32_t Parse_Depth = 0;
  uint32_t Bom_Seen = 0;
  uint32_t Comment_Depth = 0;
  Token_Handler Word_Dispatch_Table[Parser_Mode_Slots] = {};
  Token_Handler Bracket_Dispatch_Table[Parser_Mode_Slots] = {};
  Token_Handler String_Dispatch_Table[Parser_Mode_Slots] = {};
};
extern Parser_State Parser;

enum Code_Mode_Code : uint32_t { Code_16 = 0, Code_32 = 1, Code_64 = 2 };

void Word_Dispatch_Build();
void Bracket_Dispatch_Build();

void Token_Word(const char* text, uint32_t length);
void Token_String(const char* text, uint32_t length);
void Token_Bracket(const char* text, uint32_t length);
void Statement_Start(const char* text, uint32_t length);
void Bracket_Statement_Start(const char* text, uint32_t length);
int Word_Dispatch(const char* text, uint32_t length);
int Bracket_Dispatch(const char* text, uint32_t length);
void Line_First_Code(uint32_t kind);

// Runs the word as an operand-modifier keyword when it is one (true).
bool Run_Modifier(const char* text, uint32_t length);
// After "<keyword>: not implemented": ignore the rest of the statement.
void Not_Implemented_Skip_Statement();

// Generic keyword handlers.
void Set_Parser_Mode(const Keyword_Entry* keyword);
void Use16(const Keyword_Entry* keyword);
void Use32(const Keyword_Entry* keyword);
void Use64(const Keyword_Entry* keyword);
void Emit_Prefix_Byte(const Short_Keyword* keyword);
void Mod_Kw_Flag(const Short_Keyword* keyword);
