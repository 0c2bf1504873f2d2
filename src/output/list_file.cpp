// The list files' shared pieces.
#include "output/list_file.h"

#include "core/cmdline.h"
#include "core/diag.h"
#include "core/platform/platform.h"
#include "core/text.h"

std::string List_File_Name(const char* suffix) {
  std::string name = Output_File_Name();
  size_t dot = name.find('.');
  name.resize(dot == std::string::npos ? 0 : dot);
  name += suffix;
  return name;
}

uint32_t List_Hex_Digits(char* out, uint64_t value) { return Str_Digits(out, value, 16); }

uint32_t List_Dec_Digits(char* out, uint64_t value) { return Str_Digits(out, value, 10); }

void List_Hex(Byte_Sink& sink, uint64_t value) {
  char digits[16];
  sink.Append(digits, List_Hex_Digits(digits, value));
}

void List_Dec(Byte_Sink& sink, uint64_t value) {
  char digits[20];
  sink.Append(digits, List_Dec_Digits(digits, value));
}

void List_Text(Byte_Sink& sink, const char* text) {
  uint32_t n = 0;
  while (text[n]) ++n;
  sink.Append(text, n);
}

bool List_File_Write(const std::string& name, const Byte_Sink& sink, const char* message) {
  bool ok = !sink.failed;
  if (ok) {
    File_Handle f = File_Create(name.c_str());
    ok = f != No_File;
    if (ok) {
      if (sink.size && File_Write(f, sink.data, sink.size) != 1) ok = false;
      if (File_Close(f) != 0) ok = false;
    }
  }
  if (!ok) {
    std::string text = std::string(message) + name;
    Error_Plain(text.c_str());
  }
  return ok;
}
