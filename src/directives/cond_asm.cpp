// Conditional assembly. Conditions are evaluated anew in every pass.
#include "directives/cond_asm.h"

#include <vector>

#include "core/assemble.h"
#include "core/diag.h"
#include "core/dispatch.h"
#include "core/expr.h"
#include "core/keywords.h"
#include "core/scratch.h"
#include "core/symbols.h"
#include "core/text.h"
#include "directives/condition_ops.h"
#include "directives/imports.h"
#include "directives/proc.h"
#include "directives/struc.h"

namespace {

enum : uint32_t { Item_Number = 1, Item_Operator = 2, Item_Word = 3, Item_String = 4 };

struct If_Item {
  uint32_t kind;
  uint32_t value;
  const char* text;
  uint32_t length;
};

struct Cond_State {
  uint32_t Hash_If_Open = 0;
  uint32_t Hash_If_Depth = 0;
  uint32_t Hash_If_Skip_Depth = 0;
  If_Item Hash_If_Items[3] = {};
  uint32_t Hash_If_Item_Count = 0;
  std::vector<uint32_t> file_depths;  // depth at the start of each open file
};
Cond_State C;

void Open_Level(uint32_t mode) {
  C.Hash_If_Open = 1;
  C.Hash_If_Depth += 1;
  Parser.Parser_Mode = mode;
}

void Outcome(bool condition) {
  if (condition) {
    Parser.Parser_Mode = 0;
  } else {
    C.Hash_If_Skip_Depth = C.Hash_If_Depth;
    Parser.Parser_Mode = Mode_Cond_Skip;
  }
}

bool Compare_Numbers(uint32_t code, uint32_t a, uint32_t b, bool* result) {
  switch (code) {
    case 1: *result = a == b; return true;
    case 2: *result = a != b; return true;
    case 3: *result = a < b; return true;
    case 10: *result = a > b; return true;
    case 9: *result = a <= b; return true;
    case 4: *result = a >= b; return true;
    default: return false;
  }
}

bool Compare_Texts(uint32_t code, const If_Item& a, const If_Item& b, bool* result) {
  if (code != 1 && code != 2) return false;
  bool equal = a.length == b.length;
  for (uint32_t i = 0; equal && i < a.length; ++i) equal = Lower_Ascii(a.text[i]) == b.text[i];
  *result = code == 1 ? equal : !equal;
  return true;
}

void Evaluate() {
  const If_Item* it = C.Hash_If_Items;
  bool result = false;
  bool ok = false;
  if (it[1].kind == Item_Operator) {
    if (it[0].kind == Item_Number && it[2].kind == Item_Number)
      ok = Compare_Numbers(it[1].value, it[0].value, it[2].value, &result);
    else if ((it[0].kind == Item_Word || it[0].kind == Item_String) && it[2].kind == it[0].kind)
      ok = Compare_Texts(it[1].value, it[0], it[2], &result);
  }
  if (!ok) {
    Error_Msg("#IF, error in condition ");
    Parser.Parser_Mode = 0;
    return;
  }
  Outcome(result);
}

void Store_Item(If_Item item, const char* text, uint32_t length) {
  if (C.Hash_If_Item_Count >= 3) {
    Error_Text("#IF, too many parameters: ", text, length);
    return;
  }
  if (item.kind == Item_Word || item.kind == Item_String) {
    // The line may go on after the text it came from (an expansion) is gone.
    char* copy = Scratch_Alloc(item.length + 1);
    if (!copy) return;
    for (uint32_t i = 0; i < item.length; ++i) copy[i] = item.text[i];
    item.text = copy;
  }
  C.Hash_If_Items[C.Hash_If_Item_Count++] = item;
  if (C.Hash_If_Item_Count == 3) Evaluate();
}

void If_Hash_Statement(const char* text, uint32_t length) {
  uint64_t value = 0;
  if (Equ_Find(text, length, &value) >= 0) {
    Store_Item({Item_Number, static_cast<uint32_t>(value), text, length}, text, length);
    return;
  }
  uint32_t kind = 0, code = 0;
  bool is_operator = If_Condition_Find(text, length, &kind, &code) == 0;
  if (!is_operator) {
    Eval_Result r = Eval_Value(text, length);
    if (r.status == 0) {
      Store_Item({Item_Number, static_cast<uint32_t>(r.value), text, length}, text, length);
      return;
    }
    Store_Item({Item_Word, 0, text, length}, text, length);
    return;
  }
  if (kind != 1) {
    Error_Text("#IF, can not use here: ", text, length);
    return;
  }
  Store_Item({Item_Operator, code, text, length}, text, length);
}

void Hash_If_String(const char* text, uint32_t length) {
  if (length < 2) {
    Error_Text("#IF, string error: ", text, length);
    return;
  }
  Store_Item({Item_String, 0, text + 1, length - 2}, text, length);
}

void Ifdef_Name(const char* text, uint32_t length) {
  uint64_t v;
  Outcome(Equ_Find(text, length, &v) >= 0);
}
void Ifndef_Name(const char* text, uint32_t length) {
  uint64_t v;
  Outcome(Equ_Find(text, length, &v) < 0);
}

bool Blank_Only(const char* text, uint32_t length) {
  for (uint32_t i = 0; i < length; ++i)
    if (text[i] != ' ' && text[i] != '\t') return false;
  return true;
}
void Ifb_Text(const char* text, uint32_t length) { Outcome(Blank_Only(text, length)); }
void Ifnb_Text(const char* text, uint32_t length) { Outcome(!Blank_Only(text, length)); }

// The symbol's use count (an equate, a PROC, a label or a structure member), read
// without counting a use; -1 when it is unknown.
int64_t Use_Count(const char* text, uint32_t length) {
  int32_t i = Symbols.Equates.Find(text, length);
  if (i >= 0) return Symbols.Equates[i].use_count;
  int64_t n = Proc_Use_Count(text, length);
  if (n >= 0) return n;
  i = Symbols.Labels.Find(text, length);
  if (i >= 0) return Symbols.Labels[i].use_count;
  i = Import_Func_Find(text, length);
  if (i >= 0) return Import_Func_At(i).use_count;
  i = Strucs.Members.Find(text, length);
  if (i >= 0) return Strucs.Members[i].use_count;
  return -1;
}

void If_Used(const char* text, uint32_t length, bool used) {
  int64_t n = Use_Count(text, length);
  if (n < 0) {
    if (Pass.Pass_Number > 1) Error_Text("#ifused symbol not found: ", text, length);
    Outcome(true);
    return;
  }
  Outcome((n != 0) == used);
}
void If_Used_Name(const char* text, uint32_t length) { If_Used(text, length, true); }
void If_Not_Used_Name(const char* text, uint32_t length) { If_Used(text, length, false); }

bool Opens_Level(const char* text, uint32_t length) {
  static const char* const openers[] = {"#if", "#ifdef", "#ifnb", "#ifb", "#ifndef", "#if_used", "#if_not_used"};
  for (const char* o : openers)
    if (Str_Equal_Lower(text, length, o, Str_Len(o))) return true;
  return false;
}

void Cond_Skip_Scan(const char* text, uint32_t length) {
  if (length == 0 || text[0] != '#') return;
  if (Opens_Level(text, length)) {
    C.Hash_If_Depth += 1;
  } else if (Str_Equal_Lower(text, length, "#else", 5)) {
    if (C.Hash_If_Skip_Depth >= C.Hash_If_Depth) Parser.Parser_Mode = 0;
  } else if (Str_Equal_Lower(text, length, "#endif", 6)) {
    if (C.Hash_If_Skip_Depth >= C.Hash_If_Depth) Parser.Parser_Mode = 0;
    if (C.Hash_If_Depth > 0) C.Hash_If_Depth -= 1;
    if (C.Hash_If_Depth == 0) C.Hash_If_Open = 0;
  }
}

const Mode_Handler Words[] = {
    {Mode_Hash_Ifdef, Ifdef_Name},     {Mode_Hash_Ifndef, Ifndef_Name},
    {Mode_Hash_Ifnb, Ifnb_Text},       {Mode_Hash_Ifb, Ifb_Text},
    {Mode_Hash_If_Used, If_Used_Name}, {Mode_Hash_If_Not_Used, If_Not_Used_Name},
    {Mode_Hash_If, If_Hash_Statement}, {Mode_Cond_Skip, Cond_Skip_Scan},
};
const Mode_Handler Brackets[] = {{Mode_Cond_Skip, Cond_Skip_Scan}};
const Mode_Handler Strings[] = {{Mode_Hash_If, Hash_If_String}};

}  // namespace

