// A growable table of fixed-size records with hash chains: the shape of every
// symbol table in the assembler. Records and chain heads both grow
// geometrically (the heads stay at least twice as many as the records, so
// that a chain holds one record or none as a rule), so n names cost O(n) in
// all. Records move when the table grows, so callers keep indices, never
// pointers.
#pragma once
#include <algorithm>
#include <cstdint>
#include <type_traits>

#include "core/lookup_tape.h"
#include "core/platform/platform.h"
#include "core/text.h"

constexpr uint32_t Symbol_Hash_Heads = 1024;  // the first chain-head count; doubles with the records

// The chain hash of a name: FNV-1a of the name without its trailing digits,
// plus the number those digits spell. Names numbered in a row (L1, L2 ...,
// as generated labels are) fall into neighbouring chains, so a table filled
// or searched in their order is read in order, not all over memory.
inline uint32_t Name_Hash(const char* name, uint32_t length) {
  uint32_t stem = length;
  while (stem > 0 && name[stem - 1] >= '0' && name[stem - 1] <= '9') --stem;
  uint32_t number = 0;
  for (uint32_t i = stem; i < length; ++i) number = number * 10 + static_cast<uint32_t>(name[i] - '0');
  return Fnv1a32(name, stem) + number;
}

// Every user name that a table or frame stores is shown to this check
// (symbols.cpp): it remembers whether any name is spelled like a register,
// starts with a digit or holds + - *, which the operand parser's fast paths
// must rule out.
void Symbol_Name_Added(const char* name, uint32_t length);

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

// A record holds its name (char name[N]; uint32_t name_length), or leaves
// it to the table: then the names stand in one character pool, so that the
// records are small and many of them stay in the caches (labels, equates).
// Each record sits in one entry with its chain link, its name's hash and
// length: a lookup walks heads and entries and compares a name only where
// the hash matches, and the record it finds is already at hand.
template <class Record>
struct Symbol_Table {
  static constexpr bool Inline_Names = requires(Record r) { r.name; };
  struct Link {
    int32_t next;
    uint32_t hash;
    uint32_t name;    // the name's offset in the pool (pooled names)
    uint32_t length;
  };
  // A pooled name shorter than Short_Name_Size also stands in its entry,
  // which then fills one cache line: a lookup reads the entry and the name it
  // compares from that one line. Longer names are read from the pool.
  static constexpr uint32_t Line_Bytes = 64;
  static constexpr uint32_t Short_Name_Size =
      Inline_Names || sizeof(Link) + sizeof(Record) + 12 > Line_Bytes ? 0 : Line_Bytes - sizeof(Link) - sizeof(Record);
  struct Entry_Plain {
    Link link;
    Record record;
  };
  struct Entry_Short {
    Link link;
    Record record;
    char short_name[Short_Name_Size ? Short_Name_Size : 1];
  };
  using Entry = std::conditional_t<Short_Name_Size != 0, Entry_Short, Entry_Plain>;
  Entry* entries = nullptr;
  void* entry_block = nullptr;  // the allocation that holds `entries`, aligned to a line in it
  int32_t* heads = nullptr;
  char* pool = nullptr;   // pooled names, each followed by a NUL
  uint32_t pool_size = 0;
  uint32_t pool_capacity = 0;
  int32_t count = -1;  // index of the last record, -1 when empty
  uint32_t capacity = 0;
  uint32_t step = 0;
  uint32_t head_count = 0;  // a power of two
  Name_Filter filter;
  uint32_t tape_table = Tape_None;  // what the lookup tape calls this table

  const char* Name(int32_t index) const {
    if constexpr (Inline_Names) {
      return entries[index].record.name;
    } else {
      if constexpr (Short_Name_Size != 0) {
        if (entries[index].link.length < Short_Name_Size) return entries[index].short_name;
      }
      return pool + entries[index].link.name;
    }
  }
  uint32_t Name_Length(int32_t index) const { return entries[index].link.length; }

  bool Created() const { return entries != nullptr; }

  int Create(uint32_t initial, uint32_t grow_step, uint32_t tape = Tape_None) {
    Free();
    tape_table = tape;
    if (tape != Tape_None) Tape_Register(tape, {this, &Tape_Prefetch, &Tape_Bytes, &Tape_Prefetch_Entry});
    entries = Alloc_Entries(initial, &entry_block);
    heads = static_cast<int32_t*>(Mem_Alloc(Symbol_Hash_Heads * static_cast<uint32_t>(sizeof(int32_t))));
    head_count = Symbol_Hash_Heads;
    capacity = initial;
    if (!entries || !heads) {
      Free();
      return -1;
    }
    for (uint32_t i = 0; i < head_count; ++i) heads[i] = -1;
    count = -1;
    filter = Name_Filter{};
    step = grow_step;
    return 0;
  }

