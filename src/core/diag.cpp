// Diagnostics.
#include "core/diag.h"

#include "core/assemble.h"
#include "core/platform/platform.h"
#include "core/text.h"
#include "directives/macro.h"
#include "output/listing.h"

Diag_State Diag;

File_Name_Slot* Current_File_Name() {
  if (Diag.Include_Depth < 0 || Diag.Include_Depth >= static_cast<int32_t>(File_Stack_Depth)) return nullptr;
  return &Diag.File_Name_Stack[Diag.Include_Depth];
}

namespace {

void Count_Error() {
  Diag.Error_Count += 1;
  if (Diag.Error_Count >= Error_Limit) Diag.Stop_Flag = 1;
}

void Print_Location() {
  Print_Err("\r\n**Error** ");
  File_Name_Slot* slot = Current_File_Name();
  if (!slot) return;
  char buf[File_Name_Size + 32];
  Str_Format(buf, sizeof buf, "%s(%u) ", {slot->name, slot->line});
  Print_Err(buf);
}

void Print_Macro_Line() {
  char name[256];
  uint32_t line = 0;
  if (!Macro_Error_Context(name, sizeof name, &line)) return;
  char buf[512];
  Print_Err("\r\n**Error** ");
  Str_Format(buf, sizeof buf, "\t in macro: %s at line: %u ", {name, line});
  Print_Err(buf);
}

// The offending text as printed: at most 1023 bytes, then "..." when cut.
void Print_Offending(const char* text, uint32_t length) {
  if (length == 0 || !text) return;
  uint32_t n = length < 1024 ? length : 1023;
  Sys_Write_Err(text, n);
  if (n < length) Print_Err("...");
}

void Listing_Copy(const char* message, const char* text, uint32_t length) {
  if (!Listing.Listing_On) return;
  char line[1100];
  uint32_t n = Str_Format(line, 512 + 10, "**Error** %s", {message});
  uint32_t room = static_cast<uint32_t>(sizeof line) - 1 - n;
  uint32_t t = length < room ? length : room;
  for (uint32_t i = 0; i < t; ++i) line[n + i] = text[i];
  line[n + t] = 0;
  Listing_Line_Text(line);
}

}  // namespace

void Error_Msg(const char* message) {
  Listing_Copy(message, nullptr, 0);
  Count_Error();
  Print_Location();
  Print_Err(message);
  Print_Macro_Line();
}

void Error_Text(const char* message, const char* text, uint32_t length) {
  Listing_Copy(message, text, length);
  Count_Error();
  Print_Location();
  Print_Err(message);
  Print_Offending(text, length);
  Print_Macro_Line();
}

void Error_Final(const char* message) {
  if (Pass.Pass_Number < 2) return;
  Error_Msg(message);
}

void Error_Final_Text(const char* message, const char* text, uint32_t length) {
  if (Pass.Pass_Number < 2) return;
  Error_Text(message, text, length);
}

void Error_From_Pass(uint32_t pass, const char* message) {
  if (Pass.Pass_Number < pass) return;
  Count_Error();
  Print_Location();
  Print_Err(message);
}

void Error_Plain(const char* message) {
  Diag.Error_Count += 1;
  Print_Err("\r\n**Error** ");
  Print_Err(message);
}

void Warning_Hex(const char* message, uint32_t value) {
  char buf[16];
  Print_Err("\r\n**Warn** ");
  Print_Err(message);
  Print_Err(" ");
  Str_Hex32(value, buf);
  Print_Err(buf);
}

void Cmd_Line_Error(const char* message, const char* text, uint32_t length) {
  Diag.Error_Count += 1;
  if (Diag.Error_Count >= Error_Limit) {
    Print_Err("\r\n\r\n*** Too MANY Errors detected ***\r\n");
    return;
  }
  Print_Text("\r\n**Error** ");
  Print_Err(message);
  Print_Offending(text, length);
}
