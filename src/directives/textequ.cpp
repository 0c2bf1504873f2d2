// Text equates and string functions.
#include "directives/textequ.h"

#include "core/assemble.h"
#include "core/diag.h"
#include "core/dispatch.h"
#include "core/expr.h"
#include "core/operands.h"
#include "core/scratch.h"
#include "core/text.h"
#include "directives/proc.h"
#include "directives/struc.h"
#include "output/sections.h"

Text_Equ_State Text_Equs;

namespace {

constexpr uint32_t Text_Equ_Grow_Step = 3072;

enum Str_Type : uint32_t { Type_Word = 1, Type_String = 2, Type_Bracket = 3 };

char* Scratch_Copy(const char* text, uint32_t length) {
  char* copy = Scratch_Alloc(length + 1);
  if (!copy) return nullptr;
  for (uint32_t i = 0; i < length; ++i) copy[i] = text[i];
  copy[length] = 0;
  return copy;
}

void Store_Text(const char* text, uint32_t length) {
  Parser.Parser_Mode = 0;
  const int32_t i = Text_Equs.Current;
  if (i < 0) {
    Error_Text("TEXT EQU, was un-defined?  ", text, length);
    return;
  }
  if (length >= Text_Equ_Text_Size) {
    Error_Text("TEXT EQU, text too long: ", text, length);
    return;
  }
  Text_Equ_Record& r = Text_Equs.Table[i];
  for (uint32_t k = 0; k < length; ++k) r.text[k] = text[k];
  r.text[length] = 0;
  r.text_length = length;
}

// ---- The statement a string function interrupts -----------------------------------

void Str_Params_Push() {
  Text_Equ_State& t = Text_Equs;
  if (t.Depth + 1 >= Str_Params_Depth - 1) Error_Msg("PARAMS, context stack limit");
  if (t.Depth >= Str_Params_Depth) return;
  Str_Frame& f = t.Frames[t.Depth++];
  f.mode = Parser.Parser_Mode;
  f.pending_name = Params.pending_name;
  f.pending_length = Params.pending_length;
  f.count = t.Count;
  for (uint32_t i = 0; i < 3; ++i) f.params[i] = t.Params[i];
}

void Str_Params_Pop() {
  Text_Equ_State& t = Text_Equs;
  if (t.Depth == 0) return;
  const Str_Frame& f = t.Frames[--t.Depth];
  Parser.Parser_Mode = f.mode;
  Params.pending_name = f.pending_name;
  Params.pending_length = f.pending_length;
  t.Count = f.count;
  for (uint32_t i = 0; i < 3; ++i) t.Params[i] = f.params[i];
}

// A refused string function ends its statement.
void Str_Fail() {
  Str_Params_Pop();
  Params.pending_name = nullptr;
  Params.pending_length = 0;
  Parser.Parser_Mode = Mode_Skip_Statement;
}

bool Str_Func_Named(const char* name, uint32_t length, uint32_t* mode) {
  if (Str_Equal_Lower(name, length, "strcut", 6)) *mode = Mode_Str_Cut;
  else if (Str_Equal_Lower(name, length, "stradd", 6)) *mode = Mode_Str_Add;
  else if (Str_Equal_Lower(name, length, "strlen", 6)) *mode = Mode_Str_Len;
  else return false;
  return true;
}

// ---- strcut source, start, length -----------------------------------------------------

int64_t Cut_Number(const Str_Param& p) {
  Eval_Result r = Eval_Value(p.text, p.length);
  if (r.status != 0) {
    Error_Text("STR_CUT, unknown parameter: ", p.text, p.length);
    return 0;
  }
  return static_cast<int64_t>(r.value);
}

void Str_Cut_Finish() {
  const Str_Param source = Text_Equs.Params[0];
  const int64_t start = Cut_Number(Text_Equs.Params[1]);
  const int64_t count = Cut_Number(Text_Equs.Params[2]);
  const int64_t n = source.length;
  // Quoted and bracketed sources count their opening delimiter as position 0:
  // the text lies at 1..n-2 and a cut may not take the closing one.
  const bool delimited = source.type != Type_Word;
  const int64_t first = delimited ? 1 : 0;
  const int64_t end = delimited ? n - 1 : n;  // one past the last position a cut may take
  if (start < first || start > end || (delimited && start == end && count > 0)) {
    Error_Text("STR_CUT, start position is out of range: ", source.text, source.length);
    Str_Fail();
    return;
  }
  if (count < 0 || count > end - start) {
    Error_Text("STR_CUT, end position is out of range: ", source.text, source.length);
    Str_Fail();
    return;
  }
  uint32_t length = static_cast<uint32_t>(count);
  if (length > Str_Result_Size - 1) {
    Error_Text("STR_CUT, buff size overflow: ", source.text, source.length);
    length = Str_Result_Size - 1;
  }
  const char* cut = source.text + start;
  Str_Params_Pop();
  if (source.type == Type_Word) {
    const char* copy = Scratch_Copy(cut, length);
    if (copy) Token_Word(copy, length);
    return;
  }
  char* wrapped = Scratch_Alloc(length + 3);
  if (!wrapped) return;
  wrapped[0] = source.type == Type_String ? '"' : '[';
  for (uint32_t i = 0; i < length; ++i) wrapped[i + 1] = cut[i];
  wrapped[length + 1] = source.type == Type_String ? '"' : ']';
  wrapped[length + 2] = 0;
  if (source.type == Type_String) Token_String(wrapped, length + 2);
  else Token_Bracket(wrapped, length + 2);
}

void Str_Cut_Param(const char* text, uint32_t length, uint32_t type) {
  Text_Equ_State& t = Text_Equs;
  const uint32_t slot = type == Type_Word ? (t.Count < 3 ? t.Count : 2) : 0;
  t.Params[slot] = {text, length, type};
  t.Count += 1;
  if (t.Count >= 3) Str_Cut_Finish();
}

void Str_Cut_Word(const char* text, uint32_t length) {
  if (Str_Func_Start(text, length)) return;
  Str_Cut_Param(text, length, Type_Word);
}
void Str_Cut_String(const char* text, uint32_t length) { Str_Cut_Param(text, length, Type_String); }
void Str_Cut_Bracket(const char* text, uint32_t length) { Str_Cut_Param(text, length, Type_Bracket); }

// ---- stradd a, b ------------------------------------------------------------------------

void Str_Add_Param(const char* text, uint32_t length, uint32_t type) {
  Text_Equ_State& t = Text_Equs;
  if (type != Type_Word && length >= 2) {  // without the delimiters
    text += 1;
    length -= 2;
  }
  t.Params[t.Count < 2 ? t.Count : 1] = {text, length, type};
  t.Count += 1;
  if (t.Count < 2) return;
  char joined[Str_Result_Size];
  uint32_t n = 0;
  bool overflow = false;
  for (uint32_t k = 0; k < 2; ++k) {
    const Str_Param& p = t.Params[k];
    for (uint32_t i = 0; i < p.length; ++i) {
      if (n >= Str_Result_Size - 3) {
        overflow = true;
        break;
      }
      joined[n++] = p.text[i];
    }
  }
  if (overflow) Error_Text("STR_CUT, buff size overflow: ", text, length);
  Str_Params_Pop();
  // The result takes the other token kind than the second parameter's
  // delimiters would suggest: a word's join comes back as a string token,
  // a quoted join as a word.
  if (type == Type_Word) {
    const char* copy = Scratch_Copy(joined, n);
    if (copy) Token_String(copy, n);
    return;
  }
  char* wrapped = Scratch_Alloc(n + 3);
  if (!wrapped) return;
  wrapped[0] = type == Type_String ? '"' : '[';
  for (uint32_t i = 0; i < n; ++i) wrapped[i + 1] = joined[i];
  wrapped[n + 1] = type == Type_String ? '"' : ']';
  wrapped[n + 2] = 0;
  if (type == Type_String) Token_Word(wrapped, n + 2);
  else Token_Bracket(wrapped, n + 2);
}

void Str_Add_Word(const char* text, uint32_t length) {
  if (Str_Func_Start(text, length)) return;
  Str_Add_Param(text, length, Type_Word);
}
void Str_Add_String(const char* text, uint32_t length) { Str_Add_Param(text, length, Type_String); }
void Str_Add_Bracket(const char* text, uint32_t length) { Str_Add_Param(text, length, Type_Bracket); }

// ---- strlen x -----------------------------------------------------------------------------

void Str_Len_Result(uint32_t n) {
  Str_Params_Pop();
  char digits[16];
  const uint32_t k = Str_From_Uint(digits, n);
  const char* copy = Scratch_Copy(digits, k);
  if (copy) Token_Word(copy, k);
}

void Str_Len_Word(const char* text, uint32_t length) {
  if (Str_Func_Start(text, length)) return;
  Str_Len_Result(length);
}
void Str_Len_String(const char*, uint32_t length) { Str_Len_Result(length >= 2 ? length - 2 : 0); }

// ---- define NAME text ----------------------------------------------------------------------

void Text_Equ_Statement(const char* text, uint32_t length) {
  Parser.Parser_Mode = Mode_Text_Equ_String;
  Text_Equs.Current = -1;
  if (length >= Text_Equ_Name_Size || Str_Has_Nul(text, length)) {
    Error_Text("TEXT EQU, name too long: ", text, length);
    Parser.Parser_Mode = Mode_Skip_Statement;
    return;
  }
  int32_t i = Text_Equs.Table.Find(text, length);
  if (Pass.Pass_Number == 1) {
    if (i >= 0) {
      Error_Text("TEXT EQU, double defined?  ", text, length);
      Parser.Parser_Mode = Mode_Skip_Statement;
      return;
    }
    i = Text_Equs.Table.Add(text, length, Symbol_Hash(text, length));
    if (i < 0) {
      Error_Text("Can not create more TEXT EQU definitions ", text, length);
      Diag.Stop_Flag += 1;
      return;
    }
    Text_Equs.Table[i].text_length = 0;
    Text_Equs.Table[i].use_count = 0;
  } else if (i < 0) {
    Error_Text("TEXT EQU, was un-defined?  ", text, length);
    Parser.Parser_Mode = Mode_Skip_Statement;
    return;
  }
  Text_Equs.Current = i;
}

void Text_Equ_Value(const char* text, uint32_t length) {
  if (Text_Equs.Current >= 0 && Str_Func_Start(text, length)) return;
  Store_Text(text, length);
}

// ---- $emit_parg PROCNAME --------------------------------------------------------------------

void Emit_Parg_Name(const char* name, uint32_t length) {
  char line[Text_Equ_Name_Size + 4];
  if (length >= Text_Equ_Name_Size) length = Text_Equ_Name_Size - 1;
  for (uint32_t i = 0; i < length; ++i) line[i] = name[i];
  line[length] = ',';
  line[length + 1] = ' ';
  Emit_Bytes(line, length + 2);
}

void Emit_Parg(const char* text, uint32_t length) {
  Parser.Parser_Mode = 0;
  if (Struc_Is_Open() || !Section_Has_Buffer()) {
    Diag.Stop_Flag += 1;
    Error_Text("Attempt to generate code but no section is defined: ", text, length);
    return;
  }
  if (!Proc_Arg_Names(text, length, Emit_Parg_Name)) {
    if (Pass.Pass_Number > 1) Error_Text("Emit Parg, unknown PROC: ", text, length);
    return;
  }
  Emit_Byte(0);
}

}  // namespace

