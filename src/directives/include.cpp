// Source and binary includes: `include`, `incbin` and `incfrom`, read again in
// every pass. Paths are relative to the working directory; backslashes are
// taken as slashes.
#include "directives/include.h"

#include "core/assemble.h"
#include "core/diag.h"
#include "core/dispatch.h"
#include "core/expr.h"
#include "core/keywords.h"
#include "core/platform/platform.h"
#include "core/scanner.h"
#include "core/symbols.h"
#include "core/text.h"
#include "directives/cond_asm.h"
#include "output/sections.h"

namespace {

struct Include_State {
  char name[File_Name_Size];
  uint64_t start;
  uint64_t size;
  uint32_t to_end;
};
Include_State Inc;

// Copies the name into the shared buffer; false (reported) when it does not
// fit. A name holding a NUL names no file: `missing` reports it as one that
// can not be opened, never as the shorter name before the NUL.
bool Take_Name(const char* text, uint32_t length, const char* missing) {
  if (length >= File_Name_Size) {
    Error_Text("Include, file name too long: ", text, length);
    Diag.Stop_Flag += 1;
    return false;
  }
  if (Str_Has_Nul(text, length)) {
    Error_Text(missing, text, length);
    return false;
  }
  for (uint32_t i = 0; i < length; ++i) Inc.name[i] = text[i];
  Inc.name[length] = 0;
  return true;
}

// Emits `count` bytes of the open file from `start`, read straight into the
// section; false when they could not be read (nothing is emitted then).
bool Copy_Bytes(File_Handle f, uint64_t start, uint32_t count) {
  if (count == 0) return true;
  if (!Emit_Fits(count) && !Emit_Room(count)) return true;  // reported by the section
  if (start != 0 && File_Seek(f, start) != 0) return false;
  if (File_Read(f, Sections.Section_Data_Base + Sections.Section_Write_Offset, count) != 1) return false;
  return Emit_Reserve(count) == 0;  // the bytes are in place: move both counters past them
}

// Opens the file named in the buffer; reported on failure, with `missing`
// when there is no such file.
File_Handle Open_Named(const char* missing) {
  File_Kind_Value kind = File_Absent;
  File_Handle f = File_Open(Inc.name, &kind);
  if (f == No_File)
    Error_Text(kind == File_Absent ? missing : "File is not a regular file: ", Inc.name, Str_Len(Inc.name));
  return f;
}

// Opens the binary file named in the buffer and gives its size; reported on failure.
File_Handle Open_Binary(uint64_t* size) {
  File_Handle f = Open_Named("Can not open binary file: ");
  if (f == No_File) return No_File;
  int64_t n = File_Size(f);
  if (n < 0) {
    Error_Text("Can not read binary file: ", Inc.name, Str_Len(Inc.name));
    File_Close(f);
    return No_File;
  }
  *size = static_cast<uint64_t>(n);
  return f;
}

void Include_File(const char* text, uint32_t length) {
  Parser.Parser_Mode = 0;
  if (!Take_Name(text, length, "Can not open include file: ")) {
    Diag.Stop_Flag += 1;
    return;
  }
  File_Handle f = Open_Named("Can not open include file: ");
  if (f == No_File) {
    Diag.Stop_Flag += 1;
    return;
  }
  File_Close(f);
  Cond_Saved saved = Cond_Save();
  char name[File_Name_Size];
  Str_Copy(Inc.name, name);  // the buffer is shared with nested includes
  Parse_Source_File(name);
  Cond_Restore(saved);
  Parser.Parser_Mode = 0;
}

void Include_String(const char* text, uint32_t length) {
  if (length <= 2) {
    Error_Msg("INCLUDE, filname string is empty? ");
    Parser.Parser_Mode = 0;
    return;
  }
  Include_File(text + 1, length - 2);
}

void Incbin_File(const char* text, uint32_t length) {
  Parser.Parser_Mode = 0;
  if (!Take_Name(text, length, "Can not open binary file: ")) return;
  uint64_t size = 0;
  File_Handle f = Open_Binary(&size);
  if (f == No_File) return;
  if (size >= Section_Buffer_Limit || !Copy_Bytes(f, 0, static_cast<uint32_t>(size)))
    Error_Text("Can not read binary file: ", Inc.name, Str_Len(Inc.name));
  File_Close(f);
}

void Incbin_String(const char* text, uint32_t length) {
  if (length <= 2) {
    Error_Msg("INCBIN, filname string is empty? ");
    Parser.Parser_Mode = 0;
    return;
  }
  Incbin_File(text + 1, length - 2);
}

bool Value_Of(const char* text, uint32_t length, uint64_t* value) {
  if (Equ_Find(text, length, value) >= 0) return true;
  Eval_Result r = Eval_Value(text, length);
  if (r.status != 0) return false;
  *value = r.value;
  return true;
}

void Incfrom_Start(const char* text, uint32_t length) {
  if (!Value_Of(text, length, &Inc.start)) Error_Text("INCFROM, start offset unknown: ", text, length);
  Parser.Parser_Mode = Mode_Incfrom_Size;
}

void Incfrom_Size(const char* text, uint32_t length) {
  if (length == 1 && text[0] == '?') Inc.to_end = 1;
  else if (!Value_Of(text, length, &Inc.size)) Error_Text("INCFROM, size unknown: ", text, length);
  Parser.Parser_Mode = Mode_Incfrom_Name2;
}

// Start and count are taken whole (64 bits): a slice beyond the file is
// refused, never cut to one inside it.
void Incfrom_File(const char* text, uint32_t length) {
  Parser.Parser_Mode = 0;
  if (!Take_Name(text, length, "Can not open binary file: ")) return;
  uint64_t size = 0;
  File_Handle f = Open_Binary(&size);
  if (f == No_File) return;
  uint64_t count = 0;
  if (Inc.start > size) {
    Error_Text("INCFROM, start offset is too big: ", Inc.name, Str_Len(Inc.name));
  } else if (Inc.to_end) {
    count = size - Inc.start;
  } else if (Inc.size > size - Inc.start) {
    Error_Text("INCFROM, read size is too big: ", Inc.name, Str_Len(Inc.name));
  } else {
    count = Inc.size;
  }
  if (count >= Section_Buffer_Limit) Error_Text("INCFROM, read size is too big: ", Inc.name, Str_Len(Inc.name));
  else if (!Copy_Bytes(f, Inc.start, static_cast<uint32_t>(count)))
    Error_Text("Can not read binary file: ", Inc.name, Str_Len(Inc.name));
  File_Close(f);
}

const Mode_Handler Words[] = {
    {Mode_Include_Name, Include_File}, {Mode_Incbin_Name, Incbin_File},   {Mode_Incfrom_Name, Incfrom_Start},
    {Mode_Incfrom_Size, Incfrom_Size}, {Mode_Incfrom_Name2, Incfrom_File},
};
const Mode_Handler Strings[] = {{Mode_Include_Name, Include_String}, {Mode_Incbin_Name, Incbin_String}};

}  // namespace

extern const Mode_Table Include_Mode_Table = {"includes", Words, sizeof Words / sizeof Words[0], nullptr, 0,
                                              Strings, 2};

void Dir_Include(const Keyword_Entry*) { Parser.Parser_Mode = Mode_Include_Name; }
void Inst_Incbin(const Keyword_Entry*) { Parser.Parser_Mode = Mode_Incbin_Name; }
void Inst_Incfrom(const Keyword_Entry*) {
  Inc.start = 0;
  Inc.size = 0;
  Inc.to_end = 0;
  Parser.Parser_Mode = Mode_Incfrom_Name;
}
