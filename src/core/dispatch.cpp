// Statement dispatch and parser modes.
#include "core/dispatch.h"

#include "core/assemble.h"
#include "core/diag.h"
#include "core/keywords.h"
#include "core/operands.h"
#include "core/scanner.h"
#include "core/scratch.h"
#include "core/symbols.h"
#include "core/text.h"
#include "directives/imports.h"
#include "directives/macro.h"
#include "directives/proc.h"
#include "directives/resource.h"
#include "directives/struc.h"
#include "directives/textequ.h"
#include "output/sections.h"

Parser_State Parser;

// ---- Operand modifiers ----------------------------------------------------------

void Mod_Kw_Flag(const Short_Keyword* keyword) { Params_Flag(keyword->payload) = 1; }

// A size keyword: one operand size per statement. A second, different one
// (`add dword [ebx],byte 5`) would leave the encoder to pick one of the two.
void Mod_Size_Flag(const Short_Keyword* keyword) {
  const auto& f = Params.flags;
  const uint32_t sizes = f.byte_ + f.word + f.dword + f.qword + f.tbyte;
  if (sizes != 0 && !Params_Flag(keyword->payload)) Error_Msg("parameters have mismatched size.");
  Params_Flag(keyword->payload) = 1;
}

void Emit_Prefix_Byte(const Short_Keyword* keyword) {
  if (!Section_Has_Buffer()) {
    Diag.Stop_Flag += 1;
    Error_Text("Attempt to generate code but no section is defined: ", keyword->name, Str_Len(keyword->name));
    return;
  }
  Emit_Byte(static_cast<uint8_t>(keyword->payload));
}

constexpr Short_Keyword Modifier_List[] = {
    {"size", Kw_Modifier, Mod_Kw_Flag, Kf_Size},
    {"swap", Kw_Modifier, Mod_Kw_Flag, Kf_Swap},
    {"byte", Kw_Modifier, Mod_Size_Flag, Kf_Byte},
    {"word", Kw_Modifier, Mod_Size_Flag, Kf_Word},
    {"dword", Kw_Modifier, Mod_Size_Flag, Kf_Dword},
    {"qword", Kw_Modifier, Mod_Size_Flag, Kf_Qword},
    {"tbyte", Kw_Modifier, Mod_Size_Flag, Kf_Tbyte},
    {"small", Kw_Modifier, Mod_Kw_Flag, Kf_Small},
    {"signed", Kw_Modifier, Mod_Kw_Flag, Kf_Signed},
    {"cstr", Kw_Modifier, Mod_Kw_Flag, Kf_Cstr},
    {"cs:", Kw_Modifier, Emit_Prefix_Byte, 0x2E},
    {"ss:", Kw_Modifier, Emit_Prefix_Byte, 0x36},
    {"ds:", Kw_Modifier, Emit_Prefix_Byte, 0x3E},
    {"es:", Kw_Modifier, Emit_Prefix_Byte, 0x26},
    {"fs:", Kw_Modifier, Emit_Prefix_Byte, 0x64},
    {"gs:", Kw_Modifier, Emit_Prefix_Byte, 0x65},
    {"taken:", Kw_Modifier, Emit_Prefix_Byte, 0x3E},
    {"!taken:", Kw_Modifier, Emit_Prefix_Byte, 0x2E},
    {"offset", Kw_Modifier, Mod_Kw_Flag, Kf_Offset},
    {"far", Kw_Modifier, Mod_Kw_Flag, Kf_Far},
    {"ptr", Kw_Modifier, Mod_Kw_Flag, Kf_Ptr},
};
constexpr uint32_t Modifier_List_Count = sizeof(Modifier_List) / sizeof(Modifier_List[0]);

namespace {
constexpr Fixed_Name_Table<64, fixed_names::Folding::Ascii_Lower> Modifier_Names(
    Modifier_List_Count, [](uint32_t i) { return Modifier_List[i].name; });
}  // namespace

