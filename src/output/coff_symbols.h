// COFF symbol and string tables: the symbols of COFF objects and the debug
// symbols of PE32 images, built by one routine. Every name lives in the
// string table; the short names of ".file", ".bf", ".lf" and ".ef" are kept
// in the record.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

#include "output/byte_sink.h"

struct Obj_Globals;

constexpr uint32_t Coff_Symbol_Bytes = 18;

struct Coff_Symbol_Table {
  Byte_Sink symbols;  // the records, auxiliary records included
  Byte_Sink strings;  // starts with its 4-byte size field
  uint32_t count = 0;
  uint32_t first_section = 0;             // index of the first section symbol
  std::vector<uint32_t> section_string;   // per section: its name in the string table
  std::vector<int32_t> global_symbol;     // per entry of the globals: its symbol, -1 none

  Coff_Symbol_Table();
  uint32_t String(const char* text, uint32_t length);
  // A symbol named by a string-table offset, or by a short name of at most 8
  // bytes; `aux` auxiliary records must follow. Returns its index.
  uint32_t Add(uint32_t name, uint32_t value, int32_t section_number, uint32_t type, uint32_t storage,
               uint32_t aux = 0);
  uint32_t Add_Short(const char* name, uint32_t value, int32_t section_number, uint32_t type, uint32_t storage,
                     uint32_t aux);
  // One auxiliary record: 18 bytes, the 32-bit words given at their offsets.
  void Aux(std::initializer_list<std::pair<uint32_t, uint32_t>> words);

 private:
  uint32_t Add_Fields(uint32_t value, int32_t section_number, uint32_t type, uint32_t storage, uint32_t aux);
};

// An object's table: values are section offsets; with -dbg the ".file"
// records come first and what is not exported is STATIC; -dbg2 gives each
// PROC a function record. An image's debug table: values are rvas, every
// symbol of the program EXTERNAL, no function records.
struct Coff_Table_Kind {
  bool image;
  uint32_t debug;  // Debug_Info
};

// The sections, the globals (in their order) and, with -dbg, each PROC, the
// local labels of each PROC as "proc.label", and every label. A name is
// given once: a definition among the globals stays the one symbol.
void Coff_Build_Symbols(Coff_Symbol_Table& table, const Obj_Globals& globals, Coff_Table_Kind kind);
