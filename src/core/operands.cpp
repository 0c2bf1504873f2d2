// Operand parser and parameter context.
#include "core/operands.h"

#include "core/assemble.h"
#include "core/cmdline.h"
#include "core/diag.h"
#include "core/dispatch.h"
#include "core/expr.h"
#include "core/keywords.h"
#include "core/symbols.h"
#include "core/text.h"
#include "directives/imports.h"
#include "directives/macro.h"
#include "directives/proc.h"
#include "directives/struc.h"
#include "directives/textequ.h"
#include "output/relocs.h"
#include "output/sections.h"

Params_Context Params;
Operand_State Operands;

uint32_t Kind_Of_Register_Class(uint32_t reg_class) {
  switch (reg_class) {
    case Reg_General: return Op_Reg;
    case Reg_Segment: return Op_Segment;
    case Reg_MMX: return Op_MMX;
    case Reg_XMM: return Op_XMM;
    case Reg_X87: return Op_X87;
    case Reg_Control: return Op_Control;
    case Reg_Debug: return Op_Debug;
    default: return Op_None;
  }
}

uint32_t Params_Keyword_Size() {
  const auto& f = Params.flags;
  if (f.byte_) return 8;
  if (f.word) return 16;
  if (f.dword) return 32;
  if (f.qword) return 64;
  if (f.tbyte) return 80;
  return 0;
}

// Params_Reset clears the record field by field (see there): a field added to
// Params_Context must be cleared there too, which this check recalls.
static_assert(sizeof(Params_Context) == (sizeof(void*) == 8 ? 288 : 240), "clear the new field in Params_Reset");

void Params_Reset() {
  Params_Context& p = Params;
  if (p.pending_length) {
    // A keyword that takes no name after an unknown word (`start mov eax,1`).
    Diag.Stop_Flag += 1;
    Error_Text("Unknown Instruction or statement: ", p.pending_name, p.pending_length);
  }
  // Cleared part by part: small blocks become a few vector stores, where one
  // assignment of the whole record becomes a slow string instruction.
  p.saved_mode = 0;
  p.pending_name = nullptr;
  p.pending_length = 0;
  p.mem = Mem_Expr{};
  p.flags = Params_Context::Flags{};
  p.op[0] = Operand_Record{};
  p.op[1] = Operand_Record{};
  p.op[2] = Operand_Record{};
  p.spare[0] = p.spare[1] = 0;
  p.error_mark = Diag.Error_Count;
  Expr.Expr_Relocatable = 0;
  Symbols.Equ_Last_Created = -1;
  Sections.Statement_Section = -1;
  Text_Equ_Current_Reset();
}

void Params_Push() {
  Operand_State& o = Operands;
  if (o.Params_Depth >= Params_Stack_Depth) {
    Error_Msg("PARAMS, context stack limit");
    Diag.Stop_Flag += 1;
    return;
  }
  o.Params_Stack[o.Params_Depth] = Params;
  o.Params_Depth += 1;
  if (o.Params_Depth >= Params_Stack_Depth - 1) Error_Msg("PARAMS, context stack limit");
}

void Params_Pop() {
  Operand_State& o = Operands;
  if (o.Params_Depth == 0) return;
  o.Params_Depth -= 1;
  Params = o.Params_Stack[o.Params_Depth];
}

