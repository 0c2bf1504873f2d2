// Structures, unions, `rs`, structure instances and enumerations.
#include "directives/struc.h"

#include <string>

#include "core/assemble.h"
#include "core/cmdline.h"
#include "core/diag.h"
#include "core/dispatch.h"
#include "core/expr.h"
#include "core/operands.h"
#include "core/symbols.h"
#include "core/text.h"
#include "directives/imports.h"
#include "directives/proc.h"
#include "encode/modrm.h"
#include "output/relocs.h"
#include "output/sections.h"

Struc_State Strucs;

namespace {

constexpr uint32_t Struc_Grow_Step = 2048;
constexpr uint32_t Member_Grow_Step = 3072;
constexpr uint32_t Enum_Grow_Step = 1024;

// A definition whose name was refused: its lines are read and dropped.
bool Struc_Skip = false;
// The definition being read outgrew 4 GiB - 1 (reported once).
bool Struc_Too_Big = false;
constexpr uint64_t Struc_Size_Max = 0xFFFFFFFFull;

bool Is_Char(const char* text, uint32_t length, char c) { return length == 1 && text[0] == c; }
bool Is_Quoted(const char* text, uint32_t length) { return length > 0 && (text[0] == '"' || text[0] == '\''); }

// STRUCTURE + member (the member text starts with its dot). False when the
// full name does not fit a name field.
bool Full_Name(int32_t structure, const char* member, uint32_t length, char* out, uint32_t* out_length) {
  const char* name = Strucs.Strucs.Name(structure);
  const uint32_t n = Strucs.Strucs.Name_Length(structure);
  if (n + length >= Struc_Name_Size) return false;
  for (uint32_t i = 0; i < n; ++i) out[i] = name[i];
  for (uint32_t i = 0; i < length; ++i) out[n + i] = member[i];
  *out_length = n + length;
  out[*out_length] = 0;
  return true;
}

bool Has_Dot(const char* text, uint32_t length) {
  for (uint32_t i = 0; i < length; ++i)
    if (text[i] == '.') return true;
  return false;
}

// A member's dotted part (".m") in 32 bits: its length and a hash.
uint32_t Member_Tag(const char* dotted, uint32_t length) {
  return (Fnv1a32(dotted, length) & 0x00FFFFFFu) | ((length < 255 ? length : 255) << 24);
}

constexpr uint32_t Member_Row_Max = 64;

int32_t Member_Find_In(int32_t structure, const char* member, uint32_t length) {
  const Struc_Record& s = Strucs.Strucs[structure];
  if (Shortcuts_On() && !Strucs.Dotted_Names && s.members_in_row && s.member_count <= Member_Row_Max) {
    // Full names are unique and, with no dotted name anywhere, "S.m" can
    // only be a member of S. S's members were made one after another: their
    // tags stand in a row, and only a member whose tag matches is compared
    // (its name is S's name and its dotted part; a text too long for a name
    // matches none).
    const uint32_t tag = Member_Tag(member, length);
    const uint32_t stem = Strucs.Strucs.Name_Length(structure);
    for (uint32_t k = 0; k < s.member_count; ++k) {
      if (Strucs.Member_Tags[static_cast<size_t>(s.first_member) + k] != tag) continue;
      const int32_t mi = s.first_member + static_cast<int32_t>(k);
      if (Strucs.Members.Name_Length(mi) == stem + length &&
          Str_Equal(Strucs.Members.Name(mi) + stem, length, member, length)) {
        Tape_Found(Tape_Strucs, structure, 0);  // found by index: no chain is read
        Tape_Found(Tape_Members, mi, 0);
        return mi;
      }
    }
    return -1;
  }
  char full[Struc_Name_Size];
  uint32_t n = 0;
  if (!Full_Name(structure, member, length, full, &n)) return -1;
  return Strucs.Members.Find(full, n);
}

// `.name` of the current definition, for member declarations.
int32_t Member_Find_Plain(int32_t structure, const char* name, uint32_t length) {
  char dotted[Struc_Name_Size + 1];
  if (length >= Struc_Name_Size) return -1;
  dotted[0] = '.';
  for (uint32_t i = 0; i < length; ++i) dotted[i + 1] = name[i];
  return Member_Find_In(structure, dotted, length + 1);
}

int32_t Member_By_Ordinal(int32_t structure, uint32_t n) {
  if (structure < 0 || static_cast<size_t>(structure) >= Strucs.Members_Of.size()) return -1;
  const std::vector<int32_t>& list = Strucs.Members_Of[static_cast<size_t>(structure)];
  return n < list.size() ? list[n] : -1;
}

void Clear_Pending() {
  Params.pending_name = nullptr;
  Params.pending_length = 0;
}

// Offsets and sizes are 32-bit: a structure that would outgrow them is
// refused, never cut to fit.
bool Struc_Size_Fits(uint64_t size) {
  if (size <= Struc_Size_Max) return true;
  if (!Struc_Too_Big) {
    const int32_t c = Strucs.Struc_Current;
    Error_Text("Structure is too big: ", Strucs.Strucs.Name(c), Strucs.Strucs.Name_Length(c));
    Struc_Too_Big = true;
  }
  return false;
}

// The structure grows by a member's bytes (pass 1 only); inside a union only
// the union's largest member counts.
void Struc_Grow_By(uint64_t bytes) {
  if (Pass.Pass_Number != 1 || Strucs.Struc_Current < 0) return;
  if (Strucs.Union_Depth >= 0) {
    if (bytes > Strucs.Union_Largest && Struc_Size_Fits(bytes)) Strucs.Union_Largest = static_cast<uint32_t>(bytes);
    return;
  }
  Struc_Record& s = Strucs.Strucs[Strucs.Struc_Current];
  const uint64_t size = bytes > Struc_Size_Max ? ~0ull : s.size + bytes;
  if (Struc_Size_Fits(size)) s.size = static_cast<uint32_t>(size);
}

int32_t Member_Create(const char* name, uint32_t length, uint32_t type, int32_t nested, uint32_t count) {
  const int32_t owner = Strucs.Struc_Current;
  char full[Struc_Name_Size];
  uint32_t n = 0;
  char dotted[Struc_Name_Size + 1];
  if (length < Struc_Name_Size) {
    dotted[0] = '.';
    for (uint32_t i = 0; i < length; ++i) dotted[i + 1] = name[i];
  }
  if (length >= Struc_Name_Size || Str_Has_Nul(name, length) || !Full_Name(owner, dotted, length + 1, full, &n)) {
    std::string text(Strucs.Strucs.Name(owner), Strucs.Strucs.Name_Length(owner));
    text.append(".").append(name, length);
    Error_Text("STRUC, member name too long: ", text.data(), static_cast<uint32_t>(text.size()));
    return -1;
  }
  int32_t i = Strucs.Members.Add(full, n, Symbol_Hash(full, n));
  if (Has_Dot(name, length)) Strucs.Dotted_Names = true;
  if (i < 0) {
    Error_Text("Memory, can NOT create more structure members:", name, length);
    Diag.Stop_Flag += 1;
    return -1;
  }
  Member_Record& m = Strucs.Members[i];
  m.type = type;
  m.offset = Strucs.Strucs[owner].size;
  m.nested = nested;
  m.count = count;
  m.owner = owner;
  m.use_count = 0;
  Strucs.Members_Of[static_cast<size_t>(owner)].push_back(i);
  Strucs.Member_Tags.resize(static_cast<size_t>(i) + 1);
  Strucs.Member_Tags[static_cast<size_t>(i)] = Member_Tag(dotted, length + 1);
  Struc_Record& s = Strucs.Strucs[owner];
  if (s.member_count == 0) s.first_member = i;
  else if (s.first_member + static_cast<int32_t>(s.member_count) != i) s.members_in_row = false;
  s.member_count += 1;
  return i;
}

// The line's pending name becomes a member (pass 1) or is checked (later
// passes); then the structure grows by the member's bytes.
void Declare_Member(uint32_t type, int32_t nested, uint32_t count, uint64_t bytes) {
  const char* name = Params.pending_name;
  const uint32_t length = Params.pending_length;
  Clear_Pending();
  if (Struc_Skip || Strucs.Struc_Current < 0) return;
  if (length) {
    const int32_t existing = Member_Find_Plain(Strucs.Struc_Current, name, length);
    if (Pass.Pass_Number == 1) {
      if (existing >= 0) Error_Text("Struc member already defined ", name, length);
      else Member_Create(name, length, type, nested, count);
    } else if (existing < 0) {
      Error_Text("Struc member not defined ", name, length);
    }
  }
  Struc_Grow_By(bytes);
}

// A count of a reserve or `rs`: expression, then equate.
bool Count_Of(const char* text, uint32_t length, bool equate_first, uint64_t* count) {
  if (equate_first && Equ_Find(text, length, count) >= 0) return true;
  Eval_Result r = Eval_Value(text, length);
  if (r.status == 0) {
    *count = r.value;
    return true;
  }
  return !equate_first && Equ_Find(text, length, count) >= 0;
}

void Define_Instance_Label(uint32_t size, int32_t structure) {
  const char* name = Params.pending_name;
  const uint32_t length = Params.pending_length;
  if (!length) return;
  Label_Define_Pending(size);
  Label_Set_Structure(name, length, structure);
}

// ---- Instance initialisers ---------------------------------------------------------

void Init_Push() {
  if (Strucs.Init_Depth >= Struc_Init_Depth) {
    Error_Msg("STRUC, init, max level reached ");
    Strucs.Init_Overflow += 1;  // its closing brace is taken without a level
    return;
  }
  Strucs.Init_Stack[Strucs.Init_Depth++] = Strucs.Init;
}

bool Init_Pop() {
  if (Strucs.Init_Depth == 0) {
    Error_Msg("STRUC, init, unmached or orphan } ");
    return false;
  }
  Strucs.Init = Strucs.Init_Stack[--Strucs.Init_Depth];
  return true;
}

void Init_Advance() {
  Struc_Init_Level& l = Strucs.Init;
  l.explicit_offset = -1;
  l.explicit_type = -1;
  if (l.named) l.named = 0;
  else if (l.array) Strucs.Array_Index += 1;
  else l.ordinal += 1;
}

void Init_Open_Brace(const char* text, uint32_t length) {
  const uint32_t depth = Strucs.Init_Depth;
  Init_Push();
  if (Strucs.Init_Depth == depth) return;  // no level left
  Struc_Init_Level& l = Strucs.Init;
  const int32_t mi = Member_By_Ordinal(l.structure, l.ordinal);
  if (mi < 0) {
    Error_Text("STRUC, too many initializations: ", text, length);
    return;
  }
  const Member_Record& m = Strucs.Members[mi];
  if (m.nested >= 0) {
    l.structure = m.nested;
    l.size = Strucs.Strucs[m.nested].size;
    l.array = 0;
  } else if (m.count > 1) {
    l.array = 1;
    Strucs.Array_Index = 0;
    Strucs.Array_Count = m.count;
    Strucs.Array_Type = m.type;
  } else {
    Error_Text("STRUC, init, this member can not use {}: ", Strucs.Members.Name(mi), Strucs.Members.Name_Length(mi));
    Diag.Stop_Flag += 1;
    return;
  }
  l.ordinal = 0;
  l.named = 0;
  l.explicit_offset = -1;
  l.explicit_type = -1;
  l.base_offset += m.offset;
  l.base_address += m.offset;
}

// The value of an item and whether it is an address (its section is left in
// Reloc_Target_Section). 0: a value; 1: a member name of the level; -1: unknown.
int Init_Value(const char* text, uint32_t length, uint64_t* value, bool* address, bool* rva) {
  *rva = false;
  uint32_t found = 0, section = 0;
  if (Proc_Address(text, length, &found, &section)) {
    Sections.Reloc_Target_Section = section;
    *value = found;
    *address = true;
    return 0;
  }
  Label_Hit hit;
  if (Label_Find_Any(text, length, 0, &hit) >= 0) {
    *value = hit.address;
    *address = true;
    return 0;
  }
  Eval_Result r = Eval_Value(text, length);
  if (r.status == 0) {
    *value = r.value;
    *address = Expr.Expr_Relocatable != 0;
    *rva = Expr.Expr_Reloc_Kind == Reloc_Rva32;
    return 0;
  }
  const int32_t mi = Member_Find_Plain(Strucs.Init.structure, text, length);
  if (mi >= 0) {
    Strucs.Init.explicit_offset = static_cast<int32_t>(Strucs.Members[mi].offset);
    Strucs.Init.explicit_type = static_cast<int32_t>(Strucs.Members[mi].type);
    Strucs.Init.named = 1;
    return 1;
  }
  return -1;
}

void Init_Write(uint32_t field, uint32_t type, uint64_t value, bool address, bool rva, const char* text,
                uint32_t length) {
  const Struc_Init_Level& l = Strucs.Init;
  const uint32_t bytes = type == 8 ? 1 : type == 16 ? 2 : type == 64 ? 8 : 4;
  // A field holds its value whole: a byte -128..255, a word -32768..65535,
  // a dword any 32-bit pattern.
  if (bytes < 8 && !Imm_Fits(value, bytes * 8)) Error_Text("STRUC, init, this value is too big: ", text, length);
  if (address) {
    // As in dd and dq: an image-relative value (`<rva x>`) is no address to
    // rebase, and only a 32-bit field has a relocation kind for it.
    if (bytes == 4 || (bytes == 8 && !rva)) {
      const uint32_t kind = bytes == 8 ? Reloc_Abs64 : rva ? Reloc_Rva32 : Reloc_Abs32;
      Reloc_Record* rec =
          Reloc_Add_Struc_Field(l.base_address, l.base_offset, field, Sections.Reloc_Target_Section, kind);
      if (rec && kind == Reloc_Abs32) rec->zero_extended = 1;  // a dword field is no signed one
      if (kind == Reloc_Abs64) value = Reloc_Abs64_Value(value);
    } else if (Options.Output_Format != Format_Binary) {
      Error_Text("Data, item can not hold a relocatable address: ", text, length);
    }
  }
  uint8_t b[8];
  for (uint32_t i = 0; i < bytes; ++i) b[i] = static_cast<uint8_t>(value >> (8 * i));
  Emit_Patch(l.base_offset + field, b, bytes);
}

void Struc_Init_Item(const char* text, uint32_t length) {
  Struc_Init_Level& l = Strucs.Init;
  if (Is_Char(text, length, '}')) {
    if (Strucs.Init_Overflow) {
      Strucs.Init_Overflow -= 1;
      return;
    }
    if (Strucs.Init_Depth == 0) {
      Parser.Parser_Mode = 0;
      return;
    }
    if (Init_Pop()) Strucs.Init.ordinal += 1;
    return;
  }
  if (Is_Char(text, length, '=')) return;
  if (Is_Char(text, length, '{')) {
    Init_Open_Brace(text, length);
    return;
  }
  int32_t mi = -1;
  if (l.array) {
    if (Strucs.Array_Index >= Strucs.Array_Count) {
      Error_Text("STRUC, init, too many items in {}: ", text, length);
      return;
    }
  } else if (l.explicit_offset < 0) {
    mi = Member_By_Ordinal(l.structure, l.ordinal);
    if (mi < 0) {
      Error_Text("STRUC, too many initializations: ", text, length);
      return;
    }
  }
  if (Is_Char(text, length, '?')) {
    Init_Advance();
    return;
  }
  uint64_t value = 0;
  bool address = false, rva = false;
  const int found = Init_Value(text, length, &value, &address, &rva);
  if (found == 1) return;  // member = value: the value follows
  if (found < 0) {
    if (Pass.Pass_Number > 1) Error_Text("STRUC, init, unknown item: ", text, length);
    Init_Advance();
    return;
  }
  uint32_t field = 0, type = 0;
  if (l.explicit_offset >= 0) {
    field = static_cast<uint32_t>(l.explicit_offset);
    type = static_cast<uint32_t>(l.explicit_type);
  } else if (l.array) {
    type = Strucs.Array_Type;
    const uint32_t unit = type == 8 ? 1 : type == 16 ? 2 : type == 64 ? 8 : type == 80 ? 10 : type == 128 ? 16 : 4;
    field = Strucs.Array_Index * unit;
  } else {
    field = Strucs.Members[mi].offset;
    type = Strucs.Members[mi].type;
  }
  Init_Write(field, type, value, address, rva, text, length);
  Init_Advance();
}

// An instance of the structure being defined, inside its own definition.
bool Contains_Itself(int32_t structure) {
  if (structure < 0 || structure != Strucs.Struc_Current) return false;
  Clear_Pending();
  Error_Text("Structure can not contain itself: ", Strucs.Strucs.Name(structure), Strucs.Strucs.Name_Length(structure));
  return true;
}

void Struc_Init_Mode(const char* text, uint32_t length) {
  const int32_t s = Strucs.Init.structure;
  const uint32_t size = s >= 0 ? Strucs.Strucs[s].size : 0;
  Parser.Parser_Mode = 0;
  if (Struc_Is_Open()) {
    // A nested instance inside a definition is a member.
    if (Contains_Itself(s)) return;
    if (Is_Char(text, length, '?')) Declare_Member(8, s, 1, size);
    else {
      Clear_Pending();
      Error_Text("STRUC, can not initialize in definition: ", text, length);
    }
    return;
  }
  Define_Instance_Label(size, s);
  if (Is_Char(text, length, '?')) {
    Emit_Reserve(size);
    return;
  }
  if (Is_Char(text, length, '0')) {
    Emit_Repeat(0, size);
    return;
  }
  if (Is_Char(text, length, '{')) {
    if (!Emit_Fits(size) && !Emit_Room(size)) return;
    Struc_Init_Level& l = Strucs.Init;
    l.size = size;
    l.base_offset = Sections.Section_Write_Offset;
    l.base_address = Sections.Location_Counter;
    l.ordinal = 0;
    l.named = 0;
    l.array = 0;
    l.explicit_offset = -1;
    l.explicit_type = -1;
    Strucs.Init_Depth = 0;
    Strucs.Init_Overflow = 0;
    Emit_Reserve(size);
    Parser.Parser_Mode = Mode_Struc_Init;
    return;
  }
  Error_Text("STRUC, unknown initialization mode: ", text, length);
}

// ---- Structure definitions --------------------------------------------------------

void Struc_Name(const char* text, uint32_t length) {
  Parser.Parser_Mode = 0;
  Struc_Skip = false;
  Struc_Too_Big = false;
  if (length >= Struc_Name_Size || Str_Has_Nul(text, length)) {
    Error_Text("STRUC, name too long: ", text, length);
    Struc_Skip = true;
    return;
  }
  int32_t i = Strucs.Strucs.Find(text, length);
  if (Pass.Pass_Number == 1) {
    if (i >= 0) {
      Error_Text("Structure already defined: ", text, length);
      Struc_Skip = true;
      return;
    }
    i = Strucs.Strucs.Add(text, length, Symbol_Hash(text, length));
    if (Has_Dot(text, length)) Strucs.Dotted_Names = true;
    if (i < 0) {
      Error_Text("Can not create more structures: ", text, length);
      Diag.Stop_Flag += 1;
      Struc_Skip = true;
      return;
    }
    Strucs.Strucs[i].size = 0;
    Strucs.Strucs[i].use_count = 0;
    Strucs.Strucs[i].first_member = -1;
    Strucs.Strucs[i].member_count = 0;
    Strucs.Strucs[i].members_in_row = true;
    Strucs.Members_Of.resize(static_cast<size_t>(i) + 1);
  } else if (i < 0) {
    Error_Text("Structure unknown: ", text, length);
    Struc_Skip = true;
    return;
  }
  Strucs.Struc_Current = i;
  Strucs.Union_Depth = -1;
}

// ---- rs -------------------------------------------------------------------------------

void Rs_Struc_Name(const char* text, uint32_t length) {
  const int32_t i = Strucs.Strucs.Find(text, length);
  if (i >= 0) {
    Strucs.Strucs[i].use_count += 1;
    Strucs.Rs_Structure = i;
    Strucs.Rs_Size = Strucs.Strucs[i].size;
    Parser.Parser_Mode = Mode_Rs_Count;
    return;
  }
  if (Pass.Pass_Number == 1) {
    Strucs.Rs_Structure = -1;
    Strucs.Rs_Size = 8;
    Parser.Parser_Mode = Mode_Rs_Count;
    return;
  }
  Error_Text("RS, expecting structure name: ", text, length);
  Clear_Pending();
  Parser.Parser_Mode = Mode_Skip_Statement;
}

void Rs_Count(const char* text, uint32_t length) {
  Parser.Parser_Mode = 0;
  const uint32_t size = Strucs.Rs_Size;
  uint64_t count = 0;
  if (Struc_Is_Open()) {
    if (Contains_Itself(Strucs.Rs_Structure)) return;
    if (!Count_Of(text, length, false, &count)) {
      Clear_Pending();
      if (Pass.Pass_Number == 1) Error_Text("unknown data count:", text, length);
      return;
    }
    const bool fits = size == 0 || count <= Struc_Size_Max / size;
    Declare_Member(8, Strucs.Rs_Structure, 1, fits ? count * size : ~0ull);
    return;
  }
  Define_Instance_Label(size, Strucs.Rs_Structure);
  const bool known = Count_Of(text, length, true, &count);
  if (known && static_cast<int64_t>(count) >= 0 && (size == 0 || count <= 0xFFFFFFFFull / size)) {
    Emit_Reserve(static_cast<uint32_t>(count) * size);
    return;
  }
  if (Pass.Pass_Number == 1) Emit_Reserve(4);
  else Error_Text("RS, expecting structure count: ", text, length);
}

// ---- Enumerations ---------------------------------------------------------------------

void Enum_Param(const char* text, uint32_t length) {
  if (Strucs.Enum_Params == 0) {
    Strucs.Enum_Params = 1;
    if (length >= Struc_Name_Size || Str_Has_Nul(text, length)) {
      Error_Text("ENUM, name too long: ", text, length);
      Strucs.Enum_Current = -1;
      return;
    }
    int32_t i = Strucs.Enums.Find(text, length);
    if (Pass.Pass_Number == 1) {
      if (i >= 0) {
        Error_Text("ENUM: double defined? : ", text, length);
      } else {
        i = Strucs.Enums.Add(text, length, Symbol_Hash(text, length));
        if (i < 0) {
          Error_Text("Can not create more ENUM's ", text, length);
          Diag.Stop_Flag += 1;
        }
      }
    } else if (i < 0) {
      Error_Text("ENUM: not defined? : ", text, length);
    }
    Strucs.Enum_Current = i;
    return;
  }
  Eval_Result r = Eval_Value(text, length);
  uint32_t v = static_cast<uint32_t>(r.value);
  if (r.status != 0) {
    // A forward value is 0 in pass 1; later passes know it.
    if (Pass.Pass_Number > 1) Error_Text("ENUM, expecting start value here: ", text, length);
    v = 0;
  }
  if (Strucs.Enum_Params == 1) {
    Strucs.Enum_Value = v;
    if (Strucs.Enum_Current >= 0) Strucs.Enums[Strucs.Enum_Current].start = v;
    Strucs.Enum_Params = 2;
    return;
  }
  if (Strucs.Enum_Params == 2) {
    Strucs.Enum_Max = v;
    if (Strucs.Enum_Current >= 0) Strucs.Enums[Strucs.Enum_Current].max = v;
    Strucs.Enum_Params = 3;
    Parser.Parser_Mode = Mode_Enum_Item;
    return;
  }
  Error_Text("ENUM, too many parameters: ", text, length);
}

void Enum_Item(const char* text, uint32_t length) {
  if (Str_Equal_Lower(text, length, "ende", 4)) {
    Strucs.Enum_Current = -1;
    Parser.Parser_Mode = 0;
    return;
  }
  const uint32_t value = Strucs.Enum_Value;
  if (Pass.Pass_Number == 1) {
    if (length >= Symbol_Name_Size || Str_Has_Nul(text, length)) {
      Error_Text("ENUM, name too long: ", text, length);
    } else if (Equ_Find(text, length, nullptr) >= 0) {
      Error_Text("ENUM, item is double defined: ", text, length);
    } else if (!Import_Clash("ENUM, item is double defined: ", text, length)) {
      const int32_t e = Equ_Create(text, length, value, 0);
      if (e >= 0) Symbols.Equates[e].flags |= Equ_Enum_Item;
    }
    if (Strucs.Enum_Current >= 0) Strucs.Enums[Strucs.Enum_Current].count += 1;
  } else {
    const int32_t e = Equ_Find(text, length, nullptr);
    if (e < 0) {
      Error_Text("ENUM, item has pass dependent error: ", text, length);
    } else {
      Equ_Record& r = Symbols.Equates[e];
      r.use_count -= 1;
      if (r.value != value) {
        r.value = value;
        Pass.Change_Counter += 1;
      }
    }
  }
  if (value > Strucs.Enum_Max) Error_Text("ENUM, item is above max: ", text, length);
  Strucs.Enum_Value = value + 1;
}

// A member found in its structure's row: its entry and its tag, fetched ahead.
void Member_Tape_Prefetch(const void*, uint32_t index, uint32_t) {
  if (static_cast<int64_t>(index) > Strucs.Members.count || index >= Strucs.Member_Tags.size()) return;
  __builtin_prefetch(&Strucs.Members.entries[index]);
  __builtin_prefetch(&Strucs.Member_Tags[index]);
}

}  // namespace

