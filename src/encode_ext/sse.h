// SSE instructions whose bytes come from their keyword records (two-operand,
// with an immediate byte, extract), CRC32 and POPCNT, the byte shifts
// psrldq/pslldq and pextrw1, and MOVQ, MOVD and MOVBE with fixed bytes.
//
// Every form is written as
//   [66h/67h] [F2|F3|66 mandatory] [REX] 0F [38|3A] opcode ModRM [SIB] [disp] [imm8]
// on the instruction head of the encoding layer; memory operands go through
// Mem_Operand_Of/Mem_Emit, so 67h and REX.X/B follow the address-width table.
#pragma once
#include <cstdint>

#include "core/dispatch.h"
#include "core/operands.h"

struct Keyword_Entry;

// The four byte fields of the current statement's keyword record: mandatory
// prefix, escape, opcode (or 38h/3Ah), third byte; Payload_None = none.
struct Sse_Fields {
  uint32_t prefix, escape, opcode, third;
};

struct Sse_State {
  Sse_Fields Sse_Opcode_Fields = {};
  uint32_t Shift_Digit = 0;  // psrldq /3, pslldq /7
};
extern Sse_State Sse;

void Encode_Sse(const Sse_Fields& f);
void Encode_Sse_Imm8(const Sse_Fields& f);
void Encode_Sse_Extract(const Sse_Fields& f);
void Encode_Crc32_Popcnt(const Sse_Fields& f);
void Encode_Movq();
void Encode_Movd();
void Encode_Movbe();

void Inst_Sse(const Keyword_Entry* keyword);
void Inst_Sse_Imm8(const Keyword_Entry* keyword);
void Inst_Sse_Extract(const Keyword_Entry* keyword);
void Inst_Crc32_Popcnt(const Keyword_Entry* keyword);
void Inst_Movq(const Keyword_Entry* keyword);
void Inst_Movd(const Keyword_Entry* keyword);
void Inst_Movbe(const Keyword_Entry* keyword);

extern const Mode_Table Sse_Mode_Table;
extern const Mode_Table Simd_Move_Mode_Table;

// ---- Shared by the SSE and the move encoders -----------------------------------------
// How a form sets REX.W.
enum Rex_W_Rule : uint32_t { W_Never, W_Always, W_With_Rex };

struct Sse_Form {
  uint32_t reg = 0;            // the operand number in ModRM.reg
  uint32_t reg_gpr_size = 0;   // its size when it is a general register, else 0
  const Operand_Record* rm = nullptr;  // ModRM.rm: a register or a memory operand
  Rex_W_Rule w = W_Never;
  uint8_t p66 = 0;             // operand-size 66h (before the mandatory prefix)
  uint8_t p66_first = 0;       // ... and before 67h
  uint32_t trailing = 0;       // immediate bytes after the address
  uint32_t mem_size = 0;       // the bits a memory operand holds, which a size
                               // keyword must name (128: none can); 0: not checked here
};
// Writes one form: the head from the fields, the register and memory REX
// bits, ModRM and the address. Reports a register above 7 outside 64-bit code.
void Sse_Emit(const Sse_Fields& f, const Sse_Form& form);
// A pair of operand kinds that no form takes: the fields and a register ModRM
// as pass 1's placeholder, "SSE, can not encode this parameter types" after.
void Sse_Kind_Mismatch(const Sse_Fields& f);