namespace {

// Registers above 7 (and the 64-bit general registers) exist only in 64-bit code.
bool Register_Allowed(const char* text, uint32_t length, uint32_t number, uint32_t size, uint32_t reg_class) {
  if (Parser.Code_Mode == Code_64) return true;
  bool high = number > 7;
  bool wide = reg_class == Reg_General && size == 64;
  if (reg_class == Reg_Control && size == 64) high = true;  // cr8
  if (!high && !wide) return true;
  Error_Text("Register can not be used in this mode: ", text, length);
  return false;
}

void Set_Imm(Operand_Record* r, uint64_t value, uint32_t size, uint32_t relocatable) {
  r->kind = Op_Imm;
  r->value = value;
  r->size = size;
  r->relocatable = relocatable;
  r->target_section = Sections.Reloc_Target_Section;
}

void Set_Mem(Operand_Record* r, uint32_t kind, uint64_t value, uint32_t size, uint32_t relocatable) {
  r->kind = kind;
  r->value = value;
  r->size = size;
  r->relocatable = relocatable;
  r->target_section = Sections.Reloc_Target_Section;
}

// Steps shared by the immediate-operand parsers: symbols, modifiers, values.
// Returns 0/1/-1 as the parsers do, or 2 when nothing matched.
int Operand_Symbols(const char* text, uint32_t length, Operand_Record* r, bool allow_real) {
  uint64_t value = 0;
  if (Equ_Find(text, length, &value) >= 0) {
    Set_Imm(r, value, 0, 0);
    return 0;
  }
  Label_Hit hit;
  if (Label_Find_Any(text, length, 0, &hit) >= 0) {
    Set_Imm(r, hit.address, hit.data_type, 1);
    return 0;
  }
  uint32_t address = 0, section = 0, offset = 0, type = 0, size = 0;
  if (Local_Label_Value(text, length, &address, &section)) {
    Sections.Reloc_Target_Section = section;
    Set_Imm(r, address, 0, 1);
    return 0;
  }
  if (Struc_Member_Of_Name(text, length, &offset, &type)) {
    Set_Imm(r, offset, 0, 0);
    return 0;
  }
  if (Proc_Address(text, length, &address, &section)) {
    Sections.Reloc_Target_Section = section;
    Set_Imm(r, address, 0, 1);
    return 0;
  }
  if (Struc_Size_Of_Name(text, length, &size)) {
    Set_Imm(r, size, 0, 0);
    return 0;
  }
  if (Run_Modifier(text, length)) return 1;
  Eval_Result e = Eval_Value(text, length);
  if (e.status == 0) {
    Set_Imm(r, e.value, 0, Expr.Expr_Relocatable);
    r->reloc_kind = Expr.Expr_Reloc_Kind;
    return 0;
  }
  if (allow_real) {
    uint8_t bits[4];
    const int status = Real_Item_Value(text, length, 32, bits);
    if (status != -1) {
      if (status != 0) Error_Text("Value too big: ", text, length);
      uint32_t v = static_cast<uint32_t>(bits[0]) | static_cast<uint32_t>(bits[1]) << 8 |
                   static_cast<uint32_t>(bits[2]) << 16 | static_cast<uint32_t>(bits[3]) << 24;
      Set_Imm(r, v, 32, 0);
      return 0;
    }
  }
  if (Macro_Start_Call_From_Operand(text, length)) return 1;
  if (Pass.Pass_Number == 1) {
    Set_Imm(r, 0, 0, 0);
    r->unknown = 1;
    return 0;
  }
  Error_Text("Unknown parameter: ", text, length);
  return -1;
}

}  // namespace

int Parse_Operand(const char* text, uint32_t length, Operand_Record* r) {
  uint64_t number = 0;
  if (Operand_Plain_Number(text, length, &number)) {
    // A plain number: no register, name or modifier starts with a digit, so
    // the lookups of Operand_Symbols all fail and its evaluation, a plain
    // number's value, decides.
    Expr.Expr_Relocatable = 0;
    Expr.Expr_Reloc_Kind = 0;
    Set_Imm(r, number, 0, 0);
    r->reloc_kind = 0;
    return 0;
  }
  Register_Hit reg;
  if (Register_Find(text, length, &reg) == 0) {
    uint32_t kind = Kind_Of_Register_Class(reg.reg_class);
    if (kind == Op_None) {
      Error_Text("Unhandled register type: ", text, length);
      return -1;
    }
    r->kind = kind;
    r->size = reg.size;
    r->value = reg.number;
    Register_Allowed(text, length, reg.number, reg.size, reg.reg_class);
    return 0;
  }
  return Operand_Symbols(text, length, r, true);
}

