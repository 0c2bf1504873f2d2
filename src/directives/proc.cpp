// Procedures. A PROC is made in pass 1 with its USES and ARG items and its
// local labels; later passes find it, move its address and count the change.
// LOCALs are made anew in every pass. The prologue is written in front of the
// first code of the body, the epilogue by every `ret` inside it; both use only
// the stack family's workers.
#include "directives/proc.h"

#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/assemble.h"
#include "core/cmdline.h"
#include "core/dispatch.h"
#include "core/diag.h"
#include "core/expr.h"
#include "core/keywords.h"
#include "core/operands.h"
#include "core/text.h"
#include "directives/imports.h"
#include "directives/location.h"
#include "directives/struc.h"
#include "encode/control.h"
#include "encode/modrm.h"
#include "encode/stack.h"
#include "output/sections.h"
#include "directives/flow.h"

namespace {

constexpr uint32_t Proc_Name_Max = 127;
constexpr uint32_t Item_Name_Max = 47;
constexpr uint32_t Uses_Max = 32;
constexpr uint32_t Arg_Max = 64;
constexpr uint32_t Local_Max = 64;
constexpr uint32_t Local_Label_Max = 128;
constexpr uint32_t Frame_Max = 0xFFFF;  // ENTER's 16-bit size

// Item names stand in a character pool (each followed by a NUL): an item
// holds the name's offset and length.
struct Pool_Name {
  uint32_t offset = 0;
  uint32_t length = 0;
};

struct Uses_Item {
  uint32_t kind;  // 1 general register, 2 segment register
  uint32_t number;
  uint32_t size;
  Pool_Name name;
};

struct Arg_Item {
  Pool_Name name;
  uint32_t offset;  // above the frame base
  uint32_t size;    // bits
};

struct Local_Item {
  Pool_Name name;
  uint32_t base;       // frame bytes below the frame base before this item
  uint32_t offset;     // distance below the frame base (operands negate it)
  uint32_t stack_item; // bytes per item: the stack item, or a structure rounded up to it
  uint64_t count;
  uint32_t size;       // bits
  Pool_Name type;      // structure name, length 0 for none
};

struct Local_Label {
  Pool_Name name;
  uint32_t address;
};

// A PROC's items of one kind: `count` of them from `first` in their pool.
struct Item_Range {
  uint32_t first = 0;
  uint32_t count = 0;
};

// A PROC's items stand in pools shared by every PROC, each PROC's in a row,
// in the order the PROCs come: a later pass reads them as one stream, not
// one small block per PROC all over the heap. The name is the names table's.
struct Proc_Record {
  uint32_t flags = 0;  // bit 0: varg
  uint32_t convention = 0;
  uint32_t end = 0;
  uint32_t first_line = 0;  // source lines of `proc` and `endp`, kept under -dbg
  uint32_t last_line = 0;
  uint32_t arg_bytes = 0;
  uint32_t local_bytes = 0;
  Item_Range uses, args, locals, labels;
};

// Where each PROC is, kept with its name for lookups (entry i is table[i]):
// a lookup reads these and no Proc_Record.
struct Proc_Place {
  uint32_t section = 0;
  uint32_t start = 0;
  uint32_t use_count = 0;
  // What an INVOKE asks of the PROC, copied from its record (Mirror_Current).
  uint32_t convention = 0;
  uint32_t arg_count = 0;
  bool varg = false;
};
constexpr uint32_t Proc_Grow_Step = 3072;

struct Proc_State {
  std::vector<Proc_Record> table;
  Symbol_Table<Proc_Place> names;
  // USES, ARG and local labels are made in pass 1 and kept; LOCALs are made
  // anew in every pass, into pools emptied when a pass starts.
  std::vector<Uses_Item> uses;
  std::vector<Arg_Item> args;
  std::vector<Local_Label> labels;
  std::vector<char> item_names;
  std::vector<Local_Item> locals;
  std::vector<char> local_names;
  int32_t current = -1;
  uint32_t block_mode = 0;
  uint32_t saved_block_mode = 0;
  uint32_t align = 16;
  uint32_t default_convention = Conv_Stdcall;
  bool refused_open = false;  // a refused PROC header: its ENDP closes nothing
};
Proc_State State;

Proc_Record* Current() {
  Proc_State& s = State;
  return s.current < 0 ? nullptr : &s.table[static_cast<uint32_t>(s.current)];
}

const char* Proc_Name(int32_t proc) { return State.names.Name(proc); }
uint32_t Proc_Name_Length(int32_t proc) { return State.names.Name_Length(proc); }

// The items of a range; none when the range is not (or no longer) in its
// pool, as a LOCAL range of an earlier pass.
template <class Item>
std::span<Item> Items(std::vector<Item>& pool, Item_Range r) {
  if (static_cast<uint64_t>(r.first) + r.count > pool.size()) return {};
  return {pool.data() + r.first, r.count};
}

// A new item at the end of a PROC's range. The range is moved to the end
// of its pool first when other items follow it there.
template <class Item>
Item& Append(std::vector<Item>& pool, Item_Range& r) {
  if (static_cast<uint64_t>(r.first) + r.count != pool.size()) {
    if (static_cast<uint64_t>(r.first) + r.count > pool.size()) r.count = 0;
    pool.reserve(pool.size() + r.count + 1);  // the items copied stay where they are
    const uint32_t moved = static_cast<uint32_t>(pool.size());
    for (uint32_t k = 0; k < r.count; ++k) pool.push_back(pool[r.first + k]);
    r.first = moved;
  }
  pool.emplace_back();
  r.count += 1;
  return pool.back();
}

Pool_Name Name_Into(std::vector<char>& pool, const char* text, uint32_t length) {
  const Pool_Name n{static_cast<uint32_t>(pool.size()), length};
  pool.insert(pool.end(), text, text + length);
  pool.push_back(0);
  return n;
}

const char* Text_Of(const std::vector<char>& pool, Pool_Name n) { return pool.data() + n.offset; }
bool Name_Is(const std::vector<char>& pool, Pool_Name n, const char* text, uint32_t length) {
  return Str_Equal(Text_Of(pool, n), n.length, text, length);
}

// The current PROC's convention, ARG count and VARG mark, copied beside its
// place: an INVOKE reads them with the place its lookup found.
void Mirror_Current() {
  Proc_State& s = State;
  if (s.current < 0) return;
  const Proc_Record& r = s.table[static_cast<uint32_t>(s.current)];
  Proc_Place& place = s.names[s.current];
  place.convention = r.convention;
  place.arg_count = r.args.count;
  place.varg = (r.flags & 1) != 0;
}

uint32_t Source_Line() {
  const File_Name_Slot* f = Current_File_Name();
  return Options.Debug_Info && f ? f->line : 0;
}

uint32_t Stack_Item_Size() { return Mode() == Code_16 ? 2 : Mode() == Code_32 ? 4 : 8; }

bool Aligned_Convention(uint32_t c) { return c == Conv_Win64_Push || c == Conv_Win64 || c == Conv_Lin64; }

// A register name: `call ecx` or `[a]` would mean two things. Keywords are
// no reserved words here: the name is read where no keyword is looked up.
bool Name_Reserved(const char* text, uint32_t length) {
  Register_Hit reg;
  return Register_Find(text, length, &reg) == 0;
}

// Names checked before they are stored: length and register names.
bool Name_Ok(const char* text, uint32_t length, uint32_t max, const char* too_long, const char* reserved) {
  if (length > max || Str_Has_Nul(text, length)) {
    Error_Text(too_long, text, length);
    return false;
  }
  if (reserved && Name_Reserved(text, length)) {
    Error_Text(reserved, text, length);
    return false;
  }
  return true;
}

int32_t Proc_Create(const char* name, uint32_t length) {
  Proc_State& s = State;
  if ((!s.names.Created() && s.names.Create(Proc_Grow_Step, Proc_Grow_Step, Tape_Procs) != 0) || s.names.Add(name, length, 0) < 0) {
    Error_Text("PROC, can not create more: ", name, length);
    Diag.Stop_Flag += 1;
    return -1;
  }
  const int32_t index = static_cast<int32_t>(s.table.size());
  Proc_Place& place = s.names[index];
  place.section = Sections.Current_Section;
  place.start = Sections.Location_Counter;
  Proc_Record r;
  r.convention = s.default_convention;
  r.first_line = Source_Line();
  r.uses.first = static_cast<uint32_t>(s.uses.size());
  r.args.first = static_cast<uint32_t>(s.args.size());
  r.locals.first = static_cast<uint32_t>(s.locals.size());
  r.labels.first = static_cast<uint32_t>(s.labels.size());
  s.table.push_back(r);
  s.current = index;
  Mirror_Current();
  return index;
}

// ---- PROC and ENDP ----------------------------------------------------------------

void Close_Current() {
  Proc_Record* p = Current();
  if (p) {
    p->end = Sections.Location_Counter;
    p->last_line = Source_Line();
  }
  State.current = -1;
  State.block_mode = 0;
}

void Refuse_Header() {
  State.block_mode = 0;
  State.refused_open = true;
}

void Proc_Statement(const char* text, uint32_t length) {
  Parser.Parser_Mode = 0;
  if (!Name_Ok(text, length, Proc_Name_Max, "PROC, name too long: ", "PROC, name is reserved: ")) {
    Refuse_Header();
    return;
  }
  if (Pass.Pass_Number == 1) {
    const bool known = Proc_Find(text, length, 0) >= 0;
    if (known) Error_Text("PROC already defined: ", text, length);
    if (known || Import_Clash("PROC already defined: ", text, length)) {
      Refuse_Header();
      return;
    }
    Align_Location(State.align);
    Proc_Create(text, length);
    return;
  }
  const int32_t index = Proc_Find(text, length, 1);
  if (index < 0) {
    Error_Text("PROC unknown: ", text, length);
    Refuse_Header();
    return;
  }
  State.current = index;
  Proc_Record& p = State.table[static_cast<uint32_t>(index)];
  p.locals = {static_cast<uint32_t>(State.locals.size()), 0};  // its LOCALs of this pass follow
  p.local_bytes = 0;
}

// ---- USES -------------------------------------------------------------------------

void Uses_Statement(const char* text, uint32_t length) {
  Proc_Record* p = Current();
  if (!p) {
    Error_Text("USES Outside PROC: ", text, length);
    return;
  }
  if (Pass.Pass_Number != 1) return;
  Register_Hit reg;
  if (Register_Find(text, length, &reg) != 0) {
    Error_Text("USES, item unknown: ", text, length);
    return;
  }
  Uses_Item item{};
  item.number = reg.number;
  item.size = reg.size;
  if (reg.reg_class == Reg_General) {
    if (!Register_Usable(text, length, reg.number, reg.size, reg.reg_class)) return;
    if (reg.size == 8) {
      Error_Text("USES, can not save this register: ", text, length);
      return;
    }
    item.kind = 1;
  } else if (reg.reg_class == Reg_Segment && reg.number != 1) {  // cs can not be popped
    item.kind = 2;
  } else {
    Error_Text("USES, can not save this register: ", text, length);
    return;
  }
  if (State.block_mode == 2) {
    Error_Text("USES, must precede the first code of PROC: ", text, length);
    return;
  }
  Proc_State& s = State;
  item.name = Name_Into(s.item_names, text, length);
  if (p->uses.count >= Uses_Max) {
    Error_Text("USES, too many items: ", text, length);
    Items(s.uses, p->uses).back() = item;
    return;
  }
  Append(s.uses, p->uses) = item;
}

// ---- ARG --------------------------------------------------------------------------

// An ARG or a LOCAL of that name.
bool Frame_Has(const Proc_Record& p, const char* text, uint32_t length) {
  Proc_State& s = State;
  for (const Arg_Item& a : Items(s.args, p.args))
    if (Name_Is(s.item_names, a.name, text, length)) return true;
  for (const Local_Item& l : Items(s.locals, p.locals))
    if (Name_Is(s.local_names, l.name, text, length)) return true;
  return false;
}

void Arg_Statement(const char* text, uint32_t length) {
  Proc_Record* p = Current();
  if (!p) {
    Error_Text("ARG, can not be used outside of PROC: ", text, length);
    return;
  }
  if (Pass.Pass_Number != 1) return;
  if (!Name_Ok(text, length, Item_Name_Max, "ARG, name too long: ", "ARG, name is reserved: ")) return;
  // The ARGs and the LOCALs are one name space: the frame.
  if (Frame_Has(*p, text, length)) {
    Error_Text("ARG, is double defined: ", text, length);
    return;
  }
  if (p->args.count >= Arg_Max) {
    Error_Text("ARG, can not create more: ", text, length);
    return;
  }
  const uint32_t s = Stack_Item_Size();
  p->arg_bytes += s;
  const Pool_Name name = Name_Into(State.item_names, text, length);
  Append(State.args, p->args) = {name, p->arg_bytes + s, 8 * s};
  Mirror_Current();
  Symbol_Name_Added(text, length);
}

// ---- LOCAL ------------------------------------------------------------------------

// Places the LOCAL again after its count or type changed: count items of
// its stack item size, below what the LOCALs before it take. The frame stays
// below 2^31 bytes, so offsets never wrap.
void Local_Place(Proc_Record& p, Local_Item& item, const char* text, uint32_t length) {
  uint64_t end = item.base + item.count * static_cast<uint64_t>(item.stack_item);
  if (end >= 0x80000000ull) {
    Error_Text("LOCAL, count is out of range: ", text, length);
    item.count = 1;
    item.stack_item = Stack_Item_Size();
    end = item.base + item.stack_item;
  }
  item.offset = static_cast<uint32_t>(end);
  p.local_bytes = item.offset;
}

void Local_Name(Proc_Record& p, const char* text, uint32_t length) {
  if (!Name_Ok(text, length, Item_Name_Max, "LOCAL, name too long: ", "LOCAL, name is reserved: ")) return;
  if (Frame_Has(p, text, length)) {
    Error_Text("LOCAL, var is double defined: ", text, length);
    return;
  }
  if (p.locals.count >= Local_Max) {
    Error_Text("Can not create more LOCALs for procedure: ", text, length);
    return;
  }
  const uint32_t s = Stack_Item_Size();
  if (p.local_bytes + static_cast<uint64_t>(s) >= 0x80000000ull) {
    Error_Text("LOCAL, count is out of range: ", text, length);
    return;
  }
  Local_Item item{Name_Into(State.local_names, text, length), p.local_bytes, 0, s, 1, 8 * s, Pool_Name{}};
  Local_Place(p, item, text, length);
  Symbol_Name_Added(text, length);
  Append(State.locals, p.locals) = item;
}

// The LOCAL made last, or none.
Local_Item* Last_Local(Proc_Record& p) {
  std::span<Local_Item> items = Items(State.locals, p.locals);
  return items.empty() ? nullptr : &items.back();
}

// `[n]` after a LOCAL name: the text between the brackets.
void Local_Count(Proc_Record& p, const char* text, uint32_t length, const char* word, uint32_t word_length) {
  if (!Last_Local(p)) {
    Error_Text("LOCAL, expecting local name first: ", word, word_length);
    return;
  }
  const Stripped_Text t = Expr_Strip_Blanks(text, length);
  if (t.length == 0) {
    Error_Text("Empty or orphan brackets? : ", word, word_length);
    return;
  }
  const Eval_Result e = Eval_Value(t.text, t.length);
  if (e.status != 0) {
    // A count defined further down is known from pass 2 on.
    if (Pass.Pass_Number > 1) Error_Text("Symbol unknown: ", word, word_length);
    return;
  }
  if (e.value == 0) {
    Error_Text("LOCAL, [0] is not allowed: ", word, word_length);
    return;
  }
  if (static_cast<int64_t>(e.value) < 0 || e.value >= 0x80000000ull) {
    Error_Text("LOCAL, count is out of range: ", word, word_length);
    return;
  }
  Local_Item& item = *Last_Local(p);
  item.count = e.value;
  Local_Place(p, item, word, word_length);
}

void Local_Type(Proc_Record& p, const char* text, uint32_t length) {
  if (length < 2) {
    Error_Text("LOCAL, type token is too small:  ", text, length);
    return;
  }
  uint32_t size = 0;
  if (!Struc_Size_Of_Name(text + 1, length - 1, &size)) {
    if (Pass.Pass_Number > 1) Error_Text("LOCAL, type is unknown:  ", text, length);
    return;
  }
  if (!Last_Local(p)) {
    Error_Text("LOCAL, expecting local name first: ", text, length);
    return;
  }
  const Pool_Name type = Name_Into(State.local_names, text + 1, length - 1);
  Local_Item& item = *Last_Local(p);
  const uint32_t s = Stack_Item_Size();
  item.stack_item = (size + s - 1) / s * s;
  if (item.stack_item == 0) item.stack_item = s;
  item.type = type;
  Local_Place(p, item, text, length);
}

bool Local_Usable(const char* text, uint32_t length) {
  if (State.block_mode == 2) {
    Error_Text("LOCAL, must precede the first code of PROC: ", text, length);
    return false;
  }
  return true;
}

void Local_Statement(const char* text, uint32_t length) {
  Proc_Record* p = Current();
  if (!p) return;
  if (!Local_Usable(text, length)) return;
  if (text[0] == ':') {
    Local_Type(*p, text, length);
    return;
  }
  // The scanner keeps `name[n]` as one word.
  uint32_t bracket = 0;
  while (bracket < length && text[bracket] != '[') ++bracket;
  if (bracket == length) {
    Local_Name(*p, text, length);
    return;
  }
  if (bracket == 0 || text[length - 1] != ']') {
    Error_Text("Empty or orphan brackets? : ", text, length);
    return;
  }
  const uint32_t before = p->locals.count;
  Local_Name(*p, text, bracket);
  if (p->locals.count == before) return;
  Local_Count(*p, text + bracket + 1, length - bracket - 2, text, length);
}

void Local_Count_Bracket(const char* text, uint32_t length) {
  Proc_Record* p = Current();
  if (!p) return;
  if (!Local_Usable(text, length)) return;
  if (length <= 2) {
    Error_Text("Empty or orphan brackets? : ", text, length);
    return;
  }
  Local_Count(*p, text + 1, length - 2, text, length);
}

const Local_Item* Local_Find_Simple(const Proc_Record& p, const char* name, uint32_t length) {
  for (const Local_Item& l : Items(State.locals, p.locals))
    if (Name_Is(State.local_names, l.name, name, length)) return &l;
  return nullptr;
}

// local.member: the LOCAL's structure member, at the LOCAL's offset less the member's.
bool Local_Find_Member(const Proc_Record& p, const char* name, uint32_t length, uint32_t* offset, uint32_t* size) {
  uint32_t dot = 0;
  while (dot < length && name[dot] != '.') ++dot;
  if (dot == 0 || dot >= length - 1) return false;
  const Local_Item* l = Local_Find_Simple(p, name, dot);
  if (!l) return false;
  if (l->type.length == 0) {
    if (Pass.Pass_Number > 1) {
      Error_Text("LOCAL, type is not a structure: ", name, length);
      return false;
    }
    *offset = 4;
    *size = 32;
    return true;
  }
  const std::string full = std::string(Text_Of(State.local_names, l->type), l->type.length) +
                           std::string(name + dot, length - dot);
  uint32_t member = 0, type = 0;
  if (!Struc_Member_Of_Name(full.data(), static_cast<uint32_t>(full.size()), &member, &type)) return false;
  *offset = l->offset - member;
  *size = type;
  return true;
}

// ---- Prologue and epilogue ----------------------------------------------------------

void Prologue(Proc_Record& p) {
  const bool aligned = Aligned_Convention(p.convention);
  if (p.convention != Conv_Noframe) {
    uint32_t frame = p.local_bytes;
    if (aligned && (frame & 8)) frame += 8;
    if (frame > Frame_Max) Error_Text("LOCAL, frame is too big: ", Proc_Name(State.current), Proc_Name_Length(State.current));
    Emit_Enter(frame, 0);
  }
  const std::span<const Uses_Item> uses = Items(State.uses, p.uses);
  for (const Uses_Item& u : uses) {
    if (u.kind == 2) {
      Encode_Push_Sreg(u.number);
      continue;
    }
    // A 2-byte push would leave the stack off its 16-byte alignment.
    if (aligned && u.size == 16) {
      Error_Text("USES, can not save this register: ", Text_Of(State.item_names, u.name), u.name.length);
      continue;
    }
    Encode_Push_Reg(u.number, u.size);
  }
  // The aligned conventions keep rsp on 16 bytes: an odd count pushes the
  // last item once more.
  if (aligned && (uses.size() & 1)) {
    const Uses_Item& u = uses.back();
    if (u.kind == 2) Encode_Push_Sreg(u.number);
    else if (u.size != 16) Encode_Push_Reg(u.number, u.size);
  }
}

}  // namespace

