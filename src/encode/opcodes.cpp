// Operand-less instructions. The handlers leave the statement at its start,
// so a prefix mnemonic combines with the instruction after it (`rep movsb`).
#include "encode/opcodes.h"

#include "core/diag.h"
#include "core/keywords.h"
#include "encode/modrm.h"
#include "core/platform/platform.h"
#include "output/sections.h"

namespace {
void Emit_Payload(const Keyword_Entry* k, uint32_t n) {
  uint8_t bytes[3];
  for (uint32_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(k->payload[i]);
  Emit_Bytes(bytes, n);
}

// Operand-less forms of one operand width. The form of the width that is not
// the mode's own takes 66h; the ones 64-bit code does not have are refused.
struct Sized_Form {
  const char* name;
  uint32_t width;  // 16 or 32: the form's operand width; 0: the mode's own
  bool no_64;      // invalid in 64-bit code
};

constexpr Sized_Form Sized_Forms[] = {
    {"cbw", 16, false},    {"cwd", 16, false},    {"cwde", 32, false},  {"cdq", 32, false},
    {"pushad", 32, true},  {"popad", 32, true},   {"pusha", 0, true},   {"popa", 0, true},
    {"pushfd", 32, true},  {"popfd", 32, true},   {"iretd", 32, false}, {"scasd", 32, false},
    {"outsd", 32, false},  {"insd", 32, false},
};

const Sized_Form* Sized_Form_Of(const Keyword_Entry* k) {
  switch (k->payload[0]) {  // the opcodes of the sized forms; any other is none
    case 0x98: case 0x99: case 0x60: case 0x61: case 0x9C: case 0x9D: case 0xCF: case 0xAF: case 0x6F:
    case 0x6D: break;
    default: return nullptr;
  }
  for (const Sized_Form& f : Sized_Forms) {
    uint32_t i = 0;
    while (f.name[i] && i < k->name_length && f.name[i] == k->name[i]) ++i;
    if (!f.name[i] && i == k->name_length) return &f;
  }
  return nullptr;
}

// The BCD adjustments and INTO (CE; AAD D5 0A, AAM D4 0A) do not exist in
// 64-bit code: there their bytes would decode as nothing.
bool Invalid_In_64(const Keyword_Entry* k) {
  switch (k->payload[0]) {
    case 0x27: case 0x2F: case 0x37: case 0x3F: case 0xCE: case 0xD4: case 0xD5: return Mode() == Code_64;
    default: return false;
  }
}

bool Refused_In_Mode(const Keyword_Entry* k) {
  if (!Invalid_In_64(k)) return false;
  Error_Msg("Unknown encode for this mode (USE 64/32/16)");
  return true;
}
}  // namespace

void Inst_Opcode1(const Keyword_Entry* keyword) {
  if (Refused_In_Mode(keyword)) return;
  const Sized_Form* f = Sized_Form_Of(keyword);
  if (!f) {
    Emit_Payload(keyword, 1);
    return;
  }
  if (!Code_Mode_Known()) return;
  if (f->no_64 && Mode() == Code_64) {
    Error_Msg("Unknown encode for this mode (USE 64/32/16)");
    return;
  }
  Inst_Head h;
  Head_Opcode(h, keyword->payload[0]);
  if (f->width) Head_Size(h, f->width);
  Head_Emit(h);
}
void Inst_Opcode2(const Keyword_Entry* keyword) {
  if (Refused_In_Mode(keyword)) return;
  Emit_Payload(keyword, 2);
}
void Inst_Opcode3(const Keyword_Entry* keyword) {
  // A form that starts with REX (sysexit64) exists in 64-bit code only:
  // elsewhere 48h is `dec eax`. So does SWAPGS (0F 01 F8).
  const uint32_t* p = keyword->payload;
  const bool only_64 = (p[0] & 0xF0u) == 0x40u || (p[0] == 0x0F && p[1] == 0x01 && p[2] == 0xF8);
  if (only_64 && Code_Mode_Known() && Mode() != Code_64) {
    Error_Msg("Unknown encode for this mode (USE 64/32/16)");
    return;
  }
  Emit_Payload(keyword, 3);
}

void Dir_Time(const Keyword_Entry*) {
  const Date_Time_Record& d = Date_Time;
  const uint16_t words[8] = {d.year, d.month, 0, d.day, d.hour, d.minute, d.second, 0};
  uint8_t bytes[16];
  for (int i = 0; i < 8; ++i) {
    bytes[2 * i] = static_cast<uint8_t>(words[i]);
    bytes[2 * i + 1] = static_cast<uint8_t>(words[i] >> 8);
  }
  Emit_Bytes(bytes, 16);
}

void Emit_Fill(uint32_t n) { Emit_Repeat(0x90, n); }