int Parse_Reg_Param1(const char* text, uint32_t length) {
  Operand_Record* r = &Params.op[0];
  Register_Hit reg;
  if (Register_Find(text, length, &reg) == 0) {
    uint32_t kind = Kind_Of_Register_Class(reg.reg_class);
    r->kind = kind == Op_None ? Op_Reg : kind;
    r->size = reg.size;
    r->value = reg.number;
    Register_Allowed(text, length, reg.number, reg.size, reg.reg_class);
    return 0;
  }
  if (Run_Modifier(text, length)) return 1;
  if (Macro_Start_Call_From_Operand(text, length)) return 1;
  if (Pass.Pass_Number == 1) {
    r->kind = Op_Reg;
    r->value = 0;
    r->size = 32;
    r->unknown = 1;
    return 0;
  }
  Error_Text("Unknown parameter: ", text, length);
  return -1;
}

int Parse_Param2(const char* text, uint32_t length) {
  Operand_Record* r = &Params.op[1];
  Reg_Size_Hit reg;
  if (Reg_Size(text, length, &reg) == 0) {
    r->kind = Op_Reg;
    r->size = reg.size;
    r->value = reg.number;
    Register_Allowed(text, length, reg.number, reg.size, Reg_General);
    return 0;
  }
  return Operand_Symbols(text, length, r, false);
}

namespace {

enum class Mem_Flavor { Generic, Param1, Param2 };

bool Is_Name_Char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}
bool Is_Digit(char c) { return c >= '0' && c <= '9'; }
bool Short_Literal(const char* t, uint32_t n) { return Expr_Short_Literal(t, n); }

// The register words Operand_Plain_Registers found in the text it accepted
// last, for the ModRM_Parse of the same text that follows it: the words are
// looked up once.
struct Plain_Register_Words {
  const char* text = nullptr;
  uint32_t length = 0;
  uint32_t count = 0;
  struct Word {
    const char* p;
    uint32_t n;
    Reg_Size_Hit hit;
  } word[8];
} Plain_Words;

bool Is_General_Register(const char* t, uint32_t n) {
  Reg_Size_Hit hit;
  if (Reg_Size(t, n, &hit) != 0) return false;
  Plain_Register_Words& w = Plain_Words;
  if (w.count < 8) w.word[w.count++] = {t, n, hit};
  return true;
}

// Reg_Size, answered from Plain_Words while ModRM_Parse reads the text that
// Operand_Plain_Registers accepted just before (`hinted`).
int Term_Reg_Size(bool hinted, const char* t, uint32_t n, Reg_Size_Hit* hit) {
  for (uint32_t i = 0; hinted && i < Plain_Words.count; ++i)
    if (Plain_Words.word[i].p == t && Plain_Words.word[i].n == n) {
      *hit = Plain_Words.word[i].hit;
      return 0;
    }
  return Reg_Size(t, n, hit);
}

// reg*k or k*reg with a number of at most three digits.
bool Scaled_Register(const char* t, uint32_t n, uint32_t star) {
  const char* a = t;
  uint32_t an = star;
  const char* b = t + star + 1;
  uint32_t bn = n - star - 1;
  auto small = [](const char* s, uint32_t k) { return k >= 1 && k <= 3 && Is_Digit(s[0]) && Short_Literal(s, k); };
  return (small(b, bn) && Is_General_Register(a, an)) || (small(a, an) && Is_General_Register(b, bn));
}

}  // namespace

