// Linkage declarations: import_dll, import_lib, import, extern, export,
// alias and entry.
#include "directives/imports.h"

#include <algorithm>

#include "core/assemble.h"
#include "core/cmdline.h"
#include "core/diag.h"
#include "core/dispatch.h"
#include "core/expr.h"
#include "core/parser_modes.h"
#include "core/symbols.h"
#include "core/text.h"
#include "directives/proc.h"
#include "output/output.h"
#include "output/sections.h"

Import_State Imports;

namespace {

bool Pe_Output() { return Options.Output_Format == Format_PE32 || Options.Output_Format == Format_PE64; }

void Copy_Name(char* destination, const char* text, uint32_t length) {
  for (uint32_t i = 0; i < length; ++i) destination[i] = text[i];
  destination[length] = 0;
}

bool Name_Fits(const char* message, const char* text, uint32_t length) {
  if (length < Import_Name_Size && !Str_Has_Nul(text, length)) return true;
  Error_Text(message, text, length);
  return false;
}

// A target's address and section: a PROC first, then a label or label.member.
bool Find_Target(const char* text, uint32_t length, uint32_t* address, uint32_t* section) {
  if (Proc_Address(text, length, address, section)) return true;
  Label_Hit hit;
  int32_t i = Label_Find_Any(text, length, 0, &hit);
  if (i < 0) return false;
  *address = hit.address;
  *section = Symbols.Labels[hit.index >= 0 ? hit.index : i].section;
  return true;
}

void Import_Dll_Name(const char* text, uint32_t length, uint32_t kind) {
  Parser.Parser_Mode = 0;
  if (Pass.Pass_Number != 1) return;
  if (!Name_Fits("IMPORT, name too long: ", text, length)) return;
  Import_Dll_Create(text, length, kind);
}

void Dll_Word(const char* text, uint32_t length) { Import_Dll_Name(text, length, Dll_Kind_Dll); }
void Lib_Word(const char* text, uint32_t length) { Import_Dll_Name(text, length, Dll_Kind_Lib); }

// Two library records of one name (a DLL may be named again) are one place
// to import from; names of DLLs do not differ by case.
bool Same_Library(uint32_t a, uint32_t b) {
  if (a == b) return true;
  const Import_Dll_Record* d = Imports.Dlls;
  const int32_t last = Imports.Import_Dll_Count;
  if (static_cast<int32_t>(a) > last || static_cast<int32_t>(b) > last) return false;
  return d[a].kind == d[b].kind && Str_Equal_NoCase(d[a].name, d[a].name_length, d[b].name, d[b].name_length);
}

// A label, equate or PROC of that name.
bool Defined_Here(const char* text, uint32_t length) {
  return Symbols.Labels.Find(text, length) >= 0 || Symbols.Equates.Find(text, length) >= 0 ||
         Proc_Use_Count(text, length) >= 0;
}

void Import_Func_Name(const char* text, uint32_t length) {
  Parser.Parser_Mode = 0;
  Import_State& im = Imports;
  if (Pass.Pass_Number != 1) {
    im.Import_Func_Current = Import_Func_Find(text, length);
    return;
  }
  if (!Name_Fits("IMPORT, name too long: ", text, length)) return;
  // An image has no DLL to take the name from: its slot would stay unfilled.
  if (im.Current_Kind == 0 && im.Import_Dll_Count < 0 && Pe_Output()) {
    Error_Text("IMPORT, no DLL declared for: ", text, length);
    return;
  }
  if (Defined_Here(text, length)) {
    Error_Text("LABEL, is already defined: ", text, length);
    return;
  }
  // The same name again from the same place stays one import; from another
  // DLL (or once external, once imported) it is refused.
  const int32_t known = Import_Func_Find(text, length);
  if (known >= 0) {
    const Import_Function_Record& f = im.Funcs[known];
    if (!Same_Library(f.library, im.Current_Library) || f.external != im.Current_Kind) {
      Error_Text("IMPORT, is declared under another DLL: ", text, length);
      return;
    }
    im.Import_Func_Current = known;
    return;
  }
  Import_Func_Create(text, length, im.Current_Library, im.Current_Kind);
}

void Export_Target(const char* text, uint32_t length) {
  Parser.Parser_Mode = 0;
  uint32_t address = 0, section = 0;
  if (length >= Import_Name_Size || !Find_Target(text, length, &address, &section)) {
    if (Pass.Pass_Number != 1) Error_Text("Export, unknown target: ", text, length);
    return;
  }
  Export_Create(text, length, address, section);
}

void Alias_Apply(const char* name, uint32_t length, const char* token, uint32_t token_length) {
  Parser.Parser_Mode = 0;
  if (!Name_Fits("ALIAS, name too long: ", token, token_length)) return;
  Import_State& im = Imports;
  if (im.Import_Func_Current >= 0) {
    Import_Function_Record& f = im.Funcs[im.Import_Func_Current];
    Copy_Name(f.alias, name, length);
    f.alias_length = length;
    return;
  }
  if (im.Export_Current >= 0) {
    Export_Record& e = im.Exports[im.Export_Current];
    Copy_Name(e.alias, name, length);
    e.alias_length = length;
    return;
  }
  Section_State& s = Sections;
  if (s.Statement_Section >= 0 && s.Statement_Section <= s.Section_Count) {
    if (length >= Section_Name_Size) {
      Error_Text("Section, name too long: ", token, token_length);
      return;
    }
    Section_Record& r = s.Section_Table[s.Statement_Section];
    Copy_Name(r.output_name, name, length);
    r.output_name_length = length;
    return;
  }
  if (Pass.Pass_Number != 1) Error_Text("Orphan ALIAS: ", token, token_length);
}

void Alias_Word(const char* text, uint32_t length) { Alias_Apply(text, length, text, length); }

void Alias_String(const char* text, uint32_t length) {
  if (length <= 2) {
    Parser.Parser_Mode = 0;
    Error_Text("ALIAS, empty string? : ", text, length);
    return;
  }
  Alias_Apply(text + 1, length - 2, text, length);
}

void Entry_Symbol(const char* text, uint32_t length) {
  Parser.Parser_Mode = 0;
  Entry_Record& e = Imports.Entry;
  uint32_t kept = length < Import_Name_Size ? length : Import_Name_Size - 1;
  Copy_Name(e.name, text, kept);
  e.name_length = kept;
  Label_Hit hit;
  int32_t i = Label_Find_Any(text, length, 0, &hit);
  uint32_t address = 0, section = 0;
  if (i >= 0) {
    e.value = hit.address;
    e.section = static_cast<int32_t>(Symbols.Labels[hit.index >= 0 ? hit.index : i].section);
  } else if (Proc_Address(text, length, &address, &section)) {
    e.value = address;
    e.section = static_cast<int32_t>(section);
  } else {
    Eval_Result r = Eval_Value(text, length);
    if (r.status != 0) {
      if (Pass.Pass_Number != 1) Error_Text("Entry, unknown symbol: ", text, length);
      return;
    }
    e.value = r.value;
    e.section = -1;
  }
  e.set = 1;
}

const Mode_Handler Import_Words[] = {
    {Mode_Import_Dll_Name, Dll_Word},       {Mode_Import_Lib_Name, Lib_Word},
    {Mode_Import_Func_Name, Import_Func_Name}, {Mode_Export_Target, Export_Target},
    {Mode_Alias_String, Alias_Word},        {Mode_Entry_Symbol, Entry_Symbol},
};
const Mode_Handler Import_Strings[] = {{Mode_Alias_String, Alias_String}};

}  // namespace

