// Listing: records are appended to one in-memory file per pass, which
// Listing_Close writes and checks.
//
// A record: CR LF, "include-depth macro-depth changes skipped address" and a
// TAB, the statement's source line as written, then, when it emitted bytes,
// TABs up to the dump column and two hex digits and a blank per byte, rows of
// 32, at most four rows. The digits are written again from the section
// buffers when the pass ends, so that bytes patched after their statement
// (the jump of an `.if`, a `#store`) read as the output holds them.
#include "output/listing.h"

#include <string>
#include <vector>

#include "core/assemble.h"
#include "core/cmdline.h"
#include "core/diag.h"
#include "core/dispatch.h"
#include "core/driver.h"
#include "core/parser_modes.h"
#include "core/text.h"
#include "directives/macro.h"
#include "output/byte_sink.h"
#include "output/list_file.h"
#include "output/sections.h"

Listing_State Listing;

namespace {

constexpr uint32_t Dump_Column = 96;
constexpr uint32_t Dump_Tabs = Dump_Column / 8 + 1;  // the tabs before a continued row
constexpr uint32_t Row_Bytes = 32;
constexpr uint32_t Dump_Limit = 4 * Row_Bytes;       // bytes shown; more gives "..."
constexpr uint32_t Field_Width = 16;                 // what the position fields count as

Byte_Sink Sink;
std::string File_Name;

// A dump in the sink: where its first digit is and the section bytes it shows.
struct Dump_Ref {
  uint32_t at;
  uint32_t section;
  uint32_t from;
  uint32_t count;
};
std::vector<Dump_Ref> Dumps;
const char* Record_Line = nullptr;  // the line start of the last statement record, if it was one

bool Writing() { return Listing.Listing_On && Listing.Listing_Open_Now; }

void Record_Start(uint32_t address) {
  int32_t depth = Diag.Include_Depth;
  char head[2 + 3 * 21 + 2 + 17];
  uint32_t n = 0;
  head[n++] = '\r';
  head[n++] = '\n';
  n += List_Dec_Digits(head + n, depth > 0 ? static_cast<uint32_t>(depth) : 0);
  head[n++] = ' ';
  n += List_Dec_Digits(head + n, Macro_Depth());
  head[n++] = ' ';
  n += List_Dec_Digits(head + n, Pass.Change_Counter);
  head[n++] = ' ';
  head[n++] = Parser.Parser_Mode == Mode_Cond_Skip ? '1' : '0';
  head[n++] = ' ';
  n += List_Hex_Digits(head + n, address);
  head[n++] = '\t';
  Sink.Append(head, n);
}

// Field_Width + the visual width of the text (a TAB moves to the next
// multiple of 8; a line feed inside a continued statement starts a new
// line); 0 for an empty text, which gets no dump.
uint32_t Visual_Width(const char* text, uint32_t length) {
  if (length == 0) return 0;
  uint32_t column = Field_Width;
  for (uint32_t i = 0; i < length; ++i) {
    char c = text[i];
    if (c == '\t') column = (column / 8 + 1) * 8;
    else if (c == '\n') column = 0;
    else column += 1;
  }
  return column ? column : 1;
}

void Record_Text(const char* text, uint32_t length) {
  Sink.Append(text, length);
  Listing.Listing_Width = Visual_Width(text, length);
}

// The byte at `offset` of a section: what its buffer holds, or the fill
// byte for reserved bytes beyond it.
uint8_t Section_Byte(uint32_t section, uint32_t offset) {
  const Section_Record& r = Sections.Section_Table[section];
  return r.buffer && offset < r.capacity ? r.buffer[offset] : static_cast<uint8_t>(r.fill_byte);
}

void Put_Digits(char* at, uint8_t b) {
  at[0] = "0123456789ABCDEF"[b >> 4];
  at[1] = "0123456789ABCDEF"[b & 15];
}

// Each dump's digits from the bytes its section holds now.
void Dumps_Refresh() {
  for (const Dump_Ref& d : Dumps)
    for (uint32_t i = 0; i < d.count; ++i) {
      const uint32_t at = d.at + i * 3 + i / Row_Bytes * (2 + Dump_Tabs);
      if (at + 2 <= Sink.size) Put_Digits(reinterpret_cast<char*>(Sink.data) + at, Section_Byte(d.section, d.from + i));
    }
}

}  // namespace

