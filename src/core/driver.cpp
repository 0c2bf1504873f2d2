// Driver.
#include "core/shortcuts.h"
#include "core/driver.h"

#include "core/assemble.h"
#include "core/cmdline.h"
#include "core/diag.h"
#include "core/platform/platform.h"
#include "core/symbols.h"
#include "core/text.h"

Driver_State Driver;

namespace {

constexpr Date_Time_Record Build_Date_Record = {2016, 7, 0, 1, 23, 55, 29, 0};

const char Help_Usage_Text[] =
    "\r\nUsage: qrn_asm [-options] <input_filename> <output_filename> \r\n\r\n Help Options are:\r\n"
    "-----------------------\r\n-h             --> help page (all) \r\n-h1,2,3,4      --> help page: 1,2,3,4 \r\n";

const char Help_Page_1_Text[] =
    "\r\n1.Format options are:\r\n--------------------------\r\n-pe32        --> generate 32 bit PE\r\n"
    "-pe64        --> generate 64 bit PE\r\n  -dll       --> set DLL characteristics\r\n"
    "-binary      --> generate plain binary (16/32/64) (default)\r\n"
    "-omf32       --> generate OMF    32bit object file\r\n"
    "-coff        --> generate COFF   32bit object file (MS)\r\n"
    "-coff64      --> generate COFF   64bit object file (MS)\r\n"
    "-elf32       --> generate ELF    32bit object file\r\n"
    "-elf64       --> generate ELF    64bit object file\r\n"
    "-mac32       --> generate Mach-O 32bit object file\r\n";

const char Help_Page_2_Text[] =
    "\r\n2.PE sub-systems are:\r\n-------------------------\r\n  -gui (default)\r\n  -console\r\n  -native\r\n"
    "  -efi_boot, efi_app, efi_run, efi_rom\r\n  -xbox\r\n";

const char Help_Page_3_Text[] =
    "\r\n3.Other options are:\r\n-------------------------\r\n"
    "-q            --> be quiet, show only error messages\r\n"
    "-d equ_name   --> define equ_name = 1\r\n"
    "-size         --> optimize output for size\r\n"
    "-list         --> generate listing\r\n"
    "-list_pass    --> generate listing for each pass\r\n"
    "-dbg          --> generate debug info\r\n"
    "-bench        --> benchmark parser lines/s\r\n";

const char Help_Page_4_Text[] =
    "\r\n4.Info options are:\r\n-----------------------\r\n"
    "-info         --> generate Ollydbg info (labels and PROCs)\r\n"
    "-info_proc    --> generate a list of all PROCs\r\n"
    "-info_stru    --> generate a list of all STRUCs\r\n"
    "-info_equ     --> generate a list of all EQUs\r\n"
    "-info_enum    --> generate a list of all ENUM items\r\n"
    "-info_files   --> generate a list of include files and groups in RadASM format\r\n"
    "-info_sect    --> generate a list of sections layout\r\n"
    "-info_reloc   --> generate a list of relocations\r\n"
    "-info_tkn     --> generate a list of known opcodes and directives\r\n"
    "-info_all     --> generate all above infos\r\n";

// Joins the arguments with blanks; an argument that holds a blank is quoted
// so that the splitter keeps it whole.
bool Join_Arguments(int argc, char** argv) {
  char* text = Driver.Command_Line_Text;
  uint32_t used = 0;
  for (int i = 0; i < argc; ++i) {
    const char* a = argv[i];
    uint32_t n = Str_Len(a);
    bool quote = false;
    for (uint32_t k = 0; k < n; ++k)
      if (a[k] == ' ') quote = true;
    uint32_t need = n + (quote ? 2 : 0) + 1;
    if (used + need + 1 > Command_Line_Size) {
      Options.Cmd_Error_Count += 1;
      Cmd_Line_Error("CMD line: Command line too long: ", a, n);
      return false;
    }
    if (quote) text[used++] = '"';
    for (uint32_t k = 0; k < n; ++k) text[used++] = a[k];
    if (quote) text[used++] = '"';
    text[used++] = ' ';
    text[used] = 0;
  }
  return true;
}

}  // namespace

