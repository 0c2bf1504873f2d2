#include <map>
#include <string>

#include "core/dispatch.h"
#include "core/scanner.h"
#include "support/fixture.h"

// No two families may claim one parser mode: the later table would silently
// take the other family's tokens.
TEST(Dispatch, NoModeIsRegisteredTwice) {
  std::map<uint32_t, std::string> words, brackets, strings;
  auto claim = [](std::map<uint32_t, std::string>& owners, const Mode_Handler* list, uint32_t n, const char* family,
                  const char* what) {
    for (uint32_t i = 0; i < n; ++i) {
      uint32_t mode = list[i].mode;
      EXPECT_LT(mode, Parser_Mode_Slots) << family;
      EXPECT_NE(list[i].handler, nullptr) << family << " mode " << mode;
      auto [it, fresh] = owners.emplace(mode, family);
      EXPECT_TRUE(fresh || it->second == family)
          << what << " mode " << mode << " is claimed by " << it->second << " and " << family;
    }
  };
  for (uint32_t f = 0; f < Family_Mode_Table_Count; ++f) {
    const Mode_Table* t = Family_Mode_Tables[f];
    claim(words, t->words, t->word_count, t->family, "word");
    claim(brackets, t->brackets, t->bracket_count, t->family, "bracket");
    claim(strings, t->strings, t->string_count, t->family, "string");
  }
  EXPECT_EQ(Parser_Mode_Slots, 1024u);
}

using Statement_Test = Assembler_Fixture;

TEST_F(Statement_Test, CodeModeKeywordsAndPrefixes) {
  Open_Section();
  const char text[] = ".use64\r\nfs: nop\r\n.use16\r\n";
  Parse_Buffer(text, sizeof text - 1, 0);
  EXPECT_EQ(Parser.Code_Mode, uint32_t{Code_16});
  EXPECT_EQ(Sections.Section_Write_Offset, 2u);
  EXPECT_EQ(Sections.Section_Data_Base[0], 0x64);
  EXPECT_EQ(Sections.Section_Data_Base[1], 0x90);
  EXPECT_EQ(err, "");
}

TEST_F(Statement_Test, LabelsTakeTheLocationCounter) {
  Open_Section();
  const char text[] = "nop\r\nhere: nop\r\n";
  Parse_Buffer(text, sizeof text - 1, 0);
  Label_Hit hit;
  ASSERT_GE(Label_Find("here", 4, 0, &hit), 0);
  EXPECT_EQ(hit.address, 1u);
  EXPECT_EQ(hit.data_type, 32u);
}

TEST_F(Statement_Test, EquateStatementsKeep64Bits) {
  const char text[] = "big equ 123456789ABCDEF0h\r\nsmall = 5\r\nsmall = small+1\r\n";
  Parse_Buffer(text, sizeof text - 1, 0);
  uint64_t v = 0;
  ASSERT_GE(Equ_Find("big", 3, &v), 0);
  EXPECT_EQ(v, 0x123456789ABCDEF0ull);
  ASSERT_GE(Equ_Find("small", 5, &v), 0);
  EXPECT_EQ(v, 6u);
  EXPECT_EQ(err, "");
}

TEST_F(Statement_Test, DollarLineIsTheLineNumber) {
  Diag.File_Name_Stack[0].line = 40;
  const char text[] = "n equ $line\r\n";
  Parse_Buffer(text, sizeof text - 1, 0);
  uint64_t v = 0;
  ASSERT_GE(Equ_Find("n", 1, &v), 0);
  EXPECT_EQ(v, 40u);
}
