// Text, number and hash utilities.
#include "core/text.h"

#include "core/diag.h"

Rnd_State Rnd;

uint32_t Str_Len(const char* text) {
  uint32_t n = 0;
  while (text[n]) ++n;
  return n;
}

uint32_t Str_Len_Z(const char* text) { return Str_Len(text) + 1; }

bool Str_Has_Nul(const char* text, uint32_t length) {
  for (uint32_t i = 0; i < length; ++i)
    if (text[i] == 0) return true;
  return false;
}

uint32_t Str_Copy(const char* source, char* destination) {
  uint32_t n = 0;
  while ((destination[n] = source[n]) != 0) ++n;
  return n;
}

int Str_Copy_Nr(const char* source, char* destination, uint32_t n) {
  if (n == 0) return 0;
  if (n >= 1024) {
    Error_Msg("Str_Copy_Nr error");
    Diag.Stop_Flag += 1;
    return -1;
  }
  for (uint32_t i = 0; i < n; ++i) destination[i] = source[i];
  destination[n] = 0;
  return 0;
}

void Str_Copy_Max(const char* source, char* destination, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i) {
    destination[i] = source[i];
    if (source[i] == 0) return;
  }
  destination[n] = 0;
}

char* Str_Cat(const char* source, char* destination) {
  char* p = destination + Str_Len(destination);
  while ((*p = *source++) != 0) ++p;
  return p + 1;
}

uint32_t Str_Cat_Nr(const char* source, uint32_t n, char* destination) {
  uint32_t len = Str_Len(destination);
  for (uint32_t i = 0; i < n; ++i) destination[len + i] = source[i];
  destination[len + n] = 0;
  return len + n;
}

void Str_Cat_Char(char c, char* destination) {
  uint32_t len = Str_Len(destination);
  destination[len] = c;
  destination[len + 1] = 0;
}

int32_t Str_Find_Char(const char* text, char c) {
  for (int32_t i = 0; i < 2048 && text[i]; ++i)
    if (text[i] == c) return i;
  return -1;
}

int32_t Str_Find_Slash(const char* text) {
  for (int32_t i = 0; i < 2048 && text[i]; ++i)
    if (text[i] == '/' || text[i] == '\\') return i;
  return -1;
}

int32_t Str_Find_Last_Slash(const char* text) {
  int32_t last = -1;
  for (int32_t i = 0; i < 2048 && text[i]; ++i)
    if (text[i] == '/' || text[i] == '\\') last = i;
  return last;
}

bool Str_Equal(const char* a, uint32_t la, const char* b, uint32_t lb) {
  if (la != lb) return false;
  for (uint32_t i = 0; i < la; ++i)
    if (a[i] != b[i]) return false;
  return true;
}

bool Str_Equal_NoCase(const char* a, uint32_t la, const char* b, uint32_t lb) {
  if (la != lb) return false;
  for (uint32_t i = 0; i < la; ++i)
    if (Lower_Ascii(a[i]) != Lower_Ascii(b[i])) return false;
  return true;
}

bool Str_Equal_Lower(const char* text, uint32_t length, const char* keyword, uint32_t klength) {
  if (length != klength) return false;
  for (uint32_t i = 0; i < length; ++i)
    if (Lower_Ascii(text[i]) != keyword[i]) return false;
  return true;
}

uint32_t Str_Digits(char* destination, uint64_t value, uint32_t base) {
  char digits[64];
  uint32_t n = 0;
  do {
    digits[n++] = "0123456789ABCDEF"[value % base];
    value /= base;
  } while (value);
  for (uint32_t i = 0; i < n; ++i) destination[i] = digits[n - 1 - i];
  return n;
}

uint32_t Str_From_Uint(char* destination, uint32_t value) {
  const uint32_t n = Str_Digits(destination, value, 10);
  destination[n] = 0;
  return n;
}

static const char Hex_Digits[] = "0123456789ABCDEF";

void Str_Hex32(uint32_t value, char* destination) {
  for (int i = 7; i >= 0; --i) {
    destination[i] = Hex_Digits[value & 15];
    value >>= 4;
  }
  destination[8] = 0;
}

void Str_Hex8(uint32_t value, char* destination) {
  destination[0] = Hex_Digits[(value >> 4) & 15];
  destination[1] = Hex_Digits[value & 15];
  destination[2] = 0;
}

uint32_t Str_Format(char* destination, uint32_t capacity, const char* format,
                    std::initializer_list<Fmt_Arg> args) {
  return Str_Format(destination, capacity, format, args.begin(), static_cast<uint32_t>(args.size()));
}

