// Expression evaluator: literals directly, anything else by recursive descent
// over sums, terms and factors. All term operators share one precedence level
// and bind tighter than + and -; evaluation is left to right.
#include "core/expr.h"

#include "core/assemble.h"
#include "core/cmdline.h"
#include "core/diag.h"
#include "core/keywords.h"
#include "core/scratch.h"
#include "core/shortcuts.h"
#include "core/symbols.h"
#include "core/text.h"
#include "directives/proc.h"
#include "directives/struc.h"
#include "output/relocs.h"
#include "output/sections.h"

Expr_State Expr;

namespace {

constexpr uint32_t Sum_Slots = Max_Sections + 1;  // the last slot stands for the image base

// Per-evaluation bookkeeping of address terms: each added address counts +1
// for its section, each subtracted one -1; a value is relocatable only when
// one section is left with +1 (a difference of two labels is a plain number).
struct Address_Account {
  static constexpr uint32_t Listed = 32;  // terms whose section and sign are listed
  int32_t sum[Sum_Slots];  // cleared by the first address term only
  uint32_t terms;          // address terms seen
  bool complex;            // an address took part in * / shifts and the like
  uint8_t slot[Listed];    // term k's section slot and sign, for the first Listed terms
  int8_t sign[Listed];
  Address_Account() : terms(0), complex(false) {}

