// Text, number and hash utilities shared by the whole assembler.
#pragma once
#include <cstdint>
#include <initializer_list>

// ---- Strings -----------------------------------------------------------
uint32_t Str_Len(const char* text);
uint32_t Str_Len_Z(const char* text);
uint32_t Str_Copy(const char* source, char* destination);
// n = 0 copies nothing; 1..1023 copies n bytes and a NUL; 1024 or more is an
// error ("Str_Copy_Nr error") and leaves the destination unchanged.
int Str_Copy_Nr(const char* source, char* destination, uint32_t n);
void Str_Copy_Max(const char* source, char* destination, uint32_t n);
char* Str_Cat(const char* source, char* destination);
uint32_t Str_Cat_Nr(const char* source, uint32_t n, char* destination);
void Str_Cat_Char(char c, char* destination);
int32_t Str_Find_Char(const char* text, char c);
int32_t Str_Find_Slash(const char* text);
int32_t Str_Find_Last_Slash(const char* text);
bool Str_Equal(const char* a, uint32_t la, const char* b, uint32_t lb);
// A name or path that holds a NUL is refused by its statement: written out
// as a C string it would be cut there.
bool Str_Has_Nul(const char* text, uint32_t length);
bool Str_Equal_NoCase(const char* a, uint32_t la, const char* b, uint32_t lb);
// The keyword side is stored in lower case; only the text is folded.
bool Str_Equal_Lower(const char* text, uint32_t length, const char* keyword, uint32_t klength);

inline char Lower_Ascii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

// ---- Numbers to text ---------------------------------------------------
uint32_t Str_From_Uint(char* destination, uint32_t value);
// The digits of `value` in `base` (2 to 16, upper-case letters), no sign,
// leading zeros or terminator; the count is returned.
uint32_t Str_Digits(char* destination, uint64_t value, uint32_t base);
void Str_Hex32(uint32_t value, char* destination);
void Str_Hex8(uint32_t value, char* destination);

// One formatter argument: a number (%u %d %x) or a NUL-terminated text (%s).
struct Fmt_Arg {
  enum Kind : uint8_t { Number, Text } kind;
  uint32_t number = 0;
  const char* text = nullptr;
  Fmt_Arg(uint32_t v) : kind(Number), number(v) {}
  Fmt_Arg(int32_t v) : kind(Number), number(static_cast<uint32_t>(v)) {}
  Fmt_Arg(const char* s) : kind(Text), text(s) {}
  Fmt_Arg(char* s) : kind(Text), text(s) {}
};

// printf-like: %s %u %d %x %%; \n \t \\ escapes. A '%' with another letter, or
// a missing or mismatched argument, writes '?' and ends the text. The output
// is cut to fit `capacity` bytes with its NUL. Returns the length.
uint32_t Str_Format(char* destination, uint32_t capacity, const char* format,
                    std::initializer_list<Fmt_Arg> args = {});
// The same over an array of arguments.
uint32_t Str_Format(char* destination, uint32_t capacity, const char* format, const Fmt_Arg* args,
                    uint32_t count);

// ---- Literal parsers (0 = success, -1 = failure) --------------------------
int Str_To_Bin64(const char* text, uint32_t length, uint64_t* value);
int Str_To_Hex64(const char* text, uint32_t length, uint64_t* value);
int Str_To_Dec64(const char* text, uint32_t length, uint64_t* value);
// Real literal to a 32-, 64- or 80-bit IEEE value (4, 8 or 10 bytes, little
// end first), rounded through an 80-bit extended value first.
int Str_To_Real(const char* text, uint32_t length, uint32_t bits, uint8_t* destination);
// Str_To_Real for a value that is written as data or an immediate: -1 when
// the text is no real literal (also one without a digit), -2 when the value
// is too big for its size (it rounded to infinity), else 0.
int Real_Item_Value(const char* text, uint32_t length, uint32_t bits, uint8_t* destination);

// ---- 64-bit arithmetic ----------------------------------------------------
inline uint64_t Mul64(uint64_t a, uint64_t b) { return a * b; }
inline uint64_t Div64(uint64_t a, uint64_t b) { return b ? a / b : ~uint64_t{0}; }
inline uint64_t Mod64(uint64_t a, uint64_t b) { return b ? a % b : a; }

// ---- Pseudo-random numbers (the `rnd` operator) ----------------------------
struct Rnd_State {
  uint16_t Rnd_Seed = 181;
};
extern Rnd_State Rnd;
uint32_t Rnd_Next(uint32_t n);

// ---- Hashes --------------------------------------------------------------
uint32_t Fnv1a32(const char* name, uint32_t length);
uint16_t Symbol_Hash(const char* name, uint32_t length);
uint16_t Symbol_Hash_NoCase(const char* name, uint32_t length);