void Proc_Epilogue() {
  Proc_Record* p = Current();
  if (!p) return;
  const std::span<const Uses_Item> uses = Items(State.uses, p->uses);
  if (Aligned_Convention(p->convention) && (uses.size() & 1)) {
    const Uses_Item& u = uses.back();
    if (u.kind == 2) Encode_Pop_Sreg(u.number);
    else if (u.size != 16) Encode_Pop_Reg(u.number, u.size);
  }
  for (size_t i = uses.size(); i-- > 0;) {
    const Uses_Item& u = uses[i];
    if (u.kind == 2) Encode_Pop_Sreg(u.number);
    else if (!(Aligned_Convention(p->convention) && u.size == 16)) Encode_Pop_Reg(u.number, u.size);
  }
  switch (p->convention) {
    case Conv_Noframe: Emit_Ret(); return;
    case Conv_Stdcall:
      Emit_Leave();
      if (p->arg_bytes) Emit_Ret_N(p->arg_bytes);
      else Emit_Ret();
      return;
    default:
      Emit_Leave();
      Emit_Ret();
      return;
  }
}

uint32_t Proc_Block_Mode() { return State.block_mode; }

void Proc_Prologue_Due() {
  State.block_mode = 2;
  Proc_Record* p = Current();
  if (p) Prologue(*p);
}

