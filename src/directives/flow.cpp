// .IF/.ELSEIF/.ELSE/.ENDIF, .WHILE/.ENDW and .REPEAT/.UNTIL.
//
// One condition compiler serves the three: each comparison writes a CMP and
// reserves a slot for a conditional jump whose target is not known yet; the
// slot is written once the target is known by rewinding the write position to
// it. Slots are reserved and written in the same pass, and their sizes are
// fixed (6 bytes for a Jcc, 5 for a JMP), so the layout never depends on them.
#include "directives/flow.h"

#include <vector>

#include "core/diag.h"
#include "core/dispatch.h"
#include "core/operands.h"
#include "directives/condition_ops.h"
#include "encode/alu.h"
#include "encode/branch.h"
#include "encode/opcodes.h"
#include "output/sections.h"

namespace {

constexpr uint32_t If_Nesting_Limit = 64;
constexpr uint32_t Loop_Nesting_Limit = 128;
constexpr uint32_t If_Pending_Limit = 32;
constexpr uint32_t Loop_Pending_Limit = 48;

// A reserved jump: where it is written and the address it runs at.
struct Slot {
  uint32_t section;
  uint32_t offset;
  uint32_t address;
};

Slot Here() { return {Sections.Current_Section, Sections.Section_Write_Offset, Sections.Location_Counter}; }

Slot Reserve(uint32_t n) {
  Slot s = Here();
  Emit_Fill(n);
  return s;
}

void Crosses_Sections() {
  const Section_State& s = Sections;
  const char* name = "";
  uint32_t length = 0;
  if (s.Section_Count >= 0 && s.Current_Section <= static_cast<uint32_t>(s.Section_Count)) {
    name = s.Section_Table[s.Current_Section].name;
    length = s.Section_Table[s.Current_Section].name_length;
  }
  Error_Text(".IF/.WHILE, block crosses sections: ", name, length);
}

// Runs `write` with the write position moved to the slot.
template <typename Write>
void Write_Slot(const Slot& slot, Write write) {
  Section_State& s = Sections;
  if (slot.section != s.Current_Section) {
    Crosses_Sections();
    return;
  }
  uint32_t offset = s.Section_Write_Offset;
  uint32_t address = s.Location_Counter;
  s.Section_Write_Offset = slot.offset;
  s.Location_Counter = slot.address;
  write();
  s.Section_Write_Offset = offset;
  s.Location_Counter = address;
}

// A jump to an earlier position of the same section (a loop head).
bool Same_Section(const Slot& target) {
  if (target.section == Sections.Current_Section) return true;
  Crosses_Sections();
  return false;
}

// ---- The condition compiler ----------------------------------------------------------

enum Pending_Type : uint32_t { Jump_If_True = 1, Jump_If_False = 2 };

struct Pending {
  uint32_t type;
  uint32_t code;
  uint32_t is_signed;
  int32_t group;
  bool active;
  Slot slot;
};

struct Condition {
  std::vector<Pending> pending;
  int32_t group = 0;
  uint32_t operands = 0;
  uint32_t code = 0;       // of the comparison being read
  uint32_t is_signed = 0;
  bool failed = false;     // an error was reported: the rest is not read
  void Clear() {
    failed = false;
    pending.clear();
    group = 0;
    operands = 0;
    code = 0;
    is_signed = 0;
  }
};

// The messages of one construct.
struct Texts {
  const char* too_many_operands;
  const char* misplaced_operator;
  const char* too_many_conditions;
  const char* cmp_failed;        // at `&&`/`||`
  const char* cmp_failed_end;    // at the line end
  uint32_t pending_limit;
  uint32_t mode;
};

const Texts If_Texts = {".IF too many operands: ", ".IF, misplaced operator: ", ".IF, too many conditions. ",
                        ".IF unknown CMP encode mode. ", ".IF unknown CMP encode mode. ", If_Pending_Limit,
                        Mode_If_Condition};
const Texts While_Texts = {".WHILE, too many operands: ", ".WHILE, missplaced operator? :",
                           ".WHILE, too many conditions. ", ".WHILE, unknown CMP mode ", ".WHILE, unknown CMP mode ",
                           Loop_Pending_Limit, Mode_While};
const Texts Until_Texts = {".UNTIL, too many operands: ", ".UNTIL, misplaced operator: ",
                           ".UNTIL, too many conditions. ", ".WHILE, unknown CMP mode ",
                           ".UNTIL, unknown CMP encode mode ", Loop_Pending_Limit, Mode_Until};

constexpr const char* Unbalanced = ".IF / .WHILE / .UNTIL unbalanced parentheses ";

// Writes the CMP of the comparison read so far; takes its `signed` flag.
void Compare(Condition& c, const char* failed) {
  c.is_signed = Params.flags.signed_;
  if (c.code == 0 && !c.failed) {
    // Nothing to test (`.if eax`, a trailing `||`): reported once, here.
    Error_Msg(".IF / .WHILE / .UNTIL unknown condition ");
    c.failed = true;
  }
  if (c.failed) {
    c.code = 1;
    return;
  }
  if (c.operands == 0) return;
  if (Emit_Cmp() == -1) Error_Msg(failed);
}

// The condition's last comparison, at the line end: every `(` closed.
void Compare_Last(Condition& c, const char* failed) {
  if (c.group != 0 && !c.failed) {
    Error_Msg(Unbalanced);
    c.failed = true;
  }
  Compare(c, failed);
}

bool Limit_Reached(const Condition& c, const Texts& t) {
  if (c.pending.size() < t.pending_limit) return false;
  Error_Msg(t.too_many_conditions);
  Diag.Stop_Flag += 1;
  return true;
}

void Write_Pending(const Pending& p, uint64_t target) {
  Write_Slot(p.slot, [&] {
    if (p.type == Jump_If_True) Emit_Jcc_True(target, p.code, p.is_signed);
    else Emit_Jcc_False(target, p.code, p.is_signed);
  });
}

// `&&` (adds a jump-if-false) or `||` (adds a jump-if-true). The entries of a
// parenthesis closed before this operator are settled here: those of the
// other type reach the next comparison, the rest now belong to this group.
void Join(Condition& c, const Texts& t, uint32_t type, const char* text, uint32_t length) {
  if (c.operands == 1 || (c.operands == 0 && c.code == 0)) {
    Error_Text(t.misplaced_operator, text, length);
    c.failed = true;
    return;
  }
  if (Limit_Reached(c, t)) return;
  Compare(c, t.cmp_failed);
  c.pending.push_back({type, c.code, c.is_signed, c.group, true, Reserve(6)});
  uint64_t next = Sections.Location_Counter;
  for (Pending& p : c.pending) {
    if (!p.active || p.group <= c.group) continue;
    if (p.type != type) {
      Write_Pending(p, next);
      p.active = false;
    } else {
      p.group = c.group;
    }
  }
  c.operands = 0;
  c.code = 0;
  Params_Reset();
  Parser.Parser_Mode = t.mode;
}

// The record the next operand goes to, or nullptr after too many.
Operand_Record* Next_Operand(Condition& c, const Texts& t, const char* text, uint32_t length) {
  if (c.failed) return nullptr;
  if (c.operands >= 2) {
    Error_Text(t.too_many_operands, text, length);
    c.failed = true;
    return nullptr;
  }
  if (c.operands == 1 && c.code == 0) Error_Text(".IF / .WHILE / .UNTIL unknown condition ", text, length);
  return &Params.op[c.operands];
}

void Stored(Condition& c, int result) {
  if (result != 1) c.operands += 1;
}

void Condition_Word(Condition& c, const Texts& t, const char* text, uint32_t length) {
  if (c.failed) return;
  if (length == 1 && (text[0] == '(' || text[0] == ')')) {
    if (text[0] == ')' && c.group == 0) {
      Error_Text(Unbalanced, text, length);
      c.failed = true;
      return;
    }
    c.group += text[0] == '(' ? 1 : -1;
    return;
  }
  uint32_t kind = 0, code = 0;
  if (If_Condition_Find(text, length, &kind, &code) == 0) {
    if (kind == 2) {
      Join(c, t, code == 1 ? Jump_If_False : Jump_If_True, text, length);
      return;
    }
    if (c.operands >= 2 || c.code != 0) {
      Error_Text(t.misplaced_operator, text, length);
      c.failed = true;
      return;
    }
    c.code = code;
    return;
  }
  Operand_Record* r = Next_Operand(c, t, text, length);
  if (r) Stored(c, Parse_Operand(text, length, r));
}

void Condition_Bracket(Condition& c, const Texts& t, const char* text, uint32_t length) {
  Operand_Record* r = Next_Operand(c, t, text, length);
  if (r) Stored(c, Parse_Operand_Mem(text, length, r));
}

void Condition_String(Condition& c, const Texts& t, const char* text, uint32_t length) {
  Operand_Record* r = Next_Operand(c, t, text, length);
  if (!r) return;
  if (length > 6) {
    // A comparison takes at most a 32-bit immediate.
    Error_Text("Mini string is too big: ", text, length);
    c.operands += 1;
    return;
  }
  Stored(c, Mini_String(text, length, r));
}

// ---- Blocks ----------------------------------------------------------------------------

enum If_Phase : uint32_t { Phase_None = 0, Phase_Condition = 1, Phase_Body = 2, Phase_Else = 3 };

struct If_Block {
  uint32_t phase = Phase_None;
  Condition cond;
  uint32_t code = 0;  // of the skip jump
  uint32_t is_signed = 0;
  Slot skip{};
  Slot else_jump{};
  std::vector<Slot> exits;  // the JMP of every .elseif
  int32_t file = 0;
};

struct Loop {
  Condition cond;
  Slot head{};
  Slot body{};
  int32_t file = 0;
};

struct Flow_State {
  std::vector<If_Block> ifs;
  std::vector<Loop> whiles;
  std::vector<Loop> repeats;
};
Flow_State State;

If_Block* Current_If() { return State.ifs.empty() ? nullptr : &State.ifs.back(); }

void Condition_Start(Condition& c, uint32_t mode) {
  c.Clear();
  Params_Reset();
  Parser.Parser_Mode = mode;
}

// Writes the jumps that leave when the condition fails: the skip jump and
// every open jump-if-false, to the current position.
void Resolve_False(If_Block& b) {
  uint64_t here = Sections.Location_Counter;
  Write_Slot(b.skip, [&] { Emit_Jcc_False(here, b.code, b.is_signed); });
  for (const Pending& p : b.cond.pending)
    if (p.active && p.type == Jump_If_False) Write_Pending(p, here);
  b.cond.pending.clear();
}

// ---- Mode handlers -------------------------------------------------------------------------

void If_Statement(const char* text, uint32_t length) {
  if (If_Block* b = Current_If()) Condition_Word(b->cond, If_Texts, text, length);
}
void If_Bracket(const char* text, uint32_t length) {
  if (If_Block* b = Current_If()) Condition_Bracket(b->cond, If_Texts, text, length);
}
void If_String(const char* text, uint32_t length) {
  if (If_Block* b = Current_If()) Condition_String(b->cond, If_Texts, text, length);
}

void While_Statement(const char* text, uint32_t length) {
  if (!State.whiles.empty()) Condition_Word(State.whiles.back().cond, While_Texts, text, length);
}
void While_Bracket(const char* text, uint32_t length) {
  if (!State.whiles.empty()) Condition_Bracket(State.whiles.back().cond, While_Texts, text, length);
}
void While_String(const char* text, uint32_t length) {
  if (!State.whiles.empty()) Condition_String(State.whiles.back().cond, While_Texts, text, length);
}

void Until_Statement(const char* text, uint32_t length) {
  if (!State.repeats.empty()) Condition_Word(State.repeats.back().cond, Until_Texts, text, length);
}
void Until_Bracket(const char* text, uint32_t length) {
  if (!State.repeats.empty()) Condition_Bracket(State.repeats.back().cond, Until_Texts, text, length);
}
void Until_String(const char* text, uint32_t length) {
  if (!State.repeats.empty()) Condition_String(State.repeats.back().cond, Until_Texts, text, length);
}

void Report_Open(bool all) {
  int32_t file = Diag.Include_Depth;
  // After a fatal error the blocks are closed in silence: the pass ended early.
  const bool quiet = Diag.Stop_Flag != 0;
  auto opened_here = [&](int32_t f) { return all || f >= file; };
  if (!State.ifs.empty() && opened_here(State.ifs.back().file)) {
    while (!State.ifs.empty() && opened_here(State.ifs.back().file)) State.ifs.pop_back();
    if (!quiet) {
      Diag.Stop_Flag += 1;
      Error_Msg(".IF not closed, above this line. ");
    }
  }
  if (!State.whiles.empty() && opened_here(State.whiles.back().file)) {
    while (!State.whiles.empty() && opened_here(State.whiles.back().file)) State.whiles.pop_back();
    if (!quiet) {
      Diag.Stop_Flag += 1;
      Error_Msg(".WHILE not closed, above this line. ");
    }
  }
  if (!State.repeats.empty() && opened_here(State.repeats.back().file)) {
    while (!State.repeats.empty() && opened_here(State.repeats.back().file)) State.repeats.pop_back();
    if (!quiet) {
      Diag.Stop_Flag += 1;
      Error_Msg(".REPEAT not closed, above this line. ");
    }
  }
}

}  // namespace

