// A growable little-endian byte buffer for the output writers: headers,
// directories, symbol and string tables are built here before they reach a
// file or a section. Every write grows the buffer first; after a failed
// allocation the sink stays failed and further writes do nothing.
#pragma once
#include <cstdint>

struct Byte_Sink {
  uint8_t* data = nullptr;
  uint32_t size = 0;      // bytes written (the high-water mark)
  uint32_t capacity = 0;
  bool failed = false;

  Byte_Sink() = default;
  Byte_Sink(const Byte_Sink&) = delete;
  Byte_Sink& operator=(const Byte_Sink&) = delete;
  ~Byte_Sink();

  // Makes room for `n` bytes beyond the current size; false when out of memory.
  bool Reserve(uint32_t n);
  void Clear() { size = 0; }
  void Free();

  void Append(const void* bytes, uint32_t n);
  void Append_Zero(uint32_t n);
  void U8(uint32_t v);
  void U16(uint32_t v);
  void U32(uint32_t v);
  void U64(uint64_t v);
  // Pads with zeros up to a multiple of `alignment` (a power of two).
  void Align(uint32_t alignment);
  // Extends with zeros to `n` bytes when shorter.
  void Extend_To(uint32_t n);

  // Overwrites bytes already written; writes beyond `size` extend it with zeros first.
  void Patch(uint32_t offset, const void* bytes, uint32_t n);
  void Patch_U16(uint32_t offset, uint32_t v);
  void Patch_U32(uint32_t offset, uint32_t v);
  void Patch_U64(uint32_t offset, uint64_t v);
};
