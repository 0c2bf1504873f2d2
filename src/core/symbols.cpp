// Label and equate tables, and the `equ` and `=` statements.
#include "core/symbols.h"

#include "core/assemble.h"
#include "core/diag.h"
#include "core/dispatch.h"
#include "core/expr.h"
#include "core/keywords.h"
#include "core/operands.h"
#include "core/text.h"
#include "directives/imports.h"
#include "directives/macro.h"
#include "directives/struc.h"
#include "directives/textequ.h"
#include "output/relocs.h"
#include "output/sections.h"

Symbol_State Symbols;

namespace {

bool Name_Fits(const char* what, const char* name, uint32_t length) {
  if (length < Symbol_Name_Size && !Str_Has_Nul(name, length)) return true;
  Error_Text(what, name, length);
  return false;
}

}  // namespace

// ---- Labels --------------------------------------------------------------

int Label_Table_Create() {
  Symbols.Dotted_Labels = false;
  return Symbols.Labels.Create(Label_Grow_Step, Label_Grow_Step, Tape_Labels);
}
void Label_Table_Free() { Symbols.Labels.Free(); }

int32_t Label_Create(const char* name, uint32_t length, uint32_t data_type, uint32_t address) {
  if (!Name_Fits("LABEL, name too long: ", name, length)) return -1;
  int32_t i = Symbols.Labels.Add(name, length, Symbol_Hash(name, length));
  if (i < 0) {
    Error_Text("LABEL, can not create more: ", name, length);
    Diag.Stop_Flag += 1;
    return -1;
  }
  for (uint32_t k = 1; k < length; ++k)
    if (name[k] == '.') Symbols.Dotted_Labels = true;
  Label_Record& r = Symbols.Labels[i];
  r.data_type = data_type;
  r.address = address;
  r.structure = -1;
  r.use_count = 0;
  r.section = Sections.Current_Section;
  return i;
}

namespace {
// What Label_Find does with the record it found.
int32_t Label_Found(int32_t i, const char* name, uint32_t length, uint32_t update, Label_Hit* hit) {
  Label_Record& r = Symbols.Labels[i];
  if (Params.flags.size && r.structure == -1) {
    Error_Text("SIZE requires structure type for: ", name, length);
    return -1;
  }
  Sections.Reloc_Target_Section = r.section;
  r.use_count += 1;
  uint32_t old = r.address;
  if (update && r.address != Sections.Location_Counter) {
    Pass.Change_Counter += 1;
    r.address = Sections.Location_Counter;
  }
  if (hit) {
    hit->index = i;
    hit->data_type = r.data_type;
    hit->address = old;
    hit->structure = r.structure;
  }
  return i;
}
}  // namespace

int32_t Label_Find(const char* name, uint32_t length, uint32_t update, Label_Hit* hit) {
  int32_t i = Symbols.Labels.Find(name, length);
  if (i < 0) return -1;
  return Label_Found(i, name, length, update, hit);
}

int32_t Label_Find_Defined(const char* name, uint32_t length, uint32_t update, Label_Hit* hit) {
  const Symbol_Table<Label_Record>& labels = Symbols.Labels;
  const int32_t next = Symbols.Label_Define_Next;
  int32_t i = -1;
  if (Shortcuts_On() && next >= 0 && next <= labels.count &&
      Str_Equal(labels.Name(next), labels.Name_Length(next), name, length)) {
    // Names are unique: the record with this name is the one Label_Find finds.
    i = Label_Found(next, name, length, update, hit);
  } else {
    i = Label_Find_Any(name, length, update, hit);
  }
  Symbols.Label_Define_Next = i >= 0 ? i + 1 : -1;
  return i;
}