uint32_t Str_Format(char* destination, uint32_t capacity, const char* format, const Fmt_Arg* args,
                    uint32_t count) {
  if (capacity == 0) return 0;
  uint32_t out = 0;
  const uint32_t limit = capacity - 1;
  auto put = [&](char c) {
    if (out < limit) destination[out++] = c;
  };
  auto put_text = [&](const char* s) {
    while (*s) put(*s++);
  };
  const Fmt_Arg* arg = args;
  const Fmt_Arg* end = args + count;
  for (const char* p = format; *p; ++p) {
    char c = *p;
    if (c == '%') {
      char k = p[1];
      if (k == '%') {
        put('%');
        ++p;
        continue;
      }
      bool wants_text = (k == 's');
      bool known = (k == 's' || k == 'u' || k == 'd' || k == 'x');
      if (!known || arg == end || (arg->kind == Fmt_Arg::Text) != wants_text ||
          (wants_text && arg->text == nullptr)) {
        put('?');
        break;
      }
      char buf[16];
      switch (k) {
        case 's': put_text(arg->text); break;
        case 'u': Str_From_Uint(buf, arg->number); put_text(buf); break;
        case 'd':
          if (static_cast<int32_t>(arg->number) < 0) {
            put('-');
            Str_From_Uint(buf, 0u - arg->number);
          } else {
            Str_From_Uint(buf, arg->number);
          }
          put_text(buf);
          break;
        default: Str_Hex32(arg->number, buf); put_text(buf); break;
      }
      ++arg;
      ++p;
    } else if (c == '\\') {
      char k = p[1];
      if (k == 0) break;  // a backslash just before the end ends the text
      if (k == 'n') {
        put('\r');
        put('\n');
      } else if (k == 't') {
        put('\t');
      } else if (k == '\\') {
        put('\\');
      }
      ++p;
    } else {
      put(c);
    }
  }
  destination[out] = 0;
  return out;
}

static bool Is_Hex_Digit(char c, uint32_t* v) {
  if (c >= '0' && c <= '9') { *v = static_cast<uint32_t>(c - '0'); return true; }
  if (c >= 'a' && c <= 'f') { *v = static_cast<uint32_t>(c - 'a' + 10); return true; }
  if (c >= 'A' && c <= 'F') { *v = static_cast<uint32_t>(c - 'A' + 10); return true; }
  return false;
}

int Str_To_Bin64(const char* text, uint32_t length, uint64_t* value) {
  uint64_t v = 0;
  bool too_big = false;
  for (uint32_t i = 0; i + 1 < length; ++i) {
    char c = text[i];
    if (c == '_') continue;
    if (c != '0' && c != '1') return -1;
    if (v >> 63) too_big = true;
    v = (v << 1) | static_cast<uint64_t>(c - '0');
  }
  if (too_big) Error_Text("Value too big: ", text, length);
  *value = v;
  return 0;
}

int Str_To_Hex64(const char* text, uint32_t length, uint64_t* value) {
  uint64_t v = 0;
  bool too_big = false;
  for (uint32_t i = 0; i + 1 < length; ++i) {
    char c = text[i];
    if (c == '_') continue;
    uint32_t d;
    if (!Is_Hex_Digit(c, &d)) return -1;
    if (v >> 60) too_big = true;
    v = (v << 4) | d;
  }
  if (too_big) Error_Text("Value too big: ", text, length);
  *value = v;
  return 0;
}

int Str_To_Dec64(const char* text, uint32_t length, uint64_t* value) {
  uint64_t v = 0;
  bool too_big = false;
  for (uint32_t i = 0; i < length; ++i) {
    char c = text[i];
    if (c == '_') continue;
    if (c < '0' || c > '9') return -1;
    uint64_t d = static_cast<uint64_t>(c - '0');
    // v * 10 + d > 2^64 - 1, without a division per digit
    constexpr uint64_t Max_Tenth = ~uint64_t{0} / 10;  // 1844674407370955161
    if (v > Max_Tenth || (v == Max_Tenth && d > 5)) too_big = true;
    v = v * 10 + d;
  }
  if (too_big) Error_Text("Value too big: ", text, length);
  *value = v;
  return 0;
}

uint32_t Rnd_Next(uint32_t n) {
  if (n == 0) return 0;
  uint32_t t = static_cast<uint32_t>(Rnd.Rnd_Seed) * Rnd.Rnd_Seed + 115321u;
  Rnd.Rnd_Seed = static_cast<uint16_t>((t >> 8) & 0xFFFFu);
  return t % n;
}

uint32_t Fnv1a32(const char* name, uint32_t length) {
  uint32_t h = 0x811C9DC5u;
  for (uint32_t i = 0; i < length; ++i) h = (h ^ static_cast<uint8_t>(name[i])) * 0x01000193u;
  return h;
}

uint16_t Symbol_Hash(const char* name, uint32_t length) {
  uint32_t h = Fnv1a32(name, length);
  return static_cast<uint16_t>((h >> 16) ^ (h & 0xFFFFu));
}

uint16_t Symbol_Hash_NoCase(const char* name, uint32_t length) {
  uint32_t h = 0x811C9DC5u;
  for (uint32_t i = 0; i < length; ++i) h = (h ^ (static_cast<uint8_t>(name[i]) | 0x20u)) * 0x01000193u;
  return static_cast<uint16_t>((h >> 16) ^ (h & 0xFFFFu));
}
