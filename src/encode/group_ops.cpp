// The one-operand /digit emitters and size helpers shared by TEST, the
// shifts, the F7 group and INC/DEC.
#include "encode/group_ops.h"

#include "core/diag.h"
#include "output/sections.h"

namespace {
uint32_t Byte_Form(uint32_t opcode, uint32_t size) { return size == 8 ? opcode & 0xFEu : opcode; }
}  // namespace

void Emit_Digit_Reg(uint32_t opcode, uint32_t digit, uint32_t size, const Operand_Record& reg, bool byte_rex_w) {
  const uint32_t n = reg.low();
  Inst_Head h;
  Head_Opcode(h, Byte_Form(opcode, size));
  Head_Size(h, size);
  Head_Reg(h, n, reg.size, Rex_B);
  if (byte_rex_w && size == 8 && n > 16 && Mode() == Code_64) h.rex |= Rex_W;
  Head_Emit(h);
  Emit_Byte(static_cast<uint8_t>(0xC0u | (digit & 7) << 3 | (n & 7)));
}

void Emit_Digit_Mem(uint32_t opcode, uint32_t digit, uint32_t size, const Mem_Operand& m, uint32_t trailing,
                    bool p66_first) {
  Inst_Head h;
  Head_Opcode(h, Byte_Form(opcode, size));
  Head_Size(h, size);
  h.p66_first = p66_first ? 1 : 0;
  Emit_Mem_Form(h, m, digit, trailing);
}

uint32_t Default_Operand_Size() { return Mode() == Code_16 ? 16 : 32; }

uint32_t Frame_Operand_Size(const Operand_Record& var) {
  const uint32_t k = Keyword_Operand_Size();
  if (k) return k;
  if (Size_Usable(var.size)) return var.size;
  return Default_Operand_Size();
}
