// Fixed name sets (keywords, registers, operand modifiers) as open-addressed
// hash tables that the compiler builds from the lists themselves: a lookup
// folds the word once, hashes it once and probes a few slots, with no table
// to fill at run time. Keywords and registers compare as their tables always
// have, both sides OR 20h; modifiers with A-Z folded to a-z.
#pragma once
#include <cstdint>

namespace fixed_names {

enum class Folding { Or20, Ascii_Lower };

template <Folding F>
constexpr uint64_t Fold(char c) {
  const uint8_t u = static_cast<uint8_t>(c);
  if constexpr (F == Folding::Or20) return u | 0x20u;
  else return u >= 'A' && u <= 'Z' ? u + 32u : u;
}

// The first eight bytes of a name, folded, little-endian: most names are
// settled by comparing this one word.
template <Folding F>
constexpr uint64_t Key(const char* text, uint32_t length) {
  uint64_t v = 0;
  const uint32_t n = length < 8 ? length : 8;
  for (uint32_t i = 0; i < n; ++i) v |= Fold<F>(text[i]) << (8 * i);
  return v;
}

constexpr uint32_t Hash(uint64_t key, uint32_t length) {
  uint64_t h = (key ^ length) * 0x9E3779B97F4A7C15ull;
  return static_cast<uint32_t>(h >> 32);
}

constexpr uint32_t Length(const char* s) {
  uint32_t n = 0;
  while (s[n]) ++n;
  return n;
}

// Bytes 8 and on (the key holds the first eight).
template <Folding F>
constexpr bool Equal_Tail(const char* a, const char* b, uint32_t length) {
  for (uint32_t i = 8; i < length; ++i)
    if (Fold<F>(a[i]) != Fold<F>(b[i])) return false;
  return true;
}

}  // namespace fixed_names

// `Slots` is a power of two well above the name count; a slot holds the
// name's key and length and its list index + 1 (0 = empty). A name that
// stands twice in a list is found as its later record.
template <uint32_t Slots, fixed_names::Folding F = fixed_names::Folding::Or20>
struct Fixed_Name_Table {
  static_assert((Slots & (Slots - 1)) == 0, "a power of two");
  struct Slot {
    uint64_t key = 0;
    uint16_t index = 0;
    uint16_t length = 0;
  };
  Slot slot[Slots] = {};
  uint32_t max_length = 0;

  // `name(i)` gives the i-th name of the list.
  template <class Name_Of>
  constexpr Fixed_Name_Table(uint32_t count, Name_Of name) {
    for (uint32_t i = 0; i < count; ++i) {
      const char* s = name(i);
      const uint32_t n = fixed_names::Length(s);
      const uint64_t key = fixed_names::Key<F>(s, n);
      if (n > max_length) max_length = n;
      uint32_t k = fixed_names::Hash(key, n) & (Slots - 1);
      while (slot[k].index != 0 && !(slot[k].length == n && slot[k].key == key &&
                                     fixed_names::Equal_Tail<F>(name(slot[k].index - 1u), s, n)))
        k = (k + 1) & (Slots - 1);
      slot[k] = Slot{key, static_cast<uint16_t>(i + 1), static_cast<uint16_t>(n)};
    }
  }

  // The list index of `text`, or -1.
  template <class Name_Of>
  int32_t Find(const char* text, uint32_t length, Name_Of name) const {
    if (length == 0 || length > max_length) return -1;
    const uint64_t key = fixed_names::Key<F>(text, length);
    for (uint32_t k = fixed_names::Hash(key, length) & (Slots - 1);; k = (k + 1) & (Slots - 1)) {
      const Slot& s = slot[k];
      if (s.index == 0) return -1;
      if (s.key == key && s.length == length &&
          (length <= 8 || fixed_names::Equal_Tail<F>(name(s.index - 1u), text, length)))
        return s.index - 1;
    }
  }
};
