// SSE families with their bytes in the keyword records: two-operand
// (Encode_Sse), with an immediate byte (Encode_Sse_Imm8), extract
// (Encode_Sse_Extract), CRC32 and POPCNT, and the forms of their own of
// psrldq/pslldq (66 0F 73 /3 and /7 ib) and pextrw1 (66 0F C5 /r ib).
//
// Operands that the published forms give as MMX or general registers are
// written as the XMM register of that number (cvtpi2ps xmm0,xmm1 reads mm1,
// pmovmskb xmm2,xmm1 writes edx); an MMX place takes numbers 0-7 only.
#include "encode_ext/sse.h"

#include "core/assemble.h"
#include "core/diag.h"
#include "core/keywords.h"
#include "encode/modrm.h"
#include "output/sections.h"

Sse_State Sse;

namespace {

constexpr const char* Msg_Types = "SSE, can not encode this parameter types";
constexpr const char* Msg_Reg16 = "SSE, can not encode this register in 16 bits";
constexpr const char* Msg_Reg32 = "SSE, can not encode this register in 32 bits";
constexpr const char* Msg_Imm8 = "SSE, value too big, can not be encoded.";

uint8_t Byte(uint32_t v) { return static_cast<uint8_t>(v); }
const Operand_Record& Op3() { return Params.op[2]; }

Inst_Head Row_Head(const Sse_Fields& f) {
  Inst_Head h;
  if (f.prefix != Payload_None) h.mandatory = Byte(f.prefix);
  for (uint32_t b : {f.escape, f.opcode, f.third})
    if (b != Payload_None && h.length < 3) h.opcode[h.length++] = Byte(b);
  return h;
}

// A register number that needs REX (8-15) outside 64-bit code.
bool High(uint32_t number) { return number > 7 && number < 16; }

}  // namespace

void Sse_Emit(const Sse_Fields& f, const Sse_Form& s) {
  Inst_Head h = Row_Head(f);
  h.p66 = s.p66;
  h.p66_first = s.p66_first;
  const Operand_Record& rm = *s.rm;
  const bool m64 = Mode() == Code_64;
  const bool memory = Is_Memory_Kind(rm.kind);
  if (!m64 && (High(s.reg) || (!memory && High(rm.low())))) Error_Msg(Mode() == Code_16 ? Msg_Reg16 : Msg_Reg32);
  if (s.reg_gpr_size) Head_Reg(h, s.reg, s.reg_gpr_size, Rex_R);
  else if (m64 && s.reg > 7) h.rex |= Rex_R;
  Mem_Operand m;
  if (memory) {
    if (s.mem_size) Keyword_Size_Agrees(s.mem_size);
    m = Mem_Operand_Of(rm);
    Head_Mem(h, m);
  } else if (rm.kind == Op_Reg) {
    Head_Reg(h, rm.low(), rm.size, Rex_B);
  } else if (m64 && rm.low() > 7) {
    h.rex |= Rex_B;
  }
  if (m64 && (s.w == W_Always || (s.w == W_With_Rex && h.rex))) h.rex |= Rex_W;
  Head_Emit(h);
  if (memory) Mem_Emit(m, s.reg, s.trailing);
  else Emit_Byte(Byte(0xC0u | (s.reg & 7) << 3 | (rm.low() & 7)));
}

void Sse_Kind_Mismatch(const Sse_Fields& f) {
  if (Pass.Pass_Number >= 2) {
    Error_Msg(Msg_Types);
    return;
  }
  Head_Emit(Row_Head(f));
  Emit_Byte(Byte(0xC0u | (Op1().low() & 7) << 3 | (Op2().low() & 7)));
}