  // Whether terms [from, to) leave every section at 0, as x-y of one section
  // does: such a part is a number to * / and the rest. Past the listed terms
  // a part counts as an address.
  bool Part_Is_Number(uint32_t from, uint32_t to) const {
    if (to > Listed) return from == to;
    for (uint32_t i = from; i < to; ++i) {
      int32_t n = 0;
      for (uint32_t j = from; j < to; ++j) n += slot[j] == slot[i] ? sign[j] : 0;
      if (n != 0) return false;
    }
    return true;
  }
};

struct Parser {
  const char* p;
  const char* end;
  Address_Account acc;
  uint32_t depth;
};

bool Is_Blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool Ends_Word(char c) {
  return c == '(' || c == ')' || c == '*' || c == '/' || c == '+' || c == '-' || c == ' ' || c == '\t' ||
         c == '>' || c == ';' || c == '\r' || c == '\n';
}

void Skip_Blanks(Parser& ps) {
  while (ps.p < ps.end && Is_Blank(*ps.p)) ++ps.p;
}

void Fault() { Expr.Expr_Faults += 1; }

void Add_Address(Parser& ps, uint32_t section, int sign) {
  uint32_t slot = section < Max_Sections ? section : Sum_Slots - 1;
  if (ps.acc.terms == 0)
    for (int32_t& v : ps.acc.sum) v = 0;
  ps.acc.sum[slot] += sign;
  if (ps.acc.terms < Address_Account::Listed) {
    ps.acc.slot[ps.acc.terms] = static_cast<uint8_t>(slot);
    ps.acc.sign[ps.acc.terms] = static_cast<int8_t>(sign);
  }
  ps.acc.terms += 1;
}

bool Hex_Value(char c, uint32_t* v) {
  if (c >= '0' && c <= '9') { *v = static_cast<uint32_t>(c - '0'); return true; }
  c = Lower_Ascii(c);
  if (c >= 'a' && c <= 'f') { *v = static_cast<uint32_t>(c - 'a' + 10); return true; }
  return false;
}

bool All_Of(const char* text, uint32_t n, bool (*ok)(char), bool need_digit) {
  bool digit = false;
  for (uint32_t i = 0; i < n; ++i) {
    if (text[i] == '_') continue;
    if (!ok(text[i])) return false;
    digit = true;
  }
  return digit || !need_digit;
}
bool Is_Hex(char c) { uint32_t v; return Hex_Value(c, &v); }
bool Is_Bin(char c) { return c == '0' || c == '1'; }
bool Is_Dec(char c) { return c >= '0' && c <= '9'; }

// A literal word that starts with a digit.
uint64_t Literal(const char* w, uint32_t n) {
  uint64_t v = 0;
  char last = Lower_Ascii(w[n - 1]);
  int status;
  if (last == 'h') status = Str_To_Hex64(w, n, &v);
  else if (last == 'b') status = Str_To_Bin64(w, n, &v);
  else status = Str_To_Dec64(w, n, &v);
  if (status != 0) {
    Fault();
    return 0;
  }
  return v;
}

uint64_t Sum(Parser& ps, int sign);

// The word after $type, $size and friends: up to the next blank.
void Next_Blank_Word(Parser& ps, const char** w, uint32_t* n) {
  Skip_Blanks(ps);
  const char* s = ps.p;
  while (ps.p < ps.end && !Is_Blank(*ps.p)) ++ps.p;
  *w = s;
  *n = static_cast<uint32_t>(ps.p - s);
}

uint64_t Primary_Word(Parser& ps, const char* w, uint32_t n, int sign) {
  if (w[0] >= '0' && w[0] <= '9') return Literal(w, n);
  uint64_t value = 0;
  if (Equ_Find(w, n, &value) >= 0) return value;
  Label_Hit hit;
  if (Label_Find_Any(w, n, 0, &hit) >= 0) {
    Add_Address(ps, Sections.Reloc_Target_Section, sign);
    return hit.address;
  }
  uint32_t address = 0, section = 0;
  if (Local_Label_Value(w, n, &address, &section)) {
    Sections.Reloc_Target_Section = section;
    Add_Address(ps, section, sign);
    return address;
  }
  if (Proc_Address(w, n, &address, &section)) {
    Sections.Reloc_Target_Section = section;
    Add_Address(ps, section, sign);
    return address;
  }
  uint32_t size = 0, offset = 0, type = 0;
  if (Struc_Size_Of_Name(w, n, &size)) return size;
  if (Struc_Member_Of_Name(w, n, &offset, &type)) return offset;
  Expr.Expr_Unknown += 1;
  return 0;
}

bool Word_Is(const char* w, uint32_t n, const char* keyword) {
  return Str_Equal_Lower(w, n, keyword, Str_Len(keyword));
}

uint64_t Factor(Parser& ps, int sign);

// A factor that follows a word operator such as `not`.
uint64_t Operand_Factor(Parser& ps, int sign) {
  Skip_Blanks(ps);
  if (ps.p >= ps.end) {
    Fault();
    return 0;
  }
  return Factor(ps, sign);
}

uint64_t Factor(Parser& ps, int sign) {
  if (++ps.depth > Expr_Max_Nesting) {
    if (ps.depth == Expr_Max_Nesting + 1) Error_Msg("Expression: nesting too deep ");
    ps.p = ps.end;
    Fault();
    return 0;
  }
  struct Depth_Guard {
    Parser& ps;
    ~Depth_Guard() { ps.depth -= 1; }
  } guard{ps};

  Skip_Blanks(ps);
  if (ps.p >= ps.end) {
    Fault();
    return 0;
  }
  if (*ps.p == '-') {
    ++ps.p;
    Skip_Blanks(ps);
    if (ps.p < ps.end && *ps.p == '-') {  // one leading minus only
      Fault();
      return 0;
    }
    return 0 - Factor(ps, -sign);
  }
  if (*ps.p == '(') {
    ++ps.p;
    Expr.Paren_Depth += 1;
    uint64_t v = Sum(ps, sign);
    if (ps.p < ps.end && *ps.p == ')') {
      ++ps.p;
      Expr.Paren_Depth -= 1;
    } else {
      Fault();
    }
    return v;
  }
  const char* w = ps.p;
  while (ps.p < ps.end && !Ends_Word(*ps.p)) ++ps.p;
  uint32_t n = static_cast<uint32_t>(ps.p - w);
  if (n == 0) {  // an operator where a value belongs
    Fault();
    return 0;
  }

  if (w[0] == '$') {
    if (n == 1 || Word_Is(w, n, "$adr")) {
      Add_Address(ps, Sections.Current_Section, sign);
      Sections.Reloc_Target_Section = Sections.Current_Section;
      return Sections.Location_Counter;
    }
    if (Word_Is(w, n, "$$")) {
      Add_Address(ps, Sections.Current_Section, sign);
      Sections.Reloc_Target_Section = Sections.Current_Section;
      return Sections.Section_Start;
    }
    if (Word_Is(w, n, "$$$")) {
      Add_Address(ps, Max_Sections, sign);
      Sections.Reloc_Target_Section = Sections.Current_Section;
      return static_cast<uint32_t>(Sections.Image_Base);
    }
    if (Word_Is(w, n, "$ofs")) return Sections.Section_Write_Offset;
    if (Word_Is(w, n, "$pass")) return Pass.Pass_Number;
    if (Word_Is(w, n, "$type") || Word_Is(w, n, "$style")) {
      const char* x;
      uint32_t xn;
      Next_Blank_Word(ps, &x, &xn);
      if (xn == 0) return 1;
      if (x[0] == '"' || x[0] == '\'') return 2;
      if (x[0] == '[') return 3;
      return 1;
    }
    if (Word_Is(w, n, "$size") || Word_Is(w, n, "$value")) {
      bool want_size = Word_Is(w, n, "$size");
      const char* x;
      uint32_t xn;
      Next_Blank_Word(ps, &x, &xn);
      Register_Hit hit;
      if (Register_Find(x, xn, &hit) != 0) return ~uint64_t{0};
      return want_size ? hit.size : hit.number;
    }
  }
  bool blank_follows = ps.p < ps.end && (*ps.p == ' ' || *ps.p == '\t');
  if (blank_follows && Word_Is(w, n, "not")) {
    const uint32_t from = ps.acc.terms;
    uint64_t x = Operand_Factor(ps, sign);
    if (!ps.acc.Part_Is_Number(from, ps.acc.terms)) ps.acc.complex = true;
    return (x & 0xFFFFFFFF00000000ull) | static_cast<uint32_t>(~static_cast<uint32_t>(x));
  }
  if (blank_follows && Word_Is(w, n, "rva")) {
    uint64_t x = Operand_Factor(ps, sign);
    Expr.Expr_Reloc_Kind = 4;
    return static_cast<uint32_t>(static_cast<uint32_t>(x) - static_cast<uint32_t>(Sections.Image_Base));
  }
  if (blank_follows && Word_Is(w, n, "rnd")) {
    const uint32_t from = ps.acc.terms;
    uint64_t x = Operand_Factor(ps, sign);
    if (!ps.acc.Part_Is_Number(from, ps.acc.terms)) ps.acc.complex = true;
    return Rnd_Next(static_cast<uint32_t>(x));
  }
  return Primary_Word(ps, w, n, sign);
}

enum class Term_Op { None, Mul, Div, Mod, Shl, Shr, Rol, Ror, And, Or, Xor };

// Reads a term operator at the current position; word operators need a
// blank or TAB after them.
Term_Op Read_Term_Op(Parser& ps) {
  if (ps.p >= ps.end) return Term_Op::None;
  if (*ps.p == '*') { ++ps.p; return Term_Op::Mul; }
  if (*ps.p == '/') { ++ps.p; return Term_Op::Div; }
  static const struct { const char* name; uint32_t length; Term_Op op; } Words[] = {
      {"mod", 3, Term_Op::Mod}, {"shl", 3, Term_Op::Shl}, {"shr", 3, Term_Op::Shr}, {"rol", 3, Term_Op::Rol},
      {"ror", 3, Term_Op::Ror}, {"and", 3, Term_Op::And}, {"or", 2, Term_Op::Or},   {"xor", 3, Term_Op::Xor},
  };
  const char first = Lower_Ascii(*ps.p);
  for (const auto& w : Words) {
    uint32_t n = w.length;
    if (w.name[0] == first && static_cast<uint32_t>(ps.end - ps.p) > n && Str_Equal_Lower(ps.p, n, w.name, n) &&
        (ps.p[n] == ' ' || ps.p[n] == '\t')) {
      ps.p += n;
      return w.op;
    }
  }
  return Term_Op::None;
}

uint64_t Apply(Term_Op op, uint64_t a, uint64_t b) {
  uint32_t alo = static_cast<uint32_t>(a), blo = static_cast<uint32_t>(b);
  uint64_t ahi = a & 0xFFFFFFFF00000000ull;
  uint32_t count = blo & 31u;
  switch (op) {
    case Term_Op::Mul: return Mul64(a, b);
    case Term_Op::Div:
    case Term_Op::Mod:
      if (b == 0) {
        // Pass 1's addresses are provisional: a distance of 0 there may grow
        // later, so only a later pass reports the divisor.
        if (Expr.Expr_Unknown == 0) Error_Final("Expression: Divide by Zero!");
        Fault();
        return 0;
      }
      return op == Term_Op::Div ? Div64(a, b) : Mod64(a, b);
    case Term_Op::Shl: return ahi | static_cast<uint32_t>(alo << count);
    case Term_Op::Shr: return ahi | static_cast<uint32_t>(alo >> count);
    case Term_Op::Rol: return ahi | static_cast<uint32_t>(count ? (alo << count) | (alo >> (32 - count)) : alo);
    case Term_Op::Ror: return ahi | static_cast<uint32_t>(count ? (alo >> count) | (alo << (32 - count)) : alo);
    case Term_Op::And: return ahi | (alo & blo);
    case Term_Op::Or: return ahi | (alo | blo);
    case Term_Op::Xor: return ahi | (alo ^ blo);
    case Term_Op::None: break;
  }
  return a;
}

uint64_t Term(Parser& ps, int sign) {
  const uint32_t first = ps.acc.terms;
  uint64_t v = Factor(ps, sign);
  for (;;) {
    Skip_Blanks(ps);
    Term_Op op = Read_Term_Op(ps);
    if (op == Term_Op::None) return v;
    Skip_Blanks(ps);
    if (ps.p >= ps.end) {  // `3*`: a fault, and the value becomes 1
      Fault();
      return 1;
    }
    const uint32_t right = ps.acc.terms;
    uint64_t rhs = Factor(ps, sign);
    // (end-start)/4 is a number; an address on either side is scaled.
    if (!ps.acc.Part_Is_Number(first, right) || !ps.acc.Part_Is_Number(right, ps.acc.terms)) ps.acc.complex = true;
    v = Apply(op, v, rhs);
  }
}

uint64_t Sum(Parser& ps, int sign) {
  uint64_t v = Term(ps, sign);
  for (;;) {
    Skip_Blanks(ps);
    if (ps.p >= ps.end) return v;
    char c = *ps.p;
    if (c == ')') {
      if (Expr.Paren_Depth <= 0) {
        Fault();
        ps.p = ps.end;
      }
      return v;
    }
    if (c != '+' && c != '-') {  // anything else after a term
      Fault();
      ps.p = ps.end;
      return v;
    }
    ++ps.p;
    Skip_Blanks(ps);
    if (ps.p >= ps.end) {  // `3+`: a fault that keeps the sum so far
      Fault();
      return v;
    }
    if (c == '+') v += Term(ps, sign);
    else v -= Term(ps, -sign);
  }
}

}  // namespace