void Listing_Pass_Start() {
  Listing_State& l = Listing;
  l.Listing_On = Options.Info_Flags.list_pass || l.Listing_Pass ? 1 : 0;
  l.Listing_Skip_Once = 0;
  l.Listing_Width = 0;
  l.Listing_Open_Now = 0;
  l.Dumped_Section = l.Dumped_Offset = 0;
}

void Listing_Open() {
  Listing_State& l = Listing;
  if (!l.Listing_On || l.Listing_Open_Now) return;
  l.Listing_Open_Now = 1;
  l.Listing_Width = 0;
  Sink.Clear();
  Sink.failed = false;
  Dumps.clear();
  Record_Line = nullptr;
  if (Options.Info_Flags.list_pass) {
    char name[32];
    Str_Format(name, sizeof name, "_list_%u.lst", {Pass.Pass_Number});
    File_Name = name;
  } else {
    File_Name = List_File_Name("_list.lst");
  }
  List_Text(Sink, Program_Title);
  List_Text(Sink, " - Listing of: ");
  List_Text(Sink, Input_File_Name());
  List_Text(Sink, " \r\n");
}

void Listing_Close() {
  Listing_State& l = Listing;
  if (!l.Listing_Open_Now) return;
  l.Listing_Open_Now = 0;
  if (!Sink.failed) Dumps_Refresh();
  List_File_Write(File_Name, Sink, "Listing, can not create file: ");
  Sink.Free();
  Dumps = {};
}

void Listing_Line(const Line_Start& at, const char* end) {
  if (!Writing()) return;
  if (Listing.Listing_Skip_Once) {
    Listing.Listing_Skip_Once = 0;
    return;
  }
  uint32_t length = at.text && end > at.text ? static_cast<uint32_t>(end - at.text) : 0;
  Record_Start(at.address);
  Record_Text(at.text, length);
  Record_Line = at.text;
}

void Listing_Line_Text(const char* text) {
  if (!Writing()) return;
  Record_Start(Scanner_Line_Start().address);
  Record_Text(text, Str_Len(text));
  Record_Line = nullptr;
}

void Listing_Bytes_Before_Text(const Line_Start& at) {
  if (Writing() && at.text && Record_Line == at.text) Listing_Bytes(at);
}

void Listing_Bytes(const Line_Start& at) {
  if (!Writing()) return;
  Listing_State& l = Listing;
  const Section_State& s = Sections;
  uint32_t width = l.Listing_Width;
  uint32_t from = at.write_offset;
  if (l.Dumped_Section == at.section && l.Dumped_Offset > from && l.Dumped_Offset <= s.Section_Write_Offset)
    from = l.Dumped_Offset;
  l.Listing_Width = 0;
  l.Dumped_Section = s.Current_Section;
  l.Dumped_Offset = s.Section_Write_Offset;
  // A statement that selected another section dumps nothing, whatever the
  // two write offsets are.
  if (width == 0 || !s.Section_Data_Base || at.section != s.Current_Section || s.Section_Write_Offset <= from ||
      s.Current_Section >= Max_Sections)
    return;
  char out[Dump_Tabs + Dump_Limit * 3 + (Dump_Limit / Row_Bytes) * (2 + Dump_Tabs) + 3];
  uint32_t n = 0;
  uint32_t tabs = width / 8 <= 12 ? Dump_Column / 8 - width / 8 + 1 : 2;
  while (tabs--) out[n++] = '\t';
  uint32_t count = s.Section_Write_Offset - from;
  Dumps.push_back({Sink.size + n, s.Current_Section, from, count < Dump_Limit ? count : Dump_Limit});
  for (uint32_t i = 0; i < count; ++i) {
    Put_Digits(out + n, Section_Byte(s.Current_Section, from + i));
    n += 2;
    out[n++] = ' ';
    if ((i + 1) % Row_Bytes) continue;
    out[n++] = '\r';
    out[n++] = '\n';
    for (uint32_t t = 0; t < Dump_Tabs; ++t) out[n++] = '\t';
    if (i + 1 == Dump_Limit) {
      out[n++] = '.';
      out[n++] = '.';
      out[n++] = '.';
      break;
    }
  }
  Sink.Append(out, n);
}

void Listing_Text(const char* text) {
  if (Writing()) List_Text(Sink, text);
}
