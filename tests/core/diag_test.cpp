#include <gtest/gtest.h>

#include <string>

#include "core/assemble.h"
#include "core/diag.h"
#include "core/platform/platform.h"
#include "core/text.h"

class Diag_Test : public ::testing::Test {
 protected:
  std::string out, err;
  void SetUp() override {
    Diag = Diag_State{};
    Pass = Pass_State{};
    Diag.Include_Depth = 0;
    Str_Copy("prog.asm", Diag.File_Name_Stack[0].name);
    Diag.File_Name_Stack[0].line = 12;
    Console_Capture(&out, &err);
  }
  void TearDown() override { Console_Capture(nullptr, nullptr); }
};

TEST_F(Diag_Test, ErrorTextFormat) {
  Error_Text("LABEL, is already defined: ", "start", 5);
  EXPECT_EQ(err, "\r\n**Error** prog.asm(12) LABEL, is already defined: start");
  EXPECT_EQ(out, "");
  EXPECT_EQ(Diag.Error_Count, 1u);
}

TEST_F(Diag_Test, EighthErrorStops) {
  for (int i = 1; i <= 7; ++i) Error_Msg("x");
  EXPECT_EQ(Diag.Stop_Flag, 0u);
  Error_Msg("x");
  EXPECT_EQ(Diag.Stop_Flag, 1u);
}

TEST_F(Diag_Test, FinalOnlyFromPassTwo) {
  Pass.Pass_Number = 1;
  Error_Final("late");
  EXPECT_EQ(err, "");
  EXPECT_EQ(Diag.Error_Count, 0u);
  Pass.Pass_Number = 2;
  Error_Final("late");
  EXPECT_EQ(err, "\r\n**Error** prog.asm(12) late");
  Error_From_Pass(3, "later");
  EXPECT_EQ(Diag.Error_Count, 1u);
}

TEST_F(Diag_Test, WarningAndPlain) {
  Warning_Hex("x", 255);
  EXPECT_EQ(err, "\r\n**Warn** x 000000FF");
  EXPECT_EQ(Diag.Error_Count, 0u);
  err.clear();
  Error_Plain("Output: can not create file\r\n");
  EXPECT_EQ(err, "\r\n**Error** Output: can not create file\r\n");
  EXPECT_EQ(Diag.Error_Count, 1u);
}

TEST_F(Diag_Test, OutsideAnyFileNoLocation) {
  Diag.Include_Depth = -1;
  Error_Msg(" Too many passes limit!");
  EXPECT_EQ(err, "\r\n**Error**  Too many passes limit!");
}

TEST_F(Diag_Test, OffendingTextEdges) {
  Error_Text("first: ", "abc", 3);
  err.clear();
  Error_Text("empty: ", "", 0);
  EXPECT_EQ(err, "\r\n**Error** prog.asm(12) empty: ");  // nothing stale
  err.clear();
  std::string big(1500, 'y');
  Error_Text("big: ", big.c_str(), static_cast<uint32_t>(big.size()));
  EXPECT_EQ(err, "\r\n**Error** prog.asm(12) big: " + std::string(1023, 'y') + "...");
  EXPECT_EQ(Diag.Error_Count, 3u);  // no nested error for the long text
}

TEST_F(Diag_Test, CommandLineErrorSplitsStreams) {
  Cmd_Line_Error("CMD line: Unknown option: ", "-H", 2);
  EXPECT_EQ(out, "\r\n**Error** ");
  EXPECT_EQ(err, "CMD line: Unknown option: -H");
  Diag.Error_Count = 7;
  out.clear();
  err.clear();
  Cmd_Line_Error("CMD line: Unknown option: ", "-Q", 2);
  EXPECT_EQ(out, "");
  EXPECT_EQ(err, "\r\n\r\n*** Too MANY Errors detected ***\r\n");
}