Eval_Result Expr_Evaluate(const char* text, uint32_t length) {
  Expr_State& e = Expr;
  e.Expr_Unknown = 0;
  e.Expr_Faults = 0;
  e.Expr_Relocatable = 0;
  e.Expr_Reloc_Kind = 0;
  e.Paren_Depth = 0;
  Parser ps{text, text + length, {}, 0};
  uint64_t v = Sum(ps, 1);
  if (ps.p < ps.end) Fault();  // a stray ')'
  // Relocatable when one section is left with exactly one added address;
  // any other mix of addresses is what the output format makes of it.
  int plus_one = 0;
  bool other = false;
  int32_t net = 0;
  uint32_t section = 0;
  for (uint32_t s = 0; ps.acc.terms > 0 && s < Sum_Slots; ++s) {
    net += ps.acc.sum[s];
    if (ps.acc.sum[s] == 1) {
      ++plus_one;
      section = s;
    } else if (ps.acc.sum[s] != 0) {
      other = true;
    }
  }
  // The image base ($$$) is known in an image and a flat binary only; an
  // object's linker places it.
  const bool image_base = ps.acc.terms > 0 && ps.acc.sum[Sum_Slots - 1] != 0;
  const bool one_address = plus_one == 1 && !other && !ps.acc.complex &&
                           !(image_base && Output_Is_Object());
  if (e.Expr_Reloc_Kind == Reloc_Rva32) {
    // An image-relative value always takes its relocation; a scaled one
    // has none.
    e.Expr_Relocatable = 1;
    if (one_address && section < Max_Sections) Sections.Reloc_Target_Section = section;
    else if (ps.acc.complex && Options.Output_Format != Format_Binary)
      Sections.Reloc_Target_Section = Section_Unrelocatable;
  } else if (one_address) {
    e.Expr_Relocatable = 1;
    if (section < Max_Sections) Sections.Reloc_Target_Section = section;
  } else if (ps.acc.terms > 0 && (plus_one > 0 || other || ps.acc.complex)) {
    switch (Address_Mix_Of(net, ps.acc.complex)) {
      case Address_Mix::Constant: break;
      case Address_Mix::Address: e.Expr_Relocatable = 1; break;
      case Address_Mix::Refused:
        e.Expr_Relocatable = 1;
        Sections.Reloc_Target_Section = Section_Unrelocatable;
        break;
    }
  }
  Eval_Result r;
  r.status = (e.Expr_Unknown || e.Expr_Faults) ? -1 : 0;
  r.value = v;
  return r;
}