// ---- Tables ------------------------------------------------------------------------------

int Struc_Tables_Create() {
  Strucs.Members_Of.clear();
  Strucs.Member_Tags.clear();
  Strucs.Dotted_Names = false;
  if (Strucs.Strucs.Create(Struc_Grow_Step, Struc_Grow_Step, Tape_Strucs) != 0 ||
      Strucs.Members.Create(Member_Grow_Step, Member_Grow_Step, Tape_Members) != 0 ||
      Strucs.Enums.Create(Enum_Grow_Step, Enum_Grow_Step) != 0) {
    Struc_Tables_Free();
    return -1;
  }
  Tape_Register(Tape_Members, {&Strucs.Members, Member_Tape_Prefetch, &Symbol_Table<Member_Record>::Tape_Bytes,
                             &Symbol_Table<Member_Record>::Tape_Prefetch_Entry});
  Strucs.Struc_Current = -1;
  Strucs.Enum_Current = -1;
  return 0;
}

void Struc_Tables_Free() {
  Strucs.Strucs.Free();
  Strucs.Members.Free();
  Strucs.Enums.Free();
  Strucs.Members_Of.clear();
  Strucs.Members_Of.shrink_to_fit();
  Strucs.Member_Tags.clear();
  Strucs.Member_Tags.shrink_to_fit();
  Strucs.Struc_Current = -1;
  Struc_Skip = false;
}

