// x87 one-operand instructions as rows over the encoding layer.
//
// The operand is a stack register st0..st7, or one bracketed memory operand
// that may be preceded by operand-modifier words (sizes, segment overrides).
// The memory forms choose opcode and ModRM digit by size: first the size
// keywords in the row's order, then the operand's own size; prefixes (67h,
// REX.B/X) come from the encoding layer. REX.W is never written.
#include "encode_ext/x87.h"

#include "core/assemble.h"
#include "core/diag.h"
#include "core/expr.h"
#include "core/keywords.h"
#include "core/operands.h"
#include "encode/modrm.h"
#include "output/sections.h"

X87_State X87;

namespace {

// How the memory forms choose their size.
enum Fpu_Select : uint8_t {
  Sel_Load,     // loads, stores, fadd, fiadd: a size error in every pass
  Sel_Real,     // shared real arithmetic: [direct] and [complex] size errors from pass 2
  Sel_Int,      // shared integer arithmetic: as Sel_Real, and qword/byte refused first
  Sel_Control,  // fnstcw, fldcw: one 16-bit form
};

// Which words other than a stack register the operand position accepts.
enum Fpu_Words : uint8_t {
  Words_Modifier,  // operand-modifier keywords
  Words_Macro,     // operand-modifier keywords or a macro call ("Unknown parameter: " otherwise)
  Words_None,
};

struct Fpu_Form {
  uint8_t size;  // bits: 16, 32, 64 or 80; 0 = no form
  uint8_t opcode;
  uint8_t digit;
};

struct Fpu_Row {
  uint8_t st_escape;  // 0: no ST(i) form
  uint8_t st_base;
  Fpu_Words words;
  bool brackets;
  bool st1_default;  // fsubp: any other word is ST(1), reported from pass 2
  Fpu_Select select;
  Fpu_Form forms[3];  // in the order the size keywords are tried
  const char* word_msg;  // with the refused word; nullptr: nothing more is said
  const char* kind_msg;
  const char* size_msg;
};

constexpr const char* Fpu_Type = "FPU, wrong parameter type: ";
constexpr const char* Fpu_Size = "FPU, wrong parameter size ";

// fcmovcc takes its two bytes from X87.Fcmovcc_Opcode.
constexpr uint8_t St_From_Keyword = 0xFF;

// Indexed by Parser_Mode - Mode_Fld.
const Fpu_Row Rows[] = {
    // fld
    {0xD9, 0xC0, Words_Modifier, true, false, Sel_Load, {{32, 0xD9, 0}, {64, 0xDD, 0}, {80, 0xDB, 5}},
     "FLD, unknown symbol: ", "FLD, wrong parameter type", "FLD, wrong parameter size"},
    // fild
    {0, 0, Words_Modifier, true, false, Sel_Load, {{16, 0xDF, 0}, {32, 0xDB, 0}, {64, 0xDF, 5}},
     "FILD, wrong parameter type", "FILD, wrong parameter type", "FILD, wrong parameter size"},
    // fst
    {0xDD, 0xD0, Words_Modifier, true, false, Sel_Load, {{32, 0xD9, 2}, {64, 0xDD, 2}, {0, 0, 0}},
     "FST, wrong parameter type", "FST, wrong parameter type", "FST, wrong parameter size"},
    // fstp
    {0xDD, 0xD8, Words_Macro, true, false, Sel_Load, {{32, 0xD9, 3}, {64, 0xDD, 3}, {80, 0xDB, 7}},
     "FSTP, unknown symbol: ", "FSTP, wrong parameter type", "FSTP, wrong parameter size"},
    // fistp
    {0, 0, Words_Macro, true, false, Sel_Load, {{16, 0xDF, 3}, {32, 0xDB, 3}, {64, 0xDF, 7}},
     "FISTP, unknown symbol: ", "FISTP, wrong parameter type", "FISTP, wrong parameter size"},
    // fisttp
    {0, 0, Words_Macro, true, false, Sel_Load, {{16, 0xDF, 1}, {32, 0xDB, 1}, {64, 0xDD, 1}},
     nullptr, "FISTTP, wrong parameter type", "FISTTP, wrong parameter size"},
    // fadd
    {0xD8, 0xC0, Words_Modifier, true, false, Sel_Load, {{32, 0xD8, 0}, {64, 0xDC, 0}, {0, 0, 0}},
     "FADD, wrong parameter type", "FADD, wrong parameter type", "FADD, wrong parameter size"},
    // faddp
    {0xDE, 0xC0, Words_Modifier, false, false, Sel_Load, {}, "FADDP, wrong parameter type", nullptr, nullptr},
    // fiadd
    {0, 0, Words_Modifier, true, false, Sel_Load, {{16, 0xDE, 0}, {32, 0xDA, 0}, {0, 0, 0}},
     "FIADD, wrong parameter type", "FIADD, wrong parameter type", "FIADD, wrong parameter size"},
    // fsub
    {0xD8, 0xE0, Words_Modifier, true, false, Sel_Real, {{32, 0xD8, 4}, {64, 0xDC, 4}, {0, 0, 0}}, Fpu_Type,
     Fpu_Type, Fpu_Size},
    // fsubp
    {0xDE, 0xE8, Words_None, false, true, Sel_Load, {}, "FSUBP, unknown FPU register: ", nullptr, nullptr},
    // fisub
    {0, 0, Words_Modifier, true, false, Sel_Int, {{32, 0xDA, 4}, {16, 0xDE, 4}, {0, 0, 0}}, Fpu_Type, Fpu_Type,
     Fpu_Size},
    // fmul
    {0xD8, 0xC8, Words_Modifier, true, false, Sel_Real, {{32, 0xD8, 1}, {64, 0xDC, 1}, {0, 0, 0}}, Fpu_Type,
     Fpu_Type, Fpu_Size},
    // fmulp
    {0xDE, 0xC8, Words_None, false, false, Sel_Load, {}, "FMULP, unknown symbol: ", nullptr, nullptr},
    // fimul
    {0, 0, Words_Modifier, true, false, Sel_Int, {{32, 0xDA, 1}, {16, 0xDE, 1}, {0, 0, 0}}, Fpu_Type, Fpu_Type,
     Fpu_Size},
    // fdiv
    {0xD8, 0xF0, Words_Modifier, true, false, Sel_Real, {{32, 0xD8, 6}, {64, 0xDC, 6}, {0, 0, 0}}, Fpu_Type,
     Fpu_Type, Fpu_Size},
    // fdivp
    {0xDE, 0xF8, Words_None, false, false, Sel_Load, {}, "FDIVP, unknown FPU register: ", nullptr, nullptr},
    // fidiv
    {0, 0, Words_Modifier, true, false, Sel_Int, {{32, 0xDA, 6}, {16, 0xDE, 6}, {0, 0, 0}}, Fpu_Type, Fpu_Type,
     Fpu_Size},
    // fcom
    {0xD8, 0xD0, Words_Modifier, true, false, Sel_Real, {{32, 0xD8, 2}, {64, 0xDC, 2}, {0, 0, 0}},
     "FCOM, unknown FPU register: ", Fpu_Type, Fpu_Size},
    // fcomp
    {0xD8, 0xD8, Words_Modifier, true, false, Sel_Real, {{32, 0xD8, 3}, {64, 0xDC, 3}, {0, 0, 0}}, Fpu_Type,
     Fpu_Type, Fpu_Size},
    // fucom
    {0xDD, 0xE0, Words_None, false, false, Sel_Load, {}, "FUCOM, unknown FPU register: ", nullptr, nullptr},
    // fucomp
    {0xDD, 0xE8, Words_None, false, false, Sel_Load, {}, Fpu_Type, nullptr, nullptr},
    // ffree
    {0xDD, 0xC0, Words_None, false, false, Sel_Load, {}, "FFREE, unknown symbol: ", nullptr, nullptr},
    // fcmovcc
    {St_From_Keyword, 0, Words_Modifier, false, false, Sel_Load, {}, "FCMOVcc, unknown FPU register:", nullptr,
     nullptr},
    // fnstcw
    {0, 0, Words_Modifier, true, false, Sel_Control, {{16, 0xD9, 7}, {0, 0, 0}, {0, 0, 0}}, Fpu_Type,
     "FSTCW, wrong parameter type ", "FSTCW, wrong parameter size "},
    // fldcw
    {0, 0, Words_Modifier, true, false, Sel_Control, {{16, 0xD9, 5}, {0, 0, 0}, {0, 0, 0}}, Fpu_Type,
     "FLDCW, wrong parameter type ", "FLDCW, wrong parameter size "},
};
constexpr uint32_t Row_Count = sizeof(Rows) / sizeof(Rows[0]);
static_assert(Row_Count == Mode_Fldcw - Mode_Fld + 1);

const Fpu_Row& Row_Of_Mode() { return Rows[Parser.Parser_Mode - Mode_Fld]; }

void Begin(uint32_t mode) {
  Params_Reset();
  Parser.Parser_Mode = mode;
}

void Emit_Fpu_St(const Fpu_Row& row, uint32_t index) {
  if (row.st_escape == St_From_Keyword) {
    Emit_Byte(static_cast<uint8_t>(X87.Fcmovcc_Opcode[0]));
    Emit_Byte(static_cast<uint8_t>(X87.Fcmovcc_Opcode[1] | (index & 7)));
    return;
  }
  Emit_Byte(row.st_escape);
  Emit_Byte(static_cast<uint8_t>(row.st_base + (index & 7)));
}

bool Any_Size_Keyword() {
  const auto& f = Params.flags;
  return f.byte_ || f.word || f.dword || f.qword || f.tbyte;
}

bool Keyword_Names(uint32_t size) { return size == 80 ? Params.flags.tbyte != 0 : Keyword_Names_Size(size); }

// The form that the keywords or the operand's size choose. Without one, the
// size message goes out and the 32-bit form (the one a pass-1 forward label
// takes) is written, so that lengths do not move within the pass.
const Fpu_Form& Select_Form(const Fpu_Row& row, const Operand_Record& r) {
  const bool keyword = Any_Size_Keyword();
  if (row.select == Sel_Int && r.kind != Op_Mem_Complex && (Params.flags.qword || Params.flags.byte_))
    Error_Msg(Fpu_Size);
  for (const Fpu_Form& f : row.forms)
    if (f.size && Keyword_Names(f.size)) return f;
  if (!keyword) {
    uint32_t size = 0;
    if (r.kind == Op_Mem_Complex) size = Params.mem.implied_size;
    else if (r.kind != Op_Mem_Reg) size = r.size;
    // The control word has one size: an operand that implies none needs no word.
    if (row.select == Sel_Control && size == 0) return row.forms[0];
    for (const Fpu_Form& f : row.forms)
      if (f.size && f.size == size) return f;
  }
  const bool from_pass_2 = row.select != Sel_Load && (r.kind == Op_Mem_Direct || r.kind == Op_Mem_Complex);
  if (from_pass_2) Error_Final(row.size_msg);
  else Error_Msg(row.size_msg);
  for (const Fpu_Form& f : row.forms)
    if (f.size == 32) return f;
  return row.forms[0];
}

void Fpu_Mem(const Fpu_Row& row) {
  const Operand_Record& r = Params.op[0];
  if (!Is_Memory_Kind(r.kind)) {
    Error_Msg(row.kind_msg);
    return;
  }
  if (!Code_Mode_Known()) return;
  if (r.kind == Op_Mem_Reg && Mode() == Code_64 && r.size != 32 && r.size != 64) {
    Error_Msg(row.select == Sel_Int ? Fpu_Type : "invalid address size");
    return;
  }
  const Fpu_Form& f = Select_Form(row, r);
  const Mem_Operand m = Mem_Operand_Of(r);
  Inst_Head h;
  Head_Opcode(h, f.opcode);
  Emit_Mem_Form(h, m, f.digit, 0);
}

void Fpu_Operand(const char* text, uint32_t length) {
  const Fpu_Row& row = Row_Of_Mode();
  if (row.st_escape && Reg_Is_Fpu(text, length) >= 0) {
    Parser.Parser_Mode = 0;
    Emit_Fpu_St(row, static_cast<uint32_t>(text[2] - '0'));
    return;
  }
  if (row.words == Words_Modifier && Run_Modifier(text, length)) return;
  if (row.words == Words_Macro && Parse_Modifier_Or_Macro(text, length) == 1) return;
  Parser.Parser_Mode = 0;
  if (row.st1_default) {
    Emit_Fpu_St(row, 1);
    if (Pass.Pass_Number > 1) Error_Text(row.word_msg, text, length);
    return;
  }
  if (row.word_msg) Error_Text(row.word_msg, text, length);
}

void Fpu_Operand_Mem(const char* text, uint32_t length) {
  const Fpu_Row& row = Row_Of_Mode();
  if (Parse_Operand_Mem(text, length, &Params.op[0]) == 1) return;
  Parser.Parser_Mode = 0;
  Fpu_Mem(row);
}

}  // namespace

