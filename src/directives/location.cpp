// align, org, disp and base.
#include "directives/location.h"

#include "core/assemble.h"
#include "core/cmdline.h"
#include "core/diag.h"
#include "core/dispatch.h"
#include "core/expr.h"
#include "directives/struc.h"
#include "output/relocs.h"
#include "output/sections.h"

namespace {

// The write position moves to `offset`: forward through the checked emitter
// (the skipped bytes keep the section's fill), back by setting it.
bool Move_Write_Offset(int64_t offset, bool with_location) {
  Section_State& s = Sections;
  const int64_t delta = offset - static_cast<int64_t>(s.Section_Write_Offset);
  if (delta > 0) {
    if (delta > 0xFFFFFFFFll) return false;
    if (with_location) return Emit_Reserve(static_cast<uint32_t>(delta)) == 0;
    if (!Emit_Fits(static_cast<uint32_t>(delta)) && !Emit_Room(static_cast<uint32_t>(delta))) return false;
  }
  if (with_location) s.Location_Counter = static_cast<uint32_t>(s.Location_Counter + delta);
  s.Section_Write_Offset = static_cast<uint32_t>(offset);
  return true;
}

// The operand's value; unknown: the directive's message, and false.
bool Known_Value(const char* text, uint32_t length, const char* message, uint64_t* value) {
  Parser.Parser_Mode = 0;
  Eval_Result r = Eval_Value(text, length);
  if (r.status != 0) {
    Error_Text(message, text, length);
    return false;
  }
  *value = r.value;
  return true;
}

void Align_Value(const char* text, uint32_t length) {
  Parser.Parser_Mode = 0;
  if (Struc_Is_Open()) {
    Error_Text("ALIGN, can not use in structures: ", text, length);
    return;
  }
  uint64_t value = 0;
  if (!Known_Value(text, length, "ALIGN, expecting known value: ", &value)) return;
  if (Object_Alignment_Lost(value)) {
    Error_Text("ALIGN, an object file aligns to powers of two only: ", text, length);
    return;
  }
  if (value > 0xFFFFFFFFull || !Align_Location(value))
    Error_Text("ALIGN, result value is out of range: ", text, length);
}

void Org_Value(const char* text, uint32_t length) {
  uint64_t value = 0;
  if (!Known_Value(text, length, "ORG, expecting known value: ", &value)) return;
  if (value > 0xFFFFFFFFull) {  // an address of 32 bits: no wrap to a low one
    Error_Text("ORG, value too big, addresses end at 4 GiB: ", text, length);
    return;
  }
  const uint32_t target = static_cast<uint32_t>(value);
  const int64_t offset = static_cast<int64_t>(Sections.Section_Write_Offset) + target -
                         static_cast<int64_t>(Sections.Location_Counter);
  if (offset < 0) {
    Error_Text("ORG, result value is before section start: ", text, length);
    Diag.Stop_Flag += 1;
    return;
  }
  Move_Write_Offset(offset, true);
}

// Inside a structure definition `org n` adds n to the structure's size.
void Org_Struc_Value(const char* text, uint32_t length) {
  uint64_t value = 0;
  if (!Known_Value(text, length, "ORG, expecting known value: ", &value)) return;
  Struc_Org_Grow(value);
}

void Disp_Value(const char* text, uint32_t length) {
  uint64_t value = 0;
  if (!Known_Value(text, length, "DISP, expecting number: ", &value)) return;
  if (value > 0xFFFFFFFFull) {
    Error_Text("DISP, value too big, addresses end at 4 GiB: ", text, length);
    return;
  }
  const Section_State& s = Sections;
  const int64_t offset = static_cast<int64_t>(s.Section_Write_Offset) + static_cast<uint32_t>(s.Image_Base) +
                         s.Header_Size - static_cast<int64_t>(static_cast<uint32_t>(value));
  if (offset < 0) {
    Error_Text("DISP, result value is before section start: ", text, length);
    Diag.Stop_Flag += 1;
    return;
  }
  Move_Write_Offset(offset, false);
}

void Base_Value(const char* text, uint32_t length) {
  uint64_t value = 0;
  if (!Known_Value(text, length, "BASE, expecting number: ", &value)) return;
  // Addresses are 32 bits wide, in a PE32+ image too.
  if (value > 0xFFFFFFFFull) {
    Error_Text("BASE, value too big, addresses end at 4 GiB: ", text, length);
    return;
  }
  // A loader maps an image on 64 KiB boundaries and refuses any other base.
  const uint32_t format = Options.Output_Format;
  if ((format == Format_PE32 || format == Format_PE64) && (value & 0xFFFF) != 0) {
    Error_Text("BASE, an image base is a multiple of 64 KiB: ", text, length);
    return;
  }
  Sections.Image_Base = value;
}

}  // namespace

bool Align_Location(uint64_t n) {
  if (n <= 1) return true;
  Section_State& s = Sections;
  const uint64_t lc = s.Location_Counter;
  const uint64_t aligned = (lc + n - 1) / n * n;
  if (aligned > 0xFFFFFFFFull) return false;
  if (s.Section_Count >= 0 && s.Current_Section < Max_Sections) {
    Section_Record& r = s.Section_Table[s.Current_Section];
    if (n > r.max_align) r.max_align = static_cast<uint32_t>(n);
  }
  if (aligned != lc) return Emit_Reserve(static_cast<uint32_t>(aligned - lc)) == 0;
  return true;
}

void Dir_Align(const Keyword_Entry*) { Parser.Parser_Mode = Mode_Align_Value; }
void Dir_Org(const Keyword_Entry*) { Parser.Parser_Mode = Struc_Is_Open() ? Mode_Org_Struc_Value : Mode_Org_Value; }
void Dir_Disp(const Keyword_Entry*) { Parser.Parser_Mode = Mode_Disp_Value; }

namespace {
const Mode_Handler Words[] = {
    {Mode_Align_Value, Align_Value}, {Mode_Org_Value, Org_Value}, {Mode_Org_Struc_Value, Org_Struc_Value},
    {Mode_Disp_Value, Disp_Value},   {Mode_Base, Base_Value},
};
}  // namespace

extern const Mode_Table Location_Mode_Table = {"location", Words, sizeof(Words) / sizeof(Words[0]), nullptr, 0,
                                              nullptr, 0};