const Short_Keyword* Modifier_Find(const char* text, uint32_t length) {
  const int32_t i = Modifier_Names.Find(text, length, [](uint32_t k) { return Modifier_List[k].name; });
  return i < 0 ? nullptr : &Modifier_List[i];
}

bool Run_Modifier(const char* text, uint32_t length) {
  if (length == 0 || (text[0] >= '0' && text[0] <= '9')) return false;  // no modifier starts with a digit
  const Short_Keyword* k = Modifier_Find(text, length);
  if (!k) return false;
  k->handler(k);
  return true;
}

// ---- Generic keyword handlers --------------------------------------------------------

void Set_Parser_Mode(const Keyword_Entry* keyword) {
  Params_Reset();
  uint32_t mode = keyword->payload[0];
  const Parser_State& ps = Parser;
  if (mode >= Parser_Mode_Slots ||
      (!ps.Word_Dispatch_Table[mode] && !ps.Bracket_Dispatch_Table[mode] && !ps.String_Dispatch_Table[mode])) {
    // The family that owns this mode is not part of this build.
    Keyword_Entry stub = *keyword;
    stub.handler = nullptr;
    Keyword_Run(&stub);
    return;
  }
  Parser.Parser_Mode = mode;
}

void Use16(const Keyword_Entry*) { Parser.Code_Mode = Code_16; }
void Use32(const Keyword_Entry*) { Parser.Code_Mode = Code_32; }
void Use64(const Keyword_Entry*) { Parser.Code_Mode = Code_64; }

void Not_Implemented_Skip_Statement() {
  Params.pending_length = 0;
  Parser.Parser_Mode = Mode_Skip_Statement;
}

namespace {
void Skip_Token(const char*, uint32_t) {}
const Mode_Handler Skip_Words[] = {{Mode_Skip_Statement, Skip_Token}};
}  // namespace
extern const Mode_Table Skip_Mode_Table = {"skip", Skip_Words, 1, Skip_Words, 1, Skip_Words, 1};

// ---- Dispatch tables ------------------------------------------------------------------

void Word_Dispatch_Build() {
  Parser_State& ps = Parser;
  for (auto& h : ps.Word_Dispatch_Table) h = nullptr;
  for (auto& h : ps.String_Dispatch_Table) h = nullptr;
  for (uint32_t f = 0; f < Family_Mode_Table_Count; ++f) {
    const Mode_Table* t = Family_Mode_Tables[f];
    for (uint32_t i = 0; i < t->word_count; ++i) ps.Word_Dispatch_Table[t->words[i].mode] = t->words[i].handler;
    for (uint32_t i = 0; i < t->string_count; ++i) ps.String_Dispatch_Table[t->strings[i].mode] = t->strings[i].handler;
  }
}

void Bracket_Dispatch_Build() {
  Parser_State& ps = Parser;
  for (auto& h : ps.Bracket_Dispatch_Table) h = nullptr;
  for (uint32_t f = 0; f < Family_Mode_Table_Count; ++f) {
    const Mode_Table* t = Family_Mode_Tables[f];
    for (uint32_t i = 0; i < t->bracket_count; ++i)
      ps.Bracket_Dispatch_Table[t->brackets[i].mode] = t->brackets[i].handler;
  }
}

int Word_Dispatch(const char* text, uint32_t length) {
  uint32_t mode = Parser.Parser_Mode;
  Token_Handler h = mode < Parser_Mode_Slots ? Parser.Word_Dispatch_Table[mode] : nullptr;
  if (!h) return 0;
  h(text, length);
  return 1;
}

int Bracket_Dispatch(const char* text, uint32_t length) {
  uint32_t mode = Parser.Parser_Mode;
  Token_Handler h = mode < Parser_Mode_Slots ? Parser.Bracket_Dispatch_Table[mode] : nullptr;
  if (!h) return 0;
  h(text, length);
  return 1;
}

// ---- Statements ------------------------------------------------------------------------

void Line_First_Code(uint32_t kind) {
  // Member declarations of a structure defined inside a PROC are no code.
  if (Proc_Block_Mode() == 1 && (kind & Kw_Code) && !Struc_Is_Open()) Proc_Prologue_Due();
}

