// Macros, REPT and FOR. The three capture their body raw, as offsets into the
// buffer being scanned, up to the matching `endm`; an expansion is built in a
// growable, capped text and parsed again in place of the statement.
#include "directives/macro.h"

#include <string>
#include <unordered_map>
#include <vector>

#include "core/assemble.h"
#include "core/diag.h"
#include "core/dispatch.h"
#include "core/expr.h"
#include "core/keywords.h"
#include "core/operands.h"
#include "core/scanner.h"
#include "core/scratch.h"
#include "core/symbols.h"
#include "core/text.h"
#include "directives/cond_asm.h"

namespace {

constexpr uint32_t Macro_Name_Limit = 127;
constexpr uint32_t Marg_Name_Limit = 63;
constexpr uint32_t Marg_Limit = 53;
constexpr uint32_t Macro_Arg_Limit = 64;
constexpr uint32_t For_Item_Limit = 64;
constexpr uint32_t Macro_Depth_Limit = 128;
constexpr uint32_t For_Word_Limit = 4096;

enum : uint32_t { Param_Req = 1, Param_Vararg = 2 };

struct Macro_Param {
  std::string name;
  uint32_t flags;
};

struct Macro_Record {
  std::string name;
  std::string body;
  bool defined = false;
  std::vector<Macro_Param> params;
};

enum class Capture_Kind { None, Macro, Rept, For };

struct Capture {
  Capture_Kind kind = Capture_Kind::None;
  uint32_t nest = 0;
  uint32_t serial = 0;      // the buffer the body began in
  uint32_t parse_depth = 0;
  uint32_t start = 0;       // offset of the body in that buffer
  uint32_t words = 0;       // body words seen (marg must come first)
  int32_t macro = -1;       // -1: a body that is read and dropped
};

struct Call_Frame {
  int32_t macro;
  uint32_t line;
  bool operand;
  bool exitm_done;
  uint32_t params_depth;  // context depth after the caller's push
};

// Macro names for lookups: entry i names table[i] (pooled names, no record).
struct Macro_Name {};
constexpr uint32_t Macro_Grow_Step = 1024;

struct Macro_State {
  std::vector<Macro_Record> table;
  Symbol_Table<Macro_Name> index;
  Capture cap;
  int32_t call_index = -1;
  bool call_operand = false;
  uint32_t call_params_depth = 0;
  std::vector<std::string> args;
  std::vector<Call_Frame> stack;
  uint32_t serial = 0;
  uint32_t rept_count = 0;
  std::string cursor;
  bool reverse = false;
  std::vector<std::string> items;
  // By macro, its body's and its parameters' bytes: what the lookup tape
  // fetches ahead with its record.
  struct Fetch_Span {
    const char* at;
    size_t bytes;
  };
  std::vector<Fetch_Span> fetch_at;
};
Macro_State M;

void Macro_Tape_Prefetch(const void* table, uint32_t index, uint32_t hash) {
  Symbol_Table<Macro_Name>::Tape_Prefetch(table, index, hash);
  if (index >= M.table.size()) return;
  const char* record = reinterpret_cast<const char*>(&M.table[index]);
  __builtin_prefetch(record);
  __builtin_prefetch(record + sizeof(Macro_Record) - 1);
  if (2 * static_cast<size_t>(index) + 1 >= M.fetch_at.size()) return;
  // A pointer of a record that has moved since is fetched in vain, never read.
  // At most four lines of each: a long body is read slowly enough to fetch itself.
  for (size_t k = 2 * static_cast<size_t>(index); k <= 2 * static_cast<size_t>(index) + 1; ++k) {
    const Macro_State::Fetch_Span& f = M.fetch_at[k];
    if (!f.at) continue;
    const size_t bytes = f.bytes < 256 ? f.bytes : 256;
    for (size_t b = 0; b < bytes; b += 64) __builtin_prefetch(f.at + b);
    __builtin_prefetch(f.at + bytes - 1);
  }
}

int Macro_Index_Create() {
  if (M.index.Create(Macro_Grow_Step, Macro_Grow_Step, Tape_Macros) != 0) return -1;
  Tape_Register(Tape_Macros, {&M.index, Macro_Tape_Prefetch, &Symbol_Table<Macro_Name>::Tape_Bytes,
                             &Symbol_Table<Macro_Name>::Tape_Prefetch_Entry});
  return 0;
}

int32_t Macro_Find(const char* name, uint32_t length) {
  const int32_t i = M.index.Find(name, length);
  if (i < 0 || !M.table[static_cast<uint32_t>(i)].defined) return -1;
  return i;
}

bool Equal_Lower(const char* text, uint32_t length, const char* word) {
  return Str_Equal_Lower(text, length, word, Str_Len(word));
}

// ---- Capture -------------------------------------------------------------------

void Capture_Start(Capture_Kind kind, const char* position, int32_t macro) {
  Scan_Buffer b = Scanner_Current_Buffer();
  Capture& c = M.cap;
  c = Capture{};
  c.kind = kind;
  c.serial = b.serial;
  c.parse_depth = Parser.Parse_Depth;
  c.macro = macro;
  uint64_t at = b.text ? static_cast<uint64_t>(reinterpret_cast<uintptr_t>(position) - reinterpret_cast<uintptr_t>(b.text)) : 0;
  c.start = at <= b.length ? static_cast<uint32_t>(at) : b.length;
}

const char* Capture_Name() {
  switch (M.cap.kind) {
    case Capture_Kind::Rept: return "rept";
    case Capture_Kind::For: return "for";
    default: return M.cap.macro >= 0 ? M.table[M.cap.macro].name.c_str() : "macro";
  }
}

// Offset of `text` in the current buffer when the capture began there.
bool Capture_Offset(const char* text, uint32_t* offset) {
  Scan_Buffer b = Scanner_Current_Buffer();
  if (!b.text || b.serial != M.cap.serial) return false;
  uintptr_t p = reinterpret_cast<uintptr_t>(text), base = reinterpret_cast<uintptr_t>(b.text);
  if (p < base || p - base > b.length) return false;
  *offset = static_cast<uint32_t>(p - base);
  return true;
}

// One body word: 1 when it was the closing `endm` (the body is in *body).
int Capture_Word(const char* text, uint32_t length, std::string* body) {
  Capture& c = M.cap;
  c.words += 1;
  if (Equal_Lower(text, length, "macro") || Equal_Lower(text, length, "rept") || Equal_Lower(text, length, "for")) {
    c.nest += 1;
    return 0;
  }
  if (!Equal_Lower(text, length, "endm")) return 0;
  if (c.nest > 0) {
    c.nest -= 1;
    return 0;
  }
  Parser.Parser_Mode = 0;
  uint32_t end = 0;
  if (!Capture_Offset(text, &end) || end < c.start) {
    Error_Text("ENDM is missing for: ", Capture_Name(), Str_Len(Capture_Name()));
    c.kind = Capture_Kind::None;
    return -1;
  }
  Scan_Buffer b = Scanner_Current_Buffer();
  body->assign(b.text + c.start, end - c.start);
  c.kind = Capture_Kind::None;
  return 1;
}

// A body still open when the buffer it began in has ended.
void Capture_Buffer_End() {
  Capture& c = M.cap;
  if (c.kind == Capture_Kind::None || c.parse_depth != Parser.Parse_Depth + 1) return;
  if (!Diag.Stop_Flag) Error_Text("ENDM is missing for: ", Capture_Name(), Str_Len(Capture_Name()));
  c.kind = Capture_Kind::None;
  Parser.Parser_Mode = 0;
}

// ---- Expansion ------------------------------------------------------------------

// Charges the expansion; every allowed one is parsed by Parse_Expansion.
bool Expansion_Allowed(uint64_t size, const char* name, uint32_t length) {
  if (Parser.Parse_Depth + 1 >= Parse_Depth_Limit) {
    Error_Msg("Parse deepth level overflow.");
    Diag.Stop_Flag += 1;
    return false;
  }
  return Expansion_Enter(size, name, length);
}

bool Inside(const char* p, const std::string& text) {
  uintptr_t a = reinterpret_cast<uintptr_t>(p), base = reinterpret_cast<uintptr_t>(text.data());
  return a >= base && a - base <= text.size();
}

void Keep_Pending_Name(Params_Context& p, const std::string& text) {
  if (!p.pending_length || !Inside(p.pending_name, text)) return;
  char* copy = Scratch_Alloc(p.pending_length + 1);
  if (copy) {
    for (uint32_t i = 0; i < p.pending_length; ++i) copy[i] = p.pending_name[i];
    copy[p.pending_length] = 0;
    p.pending_name = copy;
  } else {
    p.pending_length = 0;
    p.pending_name = nullptr;
  }
}

// Parses an expansion; whatever of it the statement still holds is moved to
// the scratch arena before the text goes away.
void Parse_Expansion(const std::string& text, uint32_t flags) {
  Parse_Buffer(text.data(), static_cast<uint32_t>(text.size()), flags);
  Expansion_Leave();
  Capture_Buffer_End();
  Keep_Pending_Name(Params, text);
  for (uint32_t i = 0; i < Operands.Params_Depth; ++i) Keep_Pending_Name(Operands.Params_Stack[i], text);
}

bool Is_Macro_Separator(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ',' || c == '[' || c == ']';
}

struct Macro_Copier {
  const Macro_Record& m;
  const std::vector<std::string>& args;
  uint64_t cap;  // the room the budget leaves
  std::string out;
  bool too_big = false;

