#include <gtest/gtest.h>

#include <string>

#include "core/assemble.h"
#include "core/cmdline.h"
#include "core/driver.h"
#include "core/platform/platform.h"
#include "support/run_support.h"

TEST(Platform, OpenTurnsBackslashesIntoSlashes) {
  Write_Run_File("dir_sub_probe.asm", "x");  // makes sure the run directory exists
  std::string dir = Run_Directory();
  std::string mk = "mkdir -p " + dir + "/dir/sub";
  ASSERT_EQ(std::system(mk.c_str()), 0);
  Write_Run_File("dir/sub/a.asm", "nop");
  char path[] = "dir\\sub\\a.asm";
  File_Handle f = File_Open(path);
  ASSERT_NE(f, No_File);
  EXPECT_STREQ(path, "dir/sub/a.asm");
  EXPECT_EQ(File_Size(f), 3);
  char buffer[4] = {};
  EXPECT_EQ(File_Read(f, buffer, 3), 1);  // the size left the position at the start
  EXPECT_STREQ(buffer, "nop");
  EXPECT_EQ(File_Read(f, buffer, 0), 0);
  File_Close(f);
  char missing[] = "no\\such.asm";
  EXPECT_EQ(File_Open(missing), No_File);
  EXPECT_STREQ(missing, "no/such.asm");  // rewritten before the open is tried
}

TEST(Platform, StatisticsForARunUnderOneMillisecond) {
  std::string out, err;
  Options = Options_State{};
  Driver.Time_Start_Ms = Driver.Time_End_Ms = 77;
  Console_Capture(&out, &err);
  Print_Statistics();
  Console_Capture(nullptr, nullptr);
  EXPECT_EQ(out, "\r\nAssembler  time: 2 ms\r\n-----------------------------\r\n");
}

TEST(Platform, CommandLineTooLong) {
  std::vector<std::string> args(300, std::string(20, 'a'));
  Run_Result r = Run_Command(args);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err.rfind("CMD line: Command line too long: ", 0), 0u) << r.err;
}

TEST(Platform, LastLineWithoutLineEndIsAStatement) {
  Run_Result r = Run_Assembler("section \"c\" class_code\r\nfoo", {"-q", "-binary"});
  EXPECT_EQ(r.err, "\r\n**Error** t.asm(2) Unknown Instruction or statement: foo");
  EXPECT_EQ(r.exit_code, 1);
  Run_Result ok = Run_Assembler("section \"c\" class_code\r\nnop", {"-q", "-binary"});
  EXPECT_EQ(ok.err, "");
  EXPECT_EQ(ok.output, std::vector<uint8_t>{0x90});
}
