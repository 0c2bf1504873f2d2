#include <gtest/gtest.h>

#include <string>

#include "core/diag.h"
#include "core/platform/platform.h"
#include "core/text.h"

TEST(Hash, KnownValues) {
  EXPECT_EQ(Symbol_Hash("a", 1), 0xCD20);
  EXPECT_EQ(Fnv1a32("foobar", 6), 0xBF9CF968u);
  EXPECT_EQ(Symbol_Hash_NoCase("EAX", 3), Symbol_Hash_NoCase("eax", 3));
  EXPECT_NE(Symbol_Hash("Start", 5), Symbol_Hash("start", 5));
}

TEST(Str_Format, Table) {
  struct Row {
    const char* format;
    std::initializer_list<Fmt_Arg> args;
    const char* expected;
  };
  const Row rows[] = {
      {"%x", {10u}, "0000000A"},
      {"%d", {-5}, "-5"},
      {"%d", {7u}, "7"},
      {"%u", {4294967295u}, "4294967295"},
      {"a%qb", {}, "a?"},
      {"a\\nb", {}, "a\r\nb"},
      {"a\\tb\\\\c", {}, "a\tb\\c"},
      {"a\\zb", {}, "ab"},          // unknown escape: both dropped
      {"ab\\", {}, "ab"},           // a backslash at the end stops there
      {"100%%", {}, "100%"},        // %% takes no argument
      {"%s=%u", {"x", 3u}, "x=3"},
      {"%u %u", {1u}, "1 ?"},       // a missing argument
      {"%s", {5u}, "?"},            // a number for %s
      {"%u", {"text"}, "?"},        // a text for %u
  };
  for (const Row& r : rows) {
    char buffer[64];
    Str_Format(buffer, sizeof buffer, r.format, r.args);
    EXPECT_STREQ(buffer, r.expected) << r.format;
  }
}

TEST(Str_Format, CutsToCapacity) {
  char buffer[6];
  uint32_t n = Str_Format(buffer, sizeof buffer, "%s", {"abcdefghij"});
  EXPECT_EQ(n, 5u);
  EXPECT_STREQ(buffer, "abcde");
}

class Literal_Test : public ::testing::Test {
 protected:
  std::string out, err;
  void SetUp() override {
    Diag = Diag_State{};
    Console_Capture(&out, &err);
  }
  void TearDown() override { Console_Capture(nullptr, nullptr); }
};

TEST_F(Literal_Test, Parsers) {
  uint64_t v = 0;
  EXPECT_EQ(Str_To_Bin64("1010_0001b", 10, &v), 0);
  EXPECT_EQ(v, 0xA1u);
  EXPECT_EQ(Str_To_Hex64("0FFh", 4, &v), 0);
  EXPECT_EQ(v, 0xFFu);
  EXPECT_EQ(Str_To_Hex64("12g4h", 5, &v), -1);
  EXPECT_EQ(Str_To_Dec64("18446744073709551615", 20, &v), 0);
  EXPECT_EQ(v, ~uint64_t{0});
  EXPECT_EQ(Diag.Error_Count, 0u);
  EXPECT_EQ(Str_To_Dec64("1_000", 5, &v), 0);
  EXPECT_EQ(v, 1000u);
}

TEST_F(Literal_Test, TooBigIsReportedOnceForEveryBase) {
  const char* literals[] = {"184467440737095516150", "1FFFFFFFFFFFFFFFFh",
                            "11111111111111111111111111111111111111111111111111111111111111111b"};
  for (const char* text : literals) {
    Diag = Diag_State{};
    err.clear();
    uint64_t v = 0;
    uint32_t n = Str_Len(text);
    int status = text[n - 1] == 'h' ? Str_To_Hex64(text, n, &v)
                 : text[n - 1] == 'b' ? Str_To_Bin64(text, n, &v)
                                      : Str_To_Dec64(text, n, &v);
    EXPECT_EQ(status, 0) << text;
    EXPECT_EQ(Diag.Error_Count, 1u) << text;
    EXPECT_EQ(err, std::string("\r\n**Error** Value too big: ") + text);
  }
}

TEST(Arithmetic, DivisionByZeroAndRandom) {
  EXPECT_EQ(Div64(1234, 0), ~uint64_t{0});
  EXPECT_EQ(Mod64(1234, 0), 1234u);
  EXPECT_EQ(Div64(~uint64_t{0}, 3), 0x5555555555555555ull);
  Rnd.Rnd_Seed = 181;
  EXPECT_EQ(Rnd_Next(10), 2u);
  EXPECT_EQ(Rnd.Rnd_Seed, 578);
  EXPECT_EQ(Rnd_Next(0), 0u);
  EXPECT_EQ(Rnd.Rnd_Seed, 578);
}

TEST(Strings, CopyLimits) {
  char dst[2048] = "keep";
  Diag = Diag_State{};
  std::string out, err;
  Console_Capture(&out, &err);
  std::string big(1024, 'x');
  EXPECT_EQ(Str_Copy_Nr(big.c_str(), dst, 1024), -1);
  Console_Capture(nullptr, nullptr);
  EXPECT_STREQ(dst, "keep");
  EXPECT_EQ(err, "\r\n**Error** Str_Copy_Nr error");
  EXPECT_EQ(Diag.Stop_Flag, 1u);
  EXPECT_EQ(Str_Copy_Nr("abc", dst, 0), 0);
  EXPECT_STREQ(dst, "keep");
  EXPECT_EQ(Str_Find_Last_Slash("a/b\\c"), 3);
  EXPECT_EQ(Str_Find_Slash("abc"), -1);
  EXPECT_TRUE(Str_Equal_Lower("MoV", 3, "mov", 3));
  EXPECT_FALSE(Str_Equal_Lower("mov", 3, "MOV", 3));
}