void Inst_Fld(const Keyword_Entry*) { Begin(Mode_Fld); }
void Inst_Fild(const Keyword_Entry*) { Begin(Mode_Fild); }
void Inst_Fst(const Keyword_Entry*) { Begin(Mode_Fst); }
void Inst_Fstp(const Keyword_Entry*) { Begin(Mode_Fstp); }
void Inst_Fistp(const Keyword_Entry*) { Begin(Mode_Fistp); }
void Inst_Fisttp(const Keyword_Entry*) { Begin(Mode_Fisttp); }
void Inst_Fadd(const Keyword_Entry*) { Begin(Mode_Fadd); }
void Inst_Faddp(const Keyword_Entry*) { Begin(Mode_Faddp); }
void Inst_Fiadd(const Keyword_Entry*) { Begin(Mode_Fiadd); }
void Inst_Fsub(const Keyword_Entry*) { Begin(Mode_Fsub); }
void Inst_Fsubp(const Keyword_Entry*) { Begin(Mode_Fsubp); }
void Inst_Fisub(const Keyword_Entry*) { Begin(Mode_Fisub); }
void Inst_Fmul(const Keyword_Entry*) { Begin(Mode_Fmul); }
void Inst_Fmulp(const Keyword_Entry*) { Begin(Mode_Fmulp); }
void Inst_Fimul(const Keyword_Entry*) { Begin(Mode_Fimul); }
void Inst_Fdiv(const Keyword_Entry*) { Begin(Mode_Fdiv); }
void Inst_Fdivp(const Keyword_Entry*) { Begin(Mode_Fdivp); }
void Inst_Fidiv(const Keyword_Entry*) { Begin(Mode_Fidiv); }
void Inst_Fcom(const Keyword_Entry*) { Begin(Mode_Fcom); }
void Inst_Fcomp(const Keyword_Entry*) { Begin(Mode_Fcomp); }
void Inst_Fucom(const Keyword_Entry*) { Begin(Mode_Fucom); }
void Inst_Fucomp(const Keyword_Entry*) { Begin(Mode_Fucomp); }
void Inst_Ffree(const Keyword_Entry*) { Begin(Mode_Ffree); }
void Inst_Fnstcw(const Keyword_Entry*) { Begin(Mode_Fnstcw); }
void Inst_Fldcw(const Keyword_Entry*) { Begin(Mode_Fldcw); }

