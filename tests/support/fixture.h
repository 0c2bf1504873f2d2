// A test fixture that loads the assembler's tables as Assemble_File does, in
// pass 1, inside a file named prog.asm at line 12, with the console captured.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "core/assemble.h"
#include "core/cmdline.h"
#include "core/diag.h"
#include "core/dispatch.h"
#include "core/keywords.h"
#include "core/platform/platform.h"
#include "core/symbols.h"
#include "core/text.h"
#include "output/relocs.h"
#include "output/sections.h"

class Assembler_Fixture : public ::testing::Test {
 protected:
  std::string out, err;

  void SetUp() override {
    Reset_All_State();
    Console_Capture(&out, &err);
    Options.Output_Format = Format_Binary;
    Equ_Table_Init();
    Register_Table_Create();
    Keyword_Table_Create();
    Section_Table_Reset(Options.Output_Format);
    Label_Table_Create();
    Reloc_Table_Create();
    Keyword_Table_Fill();
    Register_Table_Fill();
    Word_Dispatch_Build();
    Bracket_Dispatch_Build();
    Pass.Pass_Number = 1;
    Diag.Include_Depth = 0;
    Str_Copy("prog.asm", Diag.File_Name_Stack[0].name);
    Diag.File_Name_Stack[0].line = 12;
  }

  void TearDown() override {
    Console_Capture(nullptr, nullptr);
    Reloc_Table_Free();
    Label_Table_Free();
    Section_Buffers_Free();
    Keyword_Table_Free();
    Register_Table_Free();
    Equ_Table_Free();
  }

  // Opens a code section so that emitters have somewhere to write.
  void Open_Section(const char* name = "c") { Section_Create(name, Str_Len(name)); }
};
