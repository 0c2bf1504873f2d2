// Source scanner: a character-level state machine over one buffer. Tokens are
// (pointer, length) pairs into the buffer; nothing is copied.
#include "core/scanner.h"


#include "core/assemble.h"
#include "core/cmdline.h"
#include "core/diag.h"
#include "core/dispatch.h"
#include "core/lookup_tape.h"
#include "core/operands.h"
#include "core/platform/platform.h"
#include "core/scratch.h"
#include "core/shortcuts.h"
#include "core/text.h"
#include "directives/hooks.h"
#include "directives/macro.h"
#include "output/listing.h"
#include "output/sections.h"
#include "output/tables.h"

namespace {

void No_Statement_End() {}
const Token_Sink Dispatch_Sink = {Token_Word, Token_String, Token_Bracket, No_Statement_End};
const Token_Sink* Sink = &Dispatch_Sink;

enum Scan_State : uint8_t {
  S_Comment = 1,   // ; comment up to the line end
  S_Word = 2,
  S_DQuote = 3,
  S_SQuote = 4,
  S_Between = 5,
  S_Bracket = 6,
  S_Block = 7,     // /* */ comment, may nest and span lines
  S_Angle = 8,
  S_Brace = 9,
};

bool Angle_Is_Ordinary(uint32_t mode) {
  return mode == 52 || mode == 55 || mode == 58 || mode == 60 || mode == 231 || mode == 232 || mode == 293 || mode == 294;
}
bool Brace_Is_Ordinary(uint32_t mode) { return mode == 205 || mode == 267; }
bool Backslash_Is_Ordinary(uint32_t mode) { return mode == 19 || mode == 224 || mode == 271 || mode == 273; }

// Modes that end quietly at a line end, by what they do there.
enum class Line_End_Action { Reset_Only, Mode0_Reset, Macro_Header, Until, While, Echo, Unfinished };

Line_End_Action Action_For_Mode(uint32_t mode) {
  switch (mode) {
    case 293: return Line_End_Action::Until;
    case 294: return Line_End_Action::While;
    case 291: return Line_End_Action::Echo;
    case 0: case 52: case 55: case 58: case 232: case 267: case 287:
      return Line_End_Action::Reset_Only;
    case 45: case 46: case 47: case 48: case 60: case 61: case 200: case 201: case 202: case 203: case 204:
    case 223: case 260: case 262: case 268: case 269: case 270: case 300: case Mode_Skip_Statement:
      return Line_End_Action::Mode0_Reset;
    case 53: return Line_End_Action::Macro_Header;
    default: return Line_End_Action::Unfinished;
  }
}

struct Scanner {
  const char* text;
  uint32_t length;
  uint32_t flags;
  uint32_t pos;
  uint32_t start;        // current token start
  Scan_State state;
  uint32_t angle_nesting;
  bool angle_in_quote;
  bool listed;           // the current line went to the listing already
  const char* last_token;
  uint32_t last_token_length;
  bool stop;             // Parse_Buffer must return at once
};

Line_Start Current_Line = {nullptr, 0, 0, 0};

void Mark_Line_Start(const char* text) {
  const Section_State& sec = Sections;
  Current_Line = {text, sec.Current_Section, sec.Section_Write_Offset, sec.Location_Counter};
}

void Word_Out(Scanner& s) {
  s.last_token = s.text + s.start;
  s.last_token_length = s.pos - s.start;
  Sink->word(s.last_token, s.last_token_length);
}

void Count_Line(Scanner& s) {
  if (!(s.flags & Parse_Not_File)) {
    Pass.Line_Counter += 1;
    Tape_Line(Pass.Line_Counter);
    if (File_Name_Slot* f = Current_File_Name()) f->line += 1;
  } else if (s.flags & Parse_Macro_Body) {
    Macro_Body_Line_Advance();
  }
}

void List_Line(Scanner& s) {
  if (Listing.Listing_On && !s.listed) Listing_Line(Current_Line, s.text + s.pos);
  s.listed = true;
}

// The work at the end of a statement (a carriage return, or a line feed that
// does not follow one).
void Statement_End(Scanner& s) {
  if (s.state == S_Block || s.state == S_Brace) {  // these span lines
    List_Line(s);
    return;
  }
  if (Parser.Parser_Mode == Mode_Include_Name) List_Line(s);  // before the file's own lines
  if (Options.Info_Flags.info_lines && !(s.flags & Parse_Not_File)) Line_Table_Add();
  if (s.state == S_Word) Word_Out(s);
  if (Section_Ensure_Page() == -1) {
    Diag.Stop_Flag += 1;
    s.stop = true;
    return;
  }
  List_Line(s);
  const char* token = s.text + s.start;
  uint32_t token_length = s.pos - s.start;
  switch (s.state) {
    case S_Bracket: Error_Text("Expecting right square bracket:", token, token_length); break;
    case S_DQuote:
    case S_SQuote: Error_Text("Expecting end quote:", token, token_length); break;
    case S_Angle: Error_Text("Expecting \">\" in: ", token, token_length); break;
    default: break;
  }
  Params_Context& p = Params;
  if (p.pending_length) {
    Error_Text("Unknown Instruction or statement: ", p.pending_name, p.pending_length);
    Diag.Stop_Flag += 1;
    p.pending_length = 0;
    p.pending_name = nullptr;
  }
  Line_End_Hooks();
  Sink->statement_end();
  p.pending_length = 0;
  p.pending_name = nullptr;
  s.state = S_Between;

  switch (Action_For_Mode(Parser.Parser_Mode)) {
    case Line_End_Action::Until:
      Until_Line_End();
      Parser.Parser_Mode = 0;
      Params_Reset();
      break;
    case Line_End_Action::While:
      While_Line_End();
      Parser.Parser_Mode = 0;
      Params_Reset();
      break;
    case Line_End_Action::Echo:
      Echo_Print();
      Parser.Parser_Mode = 0;
      Params_Reset();
      break;
    case Line_End_Action::Reset_Only: Params_Reset(); break;
    case Line_End_Action::Mode0_Reset:
      Parser.Parser_Mode = 0;
      Params_Reset();
      break;
    case Line_End_Action::Macro_Header:
      Macro_Body_Starts_At(s.text + s.pos);
      Parser.Parser_Mode = Mode_Macro_Body;
      break;
    case Line_End_Action::Unfinished:
      Error_Msg("Unfinished instruction or statement");
      Parser.Parser_Mode = 0;
      Params_Reset();
      break;
  }
  if (Parser.Parse_Depth == 1) Scratch_Reset();
}

// Characters that a state must look at; every other character of a word,
// comment, quoted or bracketed text is passed over in one tight loop (no
// handler runs inside a token, so nothing can change under the loop).
enum : uint8_t { Stop_Word = 1, Stop_Comment = 2, Stop_Blank = 4, Stop_DQuote = 8, Stop_SQuote = 16, Stop_Bracket = 32 };

struct Stop_Table {
  uint8_t of[256] = {};
  constexpr Stop_Table() {
    for (uint8_t c : {' ', '\t', ',', ';', '\r', '\n'}) of[c] |= Stop_Word;
    for (uint8_t c : {'\r', '\n'}) of[c] |= Stop_Comment | Stop_DQuote | Stop_SQuote | Stop_Bracket;
    for (int c = 0; c < 256; ++c)
      if (c != ' ' && c != '\t' && c != ',') of[c] |= Stop_Blank;
    of[static_cast<uint8_t>('"')] |= Stop_DQuote;
    of[static_cast<uint8_t>('\'')] |= Stop_SQuote;
    for (uint8_t c : {']', '[', ';'}) of[c] |= Stop_Bracket;
  }
};
constexpr Stop_Table Stops;

// Characters that start a plain word between tokens: everything that the
// S_Between state hands to its default case in every parser mode.
struct Word_Start_Table {
  bool of[256] = {};
  constexpr Word_Start_Table() {
    for (int c = 0; c < 256; ++c) of[c] = true;
    for (uint8_t c : {' ', '\t', ',', ';', '/', '[', ']', '"', '\'', '<', '{', '\\', '\r', '\n'}) of[c] = false;
  }
};
constexpr Word_Start_Table Word_Starts;

uint32_t Skip_To_Stop(const char* t, uint32_t p, uint32_t n, uint8_t mask) {
  while (p < n && !(Stops.of[static_cast<uint8_t>(t[p])] & mask)) ++p;
  return p;
}

uint8_t Stop_Mask(Scan_State state) {
  switch (state) {
    case S_Word: return Stop_Word;
    case S_Comment: return Stop_Comment;
    case S_Between: return Stop_Blank;
    case S_DQuote: return Stop_DQuote;
    case S_SQuote: return Stop_SQuote;
    case S_Bracket: return Stop_Bracket;
    default: return 0;
  }
}

// Plain words and closed brackets with the blanks between them, one after
// another, taken as S_Between, S_Word and S_Bracket would take them. It
// returns at anything else (a line end, a quote, a comment, a character
// whose meaning depends on the parser mode) with the state and position the
// general loop goes on from, or after a handler stopped the scan.
void Scan_Plain_Tokens(Scanner& s) {
  const char* t = s.text;
  const uint32_t n = s.length;
  uint32_t p = s.pos;
  for (;;) {
    while (p < n && (t[p] == ' ' || t[p] == '\t' || t[p] == ',')) ++p;
    if (p >= n) break;
    const char c = t[p];
    if (Word_Starts.of[static_cast<uint8_t>(c)]) {
      const uint32_t end = Skip_To_Stop(t, p + 1, n, Stop_Word);
      s.start = p;
      if (end >= n || t[end] == '\r' || t[end] == '\n') {  // S_Word ends it with the statement
        s.state = S_Word;
        p = end;
        break;
      }
      s.pos = end;
      Word_Out(s);
      p = end + 1;
      if (t[end] == ';') {
        s.state = S_Comment;
        break;
      }
      if (Diag.Stop_Flag || s.stop) break;
      continue;
    }
    if (c == '[') {
      const uint32_t end = Skip_To_Stop(t, p + 1, n, Stop_Bracket);
      s.start = p;
      if (end >= n || t[end] != ']') {  // an error or a comment: S_Bracket says which
        s.state = S_Bracket;
        p = end;
        break;
      }
      s.last_token = t + p;
      s.last_token_length = end + 1 - p;
      p = end + 1;
      s.pos = p;
      Sink->bracket(s.last_token, s.last_token_length);
      if (Diag.Stop_Flag || s.stop) break;
      continue;
    }
    break;
  }
  s.pos = p;
}

void Scan(Scanner& s) {
  const char* t = s.text;
  const uint32_t n = s.length;
  while (s.pos < n) {
    if (Diag.Stop_Flag || s.stop) return;
    if (s.state == S_Between && Shortcuts_On()) {
      Scan_Plain_Tokens(s);
      if (s.pos >= n || Diag.Stop_Flag || s.stop) continue;  // the loop's head decides
    }
    if (uint8_t mask = Stop_Mask(s.state); mask && !(Stops.of[static_cast<uint8_t>(t[s.pos])] & mask)) {
      uint32_t p = s.pos + 1;
      while (p < n && !(Stops.of[static_cast<uint8_t>(t[p])] & mask)) ++p;
      s.pos = p;
      continue;
    }
    char c = t[s.pos];
    char next = s.pos + 1 < n ? t[s.pos + 1] : 0;  // nothing past the end

    if (c == '\r') {
      Statement_End(s);
      if (s.stop) return;
      ++s.pos;
      continue;
    }
    if (c == '\n') {
      if (s.pos == 0 || t[s.pos - 1] != '\r') {
        Statement_End(s);
        if (s.stop) return;
      }
      Count_Line(s);
      if (Listing.Listing_On) Listing_Bytes(Current_Line);
      s.listed = false;
      ++s.pos;
      Mark_Line_Start(t + s.pos);
      continue;
    }

    switch (s.state) {
      case S_Between:
        switch (c) {
          case ' ': case '\t': case ',': break;
          case ';': s.state = S_Comment; break;
          case '/':
            if (next == '*') {
              s.state = S_Block;
              Parser.Comment_Depth = 1;
              ++s.pos;
            } else {
              s.state = S_Word;
              s.start = s.pos;
            }
            break;
          case '[': s.state = S_Bracket; s.start = s.pos; break;
          case ']': Error_Text("Expecting start bracket: ", s.last_token, s.last_token_length); break;
          case '"': s.state = S_DQuote; s.start = s.pos; break;
          case '\'': s.state = S_SQuote; s.start = s.pos; break;
          case '<':
            s.start = s.pos;
            if (Angle_Is_Ordinary(Parser.Parser_Mode)) {
              s.state = S_Word;
            } else {
              s.state = S_Angle;
              s.angle_nesting = 0;
              s.angle_in_quote = false;
            }
            break;
          case '{':
            s.start = s.pos;
            s.state = Brace_Is_Ordinary(Parser.Parser_Mode) ? S_Word : S_Brace;
            break;
          case '\\':
            if (Backslash_Is_Ordinary(Parser.Parser_Mode)) {
              s.state = S_Word;
              s.start = s.pos;
              break;
            }
            // Line continuation: skip to the next line feed, count it, go on.
            while (s.pos < n && t[s.pos] != '\n') ++s.pos;
            if (s.pos >= n) return;
            Count_Line(s);
            break;
          default: s.state = S_Word; s.start = s.pos; break;
        }
        break;

      case S_Word:
        if (c == ' ' || c == '\t' || c == ',') {
          Word_Out(s);
          s.state = S_Between;
        } else if (c == ';') {
          Word_Out(s);
          s.state = S_Comment;
        }
        break;

      case S_Comment: break;

      case S_DQuote:
        if (c == '"') {
          s.last_token = t + s.start;
          s.last_token_length = s.pos + 1 - s.start;
          s.state = S_Between;
          Sink->string(s.last_token, s.last_token_length);
        }
        break;

      case S_SQuote:
        if (c == '\'') {
          s.last_token = t + s.start;
          s.last_token_length = s.pos + 1 - s.start;
          s.state = S_Between;
          Sink->string(s.last_token, s.last_token_length);
        }
        break;

      case S_Bracket:
        if (c == ']') {
          s.last_token = t + s.start;
          s.last_token_length = s.pos + 1 - s.start;
          s.state = S_Between;
          Sink->bracket(s.last_token, s.last_token_length);
        } else if (c == '[') {
          Error_Text("Brackets nesting is not allowed: ", t + s.start, s.pos - s.start);
        } else if (c == ';') {
          s.state = S_Comment;
        }
        break;

      case S_Block:
        if (c == '/' && next == '*') {
          Parser.Comment_Depth += 1;
          ++s.pos;
        } else if (c == '*' && next == '/') {
          ++s.pos;
          Parser.Comment_Depth -= 1;
          if (Parser.Comment_Depth == 0) s.state = S_Between;
        }
        break;

      case S_Angle:
        if (c == '"') {
          s.angle_in_quote = !s.angle_in_quote;
        } else if (s.angle_in_quote) {
          // part of the text
        } else if (c == '<') {
          s.angle_nesting += 1;
        } else if (c == '>') {
          if (s.angle_nesting > 0) {
            s.angle_nesting -= 1;
          } else {
            uint32_t inner = s.pos - s.start - 1;
            s.state = S_Between;
            if (inner == 0) Sink->word(" ", 1);
            else Sink->word(t + s.start + 1, inner);
          }
        } else if (c == ';') {
          s.state = S_Comment;
        }
        break;

      case S_Brace:
        if (c == '}') {
          uint32_t inner = s.pos - s.start - 1;
          s.state = S_Between;
          if (inner) Sink->word(t + s.start + 1, inner);
        } else if (c == ';') {
          s.state = S_Comment;
        }
        break;
    }
    ++s.pos;
  }
}

}  // namespace

