// Decimal real literals to IEEE single, double and x87 extended values.
//
// The literal is evaluated the way the x87 unit does it with 64-bit precision
// control and round-to-nearest-even: value := value * 10 + digit and, in the
// fraction, divisor := divisor * 10, each operation rounded to extended; then
// value / divisor is rounded to extended, negated if marked, and stored to the
// destination size with one more rounding. Everything is plain integer
// arithmetic so that every host gives the same bits.
#include "core/text.h"

namespace {

// ---- 128-bit helpers ---------------------------------------------------------

struct U128 {
  uint64_t hi = 0;
  uint64_t lo = 0;
};

int Bit_Length(uint64_t x) {
  int n = 0;
  if (x >> 32) { n += 32; x >>= 32; }
  if (x >> 16) { n += 16; x >>= 16; }
  if (x >> 8) { n += 8; x >>= 8; }
  if (x >> 4) { n += 4; x >>= 4; }
  if (x >> 2) { n += 2; x >>= 2; }
  if (x >> 1) { n += 1; x >>= 1; }
  return n + static_cast<int>(x);
}

int Bit_Length(U128 x) { return x.hi ? 64 + Bit_Length(x.hi) : Bit_Length(x.lo); }

// x >> k for any k >= 0.
U128 Shift_Right(U128 x, int k) {
  if (k >= 128) return {};
  if (k >= 64) return {0, x.hi >> (k - 64)};
  if (k == 0) return x;
  return {x.hi >> k, (x.lo >> k) | (x.hi << (64 - k))};
}

// x << k for 0 <= k < 128 (bits shifted out are lost).
U128 Shift_Left(U128 x, int k) {
  if (k >= 64) return {x.lo << (k - 64), 0};
  if (k == 0) return x;
  return {(x.hi << k) | (x.lo >> (64 - k)), x.lo << k};
}

bool Bit_At(U128 x, int k) {
  if (k >= 128) return false;
  return k >= 64 ? ((x.hi >> (k - 64)) & 1) != 0 : ((x.lo >> k) & 1) != 0;
}

// Any bit set below position k?
bool Any_Below(U128 x, int k) {
  if (k <= 0) return false;
  if (k >= 128) return (x.hi | x.lo) != 0;
  if (k >= 64) return x.lo != 0 || (k > 64 && (x.hi << (128 - k)) != 0);
  return (x.lo << (64 - k)) != 0;
}

U128 Add(U128 a, U128 b) {
  U128 r{a.hi + b.hi, a.lo + b.lo};
  if (r.lo < a.lo) ++r.hi;
  return r;
}

// ---- Rounding to a binary format ---------------------------------------------

// A binary floating-point format: significand bits (integer bit included),
// smallest and largest normal exponent.
struct Format {
  int precision;
  int32_t min_exponent;
  int32_t max_exponent;
};

constexpr Format Extended_Format{64, -16382, 16383};
constexpr Format Double_Format{53, -1022, 1023};
constexpr Format Single_Format{24, -126, 127};

enum class Kind : uint8_t { Zero, Finite, Infinite, Nan };

// A non-negative number in some format: significand * 2^exponent, where the
// significand has exactly `precision` bits when normal and fewer when
// subnormal (then exponent = min_exponent - precision + 1). A NaN keeps the
// 64-bit extended significand as its payload.
struct Number {
  Kind kind = Kind::Zero;
  uint64_t significand = 0;
  int32_t exponent = 0;
};

// Rounds m * 2^scale to the nearest value of `format` (ties to even).
// `sticky` says the exact value lies strictly between m and m + 1 units of
// 2^scale; callers that pass it give m more bits than the precision, so that
// the rounding position lies above the unit of m.
Number Round_To(U128 m, int32_t scale, bool sticky, const Format& format) {
  if ((m.hi | m.lo) == 0) return {};
  const int32_t top = scale + Bit_Length(m) - 1;
  const int32_t unit = (top < format.min_exponent ? format.min_exponent : top) - format.precision + 1;
  const int32_t shift = unit - scale;
  uint64_t r;
  bool wrapped = false;  // a 64-bit significand rounded up past its top
  if (shift <= 0) {
    r = Shift_Left(m, -shift).lo;  // exact: fits in `precision` bits
  } else {
    r = Shift_Right(m, shift).lo;
    const bool half = Bit_At(m, shift - 1);
    const bool rest = sticky || Any_Below(m, shift - 1);
    if (half && (rest || (r & 1))) wrapped = ++r == 0;
  }
  int32_t exponent = unit;
  if (wrapped || Bit_Length(r) > format.precision) {  // rounded up to the next power of two
    r = uint64_t{1} << (format.precision - 1);
    ++exponent;
  }
  if (r == 0) return {};
  if (exponent + Bit_Length(r) - 1 > format.max_exponent) return {Kind::Infinite, 0, 0};
  return {Kind::Finite, r, exponent};
}

Number Round_Extended(U128 m, int32_t scale, bool sticky) {
  return Round_To(m, scale, sticky, Extended_Format);
}

// ---- The x87 operations ------------------------------------------------------

Number Times_Ten(const Number& x) {
  if (x.kind != Kind::Finite) return x;
  // 10 * s = 8 * s + 2 * s, up to 68 bits.
  const U128 s{0, x.significand};
  return Round_Extended(Add(Shift_Left(s, 3), Shift_Left(s, 1)), x.exponent, false);
}

Number Plus_Digit(const Number& x, uint32_t digit) {
  if (x.kind == Kind::Zero) return Round_Extended({0, digit}, 0, false);
  if (x.kind != Kind::Finite || digit == 0) return x;
  if (x.exponent >= 64) return x;  // the digit is far below half a unit
  if (x.exponent >= 0) {
    return Round_Extended(Add(Shift_Left({0, x.significand}, x.exponent), {0, digit}), 0, false);
  }
  // Both are integers, so 2^exponent >= 2^-63 and the aligned digit fits.
  return Round_Extended(Add({0, x.significand}, Shift_Left({0, digit}, -x.exponent)), x.exponent, false);
}

// The x87 default NaN (the "indefinite"): negative, quiet, empty payload.
constexpr uint64_t Indefinite_Significand = 0xC000000000000000u;

// a / b for non-negative a and b, as the x87 divides: inf / inf is invalid
// and gives the indefinite NaN (sign set); the caller reads that from the
// returned flag.
Number Divide(Number a, Number b, bool* indefinite) {
  *indefinite = false;
  if (a.kind == Kind::Infinite && b.kind == Kind::Infinite) {
    *indefinite = true;
    return {Kind::Nan, Indefinite_Significand, 0};
  }
  if (a.kind == Kind::Infinite) return a;
  if (a.kind == Kind::Zero || b.kind == Kind::Infinite) return {};
  // b is at least 1 here, never zero. Normalise both significands.
  while (!(a.significand >> 63)) { a.significand <<= 1; --a.exponent; }
  while (!(b.significand >> 63)) { b.significand <<= 1; --b.exponent; }
  // Restoring division: q = floor(a * 2^65 / b), 65 or 66 bits, as a/b lies
  // in (1/2, 2).
  uint64_t rem = a.significand;
  U128 q{};
  if (rem >= b.significand) {
    rem -= b.significand;
    q.lo = 1;
  }
  for (int i = 0; i < 65; ++i) {
    const bool carry = (rem >> 63) != 0;
    rem <<= 1;
    q = Shift_Left(q, 1);
    if (carry || rem >= b.significand) {
      rem -= b.significand;  // wraps correctly when the carry was set
      q.lo |= 1;
    }
  }
  return Round_Extended(q, a.exponent - b.exponent - 65, rem != 0);
}

// ---- Storing -----------------------------------------------------------------

void Store_Little(uint64_t bits, uint32_t count, uint8_t* destination) {
  for (uint32_t i = 0; i < count; ++i) destination[i] = static_cast<uint8_t>(bits >> (8 * i));
}

// Encodes an extended value as the IEEE single (bits 32) or double (bits 64).
uint64_t Encode_Narrow(const Number& x, bool negative, const Format& format) {
  const int fraction_bits = format.precision - 1;
  const uint64_t fraction_mask = (uint64_t{1} << fraction_bits) - 1;
  const uint64_t all_ones = static_cast<uint64_t>(2 * format.max_exponent + 1);
  const int sign_position = format.precision == 24 ? 31 : 63;
  uint64_t bits = 0;
  switch (x.kind) {
    case Kind::Zero:
      break;
    case Kind::Infinite:
      bits = all_ones << fraction_bits;
      break;
    case Kind::Nan:  // the payload's leading fraction bits, quiet bit included
      bits = (all_ones << fraction_bits) | ((x.significand << 1) >> (64 - fraction_bits));
      break;
    case Kind::Finite: {
      const Number y = Round_To({0, x.significand}, x.exponent, false, format);
      if (y.kind == Kind::Infinite) {
        bits = all_ones << fraction_bits;
      } else if (y.kind == Kind::Finite) {
        if (Bit_Length(y.significand) == format.precision) {
          const int32_t biased = y.exponent + fraction_bits + format.max_exponent;
          bits = (static_cast<uint64_t>(biased) << fraction_bits) | (y.significand & fraction_mask);
        } else {
          bits = y.significand;  // subnormal
        }
      }
      break;
    }
  }
  if (negative) bits |= uint64_t{1} << sign_position;
  return bits;
}

void Store_Extended(const Number& x, bool negative, uint8_t* destination) {
  uint64_t significand = 0;
  uint32_t biased = 0;
  switch (x.kind) {
    case Kind::Zero:
      break;
    case Kind::Infinite:
      significand = uint64_t{1} << 63;
      biased = 0x7FFF;
      break;
    case Kind::Nan:
      significand = x.significand;
      biased = 0x7FFF;
      break;
    case Kind::Finite:
      significand = x.significand;
      if (significand >> 63) biased = static_cast<uint32_t>(x.exponent + 63 + 16383);
      break;
  }
  Store_Little(significand, 8, destination);
  Store_Little(biased | (negative ? 0x8000u : 0u), 2, destination + 8);
}

}  // namespace