// ---- Jumps by condition ----------------------------------------------------------------------

void Emit_Jcc_True(uint64_t target, uint32_t code, uint32_t is_signed) {
  switch (code) {
    case 1: Emit_Je(target); break;
    case 2: Emit_Jne(target); break;
    case 3: is_signed ? Emit_Jl(target) : Emit_Jb(target); break;
    case 4: is_signed ? Emit_Jge(target) : Emit_Jae(target); break;
    case 9: is_signed ? Emit_Jle(target) : Emit_Jbe(target); break;
    case 10: is_signed ? Emit_Jg(target) : Emit_Ja(target); break;
    case 7: Emit_Js(target); break;
    case 8: Emit_Jns(target); break;
    case 5: Emit_Jo(target); break;
    case 6: Emit_Jno(target); break;
    case 11: Emit_Jp(target); break;
    case 12: Emit_Jnp(target); break;
    default: Error_Msg(".IF / .WHILE / .UNTIL unknown condition "); break;
  }
}

void Emit_Jcc_False(uint64_t target, uint32_t code, uint32_t is_signed) {
  static constexpr uint32_t Opposite[13] = {0, 2, 1, 4, 3, 6, 5, 8, 7, 10, 9, 12, 11};
  Emit_Jcc_True(target, code < 13 ? Opposite[code] : code, is_signed);
}