namespace {
Scan_Buffer Current_Buffer = {nullptr, 0, 0};
uint32_t Buffer_Serial = 0;

struct Expansion_Budget {
  uint64_t pass_bytes = 0;   // expansions and included files of this pass
  uint64_t outer_bytes = 0;  // the outermost open expansion and all inside it
  uint32_t open = 0;         // expansions being parsed
};
Expansion_Budget Budget;
}  // namespace

void Expansion_Refused(const char* name, uint32_t length) {
  Error_Text("Expansion too big: ", name, length);
  Diag.Stop_Flag += 1;
}

uint64_t Expansion_Room() {
  const Expansion_Budget& b = Budget;
  const uint64_t outer = b.open ? Expansion_Cap - b.outer_bytes : Expansion_Cap;
  const uint64_t pass = Pass_Expansion_Cap - b.pass_bytes;
  return outer < pass ? outer : pass;
}

bool Expansion_Enter(uint64_t size, const char* name, uint32_t length) {
  Expansion_Budget& b = Budget;
  if (size > Expansion_Room()) {
    Expansion_Refused(name, length);
    return false;
  }
  if (b.open == 0) b.outer_bytes = 0;
  b.outer_bytes += size;
  b.pass_bytes += size;
  b.open += 1;
  return true;
}

