// MOVQ, MOVD and MOVBE: fixed bytes, the direction picked by which operand is
// the register; the forms are written by the SSE form writer (sse.h).
//
//   movq  xmm,xmm/m64 F3 0F 7E   mm,mm/m64 0F 6F   m64,xmm 66 0F D6   m64,mm 0F 7F
//         xmm,mm F3 0F D6 (movq2dq)                mm,xmm F2 0F D6 (movdq2q)
//   movd  mm/xmm,r32/m32 [66] 0F 6E                r32/m32,mm/xmm [66] 0F 7E
//   movbe r,m 0F 38 F0                             m,r 0F 38 F1
#include <utility>

#include "core/assemble.h"
#include "core/diag.h"
#include "core/keywords.h"
#include "encode/modrm.h"
#include "encode/opcodes.h"
#include "encode_ext/sse.h"

namespace {

constexpr const char* Msg_Types = "SSE, can not encode this parameter types";
constexpr const char* Msg_Movq_Register = "MOVQ, parameter must be XMM or MMX register: ";
constexpr const char* Msg_Movq_Size = "MOVQ, parameter has invalid size: ";
constexpr const char* Msg_Movd_Size = "MOVD, parameter has invalid size: ";
constexpr const char* Msg_Movd_Types = "MOVD, can not encode this parameter type ";
constexpr const char* Msg_Movbe_Type = "MOVBE, wrong param type";
constexpr const char* Msg_Movbe_Size = "MOVBE, wrong param size";

constexpr uint32_t None = Payload_None;

bool Is_Vector(uint32_t kind) { return kind == Op_XMM || kind == Op_MMX; }

// A pair that no form takes: four filler bytes keep pass 1's layout.
void No_Form(const char* message) {
  if (Pass.Pass_Number >= 2) Error_Msg(message);
  else Emit_Fill(4);
}

}  // namespace

void Encode_Movq() {
  if (!Code_Mode_Known()) return;
  const Operand_Record& a = Op1();
  const Operand_Record& b = Op2();
  Sse_Form s;
  Sse_Fields f;
  if (Is_Vector(a.kind) && (Is_Vector(b.kind) || Is_Memory_Kind(b.kind))) {
    const bool xmm = a.kind == Op_XMM;
    if (Is_Vector(b.kind) && b.kind != a.kind) f = xmm ? Sse_Fields{0xF3, 0x0F, 0xD6, None}   // movq2dq
                                                      : Sse_Fields{0xF2, 0x0F, 0xD6, None};  // movdq2q
    else f = xmm ? Sse_Fields{0xF3, 0x0F, 0x7E, None} : Sse_Fields{None, 0x0F, 0x6F, None};
    s.reg = a.low();
    s.rm = &b;
    s.w = Is_Vector(b.kind) ? W_With_Rex : W_Never;
  } else if (Is_Vector(b.kind) && Is_Memory_Kind(a.kind)) {
    f = b.kind == Op_XMM ? Sse_Fields{0x66, 0x0F, 0xD6, None} : Sse_Fields{None, 0x0F, 0x7F, None};
    s.reg = b.low();
    s.rm = &a;
    s.w = a.kind == Op_Mem_Reg ? W_With_Rex : W_Never;
  } else {
    No_Form(Msg_Types);
    return;
  }
  Sse_Emit(f, s);
}

void Encode_Movd() {
  if (!Code_Mode_Known()) return;
  const Operand_Record& a = Op1();
  const Operand_Record& b = Op2();
  auto general = [](const Operand_Record& r) { return r.kind == Op_Reg || Is_Memory_Kind(r.kind); };
  const Operand_Record* vector = nullptr;
  const Operand_Record* other = nullptr;
  bool load = true;
  for (uint32_t kind : {Op_MMX, Op_XMM}) {
    if (a.kind == kind && general(b)) {
      vector = &a;
      other = &b;
    } else if (b.kind == kind && general(a)) {
      vector = &b;
      other = &a;
      load = false;
    }
    if (vector) break;
  }
  if (!vector) {
    No_Form(Msg_Movd_Types);
    return;
  }
  const Sse_Fields f = {vector->kind == Op_XMM ? 0x66u : None, 0x0F, load ? 0x6Eu : 0x7Eu, None};
  Sse_Form s;
  s.reg = vector->low();
  s.rm = other;
  Sse_Emit(f, s);
}

void Encode_Movbe() {
  if (!Code_Mode_Known()) return;
  const Operand_Record* reg = &Op1();
  const Operand_Record* mem = &Op2();
  bool load = true;
  if (reg->kind != Op_Reg || !Is_Memory_Kind(mem->kind)) {
    std::swap(reg, mem);
    load = false;
    if (reg->kind != Op_Reg || !Is_Memory_Kind(mem->kind)) {
      Error_Msg(Msg_Movbe_Type);
      return;
    }
  }
  const uint32_t size = reg->size;
  if (size != 16 && size != 32 && !(size == 64 && Mode() == Code_64)) {
    Error_Msg(Msg_Movbe_Size);
    return;
  }
  // A keyword or a label, variable or address expression of a known other size.
  if (Pass.Pass_Number >= 2 && !Keyword_Names_Size(size)) {
    const bool keyword = Params_Keyword_Size() != 0;
    const bool other = mem->kind != Op_Mem_Reg && mem->size != 0 && mem->size != size;
    if (keyword || other) Error_Msg(Msg_Movbe_Size);
  }
  Sse_Form s;
  s.reg = reg->low();
  s.reg_gpr_size = size;
  s.rm = mem;
  s.w = size == 64 ? W_Always : W_Never;
  s.p66 = (Mode() == Code_16 && size == 32) || (Mode() != Code_16 && size == 16);
  Sse_Emit({None, 0x0F, 0x38, load ? 0xF0u : 0xF1u}, s);
}

