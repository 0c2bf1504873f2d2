// CALL, JMP and the conditional jumps. One direct-branch core writes every
// relative branch (short, near, and the relocated near form that reaches a
// label of another object section); one indirect worker writes FF /2../5
// through the encoding layer.
//
// The .if/.while/.repeat generators write their jumps with Encode_Jmp_Label
// and the Emit_J.. entry points, and may re-enter them at rewound counters to
// rewrite a jump in place: a direct JMP never takes more than 5 bytes, a
// conditional jump never more than 6.
#pragma once
#include <cstdint>

#include "core/dispatch.h"

struct Keyword_Entry;
struct Import_Func_Ref;

// Short forms (EB, 70+cc) are taken only with `-size`, decided afresh in
// every pass from the addresses at hand. Each returns the displacement written.
int64_t Encode_Call_Label(uint64_t target);
int64_t Encode_Jmp_Label(uint64_t target);
int64_t Encode_Jcc(uint64_t target, uint32_t short_opcode, uint32_t near_opcode);

// A call of an imported or external function: always E8 rel32.
void Call_Extern(const Import_Func_Ref& import, const char* name, uint32_t length);

// Conditional jumps by condition, for the code generators.
int64_t Emit_Jo(uint64_t target);
int64_t Emit_Jno(uint64_t target);
int64_t Emit_Jb(uint64_t target);
int64_t Emit_Jae(uint64_t target);
int64_t Emit_Je(uint64_t target);
int64_t Emit_Jne(uint64_t target);
int64_t Emit_Jbe(uint64_t target);
int64_t Emit_Ja(uint64_t target);
int64_t Emit_Js(uint64_t target);
int64_t Emit_Jns(uint64_t target);
int64_t Emit_Jp(uint64_t target);
int64_t Emit_Jnp(uint64_t target);
int64_t Emit_Jl(uint64_t target);
int64_t Emit_Jge(uint64_t target);
int64_t Emit_Jle(uint64_t target);
int64_t Emit_Jg(uint64_t target);

void Inst_Call(const Keyword_Entry* keyword);
void Inst_Jmp(const Keyword_Entry* keyword);
void Inst_Jcc(const Keyword_Entry* keyword);

extern const Mode_Table Branch_Mode_Table;
