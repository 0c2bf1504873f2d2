// A growable table of fixed-size records with hash chains: the shape of every
// symbol table in the assembler. Records and chain heads both grow
// geometrically (the heads stay at least as many as the records), so n names
// cost O(n) in all. Records move when the table grows, so callers keep
// indices, never pointers.
#pragma once
#include <cstdint>

#include "core/platform/platform.h"
#include "core/text.h"

constexpr uint32_t Symbol_Hash_Heads = 1024;

// Every user name that a table or frame stores is shown to this check
// (symbols.cpp): it remembers whether any name is spelled like a register,
// starts with a digit or holds + - *, which the operand parser's fast paths
// must rule out.
void Symbol_Name_Added(const char* name, uint32_t length);  // the first chain-head count; doubles with the records

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
  uint32_t head_count = 0;  // a power of two
  Name_Filter filter;

  static constexpr uint32_t Name_Capacity = sizeof(Record{}.name);

  bool Created() const { return records != nullptr; }

  int Create(uint32_t initial, uint32_t grow_step) {
    Free();
    records = static_cast<Record*>(Mem_Alloc(initial * static_cast<uint32_t>(sizeof(Record))));
    heads = static_cast<int32_t*>(Mem_Alloc(Symbol_Hash_Heads * static_cast<uint32_t>(sizeof(int32_t))));
    head_count = Symbol_Hash_Heads;
    if (!records || !heads) {
      Free();
      return -1;
    }
    for (uint32_t i = 0; i < head_count; ++i) heads[i] = -1;
    count = -1;
    filter = Name_Filter{};
    capacity = initial;
    step = grow_step;
    return 0;
  }

  void Free() {
    if (records) Mem_Free(records, 0, capacity * static_cast<uint32_t>(sizeof(Record)));
    if (heads) Mem_Free(heads, 0, head_count * static_cast<uint32_t>(sizeof(int32_t)));
    records = nullptr;
    heads = nullptr;
    head_count = 0;
    count = -1;
    capacity = 0;
    filter = Name_Filter{};
  }

  Record& operator[](int32_t index) { return records[index]; }
  const Record& operator[](int32_t index) const { return records[index]; }

  uint32_t Chain(const char* name, uint32_t length) const { return Fnv1a32(name, length) & (head_count - 1); }

  // Twice the chain heads, every record linked again (newest first, as Add
  // links them). False when there is no memory: the old heads stay.
  bool Grow_Heads() {
    const uint32_t more = head_count * 2;
    auto* grown = static_cast<int32_t*>(Mem_Alloc(more * static_cast<uint32_t>(sizeof(int32_t))));
    if (!grown) return false;
    Mem_Free(heads, 0, head_count * static_cast<uint32_t>(sizeof(int32_t)));
    heads = grown;
    head_count = more;
    for (uint32_t i = 0; i < head_count; ++i) heads[i] = -1;
    for (int32_t i = 0; i <= count; ++i) {
      const uint32_t c = Chain(records[i].name, records[i].name_length);
      records[i].next = heads[c];
      heads[c] = i;
    }
    return true;
  }

  // Appends a record named `name` (which must fit Name_Capacity - 1 bytes) and
  // links it first in its chain. Returns its index, or -1 when the table
  // cannot grow (nothing changes then). The table hashes the name itself;
  // `hash` (Symbol_Hash of the name) is kept for the callers' sake.
  int32_t Add(const char* name, uint32_t length, uint16_t /*hash*/) {
    if (!records) return -1;
    if (static_cast<uint32_t>(count + 1) >= head_count && head_count < 0x40000000u) Grow_Heads();
    if (static_cast<uint32_t>(count + 1) >= capacity) {
      // Geometric growth: n records cost O(n) copies in all. `step` is the
      // least growth; the table at least doubles.
      const uint64_t wanted = static_cast<uint64_t>(capacity) + (step > capacity ? step : capacity);
      if (wanted * sizeof(Record) > 0xFFFFFFFFu) return -1;
      const uint32_t bigger = static_cast<uint32_t>(wanted);
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
    const uint32_t c = Chain(name, length);
    r.next = heads[c];
    heads[c] = index;
    count = index;
    filter.Add(static_cast<uint8_t>(name[0]), length);
    Symbol_Name_Added(name, length);
    return index;
  }

  // Case-sensitive lookup by name: the index or -1.
  int32_t Find(const char* name, uint32_t length) const {
    if (!records || count < 0 || length == 0) return -1;
    if (!filter.May_Hold(static_cast<uint8_t>(name[0]), length)) return -1;
    for (int32_t i = heads[Chain(name, length)]; i >= 0; i = records[i].next) {
      const Record& r = records[i];
      if (Str_Equal(r.name, r.name_length, name, length)) return i;
    }
    return -1;
  }
};
