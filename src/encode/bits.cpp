// Bit tests and scans, CMOVcc, SETcc, XADD and CMPXCHG: all 0F-escaped
// opcodes with one register field and one r/m operand, built on the
// encoding layer (modrm.h), which writes the prefixes, REX and the address.
#include "encode/bits.h"

#include "core/assemble.h"
#include "core/diag.h"
#include "core/keywords.h"
#include "core/operands.h"
#include "encode/modrm.h"
#include "output/sections.h"

Bits_State Bits;

namespace {

constexpr const char* Msg_Bt_Size = "BTx, invalid operand size";
constexpr const char* Msg_Bt_Unmatched = "BTx, unmatched register size";
constexpr const char* Msg_Bt_Register = "BTx, invalid register size";
constexpr const char* Msg_Bt_Mode = "BTx, unknown encode mode";
constexpr const char* Msg_Bt_Value = "BTx, value too big, can not be encoded.";
constexpr const char* Msg_Register_Size = "Unknown register size ";
constexpr const char* Msg_Set_Register = "SETcc, wrong register size";
constexpr const char* Msg_Set_Target = "SETcc, wrong target size";
constexpr const char* Msg_Set_Kind = "SETcc, unknown parameter type";
constexpr const char* Msg_Xadd_Kind = " can not encode this. ";
constexpr const char* Msg_Xadd_Size = "Unknown parameter 2 size";
constexpr const char* Msg_Mismatch = "parameters have mismatched size.";

uint8_t Byte(uint32_t v) { return static_cast<uint8_t>(v); }

// A size keyword was written that does not name `size`.
bool Keyword_Other_Than(uint32_t size) {
  const auto& f = Params.flags;
  return (f.byte_ && size != 8) || (f.word && size != 16) || (f.dword && size != 32) || (f.qword && size != 64) ||
         f.tbyte;
}

bool Any_Size_Keyword() {
  const auto& f = Params.flags;
  return f.byte_ || f.word || f.dword || f.qword || f.tbyte;
}

void Emit_Reg_ModRM(uint32_t reg_field, uint32_t rm) { Emit_Byte(Byte(0xC0u | (reg_field & 7) << 3 | (rm & 7))); }

// reg, r/m with the register in ModRM.reg (bsf, bsr, CMOVcc). The operand
// size is the destination's; a register source must have it too, and a size
// keyword on a memory source must name it. Without a keyword a label in a
// [direct] or [base+index*scale+disp] source brings its size: another
// operand size is a mismatch, a size without a form an unknown address size.
void Encode_Reg_Rm_0F(uint32_t opcode, const char* msg_kind, const char* msg_address) {
  const Operand_Record& dst = Op1();
  const Operand_Record& src = Op2();
  if (dst.kind != Op_Reg || (src.kind != Op_Reg && !Is_Memory_Kind(src.kind))) {
    Error_Msg(msg_kind);
    return;
  }
  const uint32_t s = dst.size;
  Inst_Head h;
  Head_Opcode2(h, 0x0F, opcode);
  if (s == 8 || !Head_Size(h, s)) {
    Error_Msg(Msg_Register_Size);
    return;
  }
  Head_Reg(h, dst.low(), s, Rex_R);
  if (src.kind == Op_Reg) {
    if (src.size != s) {
      Error_Msg(Msg_Register_Size);
      return;
    }
    if (Keyword_Other_Than(s)) {
      Error_Msg(Msg_Mismatch);
      return;
    }
    Head_Reg(h, src.low(), src.size, Rex_B);
    Head_Emit(h);
    Emit_Reg_ModRM(dst.low(), src.low());
    return;
  }
  if (Keyword_Other_Than(s)) {
    Error_Msg(msg_address);
    return;
  }
  const bool labelled = src.kind == Op_Mem_Direct || src.kind == Op_Mem_Complex;
  // A forward label has a placeholder size in pass 1.
  if (labelled && src.size && src.size != s && !Any_Size_Keyword() && Pass.Pass_Number >= 2) {
    const bool has_form = src.size == 16 || src.size == 32 || (src.size == 64 && Mode() == Code_64);
    Error_Msg(has_form ? Msg_Mismatch : msg_address);
    return;
  }
  Emit_Mem_Form(h, Mem_Operand_Of(src), dst.low(), 0);
}

}  // namespace