namespace {
// `name` is a path: a label, then its members from the dot at `dot` on.
int32_t Label_Find_Member(const char* name, uint32_t length, uint32_t dot, uint32_t update, Label_Hit* hit) {
  Label_Hit base;
  if (Label_Find(name, dot, update, &base) < 0) return -1;
  if (base.structure < 0) {
    Error_Text("LABEL, type is not a STRUCTURE: ", name, length);
    return -1;
  }
  uint32_t offset = 0, type = 0;
  if (!Struc_Member_Of(base.structure, name + dot, length - dot, &offset, &type)) return -1;
  if (hit) {
    hit->index = base.index;
    hit->data_type = type;
    hit->address = base.address + offset;
    hit->structure = base.structure;
  }
  return base.index;
}
}  // namespace

int32_t Label_Find_Any(const char* name, uint32_t length, uint32_t update, Label_Hit* hit) {
  uint32_t dot = 1;
  while (dot < length && name[dot] != '.') ++dot;
  const bool dotted = dot < length;
  // With no label named with a dot, a dotted path is never a label's own name.
  if (!dotted || Symbols.Dotted_Labels || !Shortcuts_On()) {
    int32_t i = Label_Find(name, length, update, hit);
    if (i >= 0 || !dotted) return i;
  }
  return Label_Find_Member(name, length, dot, update, hit);
}

void Label_Define_Pending(uint32_t data_type) {
  Params_Context& p = Params;
  if (p.pending_length == 0) return;
  const char* name = p.pending_name;
  uint32_t length = p.pending_length;
  p.pending_length = 0;
  p.pending_name = nullptr;
  if (Pass.Pass_Number == 1) {
    if (Label_Find_Any(name, length, 0, nullptr) >= 0) {
      Diag.Stop_Flag += 1;
      Error_Text("LABEL, is already defined: ", name, length);
    } else if (Import_Clash("LABEL, is already defined: ", name, length)) {
      Diag.Stop_Flag += 1;
    } else {
      Label_Create(name, length, data_type, Sections.Location_Counter);
    }
  } else if (Label_Find_Defined(name, length, 1, nullptr) < 0) {
    Diag.Stop_Flag += 1;
    Error_Text("LABEL, is not defined: ", name, length);
  }
}

void Label_Set_Structure(const char* name, uint32_t length, int32_t structure) {
  const int32_t i = Symbols.Labels.Find(name, length);
  if (i >= 0) Symbols.Labels[i].structure = structure;
}

// ---- Equates -------------------------------------------------------------

void Symbol_Name_Added(const char* name, uint32_t length) {
  if (Symbols.Odd_Names || length == 0) return;
  if (name[0] >= '0' && name[0] <= '9') {  // a name that reads like a number
    Symbols.Odd_Names = true;
    return;
  }
  // A name that starts with '-' (the option equates) matches no operand text
  // that starts with a register or a number.
  for (uint32_t i = name[0] == '-' ? length : 0; i < length; ++i)
    if (name[i] == '+' || name[i] == '-' || name[i] == '*') {
      Symbols.Odd_Names = true;
      return;
    }
  if (Builtin_Register_Index(name, length) >= 0 || Str_Equal_Lower(name, length, "r08", 3))
    Symbols.Odd_Names = true;
}

int Equ_Table_Init() {
  // The equate table lives from the command line on: a run starts here.
  Symbols.Odd_Names = false;
  Symbols.Assignments.clear();
  Symbols.Equ_Last_Created = -1;
  return Symbols.Equates.Create(Equ_Grow_Step, Equ_Grow_Step, Tape_Equates);
}

void Equ_Table_Free() {
  Symbols.Equates.Free();
  Symbols.Assignments.clear();
  Symbols.Assignments.shrink_to_fit();
}

