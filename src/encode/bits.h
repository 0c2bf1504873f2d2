// Bit tests (bt, btc, btr, bts), bit scans (bsf, bsr), conditional moves and
// sets (CMOVcc, SETcc) and the exchanging adds and compares (xadd, cmpxchg).
#pragma once
#include <cstdint>

#include "core/dispatch.h"

struct Keyword_Entry;

// The condition byte of the CMOVcc or SETcc statement being parsed (the
// keyword's first payload word); the next such keyword overwrites it.
struct Bits_State {
  uint32_t Cmovcc_Opcode = 0x40;
  uint32_t Setcc_Opcode = 0x90;
};
extern Bits_State Bits;

void Inst_Bt(const Keyword_Entry* keyword);
void Inst_Btc(const Keyword_Entry* keyword);
void Inst_Btr(const Keyword_Entry* keyword);
void Inst_Bts(const Keyword_Entry* keyword);
void Inst_Bsf(const Keyword_Entry* keyword);
void Inst_Bsr(const Keyword_Entry* keyword);
void Inst_Cmovcc(const Keyword_Entry* keyword);
void Inst_Setcc(const Keyword_Entry* keyword);
void Inst_Xadd(const Keyword_Entry* keyword);
void Inst_Cmpxchg(const Keyword_Entry* keyword);

// Operand records 1 and 2 of Params to bytes; each reports its own errors.
void Encode_Bt_Group(uint32_t digit, uint32_t reg_opcode);
void Encode_Bsx(uint32_t opcode);
void Encode_Cmovcc(uint32_t condition);
void Encode_Setcc(uint32_t condition);
void Encode_Xadd_Cmpxchg(uint32_t opcode);

extern const Mode_Table Bits_Mode_Table;
