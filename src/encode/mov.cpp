// MOV: the operand handlers of parser modes 1 and 2, the kind dispatcher
// Encode_Mov and one worker per form. The [base+index*scale+disp] forms with
// a general register or an immediate go to the shared ALU workers.
#include "encode/mov.h"

#include "core/assemble.h"
#include "core/diag.h"
#include "core/expr.h"
#include "core/keywords.h"
#include "core/operands.h"
#include "core/symbols.h"
#include "directives/macro.h"
#include "directives/proc.h"
#include "directives/struc.h"
#include "encode/alu.h"
#include "encode/modrm.h"
#include "output/sections.h"

namespace {

// The family's messages, one per situation.
struct Mov_Message_Table {
  const char* can_not_this;      // no MOV form for this register or pair
  const char* unknown_type;      // any other pair of operand kinds
  const char* unknown_symbol;    // a destination word that is nothing known
  const char* symbol_unknown;    // a source word that is nothing known
  const char* empty_brackets;    // "[]"
  const char* unknown_address;   // a bracketed source that nothing accepts
  const char* register_sizes;    // reg,reg of two sizes
  const char* size_mismatch;     // register against memory size
  const char* register_size;     // a register size without an opcode
  const char* too_big;           // an immediate the operand can not hold
  const char* can_not;           // an address or data size without an encoding
  const char* unknown_size;      // [reg],imm without a size keyword
  const char* frame_size;        // local/arg,imm without a usable size
};

constexpr Mov_Message_Table Msg = {
    "MOV, can not encode this. ",
    "MOV, unknown parameter type. ",
    "Unknown symbol: ",
    "Symbol unknown: ",
    "Empty or orphan brackets? : ",
    "Unknown address expresion in [] : ",
    "MOV, register sizes are diferent",
    "MOV, size mismatch",
    "MOV, unknown register size ",
    "MOV, value too big, can not be encoded.",
    "MOV, can not encode ",
    "MOV, unknown size ",
    "Unknown or wrong param_1 size ",
};


// 8Ah/8Bh load a register, 88h/89h store one.
uint32_t Data_Opcode(bool load, uint32_t size) { return (load ? 0x8Au : 0x88u) + (size == 8 ? 0u : 1u); }

// ---- Workers ------------------------------------------------------------------------

void Mov_Reg_Reg() {
  const Operand_Record& a = Op1();
  const Operand_Record& b = Op2();
  const uint32_t s = Register_Operand_Size(a);
  if (a.size != b.size) Error_Msg(Msg.register_sizes);
  else if (Keyword_Contradicts(s)) return;
  Inst_Head h;
  Head_Opcode(h, Data_Opcode(true, s));
  if (!Head_Size(h, s) && Mode() == Code_64) Error_Msg(Msg.register_sizes);
  Head_Reg(h, a.low(), a.size, Rex_R);
  Head_Reg(h, b.low(), b.size, Rex_B);
  Head_Emit(h);
  Emit_Byte(static_cast<uint8_t>(0xC0u | (a.low() & 7) << 3 | (b.low() & 7)));
}

void Mov_Reg_Imm() {
  const Operand_Record& reg = Op1();
  const Operand_Record& imm = Op2();
  const uint32_t n = reg.low();
  uint32_t s = Register_Operand_Size(reg);
  if (!Size_Usable(s)) {
    Error_From_Pass(2, Msg.register_size);
    s = 32;
  } else if (Keyword_Contradicts(s)) {  // `mov eax,byte 5`: the keyword names the operand size
    return;
  }
  Inst_Head h;
  Head_Size(h, s);
  Head_Reg(h, n, reg.size, Rex_B);
  if (s == 64) {  // REX.W B8+r with all eight bytes
    Head_Opcode(h, 0xB8u + (n & 7));
    Head_Emit(h);
    Emit_Imm(imm, 8);
    return;
  }
  if (!Imm_Fits(imm.value, s)) Error_Msg(Msg.too_big);
  Head_Opcode(h, (s == 8 ? 0xB0u : 0xB8u) + (n & 7));
  Head_Emit(h);
  Emit_Imm(imm, Imm_Bytes(s), s == 32);
}

// [register] operands written with 16-bit addressing take bx, si or di only.
bool Base16_Ok(const Mem_Operand& m) {
  if (m.width != 16) return true;
  const uint32_t base = m.record->low();
  return base == 3 || base == 6 || base == 7;
}

// reg,[register] (load) and [register],reg.
void Mov_Reg_Mem(bool load) {
  const Operand_Record& reg = load ? Op1() : Op2();
  const Mem_Operand m = Mem_Operand_Of(load ? Op2() : Op1());
  const uint32_t s = Register_Operand_Size(reg);
  Inst_Head h;
  Head_Opcode(h, Data_Opcode(load, s));
  Head_Size(h, s);
  Head_Reg(h, reg.low(), reg.size, Rex_R);
  if (!Base16_Ok(m)) {
    Error_Msg(Msg.can_not);
    Head_Emit(h);
    return;
  }
  Emit_Mem_Form(h, m, reg.low(), 0);
}

// reg,[direct] (load) and [direct],reg: the accumulator has its own
// direct-address opcodes A0h-A3h.
void Mov_Direct(bool load) {
  const Operand_Record& reg = load ? Op1() : Op2();
  const Operand_Record& mem = load ? Op2() : Op1();
  const uint32_t s = Register_Operand_Size(reg);
  const uint32_t n = reg.low();
  // A 16-bit load from a number takes the register's size; from a label of
  // another size it is refused, as in every mode.
  const bool checked = !load || Mode() != Code_16 || mem.relocatable;
  if (checked && mem.size != s && !Keyword_Names_Size(s)) Error_Final(Msg.size_mismatch);
  // In 64-bit code A0h-A3h take a 64-bit address: only for `qword` or an
  // address above 4 GiB; anything else is RIP-relative.
  const bool moffs = n == 0 && (Mode() != Code_64 || Params.flags.qword || mem.high() != 0);
  Inst_Head h;
  Head_Size(h, s);
  if (moffs) {
    if (!(Mode() == Code_64 && Params.flags.qword)) Keyword_Size_Agrees(s);  // there qword names the address
    Head_Opcode(h, (load ? 0xA0u : 0xA2u) + (s == 8 ? 0u : 1u));
    Head_Emit(h);
    Emit_Address(mem.value, Mode() == Code_16 ? 2 : Mode() == Code_32 ? 4 : 8, mem.relocatable, mem.target_section);
    return;
  }
  Head_Opcode(h, Data_Opcode(load, s));
  Head_Reg(h, n, reg.size, Rex_R);
  Emit_Mem_Form(h, Mem_Operand_Of(mem), n, 0);
}

void Mov_Direct_Imm() {
  const Operand_Record& mem = Op1();
  const Operand_Record& imm = Op2();
  const auto& f = Params.flags;
  uint32_t s = f.byte_ ? 8 : f.word ? 16 : f.dword ? 32 : f.qword ? 64 : 0;
  if (!s && (mem.size == 8 || mem.size == 16 || mem.size == 32 || mem.size == 64)) s = mem.size;
  // A label of a size that no store has (a tbyte) needs the keyword; an
  // address without any size takes the mode's width.
  if (!s && mem.size != 0) Error_Final(Msg.size_mismatch);
  if (!s) s = Mode() == Code_16 ? 16 : 32;
  if (!Size_Usable(s) || !Imm_Fits(imm.value, s)) Error_Msg(Msg.too_big);
  Inst_Head h;
  Head_Opcode(h, s == 8 ? 0xC6 : 0xC7);
  Head_Size(h, s);
  Emit_Mem_Form(h, Mem_Operand_Of(mem), 0, Imm_Bytes(s));
  Emit_Imm(imm, Imm_Bytes(s), s == 32);
}

void Mov_Mem_Imm() {
  const Operand_Record& imm = Op2();
  uint32_t s = Keyword_Operand_Size();
  if (!s) {
    s = Mode() == Code_16 ? 16 : Mode() == Code_32 ? 32 : 64;
    Params_Flag(s == 16 ? Kf_Word : s == 32 ? Kf_Dword : Kf_Qword) = 1;
    if (Pass.Pass_Number >= 2) Error_Msg(Msg.unknown_size);
  }
  if (!Imm_Fits(imm.value, s)) Error_Msg(Msg.too_big);
  const Mem_Operand m = Mem_Operand_Of(Op1());
  Inst_Head h;
  Head_Opcode(h, s == 8 ? 0xC6 : 0xC7);
  Head_Size(h, s);
  h.p66_first = Mode() == Code_64 ? 1 : 0;
  if (!Base16_Ok(m)) {
    Error_Msg(Msg.can_not);
    Head_Emit(h);
    return;
  }
  Emit_Mem_Form(h, m, 0, Imm_Bytes(s));
  Emit_Imm(imm, Imm_Bytes(s), s == 32);
}

// reg,local/arg (load) and local/arg,reg.
void Mov_Frame(bool load) {
  const Operand_Record& reg = load ? Op1() : Op2();
  const Operand_Record& var = load ? Op2() : Op1();
  const uint32_t s = reg.size;
  if (!Size_Usable(s)) {  // no opcode for this register size here
    Error_Msg(Mode() == Code_64 ? Msg.register_size : Msg.can_not);
    return;
  }
  if (var.size != s && !Keyword_Names_Size(s)) Error_Final(Msg.size_mismatch);
  Inst_Head h;
  Head_Opcode(h, Data_Opcode(load, s));
  Head_Size(h, s);
  Head_Reg(h, reg.low(), reg.size, Rex_R);
  Emit_Mem_Form(h, Mem_Operand_Of(var), reg.low(), 0);
}

void Mov_Frame_Imm() {
  const Operand_Record& var = Op1();
  const Operand_Record& imm = Op2();
  const auto& f = Params.flags;
  uint32_t s = 0;
  switch (Mode()) {  // the first keyword found, in the order of each mode
    case Code_16: s = f.dword ? 32 : f.word ? 16 : f.byte_ ? 8 : 0; break;
    case Code_32: s = f.byte_ ? 8 : f.word ? 16 : f.dword ? 32 : 0; break;
    default: s = f.qword ? 64 : f.dword ? 32 : f.word ? 16 : f.byte_ ? 8 : 0; break;
  }
  if (!s && Size_Usable(var.size)) s = var.size;
  Inst_Head h;
  Head_Opcode(h, s == 8 ? 0xC6 : 0xC7);
  Head_Size(h, s);
  const Mem_Operand m = Mem_Operand_Of(var);
  if (!s) {
    Error_Msg(Msg.frame_size);
    Emit_Mem_Form(h, m, 0, 0);
    return;
  }
  if (!Imm_Fits(imm.value, s)) Error_Msg(Msg.too_big);
  Emit_Mem_Form(h, m, 0, Imm_Bytes(s));
  Emit_Imm(imm, Imm_Bytes(s), s == 32);
}

// 66h for a general register of the other width, as the segment forms use it.
bool Other_Width(uint32_t size, bool in_64) {
  switch (Mode()) {
    case Code_16: return size == 32;
    case Code_32: return size == 16;
    default: return in_64 && size == 16;
  }
}

// reg,sreg (8Ch) and sreg,reg (8Eh).
void Mov_Sreg_Reg(bool to_sreg) {
  const Operand_Record& sreg = to_sreg ? Op1() : Op2();
  const Operand_Record& reg = to_sreg ? Op2() : Op1();
  if (reg.size == 8) Error_Msg(Msg.can_not_this);
  else if (Keyword_Contradicts(reg.size)) return;
  Inst_Head h;
  Head_Opcode(h, to_sreg ? 0x8E : 0x8C);
  h.p66 = Other_Width(reg.size, !to_sreg) ? 1 : 0;
  Head_Reg(h, reg.low(), reg.size, Rex_B);
  Head_Emit(h);
  Emit_Byte(static_cast<uint8_t>(0xC0u | (sreg.low() & 7) << 3 | (reg.low() & 7)));
}

// [memory],sreg (8Ch) and sreg,[memory] (8Eh): no operand-size prefix. The
// memory operand is a word: `word` or no keyword.
void Mov_Sreg_Mem(bool to_sreg) {
  const Operand_Record& sreg = to_sreg ? Op1() : Op2();
  Inst_Head h;
  Head_Opcode(h, to_sreg ? 0x8E : 0x8C);
  h.mem_size = 16;
  Emit_Mem_Form(h, Mem_Operand_Of(to_sreg ? Op2() : Op1()), sreg.low(), 0);
}

// Control and debug registers: 0F 20h (reg,CR), 21h (reg,DR), 22h (CR,reg),
// 23h (DR,reg); cr8 is reached with REX.R.
void Mov_Special(uint32_t opcode) {
  const bool to_general = opcode == 0x20 || opcode == 0x21;
  const Operand_Record& gen = to_general ? Op1() : Op2();
  const Operand_Record& special = to_general ? Op2() : Op1();
  // The general register has the mode's width: 32 bits, 64 in 64-bit code.
  if (gen.size != (Mode() == Code_64 ? 64u : 32u)) Error_Msg(Msg.can_not_this);
  uint32_t number = special.low();
  if (special.kind == Op_Control && special.size == 64) number = 8;  // cr8
  Inst_Head h;
  Head_Opcode2(h, 0x0F, opcode);
  if (Mode() == Code_64) {
    if (number > 7) h.rex |= Rex_R;
    if (gen.low() > 7) h.rex |= Rex_B;
  }
  Head_Emit(h);
  Emit_Byte(static_cast<uint8_t>(0xC0u | (number & 7) << 3 | (gen.low() & 7)));
}

}  // namespace

