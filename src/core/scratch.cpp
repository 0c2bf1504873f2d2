// Scratch text arena: a chain of blocks, emptied at each top-level statement end.
#include "core/scratch.h"

#include "core/platform/platform.h"

namespace {

struct Block {
  Block* next;
  uint32_t size;
  uint32_t used;
  // text follows
  char* data() { return reinterpret_cast<char*>(this + 1); }
};

constexpr uint32_t Block_Size = 64 * 1024;
Block* Head = nullptr;  // current block; older ones follow

Block* New_Block(uint32_t size, Block* next) {
  auto* b = static_cast<Block*>(Mem_Alloc(static_cast<uint32_t>(sizeof(Block)) + size));
  if (!b) return nullptr;
  b->next = next;
  b->size = size;
  b->used = 0;
  return b;
}

}  // namespace

char* Scratch_Alloc(uint32_t size) {
  size = (size + 7u) & ~7u;
  if (!Head || Head->size - Head->used < size) {
    uint32_t want = size > Block_Size ? size : Block_Size;
    Block* b = New_Block(want, Head);
    if (!b) return nullptr;
    Head = b;
  }
  char* p = Head->data() + Head->used;
  Head->used += size;
  return p;
}

void Scratch_Reset() {
  if (!Head) return;
  // Keep the newest standard block, free the rest.
  Block* keep = Head;
  Block* rest = Head->next;
  while (rest) {
    Block* n = rest->next;
    Mem_Free(rest, 0, 0);
    rest = n;
  }
  if (keep->size > Block_Size) {
    Mem_Free(keep, 0, 0);
    Head = nullptr;
    return;
  }
  keep->next = nullptr;
  keep->used = 0;
}

void Scratch_Free_All() {
  while (Head) {
    Block* n = Head->next;
    Mem_Free(Head, 0, 0);
    Head = n;
  }
}