void Expansion_Leave() {
  if (Budget.open) Budget.open -= 1;
}

void Expansion_Reset_Pass() { Budget = Expansion_Budget{}; }

namespace {
// An included file counts toward the pass's budget when it is read.
bool Include_Fits(uint64_t size) {
  Expansion_Budget& b = Budget;
  const uint64_t charge = size > Include_Least_Bytes ? size : Include_Least_Bytes;
  if (charge > Pass_Expansion_Cap - b.pass_bytes) return false;
  b.pass_bytes += charge;
  return true;
}
}  // namespace

Scan_Buffer Scanner_Current_Buffer() { return Current_Buffer; }
const Line_Start& Scanner_Line_Start() { return Current_Line; }

void Scanner_Set_Sink(const Token_Sink* sink) { Sink = sink ? sink : &Dispatch_Sink; }

int Parse_Buffer(const char* text, uint32_t length, uint32_t flags) {
  if (Listing.Listing_On) {
    // What the line that starts this text emitted before it (a PROC's
    // prologue before an `invoke`) goes with that line's record.
    Listing_Bytes_Before_Text(Current_Line);
    Listing_Text("\r\n");
  }
  Parser_State& ps = Parser;
  ps.Parse_Depth += 1;
  if (ps.Parse_Depth >= Parse_Depth_Limit) {
    Error_Msg("Parse deepth level overflow.");
    Diag.Stop_Flag += 1;  // unwinds every level at once
  } else {
    ps.Bom_Seen = 0;
    if (length >= 3 && static_cast<uint8_t>(text[0]) == 0xEF && static_cast<uint8_t>(text[1]) == 0xBB &&
        static_cast<uint8_t>(text[2]) == 0xBF) {
      ps.Bom_Seen = 1;
      text += 3;
      length -= 3;
    }
    if (!(flags & Parse_Keep_Mode)) ps.Parser_Mode = 0;
    Scanner s{};
    s.text = text;
    s.length = length;
    s.flags = flags;
    s.state = S_Between;
    s.last_token = text;
    Scan_Buffer outer = Current_Buffer;
    Line_Start outer_line = Current_Line;
    Current_Buffer = {text, length, ++Buffer_Serial};
    Mark_Line_Start(text);
    Scan(s);
    if (s.pos >= length && !s.stop && !Diag.Stop_Flag) {
      // The end of the text.
      bool file_text = !(flags & Parse_Not_File);
      bool ended_line = length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n');
      if (s.state == S_Brace) {
        Error_Msg("An accolade is left open ...");
      } else if (s.state == S_Block && file_text) {
        Error_Text("Comment is not closed: ", "/*", 2);
      } else if (file_text && !ended_line && length > 0) {
        Statement_End(s);  // a last line without a line end is a statement too
        if (Listing.Listing_On) Listing_Bytes(Current_Line);
      } else {
        List_Line(s);
        if (s.state == S_Word) Word_Out(s);
      }
    }
    Current_Buffer = outer;
    Current_Line = outer_line;
  }
  if (ps.Parse_Depth == 0) Error_Msg("Parse deepth level underflow.");
  else ps.Parse_Depth -= 1;
  return 0;
}

