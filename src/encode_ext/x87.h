// x87 instructions that take one operand: loads and stores, arithmetic,
// compares, register management and the control word. One row per mnemonic
// (ST(i) form, accepted words, memory forms by size, messages) drives one word
// handler, one bracket handler and one memory encoder.
#pragma once
#include <cstdint>

struct Keyword_Entry;

struct X87_State {
  // Escape byte and register base byte of the current fcmovcc statement.
  uint32_t Fcmovcc_Opcode[2] = {0, 0};
};
extern X87_State X87;

void Inst_Fld(const Keyword_Entry* keyword);
void Inst_Fild(const Keyword_Entry* keyword);
void Inst_Fst(const Keyword_Entry* keyword);
void Inst_Fstp(const Keyword_Entry* keyword);
void Inst_Fistp(const Keyword_Entry* keyword);
void Inst_Fisttp(const Keyword_Entry* keyword);
void Inst_Finit(const Keyword_Entry* keyword);
void Inst_Fninit(const Keyword_Entry* keyword);
void Inst_Fadd(const Keyword_Entry* keyword);
void Inst_Faddp(const Keyword_Entry* keyword);
void Inst_Fiadd(const Keyword_Entry* keyword);
void Inst_Fsub(const Keyword_Entry* keyword);
void Inst_Fsubp(const Keyword_Entry* keyword);
void Inst_Fisub(const Keyword_Entry* keyword);
void Inst_Fmul(const Keyword_Entry* keyword);
void Inst_Fmulp(const Keyword_Entry* keyword);
void Inst_Fimul(const Keyword_Entry* keyword);
void Inst_Fdiv(const Keyword_Entry* keyword);
void Inst_Fdivp(const Keyword_Entry* keyword);
void Inst_Fidiv(const Keyword_Entry* keyword);
void Inst_Fcom(const Keyword_Entry* keyword);
void Inst_Fcomp(const Keyword_Entry* keyword);
void Inst_Fucom(const Keyword_Entry* keyword);
void Inst_Fucomp(const Keyword_Entry* keyword);
void Inst_Ffree(const Keyword_Entry* keyword);
void Inst_Fcmovcc(const Keyword_Entry* keyword);
void Inst_Fnstcw(const Keyword_Entry* keyword);
void Inst_Fldcw(const Keyword_Entry* keyword);