// ---- What the core asks ----------------------------------------------------------------

bool Struc_Member_Of(int32_t structure, const char* member, uint32_t length, uint32_t* offset, uint32_t* data_type) {
  if (structure < 0 || structure > Strucs.Strucs.count) return false;
  uint32_t total = 0;
  uint32_t pos = 0;
  while (pos < length && member[pos] == '.') {
    uint32_t end = pos + 1;
    while (end < length && member[end] != '.') ++end;
    const int32_t mi = Member_Find_In(structure, member + pos, end - pos);
    if (mi < 0) return false;
    Member_Record& m = Strucs.Members[mi];
    m.use_count += 1;
    total += m.offset;
    if (end >= length) {
      *offset = total;
      *data_type = m.type;
      return true;
    }
    if (m.nested < 0) return false;
    structure = m.nested;
    pos = end;
  }
  return false;
}

bool Struc_Size_Of_Name(const char* name, uint32_t length, uint32_t* size) {
  const int32_t i = Strucs.Strucs.Find(name, length);
  if (i < 0) return false;
  Strucs.Strucs[i].use_count += 1;
  *size = Strucs.Strucs[i].size;
  return true;
}

bool Struc_Member_Of_Name(const char* name, uint32_t length, uint32_t* offset, uint32_t* data_type) {
  if (Strucs.Strucs.count < 0) return false;
  uint32_t dot = 1;
  while (dot < length && name[dot] != '.') ++dot;
  if (dot >= length) return false;
  const int32_t s = Strucs.Strucs.Find(name, dot);
  if (s < 0) return false;
  return Struc_Member_Of(s, name + dot, length - dot, offset, data_type);
}

