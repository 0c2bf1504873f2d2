// The encoding layer under every instruction family: the instruction head
// (67h, 66h, REX, opcode in one order), the memory-operand emitters for 16-,
// 32- and 64-bit addressing with their relocations, and the immediate writer.
//
// A family worker fills an Inst_Head (opcode, operand size, register fields),
// classifies its memory operand with Mem_Operand_Of (which decides 67h and the
// REX.X/B bits by the address-width table), and calls Head_Emit, Mem_Emit and
// Emit_Imm in that order.
//
//   ModRM   7 6 | 5 4 3 | 2 1 0      SIB   7 6 | 5 4 3 | 2 1 0
//           mod |  reg  |  rm              ss  | index | base
//
//   mod 00  [rm]; rm 100: a SIB follows; rm 101: disp32 (RIP+disp32 in 64-bit code)
//   mod 01  [rm]+disp8        mod 10  [rm]+disp32 (disp16 in 16-bit addressing)
//   mod 11  rm is a register
//   SIB: index 100 = no index; base 101 with mod 00 = no base, disp32 follows.
//   16-bit rm: 000 bx+si  001 bx+di  010 bp+si  011 bp+di  100 si  101 di
//              110 bp (mod 00: disp16 alone)  111 bx
//
//   REX     0 1 0 0 | W | R | X | B     (64-bit code only, right before the opcode)
//           W: 64-bit operand   R: bit 3 of ModRM.reg   X: bit 3 of SIB.index
//           B: bit 3 of ModRM.rm, SIB.base or the register in the opcode
//   Any REX byte turns the byte registers 4-7 into spl, bpl, sil, dil, so
//   ah, ch, dh and bh can not be encoded together with one.
#pragma once
#include <cstdint>

#include "core/dispatch.h"
#include "core/operands.h"

// What every family worker reads: the code mode and the statement's operands.
inline uint32_t Mode() { return Parser.Code_Mode; }
inline Operand_Record& Op1() { return Params.op[0]; }
inline Operand_Record& Op2() { return Params.op[1]; }

enum Rex_Bit : uint8_t {
  Rex_B = 0x01,
  Rex_X = 0x02,
  Rex_R = 0x04,
  Rex_W = 0x08,
  Rex_Any = 0x40,  // spl..dil: a REX byte without any bit
};

// Prefixes and opcode of one instruction.
struct Inst_Head {
  uint8_t p67 = 0;
  uint8_t p66 = 0;
  uint8_t p66_first = 0;  // the form writes 66h before 67h
  uint8_t rex = 0;        // Rex_Bit values
  uint8_t high8 = 0;      // ah, ch, dh or bh is an operand
  uint8_t mandatory = 0;  // a mandatory prefix (66h, F2h, F3h) after 67h/66h, before REX
  uint8_t length = 0;
  uint8_t opcode[3] = {};
  uint8_t size = 0;      // the operand size Head_Size set, 0 when none
  uint8_t mem_size = 0;  // the memory operand's own size when it is not the
                         // operand size (movzx, crc32...); Mem_Size_Any: none
};
// Inst_Head::mem_size of a memory operand that takes no size keyword check.
constexpr uint8_t Mem_Size_Any = 0xFF;

void Head_Opcode(Inst_Head& h, uint32_t opcode);
void Head_Opcode2(Inst_Head& h, uint32_t first, uint32_t second);
// Operand size: 66h by the code mode, REX.W for 64 bits. False when the size
// has no encoding in this mode (8, 16 and 32 always; 64 in 64-bit code).
bool Head_Size(Inst_Head& h, uint32_t size);
// A general register in a ModRM field or the opcode (rex_bit: Rex_R or Rex_B).
void Head_Reg(Inst_Head& h, uint32_t number, uint32_t size, uint8_t rex_bit);
// Writes 67h/66h, the mandatory prefix, REX and the opcode. Reports and returns false when a REX
// byte meets ah..bh (the bytes are still written).
bool Head_Emit(const Inst_Head& h);