namespace {

// What an operand place of a mnemonic holds.
enum Place : uint8_t { Place_Xmm, Place_Mmx, Place_Gpr };

struct Sse_Places {
  Place dest, source;
  bool memory;  // the source may be memory
};

Sse_Places Places_Of(const Sse_Fields& f) {
  if (f.opcode == 0x3A && (f.third == 0x20 || f.third == 0x22)) return {Place_Xmm, Place_Gpr, true};  // pinsrb/d
  if (f.third != Payload_None) return {Place_Xmm, Place_Xmm, true};
  switch (f.opcode) {
    case 0x2D: return {Place_Mmx, Place_Xmm, true};   // cvtpd2pi, cvtps2pi
    case 0x2A: return {Place_Xmm, Place_Mmx, true};   // cvtpi2pd, cvtpi2ps
    case 0xD7: return {Place_Gpr, Place_Xmm, false};  // pmovmskb
    case 0xC4: return {Place_Xmm, Place_Gpr, true};   // pinsrw
    case 0x70:
      if (f.prefix == Payload_None) return {Place_Mmx, Place_Mmx, true};  // pshufw
      break;
    default: break;
  }
  return {Place_Xmm, Place_Xmm, true};
}

// A register operand fits its place: an XMM register of the place's range,
// or in a general-register place a 32-bit register (64-bit too as a
// destination, whose upper half the instruction zeroes).
bool Place_Ok(Place place, const Operand_Record& r, bool dest) {
  if (r.kind == Op_XMM) return place != Place_Mmx || r.low() < 8;
  if (r.kind == Op_Reg && place == Place_Gpr) return r.size == 32 || (dest && r.size == 64);
  return false;
}

uint32_t Gpr_Size(const Operand_Record& r) { return r.kind == Op_Reg ? r.size : 0; }

// The bits that a memory source of the form reads: 128 unless the form takes
// a scalar, a half or an element. A label's declared size is not compared:
// vector code reads tables through labels of their element size.
uint32_t Memory_Bits(const Sse_Fields& f) {
  struct Row {
    uint32_t prefix, opcode, third, bits;
  };
  constexpr uint32_t N = Payload_None;
  constexpr Row Rows[] = {
      {0xF3, 0x51, N, 32}, {0xF3, 0x52, N, 32}, {0xF3, 0x53, N, 32}, {0xF3, 0x58, N, 32},  // sqrtss..addss
      {0xF3, 0x59, N, 32}, {0xF3, 0x5C, N, 32}, {0xF3, 0x5D, N, 32}, {0xF3, 0x5E, N, 32},
      {0xF3, 0x5F, N, 32}, {0xF3, 0xC2, N, 32},                                          // cmpss
      {0xF2, 0x51, N, 64}, {0xF2, 0x58, N, 64}, {0xF2, 0x59, N, 64}, {0xF2, 0x5C, N, 64},  // sqrtsd..subsd
      {0xF2, 0x5D, N, 64}, {0xF2, 0x5E, N, 64}, {0xF2, 0x5F, N, 64}, {0xF2, 0xC2, N, 64},  // cmpsd
      {N, 0x2E, N, 32},    {N, 0x2F, N, 32},    {0x66, 0x2E, N, 64}, {0x66, 0x2F, N, 64},  // (u)comiss/sd
      {0xF3, 0xE6, N, 64}, {N, 0x5A, N, 64},                                              // cvtdq2pd, cvtps2pd
      {N, 0x2A, N, 64},    {0x66, 0x2A, N, 64}, {N, 0x2D, N, 64},                         // cvtpi2ps/pd, cvtps2pi
      {N, 0x70, N, 64},    {0x66, 0xC4, N, 16},                                           // pshufw, pinsrw
      {0x66, 0x38, 0x20, 64}, {0x66, 0x38, 0x21, 32}, {0x66, 0x38, 0x22, 16},             // pmovsxbw/bd/bq
      {0x66, 0x38, 0x23, 64}, {0x66, 0x38, 0x24, 32}, {0x66, 0x38, 0x25, 64},             // pmovsxwd/wq/dq
      {0x66, 0x38, 0x30, 64}, {0x66, 0x38, 0x31, 32}, {0x66, 0x38, 0x32, 16},             // pmovzx...
      {0x66, 0x38, 0x33, 64}, {0x66, 0x38, 0x34, 32}, {0x66, 0x38, 0x35, 64},
      {0x66, 0x3A, 0x0A, 32}, {0x66, 0x3A, 0x0B, 64},                                     // roundss, roundsd
      {0x66, 0x3A, 0x20, 8},  {0x66, 0x3A, 0x21, 32}, {0x66, 0x3A, 0x22, 32},             // pinsrb, insertps, pinsrd
      {0x66, 0x3A, 0x14, 8},  {0x66, 0x3A, 0x15, 16}, {0x66, 0x3A, 0x16, 32},             // pextrb/w/d
      {0x66, 0x3A, 0x17, 32},                                                             // extractps
  };
  for (const Row& r : Rows)
    if (r.prefix == f.prefix && r.opcode == f.opcode && r.third == f.third) return r.bits;
  return 128;
}

bool Operands_Fit(const Sse_Fields& f) {
  const Sse_Places p = Places_Of(f);
  const Operand_Record& b = Op2();
  if (!Place_Ok(p.dest, Op1(), true)) return false;
  return Is_Memory_Kind(b.kind) ? p.memory : Place_Ok(p.source, b, false);
}

}  // namespace