// ---- .if ---------------------------------------------------------------------------------------

bool If_Line_End_Pending() {
  const If_Block* b = State.ifs.empty() ? nullptr : &State.ifs.back();
  return b && b->phase == Phase_Condition;
}

void If_Line_End() {
  If_Block* b = Current_If();
  if (!b) return;
  Compare_Last(b->cond, If_Texts.cmp_failed_end);
  b->code = b->cond.code;
  b->is_signed = b->cond.is_signed;
  b->skip = Reserve(6);
  uint64_t body = Sections.Location_Counter;
  for (Pending& p : b->cond.pending) {
    if (p.active && p.type == Jump_If_True) {
      Write_Pending(p, body);
      p.active = false;
    }
  }
  b->phase = Phase_Body;
}

void Dir_If(const Keyword_Entry*) {
  if (State.ifs.size() >= If_Nesting_Limit) {
    Error_Msg(".IF nesting limit reached. ");
    Diag.Stop_Flag += 1;
    Not_Implemented_Skip_Statement();
    return;
  }
  State.ifs.emplace_back();
  If_Block& b = State.ifs.back();
  b.phase = Phase_Condition;
  b.file = Diag.Include_Depth;
  Condition_Start(b.cond, Mode_If_Condition);
}

void Dir_Elseif(const Keyword_Entry*) {
  If_Block* b = Current_If();
  if (!b || b->phase != Phase_Body) {
    Error_Msg(".ELSEIF without .IF ?");
    Diag.Stop_Flag += 1;
    Not_Implemented_Skip_Statement();
    return;
  }
  b->exits.push_back(Reserve(5));
  Resolve_False(*b);
  b->phase = Phase_Condition;
  Condition_Start(b->cond, Mode_If_Condition);
}