bool Struc_Is_Open() { return Strucs.Struc_Current >= 0 || Struc_Skip; }

bool Struc_Start_Instance(const char* name, uint32_t length) {
  const int32_t i = Strucs.Strucs.Find(name, length);
  if (i < 0) return false;
  Strucs.Strucs[i].use_count += 1;
  Strucs.Init.structure = i;
  Strucs.Init.size = Strucs.Strucs[i].size;
  return true;
}

void Struc_Org_Grow(uint64_t bytes) { Struc_Grow_By(bytes); }

void Struc_File_Start() {
  Strucs.Struc_Current = -1;
  Struc_Skip = false;
  Strucs.Union_Depth = -1;
  Strucs.Union_Largest = 0;
  Strucs.Init_Depth = 0;
  Strucs.Enum_Current = -1;
}

void Struc_File_End_Checks() {
  if (Diag.Stop_Flag) return;  // a stopped pass did not reach the end
  // An enumeration and an initialiser end with the file that opened them
  // (a file starts at statement level); a definition may go on after an
  // include and is reported at the end of the main file.
  if (Parser.Parser_Mode == Mode_Enum_Item && Strucs.Enum_Current >= 0) {
    const Enum_Record& e = Strucs.Enums[Strucs.Enum_Current];
    Error_Text("ENUM, ENDE is missing: ", e.name, e.name_length);
  }
  if (Parser.Parser_Mode == Mode_Struc_Init) Error_Msg("An accolade is left open ...");
  if (Parser.Parser_Mode == Mode_Enum_Item || Parser.Parser_Mode == Mode_Struc_Init) {
    Strucs.Enum_Current = -1;
    Strucs.Init_Depth = 0;
    Parser.Parser_Mode = 0;
  }
  if (Diag.Include_Depth == 0 && Strucs.Struc_Current >= 0) {
    const int32_t c = Strucs.Struc_Current;
    Error_Text("STRUC, ENDS is missing: ", Strucs.Strucs.Name(c), Strucs.Strucs.Name_Length(c));
  }
}