int32_t Equ_Create(const char* name, uint32_t length, uint32_t low, uint32_t high) {
  if (!Name_Fits("EQU, name too long: ", name, length)) return -1;
  int32_t i = Symbols.Equates.Add(name, length, Symbol_Hash(name, length));
  if (i < 0) {
    Error_Text("Can not create more EQU definitions ", name, length);
    Diag.Stop_Flag += 1;
    return -1;
  }
  Equ_Record& r = Symbols.Equates[i];
  r.value = (static_cast<uint64_t>(high) << 32) | low;
  r.use_count = 0;
  r.flags = 0;
  Symbols.Equ_Last_Created = i;
  return i;
}

int32_t Equ_Find(const char* name, uint32_t length, uint64_t* value) {
  int32_t i = Symbols.Equates.Find(name, length);
  if (i < 0) return -1;
  Equ_Record& r = Symbols.Equates[i];
  r.use_count += 1;
  if (r.flags & Equ_Provisional) Symbols.Provisional_Reads += 1;
  if (value) *value = r.value;
  return i;
}

// ---- `name equ value` ------------------------------------------------------

void Dir_Equ(const Keyword_Entry*) { Parser.Parser_Mode = Mode_Equ_Value; }

namespace {

void Equ_Finish() {
  Params.pending_length = 0;
  Params.pending_name = nullptr;
  Parser.Parser_Mode = 0;
}

// An equate is a number. An object's linker places the sections, so an
// address has no value there that an equate could keep (a label can).
bool Equ_Address_Refused(const char* message, const char* text, uint32_t length) {
  if (!Expr.Expr_Relocatable || Pass.Pass_Number < 2 || !Output_Is_Object()) return false;
  Error_Text(message, text, length);
  return true;
}

// Marks an equate's value as provisional or not. A provisional value after
// pass 1 asks for another pass: a chain of forward equates settles one link
// a pass, while equates defined only by each other never do, and end with
// the pass limit rather than with pass 1's stand-in as their value.
void Equ_Set_Provisional(int32_t i, bool provisional) {
  Equ_Record& r = Symbols.Equates[i];
  r.flags = provisional ? r.flags | Equ_Provisional : r.flags & ~Equ_Provisional;
  if (provisional && Pass.Pass_Number > 1) Pass.Change_Counter += 1;
}

void Equ_Store(uint64_t value, bool provisional = false) {
  Params_Context& p = Params;
  const char* name = p.pending_name;
  uint32_t length = p.pending_length;
  provisional = provisional || Symbols.Provisional_Reads != 0;
  if (Pass.Pass_Number == 1) {
    if (Equ_Find(name, length, nullptr) >= 0) Error_Text("EQU, double defined?  ", name, length);
    else if (!Import_Clash("EQU, double defined?  ", name, length)) {
      int32_t i = Equ_Create(name, length, static_cast<uint32_t>(value), static_cast<uint32_t>(value >> 32));
      if (i >= 0) {
        Symbols.Equates[i].flags |= Equ_Constant;
        Equ_Set_Provisional(i, provisional);
      }
    }
    return;
  }
  int32_t i = Equ_Find(name, length, nullptr);
  if (i < 0) {
    Error_Text("EQU, expresion not defined?  ", name, length);
    return;
  }
  Equ_Record& r = Symbols.Equates[i];
  r.use_count -= 1;  // the statement's own lookup is not a use
  if (r.value != value) Pass.Change_Counter += 1;
  r.value = value;
  Equ_Set_Provisional(i, provisional);
}

}  // namespace

void Equ_Statement(const char* text, uint32_t length) {
  Params_Context& p = Params;
  if (p.pending_length == 0) {
    Error_Text("EQU, needs a name: ", text, length);
    Equ_Finish();
    return;
  }
  Symbols.Provisional_Reads = 0;
  uint32_t size = 0, offset = 0, type = 0;
  if (Struc_Size_Of_Name(text, length, &size)) {
    Equ_Store(size);
    Equ_Finish();
    return;
  }
  if (Struc_Member_Of_Name(text, length, &offset, &type)) {
    Equ_Store(offset);
    Equ_Finish();
    return;
  }
  if (Run_Modifier(text, length)) return;  // the name stays pending
  Eval_Result r = Eval_Value(text, length);
  if (r.status == 0) {
    if (!Equ_Address_Refused("EQU, an address is no number in an object file: ", text, length)) Equ_Store(r.value);
    Equ_Finish();
    return;
  }
  if (Macro_Start_Call_From_Equ(text, length)) return;
  if (Str_Func_Start(text, length)) return;
  if (Pass.Pass_Number == 1) {
    Equ_Store(1, true);
  } else {
    Error_Text("EQU, expresion not defined?  ", text, length);
  }
  Equ_Finish();
}