  void Put(const char* text, size_t n) {
    if (too_big) return;
    if (out.size() + n > cap) {
      too_big = true;
      return;
    }
    out.append(text, n);
  }
  void Put(const std::string& s) { Put(s.data(), s.size()); }

  std::string Subst_Amp(const std::string& w) {
    std::string r;
    bool matched = false;
    for (size_t i = 0; i < w.size(); ++i) {
      if (w[i] != '&') {
        r += w[i];
        continue;
      }
      bool hit = false;
      for (size_t k = 0; k < m.params.size(); ++k) {
        const std::string& name = m.params[k].name;
        if (!name.empty() && w.compare(i + 1, name.size(), name) == 0) {
          if (k < args.size()) r += args[k];
          i += name.size();
          hit = matched = true;
          break;
        }
      }
      if (!hit) r += '&';
      if (r.size() > cap) break;
    }
    return matched ? r : w;
  }

  void Word_Out(const std::string& w) {
    if (w[0] == '@') {
      bool colon = w.size() > 1 && w.back() == ':';
      Put(w.data(), w.size() - (colon ? 1 : 0));
      char hex[12];
      hex[0] = '_';
      Str_Hex32(M.serial, hex + 1);
      Put(hex, 9);
      if (colon) Put(":", 1);
      return;
    }
    if (!args.empty() && !m.params.empty()) {
      for (size_t k = 0; k < m.params.size(); ++k) {
        const Macro_Param& p = m.params[k];
        if (!Str_Equal_NoCase(w.data(), static_cast<uint32_t>(w.size()), p.name.data(),
                              static_cast<uint32_t>(p.name.size())))
          continue;
        if (k < args.size()) {
          Put(args[k]);
          if (p.flags & Param_Vararg)
            for (size_t j = k + 1; j < args.size(); ++j) {
              Put(",", 1);
              Put(args[j]);
            }
        }
        return;
      }
    }
    Put(w);
  }