void Dir_Else(const Keyword_Entry*) {
  If_Block* b = Current_If();
  if (!b || b->phase != Phase_Body) {
    Error_Msg(".ELSE without .IF ?");
    Diag.Stop_Flag += 1;
    return;
  }
  b->else_jump = Reserve(5);
  Resolve_False(*b);
  b->phase = Phase_Else;
  Parser.Parser_Mode = 0;
}

void Dir_Endif(const Keyword_Entry*) {
  If_Block* b = Current_If();
  if (!b || b->phase == Phase_Condition) {
    Error_Msg(".ENDIF without .IF ? ");
    Diag.Stop_Flag += 1;
    return;
  }
  uint64_t here = Sections.Location_Counter;
  if (b->phase == Phase_Else) Write_Slot(b->else_jump, [&] { Encode_Jmp_Label(here); });
  else Resolve_False(*b);
  for (const Slot& exit : b->exits) Write_Slot(exit, [&] { Encode_Jmp_Label(here); });
  State.ifs.pop_back();
  Parser.Parser_Mode = 0;
}

// ---- .while ------------------------------------------------------------------------------------

void Dir_While(const Keyword_Entry*) {
  if (State.whiles.size() >= Loop_Nesting_Limit) {
    Error_Msg(".WHILE, too many nesting levels ");
    Diag.Stop_Flag += 1;
    Not_Implemented_Skip_Statement();
    return;
  }
  State.whiles.emplace_back();
  Loop& l = State.whiles.back();
  l.head = Here();
  l.file = Diag.Include_Depth;
  Condition_Start(l.cond, Mode_While);
}