// ---- Encoders ----------------------------------------------------------------------

// bt/btc/btr/bts: 0F BA /digit ib, or 0F reg_opcode /r with the bit offset
// register in ModRM.reg. The operand size comes from the register operand;
// a memory operand with an immediate offset takes the size keyword first,
// else its own size (label, variable or bracketed expression).
void Encode_Bt_Group(uint32_t digit, uint32_t reg_opcode) {
  if (!Code_Mode_Known()) return;
  const Operand_Record& a = Op1();
  const Operand_Record& b = Op2();
  // A byte label takes no bit test, unless a size keyword says what is read.
  const bool byte_label = a.kind != Op_Reg && a.size == 8 && Params_Keyword_Size() == 0;
  if (Params.flags.byte_ || (a.kind == Op_Reg && a.size == 8) || byte_label || b.size == 8) {
    Error_Msg(Msg_Bt_Size);
    return;
  }
  const bool imm = b.kind == Op_Imm;
  if ((!imm && b.kind != Op_Reg) || (a.kind != Op_Reg && !Is_Memory_Kind(a.kind))) {
    Error_Msg(Msg_Bt_Mode);
    return;
  }
  Inst_Head h;
  h.p66_first = 1;
  Head_Opcode2(h, 0x0F, imm ? 0xBAu : reg_opcode);
  const uint32_t field = imm ? digit : b.low();
  if (!imm) Head_Reg(h, b.low(), b.size, Rex_R);

  if (a.kind == Op_Reg) {
    if (!imm && b.size != a.size) Error_Msg(Msg_Bt_Unmatched);  // and goes on with operand 1's size
    else if (Keyword_Other_Than(Register_Operand_Size(a))) Error_Msg(Msg_Bt_Size);  // `bt eax,word 3`
    if (!Head_Size(h, Register_Operand_Size(a))) {
      Error_Msg(Msg_Bt_Register);
      return;
    }
    Head_Reg(h, a.low(), a.size, Rex_B);
    Head_Emit(h);
    Emit_Reg_ModRM(field, a.low());
    if (imm) Emit_Imm8(b, Msg_Bt_Value);  // the CPU masks the offset by the operand size
    return;
  }

  if (imm) {
    uint32_t s = Keyword_Operand_Size();
    if (!s && a.kind != Op_Mem_Reg) s = a.size;  // [register] has no size of its own
    if (Params.flags.qword && Mode() != Code_64) s = 0;
    if (!Head_Size(h, s)) {
      Error_Msg(Msg_Bt_Size);
      return;
    }
  } else {
    const uint32_t s = Register_Operand_Size(b);
    if (Keyword_Other_Than(s)) Error_Msg(Msg_Bt_Size);
    else Label_Size_Agrees(a, s);
    if (!Head_Size(h, s)) {
      Error_Msg(Msg_Bt_Register);
      return;
    }
  }
  Emit_Mem_Form(h, Mem_Operand_Of(a), field, imm ? 1 : 0);
  if (imm) Emit_Imm8(b, Msg_Bt_Value);
}

void Encode_Bsx(uint32_t opcode) { Encode_Reg_Rm_0F(opcode, "BSx, unknown encode mode", "BSx, unknown address size"); }

void Encode_Cmovcc(uint32_t condition) {
  Encode_Reg_Rm_0F(condition, "CMOVxx, unknown encode mode", "CMOVxx, unknown address size");
}

