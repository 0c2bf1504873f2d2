// Statement-end and file-end work of the directives. Families that are not
// built yet have nothing pending here.
#include "directives/hooks.h"

#include "core/diag.h"
#include "core/dispatch.h"
#include "directives/assembly_time.h"
#include "directives/cond_asm.h"
#include "directives/flow.h"
#include "directives/imports.h"
#include "directives/invoke.h"
#include "directives/macro.h"
#include "directives/proc.h"
#include "directives/resource.h"
#include "directives/struc.h"

void Line_End_Hooks() {
  // Each hook runs with the statement's parser mode saved and restored.
  uint32_t mode = Parser.Parser_Mode;
  if (Invoke_Pending()) {
    Invoke_Expand();
    Parser.Parser_Mode = mode;
  }
  if (Macro_Call_Pending()) {
    Macro_Expand();
    // A false #if opened in the expansion goes on skipping after it.
    if (Parser.Parser_Mode != Mode_Cond_Skip) Parser.Parser_Mode = mode;
  }
  if (If_Line_End_Pending()) {
    If_Line_End();
    Parser.Parser_Mode = mode;
  }
  Imports_Line_End();
}

void Until_Line_End() { Flow_Until_Line_End(); }
void While_Line_End() { Flow_While_Line_End(); }
void Echo_Print() { Echo_Line_End(); }

void Source_File_Start_Reset() {
  // The main file starts a pass: no run-time block or INVOKE is open.
  if (Diag.Include_Depth == 0) {
    Flow_Reset_Pass();
    Invoke_Reset_Pass();
  }
  Proc_File_Start();
  Struc_File_Start();
  Import_Func_Current_Reset();
  Cond_File_Start();
}

void Source_File_End_Checks() {
  Flow_File_End_Checks();
  Proc_File_End_Checks();
  Struc_File_End_Checks();
  Macro_File_End_Checks();
  Cond_File_End_Checks();
  Resource_File_End_Checks();
}