extern const Mode_Table Import_Mode_Table = {"imports", Import_Words, 6, nullptr, 0, Import_Strings, 1};

// ---- Tables ----------------------------------------------------------------------------

int Import_Tables_Create() {
  Import_State& im = Imports;
  im.Import_Dll_Count = -1;
  im.Current_Library = 0;
  im.Current_Kind = 0;
  im.Import_Func_Current = -1;
  im.Export_Current = -1;
  im.Entry = Entry_Record{};
  if (im.Funcs.Create(Import_Func_Grow_Step, Import_Func_Grow_Step) != 0 ||
      im.Exports.Create(Export_Grow_Step, Export_Grow_Step) != 0) {
    Import_Tables_Free();
    Error_Msg("Can not create more import functions ");
    return -1;
  }
  return 0;
}

void Import_Tables_Free() {
  Imports.Exported.clear();
  Imports.Funcs.Free();
  Imports.Exports.Free();
  Imports.Import_Dll_Count = -1;
}

void Imports_Reset_Pass() {
  Import_State& im = Imports;
  im.Import_Func_Current = -1;
  im.Export_Current = -1;
  im.Exported.clear();
  if (im.Exports.count < 0) return;
  // Exports are made anew in every pass: empty the table and its chains.
  im.Exports.Empty();
}