// ---- `name = value` ----------------------------------------------------------

void Asign_Start(const char* text, uint32_t length) {
  if (Params.pending_length == 0) {
    Diag.Stop_Flag += 1;
    Error_Text("ASIGN, no EQU name before: ", text, length);
  }
  Parser.Parser_Mode = Mode_Asign_Value;
}

void Asign_Value(const char* text, uint32_t length) {
  Params_Context& p = Params;
  if (p.pending_length == 0) {  // reported by Asign_Start
    Equ_Finish();
    return;
  }
  uint64_t value = 1;
  Symbols.Provisional_Reads = 0;
  Eval_Result r = Eval_Value(text, length);
  const bool provisional = r.status != 0 || Symbols.Provisional_Reads != 0;
  if (r.status == 0) {
    value = r.value;
    if (Equ_Address_Refused("ASIGN, an address is no number in an object file: ", text, length)) {
      Equ_Finish();
      return;
    }
  } else if (Pass.Pass_Number != 1) {
    Error_Text("ASIGN, expression unknown: ", text, length);
    Equ_Finish();
    return;
  }
  const char* name = p.pending_name;
  uint32_t name_length = p.pending_length;
  int32_t i = Equ_Find(name, name_length, nullptr);
  if (i >= 0 && (Symbols.Equates[i].flags & Equ_Constant)) {
    // Each pass would set it twice, to each value in turn, and never settle.
    if (Pass.Pass_Number == 1) Error_Text("EQU, double defined?  ", name, name_length);
    Equ_Finish();
    return;
  }
  if (i < 0 && Import_Clash("EQU, double defined?  ", name, name_length)) {
    Equ_Finish();
    return;
  }
  if (i < 0) {
    i = Equ_Create(name, name_length, static_cast<uint32_t>(value), static_cast<uint32_t>(value >> 32));
    if (i < 0) {
      Equ_Finish();
      return;
    }
  }
  // Reassignment within a pass is normal (`i = i + 1`): compare with the same
  // assignment of the previous pass, not with the last value.
  if (Symbols.Assignments.size() <= static_cast<size_t>(i)) Symbols.Assignments.resize(static_cast<size_t>(i) + 1);
  Assign_History& h = Symbols.Assignments[static_cast<size_t>(i)];
  if (h.pass != Pass.Pass_Number) {
    h.previous.swap(h.current);
    h.current.clear();
    if (h.pass + 1 != Pass.Pass_Number) h.previous.clear();
    h.pass = Pass.Pass_Number;
  }
  size_t k = h.current.size();
  bool had_previous = Pass.Pass_Number > 1;
  if (had_previous && (k >= h.previous.size() || h.previous[k] != value)) Pass.Change_Counter += 1;
  h.current.push_back(value);
  Symbols.Equates[i].value = value;
  Equ_Set_Provisional(i, provisional);
  Equ_Finish();
}

// ---- Parser modes of the equate statements ----------------------------------------

#include "core/dispatch.h"

namespace {
const Mode_Handler Equ_Words[] = {
    {Mode_Equ_Value, Equ_Statement},
    {Mode_Asign_Value, Asign_Value},
};
}  // namespace
extern const Mode_Table Equ_Mode_Table = {"equates", Equ_Words, 2, nullptr, 0, nullptr, 0};
