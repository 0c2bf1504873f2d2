// Include-file and source-line tables, and the info lists.
//
// Every list is built whole in a sink and written in one checked write.
// Names are padded to a column with TABs: after a name of n bytes,
// max(k - n/8, 1) of them.
#include "output/tables.h"

#include <unordered_map>
#include <vector>

#include "core/assemble.h"
#include "core/cmdline.h"
#include "core/diag.h"
#include "core/dispatch.h"
#include "core/keywords.h"
#include "core/scanner.h"
#include "core/symbols.h"
#include "core/text.h"
#include "directives/proc.h"
#include "directives/struc.h"
#include "output/byte_sink.h"
#include "output/list_file.h"
#include "output/relocs.h"
#include "output/sections.h"

namespace {

struct Tables_State {
  std::vector<Include_File_Record> files;
  std::vector<uint32_t> file_at_depth;  // the file being read at each include depth
  std::vector<Line_Record> lines;
};
Tables_State Tables;

constexpr const char* Cannot_Create = "Info list, can not create file: ";

void Text(Byte_Sink& s, const char* text) { List_Text(s, text); }
void Name(Byte_Sink& s, const char* name, uint32_t length) { s.Append(name, length); }
void Hex(Byte_Sink& s, uint64_t v) { List_Hex(s, v); }
void Dec(Byte_Sink& s, uint64_t v) { List_Dec(s, v); }

// A label and a number after it: " out:" 1F.
void Hex_Field(Byte_Sink& s, const char* label, uint64_t v) {
  Text(s, label);
  Hex(s, v);
}
void Dec_Field(Byte_Sink& s, const char* label, uint64_t v) {
  Text(s, label);
  Dec(s, v);
}

void Pad(Byte_Sink& s, uint32_t k, uint32_t length) {
  const uint32_t eighths = length / 8;
  for (uint32_t n = eighths < k ? k - eighths : 1; n > 0; --n) s.U8('\t');
}

void Heading(Byte_Sink& s, uint64_t count) {
  Text(s, "\r\n; ");
  Dec(s, count);
  Text(s, " items listed\r\n\r\n");
}

void Write_List(const char* suffix, const Byte_Sink& s) { List_File_Write(List_File_Name(suffix), s, Cannot_Create); }

// "address TAB name CR LF".
void Address_Line(Byte_Sink& s, uint32_t address, const char* name, uint32_t length) {
  Hex(s, address);
  s.U8('\t');
  Name(s, name, length);
  Text(s, "\r\n");
}

// ---- The lists ----------------------------------------------------------------

void Info_Procs() {
  Byte_Sink s;
  const char* name = nullptr;
  uint32_t length = 0, address = 0, section = 0;
  uint32_t count = 0;
  while (Proc_At(static_cast<int32_t>(count), &name, &length, &address, &section)) ++count;
  if (count) Heading(s, count);
  for (int32_t i = 0; Proc_At(i, &name, &length, &address, &section); ++i) {
    Text(s, "\r\n\r\nPROC ");
    Name(s, name, length);
    const char* arg = nullptr;
    uint32_t arg_length = 0;
    for (uint32_t a = 0; Proc_Arg_At(i, a, &arg, &arg_length); ++a) {
      Text(s, "\r\n\tARG ");
      Name(s, arg, arg_length);
    }
    Text(s, "\r\n\r\n\tret\r\nENDP\r\n");
  }
  Write_List("_proc.lst", s);
}

// One member line of a structure: its name after the first dot, then its
// reserve form from its byte size (up to the next member, or the end).
void Member_Line(Byte_Sink& s, int32_t member, uint32_t bytes) {
  const Member_Record& m = Strucs.Members[member];
  const char* full = Strucs.Members.Name(member);
  const uint32_t full_length = Strucs.Members.Name_Length(member);
  uint32_t dot = 0;
  while (dot < full_length && full[dot] != '.') ++dot;
  const uint32_t length = full_length - dot - 1;
  Text(s, "\r\n\t");
  Name(s, full + dot + 1, length);
  Pad(s, 5, length);
  if (m.nested >= 0) {
    const Struc_Record& n = Strucs.Strucs[m.nested];
    Text(s, "rs\t");
    Name(s, Strucs.Strucs.Name(m.nested), Strucs.Strucs.Name_Length(m.nested));
    s.U8(',');
    Dec(s, n.size ? bytes / n.size : bytes);
    s.U8('\t');
  } else {
    const char* form = nullptr;
    uint32_t unit = 1;
    switch (m.type) {
      case 8: form = "rb"; unit = 1; break;
      case 16: form = "rw"; unit = 2; break;
      case 32: form = "rd"; unit = 4; break;
      case 64: form = "rq"; unit = 8; break;
      case 128: form = "ro"; unit = 16; break;
      default: break;
    }
    if (!form) {
      Dec(s, m.type);
      Text(s, " - ");
      Dec(s, bytes);
      Dec_Field(s, "\t\t; ", m.offset);
      return;
    }
    Text(s, form);
    s.U8('\t');
    Dec(s, bytes / unit);
    Text(s, "\t\t");
  }
  Dec_Field(s, "; ", m.offset);
  Dec_Field(s, "\tref=", m.use_count);
}

void Info_Strucs() {
  Byte_Sink s;
  const Struc_State& st = Strucs;
  Heading(s, static_cast<uint64_t>(st.Strucs.count + 1));
  Text(s, "\r\n; ");
  Dec(s, static_cast<uint64_t>(st.Members.count + 1));
  Text(s, " sub-items\r\n\r\n");
  for (int32_t k = 0; k <= st.Strucs.count; ++k) {
    const Struc_Record& r = st.Strucs[k];
    Text(s, "\r\nSTRUC ");
    Name(s, st.Strucs.Name(k), st.Strucs.Name_Length(k));
    Dec_Field(s, " \t; ", r.size);
    Dec_Field(s, " bytes\r\n\t; id=", static_cast<uint32_t>(k));
    Dec_Field(s, " ref=", r.use_count);
    if (static_cast<size_t>(k) < st.Members_Of.size()) {
      const std::vector<int32_t>& members = st.Members_Of[static_cast<size_t>(k)];
      for (size_t i = 0; i < members.size(); ++i) {
        const Member_Record& m = st.Members[members[i]];
        const char* full = st.Members.Name(members[i]);
        bool dotted = false;
        for (uint32_t c = 0; c < st.Members.Name_Length(members[i]) && !dotted; ++c) dotted = full[c] == '.';
        if (!dotted) continue;
        const uint32_t end = i + 1 < members.size() ? st.Members[members[i + 1]].offset : r.size;
        Member_Line(s, members[i], end > m.offset ? end - m.offset : 0);
      }
    }
    Text(s, "\r\nENDS\r\n\r\n");
  }
  Write_List("_stru.lst", s);
}

void Equ_Line(Byte_Sink& s, int32_t i) {
  const Symbol_Table<Equ_Record>& equates = Symbols.Equates;
  const auto low = static_cast<uint32_t>(equates[i].value);
  Text(s, "\r\n");
  Name(s, equates.Name(i), equates.Name_Length(i));
  Pad(s, 6, equates.Name_Length(i));
  Text(s, "equ\t");
  Hex(s, low);
  Dec_Field(s, "h\t; ", low);
}

void Info_Equs() {
  Byte_Sink s;
  const Symbol_Table<Equ_Record>& equates = Symbols.Equates;
  Heading(s, static_cast<uint64_t>(equates.count + 1));
  for (int32_t i = 0; i <= equates.count; ++i) Equ_Line(s, i);
  Write_List("_equ.lst", s);
}

void Info_Enums() {
  Byte_Sink s;
  const Symbol_Table<Equ_Record>& equates = Symbols.Equates;
  uint32_t count = 0;
  for (int32_t i = 0; i <= equates.count; ++i) {
    if (!(equates[i].flags & Equ_Enum_Item)) continue;
    Equ_Line(s, i);
    ++count;
  }
  Heading(s, count);
  Write_List("_enum.lst", s);
}

void Info_Tokens() {
  Byte_Sink s;
  const Keyword_State& k = Keywords;
  Heading(s, static_cast<uint64_t>(k.Keyword_Count + 1));
  for (int32_t i = 0; i <= k.Keyword_Count; ++i) {
    const Keyword_Entry& e = k.Keywords[i];
    Text(s, "\r\n");
    Dec(s, static_cast<uint32_t>(i));
    s.U8('\t');
    Name(s, e.name, e.name_length);
    Pad(s, 3, e.name_length);
    Dec_Field(s, "\t\t ref=", e.use_count);
  }
  Write_List("_tkn.lst", s);
}

// The files, then their RadASM groups: 1-5 are fixed, a file without a
// directory is "Assembly" (2), each first directory name a group of its own
// from 6 on.
void Info_Files() {
  Byte_Sink s;
  std::vector<Include_File_Record>& files = Tables.files;
  Heading(s, files.size());
  for (size_t i = 0; i < files.size(); ++i) {
    Text(s, "\r\n");
    Dec(s, i + 1);
    s.U8('=');
    Name(s, files[i].name.data(), static_cast<uint32_t>(files[i].name.size()));
  }
  Text(s, "\r\nGroup=Added files,Assembly,Resources,Misc,Modules");
  std::unordered_map<std::string, uint32_t> directories;
  for (Include_File_Record& f : files) {
    const size_t slash = f.name.find_first_of("/\\");
    if (slash == std::string::npos) {
      f.group = 2;
      continue;
    }
    const std::string directory = f.name.substr(0, slash);
    auto found = directories.find(directory);
    if (found == directories.end()) {
      found = directories.emplace(directory, static_cast<uint32_t>(directories.size()) + 6).first;
      s.U8(',');
      Name(s, directory.data(), static_cast<uint32_t>(directory.size()));
    }
    f.group = found->second;
  }
  for (size_t i = 0; i < files.size(); ++i) {
    Text(s, "\r\n");
    Dec(s, i + 1);
    s.U8('=');
    Dec(s, files[i].group);
  }
  Write_List("_files.lst", s);
}

void Info_Relocs() {
  Byte_Sink s;
  const Reloc_State& r = Relocs;
  if (r.Reloc_Count) Heading(s, r.Reloc_Count);
  for (uint32_t i = 0; i < r.Reloc_Count; ++i) {
    Hex_Field(s, "\r\n", r.Reloc_Table[i].address);
    s.U8('\t');
    Dec(s, r.Reloc_Table[i].type);
  }
  Write_List("_reloc.lst", s);
}

void Info_Lines() {
  Byte_Sink s;
  Heading(s, Tables.lines.size());
  for (const Line_Record& l : Tables.lines) {
    Hex_Field(s, "\r\nrva=", l.address);
    Dec_Field(s, " ln=", l.line);
    Dec_Field(s, " \t fid=", l.file);
    Dec_Field(s, " sid=", l.section);
  }
  Write_List("_lines.lst", s);
}

}  // namespace

