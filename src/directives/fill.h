// Fill directives: `fb count, value`, `fw`, `fd`, `fq` (count items of 1, 2,
// 4 or 8 bytes, all holding the value) and `fs STRUCNAME, count, value`
// (count structure-sized blocks of the value's low byte).
#pragma once

struct Keyword_Entry;

void Dir_Fill(const Keyword_Entry* keyword);
