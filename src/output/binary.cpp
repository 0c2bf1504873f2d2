// Binary writer: a flat memory image of every section from the first
// section's address to the end of the last section that holds bytes. Gaps
// read as NOP after code and as zero elsewhere.
#include "core/cmdline.h"
#include "core/diag.h"
#include "core/platform/platform.h"
#include "output/output.h"
#include "output/sections.h"

namespace {

bool Holds_Bytes(const Section_Record& r) { return r.out != 0 && r.section_class != Class_Bss; }

// Writes `n` bytes of `fill`.
bool Write_Padding(File_Handle f, uint8_t fill, uint32_t n) {
  uint8_t block[4096];
  for (uint8_t& b : block) b = fill;
  while (n > 0) {
    uint32_t chunk = n < sizeof block ? n : static_cast<uint32_t>(sizeof block);
    if (!Output_File_Write(f, block, chunk)) return false;
    n -= chunk;
  }
  return true;
}

}  // namespace

void Output_Binary() {
  const Section_State& s = Sections;
  int32_t last = -1;
  for (int32_t i = 0; i <= s.Section_Count; ++i)
    if (Holds_Bytes(s.Section_Table[i])) last = i;

  File_Handle f = Output_Create();
  if (f == No_File) return;
  bool ok = true;
  const uint32_t origin = s.Section_Table[0].address;
  uint32_t written = 0;  // file bytes so far: the image up to origin + written
  for (int32_t i = 0; ok && i <= last; ++i) {
    const Section_Record& r = s.Section_Table[i];
    uint32_t start = r.address - origin;
    uint32_t data = Holds_Bytes(r) ? r.out : 0;
    if (start > written) {  // the gap before this section belongs to the one before
      const Section_Record& prev = s.Section_Table[i > 0 ? i - 1 : 0];
      uint8_t fill = (i > 0 && prev.section_class != Class_Bss) ? static_cast<uint8_t>(prev.fill_byte) : 0;
      ok = Write_Padding(f, fill, start - written);
      written = start;
    }
    if (!ok || data == 0) continue;
    // Bytes the buffer holds, then padding for any part beyond it.
    uint32_t from_buffer = data < r.capacity ? data : r.capacity;
    ok = Output_File_Write(f, r.buffer, from_buffer);
    if (ok && data > from_buffer) ok = Write_Padding(f, static_cast<uint8_t>(r.fill_byte), data - from_buffer);
    written = start + data;
  }
  Output_Close(f);
}
