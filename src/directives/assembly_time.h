// Assembly-time directives: `#echo "format", values...` prints a line while
// assembling (in every pass); `#store address, value` patches bytes already
// assembled; `#load name, address` reads them into an equate; `option` sets
// the listing and the defaults of later PROCs.
#pragma once
#include <cstdint>

struct Keyword_Entry;

struct Option_State {
  uint32_t mode = 0;  // 0 an option name, 1 the proc_align value, 2 the proc_abi value
};

void Dir_Echo(const Keyword_Entry* keyword);
void Dir_Store(const Keyword_Entry* keyword);
void Dir_Load(const Keyword_Entry* keyword);
void Dir_Option(const Keyword_Entry* keyword);
// At the end of an #echo line.
void Echo_Line_End();