void Block_Mode_Save(uint32_t mode) {
  State.saved_block_mode = State.block_mode;
  State.block_mode = mode;
}

void Block_Mode_Restore() {
  State.block_mode = State.saved_block_mode;
  State.saved_block_mode = 0;
}

bool Proc_Is_Open() { return State.current >= 0; }

const char* Proc_Current_Name() { return State.current < 0 ? nullptr : Proc_Name(State.current); }

bool Proc_Arg_Names(const char* name, uint32_t length, void (*each)(const char* arg, uint32_t arg_length)) {
  const int32_t i = Proc_Find(name, length, 0);
  if (i < 0) return false;
  for (const Arg_Item& a : Items(State.args, State.table[static_cast<uint32_t>(i)].args))
    each(Text_Of(State.item_names, a.name), a.name.length);
  return true;
}

int32_t Proc_Find(const char* name, uint32_t length, uint32_t update) {
  Proc_State& s = State;
  const int32_t index = s.names.Find(name, length);
  if (index < 0) return -1;
  Proc_Place& p = s.names[index];
  if (update) {
    Align_Location(s.align);
    if (p.start != Sections.Location_Counter) {
      p.start = Sections.Location_Counter;
      p.use_count = 0;
      Pass.Change_Counter += 1;
    }
    p.section = Sections.Current_Section;
  }
  Sections.Reloc_Target_Section = p.section;
  p.use_count += 1;
  return index;
}