  void Free() {
    if (pool) Mem_Free(pool, 0, pool_capacity);
    pool = nullptr;
    pool_size = pool_capacity = 0;
    if (entry_block) Mem_Free(entry_block, 0, Entry_Block_Size(capacity));
    entry_block = nullptr;
    if (heads) Mem_Free(heads, 0, head_count * static_cast<uint32_t>(sizeof(int32_t)));
    if (tape_table != Tape_None) Tape_Register(tape_table, {});
    tape_table = Tape_None;
    entries = nullptr;
    heads = nullptr;
    head_count = 0;
    count = -1;
    capacity = 0;
    filter = Name_Filter{};
  }

  Record& operator[](int32_t index) { return entries[index].record; }
  const Record& operator[](int32_t index) const { return entries[index].record; }

  // Every record taken out of its chain; the records and their count stay
  // as they are (Empty or Relink follow).
  void Clear_Chains() {
    for (uint32_t i = 0; i < head_count; ++i) heads[i] = -1;
  }
  // No record: the table is filled anew (a table rebuilt in every pass).
  void Empty() {
    Clear_Chains();
    count = -1;
    pool_size = 0;
  }
  // The newest record taken back (it is the first of its chain).
  void Drop_Last() {
    if (count < 0) return;
    const Link& l = entries[count].link;
    heads[l.hash & (head_count - 1)] = l.next;
    if constexpr (!Inline_Names) pool_size = l.name;
    count -= 1;
  }
  // The records put in order by `less` (equal ones keep their order), and
  // linked again.
  template <class Less>
  void Sort(Less less) {
    if (count < 1) return;
    std::stable_sort(entries, entries + count + 1,
                     [&](const Entry& a, const Entry& b) { return less(a.record, b.record); });
    Relink();
  }

 private:
  // Every record linked again, newest first, as Add links them (after the
  // records were reordered in place: an inline name moves with its record,
  // its length is read from it).
  void Relink() {
    Clear_Chains();
    for (int32_t i = 0; i <= count; ++i) {
      Link& l = entries[i].link;
      if constexpr (Inline_Names) l.length = entries[i].record.name_length;
      l.hash = Name_Hash(Name(i), l.length);
      Link_Record(i, l.hash);
    }
  }


 public:
  // Appends a record named `name` (which the callers keep within the names'
  // size; an inline name must fit its array with a NUL) and links it first
  // in its chain. Returns its index, or -1 when the table cannot grow
  // (nothing changes then). The table hashes the name itself; `hash`
  // (Symbol_Hash of the name) is kept for the callers' sake.
  int32_t Add(const char* name, uint32_t length, uint16_t /*hash*/) {
    if (!entries) return -1;
    if (2 * static_cast<uint64_t>(count + 1) >= head_count && head_count < 0x40000000u) Grow_Heads();
    if (static_cast<uint32_t>(count + 1) >= capacity && !Grow_Entries()) return -1;
    uint32_t offset = 0;
    int32_t index = count + 1;
    Entry& e = entries[index];
    if constexpr (!Inline_Names) {
      offset = pool_size;  // a short name takes no pool bytes: Drop_Last finds the pool as it was
      char* to = nullptr;
      if constexpr (Short_Name_Size != 0) {
        if (length < Short_Name_Size) to = e.short_name;
      }
      if (!to) {
        if (!Pool_Room(length + 1)) return -1;
        to = pool + offset;
        pool_size += length + 1;
      }
      for (uint32_t i = 0; i < length; ++i) to[i] = name[i];
      to[length] = 0;
    }
    e.record = Record{};
    if constexpr (Inline_Names) {
      for (uint32_t i = 0; i < length; ++i) e.record.name[i] = name[i];
      e.record.name[length] = 0;
      e.record.name_length = length;
    }
    e.link.name = offset;
    e.link.length = length;
    Link_Record(index, Name_Hash(name, length));
    count = index;
    filter.Add(static_cast<uint8_t>(name[0]), length);
    Symbol_Name_Added(name, length);
    return index;
  }

  // Case-sensitive lookup by name: the index or -1.
  int32_t Find(const char* name, uint32_t length) const {
    if (!entries || count < 0 || length == 0) return -1;
    if (!filter.May_Hold(static_cast<uint8_t>(name[0]), length)) return -1;
    const uint32_t hash = Name_Hash(name, length);
    for (int32_t i = heads[hash & (head_count - 1)]; i >= 0; i = entries[i].link.next) {
      const Link& l = entries[i].link;
      if (l.hash == hash && Str_Equal(Name(i), l.length, name, length)) {
        Tape_Found(tape_table, i, hash);
        return i;
      }
      Tape_Passed(tape_table, i);
    }
    return -1;
  }

