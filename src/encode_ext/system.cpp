// System instructions on the encoding layer (encode/modrm.h): the layer
// writes 67h, 66h, the mandatory prefix, REX and the address in every code
// mode; the workers here only pick the opcode, the register field and the
// operand size.
#include "encode_ext/system.h"

#include "core/assemble.h"
#include "core/diag.h"
#include "core/expr.h"
#include "core/keywords.h"
#include "core/operands.h"
#include "core/symbols.h"
#include "directives/proc.h"
#include "encode/modrm.h"
#include "output/sections.h"

namespace {

constexpr const char* Msg_Address_Size = "Invalid address size";
constexpr const char* Msg_Invlpg_Address_Size = "invalid address size";

void Emit_Reg_ModRM(uint32_t reg_field, uint32_t rm) {
  Emit_Byte(static_cast<uint8_t>(0xC0u | (reg_field & 7) << 3 | (rm & 7)));
}

// [prefix] 0F second /digit; the 64-bit [register] form takes 32- and
// 64-bit bases only (`address_message` otherwise). A size keyword must name
// the register's size, or `mem_size` (0: any keyword) for memory.
void Encode_Digit_Form(int32_t prefix, uint32_t second, uint32_t digit, const char* address_message,
                       bool registers, uint32_t mem_size = 0) {
  if (!Code_Mode_Known()) return;
  const Operand_Record& r = Op1();
  Inst_Head h;
  Head_Opcode2(h, 0x0F, second);
  if (prefix >= 0) h.mandatory = static_cast<uint8_t>(prefix);
  if (r.kind == Op_Reg && registers) {
    if (Keyword_Contradicts(r.size)) return;
    Head_Reg(h, r.low(), r.size, Rex_B);
    Head_Emit(h);
    Emit_Reg_ModRM(digit, r.low());
    return;
  }
  if (!Is_Memory_Kind(r.kind)) {
    Error_Msg("Can not encode parameter");
    return;
  }
  if (Mode() == Code_64 && r.kind == Op_Mem_Reg && r.size != 32 && r.size != 64) {
    Error_Msg(address_message);
    return;
  }
  h.mem_size = static_cast<uint8_t>(mem_size);
  Emit_Mem_Form(h, Mem_Operand_Of(r), digit, 0);
}

void Start(uint32_t mode) {
  Params_Reset();
  Parser.Parser_Mode = mode;
}

// ---- ltr, str, stmxcsr and the VMX pointer instructions ----------------------------------

struct Digit_Mnemonic {
  uint32_t mode;
  int32_t prefix;
  uint32_t second, digit;
  uint32_t mem_size;         // the bits of a memory operand
  const char* word_message;  // a word operand: refused with this text
};

constexpr Digit_Mnemonic Digit_Mnemonics[] = {
    {Mode_Ltr_Param, -1, 0x00, 3, 16, "LTR, Invalid register size:"},
    {Mode_Str_Param, -1, 0x00, 1, 16, "STR, Invalid register size:"},
    {Mode_Stmxcsr_Param, -1, 0xAE, 3, 32, "STMXCSR, Can not encode:"},
    {Mode_Vmxon_Param, 0xF3, 0xC7, 6, 64, "VMXON, Can not encode:"},
    {Mode_Vmptrld_Param, -1, 0xC7, 6, 64, "VMPTRLD, Can not encode:"},
    {Mode_Vmptrst_Param, -1, 0xC7, 7, 64, "VMPTRST, Can not encode:"},
    {Mode_Vmclear_Param, 0x66, 0xC7, 6, 64, "VMCLEAR, Can not encode:"},
};

const Digit_Mnemonic& Current_Digit() {
  for (const Digit_Mnemonic& m : Digit_Mnemonics)
    if (m.mode == Parser.Parser_Mode) return m;
  return Digit_Mnemonics[0];
}

// ltr and str take a 16-bit general register; any other word is refused.
void Task_Register_Word(const char* text, uint32_t length) {
  const Digit_Mnemonic& m = Current_Digit();
  const int result = Parse_Operand(text, length, &Op1());
  if (result == 1) return;
  Parser.Parser_Mode = 0;
  if (result < 0) return;
  const Operand_Record& r = Op1();
  if (r.kind != Op_Reg || r.size != 16) {
    Error_Text(m.word_message, text, length);
    return;
  }
  Encode_Digit_Form(m.prefix, m.second, m.digit, Msg_Address_Size, true, m.mem_size);
}

// stmxcsr and VMX take memory only: a word may be an operand keyword or a
// macro call, anything else is refused.
void Memory_Only_Word(const char* text, uint32_t length) {
  const Digit_Mnemonic& m = Current_Digit();
  if (Parse_Modifier_Or_Macro(text, length) == 1) return;
  Error_Text(m.word_message, text, length);
  Parser.Parser_Mode = 0;
}

void Digit_Bracket(const char* text, uint32_t length) {
  const Digit_Mnemonic& m = Current_Digit();
  const int result = Parse_Operand_Mem(text, length, &Op1());
  if (result == 1) return;
  Parser.Parser_Mode = 0;
  if (result == 0) Encode_Digit_Form(m.prefix, m.second, m.digit, Msg_Address_Size, true, m.mem_size);
}

// ---- Descriptor tables ---------------------------------------------------------------------

struct Table_Mnemonic {
  uint32_t mode, digit;
  const char* no_brackets;
  const char* unknown;
};

constexpr Table_Mnemonic Table_Mnemonics[] = {
    {Mode_Sidt_Param, 1, "SIDT, must have [] here: ", "SIDT, unknown parameter: "},
    {Mode_Lidt_Param, 3, "LIDT, must have [] here: ", "LIDT, unknown parameter: "},
    {Mode_Lgdt_Param, 2, "LGDT, must have [] here: ", "LGDT, unknown parameter: "},
    {Mode_Sgdt_Param, 0, "SGDT, must have [] here: ", "SGDT, unknown parameter: "},
};

const Table_Mnemonic& Current_Table() {
  for (const Table_Mnemonic& m : Table_Mnemonics)
    if (m.mode == Parser.Parser_Mode) return m;
  return Table_Mnemonics[0];
}

void Set_Record(Operand_Record& r, uint32_t kind, uint64_t value, uint32_t size, uint32_t relocatable,
                uint32_t target_section) {
  r.kind = kind;
  r.value = value;
  r.size = size;
  r.relocatable = relocatable;
  r.target_section = target_section;
}

// The bracketed operand of sidt, lidt, lgdt and sgdt into record 1, tried as
// a register, an equate, a PROC variable, a label, an address expression and
// a number, in that order. False when it was refused (reported).
bool Descriptor_Table_Operand(const Table_Mnemonic& t, const char* text, uint32_t length) {
  if (length <= 2) {
    Error_Text("Empty or orphan brackets? : ", text, length);
    return false;
  }
  if (length - 2 >= 1024) {
    Error_Msg("Parameter in [] is too big: ");
    return false;
  }
  const Stripped_Text s = Expr_Strip_Blanks(text + 1, length - 2);
  if (s.length == 0) {
    Error_Text("Empty or orphan brackets? : ", text, length);
    return false;
  }
  Operand_Record& r = Op1();
  Reg_Size_Hit reg;
  if (Reg_Size(s.text, s.length, &reg) == 0) {
    if (!Register_Usable(s.text, s.length, reg.number, reg.size, Reg_General)) return false;
    Set_Record(r, Op_Mem_Reg, reg.number, reg.size, 0, 0);
    return true;
  }
  uint64_t value = 0;
  if (Equ_Find(s.text, s.length, &value) >= 0) {
    Set_Record(r, Op_Mem_Direct, value, 0, 0, 0);
    return true;
  }
  uint32_t frame = 0, size = 0;
  if (Proc_Local_Find(s.text, s.length, &frame, &size)) {
    Set_Record(r, Op_Local, frame, size, 0, 0);
    return true;
  }
  if (Proc_Arg_Find(s.text, s.length, &frame, &size)) {
    Set_Record(r, Op_Arg, frame, size, 0, 0);
    return true;
  }
  Label_Hit hit;
  if (Label_Find_Any(s.text, s.length, 0, &hit) >= 0) {
    Set_Record(r, Op_Mem_Direct, hit.address, hit.data_type, 1, Sections.Reloc_Target_Section);
    return true;
  }
  if (ModRM_Parse(s.text, s.length) == 0 && (Params.mem.base_present || Params.mem.index_present)) {
    const Mem_Expr& m = Params.mem;
    Set_Record(r, Op_Mem_Complex, m.disp, m.implied_size, m.relocatable,
               m.section >= 0 ? static_cast<uint32_t>(m.section) : Sections.Reloc_Target_Section);
    return true;
  }
  if (Diag.Stop_Flag) return false;
  const Eval_Result e = Eval_Value(s.text, s.length);
  if (e.status == 0) {
    Set_Record(r, Op_Mem_Direct, e.value, 0, Expr.Expr_Relocatable, Sections.Reloc_Target_Section);
    r.reloc_kind = Expr.Expr_Reloc_Kind;
    return true;
  }
  if (Pass.Pass_Number >= 2) {
    Error_Text(t.unknown, s.text, s.length);
    return false;
  }
  Set_Record(r, Op_Mem_Direct, 0, 0, 1, Sections.Reloc_Target_Section);  // a placeholder of the final length
  r.unknown = 1;
  return true;
}

void Table_Word(const char* text, uint32_t length) {
  Error_Text(Current_Table().no_brackets, text, length);
  Parser.Parser_Mode = 0;
}

void Table_Bracket(const char* text, uint32_t length) {
  const Table_Mnemonic& t = Current_Table();
  Parser.Parser_Mode = 0;
  if (Descriptor_Table_Operand(t, text, length)) Encode_0F_Digit(-1, 0x01, t.digit);
}

// ---- ARPL and BOUND --------------------------------------------------------------------------

void Encode_Arpl() {
  if (!Code_Mode_Known()) return;
  if (Mode() == Code_64) {
    Error_Msg("ARPL, can not encode in 64bit mode");
    return;
  }
  const Operand_Record& dst = Op1();
  const Operand_Record& src = Op2();
  if (src.kind != Op_Reg || (dst.kind != Op_Reg && !Is_Memory_Kind(dst.kind))) {
    Error_Msg("ARPL, unknown encode mode");
    return;
  }
  const auto& f = Params.flags;
  const bool other_keyword = f.byte_ || f.dword || f.qword || f.tbyte;
  if (src.size != 16 || (dst.kind == Op_Reg && dst.size != 16) || other_keyword) {
    Error_Msg("ARPL, param size must be 16bit");
    return;
  }
  // A label or variable of another size than the word read is refused as a
  // keyword of that size is, unless `word` says what is meant.
  const uint32_t declared = dst.kind == Op_Reg ? 0 : Declared_Mem_Size(dst);
  if (Pass.Pass_Number >= 2 && !f.word && declared && declared != 16) {
    Error_Msg("ARPL, param size must be 16bit");
    return;
  }
  Inst_Head h;
  Head_Opcode(h, 0x63);  // always 16 bits: no 66h in any mode
  if (dst.kind == Op_Reg) {
    Head_Emit(h);
    Emit_Reg_ModRM(src.low(), dst.low());
    return;
  }
  Emit_Mem_Form(h, Mem_Operand_Of(dst), src.low(), 0);
}

void Encode_Bound() {
  if (!Code_Mode_Known()) return;
  if (Mode() == Code_64) {
    Error_Msg("BOUND, can not encode in 64 bit mode");
    return;
  }
  const Operand_Record& reg = Op1();
  const Operand_Record& mem = Op2();
  Inst_Head h;
  Head_Opcode(h, 0x62);
  if (reg.kind != Op_Reg || !Is_Memory_Kind(mem.kind) || reg.size == 8 || !Head_Size(h, reg.size)) {
    Error_Msg("BOUND, unknown encode mode");
    return;
  }
  Emit_Mem_Form(h, Mem_Operand_Of(mem), reg.low(), 0);
}

void Arpl_Param1(const char* text, uint32_t length) {
  if (Parse_Operand(text, length, &Op1()) != 1) Parser.Parser_Mode = Mode_Arpl_Param2;
}

void Arpl_Param1_Mem(const char* text, uint32_t length) {
  if (Parse_Operand_Mem(text, length, &Op1()) != 1) Parser.Parser_Mode = Mode_Arpl_Param2;
}

void Arpl_Param2(const char* text, uint32_t length) {
  const int result = Parse_Operand(text, length, &Op2());
  if (result == 1) return;
  Parser.Parser_Mode = 0;
  if (result == 0) Encode_Arpl();
}

void Bound_Param1(const char* text, uint32_t length) {
  if (Parse_Operand(text, length, &Op1()) != 1) Parser.Parser_Mode = Mode_Bound_Param2;
}

void Bound_Param2(const char* text, uint32_t length) {
  Error_Text("BOUND, must use [] here: ", text, length);
  Parser.Parser_Mode = 0;
}

void Bound_Param2_Mem(const char* text, uint32_t length) {
  const int result = Parse_Operand_Mem(text, length, &Op2());
  if (result == 1) return;
  Parser.Parser_Mode = 0;
  if (result == 0) Encode_Bound();
}

// ---- CLFLUSH and INVLPG ------------------------------------------------------------------------

void Clflush_Word(const char* text, uint32_t length) {
  Error_Text("CLFLUSH, must have [] here: ", text, length);
  Parser.Parser_Mode = 0;
}

void Clflush_Bracket(const char* text, uint32_t length) {
  const int result = Parse_Operand_Mem(text, length, &Op1());
  if (result == 1) return;
  Parser.Parser_Mode = 0;
  if (result == 0) Encode_Digit_Form(-1, 0xAE, 7, Msg_Address_Size, false);
}

void Invlpg_Bracket(const char* text, uint32_t length) {
  const int result = Parse_Operand_Mem(text, length, &Op1());
  if (result == 1) return;
  Parser.Parser_Mode = 0;
  if (result == 0) Encode_Digit_Form(-1, 0x01, 7, Msg_Invlpg_Address_Size, false);
}

// ---- Segment loads ---------------------------------------------------------------------------

struct Far_Load {
  uint32_t mode1, mode2;
  uint32_t opcode;  // C5/C4 alone, or after 0Fh
  bool escape;
};

constexpr Far_Load Far_Loads[] = {
    {Mode_Lds_Param1, Mode_Lds_Param2, 0xC5, false}, {Mode_Les_Param1, Mode_Les_Param2, 0xC4, false},
    {Mode_Lfs_Param1, Mode_Lfs_Param2, 0xB4, true},  {Mode_Lgs_Param1, Mode_Lgs_Param2, 0xB5, true},
    {Mode_Lss_Param1, Mode_Lss_Param2, 0xB2, true},
};

const Far_Load& Current_Far_Load() {
  for (const Far_Load& f : Far_Loads)
    if (f.mode1 == Parser.Parser_Mode || f.mode2 == Parser.Parser_Mode) return f;
  return Far_Loads[0];
}

// A general register and a far pointer at a [direct] address.
void Encode_Far_Pointer_Load(const Far_Load& f) {
  if (!Code_Mode_Known()) return;
  const char* combination = f.escape ? "LFS/LGS/LSS, can not encode this parameter combination"
                                     : "LDS/LES, can not encode this parameter combination";
  const Operand_Record& reg = Op1();
  const Operand_Record& mem = Op2();
  Inst_Head h;
  if (f.escape) Head_Opcode2(h, 0x0F, f.opcode);
  else Head_Opcode(h, f.opcode);
  if (reg.kind != Op_Reg || mem.kind != Op_Mem_Direct || reg.size == 8 || !Head_Size(h, reg.size)) {
    Error_Msg(combination);
    return;
  }
  if (!f.escape && Mode() == Code_64) {
    Error_Msg("LDS/LES, can not encode in 64 bits");
    return;
  }
  Head_Reg(h, reg.low(), reg.size, Rex_R);
  Emit_Mem_Form(h, Mem_Operand_Of(mem), reg.low(), 0);
}

void Far_Param1(const char* text, uint32_t length) {
  const Far_Load& f = Current_Far_Load();
  if (Parse_Operand(text, length, &Op1()) != 1) Parser.Parser_Mode = f.mode2;
}

void Far_Param2_Mem(const char* text, uint32_t length) {
  const Far_Load& f = Current_Far_Load();
  const int result = Parse_Operand_Mem(text, length, &Op2());
  if (result == 1) return;
  Parser.Parser_Mode = 0;
  if (result == 0) Encode_Far_Pointer_Load(f);
}

constexpr Mode_Handler Words[] = {
    {Mode_Sidt_Param, Table_Word},       {Mode_Lidt_Param, Table_Word},
    {Mode_Lgdt_Param, Table_Word},       {Mode_Sgdt_Param, Table_Word},
    {Mode_Arpl_Param1, Arpl_Param1},     {Mode_Arpl_Param2, Arpl_Param2},
    {Mode_Bound_Param1, Bound_Param1},   {Mode_Bound_Param2, Bound_Param2},
    {Mode_Clflush_Param, Clflush_Word},  {Mode_Ltr_Param, Task_Register_Word},
    {Mode_Str_Param, Task_Register_Word}, {Mode_Stmxcsr_Param, Memory_Only_Word},
    {Mode_Lds_Param1, Far_Param1},       {Mode_Les_Param1, Far_Param1},
    {Mode_Lfs_Param1, Far_Param1},       {Mode_Lgs_Param1, Far_Param1},
    {Mode_Lss_Param1, Far_Param1},       {Mode_Vmxon_Param, Memory_Only_Word},
    {Mode_Vmptrld_Param, Memory_Only_Word}, {Mode_Vmptrst_Param, Memory_Only_Word},
    {Mode_Vmclear_Param, Memory_Only_Word},
};

constexpr Mode_Handler Brackets[] = {
    {Mode_Sidt_Param, Table_Bracket},      {Mode_Lidt_Param, Table_Bracket},
    {Mode_Lgdt_Param, Table_Bracket},      {Mode_Sgdt_Param, Table_Bracket},
    {Mode_Arpl_Param1, Arpl_Param1_Mem},   {Mode_Bound_Param2, Bound_Param2_Mem},
    {Mode_Clflush_Param, Clflush_Bracket}, {Mode_Invlpg_Param, Invlpg_Bracket},
    {Mode_Ltr_Param, Digit_Bracket},       {Mode_Str_Param, Digit_Bracket},
    {Mode_Stmxcsr_Param, Digit_Bracket},   {Mode_Lds_Param2, Far_Param2_Mem},
    {Mode_Les_Param2, Far_Param2_Mem},     {Mode_Lfs_Param2, Far_Param2_Mem},
    {Mode_Lgs_Param2, Far_Param2_Mem},     {Mode_Lss_Param2, Far_Param2_Mem},
    {Mode_Vmxon_Param, Digit_Bracket},     {Mode_Vmptrld_Param, Digit_Bracket},
    {Mode_Vmptrst_Param, Digit_Bracket},   {Mode_Vmclear_Param, Digit_Bracket},
};

}  // namespace

