// Operand-less instructions. The handlers leave the statement at its start,
// so a prefix mnemonic combines with the instruction after it (`rep movsb`).
#include "encode/opcodes.h"

#include "core/keywords.h"
#include "core/platform/platform.h"
#include "output/listing.h"
#include "output/sections.h"

namespace {
void Emit_Payload(const Keyword_Entry* k, uint32_t n) {
  uint8_t bytes[3];
  for (uint32_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(k->payload[i]);
  Emit_Bytes(bytes, n);
}
}  // namespace

void Inst_Opcode1(const Keyword_Entry* keyword) { Emit_Payload(keyword, 1); }
void Inst_Opcode2(const Keyword_Entry* keyword) { Emit_Payload(keyword, 2); }
void Inst_Opcode3(const Keyword_Entry* keyword) { Emit_Payload(keyword, 3); }

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

void Emit_Fill(uint32_t n) {
  if (Listing.Listing_Pass == 1) {
    Emit_Reserve(n);  // the listing pass leaves the buffer as it is
    return;
  }
  Emit_Repeat(0x90, n);
}
