// The quick "certainly absent" tests in front of the hashed lookups and the
// decimal overflow check must never turn away a name or value that is there.
#include <string>

#include "core/dispatch.h"
#include "support/fixture.h"

using Lookup_Filter_Test = Assembler_Fixture;

TEST_F(Lookup_Filter_Test, LabelsOfEveryShapeAreFound) {
  const std::string long_name(127, 'z');
  const std::string names[] = {"5", "_a", "Z9", "L1", "\xC3\xA9t\xC3\xA9", long_name};
  for (const std::string& n : names)
    ASSERT_GE(Label_Create(n.data(), static_cast<uint32_t>(n.size()), 32, 0), 0) << n;
  for (const std::string& n : names) EXPECT_GE(Label_Find(n.data(), static_cast<uint32_t>(n.size()), 0, nullptr), 0) << n;
  // Same first byte and another length, same length and another first byte.
  for (const char* absent : {"6", "5x", "_b", "Z", "L12", "l1"})
    EXPECT_EQ(Label_Find(absent, Str_Len(absent), 0, nullptr), -1) << absent;
  // A new table forgets the names of the old one.
  Label_Table_Create();
  EXPECT_EQ(Label_Find("5", 1, 0, nullptr), -1);
  EXPECT_GE(Label_Create("5", 1, 32, 0), 0);
  EXPECT_GE(Label_Find("5", 1, 0, nullptr), 0);
}

TEST_F(Lookup_Filter_Test, KeywordsAndRegistersIgnoreCase) {
  for (const char* r : {"eax", "EAX", "Xmm7", "ST0", "cr0", "R15", "spl"})
    EXPECT_EQ(Register_Find(r, Str_Len(r), nullptr), 0) << r;
  for (const char* r : {"eaxx", "5", "e", "xmm77"}) EXPECT_EQ(Register_Find(r, Str_Len(r), nullptr), -1) << r;
  for (const char* k : {"db", "DB", "Section", "real10", "min_size"}) EXPECT_EQ(Keyword_Find(k, Str_Len(k)), 0) << k;
  EXPECT_EQ(Keyword_Find("dbx", 3), -1);
}

TEST_F(Lookup_Filter_Test, ModifiersAndDecimalLimits) {
  EXPECT_FALSE(Run_Modifier("5", 1));
  EXPECT_TRUE(Run_Modifier("DWORD", 5));
  struct Row {
    const char* text;
    bool too_big;
  };
  const Row rows[] = {
      {"18446744073709551615", false}, {"1844674407370955161_5", false}, {"18446744073709551610", false},
      {"18446744073709551616", true},  {"18446744073709551619", true},   {"18446744073709551620", true},
      {"99999999999999999999", true},
  };
  for (const Row& r : rows) {
    err.clear();
    uint64_t v = 0;
    EXPECT_EQ(Str_To_Dec64(r.text, Str_Len(r.text), &v), 0) << r.text;
    EXPECT_EQ(err.empty(), !r.too_big) << r.text;
  }
}