  // The lookup tape's view: a record's entry and chain head fetched ahead,
  // and the bytes that lookups read at random.
  static void Tape_Prefetch(const void* table, uint32_t index, uint32_t hash) {
    const Symbol_Table& t = *static_cast<const Symbol_Table*>(table);
    if (!t.entries || static_cast<int64_t>(index) > t.count) return;
    __builtin_prefetch(&t.heads[hash & (t.head_count - 1)]);
    __builtin_prefetch(&t.entries[index]);
  }
  static void Tape_Prefetch_Entry(const void* table, uint32_t index) {
    const Symbol_Table& t = *static_cast<const Symbol_Table*>(table);
    if (t.entries && static_cast<int64_t>(index) <= t.count) __builtin_prefetch(&t.entries[index]);
  }
  static uint64_t Tape_Bytes(const void* table) {
    const Symbol_Table& t = *static_cast<const Symbol_Table*>(table);
    return static_cast<uint64_t>(t.count + 1) * sizeof(Entry) + uint64_t{t.head_count} * sizeof(int32_t);
  }

 private:
  void Link_Record(int32_t index, uint32_t hash) {
    const uint32_t c = hash & (head_count - 1);
    entries[index].link.next = heads[c];
    entries[index].link.hash = hash;
    heads[c] = index;
  }

  // Entries of a line each start on a line; the block is one line longer.
  static uint64_t Entry_Block_Bytes(uint64_t n) {
    return n * sizeof(Entry) + (Short_Name_Size != 0 ? Line_Bytes : 0);
  }
  // The same, for a count whose block is known to fit (it was allocated).
  static uint32_t Entry_Block_Size(uint32_t n) { return static_cast<uint32_t>(Entry_Block_Bytes(n)); }
  static Entry* Alloc_Entries(uint32_t n, void** block) {
    *block = Mem_Alloc(Entry_Block_Size(n));
    if (!*block || Short_Name_Size == 0) return static_cast<Entry*>(*block);
    const uintptr_t at = reinterpret_cast<uintptr_t>(*block);
    return reinterpret_cast<Entry*>((at + Line_Bytes - 1) & ~static_cast<uintptr_t>(Line_Bytes - 1));
  }

  // Room for `n` more pool bytes; the pool at least doubles when it grows.
  bool Pool_Room(uint32_t n) {
    if (static_cast<uint64_t>(pool_size) + n <= pool_capacity) return true;
    uint64_t wanted = static_cast<uint64_t>(pool_capacity) * 2;
    if (wanted < static_cast<uint64_t>(pool_size) + n) wanted = static_cast<uint64_t>(pool_size) + n;
    if (wanted < 4096) wanted = 4096;
    if (wanted > 0xFFFFFFFFu) return false;
    auto* grown = static_cast<char*>(Mem_Alloc(static_cast<uint32_t>(wanted)));
    if (!grown) return false;
    for (uint32_t i = 0; i < pool_size; ++i) grown[i] = pool[i];
    if (pool) Mem_Free(pool, 0, pool_capacity);
    pool = grown;
    pool_capacity = static_cast<uint32_t>(wanted);
    return true;
  }

  // Twice the chain heads, every record linked again (newest first, as Add
  // links them). False when there is no memory: the old heads stay.
  bool Grow_Heads() {
    const uint32_t more = head_count * 2;
    auto* grown = static_cast<int32_t*>(Mem_Alloc(more * static_cast<uint32_t>(sizeof(int32_t))));
    if (!grown) return false;
    Mem_Free(heads, 0, head_count * static_cast<uint32_t>(sizeof(int32_t)));
    heads = grown;
    head_count = more;
    Clear_Chains();
    for (int32_t i = 0; i <= count; ++i) Link_Record(i, entries[i].link.hash);
    return true;
  }

  // Geometric growth: n records cost O(n) copies in all. `step` is the least
  // growth; the table at least doubles. False when there is no memory (the
  // table stays as it was).
  bool Grow_Entries() {
    const uint64_t wanted = static_cast<uint64_t>(capacity) + (step > capacity ? step : capacity);
    if (wanted * sizeof(Entry) > 0xFFFFFFFFu) return false;
    const uint32_t bigger = static_cast<uint32_t>(wanted);
    if (Entry_Block_Bytes(bigger) > 0xFFFFFFFFu) return false;
    void* block = nullptr;
    Entry* grown = Alloc_Entries(bigger, &block);
    if (!grown) return false;
    for (int32_t i = 0; i <= count; ++i) grown[i] = entries[i];
    Mem_Free(entry_block, 0, Entry_Block_Size(capacity));
    entries = grown;
    entry_block = block;
    capacity = bigger;
    return true;
  }
};
