// Command line and option table: turns the joined command line into settings.
#pragma once
#include <cstdint>

constexpr uint32_t Name_Slot_Size = 256;
constexpr uint32_t Name_Slot_Count = 5;

struct Info_Flag_Set {
  uint32_t list, list_pass, info, info_proc, info_stru, info_equ, info_enum, info_tkn,
      info_files, info_reloc, info_lines, dll, bench, info_sect;
};

struct Options_State {
  uint32_t Output_Format = 1;  // 0 binary, 1 PE32, 2 OMF32, 3 COFF32, 4 PE64, 5 ELF32, 6 Mach-O, 7 COFF64, 8 ELF64
  uint32_t Pe_Subsystem = 2;
  uint32_t Quiet = 0;
  uint32_t Short_Jumps = 0;
  uint32_t Proc_Align = 16;
  uint32_t Debug_Info = 0;
  Info_Flag_Set Info_Flags = {};
  // help flags
  uint32_t Help_All = 0, Help_Usage = 0, Help_Page_1 = 0, Help_Page_2 = 0, Help_Page_3 = 0,
           Help_Page_4 = 0, Help_Printed = 0;
  uint32_t Cmd_Error_Count = 0;
  char Name_Slots[Name_Slot_Count][Name_Slot_Size] = {};
  uint32_t Name_Present[Name_Slot_Count] = {};
  uint32_t Name_Slot_Index = 0;
  uint32_t Item_Mode = 1;  // 1 file name, 2 option, 3 equate name after -d
};
extern Options_State Options;

enum Output_Format_Code : uint32_t {
  Format_Binary = 0, Format_PE32 = 1, Format_OMF32 = 2, Format_COFF32 = 3, Format_PE64 = 4,
  Format_ELF32 = 5, Format_MachO32 = 6, Format_COFF64 = 7, Format_ELF64 = 8,
};

int Command_Line_Split(const char* text);
void Cmd_Line_Item(const char* item, uint32_t length);
int Cmd_Option_Find(const char* name, uint32_t length);

inline const char* Input_File_Name() { return Options.Name_Slots[1]; }
inline const char* Output_File_Name() { return Options.Name_Slots[2]; }