bool Import_Clash(const char* message, const char* name, uint32_t length) {
  if (Import_Func_Find(name, length) < 0) return false;
  Error_Text(message, name, length);
  return true;
}

namespace {
// The export of this line, with its alias now final: a name exported before
// in this pass is refused and the record dropped (it is the last one made).
void Export_Line_End() {
  Import_State& im = Imports;
  const int32_t i = im.Export_Current;
  if (i < 0 || i != im.Exports.count) return;
  const Export_Record& e = im.Exports[i];
  const bool aliased = e.alias_length != 0;
  std::string name(aliased ? e.alias : e.name, aliased ? e.alias_length : e.name_length);
  if (im.Exported.emplace(name, i).second) return;
  Error_Text("Export, is already defined: ", name.data(), static_cast<uint32_t>(name.size()));
  im.Exports.Drop_Last();
}
}  // namespace

void Imports_Line_End() {
  if (Imports.Export_Current >= 0) Export_Line_End();  // only a line that exported has work here
  Imports.Import_Func_Current = -1;
  Imports.Export_Current = -1;
}

int32_t Import_Dll_Create(const char* name, uint32_t length, uint32_t kind) {
  Import_State& im = Imports;
  if (im.Import_Dll_Count + 1 >= static_cast<int32_t>(Import_Dll_Max)) {
    Error_Text("Can not create more DLL imports ", name, length);
    Diag.Stop_Flag += 1;
    return -1;
  }
  int32_t index = ++im.Import_Dll_Count;
  Import_Dll_Record& d = im.Dlls[index];
  d = Import_Dll_Record{};
  Copy_Name(d.name, name, length);
  d.name_length = length;
  d.kind = kind;
  im.Current_Library = static_cast<uint32_t>(index);
  im.Current_Kind = kind == Dll_Kind_Lib ? 1 : 0;
  return index;
}

int32_t Import_Func_Create(const char* name, uint32_t length, uint32_t library, uint32_t external) {
  Import_State& im = Imports;
  int32_t index = im.Funcs.Add(name, length, Symbol_Hash(name, length));
  if (index < 0) {
    Error_Text("Can not create more import functions ", name, length);
    return -1;
  }
  Import_Function_Record& f = im.Funcs[index];
  f.library = library;
  f.external = external;
  f.convention = Parser.Code_Mode == Code_64 ? 5 : 0;
  f.arg_count = -1;
  im.Import_Func_Current = index;
  return index;
}

int32_t Import_Func_Find(const char* name, uint32_t length) {
  if (length >= Import_Name_Size) return -1;
  return Imports.Funcs.Find(name, length);
}

void Import_Func_Use(int32_t index) {
  if (index >= 0 && index <= Imports.Funcs.count) Imports.Funcs[index].use_count += 1;
}

bool Import_Func_Find(const char* name, uint32_t length, Import_Func_Ref* found) {
  int32_t index = Import_Func_Find(name, length);
  if (index < 0) return false;
  const Import_Function_Record& f = Imports.Funcs[index];
  *found = {static_cast<uint32_t>(index), f.external, f.thunk_address, Output.Thunk_Section};
  return true;
}