void Struc_Data_Member(const char* text, uint32_t length, uint32_t bits, uint32_t unit_bytes, bool count) {
  Parser.Parser_Mode = 0;
  if (Is_Quoted(text, length)) {
    Clear_Pending();
    Error_Text("STRUC, string can not declare a member: ", text, length);
    return;
  }
  if (!count) {
    Declare_Member(bits, -1, 1, unit_bytes);
    return;
  }
  uint64_t n = 0;
  if (!Count_Of(text, length, false, &n) || static_cast<int64_t>(n) < 0 || n > 0xFFFFFFFFull / unit_bytes) {
    Clear_Pending();
    if (Pass.Pass_Number == 1) Error_Text("unknown data count:", text, length);
    return;
  }
  Declare_Member(bits, -1, static_cast<uint32_t>(n), n * unit_bytes);
}

// ---- Keyword handlers --------------------------------------------------------------------

void Dir_Struc(const Keyword_Entry*) { Parser.Parser_Mode = Mode_Struc_Name; }

void Dir_Ends(const Keyword_Entry*) {
  if (!Struc_Is_Open()) Error_Msg("Unmached ENDS? : ");
  if (Strucs.Union_Depth >= 0 && Strucs.Struc_Current >= 0) {
    const int32_t c = Strucs.Struc_Current;
    Error_Text("ENDS, UNION is not closed: ", Strucs.Strucs.Name(c), Strucs.Strucs.Name_Length(c));
  }
  Strucs.Union_Depth = -1;
  Strucs.Struc_Current = -1;
  Struc_Skip = false;
  Parser.Parser_Mode = 0;
}

