#include <gtest/gtest.h>

#include "output/obj_symbols.h"
#include "output/sections.h"

// The alignment an object asks of the linker: the largest power of two that
// divides the section's recorded alignment, within the format's bounds.
TEST(Obj_Symbols_Test, SectionAlignmentFromTheRecordedAlignment) {
  struct Row {
    uint32_t recorded, minimum, maximum, want;
  };
  const Row rows[] = {
      {0, 4, 0x10000, 4},   {1, 4, 0x10000, 4},  {16, 4, 0x10000, 16}, {32, 4, 0x10000, 32}, {12, 4, 0x10000, 4},
      {48, 4, 0x10000, 16}, {0, 16, 8192, 16},   {4, 16, 8192, 16},    {64, 16, 8192, 64},   {16384, 16, 8192, 8192},
  };
  for (const Row& r : rows) {
    Section_Record s{};
    s.max_align = r.recorded;
    EXPECT_EQ(Obj_Section_Alignment(s, r.minimum, r.maximum), r.want) << r.recorded;
  }
}

// A name given twice is one symbol; a definition wins over an undefined one.
TEST(Obj_Symbols_Test, OneSymbolPerName) {
  Obj_Globals g;
  EXPECT_EQ(g.Add({"f", 1, 0, Obj_Undefined, false, 4}), 0);
  EXPECT_EQ(g.Add({"main", 4, 8, 0, true, 0}), 1);
  EXPECT_EQ(g.Add({"main", 4, 8, 0, true, 4}), 1);
  EXPECT_EQ(g.Add({"f", 1, 16, 1, true, 4}), 0);
  ASSERT_EQ(g.list.size(), 2u);
  EXPECT_EQ(g.list[0].section, 1);
  EXPECT_EQ(g.list[0].value, 16u);
  EXPECT_EQ(g.list[1].size, 0u);
}