void Encode_Sse(const Sse_Fields& f) {
  if (!Code_Mode_Known()) return;
  if (!Operands_Fit(f)) {
    Sse_Kind_Mismatch(f);
    return;
  }
  Sse_Form s;
  s.reg = Op1().low();
  s.reg_gpr_size = Gpr_Size(Op1());
  s.rm = &Op2();
  s.w = Is_Memory_Kind(Op2().kind) ? W_Never : W_With_Rex;
  s.mem_size = Memory_Bits(f);
  Sse_Emit(f, s);
}

void Encode_Sse_Imm8(const Sse_Fields& f) {
  if (!Code_Mode_Known()) return;
  if (!Operands_Fit(f) || Op3().kind != Op_Imm) {
    Sse_Kind_Mismatch(f);
    return;
  }
  // pinsrd, pcmpestrm and pcmpestri take W as pinsrq and 64-bit lengths.
  const bool w_means = f.opcode == 0x3A && (f.third == 0x22 || f.third == 0x60 || f.third == 0x61);
  Sse_Form s;
  s.reg = Op1().low();
  s.rm = &Op2();
  s.w = w_means ? W_Never : W_With_Rex;
  s.trailing = 1;
  s.mem_size = Memory_Bits(f);
  Sse_Emit(f, s);
  Emit_Imm8(Op3(), Msg_Imm8);
}

void Encode_Sse_Extract(const Sse_Fields& f) {
  if (!Code_Mode_Known()) return;
  const Operand_Record& a = Op1();
  const bool memory = Is_Memory_Kind(a.kind);
  const bool pextrd = f.third == 0x16;
  const bool wide = memory ? Params.flags.qword || (a.kind != Op_Mem_Reg && a.size == 64) : a.size == 64;
  const bool dest_ok = memory || (a.kind == Op_Reg && (a.size == 32 || a.size == 64));
  // Only pextrd has a 64-bit form (pextrq), and only in 64-bit code.
  const bool wide_ok = !wide || !memory || !pextrd || Mode() == Code_64;
  if (!dest_ok || !wide_ok || Op2().kind != Op_XMM || Op3().kind != Op_Imm) {
    Sse_Kind_Mismatch(f);
    return;
  }
  Sse_Form s;
  s.reg = Op2().low();
  s.rm = &a;
  s.w = pextrd && wide ? W_Always : W_Never;
  s.trailing = 1;
  s.mem_size = pextrd && wide ? 64 : Memory_Bits(f);  // pextrq stores a qword
  Sse_Emit(f, s);
  Emit_Imm8(Op3(), Msg_Imm8);
}