bool Expr_Short_Literal(const char* t, uint32_t n, uint64_t* value) {
  if (n == 0 || !Is_Dec(t[0])) return false;
  uint64_t v = 0;
  if (n <= 19) {
    uint32_t i = 0;
    while (i < n && Is_Dec(t[i])) v = v * 10 + static_cast<uint32_t>(t[i++] - '0');
    if (i == n) {
      if (value) *value = v;
      return true;
    }
  }
  if (n > 16 || (t[n - 1] | 0x20) != 'h') return false;
  v = 0;
  for (uint32_t i = 0; i + 1 < n; ++i) {
    uint32_t d = 0;
    if (!Hex_Value(t[i], &d)) return false;
    v = v << 4 | d;
  }
  if (value) *value = v;
  return true;
}

namespace {
// A word that reads like a number without starting with a digit (`each`,
// `_9`) is the user's name where a label, equate or PROC of that name is
// defined: an expression and an operand read it so, and data must not take
// the name's letters as a number instead.
bool Defined_Name(const char* text, uint32_t length) {
  if (Is_Dec(text[0])) return false;
  return Symbols.Labels.Find(text, length) >= 0 || Symbols.Equates.Find(text, length) >= 0 ||
         Proc_Find(text, length, 0) >= 0;
}
}  // namespace