  void Flush(const std::string& w, bool marked) {
    if (w.empty()) return;
    Word_Out(marked ? Subst_Amp(w) : w);
  }

  void Copy() {
    const std::string& body = m.body;
    std::string word;
    bool marked = false;
    for (char c : body) {
      if (too_big) return;
      if (Is_Macro_Separator(c)) {
        Flush(word, marked);
        word.clear();
        marked = false;
        Put(&c, 1);
      } else {
        if (c == '&') marked = true;
        word += c;
      }
    }
    Flush(word, marked);
  }
};

void Drop_Operand_Call() {
  while (Operands.Params_Depth >= M.call_params_depth && Operands.Params_Depth > 0) Params_Pop();
}

// ---- FOR body copy ---------------------------------------------------------------------

bool Is_For_Separator(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ','; }

void For_Word_Out(std::string& out, const std::string& w, const std::string& item) {
  const std::string& cursor = M.cursor;
  size_t amp = w.find('&');
  if (amp != std::string::npos && w.size() <= For_Word_Limit && w.compare(amp + 1, cursor.size(), cursor) == 0) {
    out.append(w, 0, amp);
    out += item;
    out.append(w, amp + 1 + cursor.size(), std::string::npos);
    return;
  }
  out += w == cursor ? item : w;
}

bool For_Body_Copy(std::string& out, const std::string& body, const std::string& item, uint64_t cap) {
  std::string word;
  for (char c : body) {
    if (Is_For_Separator(c)) {
      if (!word.empty()) For_Word_Out(out, word, item);
      word.clear();
      out += c;
    } else {
      word += c;
    }
    if (out.size() > cap) return false;
  }
  if (!word.empty()) For_Word_Out(out, word, item);
  return out.size() <= cap;
}

// ---- Mode handlers ------------------------------------------------------------------------

void Macro_Statement(const char* text, uint32_t length) {
  if (length > Macro_Name_Limit || Str_Has_Nul(text, length)) {
    Error_Text("MACRO, name too long: ", text, length);
    Capture_Start(Capture_Kind::Macro, text + length, -1);
    Parser.Parser_Mode = Mode_Macro_Body;
    return;
  }
  int32_t found = Macro_Find(text, length);
  int32_t index = -1;
  if (Pass.Pass_Number == 1) {
    if (found >= 0 || M.index.Find(text, length) >= 0) {
      Error_Text("MACRO, is already defined:", text, length);
    } else if ((!M.index.Created() && Macro_Index_Create() != 0) ||
               M.index.Add(text, length, 0) < 0) {  // (the table notes the name)
      Error_Text("MACRO, can not create more: ", text, length);
      Diag.Stop_Flag += 1;
    } else {
      index = static_cast<int32_t>(M.table.size());
      M.table.emplace_back();
      M.table.back().name.assign(text, length);
    }
  } else if (found >= 0) {
    index = found;
  } else {
    Error_Text("MACRO, Unknown definition? ", text, length);
  }
  Capture_Start(Capture_Kind::Macro, text + length, index);
  Parser.Parser_Mode = Mode_Macro_Body;
}

void Macro_Body_Line(const char* text, uint32_t length) {
  Capture& c = M.cap;
  if (c.kind != Capture_Kind::Macro) {
    Parser.Parser_Mode = 0;
    return;
  }
  if (c.nest == 0 && c.words == 0 && Equal_Lower(text, length, "marg")) {
    c.words += 1;
    Parser.Parser_Mode = Mode_Macro_Header;
    return;
  }
  int32_t index = c.macro;
  std::string body;
  if (Capture_Word(text, length, &body) != 1 || index < 0) return;
  Macro_Record& m = M.table[index];
  if (!m.defined) {
    m.body = std::move(body);
    m.defined = true;
    const size_t at = 2 * static_cast<size_t>(index);
    if (M.fetch_at.size() < at + 2) M.fetch_at.resize(at + 2);
    M.fetch_at[at] = {m.body.data(), m.body.size() + 1};
    M.fetch_at[at + 1] = {reinterpret_cast<const char*>(m.params.data()), m.params.size() * sizeof(Macro_Param) + 1};
  }
}

void Marg_Param(const char* text, uint32_t length) {
  int32_t index = M.cap.macro;
  if (Pass.Pass_Number != 1 || index < 0) return;
  Macro_Record& m = M.table[index];
  uint32_t colon = 0;
  while (colon < length && text[colon] != ':') ++colon;
  if (colon > 0) {
    if (colon > Marg_Name_Limit || Str_Has_Nul(text, colon)) {
      Error_Text("MARG, name too long: ", text, colon);
      return;
    }
    if (m.params.size() >= Marg_Limit) {
      Error_Text("MARG, too many parameters: ", text, colon);
      return;
    }
    m.params.push_back({std::string(text, colon), 0});
  }
  if (colon == length || m.params.empty()) return;
  const char* flag = text + colon;
  uint32_t n = length - colon;
  if (Equal_Lower(flag, n, ":req")) m.params.back().flags |= Param_Req;
  else if (Equal_Lower(flag, n, ":vararg")) m.params.back().flags |= Param_Vararg;
  else Error_Text("MACRO, Unknown definition? ", text, length);
}

void Macro_Call_Arg(const char* text, uint32_t length) {
  if (M.args.size() + 1 >= Macro_Arg_Limit) {
    Error_Text("MACRO, arg token count limit: ", text, length);
    return;
  }
  M.args.emplace_back(text, length);
}

void Rept_Count(const char* text, uint32_t length) {
  Eval_Result r = Eval_Value(text, length);
  uint32_t count = 2;
  if (r.status == 0) {
    int64_t v = static_cast<int64_t>(r.value);
    if (v < 0 || v > 0x7FFFFFFF) {
      Error_Text("REPT, repeat count out of range: ", text, length);
      count = 0;
    } else {
      count = static_cast<uint32_t>(v);
    }
  } else if (Pass.Pass_Number > 1) {
    Error_Text("REPT, unknown repeat count: ", text, length);
  }
  M.rept_count = count;
  Capture_Start(Capture_Kind::Rept, text + length, -1);
  Parser.Parser_Mode = Mode_Rept_Body;
}

void Rept_Body_Line(const char* text, uint32_t length) {
  if (M.cap.kind != Capture_Kind::Rept) {
    Parser.Parser_Mode = 0;
    return;
  }
  std::string body;
  if (Capture_Word(text, length, &body) != 1) return;
  uint32_t count = M.rept_count;
  if (count == 0 || body.empty()) return;
  if (!Expansion_Allowed(static_cast<uint64_t>(body.size()) * count, "rept", 4)) return;
  std::string out;
  out.reserve(body.size() * count);
  for (uint32_t i = 0; i < count; ++i) out += body;
  Parse_Expansion(out, Parse_Not_File);
}

void Ignore_Token(const char*, uint32_t) {}

void For_Cursor(const char* text, uint32_t length) {
  if (Equal_Lower(text, length, "in:")) {
    Parser.Parser_Mode = Mode_For_Item;
    return;
  }
  if (M.cursor.empty()) {
    M.cursor.assign(text, length);
    return;
  }
  Error_Text("FOR, too many arguments (expecting IN:) : ", text, length);
  Diag.Stop_Flag |= 1;
  Parser.Parser_Mode = 0;
}

bool For_Has_Cursor(const char* text, uint32_t length) {
  if (!M.cursor.empty()) return true;
  Error_Text("FOR ... IN:, cursor item not defined ", text, length);
  Diag.Stop_Flag |= 1;
  Parser.Parser_Mode = 0;
  return false;
}

void For_Add_Item(const char* text, uint32_t length) {
  if (!For_Has_Cursor(text, length)) return;
  if (M.items.size() >= For_Item_Limit) {
    Error_Text("FOR, too many items: ", text, length);
    return;
  }
  M.items.emplace_back(text, length);
}

void For_Item(const char* text, uint32_t length) {
  if (!For_Has_Cursor(text, length)) return;
  if (Equal_Lower(text, length, "do")) {
    Capture_Start(Capture_Kind::For, text + length, -1);
    Parser.Parser_Mode = Mode_For_Body;
    return;
  }
  if (Equal_Lower(text, length, "rev")) {
    M.reverse = true;
    return;
  }
  For_Add_Item(text, length);
}

void For_Body_Line(const char* text, uint32_t length) {
  if (M.cap.kind != Capture_Kind::For) {
    Parser.Parser_Mode = 0;
    return;
  }
  std::string body;
  if (Capture_Word(text, length, &body) != 1 || M.items.empty()) return;
  // The state belongs to this statement: a FOR in the expansion starts anew.
  std::vector<std::string> items = std::move(M.items);
  M.items.clear();
  bool reverse = M.reverse;
  std::string out;
  bool fits = true;
  const uint64_t cap = Expansion_Room();
  for (size_t i = 0; i < items.size() && fits; ++i)
    fits = For_Body_Copy(out, body, items[reverse ? items.size() - 1 - i : i], cap);
  if (!fits) {
    Expansion_Refused("for", 3);
    return;
  }
  if (!Expansion_Allowed(out.size(), "for", 3)) return;
  Parse_Expansion(out, Parse_Not_File);
}

void Exitm_Token(const char* text, uint32_t length, void (*dispatch)(const char*, uint32_t)) {
  if (M.stack.empty() || !M.stack.back().operand || M.stack.back().exitm_done) {
    Error_Text("EXITM, macro not used as an operand: ", text, length);
    Parser.Parser_Mode = 0;
    return;
  }
  Call_Frame& f = M.stack.back();
  f.exitm_done = true;
  while (Operands.Params_Depth >= f.params_depth && Operands.Params_Depth > 0) Params_Pop();
  Parser.Parser_Mode = Params.saved_mode;
  dispatch(text, length);
}

void Exitm_Word(const char* text, uint32_t length) { Exitm_Token(text, length, Token_Word); }
void Exitm_String(const char* text, uint32_t length) { Exitm_Token(text, length, Token_String); }
void Exitm_Bracket(const char* text, uint32_t length) { Exitm_Token(text, length, Token_Bracket); }

const Mode_Handler Words[] = {
    {Mode_Macro_Name, Macro_Statement}, {Mode_Macro_Body, Macro_Body_Line}, {Mode_Macro_Header, Marg_Param},
    {Mode_Rept_Count, Rept_Count},      {Mode_Rept_Body, Rept_Body_Line},   {Mode_For_Cursor, For_Cursor},
    {Mode_For_Item, For_Item},          {Mode_For_Body, For_Body_Line},     {Mode_Macro_Call_Arg, Macro_Call_Arg},
    {Mode_Exitm, Exitm_Word},
};
const Mode_Handler Brackets[] = {
    {Mode_Rept_Body, Ignore_Token}, {Mode_For_Item, For_Add_Item}, {Mode_Macro_Call_Arg, Macro_Call_Arg},
    {Mode_Exitm, Exitm_Bracket},
};
const Mode_Handler Strings[] = {
    {Mode_For_Item, For_Add_Item}, {Mode_Macro_Call_Arg, Macro_Call_Arg}, {Mode_Exitm, Exitm_String},
};

bool Start_Call(const char* text, uint32_t length, bool operand) {
  if (M.table.empty()) return false;
  int32_t index = Macro_Find(text, length);
  if (index < 0) return false;
  M.call_index = index;
  M.call_operand = operand;
  M.args.clear();
  if (operand) {
    Params.saved_mode = Parser.Parser_Mode;
    Params_Push();
    M.call_params_depth = Operands.Params_Depth;
    Params.pending_length = 0;
    Params.pending_name = nullptr;
    Params_Reset();
    Parser.Parser_Mode = Mode_Macro_Call_Arg;
  }
  return true;
}

}  // namespace

