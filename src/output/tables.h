// Include-file and source-line tables, and the info lists.
//
// Both tables are refilled in every pass: the file table in the order files
// are opened, the line table with one record per statement of file text
// (under -info_lines). The lists are written after the output, the section
// list after every pass; `$emit_info` puts the -info text into a section.
#pragma once
#include <cstdint>
#include <string>

struct Byte_Sink;
struct Keyword_Entry;

struct Include_File_Record {
  std::string name;      // as opened, without a leading "./" or ".\"
  uint32_t depth;        // Include_Depth when it was opened
  uint32_t group;        // RadASM group, set by the -info_files list
};

struct Line_Record {
  uint32_t address;  // where the statement's line starts
  uint32_t line;     // in the file being read
  uint32_t file;     // index of that file in the file table
  uint32_t section;
};

void File_Table_Create();
void File_Table_Free();
// Called before a source file is opened; 0.
int File_Table_Add(const char* path);
uint32_t File_Table_Size();
const Include_File_Record& File_Table_At(uint32_t index);
void Line_Table_Add();
void Line_Table_Free();
uint32_t Line_Table_Size();
const Line_Record& Line_Table_At(uint32_t index);
// At every pass start: both tables empty.
void Tables_Reset_Pass();

// The -info text: each PROC and its local labels, then every label.
void Info_Ollydbg_Text(Byte_Sink& sink);
void Info_Lists_Write();
void Info_Sections();
void Dir_Emit_Info(const Keyword_Entry* keyword);
