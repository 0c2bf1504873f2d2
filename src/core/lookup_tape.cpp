// The lookup tape: notes of pass 1, prefetches of the later passes.
#include "core/lookup_tape.h"

#include "core/assemble.h"
#include "core/shortcuts.h"

Lookup_Tape_State Lookup_Tape;

namespace {
// 4 million notes (32 MB) at most: a longer pass replays the notes it has.
constexpr size_t Tape_Note_Max = size_t{1} << 22;
uint64_t Table_Bytes() {
  uint64_t bytes = 0;
  for (const Tape_Table_Hooks& h : Lookup_Tape.tables)
    if (h.table) bytes += h.bytes(h.table);
  return bytes;
}
}  // namespace

void Tape_Register(uint32_t table, const Tape_Table_Hooks& hooks) {
  if (table > Tape_None && table < Tape_Table_Count) Lookup_Tape.tables[table] = hooks;
}

void Tape_Reset() {
  Lookup_Tape_State& t = Lookup_Tape;
  t.notes.clear();
  t.notes.shrink_to_fit();
  t.watching = t.recording = t.replaying = false;
  t.cursor = 0;
  t.cursor_line = t.last_line = 0;
}

void Tape_Pass_Start(uint32_t pass) {
  Lookup_Tape_State& t = Lookup_Tape;
  t.cursor = 0;
  t.cursor_line = t.last_line = 0;
  t.replaying = t.recording = false;
  t.watching = pass <= 1 && Shortcuts_On();
  if (pass <= 1) {
    t.notes.clear();
    return;
  }
  t.replaying = Shortcuts_On() && !t.notes.empty() && Table_Bytes() >= t.replay_bytes;
}

void Tape_Watch() {
  Lookup_Tape_State& t = Lookup_Tape;
  if (Table_Bytes() < t.replay_bytes) return;
  t.watching = false;
  t.recording = true;
}

namespace {
void Note(uint32_t table, uint32_t index, uint32_t passed, uint32_t hash) {
  Lookup_Tape_State& t = Lookup_Tape;
  const uint32_t line = Pass.Line_Counter;
  if (index >= Tape_Index_Limit || line < t.last_line || t.notes.size() >= Tape_Note_Max) return;
  uint32_t gap = line - t.last_line;
  for (; gap > Tape_Gap_Max; gap -= Tape_Gap_Max) t.notes.push_back(Tape_Gap_Max << 24);
  t.notes.push_back(uint64_t{hash} << 32 | table << 29 | gap << 24 | passed | index);
  t.last_line = line;
}
}  // namespace

void Tape_Note(uint32_t table, uint32_t index, uint32_t hash) { Note(table, index, 0, hash); }
void Tape_Note_Passed(uint32_t table, uint32_t index) { Note(table, index, Tape_Passed_Bit, 0); }

void Tape_Advance(uint32_t line) {
  Lookup_Tape_State& t = Lookup_Tape;
  const uint32_t target = line + Tape_Lead_Lines;
  // The notes are read slowly for a stream: fetched ahead, they are not waited for.
  if (t.cursor + 32 < t.notes.size()) __builtin_prefetch(&t.notes[t.cursor + 32]);
  while (t.cursor < t.notes.size()) {
    const uint64_t entry = t.notes[t.cursor];
    const uint32_t note = static_cast<uint32_t>(entry);
    const uint32_t at = t.cursor_line + (note >> 24 & Tape_Gap_Max);
    if (at > target) break;
    t.cursor_line = at;
    t.cursor += 1;
    const Tape_Table_Hooks& h = t.tables[note >> 29];
    if (!h.table) continue;
    const uint32_t index = note & (Tape_Index_Limit - 1);
    if (!(note & Tape_Passed_Bit)) h.prefetch(h.table, index, static_cast<uint32_t>(entry >> 32));
    else if (h.entry) h.entry(h.table, index);
  }
}