extern const Mode_Table Macro_Mode_Table = {
    "macro", Words, sizeof Words / sizeof Words[0], Brackets, sizeof Brackets / sizeof Brackets[0],
    Strings, sizeof Strings / sizeof Strings[0]};

void Dir_Macro(const Keyword_Entry*) { Parser.Parser_Mode = Mode_Macro_Name; }

void Dir_Endm(const Keyword_Entry*) {
  Error_Msg("ENDM without MACRO? ");
  Parser.Parser_Mode = 0;
}

void Dir_Rept(const Keyword_Entry*) {
  M.rept_count = 2;
  Parser.Parser_Mode = Mode_Rept_Count;
}

void Dir_For(const Keyword_Entry*) {
  M.cursor.clear();
  M.reverse = false;
  M.items.clear();
  Parser.Parser_Mode = Mode_For_Cursor;
}

void Dir_For_Do(const Keyword_Entry*) {
  Error_Msg("DO without FOR ... IN: ? ");
  Parser.Parser_Mode = 0;
}

bool Macro_Call_Pending() { return M.call_index != -1; }

void Macro_Expand() {
  int32_t index = M.call_index;
  M.call_index = -1;
  if (index < 0) return;
  bool operand = M.call_operand;
  const Macro_Record& m = M.table[index];
  if (M.stack.size() >= Macro_Depth_Limit) {
    Error_Msg("MACRO, deepth level limit.");
    Diag.Stop_Flag += 1;
    if (operand) Drop_Operand_Call();
    return;
  }
  // A required argument is missing whether or not the body names it as a
  // whole word, and also in a call with no arguments at all.
  for (size_t k = M.args.size(); k < m.params.size(); ++k)
    if (m.params[k].flags & Param_Req)
      Error_Text("MACRO, required argument is missing: ", m.params[k].name.data(),
                 static_cast<uint32_t>(m.params[k].name.size()));
  M.serial += 1;
  Macro_Copier copier{m, M.args, Expansion_Room(), {}, false};
  copier.out.reserve(m.body.size() + 64);
  copier.Copy();
  M.args.clear();
  const uint32_t name_length = static_cast<uint32_t>(m.name.size());
  if (copier.too_big || !Expansion_Allowed(copier.out.size(), m.name.data(), name_length)) {
    if (copier.too_big) Expansion_Refused(m.name.data(), name_length);
    if (operand) Drop_Operand_Call();
    return;
  }
  M.stack.push_back({index, 1, operand, false, M.call_params_depth});
  std::string text = std::move(copier.out);
  Parse_Expansion(text, Parse_Not_File | Parse_Macro_Body);
  M.call_index = -1;
  Call_Frame f = M.stack.back();
  M.stack.pop_back();
  if (f.operand && !f.exitm_done) {
    if (!Diag.Stop_Flag)
      Error_Text("MACRO, used as operand without EXITM: ", m.name.data(), static_cast<uint32_t>(m.name.size()));
    while (Operands.Params_Depth >= f.params_depth && Operands.Params_Depth > 0) Params_Pop();
  }
}