void Import_Func_Count_Use(uint32_t index) {
  int32_t i = static_cast<int32_t>(index);
  if (i < 0 || i > Imports.Funcs.count) return;
  const Import_Function_Record& f = Imports.Funcs[i];
  // An image has no linker to bind an external name: say so at the call.
  if (f.external && Pe_Output()) Error_Text("IMPORT, external can not be resolved in an image: ", f.name, f.name_length);
  Import_Func_Use(i);
}

int32_t Export_Create(const char* name, uint32_t length, uint32_t address, uint32_t section) {
  Import_State& im = Imports;
  Export_Line_End();  // an export before it on the same line
  int32_t index = im.Exports.Add(name, length, Symbol_Hash(name, length));
  if (index < 0) {
    Error_Text("Can not create more Exports ", name, length);
    Diag.Stop_Flag += 1;
    return -1;
  }
  Export_Record& e = im.Exports[index];
  e.address = address;
  e.section = section;
  im.Export_Current = index;
  return index;
}

namespace {
// Unsigned byte order; a name that is a prefix of another sorts first.
bool Name_Less(const Export_Record& a, const Export_Record& b) {
  uint32_t n = a.name_length < b.name_length ? a.name_length : b.name_length;
  for (uint32_t i = 0; i < n; ++i) {
    auto x = static_cast<uint8_t>(a.name[i]), y = static_cast<uint8_t>(b.name[i]);
    if (x != y) return x < y;
  }
  return a.name_length < b.name_length;
}
}  // namespace

void Export_Sort() {
  Import_State& im = Imports;
  int32_t n = im.Exports.count + 1;
  if (n < 2) return;
  // Equal names keep their order; the chains are rebuilt.
  im.Exports.Sort(Name_Less);
  im.Export_Current = -1;
}

// ---- Seams of the statement parser --------------------------------------------------

void Import_Func_Current_Reset() { Imports_Line_End(); }

bool Import_Func_Current_Set() { return Imports.Import_Func_Current >= 0; }

void Import_Func_Set_Arg_Count(const char* text, uint32_t length) {
  if (Imports.Import_Func_Current < 0 || length < 2) return;
  Eval_Result r = Eval_Value(text + 1, length - 2);
  if (r.status != 0) {
    Error_Text("Unknown parameter: ", text, length);
    return;
  }
  Imports.Funcs[Imports.Import_Func_Current].arg_count = static_cast<int32_t>(r.value);
}

bool Import_Func_Set_Convention(uint32_t convention) {
  if (Imports.Import_Func_Current < 0) return false;
  if (Pass.Pass_Number == 1) Imports.Funcs[Imports.Import_Func_Current].convention = convention;
  return true;
}

bool Import_Func_Set_Varg() {
  if (Imports.Import_Func_Current < 0) return false;
  Imports.Funcs[Imports.Import_Func_Current].flags |= 1;
  return true;
}

bool Imports_Declared() { return Imports.Import_Dll_Count >= 0 && Imports.Funcs.count >= 0; }

// ---- Keyword handlers ---------------------------------------------------------------
// None of them resets the statement context: an alias or convention later on
// the line still sees the name this line declared.

void Dir_Import_Dll(const Keyword_Entry*) { Parser.Parser_Mode = Mode_Import_Dll_Name; }
void Dir_Import_Lib(const Keyword_Entry*) { Parser.Parser_Mode = Mode_Import_Lib_Name; }
void Dir_Import_Func(const Keyword_Entry*) { Parser.Parser_Mode = Mode_Import_Func_Name; }
void Dir_Extern(const Keyword_Entry*) {
  Imports.Current_Library = 0;
  Imports.Current_Kind = 1;
  Parser.Parser_Mode = Mode_Import_Func_Name;
}
void Dir_Export(const Keyword_Entry*) { Parser.Parser_Mode = Mode_Export_Target; }
void Dir_Alias(const Keyword_Entry*) { Parser.Parser_Mode = Mode_Alias_String; }
void Dir_Entry(const Keyword_Entry*) { Parser.Parser_Mode = Mode_Entry_Symbol; }
