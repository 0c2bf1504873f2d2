// Assembling a file and the pass loop.
#include "core/assemble.h"

#include "core/cmdline.h"
#include "core/diag.h"
#include "core/dispatch.h"
#include "core/expr.h"
#include "core/keywords.h"
#include "core/lookup_tape.h"
#include "core/operands.h"
#include "core/platform/platform.h"
#include "core/scanner.h"
#include "core/scratch.h"
#include "core/symbols.h"
#include "core/text.h"
#include "directives/imports.h"
#include "directives/macro.h"
#include "directives/proc.h"
#include "directives/resource.h"
#include "directives/struc.h"
#include "directives/textequ.h"
#include "output/listing.h"
#include "output/output.h"
#include "output/relocs.h"
#include "output/sections.h"
#include "output/tables.h"

Pass_State Pass;

namespace {

bool Info_Files_Wanted() {
  const Info_Flag_Set& f = Options.Info_Flags;
  return f.info_files || f.info_lines || Options.Debug_Info;
}

bool Object_Format(uint32_t format) {
  return format == Format_OMF32 || format == Format_COFF32 || format == Format_ELF32 ||
         format == Format_COFF64 || format == Format_ELF64;
}

int Create_Tables() {
  if (Register_Table_Create() != 0) return -1;
  if (Keyword_Table_Create() != 0) return -1;
  Section_Table_Reset(Options.Output_Format);
  if (Label_Table_Create() != 0) {
    Print_Err("\r\n**Error** LABEL, can not create the label table\r\n");
    Diag.Error_Count += 1;
    return -1;
  }
  if (Reloc_Table_Create() != 0) return -1;
  if (Import_Tables_Create() != 0) return -1;
  Output_File_Start();
  if (Struc_Tables_Create() != 0) {
    Print_Err("\r\n**Error** STRUC, can not create the structure tables\r\n");
    Diag.Error_Count += 1;
    return -1;
  }
  Proc_Table_Init();
  Resource_Table_Init();
  if (Text_Equ_Table_Init() != 0) return -1;
  Keyword_Table_Fill();
  Register_Table_Fill();
  Word_Dispatch_Build();
  Bracket_Dispatch_Build();
  return 0;
}

void Free_Tables() {
  Import_Tables_Free();
  Resource_Table_Free();
  Proc_Table_Free();
  Macro_Table_Free();
  Text_Equ_Table_Free();
  Reloc_Table_Free();
  Struc_Tables_Free();
  Label_Table_Free();
  Section_Buffers_Free();
  Keyword_Table_Free();
  Register_Table_Free();
  File_Table_Free();
  Line_Table_Free();
  Scratch_Free_All();
  Scanner_Release_Buffers();
  Tape_Reset();
}

void Reset_Pass_State() {
  Pass.Change_Counter = 0;
  Pass.Range_Deferred = 0;
  Diag.Stop_Flag = 0;
  Params.pending_length = 0;
  Params.pending_name = nullptr;
  Pass.Line_Counter = 0;
  Parser.Parse_Depth = 0;
  Parser.Parser_Mode = 0;
  Parser.Comment_Depth = 0;
  Operands.Params_Depth = 0;
  Expansion_Reset_Pass();
  Macro_Reset_Pass();
  Text_Equ_Reset_Pass();
  Reloc_Reset_Pass();
  Imports_Reset_Pass();
  Tables_Reset_Pass();
  Resource_Reset_Pass();
  Parser.Code_Mode = Code_32;
  Rnd.Rnd_Seed = 181;
  Scratch_Reset();
  Tape_Pass_Start(Pass.Pass_Number);
}

}  // namespace

int Assemble_Passes() {
  Pass.Pass_Number = 1;
  Diag.Include_Depth = -1;
  Sections.Section_Count = -1;
  char line[64];
  for (;;) {
    if (!Options.Quiet) {
      Str_Format(line, sizeof line, "\r\nAssembler  pass: %u", {Pass.Pass_Number});
      Print_Text(line);
    }
    Listing_Pass_Start();
    Listing_Open();
    Reset_Pass_State();
    if (Object_Format(Options.Output_Format)) Section_Reset_Pass();
    else Section_Layout_Pass();
    Section_Refill_Buffers();
    Proc_Reset_Pass();

    int parsed = Parse_Source_File(Input_File_Name());
    Listing_Close();
    if (parsed != 0) return -1;
    if (Diag.Stop_Flag || Diag.Error_Count) return -1;
    Section_Save_Current();
    if (Output_Post_Pass() != 0) return -1;
    if (Options.Info_Flags.info_sect) Info_Sections();

    Pass.Pass_Number += 1;
    if (Pass.Pass_Number <= Min_Passes) continue;
    if (Pass.Pass_Number > Max_Passes) {
      Error_Plain(" Too many passes limit!");  // the run's error: no line of its own
      return -1;
    }
    Section_Sizes_Changed();
    if (Pass.Change_Counter != 0) {
      Pass.Addresses_Settled = 0;
      continue;
    }
    if (Pass.Range_Deferred && !Pass.Addresses_Settled) {
      Pass.Addresses_Settled = 1;  // the next pass repeats this one and reports what does not reach
      continue;
    }
    if (Options.Info_Flags.list) {
      Listing.Listing_Pass = 1;
      Listing.Listing_On = 1;
      Options.Info_Flags.list = 0;
      continue;
    }
    break;
  }
  Scanner_Release_Buffers();
  Output_Write();
  Info_Lists_Write();
  return Diag.Error_Count ? -1 : 0;  // a writer that failed
}

void Assemble_File() {
  char line[Name_Slot_Size + 64];
  if (!Options.Quiet) {
    Str_Format(line, sizeof line, "\r\nAssembling file: %s", {Input_File_Name()});
    Print_Text(line);
  }
  if (Info_Files_Wanted()) File_Table_Create();
  if (Create_Tables() == 0) {
    Pass.Exit_Code = Assemble_Passes() == 0 ? 0 : 1;
  } else {
    Pass.Exit_Code = 1;
  }
  Free_Tables();
  if (!Options.Quiet) {
    Str_Format(line, sizeof line, "\r\nAssembler lines: %u ", {Pass.Line_Counter});
    Print_Text(line);
    Str_Format(line, sizeof line, "\r\nOutput bytes   : %u ", {Output.Output_Byte_Count});
    Print_Text(line);
  }
}

void Reset_All_State() {
  Pass = Pass_State{};
  Diag = Diag_State{};
  Options = Options_State{};
  Parser = Parser_State{};
  Params = Params_Context{};
  Operands.Params_Depth = 0;
  Expr = Expr_State{};
  Rnd = Rnd_State{};
  Listing = Listing_State{};
  Output = Output_State{};
  Relocs = Reloc_State{};
  Sections = Section_State{};
}