extern const Mode_Table Cond_Mode_Table = {"conditional assembly", Words, sizeof Words / sizeof Words[0],
                                           Brackets, 1, Strings, 1};

void Dir_Hash_If(const Keyword_Entry*) {
  C.Hash_If_Item_Count = 0;
  Open_Level(Mode_Hash_If);
}
void Dir_Hash_Ifdef(const Keyword_Entry*) { Open_Level(Mode_Hash_Ifdef); }
void Dir_Hash_Ifndef(const Keyword_Entry*) { Open_Level(Mode_Hash_Ifndef); }
void Dir_Hash_Ifnb(const Keyword_Entry*) { Open_Level(Mode_Hash_Ifnb); }
void Dir_Hash_Ifb(const Keyword_Entry*) { Open_Level(Mode_Hash_Ifb); }
void Dir_Hash_If_Used(const Keyword_Entry*) { Open_Level(Mode_Hash_If_Used); }
void Dir_Hash_If_Not_Used(const Keyword_Entry*) { Open_Level(Mode_Hash_If_Not_Used); }

void Dir_Hash_Else(const Keyword_Entry*) {
  if (C.Hash_If_Open) {
    C.Hash_If_Skip_Depth = C.Hash_If_Depth;
    Parser.Parser_Mode = Mode_Cond_Skip;
    return;
  }
  Error_Msg("#ELSE without matching #IF ?");
  Diag.Stop_Flag += 1;
}

void Dir_Hash_Endif(const Keyword_Entry*) {
  if (!C.Hash_If_Open) {
    Error_Msg("#ENDIF without matching #IF ?");
    return;
  }
  C.Hash_If_Depth -= 1;
  if (C.Hash_If_Depth == 0) C.Hash_If_Open = 0;
  Parser.Parser_Mode = 0;
}

Cond_Saved Cond_Save() { return {C.Hash_If_Open, C.Hash_If_Depth, C.Hash_If_Skip_Depth}; }

void Cond_Restore(const Cond_Saved& saved) {
  C.Hash_If_Open = saved.open;
  C.Hash_If_Depth = saved.depth;
  C.Hash_If_Skip_Depth = saved.skip_depth;
}

void Cond_File_Start() { C.file_depths.push_back(C.Hash_If_Depth); }

void Cond_File_End_Checks() {
  if (C.file_depths.empty()) return;
  uint32_t start = C.file_depths.back();
  C.file_depths.pop_back();
  if (C.Hash_If_Depth > start && !Diag.Stop_Flag) Error_Msg("#IF not closed, above this line. ");
}

void Cond_Reset_Pass() {
  C.Hash_If_Open = 0;
  C.Hash_If_Depth = 0;
  C.Hash_If_Skip_Depth = 0;
  C.Hash_If_Item_Count = 0;
  C.file_depths.clear();
}