// ---- The tables -------------------------------------------------------------------

void File_Table_Create() { File_Table_Free(); }

void File_Table_Free() {
  Tables.files = {};
  Tables.file_at_depth = {};
}

int File_Table_Add(const char* path) {
  if ((path[0] == '.' && (path[1] == '/' || path[1] == '\\'))) path += 2;
  const int32_t depth = Diag.Include_Depth < 0 ? 0 : Diag.Include_Depth;
  Tables.files.push_back({path, static_cast<uint32_t>(depth), 0});
  if (Tables.file_at_depth.size() <= static_cast<size_t>(depth)) Tables.file_at_depth.resize(static_cast<size_t>(depth) + 1);
  Tables.file_at_depth[static_cast<size_t>(depth)] = static_cast<uint32_t>(Tables.files.size() - 1);
  return 0;
}

uint32_t File_Table_Size() { return static_cast<uint32_t>(Tables.files.size()); }
const Include_File_Record& File_Table_At(uint32_t index) { return Tables.files[index]; }

void Line_Table_Add() {
  const Line_Start& start = Scanner_Line_Start();
  const File_Name_Slot* f = Current_File_Name();
  const auto depth = static_cast<size_t>(Diag.Include_Depth < 0 ? 0 : Diag.Include_Depth);
  uint32_t file = 0;
  if (depth < Tables.file_at_depth.size()) file = Tables.file_at_depth[depth];
  Tables.lines.push_back({start.address, f ? f->line : 0, file, start.section});
}