void Macro_Body_Line_Advance() {
  if (!M.stack.empty()) M.stack.back().line += 1;
}

void Macro_Body_Starts_At(const char* position) {
  uint32_t offset = 0;
  if (M.cap.kind == Capture_Kind::Macro && Capture_Offset(position, &offset)) M.cap.start = offset;
}

bool Macro_Error_Context(char* name, uint32_t capacity, uint32_t* line) {
  if (M.stack.empty() || capacity == 0) return false;
  const Call_Frame& f = M.stack.back();
  const std::string& n = M.table[f.macro].name;
  uint32_t k = 0;
  for (; k + 1 < capacity && k < n.size(); ++k) name[k] = n[k];
  name[k] = 0;
  *line = f.line;
  return true;
}

bool Macro_Start_Call_From_Operand(const char* text, uint32_t length) { return Start_Call(text, length, true); }
bool Macro_Start_Call_From_Statement(const char* text, uint32_t length) { return Start_Call(text, length, false); }
bool Macro_Start_Call_From_Equ(const char* text, uint32_t length) { return Start_Call(text, length, true); }

void Macro_File_End_Checks() { Capture_Buffer_End(); }

uint32_t Macro_Depth() { return static_cast<uint32_t>(M.stack.size()); }

void Macro_Table_Free() {
  M.table.clear();
  M.table.shrink_to_fit();
  M.fetch_at = {};
  M.index.Free();
}

void Macro_Reset_Pass() {
  if (Pass.Pass_Number <= 1) {
    M.table.clear();
    M.index.Free();
    M.fetch_at.clear();
  }
  M.cap = Capture{};
  M.call_index = -1;
  M.args.clear();
  M.stack.clear();
  M.serial = 0;
  M.items.clear();
  M.cursor.clear();
  Cond_Reset_Pass();
}