Eval_Result Eval_Value(const char* text, uint32_t length) {
  Expr.Expr_Relocatable = 0;
  Expr.Expr_Reloc_Kind = 0;
  if (length == 0) return {-1, 0};
  if (length <= 19 && Is_Dec(text[0]) && Shortcuts_On()) {
    // Up to 19 decimal digits cannot overflow: the value at once, as
    // Str_To_Dec64 below would give it.
    uint64_t v = 0;
    uint32_t i = 0;
    while (i < length && Is_Dec(text[i])) v = v * 10 + static_cast<uint32_t>(text[i++] - '0');
    if (i == length) return {0, v};
  }
  char last = Lower_Ascii(text[length - 1]);
  uint64_t v = 0;
  if (last == 'h' && length > 1 && All_Of(text, length - 1, Is_Hex, true) && !Defined_Name(text, length)) {
    Str_To_Hex64(text, length, &v);
    return {0, v};
  }
  if (last == 'b' && length > 1 && All_Of(text, length - 1, Is_Bin, true) && !Defined_Name(text, length)) {
    Str_To_Bin64(text, length, &v);
    return {0, v};
  }
  if (length >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    if (length == 2) return {-1, 0};
    if (All_Of(text + 2, length - 2, Is_Hex, true)) {
      bool too_big = false;
      for (uint32_t i = 2; i < length; ++i) {
        uint32_t d;
        if (!Hex_Value(text[i], &d)) continue;
        if (v >> 60) too_big = true;
        v = (v << 4) | d;
      }
      if (too_big) Error_Text("Value too big: ", text, length);
      return {0, v};
    }
  }
  if (All_Of(text, length, Is_Dec, true) && !Defined_Name(text, length)) {
    Str_To_Dec64(text, length, &v);
    return {0, v};
  }
  return Expr_Evaluate(text, length);
}