// 0F 90+cc /0 on a byte register or byte memory.
void Encode_Setcc(uint32_t condition) {
  if (!Code_Mode_Known()) return;
  const Operand_Record& a = Op1();
  Inst_Head h;
  Head_Opcode2(h, 0x0F, condition);
  if (a.kind == Op_Reg) {
    if (a.size != 8) {
      Error_Msg(Msg_Set_Register);
      return;
    }
    if (Keyword_Other_Than(8)) {
      Error_Msg(Msg_Mismatch);
      return;
    }
    Head_Reg(h, a.low(), a.size, Rex_B);
    Head_Emit(h);
    Emit_Reg_ModRM(0, a.low());
    return;
  }
  if (!Is_Memory_Kind(a.kind)) {
    Error_Msg(Msg_Set_Kind);
    return;
  }
  const auto& f = Params.flags;
  // A label's size is known from pass 2 on (a forward one is a 32-bit
  // placeholder in pass 1); `byte` overrides it. [register] carries the
  // address width, not an operand size.
  const bool wide = a.kind != Op_Mem_Reg && !f.byte_ && a.size > 8 && Pass.Pass_Number >= 2;
  if (f.word || f.dword || f.qword || f.tbyte || wide) {
    Error_Msg(Msg_Set_Target);
    return;
  }
  Emit_Mem_Form(h, Mem_Operand_Of(a), 0, 0);
}

// 0F C0/C1 (xadd), 0F B0/B1 (cmpxchg): r/m, reg with the source register in
// ModRM.reg; the source gives the operand size.
void Encode_Xadd_Cmpxchg(uint32_t opcode) {
  if (!Code_Mode_Known()) return;
  const Operand_Record& a = Op1();
  const Operand_Record& b = Op2();
  Inst_Head h;
  if (b.kind != Op_Reg || (a.kind != Op_Reg && !Is_Memory_Kind(a.kind))) {
    // A pass-1 placeholder of the register form's length keeps the addresses
    // steady until the operands are known.
    if (Pass.Pass_Number >= 2) {
      Error_Msg(Msg_Xadd_Kind);
      return;
    }
    Head_Opcode2(h, 0x0F, opcode);
    Head_Emit(h);
    Emit_Reg_ModRM(0, 0);
    return;
  }
  const uint32_t s = Register_Operand_Size(b);
  Head_Opcode2(h, 0x0F, s == 8 ? opcode & 0xFEu : opcode);
  Head_Reg(h, b.low(), b.size, Rex_R);
  if (a.kind == Op_Reg) {
    if (a.size != b.size || Keyword_Other_Than(s)) Error_Msg(Msg_Mismatch);
    Head_Size(h, s);
    Head_Reg(h, a.low(), a.size, Rex_B);
    Head_Emit(h);
    Emit_Reg_ModRM(b.low(), a.low());
    return;
  }
  if (!Head_Size(h, s)) Error_Msg(Msg_Xadd_Size);
  if (Keyword_Other_Than(s)) Error_Msg(Msg_Mismatch);
  else Label_Size_Agrees(a, s);
  Emit_Mem_Form(h, Mem_Operand_Of(a), b.low(), 0);
}

// ---- Keyword and operand handlers --------------------------------------------------