// Terms joined by + and - (the usual [base+index*scale+disp]), with at least
// one register; the numbers are short literals, which report nothing.
bool Operand_Plain_Registers(const char* t, uint32_t n) {
  Plain_Words.count = 0;
  Plain_Words.text = nullptr;
  if (!No_Odd_Names()) return false;
  bool reg = false;
  uint32_t pos = 0;
  while (pos < n) {
    uint32_t start = pos, star = 0, stars = 0;
    while (pos < n && t[pos] != '+' && t[pos] != '-') {
      if (t[pos] == '*') {
        star = pos - start;
        stars += 1;
      } else if (!Is_Name_Char(t[pos])) {
        return false;
      }
      ++pos;
    }
    const char* term = t + start;
    uint32_t k = pos - start;
    if (k == 0 || stars > 1) return false;
    if (stars == 1) {
      if (!Scaled_Register(term, k, star)) return false;
      reg = true;
    } else if (Is_Digit(term[0])) {  // no register starts with a digit
      if (!Short_Literal(term, k)) return false;
    } else if (Is_General_Register(term, k)) {
      reg = true;
    } else {
      return false;
    }
    if (pos < n) ++pos;  // the operator
    if (pos == n && (t[n - 1] == '+' || t[n - 1] == '-')) return false;
  }
  if (!reg) return false;
  Plain_Words.text = t;
  Plain_Words.length = n;
  // What the failed evaluation of the whole text would leave behind.
  Expr.Expr_Relocatable = 0;
  Expr.Expr_Reloc_Kind = 0;
  return true;
}

bool Operand_Plain_Number(const char* text, uint32_t length, uint64_t* value) {
  return No_Odd_Names() && Expr_Short_Literal(text, length, value);
}

namespace {

int Mem_Complex(Operand_Record* r) {
  const Mem_Expr& m = Params.mem;
  Set_Mem(r, Op_Mem_Complex, m.disp, m.implied_size, m.relocatable);
  if (m.section >= 0) r->target_section = static_cast<uint32_t>(m.section);
  return 0;
}

int Parse_Mem(const char* text, uint32_t length, Operand_Record* r, Mem_Flavor flavor) {
  if (length < 2) {
    Error_Text("Empty or orphan brackets? : ", text, length);
    return -1;
  }
  const char* inner = text + 1;
  uint32_t inner_length = length - 2;
  if (inner_length >= 1024) {
    Error_Msg("Parameter in [] is too big: ");
    return -1;
  }
  if (inner_length == 0) {
    Error_Text("Empty or orphan brackets? : ", text, length);
    return -1;
  }
  Stripped_Text s = Expr_Strip_Blanks(inner, inner_length);
  if (s.length == 0) {
    Error_Text("Empty or orphan brackets? : ", text, length);
    return -1;
  }

  if (flavor == Mem_Flavor::Generic) {
    Register_Hit reg;
    if (Register_Find(s.text, s.length, &reg) == 0) {
      if (reg.reg_class != Reg_General) {
        Error_Text("Can not use in [] : ", text, length);
        return -1;
      }
      Set_Mem(r, Op_Mem_Reg, reg.number, reg.size, 0);
      Register_Allowed(s.text, s.length, reg.number, reg.size, reg.reg_class);
      return 0;
    }
  } else {
    Reg_Size_Hit reg;
    if (Reg_Size(s.text, s.length, &reg) == 0) {
      Set_Mem(r, Op_Mem_Reg, reg.number, reg.size, 0);
      Register_Allowed(s.text, s.length, reg.number, reg.size, Reg_General);
      return 0;
    }
  }

  if (!Operand_Plain_Registers(s.text, s.length)) {
    uint32_t frame = 0, size = 0;
    if (Proc_Local_Find(s.text, s.length, &frame, &size)) {
      Set_Mem(r, Op_Local, frame, size, 0);
      return 0;
    }
    if (Proc_Arg_Find(s.text, s.length, &frame, &size)) {
      Set_Mem(r, Op_Arg, frame, size, 0);
      return 0;
    }
    Label_Hit hit;
    if (Label_Find_Any(s.text, s.length, 0, &hit) >= 0) {
      Set_Mem(r, Op_Mem_Direct, hit.address, hit.data_type, 1);
      return 0;
    }
    uint64_t value = 0;
    if (flavor == Mem_Flavor::Param1 && Equ_Find(s.text, s.length, &value) >= 0) {
      Set_Mem(r, Op_Mem_Direct, value, 0, 0);
      return 0;
    }
    Eval_Result e = Eval_Value(s.text, s.length);
    if (e.status == 0) {
      Set_Mem(r, Op_Mem_Direct, e.value, 0, Expr.Expr_Relocatable);
      r->reloc_kind = Expr.Expr_Reloc_Kind;
      return 0;
    }
    if (flavor == Mem_Flavor::Param2 && Macro_Start_Call_From_Operand(s.text, s.length)) return 1;
  }
  if (ModRM_Parse(s.text, s.length) == 0) return Mem_Complex(r);
  if (Diag.Stop_Flag) return -1;
  if (flavor != Mem_Flavor::Param2 && Macro_Start_Call_From_Operand(s.text, s.length)) return 1;
  if (Pass.Pass_Number == 1) {
    Set_Mem(r, Op_Mem_Direct, 0, 32, 1);
    r->unknown = 1;
    return 0;
  }
  Error_Text("Unknown parameter: ", text, length);
  return -1;
}

}  // namespace