int64_t Proc_Use_Count(const char* name, uint32_t length) {
  const int32_t index = State.names.Find(name, length);
  if (index < 0) return -1;
  return State.names[index].use_count;
}

bool Proc_Address(const char* name, uint32_t length, uint32_t* address, uint32_t* section) {
  const int32_t i = Proc_Find(name, length, 0);
  if (i < 0) return false;
  const Proc_Place& p = State.names[i];
  *address = p.start;
  *section = p.section;
  return true;
}

bool Proc_At(int32_t proc, const char** name, uint32_t* length, uint32_t* address, uint32_t* section) {
  if (proc < 0 || static_cast<size_t>(proc) >= State.table.size()) return false;
  *name = Proc_Name(proc);
  *length = Proc_Name_Length(proc);
  *address = State.names[proc].start;
  *section = State.names[proc].section;
  return true;
}

bool Proc_Extent(int32_t proc, uint32_t* end, uint32_t* first_line, uint32_t* last_line) {
  if (proc < 0 || static_cast<size_t>(proc) >= State.table.size()) return false;
  const Proc_Record& p = State.table[static_cast<uint32_t>(proc)];
  *end = p.end;
  *first_line = p.first_line;
  *last_line = p.last_line;
  return true;
}

bool Proc_Local_Label_At(int32_t proc, uint32_t label, const char** name, uint32_t* length, uint32_t* address) {
  if (proc < 0 || static_cast<size_t>(proc) >= State.table.size()) return false;
  const std::span<const Local_Label> labels = Items(State.labels, State.table[static_cast<uint32_t>(proc)].labels);
  if (label >= labels.size()) return false;
  *name = Text_Of(State.item_names, labels[label].name);
  *length = labels[label].name.length;
  *address = labels[label].address;
  return true;
}