namespace {

void Define_Label(const char* word, uint32_t length) {
  uint32_t n = length - 1;
  if (n == 0) {
    Diag.Stop_Flag += 1;
    Error_Text("LABEL, has empty name: ", word, length);
    Parser.Parser_Mode = 0;
    return;
  }
  Line_First_Code(Kw_Code);
  uint32_t lc = Sections.Location_Counter;
  if (Pass.Pass_Number == 1) {
    if (Proc_Is_Open()) {
      if (Local_Label_Find(word, n, 0)) Error_Text("LABEL, is already defined: ", word, n);
      else Local_Label_Create(word, n, 1, lc);
    } else if (Label_Find_Any(word, n, 0, nullptr) >= 0) {
      Error_Text("LABEL, is already defined: ", word, n);
    } else if (!Import_Clash("LABEL, is already defined: ", word, n)) {
      Label_Create(word, n, 32, lc);
    }
    return;
  }
  if (Proc_Is_Open() && Local_Label_Find(word, n, 1)) return;
  if (Label_Find_Defined(word, n, 1, nullptr) < 0) Error_Text("LABEL, is not defined: ", word, n);
}

}  // namespace

void Statement_Start(const char* text, uint32_t length) {
  if (length == 1 && text[0] == '=') {
    Asign_Start(text, length);
    return;
  }
  if (text[length - 1] == ':') {
    // Prefix words such as fs: start a statement as prefixes, not as labels.
    const Short_Keyword* k = Modifier_Find(text, length);
    if (k) {
      k->handler(k);
      return;
    }
    Define_Label(text, length);
    return;
  }
  if (Keyword_Find(text, length) == 0) {
    const Keyword_Entry* e = Keywords.Keyword_Hit_Entry;
    bool resource_word = (e->kind & Kw_Resource) != 0;
    if (!resource_word || Resource_Block_Open()) {
      if ((e->kind & Kw_Code) && !Struc_Is_Open() && !Section_Has_Buffer()) {
        Diag.Stop_Flag += 1;
        Error_Text("Attempt to generate code but no section is defined: ", text, length);
        Parser.Parser_Mode = 0;
        return;
      }
      Line_First_Code(e->kind);
      Keyword_Run(e);
      return;
    }
  }
  // A structure instance is data: a due prologue goes in front of it.
  uint32_t struc_size = 0;
  if (Struc_Size_Of_Name(text, length, &struc_size)) Line_First_Code(Kw_Code);
  if (Struc_Start_Instance(text, length)) {
    if (!Struc_Is_Open() && !Section_Has_Buffer()) {
      Diag.Stop_Flag += 1;
      Error_Text("Attempt to generate code but no section is defined: ", text, length);
      Parser.Parser_Mode = 0;
      return;
    }
    Line_First_Code(Kw_Code);
    Parser.Parser_Mode = Mode_Struc_Instance;
    return;
  }
  if (Macro_Start_Call_From_Statement(text, length)) {
    Line_First_Code(Kw_Code);
    Parser.Parser_Mode = Mode_Macro_Call_Arg;
    return;
  }
  if (text[0] == '.') {
    if (length == 1) {
      Error_Text("Section, expecting section name here: ", text, length);
      return;
    }
    Line_First_Code(Kw_Code);
    Section_Select(text + 1, length - 1);
    return;
  }
  Params_Context& p = Params;
  if (p.pending_length) {
    Error_Text("Unknown Instruction or statement: ", p.pending_name, p.pending_length);
    Error_Text("Unknown Instruction or statement: ", text, length);
    p.pending_length = 0;
    p.pending_name = nullptr;
    return;
  }
  p.pending_name = text;
  p.pending_length = length;
}

void Bracket_Statement_Start(const char* text, uint32_t length) {
  if (Import_Func_Current_Set()) {
    if (length <= 2) {
      Error_Text("Orphan brackets here: ", text, length);
      Error_Text("Empty or orphan brackets? : ", text, length);
      return;
    }
    Import_Func_Set_Arg_Count(text, length);
    return;
  }
  Error_Text("Empty or orphan brackets? : ", text, length);
}

