// IN and OUT: the accumulator and a port, always written in brackets
// (`in al,[dx]`, `out [80h],eax`).
#pragma once

#include "core/dispatch.h"

struct Keyword_Entry;

void Inst_In(const Keyword_Entry* keyword);
void Inst_Out(const Keyword_Entry* keyword);

extern const Mode_Table Ports_Mode_Table;