namespace {

// ---- Operand handlers ----------------------------------------------------------------

// Parses into operand `index`; false while the statement waits for the real
// operand (a modifier keyword or a macro call).
bool Take(const char* text, uint32_t length, uint32_t index, bool memory) {
  Operand_Record* r = &Params.op[index];
  return (memory ? Parse_Operand_Mem(text, length, r) : Parse_Operand(text, length, r)) != 1;
}

// A size keyword holds for the whole statement. On two registers it is
// reported once, at the second; beside memory, memory's check reports it.
bool Register_Keyword_Due(uint32_t index) { return index == 1 && !Is_Memory_Kind(Params.op[0].kind); }

// MOVQ: a word must be a vector register; memory must be 64 bits ([register]
// with `qword`).
void Movq_Check(const char* text, uint32_t length, const Operand_Record& r, bool memory, uint32_t index) {
  if (Pass.Pass_Number < 2) return;
  const uint32_t keyword = Params_Keyword_Size();
  if (!memory) {
    if (!Is_Vector(r.kind)) Error_Text(Msg_Movq_Register, text, length);
    else if (Register_Keyword_Due(index) && keyword != 0 && keyword != 64) Error_Text(Msg_Movq_Size, text, length);
    return;
  }
  const bool ok = keyword == 64 || (keyword == 0 && r.kind != Op_Mem_Reg && r.size == 64);
  if (!ok) Error_Text(Msg_Movq_Size, text, length);
}

// MOVD: a word is a vector register or 32 bits; memory 32 bits ([register] with `dword`).
// A size keyword names 32 bits, as MOVQ's names 64.
void Movd_Check(const char* text, uint32_t length, const Operand_Record& r, bool memory, uint32_t index) {
  if (Pass.Pass_Number < 2) return;
  const uint32_t keyword = Params_Keyword_Size();
  const bool keyword_ok = keyword == 0 || keyword == 32 || !Register_Keyword_Due(index);
  const bool ok = memory ? keyword == 32 || (keyword == 0 && r.kind != Op_Mem_Reg && r.size == 32)
                         : keyword_ok && (Is_Vector(r.kind) || r.size == 32);
  if (!ok) Error_Text(Msg_Movd_Size, text, length);
}

void Movbe_Check(const char*, uint32_t, const Operand_Record&, bool, uint32_t) {}

template <uint32_t Index, uint32_t Next, bool Memory,
          void (*Check)(const char*, uint32_t, const Operand_Record&, bool, uint32_t), void (*Encode)()>
void Operand(const char* text, uint32_t length) {
  if (!Take(text, length, Index, Memory)) return;
  Check(text, length, Params.op[Index], Memory, Index);
  Parser.Parser_Mode = Next;
  Encode();
}

void No_Encode() {}

constexpr Mode_Handler Words[] = {
    {Mode_Movq_Param1, Operand<0, Mode_Movq_Param2, false, Movq_Check, No_Encode>},
    {Mode_Movq_Param2, Operand<1, 0, false, Movq_Check, Encode_Movq>},
    {Mode_Movd_Param1, Operand<0, Mode_Movd_Param2, false, Movd_Check, No_Encode>},
    {Mode_Movd_Param2, Operand<1, 0, false, Movd_Check, Encode_Movd>},
    {Mode_Movbe_Param1, Operand<0, Mode_Movbe_Param2, false, Movbe_Check, No_Encode>},
    {Mode_Movbe_Param2, Operand<1, 0, false, Movbe_Check, Encode_Movbe>},
};
constexpr Mode_Handler Brackets[] = {
    {Mode_Movq_Param1, Operand<0, Mode_Movq_Param2, true, Movq_Check, No_Encode>},
    {Mode_Movq_Param2, Operand<1, 0, true, Movq_Check, Encode_Movq>},
    {Mode_Movd_Param1, Operand<0, Mode_Movd_Param2, true, Movd_Check, No_Encode>},
    {Mode_Movd_Param2, Operand<1, 0, true, Movd_Check, Encode_Movd>},
    {Mode_Movbe_Param1, Operand<0, Mode_Movbe_Param2, true, Movbe_Check, No_Encode>},
    {Mode_Movbe_Param2, Operand<1, 0, true, Movbe_Check, Encode_Movbe>},
};

}  // namespace

void Inst_Movq(const Keyword_Entry*) {
  Params_Reset();
  Parser.Parser_Mode = Mode_Movq_Param1;
}

void Inst_Movd(const Keyword_Entry*) {
  Params_Reset();
  Parser.Parser_Mode = Mode_Movd_Param1;
}

void Inst_Movbe(const Keyword_Entry*) {
  Params_Reset();
  Parser.Parser_Mode = Mode_Movbe_Param1;
}

extern const Mode_Table Simd_Move_Mode_Table = {"movq, movd and movbe", Words, sizeof(Words) / sizeof(Words[0]),
                                                Brackets, sizeof(Brackets) / sizeof(Brackets[0]), nullptr, 0};