void Encode_0F_Digit(int32_t prefix, uint32_t second, uint32_t digit) {
  Encode_Digit_Form(prefix, second, digit, Msg_Address_Size, true);
}

void Inst_Ltr(const Keyword_Entry*) { Start(Mode_Ltr_Param); }
void Inst_Str(const Keyword_Entry*) { Start(Mode_Str_Param); }
void Inst_Stmxcsr(const Keyword_Entry*) { Start(Mode_Stmxcsr_Param); }
void Inst_Vmxon(const Keyword_Entry*) { Start(Mode_Vmxon_Param); }
void Inst_Vmptrld(const Keyword_Entry*) { Start(Mode_Vmptrld_Param); }
void Inst_Vmptrst(const Keyword_Entry*) { Start(Mode_Vmptrst_Param); }
void Inst_Vmclear(const Keyword_Entry*) { Start(Mode_Vmclear_Param); }
void Inst_Sidt(const Keyword_Entry*) { Start(Mode_Sidt_Param); }
void Inst_Lidt(const Keyword_Entry*) { Start(Mode_Lidt_Param); }
void Inst_Lgdt(const Keyword_Entry*) { Start(Mode_Lgdt_Param); }
void Inst_Sgdt(const Keyword_Entry*) { Start(Mode_Sgdt_Param); }
void Inst_Arpl(const Keyword_Entry*) { Start(Mode_Arpl_Param1); }
void Inst_Bound(const Keyword_Entry*) { Start(Mode_Bound_Param1); }
void Inst_Clflush(const Keyword_Entry*) { Start(Mode_Clflush_Param); }
void Inst_Invlpg(const Keyword_Entry*) { Start(Mode_Invlpg_Param); }
void Inst_Lds(const Keyword_Entry*) { Start(Mode_Lds_Param1); }
void Inst_Les(const Keyword_Entry*) { Start(Mode_Les_Param1); }
void Inst_Lfs(const Keyword_Entry*) { Start(Mode_Lfs_Param1); }
void Inst_Lgs(const Keyword_Entry*) { Start(Mode_Lgs_Param1); }
void Inst_Lss(const Keyword_Entry*) { Start(Mode_Lss_Param1); }

extern const Mode_Table System_Mode_Table = {
    "system", Words, sizeof(Words) / sizeof(Words[0]), Brackets, sizeof(Brackets) / sizeof(Brackets[0]), nullptr, 0,
};