int Str_To_Real(const char* text, uint32_t length, uint32_t bits, uint8_t* destination) {
  Number value;
  Number divisor{Kind::Finite, uint64_t{1} << 63, -63};
  bool negative = false;
  bool fraction = false;
  for (uint32_t i = 0; i < length; ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      value = Plus_Digit(Times_Ten(value), static_cast<uint32_t>(c - '0'));
      if (fraction) divisor = Times_Ten(divisor);
    } else if (c == '-') {
      negative = true;
    } else if (c == '.') {
      fraction = true;
    } else if (c != '_') {
      return -1;
    }
  }
  bool indefinite = false;
  const Number result = Divide(value, divisor, &indefinite);
  // The indefinite NaN carries its own sign, which the negation flips.
  const bool sign = negative != indefinite;
  if (bits == 32) {
    Store_Little(Encode_Narrow(result, sign, Single_Format), 4, destination);
  } else if (bits == 64) {
    Store_Little(Encode_Narrow(result, sign, Double_Format), 8, destination);
  } else if (bits == 80) {
    Store_Extended(result, sign, destination);
  }
  return 0;
}

int Real_Item_Value(const char* text, uint32_t length, uint32_t bits, uint8_t* destination) {
  bool digit = false;
  for (uint32_t i = 0; i < length && !digit; ++i) digit = text[i] >= '0' && text[i] <= '9';
  if (!digit || Str_To_Real(text, length, bits, destination) != 0) return -1;  // `.` or `-` alone is no number
  bool finite = true;
  switch (bits) {  // a literal has no way to write infinity or NaN: it was too big
    case 32: finite = ((destination[3] & 0x7F) << 1 | destination[2] >> 7) != 0xFF; break;
    case 64: finite = ((destination[7] & 0x7F) << 4 | destination[6] >> 4) != 0x7FF; break;
    case 80: finite = ((destination[9] & 0x7F) << 8 | destination[8]) != 0x7FFF; break;
    default: break;
  }
  return finite ? 0 : -2;
}
