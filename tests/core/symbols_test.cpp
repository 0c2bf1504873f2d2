#include <string>

#include "core/operands.h"
#include "support/fixture.h"

using Symbols_Test = Assembler_Fixture;

TEST_F(Symbols_Test, ManyLabelsGrowSilently) {
  for (int i = 0; i < 5000; ++i) {
    std::string name = "label_" + std::to_string(i);
    ASSERT_EQ(Label_Create(name.c_str(), static_cast<uint32_t>(name.size()), 32, static_cast<uint32_t>(i)), i);
  }
  EXPECT_EQ(Symbols.Labels.capacity, 8192u);  // doubled: 2048, 4096, 8192
  EXPECT_EQ(err, "");
  for (int i = 0; i < 5000; i += 499) {
    std::string name = "label_" + std::to_string(i);
    Label_Hit hit;
    ASSERT_EQ(Label_Find(name.c_str(), static_cast<uint32_t>(name.size()), 0, &hit), i);
    EXPECT_EQ(hit.address, static_cast<uint32_t>(i));
  }
}

TEST_F(Symbols_Test, CaseMattersAndUpdatesCount) {
  Label_Create("Start", 5, 32, 0x10);
  Label_Create("start", 5, 32, 0x20);
  Label_Hit hit;
  ASSERT_GE(Label_Find("Start", 5, 0, &hit), 0);
  EXPECT_EQ(hit.address, 0x10u);
  Sections.Location_Counter = 0x30;
  Pass.Change_Counter = 0;
  Label_Find("start", 5, 1, &hit);
  EXPECT_EQ(hit.address, 0x20u);  // the old address comes back
  EXPECT_EQ(Pass.Change_Counter, 1u);
  Label_Find("start", 5, 1, &hit);
  EXPECT_EQ(hit.address, 0x30u);
  EXPECT_EQ(Pass.Change_Counter, 1u);
  EXPECT_EQ(Symbols.Labels[1].use_count, 2u);
  EXPECT_EQ(Label_Find("START", 5, 0, &hit), -1);
}

TEST_F(Symbols_Test, MemberOfPlainLabel) {
  Label_Create("pt", 2, 32, 0);
  EXPECT_EQ(Label_Find_Any("pt.x", 4, 0, nullptr), -1);
  EXPECT_EQ(err, "\r\n**Error** prog.asm(12) LABEL, type is not a STRUCTURE: pt.x");
}

TEST_F(Symbols_Test, NamesTooLong) {
  std::string name(128, 'a');
  EXPECT_EQ(Label_Create(name.c_str(), 128, 32, 0), -1);
  EXPECT_EQ(err, "\r\n**Error** prog.asm(12) LABEL, name too long: " + name);
  err.clear();
  EXPECT_EQ(Equ_Create(name.c_str(), 128, 1, 0), -1);
  EXPECT_EQ(err, "\r\n**Error** prog.asm(12) EQU, name too long: " + name);
  std::string fits(127, 'b');
  EXPECT_GE(Label_Create(fits.c_str(), 127, 32, 0), 0);
}

TEST_F(Symbols_Test, EquatesKeep64Bits) {
  Equ_Create("big", 3, 0x9ABCDEF0u, 0x12345678u);
  uint64_t v = 0;
  ASSERT_GE(Equ_Find("big", 3, &v), 0);
  EXPECT_EQ(v, 0x123456789ABCDEF0ull);
  EXPECT_EQ(Symbols.Equ_Last_Created, 0);
}
