// The lookup tape. A later pass reads the same source lines as pass 1, and
// their names find the same records in the same order. Once the tables have
// outgrown the caches, pass 1 notes, line by line, which record each lookup
// found (and which chain entries it read on the way); a later pass reads
// those notes a few lines ahead of the scanner and prefetches the records, so
// that a table too large for the caches is not waited for one lookup at a
// time. The notes decide nothing: every lookup runs in full, and a note that
// no longer fits its table prefetches nothing.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

enum Tape_Table : uint32_t {
  Tape_None = 0,
  Tape_Labels,
  Tape_Equates,
  Tape_Procs,
  Tape_Macros,
  Tape_Strucs,
  Tape_Members,
  Tape_Table_Count
};

// A table seen through the tape: its prefetch of one record (found by the
// name hashed to `hash`), its size, and its prefetch of a chain entry that a
// lookup passed on its way.
struct Tape_Table_Hooks {
  const void* table = nullptr;
  void (*prefetch)(const void* table, uint32_t index, uint32_t hash) = nullptr;
  uint64_t (*bytes)(const void* table) = nullptr;
  void (*entry)(const void* table, uint32_t index) = nullptr;
};

// A note: table (3 bits), lines since the previous note (5 bits), whether it
// names a passed chain entry (1 bit), index (23 bits), and above them the
// name's hash.
constexpr uint32_t Tape_Gap_Max = 31;
constexpr uint32_t Tape_Index_Limit = 1u << 23;
constexpr uint32_t Tape_Passed_Bit = 1u << 23;
constexpr uint32_t Tape_Lead_Lines = 16;
// Tables that fit the second-level cache are never waited for: no replay.
constexpr uint64_t Tape_Replay_Bytes = 1u << 20;
constexpr uint32_t Tape_Watch_Lines = 4096;  // a power of two

struct Lookup_Tape_State {
  std::vector<uint64_t> notes;
  Tape_Table_Hooks tables[Tape_Table_Count];
  uint32_t last_line = 0;    // line of the last note written
  size_t cursor = 0;         // next note to replay
  uint32_t cursor_line = 0;  // line of the note before the cursor
  bool watching = false;  // pass 1, not recording yet: the tables' size is checked now and then
  bool recording = false;
  bool replaying = false;
  // Table bytes above which a later pass replays; the test suites set 0 so
  // that every program they assemble replays its notes.
  uint64_t replay_bytes = Tape_Replay_Bytes;
};
extern Lookup_Tape_State Lookup_Tape;

void Tape_Register(uint32_t table, const Tape_Table_Hooks& hooks);
void Tape_Reset();
// At the start of each pass: pass 1 records from where the tables outgrow
// the caches, a later pass replays what it noted.
void Tape_Pass_Start(uint32_t pass);
// Pass 1, now and then: starts the notes when the tables have grown.
void Tape_Watch();
// A lookup of `table` found record `index` on the current source line.
void Tape_Note(uint32_t table, uint32_t index, uint32_t hash);
// The scanner reached source line `line` of the pass.
void Tape_Advance(uint32_t line);

inline void Tape_Found(uint32_t table, int32_t index, uint32_t hash) {
  if (Lookup_Tape.recording && table != Tape_None) Tape_Note(table, static_cast<uint32_t>(index), hash);
}
// A lookup of `table` read chain entry `index` and went on: it is fetched
// ahead as well, a lookup stalls on it as on the record it finds.
void Tape_Note_Passed(uint32_t table, uint32_t index);
inline void Tape_Passed(uint32_t table, int32_t index) {
  if (Lookup_Tape.recording && table != Tape_None) Tape_Note_Passed(table, static_cast<uint32_t>(index));
}
inline void Tape_Line(uint32_t line) {
  if (Lookup_Tape.replaying) Tape_Advance(line);
  else if (Lookup_Tape.watching && (line & (Tape_Watch_Lines - 1)) == 1) Tape_Watch();
}