// ---- Tables ----------------------------------------------------------------------------------

int Text_Equ_Table_Init() {
  Text_Equs.Current = -1;
  Text_Equs.Depth = 0;
  return Text_Equs.Table.Create(Text_Equ_Grow_Step, Text_Equ_Grow_Step);
}

void Text_Equ_Table_Free() {
  Text_Equs.Table.Free();
  Text_Equs.Current = -1;
  Text_Equs.Depth = 0;
}

void Text_Equ_Reset_Pass() {
  Text_Equs.Current = -1;
  Text_Equs.Depth = 0;
  Text_Equs.Count = 0;
}

bool Text_Equ_Any() { return Text_Equs.Table.count >= 0; }

bool Text_Equ_Find(const char* name, uint32_t length, const char** text, uint32_t* text_length) {
  const int32_t i = Text_Equs.Table.Find(name, length);
  if (i < 0) return false;
  Text_Equ_Record& r = Text_Equs.Table[i];
  r.use_count += 1;
  // A copy: the table may grow (and move) while the text is parsed.
  const char* copy = Scratch_Copy(r.text, r.text_length);
  if (!copy) return false;
  *text = copy;
  *text_length = r.text_length;
  return true;
}

void Text_Equ_Current_Reset() { Text_Equs.Current = -1; }