void Flow_While_Line_End() {
  if (State.whiles.empty()) return;
  Loop& l = State.whiles.back();
  Condition& c = l.cond;
  Compare_Last(c, While_Texts.cmp_failed_end);
  if (Limit_Reached(c, While_Texts)) return;
  c.pending.push_back({Jump_If_False, c.code, c.is_signed, c.group, true, Reserve(6)});
  l.body = Here();
}

void Dir_Endw(const Keyword_Entry*) {
  if (State.whiles.empty()) {
    Error_Msg(".ENDW, without .WHILE? ");
    return;
  }
  Loop& l = State.whiles.back();
  if (Same_Section(l.head)) Encode_Jmp_Label(l.head.address);
  uint64_t exit = Sections.Location_Counter;
  for (Pending& p : l.cond.pending) {
    if (!p.active) continue;
    Write_Pending(p, p.type == Jump_If_False ? exit : l.body.address);
  }
  State.whiles.pop_back();
  Params_Reset();
  Parser.Parser_Mode = 0;
}

// ---- .repeat -----------------------------------------------------------------------------------

void Dir_Repeat(const Keyword_Entry*) {
  if (State.repeats.size() >= Loop_Nesting_Limit) {
    Error_Msg(".REPEAT, too many nesting levels ");
    Diag.Stop_Flag += 1;
    return;
  }
  State.repeats.emplace_back();
  Loop& l = State.repeats.back();
  l.head = Here();
  l.file = Diag.Include_Depth;
  Params_Reset();
  Parser.Parser_Mode = 0;
}

void Dir_Until(const Keyword_Entry*) {
  if (State.repeats.empty()) {
    Error_Msg(".UNTIL without .REPEAT ? ");
    Not_Implemented_Skip_Statement();
    return;
  }
  Condition_Start(State.repeats.back().cond, Mode_Until);
}

void Flow_Until_Line_End() {
  if (State.repeats.empty()) return;
  Loop& l = State.repeats.back();
  Condition& c = l.cond;
  Compare_Last(c, Until_Texts.cmp_failed_end);
  if (Same_Section(l.head)) {
    Emit_Jcc_False(l.head.address, c.code, c.is_signed);
    uint64_t exit = Sections.Location_Counter;
    for (const Pending& p : c.pending)
      if (p.active) Write_Pending(p, p.type == Jump_If_False ? l.head.address : exit);
  }
  State.repeats.pop_back();
}

// ---- Checks ------------------------------------------------------------------------------------

void Flow_File_End_Checks() { Report_Open(false); }
void Flow_Proc_Checks() { Report_Open(true); }

void Flow_Reset_Pass() {
  State.ifs.clear();
  State.whiles.clear();
  State.repeats.clear();
}

namespace {
const Mode_Handler Words[] = {
    {Mode_If_Condition, If_Statement},
    {Mode_While, While_Statement},
    {Mode_Until, Until_Statement},
};
const Mode_Handler Brackets[] = {
    {Mode_If_Condition, If_Bracket},
    {Mode_While, While_Bracket},
    {Mode_Until, Until_Bracket},
};
const Mode_Handler Strings[] = {
    {Mode_If_Condition, If_String},
    {Mode_While, While_String},
    {Mode_Until, Until_String},
};
}  // namespace

extern const Mode_Table Flow_Mode_Table = {"run-time blocks", Words, 3, Brackets, 3, Strings, 3};
