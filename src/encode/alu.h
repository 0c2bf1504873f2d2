// ALU instructions: add, or, adc, sbb, and, sub, xor and cmp. Encode_Alu picks
// a worker by the two operand kinds; several workers serve TEST, MOV and LEA
// too, and Emit_Cmp serves the .if/.while/.repeat code generators.
#pragma once
#include <cstdint>

#include "core/dispatch.h"

struct Keyword_Entry;

// The five opcodes of one mnemonic, full-size forms; -1 = the form does not exist.
struct Alu_Opcodes {
  int32_t rm_reg;  // r/m,reg      (01)
  int32_t reg_rm;  // reg,r/m      (03)
  int32_t group;   // r/m,imm      (81; 83 with a short immediate, 80 for bytes)
  uint32_t digit;  // ModRM.reg of the group form
  int32_t acc;     // accumulator,imm (05)
};

// Encodes operand records 1 and 2 of Params: 0 when a worker ran (it reports
// its own errors), -1 when the pair of kinds has no form (nothing written).
int Encode_Alu(const Alu_Opcodes& opcodes);
// Register-from-memory only (lea): -1 for any other pair.
int Encode_Alu_Reg_Rm(uint32_t opcode);
// cmp on the records that the caller filled; Parser_Mode is left alone.
int Emit_Cmp();

// Workers shared with other families. Operand 1 and 2 are Params.op[0], [1].
void Encode_Reg_Reg(uint32_t opcode);              // reg, reg: operand 1 in ModRM.reg
void Encode_Reg_Mem(uint32_t opcode);              // reg, [register]
void Encode_Reg_Direct(uint32_t opcode);           // reg, [direct]
void Encode_Reg_Complex(uint32_t opcode);          // reg, [base+index*scale+disp]
void Encode_Reg_Frame(uint32_t opcode, uint32_t is_local);
void Encode_Mem_Reg(uint32_t opcode);              // [register], reg
void Encode_Mem_Imm(uint32_t group, uint32_t digit);  // [register], imm: never the short form
void Encode_Complex_Reg(uint32_t opcode);          // [base+index*scale+disp], reg
void Encode_Frame_Reg(uint32_t opcode, uint32_t is_local);
// [base+index*scale+disp], imm of the full operand size (TEST F7 /0, MOV C7 /0).
void Encode_Complex_Imm(uint32_t opcode, uint32_t digit, uint64_t value);

void Inst_Add(const Keyword_Entry* keyword);
void Inst_Or(const Keyword_Entry* keyword);
void Inst_Adc(const Keyword_Entry* keyword);
void Inst_Sbb(const Keyword_Entry* keyword);
void Inst_And(const Keyword_Entry* keyword);
void Inst_Sub(const Keyword_Entry* keyword);
void Inst_Xor(const Keyword_Entry* keyword);
void Inst_Cmp(const Keyword_Entry* keyword);

extern const Mode_Table Alu_Mode_Table;