int Parse_Operand_Mem(const char* text, uint32_t length, Operand_Record* r) {
  return Parse_Mem(text, length, r, Mem_Flavor::Generic);
}
int Parse_Mem_Param1(const char* text, uint32_t length) {
  return Parse_Mem(text, length, &Params.op[0], Mem_Flavor::Param1);
}
int Parse_Mem_Param2(const char* text, uint32_t length) {
  return Parse_Mem(text, length, &Params.op[1], Mem_Flavor::Param2);
}

int Parse_Modifier_Or_Macro(const char* text, uint32_t length) {
  if (Run_Modifier(text, length)) return 1;
  if (Macro_Start_Call_From_Operand(text, length)) return 1;
  Error_Text("Unknown parameter: ", text, length);
  return -1;
}

int Mini_String(const char* text, uint32_t length, Operand_Record* r) {
  uint32_t n = length >= 2 ? length - 2 : 0;
  if (n == 0) {
    Error_Text("Mini string is empty: ", text, length);
    return -1;
  }
  if (n > 8) {
    Error_Text("Mini string is too big: ", text, length);
    return -1;
  }
  const char* s = text + 1;
  uint64_t v = 0;
  if (Params.flags.swap) {
    for (uint32_t i = n; i-- > 0;) v = (v << 8) | static_cast<uint8_t>(s[i]);
  } else {
    for (uint32_t i = 0; i < n; ++i) v = (v << 8) | static_cast<uint8_t>(s[i]);
  }
  r->kind = Op_Imm;
  r->value = v;
  r->size = n <= 4 ? 32 : 64;
  r->relocatable = 0;
  return 0;
}

// ---- [base+index*scale+disp] ------------------------------------------------------

namespace {
int ModRM_Parse_Terms(const char* text, uint32_t length, bool hinted);
}  // namespace

int ModRM_Parse(const char* text, uint32_t length) {
  // The register words found by Operand_Plain_Registers serve this one parse.
  const bool hinted = Plain_Words.text == text && Plain_Words.length == length;
  Plain_Words.text = nullptr;
  const int result = ModRM_Parse_Terms(text, length, hinted);
  Plain_Words.count = 0;
  return result;
}

namespace {

// The addresses of a displacement, counted by section (+1 added, -1
// subtracted), and what they leave for the relocation.
struct Disp_Addresses {
  static constexpr uint32_t Slots = 4;  // more sections than this are refused
  uint32_t section[Slots];
  int32_t count[Slots];
  uint32_t used = 0;
  bool refused = false;  // a part that no relocation can hold

  void Add(uint32_t s, bool minus) {
    if (s == Section_Unrelocatable) refused = true;
    for (uint32_t i = 0; i < used; ++i) {
      if (section[i] == s) {
        count[i] += minus ? -1 : 1;
        return;
      }
    }
    if (used == Slots) {
      refused = true;
      return;
    }
    section[used] = s;
    count[used++] = minus ? -1 : 1;
  }