bool Str_Func_Start(const char* name, uint32_t length) {
  uint32_t mode = 0;
  if (length != 6 || !Str_Func_Named(name, length, &mode)) return false;
  Str_Params_Push();
  Text_Equs.Count = 0;
  for (auto& p : Text_Equs.Params) p = Str_Param{};
  Parser.Parser_Mode = mode;
  return true;
}

void Dir_Tequ(const Keyword_Entry*) { Parser.Parser_Mode = Mode_Text_Equ_Name; }

namespace {
const Mode_Handler Words[] = {
    {Mode_Text_Equ_Name, Text_Equ_Statement}, {Mode_Text_Equ_String, Text_Equ_Value},
    {Mode_Str_Cut, Str_Cut_Word},             {Mode_Str_Add, Str_Add_Word},
    {Mode_Str_Len, Str_Len_Word},             {Mode_Emit_Parg, Emit_Parg},
};
const Mode_Handler Brackets[] = {
    {Mode_Text_Equ_Name, Text_Equ_Statement}, {Mode_Text_Equ_String, Text_Equ_Value},
    {Mode_Str_Cut, Str_Cut_Bracket},          {Mode_Str_Add, Str_Add_Bracket},
};
const Mode_Handler Strings[] = {
    {Mode_Text_Equ_String, Store_Text},
    {Mode_Str_Cut, Str_Cut_String},
    {Mode_Str_Add, Str_Add_String},
    {Mode_Str_Len, Str_Len_String},
};
}  // namespace

extern const Mode_Table Text_Equ_Mode_Table = {"text equates",
                                               Words,
                                               sizeof(Words) / sizeof(Words[0]),
                                               Brackets,
                                               sizeof(Brackets) / sizeof(Brackets[0]),
                                               Strings,
                                               sizeof(Strings) / sizeof(Strings[0])};
