// Diagnostics: every error and warning of the assembler goes through here.
// Errors are counted for the whole run; the error limit stops the current pass.
#pragma once
#include <cstdint>

constexpr uint32_t Error_Limit = 8;
constexpr uint32_t File_Name_Size = 256;
constexpr uint32_t File_Stack_Depth = 66;  // one slot per include level (parse depth < 64)

struct File_Name_Slot {
  char name[File_Name_Size];
  uint32_t line;
};

struct Diag_State {
  uint32_t Error_Count = 0;
  uint32_t Stop_Flag = 0;
  int32_t Include_Depth = -1;  // index of the current File_Name_Stack slot, -1 = no file
  File_Name_Slot File_Name_Stack[File_Stack_Depth] = {};
};
extern Diag_State Diag;

// The slot of the file being parsed, or nullptr outside any file.
File_Name_Slot* Current_File_Name();

void Error_Msg(const char* message);
void Error_Text(const char* message, const char* text, uint32_t length);
void Error_Final(const char* message);
void Error_Final_Text(const char* message, const char* text, uint32_t length);
void Error_From_Pass(uint32_t pass, const char* message);
void Error_Plain(const char* message);
void Warning_Hex(const char* message, uint32_t value);
void Cmd_Line_Error(const char* message, const char* text, uint32_t length);