// ---- The kind dispatcher -------------------------------------------------------------------

void Encode_Mov() {
  if (!Code_Mode_Known()) return;
  Operand_Record& a = Op1();
  const Operand_Record& b = Op2();
  const bool b_memory = Is_Memory_Kind(b.kind);
  switch (a.kind) {
    case Op_Reg:
      switch (b.kind) {
        case Op_Reg: Mov_Reg_Reg(); return;
        case Op_Segment: Mov_Sreg_Reg(false); return;
        case Op_Imm: Mov_Reg_Imm(); return;
        case Op_Mem_Reg: Mov_Reg_Mem(true); return;
        case Op_Mem_Direct: Mov_Direct(true); return;
        case Op_Local:
        case Op_Arg: Mov_Frame(true); return;
        case Op_Mem_Complex: Encode_Reg_Complex(0x8B); return;
        case Op_Control: Mov_Special(0x20); return;
        case Op_Debug: Mov_Special(0x21); return;
        default: break;
      }
      break;
    case Op_Mem_Reg:
    case Op_Mem_Direct:
    case Op_Mem_Complex:
    case Op_Local:
    case Op_Arg:
      if (b.kind == Op_Segment) {
        Mov_Sreg_Mem(false);
        return;
      }
      if (b.kind == Op_Reg) {
        switch (a.kind) {
          case Op_Mem_Reg: Mov_Reg_Mem(false); return;
          case Op_Mem_Direct: Mov_Direct(false); return;
          case Op_Mem_Complex:
            a.relocatable |= Expr.Expr_Relocatable;
            Encode_Complex_Reg(0x89);
            return;
          default: Mov_Frame(false); return;
        }
      }
      if (b.kind == Op_Imm) {
        switch (a.kind) {
          case Op_Mem_Reg: Mov_Mem_Imm(); return;
          case Op_Mem_Direct: Mov_Direct_Imm(); return;
          case Op_Mem_Complex: Encode_Complex_Imm(0xC7, 0, b.value); return;
          default: Mov_Frame_Imm(); return;
        }
      }
      break;
    case Op_Segment:
      if (a.low() == 1) {  // cs can not be loaded by MOV
        Error_Msg(Msg.can_not_this);
        return;
      }
      if (b.kind == Op_Reg) Mov_Sreg_Reg(true);
      else if (b_memory) Mov_Sreg_Mem(true);
      else Error_Msg(Msg.can_not_this);
      return;
    case Op_Control:
      if (b.kind == Op_Reg) Mov_Special(0x22);
      else Error_Msg(Msg.can_not_this);
      return;
    case Op_Debug:
      if (b.kind == Op_Reg) Mov_Special(0x23);
      else Error_Msg(Msg.can_not_this);
      return;
    default: break;
  }
  Error_Msg(Msg.unknown_type);
}