// A memory operand classified for the current code mode.
struct Mem_Operand {
  const Operand_Record* record = nullptr;
  uint32_t width = 32;  // address width: the emitter family that writes it
  uint8_t p67 = 0;
  uint8_t rex = 0;      // Rex_X, Rex_B
};
// Kinds 3 ([reg]), 4 ([direct]), 5 ([base+index*scale+disp]), 7 and 8 (frame).
// Reports an address that the mode can not encode (16-bit registers in 64-bit
// code, byte registers) once.
Mem_Operand Mem_Operand_Of(const Operand_Record& r);
void Head_Mem(Inst_Head& h, const Mem_Operand& m);
// ModRM and what follows it. `trailing` is the number of immediate bytes
// after the address (RIP-relative fields are measured from the instruction end).
void Mem_Emit(const Mem_Operand& m, uint32_t reg_field, uint32_t trailing);
// A whole opcode /r or /digit instruction with a memory operand: the head,
// with the operand's 67h and REX bits added, then the ModRM bytes. A size
// keyword that names another size than the head's (its mem_size, else its
// operand size; `qword` outside 64-bit code and `tbyte` name no general
// operand size) is "parameters have mismatched size.".
void Emit_Mem_Form(Inst_Head h, const Mem_Operand& m, uint32_t reg_field, uint32_t trailing);
// The size keyword check of Emit_Mem_Form for forms that write their memory
// operand otherwise (moffs): false after reporting a keyword of another size.
bool Keyword_Size_Agrees(uint32_t size);
// The same for a register operand, whose size is known in every pass: a
// size keyword that names another size than `register_size` is reported
// ("parameters have mismatched size.") and true.
bool Keyword_Contradicts(uint32_t register_size);
// A register of `size` bits against the declared size of a memory operand's
// label or PROC variable (a stack item unless typed, as MOV reads it),
// unless the keyword of that size is written: another size is "parameters
// have mismatched size." ([direct], `local`, `arg`) or "Register size does
// not match []" (a label in [base+index*scale+disp]), from pass 2 on.
// [register] operands and plain numbers are not compared.
void Label_Size_Agrees(const Operand_Record& mem, uint32_t size);
// That declared size in bits: the label's, the implied size of a label in
// [base+index*scale+disp], or the PROC variable's; 0 for none.
uint32_t Declared_Mem_Size(const Operand_Record& mem);
inline bool Is_Memory_Kind(uint32_t kind) { return kind == 3 || kind == 4 || kind == 5 || kind == 7 || kind == 8; }

// ---- The emitters by shape and address width ------------------------------------
// [base+index*scale+disp] from Params.mem.
void Mod_Rm16(uint32_t reg_field, uint32_t relocatable, uint32_t target_section);
void Mod_RM32(uint32_t reg_field, uint32_t relocatable, uint32_t target_section);
void Mod_RM64(uint32_t reg_field, uint32_t relocatable, uint32_t target_section);
// [register] without displacement.
void Mod_RM16_Reg(uint32_t base, uint32_t size, uint32_t reg_field);
void Mod_RM32_Reg(uint32_t base, uint32_t size, uint32_t reg_field);
inline void Mod_RM64_Reg(uint32_t base, uint32_t size, uint32_t reg_field) { Mod_RM32_Reg(base, size, reg_field); }
void Emit_ModRM_Base(uint32_t base, uint32_t size, uint32_t reg_field);
// [direct address]. In 64-bit code the field is RIP-relative.
void Emit_ModRM_Direct16(uint64_t address, uint32_t reg_field, uint32_t relocatable, uint32_t target_section);
void Emit_ModRM_Direct32(uint64_t address, uint32_t reg_field, uint32_t relocatable, uint32_t target_section);
void Emit_ModRM_Direct64(uint64_t address, uint32_t reg_field, uint32_t relocatable, uint32_t target_section,
                         uint32_t trailing);