void Print_Build_Date() {
  if (Options.Quiet) return;
  char buffer[96];
  const Date_Time_Record& d = Build_Date_Record;
  Str_Format(buffer, sizeof buffer, "\r\nBuild on %u_%u_%u", {uint32_t{d.year}, uint32_t{d.month}, uint32_t{d.day}});
  Print_Text(buffer);
  Str_Format(buffer, sizeof buffer, "  at %u:%u:%u\r\n", {uint32_t{d.hour}, uint32_t{d.minute}, uint32_t{d.second}});
  Print_Text(buffer);
}

void Print_Banner() {
  if (Options.Quiet) return;
  Print_Text("\r\n");
  Print_Text(Program_Title);
  Print_Text("\r\nAn x86 assembler for 16-, 32- and 64-bit code, images and object files");
  Print_Build_Date();
}

int Print_Help() {
  Options_State& o = Options;
  if (o.Help_All) o.Help_Page_1 = o.Help_Page_2 = o.Help_Page_3 = o.Help_Page_4 = 1;
  bool printed = false;
  auto page = [&](uint32_t flag, const char* text) {
    if (!flag) return;
    Print_Text(text);
    printed = true;
  };
  page(o.Help_Usage, Help_Usage_Text);
  page(o.Help_Page_1, Help_Page_1_Text);
  page(o.Help_Page_2, Help_Page_2_Text);
  page(o.Help_Page_3, Help_Page_3_Text);
  page(o.Help_Page_4, Help_Page_4_Text);
  if (!printed) return 0;
  o.Help_Printed = 1;
  return 1;
}

void Print_Statistics() {
  if (Options.Quiet || Options.Help_Printed) return;
  uint32_t elapsed = Driver.Time_End_Ms - Driver.Time_Start_Ms;
  if (elapsed == 0) elapsed = 2;
  char buffer[96];
  Str_Format(buffer, sizeof buffer, "\r\nAssembler  time: %u ms", {elapsed});
  Print_Text(buffer);
  if (Options.Info_Flags.bench) {
    uint32_t lines = static_cast<uint32_t>(static_cast<uint64_t>(Pass.Line_Counter) * 1000u / elapsed);
    Str_Format(buffer, sizeof buffer, "\r\nAll lines/s    : %u ", {lines});
    Print_Text(buffer);
    Str_Format(buffer, sizeof buffer, "\r\nParser lines/s : %u ", {lines * (Pass.Pass_Number - 1)});
    Print_Text(buffer);
  }
  Print_Text("\r\n-----------------------------\r\n");
}

Shortcut_State Shortcuts;

int Main_Driver(int argc, char** argv) {
  Reset_All_State();
  Shortcuts.off = Env_Flag("QRN_NO_CACHE");
  Driver = Driver_State{};
  Driver.Arg_Count = argc;
  Driver.Arg_Vector = argv;
  Driver.Time_Start_Ms = Clock_Ms();
  Get_Local_Time();
  bool joined = Join_Arguments(argc, argv);
  Equ_Table_Init();
  if (joined) Command_Line_Split(Driver.Command_Line_Text);
  else Options.Item_Mode = 1;
  Print_Banner();
  Options_State& o = Options;
  if (Print_Help() == 0) {
    if (o.Cmd_Error_Count != 0 || !joined) {
      o.Help_Usage = 1;
      Print_Help();
    } else if (!o.Name_Present[1]) {
      Print_Text("\r\n**Error** NO input filename specified ");
      Driver.Missing_Name = 1;
      o.Help_Usage = 1;
      Print_Help();
    } else if (!o.Name_Present[2]) {
      Print_Text("\r\n**Error** NO output filename specified ");
      Driver.Missing_Name = 1;
      o.Help_Usage = 1;
      Print_Help();
    } else {
      Assemble_File();
    }
  }
  Equ_Table_Free();
  Driver.Time_End_Ms = Clock_Ms();
  Print_Statistics();
  bool failed = Pass.Exit_Code != 0 || Diag.Error_Count != 0 || Driver.Missing_Name != 0 ||
                o.Cmd_Error_Count != 0;
  return failed ? 1 : 0;
}