Stripped_Text Expr_Strip_Blanks(const char* text, uint32_t length) {
  uint32_t first = 0;
  while (first < length && text[first] != ' ' && text[first] != '\t') ++first;
  if (first == length && Shortcuts_On()) return {text, length};  // nothing to strip: the text itself
  char* out = Scratch_Alloc(length + 1);
  if (!out) return {text, 0};
  uint32_t n = 0;
  for (uint32_t i = 0; i < length; ++i)
    if (text[i] != ' ' && text[i] != '\t') out[n++] = text[i];
  out[n] = 0;
  return {out, n};
}

int Reg_Size(const char* text, uint32_t length, Reg_Size_Hit* hit) {
  if (length == 3 && Str_Equal_Lower(text, length, "r08", 3)) {
    if (hit) *hit = {64, 8};
    return 0;
  }
  Register_Hit r;
  if (Register_Find(text, length, &r) != 0 || r.reg_class != Reg_General) return -1;
  if (hit) *hit = {r.size, r.number};
  return 0;
}

namespace {
int32_t Reg_In_List(const char* text, uint32_t length, const char* const* list, uint32_t count, int32_t size) {
  for (uint32_t i = 0; i < count; ++i)
    if (Str_Equal_Lower(text, length, list[i], Str_Len(list[i]))) return size;
  return -1;
}
}  // namespace

int32_t Reg_Is_Control(const char* text, uint32_t length) {
  static const char* const L[] = {"cr0", "cr1", "cr2", "cr3", "cr4", "cr5", "cr6", "cr7"};
  return Reg_In_List(text, length, L, 8, 32);
}
int32_t Reg_Is_Debug(const char* text, uint32_t length) {
  static const char* const L[] = {"dr0", "dr1", "dr2", "dr3", "dr4", "dr5", "dr6", "dr7"};
  return Reg_In_List(text, length, L, 8, 32);
}
int32_t Reg_Is_Segment(const char* text, uint32_t length) {
  static const char* const L[] = {"es", "cs", "ss", "ds", "fs", "gs"};
  return Reg_In_List(text, length, L, 6, 16);
}
int32_t Reg_Is_Fpu(const char* text, uint32_t length) {
  static const char* const L[] = {"st0", "st1", "st2", "st3", "st4", "st5", "st6", "st7"};
  return Reg_In_List(text, length, L, 8, 80);
}