// The statement end before has cleared the operand area already.
void Inst_Fcmovcc(const Keyword_Entry* keyword) {
  X87.Fcmovcc_Opcode[0] = keyword->payload[0];
  X87.Fcmovcc_Opcode[1] = keyword->payload[1];
  Parser.Parser_Mode = Mode_Fcmovcc;
}

void Inst_Finit(const Keyword_Entry*) {
  Params_Reset();
  Emit_Byte(0x9B);
  Emit_Byte(0xDB);
  Emit_Byte(0xE3);
}

void Inst_Fninit(const Keyword_Entry*) {
  Params_Reset();
  Emit_Byte(0xDB);
  Emit_Byte(0xE3);
}

namespace {
#define X87_MODE(m) {m, Fpu_Operand}
const Mode_Handler Words[] = {
    X87_MODE(Mode_Fld),    X87_MODE(Mode_Fild),   X87_MODE(Mode_Fst),    X87_MODE(Mode_Fstp),
    X87_MODE(Mode_Fistp),  X87_MODE(Mode_Fisttp), X87_MODE(Mode_Fadd),   X87_MODE(Mode_Faddp),
    X87_MODE(Mode_Fiadd),  X87_MODE(Mode_Fsub),   X87_MODE(Mode_Fsubp),  X87_MODE(Mode_Fisub),
    X87_MODE(Mode_Fmul),   X87_MODE(Mode_Fmulp),  X87_MODE(Mode_Fimul),  X87_MODE(Mode_Fdiv),
    X87_MODE(Mode_Fdivp),  X87_MODE(Mode_Fidiv),  X87_MODE(Mode_Fcom),   X87_MODE(Mode_Fcomp),
    X87_MODE(Mode_Fucom),  X87_MODE(Mode_Fucomp), X87_MODE(Mode_Ffree),  X87_MODE(Mode_Fcmovcc),
    X87_MODE(Mode_Fnstcw), X87_MODE(Mode_Fldcw),
};
#undef X87_MODE
#define X87_MEM(m) {m, Fpu_Operand_Mem}
const Mode_Handler Brackets[] = {
    X87_MEM(Mode_Fld),   X87_MEM(Mode_Fild),  X87_MEM(Mode_Fst),   X87_MEM(Mode_Fstp),  X87_MEM(Mode_Fistp),
    X87_MEM(Mode_Fisttp), X87_MEM(Mode_Fadd), X87_MEM(Mode_Fiadd), X87_MEM(Mode_Fsub),  X87_MEM(Mode_Fisub),
    X87_MEM(Mode_Fmul),  X87_MEM(Mode_Fimul), X87_MEM(Mode_Fdiv),  X87_MEM(Mode_Fidiv), X87_MEM(Mode_Fcom),
    X87_MEM(Mode_Fcomp), X87_MEM(Mode_Fnstcw), X87_MEM(Mode_Fldcw),
};
#undef X87_MEM
}  // namespace

extern const Mode_Table X87_Mode_Table = {"x87",    Words, sizeof(Words) / sizeof(Words[0]),
                                          Brackets, sizeof(Brackets) / sizeof(Brackets[0]),
                                          nullptr,  0};
