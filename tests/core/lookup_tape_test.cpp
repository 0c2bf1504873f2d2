// The lookup tape's notes: what a later pass fetches ahead, and when.
#include "core/lookup_tape.h"

#include <cstdint>
#include <utility>
#include <vector>

#include "core/assemble.h"
#include "core/shortcuts.h"
#include <gtest/gtest.h>

namespace {

std::vector<std::pair<uint32_t, uint32_t>> Fetched;  // (index, hash) in the order fetched
int Table_Marker;

void Record_Fetch(const void* table, uint32_t index, uint32_t hash) {
  EXPECT_EQ(table, &Table_Marker);
  Fetched.emplace_back(index, hash);
}
uint64_t No_Bytes(const void*) { return 0; }
std::vector<uint32_t> Passed;  // chain entries fetched, in order
void Record_Entry(const void* table, uint32_t index) {
  EXPECT_EQ(table, &Table_Marker);
  Passed.push_back(index);
}

TEST(Lookup_Tape, LaterPassFetchesTheNotesOfTheLinesAhead) {
  const bool shortcuts_off = Shortcuts.off;  // as the suite's environment left it
  Shortcuts.off = false;
  Tape_Register(Tape_Labels, {&Table_Marker, Record_Fetch, No_Bytes, Record_Entry});
  Lookup_Tape.replay_bytes = 0;
  Tape_Pass_Start(1);
  EXPECT_FALSE(Lookup_Tape.recording);
  Tape_Line(1);  // the tables are checked on the first line (here: large enough)
  ASSERT_TRUE(Lookup_Tape.recording);
  // Notes on lines 1, 1, 3 and 70 (a gap over the note's field), and one of an
  // index too large to note.
  const struct { uint32_t line, index, hash; } notes[] = {
      {1, 5, 50}, {1, 6, 60}, {3, 7, 70}, {3, Tape_Index_Limit, 1}, {70, 8, 80}};
  for (const auto& n : notes) {
    Pass.Line_Counter = n.line;
    Tape_Found(Tape_Labels, static_cast<int32_t>(n.index), n.hash);
  }
  Tape_Found(Tape_None, 9, 90);  // a table the tape does not follow
  // Chain entries passed on line 70: fetched as entries, not as records found.
  Tape_Passed(Tape_Labels, 11);
  Tape_Passed(Tape_Labels, Tape_Index_Limit);
  Tape_Passed(Tape_None, 12);
  Tape_Pass_Start(2);
  ASSERT_TRUE(Lookup_Tape.replaying);
  Fetched.clear();
  Passed.clear();
  Tape_Line(1);  // lines up to 1 + the lead
  EXPECT_EQ(Fetched, (std::vector<std::pair<uint32_t, uint32_t>>{{5, 50}, {6, 60}, {7, 70}}));
  Tape_Line(70 - Tape_Lead_Lines - 1);
  EXPECT_EQ(Fetched.size(), 3u);
  Tape_Line(70 - Tape_Lead_Lines);
  ASSERT_EQ(Fetched.size(), 4u);
  EXPECT_EQ(Fetched.back(), (std::pair<uint32_t, uint32_t>{8, 80}));
  EXPECT_EQ(Passed, (std::vector<uint32_t>{11}));
  Tape_Line(1000);
  EXPECT_EQ(Fetched.size(), 4u);
  EXPECT_EQ(Passed.size(), 1u);
  // Tables that fit the caches are not replayed; nor with the short cuts off.
  Lookup_Tape.replay_bytes = UINT64_MAX;
  Tape_Pass_Start(3);
  EXPECT_FALSE(Lookup_Tape.replaying);
  Lookup_Tape.replay_bytes = 0;
  Shortcuts.off = true;
  Tape_Pass_Start(3);
  EXPECT_FALSE(Lookup_Tape.replaying);
  Shortcuts.off = shortcuts_off;
  Tape_Register(Tape_Labels, {});
  Tape_Reset();
  Lookup_Tape.replay_bytes = Tape_Replay_Bytes;
  Pass = Pass_State{};
}

}  // namespace