  // One section left with +1 is relocated against it; a difference of two
  // labels of one section is a number. A label less one of the field's own
  // section is a distance from the field in COFF and ELF objects, which the
  // [base+disp32] emitter stores for a pc-relative relocation. The rest is
  // the output format's (Address_Mix_Of).
  void Settle(Mem_Expr& m) const {
    if (used == 0) return;
    m.section = static_cast<int32_t>(section[0]);
    uint32_t nonzero = 0, plus = 0, minus = 0;
    int32_t net = 0;
    for (uint32_t i = 0; i < used; ++i) {
      net += count[i];
      if (count[i] == 0) continue;
      nonzero += 1;
      if (count[i] == 1) plus = i;
      if (count[i] == -1) minus = i;
    }
    m.relocatable = 1;
    if (!refused && nonzero == 1 && count[plus] == 1) {
      m.section = static_cast<int32_t>(section[plus]);
      return;
    }
    const uint32_t f = Options.Output_Format;
    if (!refused && nonzero == 2 && count[plus] == 1 && count[minus] == -1 &&
        section[minus] == Sections.Current_Section && section[plus] < Max_Sections &&
        (f == Format_COFF32 || f == Format_COFF64 || f == Format_ELF32 || f == Format_ELF64)) {
      m.section = static_cast<int32_t>(section[plus]);
      m.two_sections = 1;
      return;
    }
    if (!refused && nonzero == 0) {
      m.relocatable = 0;
      return;
    }
    switch (refused ? Address_Mix::Refused : Address_Mix_Of(net, false)) {
      case Address_Mix::Constant: m.relocatable = 0; return;
      case Address_Mix::Address: return;
      case Address_Mix::Refused: m.section = static_cast<int32_t>(Section_Unrelocatable); return;
    }
  }
};

int ModRM_Parse_Terms(const char* text, uint32_t length, bool hinted) {
  Mem_Expr& m = Params.mem;
  m = Mem_Expr{};
  m.section = -1;
  uint32_t registers = 0;
  Disp_Addresses addresses;

  uint32_t pos = 0;
  bool minus = false;
  while (pos <= length) {
    // one term: up to the next '+' or '-'
    uint32_t start = pos;
    while (pos < length && text[pos] != '+' && text[pos] != '-') ++pos;
    const char* term = text + start;
    uint32_t n = pos - start;
    bool last = pos >= length;
    if (n == 0) return -1;  // two operators in a row, or a leading/trailing one

    uint32_t star = 0;
    while (star < n && term[star] != '*') ++star;

    Reg_Size_Hit reg;
    Label_Hit hit;
    uint64_t literal = 0;
    if (star == n && No_Odd_Names() && Is_Digit(term[0]) && Expr_Short_Literal(term, n, &literal)) {
      // A plain number: no register or name starts with a digit, so only its
      // evaluation below would take it (and only as the last term).
      if (!last) return -1;
      Expr.Expr_Relocatable = 0;
      Expr.Expr_Reloc_Kind = 0;
      m.disp_present = 1;
      m.disp = minus ? m.disp - static_cast<uint32_t>(literal) : m.disp + static_cast<uint32_t>(literal);
      m.disp_wide = minus ? m.disp_wide - literal : m.disp_wide + literal;
    } else if (star < n) {
      // index*scale, scale*index, or a constant product such as 4*2. A
      // register scaled by a number cannot evaluate while no user name is
      // spelled like a register: the evaluation is skipped then.
      Eval_Result whole =
          No_Odd_Names() && Scaled_Register(term, n, star) ? Eval_Result{-1, 0} : Eval_Value(term, n);
      if (whole.status == 0) {
        if (!last) return -1;
        m.disp_present = 1;
        m.disp = minus ? m.disp - static_cast<uint32_t>(whole.value) : m.disp + static_cast<uint32_t>(whole.value);
        m.disp_wide = minus ? m.disp_wide - whole.value : m.disp_wide + whole.value;
        if (Expr.Expr_Relocatable) addresses.Add(Sections.Reloc_Target_Section, minus);
      } else {
        const char* a = term;
        uint32_t an = star;
        const char* b = term + star + 1;
        uint32_t bn = n - star - 1;
        Reg_Size_Hit idx;
        const char* factor;
        uint32_t factor_length;
        if (Term_Reg_Size(hinted, a, an, &idx) == 0) {
          factor = b;
          factor_length = bn;
        } else if (Term_Reg_Size(hinted, b, bn, &idx) == 0) {
          factor = a;
          factor_length = an;
        } else {
          return -1;
        }
        if (minus) {
          Error_Text("ModRM, can not have minus and register: ", term, n);
          return -1;
        }
        if (m.index_present) {
          Error_Text("ModRM, too many index registers: ", text, length);
          return -1;
        }
        Eval_Result f = Eval_Value(factor, factor_length);
        if (f.status != 0) return -1;
        if (!Register_Allowed(term, n, idx.number, idx.size, Reg_General)) return -1;
        m.index_present = 1;
        m.index = idx.number;
        m.index_size = idx.size;
        m.scale_present = 1;
        m.scale = static_cast<uint32_t>(f.value);
        registers += 1;
      }
    } else if (Term_Reg_Size(hinted, term, n, &reg) == 0) {
      if (minus) {
        Error_Text("ModRM, can not have minus and register: ", term, n);
        return -1;
      }
      if (!Register_Allowed(term, n, reg.number, reg.size, Reg_General)) return -1;
      if (!m.base_present) {
        m.base_present = 1;
        m.base = reg.number;
        m.base_size = reg.size;
      } else if (!m.index_present) {
        m.index_present = 1;
        m.index = reg.number;
        m.index_size = reg.size;
      } else {
        Error_Text("ModRM, too many registers: ", term, n);
        return -1;
      }
      registers += 1;
    } else if (Label_Find_Any(term, n, 0, &hit) >= 0) {
      m.disp_present = 1;
      m.disp = minus ? m.disp - hit.address : m.disp + hit.address;
      m.disp_wide = minus ? m.disp_wide - hit.address : m.disp_wide + hit.address;
      m.implied_size = hit.data_type;
      addresses.Add(Sections.Reloc_Target_Section, minus);
    } else if (!last) {
      return -1;
    } else {
      uint32_t offset = 0, type = 0, size = 0;
      if (Struc_Member_Of_Name(term, n, &offset, &type)) {
        m.disp_present = 1;
        m.disp = minus ? m.disp - offset : m.disp + offset;
        m.disp_wide = minus ? m.disp_wide - offset : m.disp_wide + offset;
        m.implied_size = type;
      } else if (Struc_Size_Of_Name(term, n, &size)) {
        m.disp_present = 1;
        m.disp = minus ? m.disp - size : m.disp + size;
        m.disp_wide = minus ? m.disp_wide - size : m.disp_wide + size;
      } else {
        Eval_Result e = Eval_Value(term, n);
        if (e.status != 0) return -1;
        m.disp_present = 1;
        m.disp = minus ? m.disp - static_cast<uint32_t>(e.value) : m.disp + static_cast<uint32_t>(e.value);
        m.disp_wide = minus ? m.disp_wide - e.value : m.disp_wide + e.value;
        if (Expr.Expr_Relocatable) addresses.Add(Sections.Reloc_Target_Section, minus);
      }
    }
    if (last) break;
    minus = text[pos] == '-';
    ++pos;
    if (pos >= length) return -1;  // a trailing operator
  }

  addresses.Settle(m);
  m.term_count = m.base_present + m.index_present + m.disp_present;
  if (m.term_count < 2) return -1;
  if (m.index_present && m.index == 4) {
    Error_Text("ModRM, invalid index register: ", text, length);
    return -1;
  }
  if (m.scale_present && !m.index_present) {
    Error_Text("ModRM, scale with no index found: ", text, length);
    return -1;
  }
  if (m.scale_present && m.scale != 1 && m.scale != 2 && m.scale != 4 && m.scale != 8) {
    Error_Text("ModRM, invalid scale value: ", text, length);
    return -1;
  }
  (void)registers;
  return 0;
}

}  // namespace
