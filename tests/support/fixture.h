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
#include "core/scanner.h"
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

  // Assembles a source over three passes in one output format, as the pass
  // loop does (object formats restart every section at address 0).
  void Assemble(const std::string& source, uint32_t format) {
    Options.Output_Format = format;
    Section_Table_Reset(format);
    const bool object = format == Format_COFF32 || format == Format_COFF64 || format == Format_ELF32 ||
                        format == Format_ELF64 || format == Format_OMF32;
    for (uint32_t pass = 1; pass <= 3 && Diag.Error_Count == 0; ++pass) {
      Pass.Pass_Number = pass;
      Diag.File_Name_Stack[0].line = 1;
      Parser.Code_Mode = Code_32;
      Parser.Parser_Mode = 0;
      Reloc_Reset_Pass();
      if (object) Section_Reset_Pass();
      else Section_Layout_Pass();
      Parse_Buffer(source.data(), static_cast<uint32_t>(source.size()), 0);
      Section_Save_Current();
    }
  }

  // Opens a code section so that emitters have somewhere to write.
  void Open_Section(const char* name = "c") { Section_Create(name, Str_Len(name)); }
};