void Line_Table_Free() { Tables.lines = {}; }
uint32_t Line_Table_Size() { return static_cast<uint32_t>(Tables.lines.size()); }
const Line_Record& Line_Table_At(uint32_t index) { return Tables.lines[index]; }

void Tables_Reset_Pass() {
  Tables.files.clear();
  Tables.file_at_depth.clear();
  Tables.lines.clear();
}

// ---- The -info text, in a list and in a section -----------------------------------

void Info_Ollydbg_Text(Byte_Sink& s) {
  const char* name = nullptr;
  uint32_t length = 0, address = 0, section = 0;
  for (int32_t i = 0; Proc_At(i, &name, &length, &address, &section); ++i) {
    Address_Line(s, address, name, length);
    const char* label = nullptr;
    uint32_t label_length = 0, label_address = 0;
    for (uint32_t k = 0; Proc_Local_Label_At(i, k, &label, &label_length, &label_address); ++k)
      Address_Line(s, label_address, label, label_length);
  }
  const Symbol_Table<Label_Record>& labels = Symbols.Labels;
  for (int32_t i = 0; i <= labels.count; ++i) Address_Line(s, labels[i].address, labels.Name(i), labels.Name_Length(i));
}

void Dir_Emit_Info(const Keyword_Entry* keyword) {
  Parser.Parser_Mode = 0;
  if (!Section_Has_Buffer()) {
    Diag.Stop_Flag += 1;
    Error_Text("Attempt to generate code but no section is defined: ", keyword->name, keyword->name_length);
    return;
  }
  Byte_Sink s;
  Info_Ollydbg_Text(s);
  if (s.failed) {
    Error_Msg("Section, not enough memory. ");
    Diag.Stop_Flag += 1;
    return;
  }
  Emit_Bytes(s.data, s.size);
}