bool Proc_Arg_At(int32_t proc, uint32_t arg, const char** name, uint32_t* length) {
  if (proc < 0 || static_cast<size_t>(proc) >= State.table.size()) return false;
  const std::span<const Arg_Item> args = Items(State.args, State.table[static_cast<uint32_t>(proc)].args);
  if (arg >= args.size()) return false;
  *name = Text_Of(State.item_names, args[arg].name);
  *length = args[arg].name.length;
  return true;
}

int32_t Proc_Arg_Count(int32_t proc) {
  if (proc < 0 || static_cast<size_t>(proc) >= State.table.size()) return -1;
  return static_cast<int32_t>(State.names[proc].arg_count);
}

uint32_t Proc_Convention(int32_t proc) {
  if (proc < 0 || static_cast<size_t>(proc) >= State.table.size()) return State.default_convention;
  return State.names[proc].convention;
}

bool Proc_Varg(int32_t proc) {
  if (proc < 0 || static_cast<size_t>(proc) >= State.table.size()) return false;
  return State.names[proc].varg;
}

void Proc_Set_Align(uint32_t alignment) { State.align = alignment; }
void Proc_Set_Default_Convention(uint32_t convention) { State.default_convention = convention; }
uint32_t Proc_Default_Convention() { return State.default_convention; }
uint32_t Proc_Align() { return State.align; }