namespace {

struct Bt_Mnemonic {
  uint32_t mode1, mode2;
  uint32_t digit, reg_opcode;
};

constexpr Bt_Mnemonic Bt_Mnemonics[] = {
    {Mode_Bt_Param1, Mode_Bt_Param2, 4, 0xA3},
    {Mode_Btc_Param1, Mode_Btc_Param2, 7, 0xBB},
    {Mode_Btr_Param1, Mode_Btr_Param2, 6, 0xB3},
    {Mode_Bts_Param1, Mode_Bts_Param2, 5, 0xAB},
};

const Bt_Mnemonic* Current_Bt() {
  for (const Bt_Mnemonic& m : Bt_Mnemonics)
    if (m.mode1 == Parser.Parser_Mode || m.mode2 == Parser.Parser_Mode) return &m;
  return nullptr;
}

void Start(uint32_t mode) {
  Params_Reset();
  Parser.Parser_Mode = mode;
}

// Result 1 (an operand keyword, or a macro call that owns the mode now)
// waits for the operand; otherwise the next mode.
void Next(int result, uint32_t mode) {
  if (result != 1) Parser.Parser_Mode = mode;
}

// The last operand: encode unless the operand parser reported an error.
template <typename F>
void Last(int result, F encode) {
  if (result == 1) return;
  if (result == 0) encode();
  Parser.Parser_Mode = 0;
}

void Bt_Param1(const char* text, uint32_t length) {
  const Bt_Mnemonic* m = Current_Bt();
  const int r = m->mode1 == Mode_Bt_Param1 ? Parse_Operand(text, length, &Op1()) : Parse_Reg_Param1(text, length);
  Next(r, m->mode2);
}

void Bt_Param1_Mem(const char* text, uint32_t length) {
  const Bt_Mnemonic* m = Current_Bt();
  const int r = m->mode1 == Mode_Bt_Param1 ? Parse_Operand_Mem(text, length, &Op1()) : Parse_Mem_Param1(text, length);
  Next(r, m->mode2);
}

void Bt_Param2(const char* text, uint32_t length) {
  const Bt_Mnemonic* m = Current_Bt();
  const int r = m->mode1 == Mode_Bt_Param1 ? Parse_Operand(text, length, &Op2()) : Parse_Param2(text, length);
  Last(r, [m] { Encode_Bt_Group(m->digit, m->reg_opcode); });
}

uint32_t Bsx_Opcode() {
  const uint32_t mode = Parser.Parser_Mode;
  return mode == Mode_Bsf_Param1 || mode == Mode_Bsf_Param2 ? 0xBCu : 0xBDu;
}

void Bsx_Param1(const char* text, uint32_t length) {
  Next(Parse_Operand(text, length, &Op1()), Parser.Parser_Mode + 1);
}

void Bsx_Param2(const char* text, uint32_t length) {
  const uint32_t opcode = Bsx_Opcode();
  Last(Parse_Operand(text, length, &Op2()), [opcode] { Encode_Bsx(opcode); });
}

void Bsx_Param2_Mem(const char* text, uint32_t length) {
  const uint32_t opcode = Bsx_Opcode();
  Last(Parse_Operand_Mem(text, length, &Op2()), [opcode] { Encode_Bsx(opcode); });
}

void Cmov_Param1(const char* text, uint32_t length) { Next(Parse_Operand(text, length, &Op1()), Mode_Cmov_Param2); }

void Cmov_Param2(const char* text, uint32_t length) {
  Last(Parse_Operand(text, length, &Op2()), [] { Encode_Cmovcc(Bits.Cmovcc_Opcode); });
}

void Cmov_Param2_Mem(const char* text, uint32_t length) {
  Last(Parse_Operand_Mem(text, length, &Op2()), [] { Encode_Cmovcc(Bits.Cmovcc_Opcode); });
}

void Setcc_Param(const char* text, uint32_t length) {
  Last(Parse_Operand(text, length, &Op1()), [] { Encode_Setcc(Bits.Setcc_Opcode); });
}

void Setcc_Param_Mem(const char* text, uint32_t length) {
  Last(Parse_Operand_Mem(text, length, &Op1()), [] { Encode_Setcc(Bits.Setcc_Opcode); });
}

uint32_t Xadd_Opcode() {
  const uint32_t mode = Parser.Parser_Mode;
  return mode == Mode_Xadd_Param1 || mode == Mode_Xadd_Param2 ? 0xC1u : 0xB1u;
}

void Exchange_Param1(const char* text, uint32_t length) {
  Next(Parse_Operand(text, length, &Op1()), Parser.Parser_Mode + 1);
}

void Exchange_Param1_Mem(const char* text, uint32_t length) {
  Next(Parse_Operand_Mem(text, length, &Op1()), Parser.Parser_Mode + 1);
}

void Exchange_Param2(const char* text, uint32_t length) {
  const uint32_t opcode = Xadd_Opcode();
  Last(Parse_Operand(text, length, &Op2()), [opcode] { Encode_Xadd_Cmpxchg(opcode); });
}

constexpr Mode_Handler Words[] = {
    {Mode_Bt_Param1, Bt_Param1},        {Mode_Bt_Param2, Bt_Param2},
    {Mode_Btc_Param1, Bt_Param1},       {Mode_Btc_Param2, Bt_Param2},
    {Mode_Btr_Param1, Bt_Param1},       {Mode_Btr_Param2, Bt_Param2},
    {Mode_Bts_Param1, Bt_Param1},       {Mode_Bts_Param2, Bt_Param2},
    {Mode_Bsf_Param1, Bsx_Param1},      {Mode_Bsf_Param2, Bsx_Param2},
    {Mode_Bsr_Param1, Bsx_Param1},      {Mode_Bsr_Param2, Bsx_Param2},
    {Mode_Cmov_Param1, Cmov_Param1},    {Mode_Cmov_Param2, Cmov_Param2},
    {Mode_Setcc_Param, Setcc_Param},    {Mode_Xadd_Param1, Exchange_Param1},
    {Mode_Xadd_Param2, Exchange_Param2}, {Mode_Cmpxchg_Param1, Exchange_Param1},
    {Mode_Cmpxchg_Param2, Exchange_Param2},
};

constexpr Mode_Handler Brackets[] = {
    {Mode_Bt_Param1, Bt_Param1_Mem},          {Mode_Btc_Param1, Bt_Param1_Mem},
    {Mode_Btr_Param1, Bt_Param1_Mem},         {Mode_Bts_Param1, Bt_Param1_Mem},
    {Mode_Bsf_Param2, Bsx_Param2_Mem},        {Mode_Bsr_Param2, Bsx_Param2_Mem},
    {Mode_Cmov_Param2, Cmov_Param2_Mem},      {Mode_Setcc_Param, Setcc_Param_Mem},
    {Mode_Xadd_Param1, Exchange_Param1_Mem},  {Mode_Cmpxchg_Param1, Exchange_Param1_Mem},
};

}  // namespace

