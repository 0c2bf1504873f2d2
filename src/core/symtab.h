// A growable table of fixed-size records with 65,536 hash-chain heads: the
// shape of every symbol table in the assembler. Records move when the table
// grows, so callers keep indices, never pointers.
#pragma once
#include <cstdint>

#include "core/platform/platform.h"
#include "core/text.h"

constexpr uint32_t Symbol_Hash_Heads = 65536;

// A quick "certainly absent" test in front of a hash lookup: the first bytes
// and the lengths of every name in a table. Numbers, registers and other words
// that no name of the table could match are turned away before any hashing.
struct Name_Filter {
  uint32_t first[8] = {};
  uint32_t lengths[4] = {};  // lengths 0..127
  bool lengths_long = false;  // a name of 128 bytes or more was added

  void Add(uint8_t first_byte, uint32_t length) {
    first[first_byte >> 5] |= 1u << (first_byte & 31);
    if (length < 128) lengths[length >> 5] |= 1u << (length & 31);
    else lengths_long = true;
  }
  bool May_Hold(uint8_t first_byte, uint32_t length) const {
    if (!(first[first_byte >> 5] & (1u << (first_byte & 31)))) return false;
    return length < 128 ? (lengths[length >> 5] & (1u << (length & 31))) != 0 : lengths_long;
  }
};

// Record must have: char name[N]; uint32_t name_length; int32_t next;
template <class Record>
struct Symbol_Table {
  Record* records = nullptr;
  int32_t* heads = nullptr;
  int32_t count = -1;  // index of the last record, -1 when empty
  uint32_t capacity = 0;
  uint32_t step = 0;
  Name_Filter filter;

  static constexpr uint32_t Name_Capacity = sizeof(Record{}.name);

  bool Created() const { return records != nullptr; }

  int Create(uint32_t initial, uint32_t grow_step) {
    Free();
    records = static_cast<Record*>(Mem_Alloc(initial * static_cast<uint32_t>(sizeof(Record))));
    heads = static_cast<int32_t*>(Mem_Alloc((Symbol_Hash_Heads + 2) * static_cast<uint32_t>(sizeof(int32_t))));
    if (!records || !heads) {
      Free();
      return -1;
    }
    Mem_Fill(heads, 0xFF, (Symbol_Hash_Heads + 1) * static_cast<uint32_t>(sizeof(int32_t)));  // every head -1
    count = -1;
    filter = Name_Filter{};
    capacity = initial;
    step = grow_step;
    return 0;
  }

  void Free() {
    if (records) Mem_Free(records, 0, capacity * static_cast<uint32_t>(sizeof(Record)));
    if (heads) Mem_Free(heads, 0, (Symbol_Hash_Heads + 2) * static_cast<uint32_t>(sizeof(int32_t)));
    records = nullptr;
    heads = nullptr;
    count = -1;
    capacity = 0;
    filter = Name_Filter{};
  }

  Record& operator[](int32_t index) { return records[index]; }
  const Record& operator[](int32_t index) const { return records[index]; }

  // Appends a record named `name` (which must fit Name_Capacity - 1 bytes) and
  // links it first in its chain. Returns its index, or -1 when the table
  // cannot grow (nothing changes then).
  int32_t Add(const char* name, uint32_t length, uint16_t hash) {
    if (!records) return -1;
    if (static_cast<uint32_t>(count + 1) >= capacity) {
      uint32_t bigger = capacity + step;
      auto* grown = static_cast<Record*>(Mem_Alloc(bigger * static_cast<uint32_t>(sizeof(Record))));
      if (!grown) return -1;
      for (int32_t i = 0; i <= count; ++i) grown[i] = records[i];
      Mem_Free(records, 0, capacity * static_cast<uint32_t>(sizeof(Record)));
      records = grown;
      capacity = bigger;
    }
    int32_t index = count + 1;
    Record& r = records[index];
    r = Record{};
    for (uint32_t i = 0; i < length; ++i) r.name[i] = name[i];
    r.name[length] = 0;
    r.name_length = length;
    r.next = heads[hash];
    heads[hash] = index;
    count = index;
    filter.Add(static_cast<uint8_t>(name[0]), length);
    return index;
  }

  // Case-sensitive lookup by name: the index or -1.
  int32_t Find(const char* name, uint32_t length) const {
    if (!records || count < 0 || length == 0) return -1;
    if (!filter.May_Hold(static_cast<uint8_t>(name[0]), length)) return -1;
    for (int32_t i = heads[Symbol_Hash(name, length)]; i >= 0; i = records[i].next) {
      const Record& r = records[i];
      if (Str_Equal(r.name, r.name_length, name, length)) return i;
    }
    return -1;
  }
};