// ---- Keyword and operand handlers -------------------------------------------------------------

namespace {

uint32_t Kind_Of_Class(uint32_t reg_class) {
  switch (reg_class) {
    case Reg_General: return Op_Reg;
    case Reg_Segment: return Op_Segment;
    case Reg_Control: return Op_Control;
    case Reg_Debug: return Op_Debug;
    default: return Op_None;
  }
}

// A register operand; x87, MMX and XMM registers have no MOV form.
void Set_Register(Operand_Record& r, const Register_Hit& reg, const char* text, uint32_t length) {
  const uint32_t kind = Kind_Of_Class(reg.reg_class);
  if (kind) {
    r.kind = kind;
    Register_Usable(text, length, reg.number, reg.size, reg.reg_class);
  } else {
    Error_Text(Msg.can_not_this, text, length);
  }
  r.value = reg.number;
  r.size = reg.size;
}

void Set_Value(Operand_Record& r, uint32_t kind, uint64_t value, uint32_t size, uint32_t relocatable) {
  r.kind = kind;
  r.value = value;
  r.size = size;
  r.relocatable = relocatable;
  r.target_section = Sections.Reloc_Target_Section;
}

void Mov_Param1(const char* text, uint32_t length) {
  Operand_Record& r = Op1();
  Register_Hit reg;
  if (Register_Find(text, length, &reg) == 0) {
    Set_Register(r, reg, text, length);
    Parser.Parser_Mode = Mode_Mov_Param2;
    return;
  }
  if (Run_Modifier(text, length)) return;
  Error_Text(Msg.unknown_symbol, text, length);
  r.kind = Op_Reg;
  r.value = 0;
}

void Mov_Param1_Mem(const char* text, uint32_t length) {
  if (Parse_Operand_Mem(text, length, &Op1()) == 1) return;
  Parser.Parser_Mode = Mode_Mov_Param2;
}

// The source word: the first lookup that knows it. Returns false when the
// statement waits for more (a modifier keyword, a macro call) or ended.
bool Source_Word(const char* text, uint32_t length) {
  Operand_Record& r = Op2();
  uint64_t number = 0;
  if (Operand_Plain_Number(text, length, &number)) {
    // No lookup below can find it, and its evaluation is its value.
    Expr.Expr_Relocatable = 0;
    Expr.Expr_Reloc_Kind = 0;
    Set_Value(r, Op_Imm, number, 32, 0);
    r.reloc_kind = 0;
    return true;
  }
  Register_Hit reg;
  if (Register_Find(text, length, &reg) == 0) {
    Set_Register(r, reg, text, length);
    return true;
  }
  uint64_t value = 0;
  if (Equ_Find(text, length, &value) >= 0) {  // all 64 bits of the equate
    Set_Value(r, Op_Imm, value, 32, 0);
    return true;
  }
  Label_Hit hit;
  if (Label_Find_Any(text, length, 0, &hit) >= 0) {
    Set_Value(r, Op_Imm, hit.address, 32, 1);
    return true;
  }
  uint32_t offset = 0, type = 0, address = 0, section = 0, size = 0;
  if (Struc_Member_Of_Name(text, length, &offset, &type)) {
    Set_Value(r, Op_Imm, offset, 32, 0);
    return true;
  }
  if (Proc_Address(text, length, &address, &section)) {
    Sections.Reloc_Target_Section = section;
    Set_Value(r, Op_Imm, address, 32, 1);
    return true;
  }
  if (Struc_Size_Of_Name(text, length, &size)) {
    Set_Value(r, Op_Imm, size, 32, 0);
    return true;
  }
  if (Proc_Is_Open() && Local_Label_Value(text, length, &address, &section)) {
    Sections.Reloc_Target_Section = section;
    Set_Value(r, Op_Imm, address, 32, 1);
    return true;
  }
  if (Run_Modifier(text, length)) return false;
  Eval_Result e = Eval_Value(text, length);
  if (e.status == 0) {
    Set_Value(r, Op_Imm, e.value, 32, Expr.Expr_Relocatable);
    r.reloc_kind = Expr.Expr_Reloc_Kind;
    return true;
  }
  if (Macro_Start_Call_From_Operand(text, length)) return false;
  if (Pass.Pass_Number == 1) {  // a symbol defined further on
    Set_Value(r, Op_Imm, 0, 32, 0);
    r.unknown = 1;
    return true;
  }
  Error_Text(Msg.symbol_unknown, text, length);
  Parser.Parser_Mode = 0;
  return false;
}

void Mov_Param2(const char* text, uint32_t length) {
  if (!Source_Word(text, length)) return;
  Encode_Mov();
  Parser.Parser_Mode = 0;
}

// The bracketed source: [reg], local/arg, [label], [expression] or
// [base+index*scale+disp]. False when nothing accepts it.
bool Source_Memory(const char* text, uint32_t length) {
  Operand_Record& r = Op2();
  if (length <= 2) {
    Error_Text(Msg.empty_brackets, text, length);
    return false;
  }
  const Stripped_Text s = Expr_Strip_Blanks(text + 1, length - 2);
  if (s.length == 0) {
    Error_Text(Msg.empty_brackets, text, length);
    return false;
  }
  Reg_Size_Hit reg;
  if (Reg_Size(s.text, s.length, &reg) == 0) {
    Set_Value(r, Op_Mem_Reg, reg.number, reg.size, 0);
    Register_Usable(s.text, s.length, reg.number, reg.size, Reg_General);
    return true;
  }
  if (!Operand_Plain_Registers(s.text, s.length)) {
    uint32_t frame = 0, size = 0;
    if (Proc_Local_Find(s.text, s.length, &frame, &size)) {
      Set_Value(r, Op_Local, frame, size, 0);
      return true;
    }
    if (Proc_Arg_Find(s.text, s.length, &frame, &size)) {
      Set_Value(r, Op_Arg, frame, size, 0);
      return true;
    }
    Label_Hit hit;
    if (Label_Find_Any(s.text, s.length, 0, &hit) >= 0) {
      Set_Value(r, Op_Mem_Direct, hit.address, hit.data_type, 1);
      return true;
    }
    Eval_Result e = Eval_Value(s.text, s.length);
    if (e.status == 0) {
      Set_Value(r, Op_Mem_Direct, e.value, 32, Expr.Expr_Relocatable);
      return true;
    }
  }
  if (ModRM_Parse(s.text, s.length) == 0) {
    const Mem_Expr& m = Params.mem;
    Set_Value(r, Op_Mem_Complex, 0, m.implied_size, m.relocatable);
    if (m.section >= 0) r.target_section = static_cast<uint32_t>(m.section);
    return true;
  }
  if (Pass.Pass_Number == 1) {
    Set_Value(r, Op_Mem_Direct, 0, 32, 1);
    r.unknown = 1;
    return true;
  }
  Error_Text(Msg.unknown_address, s.text, s.length);
  return false;
}

void Mov_Param2_Mem(const char* text, uint32_t length) {
  if (Source_Memory(text, length)) Encode_Mov();
  Parser.Parser_Mode = 0;
}

void Mov_Param2_String(const char* text, uint32_t length) {
  if (Mini_String(text, length, &Op2()) == 0) Encode_Mov();
  Parser.Parser_Mode = 0;
}

constexpr Mode_Handler Words[] = {{Mode_Mov_Param1, Mov_Param1}, {Mode_Mov_Param2, Mov_Param2}};
constexpr Mode_Handler Brackets[] = {{Mode_Mov_Param1, Mov_Param1_Mem}, {Mode_Mov_Param2, Mov_Param2_Mem}};
constexpr Mode_Handler Strings[] = {{Mode_Mov_Param2, Mov_Param2_String}};

}  // namespace

void Inst_Mov(const Keyword_Entry*) {
  Params_Reset();
  Parser.Parser_Mode = Mode_Mov_Param1;
}

extern const Mode_Table Mov_Mode_Table = {"mov", Words, 2, Brackets, 2, Strings, 1};
