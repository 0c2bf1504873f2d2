// The command line and the driver, run in-process.
#include <gtest/gtest.h>

#include <string>

#include "core/cmdline.h"
#include "core/driver.h"
#include "core/platform/platform.h"
#include "core/symbols.h"
#include "support/run_support.h"

namespace {

const std::string Banner =
    "\r\nQuarn Assembler version 0.36.28"
    "\r\nAn x86 assembler for 16-, 32- and 64-bit code, images and object files"
    "\r\nBuild on 2016_7_1  at 23:55:29\r\n";
const std::string Usage =
    "\r\nUsage: qrn_asm [-options] <input_filename> <output_filename> \r\n\r\n Help Options are:\r\n"
    "-----------------------\r\n-h             --> help page (all) \r\n-h1,2,3,4      --> help page: 1,2,3,4 \r\n";

bool Contains(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

}  // namespace

TEST(Driver, NoArguments) {
  Run_Result r = Run_Command({});
  EXPECT_EQ(r.out, Banner + "\r\n**Error** NO input filename specified " + Usage);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.exit_code, 1);
}

TEST(Driver, MissingOutputName) {
  Run_Result r = Run_Command({"-q", "a.asm"});
  EXPECT_EQ(r.out, "\r\n**Error** NO output filename specified " + Usage);
  EXPECT_EQ(r.exit_code, 1);
}

TEST(Driver, HelpPages) {
  Run_Result all = Run_Command({"-h"});
  EXPECT_EQ(all.exit_code, 0);
  EXPECT_FALSE(Contains(all.out, "Usage:"));
  EXPECT_TRUE(Contains(all.out, "1.Format options are:"));
  EXPECT_TRUE(Contains(all.out, "4.Info options are:"));
  EXPECT_FALSE(Contains(all.out, "Assembler  time"));

  Run_Result usage = Run_Command({"-q", "-h0"});
  EXPECT_EQ(usage.out, Usage);
  EXPECT_EQ(usage.exit_code, 0);

  Run_Result five = Run_Command({"-q", "-h", "-h0"});
  EXPECT_EQ(five.out.find(Usage), 0u);
  EXPECT_TRUE(Contains(five.out, "2.PE sub-systems are:"));
  EXPECT_TRUE(Contains(five.out, "3.Other options are:"));

  Run_Result quiet = Run_Command({"-q", "-h3"});
  EXPECT_EQ(quiet.out.find("\r\n3.Other options are:"), 0u);
  EXPECT_FALSE(Contains(quiet.out, "Quarn"));
}

TEST(Driver, CommandLineErrors) {
  Run_Result r = Run_Command({"-H", "a", "b"});
  EXPECT_EQ(r.out, "\r\n**Error** " + Banner + Usage);  // the error comes before the banner
  EXPECT_EQ(r.err, "CMD line: Unknown option: -H");
  EXPECT_EQ(r.exit_code, 1);

  Run_Result many = Run_Command({"-q", "a", "b", "c", "d"});
  EXPECT_EQ(many.err, "CMD line: Too many filenames: d");
  EXPECT_EQ(many.exit_code, 1);

  Run_Result x = Run_Command({"-q", "-x"});
  EXPECT_EQ(x.err, "CMD line: Unknown option: -x");
  Run_Result dash = Run_Command({"-q", "-"});
  EXPECT_EQ(dash.err, "CMD line: Unknown option: -");
  Run_Result upper_q = Run_Command({"-Q"});
  EXPECT_EQ(upper_q.err, "CMD line: Unknown option: -Q");

  std::string long_name(300, 'n');
  Run_Result too_long = Run_Command({"-q", long_name, "b"});
  EXPECT_EQ(too_long.err, "CMD line: Filename too long: " + long_name);
  EXPECT_EQ(too_long.exit_code, 1);
}

TEST(Driver, IgnoredShortOption) {
  Run_Result r = Run_Command({"-q", "-xy"});  // ignored; then the input name is missing
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(Contains(r.out, "NO input filename specified"));
}

TEST(Driver, StatisticsLines) {
  Write_Run_File("s.asm", "x equ 1\r\n");
  Run_Result r = Run_Command({"-binary", "-bench", "s.asm", "s.bin"});
  EXPECT_TRUE(Contains(r.out, "\r\nAssembler  time: ")) << Visible(r.out);
  EXPECT_TRUE(Contains(r.out, " ms\r\nAll lines/s    : "));
  EXPECT_TRUE(Contains(r.out, "\r\nParser lines/s : "));
  EXPECT_TRUE(Contains(r.out, "\r\n-----------------------------\r\n"));
  EXPECT_EQ(r.exit_code, 0);
}

TEST(Driver, ArgumentWithBlankStaysWhole) {
  Write_Run_File("my file.asm", "nop_label equ 3\r\n");
  Run_Result r = Run_Command({"-q", "-binary", "my file.asm", "out file.bin"});
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.exit_code, 0);
}

class Command_Line_Test : public ::testing::Test {
 protected:
  std::string out, err;
  void SetUp() override {
    Options = Options_State{};
    Console_Capture(&out, &err);
    Equ_Table_Init();
  }
  void TearDown() override {
    Equ_Table_Free();
    Console_Capture(nullptr, nullptr);
  }
};

TEST_F(Command_Line_Test, FormatAndEquates) {
  Command_Line_Split("qrn -ELF32 -d DEBUG a.asm b.o ");
  EXPECT_EQ(Options.Output_Format, 5u);
  uint64_t v = 0;
  EXPECT_GE(Equ_Find("-ELF32", 6, &v), 0);
  EXPECT_EQ(v, 1u);
  EXPECT_GE(Equ_Find("DEBUG", 5, &v), 0);
  EXPECT_EQ(v, 1u);
  EXPECT_STREQ(Input_File_Name(), "a.asm");
  EXPECT_STREQ(Output_File_Name(), "b.o");
}

TEST_F(Command_Line_Test, OptionInteractions) {
  Command_Line_Split("qrn -info_all -elf64 -pe64 -list -list_pass -d -elf32");
  EXPECT_EQ(Options.Info_Flags.info_lines, 0u);
  EXPECT_EQ(Options.Info_Flags.info_reloc, 1u);
  EXPECT_EQ(Options.Output_Format, 5u);  // -d -elf32 takes -elf32 as an option
  EXPECT_EQ(Options.Info_Flags.list, 0u);  // -list -list_pass: only the per-pass listing
  EXPECT_EQ(Options.Info_Flags.list_pass, 1u);
  Command_Line_Split("qrn -list_pass -list");
  EXPECT_EQ(Options.Info_Flags.list, 1u);
  EXPECT_EQ(Options.Info_Flags.list_pass, 0u);
  Command_Line_Split("qrn -size \"my name.asm\" \"x\" out");
  EXPECT_EQ(Options.Short_Jumps, 1u);
  EXPECT_EQ(Options.Proc_Align, 1u);
  EXPECT_STREQ(Input_File_Name(), "my name.asm");
  EXPECT_STREQ(Output_File_Name(), "out");  // a one-character quoted item is dropped
}