void Dir_Union(const Keyword_Entry*) {
  Parser.Parser_Mode = 0;
  if (!Struc_Is_Open()) {
    Error_Msg("UNION, unnamed union outside of STRUC ? ");
    return;
  }
  Strucs.Union_Depth += 1;
  if (Strucs.Union_Depth == 0) Strucs.Union_Largest = 0;
}

void Dir_Endu(const Keyword_Entry*) {
  Parser.Parser_Mode = 0;
  if (Strucs.Union_Depth < 0) {
    Error_Msg("ENDU, Unmached or alone ? ");
    return;
  }
  if (Strucs.Union_Depth == 0 && Strucs.Struc_Current >= 0 && Pass.Pass_Number == 1) {
    Struc_Record& s = Strucs.Strucs[Strucs.Struc_Current];
    const uint64_t size = static_cast<uint64_t>(s.size) + Strucs.Union_Largest;
    if (Struc_Size_Fits(size)) s.size = static_cast<uint32_t>(size);
  }
  Strucs.Union_Depth -= 1;
}

void Dir_Rs(const Keyword_Entry*) { Parser.Parser_Mode = Mode_Rs_Struc_Name; }

void Dir_Enum(const Keyword_Entry*) {
  Strucs.Enum_Params = 0;
  Parser.Parser_Mode = Mode_Enum_Param;
}

void Dir_Ende(const Keyword_Entry*) {
  Error_Msg("ENDE, with no ENUM? ");
  Parser.Parser_Mode = 0;
}

namespace {
const Mode_Handler Words[] = {
    {Mode_Struc_Name, Struc_Name},     {Mode_Struc_Instance, Struc_Init_Mode}, {Mode_Struc_Init, Struc_Init_Item},
    {Mode_Rs_Struc_Name, Rs_Struc_Name}, {Mode_Rs_Count, Rs_Count},          {Mode_Enum_Param, Enum_Param},
    {Mode_Enum_Item, Enum_Item},
};
}  // namespace

extern const Mode_Table Struc_Mode_Table = {"structures", Words, sizeof(Words) / sizeof(Words[0]), nullptr, 0,
                                            nullptr, 0};
