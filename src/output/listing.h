// Listing: one record per statement (position fields, address, source text,
// the bytes it emitted), written while a pass runs. With -list the extra
// listing pass writes <output base>_list.lst; with -list_pass every pass
// writes _list_<pass>.lst; `option list_on`/`list_off` switch it in a pass.
// The file is built in memory and written, checked, when the pass ends.
#pragma once
#include <cstdint>

#include "core/scanner.h"

struct Listing_State {
  uint32_t Listing_On = 0;
  uint32_t Listing_Pass = 0;       // 1 during the extra listing-only pass (and any pass after it)
  uint32_t Listing_Skip_Once = 0;  // the next Listing_Line writes nothing (the `option list_on` line)
  uint32_t Listing_Width = 0;      // visual width of the last listed line; 0: no dump follows
  uint32_t Listing_Open_Now = 0;   // a listing file is being built in this pass
  // Where the last dump ended: a line whose nested text (an include, a REPT
  // body) listed its own bytes dumps only what follows them.
  uint32_t Dumped_Section = 0;
  uint32_t Dumped_Offset = 0;
};
extern Listing_State Listing;

// Listing_On as the command line sets it at a pass start.
void Listing_Pass_Start();
// Starts this pass's listing file, unless the listing is off or one is open.
void Listing_Open();
// Writes the file when one is open; a file that cannot be written is reported.
void Listing_Close();
// A statement's record: the text from the line start up to `end`.
void Listing_Line(const Line_Start& at, const char* end);
// A record holding `text` (an error line) at the current statement's position.
void Listing_Line_Text(const char* text);
// After a line: the bytes emitted since `at`, when the section is still its.
void Listing_Bytes(const Line_Start& at);
// Before text that a statement generates (an invoke, a macro call, an
// include): what it emitted so far, when its record is the last one.
void Listing_Bytes_Before_Text(const Line_Start& at);
void Listing_Text(const char* text);