bool Proc_Local_Find(const char* name, uint32_t length, uint32_t* frame_offset, uint32_t* size) {
  const Proc_Record* p = Current();
  if (!p) return false;
  const Local_Item* l = Local_Find_Simple(*p, name, length);
  if (l) {
    *frame_offset = l->offset;
    *size = l->size;
    return true;
  }
  return Local_Find_Member(*p, name, length, frame_offset, size);
}

bool Proc_Arg_Find(const char* name, uint32_t length, uint32_t* frame_offset, uint32_t* size) {
  const Proc_Record* p = Current();
  if (!p) return false;
  for (const Arg_Item& a : Items(State.args, p->args)) {
    if (Name_Is(State.item_names, a.name, name, length)) {
      *frame_offset = a.offset;
      *size = a.size;
      return true;
    }
  }
  return false;
}

namespace {
Local_Label* Label_Of(const char* name, uint32_t length) {
  Proc_Record* p = Current();
  if (!p) return nullptr;
  for (Local_Label& l : Items(State.labels, p->labels))
    if (Name_Is(State.item_names, l.name, name, length)) return &l;
  return nullptr;
}
}  // namespace

bool Local_Label_Find(const char* name, uint32_t length, uint32_t update) {
  Local_Label* l = Label_Of(name, length);
  if (!l) return false;
  if (update && l->address != Sections.Location_Counter) {
    l->address = Sections.Location_Counter;
    Pass.Change_Counter += 1;
  }
  return true;
}

