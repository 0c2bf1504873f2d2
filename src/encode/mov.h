// MOV in all its forms: general registers, immediates and memory, segment
// registers (8Ch/8Eh), control and debug registers (0F 20h-23h), the
// accumulator forms with a direct address and the 64-bit immediate form.
#pragma once
#include <cstdint>

#include "core/dispatch.h"

struct Keyword_Entry;

void Inst_Mov(const Keyword_Entry* keyword);
// Encodes operand records 1 and 2 of Params (filled by MOV's operand handlers).
void Encode_Mov();

extern const Mode_Table Mov_Mode_Table;