void Inst_Bt(const Keyword_Entry*) { Start(Mode_Bt_Param1); }
void Inst_Btc(const Keyword_Entry*) { Start(Mode_Btc_Param1); }
void Inst_Btr(const Keyword_Entry*) { Start(Mode_Btr_Param1); }
void Inst_Bts(const Keyword_Entry*) { Start(Mode_Bts_Param1); }
void Inst_Bsf(const Keyword_Entry*) { Start(Mode_Bsf_Param1); }
void Inst_Bsr(const Keyword_Entry*) { Start(Mode_Bsr_Param1); }

void Inst_Cmovcc(const Keyword_Entry* keyword) {
  Bits.Cmovcc_Opcode = keyword->payload[0];
  Start(Mode_Cmov_Param1);
}

void Inst_Setcc(const Keyword_Entry* keyword) {
  Bits.Setcc_Opcode = keyword->payload[0];
  Start(Mode_Setcc_Param);
}

void Inst_Xadd(const Keyword_Entry*) { Start(Mode_Xadd_Param1); }
void Inst_Cmpxchg(const Keyword_Entry*) { Start(Mode_Cmpxchg_Param1); }

extern const Mode_Table Bits_Mode_Table = {
    "bits", Words, sizeof(Words) / sizeof(Words[0]), Brackets, sizeof(Brackets) / sizeof(Brackets[0]), nullptr, 0,
};
