// Growable little-endian byte buffer.
#include "output/byte_sink.h"

#include "core/platform/platform.h"

namespace {
constexpr uint32_t Sink_Initial = 0x1000;
constexpr uint64_t Sink_Limit = 0x80000000u;  // 2 GiB: more is refused
}  // namespace

Byte_Sink::~Byte_Sink() { Free(); }

void Byte_Sink::Free() {
  if (data) Mem_Free(data, 0, capacity);
  data = nullptr;
  size = 0;
  capacity = 0;
  failed = false;
}

bool Byte_Sink::Reserve(uint32_t n) {
  if (failed) return false;
  uint64_t need = static_cast<uint64_t>(size) + n;
  if (need <= capacity) return true;
  if (need > Sink_Limit) {
    failed = true;
    return false;
  }
  uint64_t bigger = capacity ? capacity : Sink_Initial;
  while (bigger < need) bigger *= 2;
  if (bigger > Sink_Limit) bigger = Sink_Limit;
  auto* grown = static_cast<uint8_t*>(Mem_Alloc(static_cast<uint32_t>(bigger)));
  if (!grown) {
    failed = true;
    return false;
  }
  const uint8_t* old = data;  // locals: byte stores could otherwise alias the members
  for (uint32_t i = 0, n_old = size; i < n_old; ++i) grown[i] = old[i];
  if (data) Mem_Free(data, 0, capacity);
  data = grown;
  capacity = static_cast<uint32_t>(bigger);
  return true;
}

void Byte_Sink::Append(const void* bytes, uint32_t n) {
  if (!Reserve(n)) return;
  const auto* b = static_cast<const uint8_t*>(bytes);
  uint8_t* to = data + size;
  for (uint32_t i = 0; i < n; ++i) to[i] = b[i];
  size += n;
}

void Byte_Sink::Append_Zero(uint32_t n) {
  if (!Reserve(n)) return;
  for (uint32_t i = 0; i < n; ++i) data[size + i] = 0;
  size += n;
}

void Byte_Sink::U8(uint32_t v) {
  uint8_t b = static_cast<uint8_t>(v);
  Append(&b, 1);
}

void Byte_Sink::U16(uint32_t v) {
  uint8_t b[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
  Append(b, 2);
}

void Byte_Sink::U32(uint32_t v) {
  uint8_t b[4];
  for (uint32_t i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(v >> (8 * i));
  Append(b, 4);
}

void Byte_Sink::U64(uint64_t v) {
  uint8_t b[8];
  for (uint32_t i = 0; i < 8; ++i) b[i] = static_cast<uint8_t>(v >> (8 * i));
  Append(b, 8);
}

void Byte_Sink::Align(uint32_t alignment) {
  uint32_t rest = size & (alignment - 1);
  if (rest) Append_Zero(alignment - rest);
}

void Byte_Sink::Extend_To(uint32_t n) {
  if (size < n) Append_Zero(n - size);
}

void Byte_Sink::Patch(uint32_t offset, const void* bytes, uint32_t n) {
  uint64_t end = static_cast<uint64_t>(offset) + n;
  if (end > Sink_Limit) {
    failed = true;
    return;
  }
  Extend_To(static_cast<uint32_t>(end));
  if (failed) return;
  const auto* b = static_cast<const uint8_t*>(bytes);
  for (uint32_t i = 0; i < n; ++i) data[offset + i] = b[i];
}

void Byte_Sink::Patch_U16(uint32_t offset, uint32_t v) {
  uint8_t b[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
  Patch(offset, b, 2);
}

void Byte_Sink::Patch_U32(uint32_t offset, uint32_t v) {
  uint8_t b[4];
  for (uint32_t i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(v >> (8 * i));
  Patch(offset, b, 4);
}

void Byte_Sink::Patch_U64(uint32_t offset, uint64_t v) {
  uint8_t b[8];
  for (uint32_t i = 0; i < 8; ++i) b[i] = static_cast<uint8_t>(v >> (8 * i));
  Patch(offset, b, 8);
}