void Info_Lists_Write() {
  const Info_Flag_Set& f = Options.Info_Flags;
  if (f.info) {
    Byte_Sink s;
    Info_Ollydbg_Text(s);
    Write_List("_info.lst", s);
  }
  if (f.info_proc) Info_Procs();
  if (f.info_stru) Info_Strucs();
  if (f.info_equ) Info_Equs();
  if (f.info_enum) Info_Enums();
  if (f.info_tkn) Info_Tokens();
  if (f.info_files) Info_Files();
  if (f.info_reloc) Info_Relocs();
  if (f.info_lines) Info_Lines();
}

void Info_Sections() {
  Byte_Sink s;
  const Section_State& st = Sections;
  for (int32_t i = 0; i <= st.Section_Count; ++i) {
    const Section_Record& r = st.Section_Table[i];
    Text(s, "\r\n");
    Dec(s, static_cast<uint32_t>(i));
    Text(s, " - ");
    Name(s, r.name, r.name_length);
    Hex_Field(s, "\t rva:", r.rva);
    Hex_Field(s, " out:", r.out);
    Hex_Field(s, " addr:", r.saved_location);
    Hex_Field(s, " old_out:", r.old_out);
  }
  char suffix[40];
  Str_Format(suffix, sizeof suffix, "_sections_%u.lst", {Pass.Pass_Number});
  Write_List(suffix, s);
}