void Local_Label_Create(const char* name, uint32_t length, uint32_t, uint32_t address) {
  Proc_Record* p = Current();
  if (!p) return;
  if (length > Item_Name_Max || Str_Has_Nul(name, length)) {
    Error_Text("Local Label, name too long: ", name, length);
    return;
  }
  if (p->labels.count >= Local_Label_Max) {
    Error_Text("Local Label, can not create more: ", name, length);
    return;
  }
  const Pool_Name n = Name_Into(State.item_names, name, length);
  Append(State.labels, p->labels) = {n, address};
  Symbol_Name_Added(name, length);
}

bool Local_Label_Value(const char* name, uint32_t length, uint32_t* address, uint32_t* section) {
  const Local_Label* l = Label_Of(name, length);
  if (!l) return false;
  *address = l->address;
  *section = State.names[State.current].section;
  return true;
}

void Proc_File_Start() {
  State.refused_open = false;
  State.current = -1;
  State.block_mode = 0;
  State.saved_block_mode = 0;
}

void Proc_File_End_Checks() {
  if (Diag.Include_Depth == 0 && State.current >= 0 && !Diag.Stop_Flag)
    Error_Text("ENDP is missing for: ", Proc_Name(State.current), Proc_Name_Length(State.current));
}

void Proc_Reset_Pass() {
  // A PROC's LOCALs are made anew in every pass when its PROC statement
  // opens it (Proc_Statement): no other PROC's frame is read meanwhile.
  State.current = -1;
  State.block_mode = 0;
  State.locals.clear();
  State.local_names.clear();
}