void Encode_Crc32_Popcnt(const Sse_Fields& f) {
  if (!Code_Mode_Known()) return;
  const bool crc = f.third != Payload_None;
  const Operand_Record& a = Op1();
  const Operand_Record& b = Op2();
  if (a.kind != Op_Reg || (b.kind != Op_Reg && !Is_Memory_Kind(b.kind))) {
    Sse_Kind_Mismatch(f);
    return;
  }
  const uint32_t dest = a.size;
  uint32_t source = 0;
  if (b.kind == Op_Reg) {
    source = b.size;
    if (Keyword_Contradicts(source)) return;  // a keyword names the source: `crc32 eax,byte bl`
  } else {
    const auto& k = Params.flags;
    source = k.byte_ ? 8 : k.word ? 16 : k.dword ? 32 : k.qword ? 64 : k.tbyte ? 80 : 0;
    // A label (also one in [base+index*scale+disp]) or frame variable brings
    // its size, any other address none; a size without a form (`tbyte`, a
    // 10-byte label) is refused below.
    const bool sized = b.kind == Op_Mem_Direct || b.kind == Op_Mem_Complex || b.kind == Op_Local || b.kind == Op_Arg;
    if (!source && sized) source = b.size;
    if (!source) source = crc ? (dest == 64 ? 64 : 32) : dest;
  }
  const bool ok = crc ? (dest == 32 && source <= 32) || (dest == 64 && (source == 8 || source == 64))
                      : (dest == 16 || dest == 32 || dest == 64) && source == dest;
  if (!ok || (dest == 64 && Mode() != Code_64)) {
    Sse_Kind_Mismatch(f);
    return;
  }
  Sse_Fields g = f;
  if (crc && source == 8) g.third &= 0xFE;
  Sse_Form s;
  s.reg = a.low();
  s.reg_gpr_size = dest;
  s.rm = &b;
  s.w = dest == 64 ? W_Always : W_Never;
  s.p66 = (Mode() == Code_16 && source == 32) || (Mode() != Code_16 && source == 16);
  s.p66_first = 1;
  Sse_Emit(g, s);
}

namespace {

// psrldq / pslldq xmm, imm8: 66 0F 73 /3 or /7 ib, the register in ModRM.rm.
void Encode_Byte_Shift(const Sse_Fields& f) {
  if (!Code_Mode_Known()) return;
  if (Op1().kind != Op_XMM || Op2().kind != Op_Imm) {
    Sse_Kind_Mismatch(f);
    return;
  }
  Sse_Form s;
  s.reg = Sse.Shift_Digit;
  s.rm = &Op1();
  Sse_Emit(f, s);
  Emit_Imm8(Op2(), Msg_Imm8);
}

// pextrw1 r32, xmm, imm8: 66 0F C5 /r ib, the general register in ModRM.reg.
void Encode_Pextrw1(const Sse_Fields& f) {
  if (!Code_Mode_Known()) return;
  if (!Place_Ok(Place_Gpr, Op1(), true) || Op2().kind != Op_XMM || Op3().kind != Op_Imm) {
    Sse_Kind_Mismatch(f);
    return;
  }
  Sse_Form s;
  s.reg = Op1().low();
  s.reg_gpr_size = Gpr_Size(Op1());
  s.rm = &Op2();
  Sse_Emit(f, s);
  Emit_Imm8(Op3(), Msg_Imm8);
}

// ---- Operand handlers ------------------------------------------------------------------

// Parses a word or bracket into operand `index`; false while the statement
// waits for the real operand (a modifier keyword or a macro call).
bool Take(const char* text, uint32_t length, uint32_t index, bool memory) {
  Operand_Record* r = &Params.op[index];
  return (memory ? Parse_Operand_Mem(text, length, r) : Parse_Operand(text, length, r)) != 1;
}

template <uint32_t Index, uint32_t Next, bool Memory>
void Step(const char* text, uint32_t length) {
  if (Take(text, length, Index, Memory)) Parser.Parser_Mode = Next;
}

template <uint32_t Index, bool Memory, void (*Encode)(const Sse_Fields&)>
void Last(const char* text, uint32_t length) {
  if (!Take(text, length, Index, Memory)) return;
  Parser.Parser_Mode = 0;
  Encode(Sse.Sse_Opcode_Fields);
}

// A memory destination: reported, and the statement goes on with the next operand.
template <uint32_t Next>
void No_Memory(const char* text, uint32_t length) {
  Error_Text("Can not take [] here: ", text, length);
  Parser.Parser_Mode = Next;
}

void Load_Fields(const Keyword_Entry* keyword) {
  Params_Reset();
  const uint32_t* p = keyword->payload;
  Sse.Sse_Opcode_Fields = {p[0], p[1], p[2], p[3]};
}

constexpr Mode_Handler Words[] = {
    {Mode_Sse_Param1, Step<0, Mode_Sse_Param2, false>},
    {Mode_Sse_Param2, Last<1, false, Encode_Sse>},
    {Mode_Crc32_Param1, Step<0, Mode_Crc32_Param2, false>},
    {Mode_Crc32_Param2, Last<1, false, Encode_Crc32_Popcnt>},
    {Mode_Sse_Imm8_Param1, Step<0, Mode_Sse_Imm8_Param2, false>},
    {Mode_Sse_Imm8_Param2, Step<1, Mode_Sse_Imm8_Param3, false>},
    {Mode_Sse_Imm8_Param3, Last<2, false, Encode_Sse_Imm8>},
    {Mode_Sse_Extract_Param1, Step<0, Mode_Sse_Extract_Param2, false>},
    {Mode_Sse_Extract_Param2, Step<1, Mode_Sse_Extract_Param3, false>},
    {Mode_Sse_Extract_Param3, Last<2, false, Encode_Sse_Extract>},
    {Mode_Sse_Shift_Param1, Step<0, Mode_Sse_Shift_Param2, false>},
    {Mode_Sse_Shift_Param2, Last<1, false, Encode_Byte_Shift>},
    {Mode_Pextrw1_Param1, Step<0, Mode_Pextrw1_Param2, false>},
    {Mode_Pextrw1_Param2, Step<1, Mode_Pextrw1_Param3, false>},
    {Mode_Pextrw1_Param3, Last<2, false, Encode_Pextrw1>},
};
constexpr Mode_Handler Brackets[] = {
    {Mode_Sse_Param1, No_Memory<Mode_Sse_Param2>},
    {Mode_Crc32_Param1, No_Memory<Mode_Crc32_Param2>},
    {Mode_Sse_Imm8_Param1, No_Memory<Mode_Sse_Imm8_Param2>},
    {Mode_Sse_Shift_Param1, No_Memory<Mode_Sse_Shift_Param2>},
    {Mode_Pextrw1_Param1, No_Memory<Mode_Pextrw1_Param2>},
    {Mode_Sse_Param2, Last<1, true, Encode_Sse>},
    {Mode_Crc32_Param2, Last<1, true, Encode_Crc32_Popcnt>},
    {Mode_Sse_Imm8_Param2, Step<1, Mode_Sse_Imm8_Param3, true>},
    {Mode_Sse_Extract_Param1, Step<0, Mode_Sse_Extract_Param2, true>},
    {Mode_Sse_Shift_Param2, Last<1, true, Encode_Byte_Shift>},
    {Mode_Pextrw1_Param2, Step<1, Mode_Pextrw1_Param3, true>},
};

}  // namespace