namespace {

// `$line`, `$file` and `$proc` become texts parsed in their place.
bool Dollar_Substitution(const char* text, uint32_t length) {
  if (length != 5 || text[0] != '$') return false;
  char buffer[File_Name_Size + 8];
  uint32_t n = 0;
  if (Str_Equal(text, length, "$line", 5)) {
    File_Name_Slot* f = Current_File_Name();
    n = Str_From_Uint(buffer, f ? f->line : 0);
  } else if (Str_Equal(text, length, "$file", 5)) {
    File_Name_Slot* f = Current_File_Name();
    n = Str_Format(buffer, sizeof buffer, "\"%s\"", {f ? f->name : ""});
  } else if (Str_Equal(text, length, "$proc", 5)) {
    const char* name = Proc_Current_Name();
    if (!name) return false;
    n = Str_Format(buffer, sizeof buffer, "\"%s\"", {name});
  } else {
    return false;
  }
  char* copy = Scratch_Alloc(n + 1);
  if (!copy) return false;
  for (uint32_t i = 0; i <= n; ++i) copy[i] = buffer[i];
  Parse_Buffer(copy, n, Parse_Not_File | Parse_Keep_Mode);
  return true;
}

bool Text_Equate_Substitution(const char* text, uint32_t length) {
  if (!Text_Equ_Any() || Parser.Parser_Mode == Mode_Text_Equ_Name) return false;
  const char* replacement;
  uint32_t replacement_length;
  if (!Text_Equ_Find(text, length, &replacement, &replacement_length)) return false;
  if (!Expansion_Enter(replacement_length, text, length)) return true;
  Parse_Buffer(replacement, replacement_length, Parse_Not_File | Parse_Keep_Mode);
  Expansion_Leave();
  return true;
}

// Bodies being captured and skipped blocks take their words raw: a text
// equate there is not replaced.
bool Raw_Mode(uint32_t mode) {
  return mode == Mode_Macro_Body || mode == Mode_Macro_Header || mode == Mode_Rept_Body ||
         mode == Mode_For_Body || mode == Mode_Cond_Skip;
}

}  // namespace

void Token_Word(const char* text, uint32_t length) {
  if (length == 0) return;
  uint32_t mode = Parser.Parser_Mode;
  if (!Raw_Mode(mode)) {
    // (both tests in front of the calls: most words are neither)
    if (Text_Equ_Any() && Text_Equate_Substitution(text, length)) return;
    if (length == 5 && text[0] == '$' && Dollar_Substitution(text, length)) return;
    mode = Parser.Parser_Mode;
  }
  if (mode == Mode_Statement) {
    Statement_Start(text, length);
    return;
  }
  if (mode == Mode_Section_Name) {
    Error_Text("Section, expecting section name here: ", text, length);
    return;
  }
  if (!Word_Dispatch(text, length)) Error_Text("Unknown parser mode: ", text, length);
}

void Token_Bracket(const char* text, uint32_t length) {
  uint32_t mode = Parser.Parser_Mode;
  if (!Raw_Mode(mode) && Text_Equ_Any() && Text_Equate_Substitution(text, length)) return;
  mode = Parser.Parser_Mode;
  if (mode == Mode_Statement) {
    Bracket_Statement_Start(text, length);
    return;
  }
  if (mode == Mode_Macro_Body || mode == Mode_Rept_Body || mode == Mode_For_Body) return;
  if (!Bracket_Dispatch(text, length)) Error_Text("Can not take [] here: ", text, length);
}

void Token_String(const char* text, uint32_t length) {
  uint32_t mode = Parser.Parser_Mode;
  if (mode == Mode_Macro_Body || mode == Mode_Rept_Body || mode == Mode_For_Body || mode == Mode_Cond_Skip) return;
  Token_Handler h = mode < Parser_Mode_Slots ? Parser.String_Dispatch_Table[mode] : nullptr;
  if (!h) {
    Error_Text("Can not take string here: ", text, length);
    return;
  }
  h(text, length);
}