namespace {
// The main file's buffer, kept from one pass to the next with what the first
// pass read into it: a later pass that finds the file at the same size takes
// the same text again without reading it (and without the copy of a large
// file pushing everything else out of the caches).
struct Kept_Source {
  char* block = nullptr;
  uint32_t size = 0;       // of the block
  int64_t text_size = -1;  // of the text it holds, -1 when it holds none
} Main_Source;

char* Source_Block(uint32_t size, bool main_file) {
  if (!main_file || !Shortcuts_On()) return static_cast<char*>(Mem_Alloc(size));
  Main_Source.text_size = -1;  // read anew
  if (Main_Source.block && Main_Source.size >= size) return Main_Source.block;
  Scanner_Release_Buffers();
  Main_Source.block = static_cast<char*>(Mem_Alloc(size));
  Main_Source.size = Main_Source.block ? size : 0;
  return Main_Source.block;
}

void Source_Block_Done(char* block, uint32_t size) {
  if (block != Main_Source.block) Mem_Free(block, 0, size);
}
}  // namespace

void Scanner_Release_Buffers() {
  if (Main_Source.block) Mem_Free(Main_Source.block, 0, Main_Source.size);
  Main_Source = Kept_Source{};
}

int Parse_Source_File(const char* path) {
  Diag_State& d = Diag;
  uint32_t path_length = Str_Len(path);
  if (d.Include_Depth + 1 >= static_cast<int32_t>(File_Stack_Depth)) {
    Error_Text("Include, nesting too deep: ", path, path_length);
    d.Stop_Flag += 1;
    return -1;
  }
  if (path_length >= File_Name_Size) {
    Error_Text("Include, file name too long: ", path, path_length);
    d.Stop_Flag += 1;
    return -1;
  }
  d.Include_Depth += 1;
  File_Name_Slot& slot = d.File_Name_Stack[d.Include_Depth];
  Str_Copy_Nr(path, slot.name, path_length);
  slot.name[path_length] = 0;
  slot.line = 1;
  if (Options.Info_Flags.info_files || Options.Info_Flags.info_lines || Options.Debug_Info) File_Table_Add(slot.name);

  File_Kind_Value kind = File_Absent;
  File_Handle f = File_Open(slot.name, &kind);
  if (f == No_File && kind != File_Absent) {  // there is nothing to read
    d.Include_Depth -= 1;
    Error_Text("File is not a regular file: ", path, path_length);
    d.Stop_Flag += 1;
    return -1;
  }
  if (f == No_File) {
    Print_Text("\r\n**Error** ");
    Print_Text("Can not open file: ");
    Print_Text(slot.name);
    d.Include_Depth -= 1;
    d.Stop_Flag += 1;
    return -1;
  }
  int64_t size = File_Size(f);
  if (d.Include_Depth > 0 && size >= 0 && !Include_Fits(static_cast<uint64_t>(size))) {
    File_Close(f);
    d.Include_Depth -= 1;  // reported at the include statement
    Expansion_Refused(path, path_length);
    return -1;
  }
  char* buffer = nullptr;
  bool ok = size >= 0 && size < Source_File_Limit;
  if (ok && d.Include_Depth == 0 && Shortcuts_On() && Main_Source.text_size == size) {
    buffer = Main_Source.block;  // the text the first pass read
  } else if (ok) {
    buffer = Source_Block(static_cast<uint32_t>(size) + 32, d.Include_Depth == 0);
    ok = buffer != nullptr && (size == 0 || File_Read(f, buffer, static_cast<uint32_t>(size)) == 1);
    if (ok && buffer == Main_Source.block) Main_Source.text_size = size;
  }
  File_Close(f);
  if (!ok) {
    // The name is reported with the enclosing file's position.
    d.Include_Depth -= 1;
    if (size >= Source_File_Limit) Error_Text("File is too big: ", path, path_length);
    else Error_Text("Can not read file: ", path, path_length);
    d.Stop_Flag += 1;
    if (buffer) Source_Block_Done(buffer, static_cast<uint32_t>(size) + 32);
    return -1;
  }
  for (uint32_t i = 0; i < 32; ++i) buffer[size + i] = 0;

  Source_File_Start_Reset();
  Parse_Buffer(buffer, static_cast<uint32_t>(size), 0);
  Source_File_End_Checks();
  d.Include_Depth -= 1;
  Source_Block_Done(buffer, static_cast<uint32_t>(size) + 32);
  return 0;
}