void Emit_ModRM_Direct(uint64_t address, uint32_t reg_field, uint32_t relocatable, uint32_t target_section,
                       uint32_t trailing);
// The 32-bit RIP-relative field alone (ModRM already written).
void Emit_Rip_Field(uint64_t address, uint32_t relocatable, uint32_t target_section, uint32_t trailing);
// A direct address as a 16-, 32- or 64-bit field (moffs), with its relocation.
void Emit_Address(uint64_t address, uint32_t bytes, uint32_t relocatable, uint32_t target_section);
// PROC frame variables off bp / ebp / rbp; a `local` lies below the frame pointer.
void Emit_ModRM_Frame16(uint32_t offset, uint32_t reg_field, uint32_t is_local);
void Emit_ModRM_Frame32(uint32_t offset, uint32_t reg_field, uint32_t is_local);
inline void Emit_ModRM_Frame64(uint32_t offset, uint32_t reg_field, uint32_t is_local) {
  Emit_ModRM_Frame32(offset, reg_field, is_local);
}

// ---- Immediates -----------------------------------------------------------------
// Immediate bytes of a full-size form: a 64-bit operand takes a sign-extended imm32.
inline uint32_t Imm_Bytes(uint32_t size) { return size == 8 ? 1 : size == 16 ? 2 : 4; }

// The value fits an operand of `size` bits: 8 bits -128..255, 16 bits
// -32768..65535 (each also as the 32-bit pattern of such a negative number),
// 32 bits a high half of zero or the sign extension of a negative 32-bit
// value; 64 bits (a sign-extended imm32) exactly -80000000h..7FFFFFFFh, so
// 80000000h..FFFFFFFFh, which the processor would read as negative, does not.
bool Imm_Fits(uint64_t value, uint32_t size);
// -128..127 and not an address: the sign-extended byte forms may hold it.
bool Imm_Short(const Operand_Record& r);
// The relocation an immediate asks for: 4 after `rva`, else 0.
uint32_t Imm_Reloc_Type(const Operand_Record& r);
// Writes the low `bytes` bytes of the record's value, preceded by its
// relocation when the value is an address. `zero_extended`: a 32-bit field
// of a 32-bit operation, which no 64-bit value is sign-extended from (an
// ELF64 object relocates it as R_X86_64_32, where GNU as does).
void Emit_Imm(const Operand_Record& r, uint32_t bytes, bool zero_extended = false);
// A count, bit offset or imm8 byte: a value that the byte can not hold
// (outside -128..255, as Imm_Fits) is `message` from pass 2 on; the low byte
// is still written, so that the length stays.
void Emit_Imm8(const Operand_Record& r, const char* message);

// The keyword size (`byte`, `word`, `dword`, `qword`, tested in that order),
// or 0; `qword` counts only in 64-bit code.
uint32_t Keyword_Operand_Size();
// The size the keyword names in any mode (`qword` 64 outside 64-bit code
// too, `tbyte` 80), or 0: what a keyword must agree with.
uint32_t Keyword_Written_Size();
// The keyword that names `size` was written.
bool Keyword_Names_Size(uint32_t size);
// 8, 16, 32, and 64 in 64-bit code.
bool Size_Usable(uint32_t size);
// The size of a register operand as the encoders use it: a 64-bit register
// outside 64-bit code (already refused by the operand parser) counts as 32.
uint32_t Register_Operand_Size(const Operand_Record& r);

// Registers above 7, rax..rdi and cr8 exist only in 64-bit code: reports
// "Register can not be used in this mode: " elsewhere (false).
bool Register_Usable(const char* text, uint32_t length, uint32_t number, uint32_t size, uint32_t reg_class);

// "Unknown encode for this mode (USE 64/32/16)" unless Code_Mode is 0, 1 or 2.
bool Code_Mode_Known();
