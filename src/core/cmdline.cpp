// Command line and option table.
#include "core/cmdline.h"

#include "core/diag.h"
#include "core/symbols.h"
#include "core/text.h"
#include "output/listing.h"

Options_State Options;

namespace {

using Option_Handler = void (*)();

struct Option_Row {
  const char* name;  // without the leading '-'
  Option_Handler handler;
};

Options_State& O() { return Options; }

// The option table, in the order in which it is searched.
const Option_Row Option_Table[] = {
    {"binary", [] { O().Output_Format = Format_Binary; }},
    {"win32_pe", [] { O().Output_Format = Format_PE32; }},
    {"pe32", [] { O().Output_Format = Format_PE32; }},
    {"pe64", [] { O().Output_Format = Format_PE64; }},
    {"console", [] { O().Pe_Subsystem = 3; }},
    {"gui", [] { O().Pe_Subsystem = 2; }},
    {"dll", [] { O().Info_Flags.dll = 1; }},
    {"native", [] { O().Pe_Subsystem = 1; }},
    {"efi_app", [] { O().Pe_Subsystem = 10; }},
    {"efi_boot", [] { O().Pe_Subsystem = 11; }},
    {"efi_run", [] { O().Pe_Subsystem = 12; }},
    {"efi_rom", [] { O().Pe_Subsystem = 13; }},
    {"xbox", [] { O().Pe_Subsystem = 14; }},
    {"omf32", [] { O().Output_Format = Format_OMF32; }},
    {"coff32", [] { O().Output_Format = Format_COFF32; }},
    {"coff", [] { O().Output_Format = Format_COFF32; }},
    {"coff64", [] { O().Output_Format = Format_COFF64; }},
    {"elf32", [] { O().Output_Format = Format_ELF32; }},
    {"elf64", [] { O().Output_Format = Format_ELF64; }},
    {"mac32", [] { O().Output_Format = Format_MachO32; }},
    {"size", [] { O().Short_Jumps = 1; O().Proc_Align = 1; }},
    {"dbg", [] { O().Debug_Info = 1; }},
    {"dbg1", [] { O().Debug_Info = 1; }},
    {"dbg2", [] { O().Debug_Info = 2; }},
    {"list", [] { O().Info_Flags.list = 1; O().Info_Flags.list_pass = 0; Listing.Listing_On = 0; }},
    {"list_pass", [] { Listing.Listing_On = 1; O().Info_Flags.list_pass = 1; O().Info_Flags.list = 0; }},
    {"info_proc", [] { O().Info_Flags.info_proc = 1; }},
    {"info_stru", [] { O().Info_Flags.info_stru = 1; }},
    {"info_equ", [] { O().Info_Flags.info_equ = 1; }},
    {"info_enum", [] { O().Info_Flags.info_enum = 1; }},
    {"info_all",
     [] {
       Info_Flag_Set& f = O().Info_Flags;
       f.info_proc = f.info_stru = f.info_equ = f.info = f.info_tkn = f.info_enum = f.info_files =
           f.info_reloc = f.info_sect = 1;
     }},
    {"info", [] { O().Info_Flags.info = 1; }},
    {"info_tkn", [] { O().Info_Flags.info_tkn = 1; }},
    {"info_sect", [] { O().Info_Flags.info_sect = 1; }},
    {"info_files", [] { O().Info_Flags.info_files = 1; }},
    {"info_reloc", [] { O().Info_Flags.info_reloc = 1; }},
    {"info_lines", [] { O().Info_Flags.info_lines = 1; }},
    {"bench", [] { O().Info_Flags.bench = 1; }},
    {"help", [] { O().Help_All = 1; }},
};

void Cmd_Error(const char* message, const char* item, uint32_t length) {
  Options.Cmd_Error_Count += 1;
  Cmd_Line_Error(message, item, length);
}

}  // namespace

int Cmd_Option_Find(const char* name, uint32_t length) {
  for (const Option_Row& row : Option_Table) {
    if (Str_Equal_Lower(name, length, row.name, Str_Len(row.name))) {
      row.handler();
      return 0;
    }
  }
  return -1;
}

void Cmd_Line_Item(const char* item, uint32_t length) {
  Options_State& o = Options;
  switch (o.Item_Mode) {
    case 1: {
      if (length >= Name_Slot_Size) {
        Cmd_Error("CMD line: Filename too long: ", item, length);
        return;
      }
      uint32_t slot = o.Name_Slot_Index;
      Str_Copy_Nr(item, o.Name_Slots[slot], length);
      o.Name_Present[slot] = 1;
      if (slot + 1 > Name_Slot_Count - 1) {
        Cmd_Error("CMD line: Too many filenames: ", item, length);
        o.Name_Slot_Index = Name_Slot_Count - 1;
      } else {
        o.Name_Slot_Index = slot + 1;
      }
      return;
    }
    case 2: {
      if (length == 2) {
        switch (item[1]) {
          case 'h': o.Help_All = 1; break;
          case 'd': o.Item_Mode = 3; return;
          case 'q': o.Quiet = 1; break;
          default: Cmd_Error("CMD line: Unknown option: ", item, length); break;
        }
      } else if (length == 3) {
        if (item[1] == 'h') {
          switch (item[2]) {
            case '0': o.Help_Usage = 1; break;
            case '1': o.Help_Page_1 = 1; break;
            case '2': o.Help_Page_2 = 1; break;
            case '3': o.Help_Page_3 = 1; break;
            case '4': o.Help_Page_4 = 1; break;
            default: Cmd_Error("CMD line: Unknown option: ", item, length); break;
          }
        }
      } else if (Cmd_Option_Find(item + 1, length - 1) == -1) {
        Cmd_Error("CMD line: Unknown option: ", item, length);
      } else {
        Equ_Create(item, length, 1, 0);
      }
      o.Item_Mode = 1;
      return;
    }
    default:
      Equ_Create(item, length, 1, 0);
      o.Item_Mode = 1;
      return;
  }
}

int Command_Line_Split(const char* text) {
  Options_State& o = Options;
  o.Output_Format = Format_PE32;
  o.Pe_Subsystem = 2;
  o.Help_All = o.Help_Usage = o.Help_Page_1 = o.Help_Page_2 = o.Help_Page_3 = o.Help_Page_4 = 0;
  o.Help_Printed = 0;
  for (uint32_t& p : o.Name_Present) p = 0;
  o.Cmd_Error_Count = 0;
  o.Name_Slot_Index = 0;
  o.Item_Mode = 1;

  int state = 1;  // 1 between items, 2 in a plain item, 3 in a quoted item
  const char* start = text;
  for (const char* p = text;; ++p) {
    char c = *p;
    if (c == 0) {
      if (state == 2) Cmd_Line_Item(start, static_cast<uint32_t>(p - start));
      break;
    }
    if (c == ' ') {
      if (state == 2) {
        Cmd_Line_Item(start, static_cast<uint32_t>(p - start));
        state = 1;
      }
    } else if (c == '-') {
      if (state == 1) {
        start = p;
        state = 2;
        o.Item_Mode = 2;
      }
    } else if (c == '"') {
      if (state == 1) {
        start = p;
        state = 3;
      } else if (state == 3) {
        uint32_t inner = static_cast<uint32_t>(p - start - 1);
        if (inner >= 2) Cmd_Line_Item(start + 1, inner);
        state = 1;
      }
    } else if (state == 1) {
      start = p;
      state = 2;
    }
  }
  return 0;
}