void Inst_Sse(const Keyword_Entry* keyword) {
  Load_Fields(keyword);
  switch (Sse.Sse_Opcode_Fields.opcode) {
    case 0x73:  // psrldq
      Sse.Shift_Digit = 3;
      Parser.Parser_Mode = Mode_Sse_Shift_Param1;
      return;
    case 0xC5: Parser.Parser_Mode = Mode_Pextrw1_Param1; return;
    default: Parser.Parser_Mode = Mode_Sse_Param1; return;
  }
}

void Inst_Sse_Imm8(const Keyword_Entry* keyword) {
  Load_Fields(keyword);
  if (Sse.Sse_Opcode_Fields.opcode == 0x73) {  // pslldq
    Sse.Shift_Digit = 7;
    Parser.Parser_Mode = Mode_Sse_Shift_Param1;
    return;
  }
  Parser.Parser_Mode = Mode_Sse_Imm8_Param1;
}

void Inst_Sse_Extract(const Keyword_Entry* keyword) {
  Load_Fields(keyword);
  Parser.Parser_Mode = Mode_Sse_Extract_Param1;
}

void Inst_Crc32_Popcnt(const Keyword_Entry* keyword) {
  Load_Fields(keyword);
  Parser.Parser_Mode = Mode_Crc32_Param1;
}

extern const Mode_Table Sse_Mode_Table = {"sse", Words, sizeof(Words) / sizeof(Words[0]), Brackets,
                                          sizeof(Brackets) / sizeof(Brackets[0]), nullptr, 0};