void Proc_Table_Init() {
  Proc_Table_Free();
  State.align = Options.Proc_Align;
  State.default_convention = Conv_Stdcall;
}

void Proc_Table_Free() {
  Proc_State& s = State;
  s.table.clear();
  s.table.shrink_to_fit();
  s.item_names = {};
  s.local_names = {};
  s.uses = {};
  s.args = {};
  s.labels = {};
  s.locals = {};
  s.names.Free();
  s.current = -1;
  s.block_mode = 0;
  s.saved_block_mode = 0;
}

// ---- Keyword handlers ---------------------------------------------------------------

void Dir_Proc(const Keyword_Entry* keyword) {
  (void)keyword;
  Flow_Proc_Checks();
  if (State.current >= 0) {
    Error_Text("PROC, previous PROC not closed: ", Proc_Name(State.current), Proc_Name_Length(State.current));
    Close_Current();
  }
  State.refused_open = false;
  // A structure definition emits nothing: a frame's code would land in the
  // section in the middle of it.
  if (Struc_Is_Open()) {
    const char* name = Strucs.Struc_Current >= 0 ? Strucs.Strucs.Name(Strucs.Struc_Current) : "";
    Error_Text("PROC, can not be used inside STRUC: ", name, Str_Len(name));
    Refuse_Header();
    Not_Implemented_Skip_Statement();
    return;
  }
  State.block_mode = 1;
  Parser.Parser_Mode = Mode_Proc_Name;
}

void Dir_Endp(const Keyword_Entry*) {
  Flow_Proc_Checks();
  if (State.current < 0) {
    if (!State.refused_open) Error_Msg("Unmached ENDP ?: ");
    State.refused_open = false;
    return;
  }
  Close_Current();
}

void Dir_Uses(const Keyword_Entry*) {
  Params_Reset();
  Parser.Parser_Mode = Mode_Uses_Item;
}

void Dir_Arg(const Keyword_Entry*) {
  Params_Reset();
  Parser.Parser_Mode = Mode_Arg_Item;
}

void Dir_Local(const Keyword_Entry* keyword) {
  if (State.current < 0) {
    Error_Msg("LOCAL Outside of PROC: ");
    (void)keyword;
    Not_Implemented_Skip_Statement();
    return;
  }
  Params_Reset();
  Parser.Parser_Mode = Mode_Local_Item;
}

void Set_Call_Convention(const Keyword_Entry* keyword) {
  // A convention on a line that names an import belongs to the import.
  if (Import_Func_Set_Convention(keyword->payload[0])) return;
  Proc_Record* p = Current();
  if (!p) return;
  if (State.block_mode == 2) {
    Error_Text("PROC, convention must precede the first code: ", keyword->name, keyword->name_length);
    return;
  }
  p->convention = keyword->payload[0];
  Mirror_Current();
}

void Set_Varg(const Keyword_Entry*) {
  if (Import_Func_Set_Varg()) return;
  Proc_Record* p = Current();
  if (!p) return;
  p->flags |= 1;
  Mirror_Current();
}

namespace {
const Mode_Handler Words[] = {
    {Mode_Proc_Name, Proc_Statement},
    {Mode_Uses_Item, Uses_Statement},
    {Mode_Arg_Item, Arg_Statement},
    {Mode_Local_Item, Local_Statement},
};
const Mode_Handler Brackets[] = {
    {Mode_Local_Item, Local_Count_Bracket},
};
}  // namespace

extern const Mode_Table Proc_Mode_Table = {"procedures", Words, 4, Brackets, 1, nullptr, 0};
