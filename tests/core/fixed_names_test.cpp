// The compiler-built name tables: every keyword, register and modifier is
// found as its list's last record of that name, in any case, and nothing
// else is found, not even a name one character longer or shorter.
#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <string>

#include "core/keywords.h"

namespace {

struct Name_List {
  const char* what;
  uint32_t count;
  const char* (*name)(uint32_t);
  int32_t (*find)(const std::string&);
  bool or20;  // keywords and registers fold with OR 20h, modifiers A-Z only
};

const Name_List Lists[] = {
    {"keyword", Builtin_Keyword_Count, [](uint32_t i) { return Builtin_Keywords[i].name; },
     [](const std::string& s) {
       return Keyword_Names.Find(s.data(), static_cast<uint32_t>(s.size()),
                                 [](uint32_t i) { return Builtin_Keywords[i].name; });
     },
     true},
    {"register", Builtin_Register_Count, [](uint32_t i) { return Builtin_Registers[i].name; },
     [](const std::string& s) { return Builtin_Register_Index(s.data(), static_cast<uint32_t>(s.size())); }, true},
    {"modifier", Modifier_List_Count, [](uint32_t i) { return Modifier_List[i].name; },
     [](const std::string& s) {
       const Short_Keyword* k = Modifier_Find(s.data(), static_cast<uint32_t>(s.size()));
       return k ? static_cast<int32_t>(k - Modifier_List) : -1;
     },
     false},
};

std::string Fold(const std::string& s, bool or20) {
  std::string f;
  for (unsigned char c : s) f += static_cast<char>(or20 ? (c | 0x20) : std::tolower(c));
  return f;
}

}  // namespace

TEST(Fixed_Names, EveryNameFoundInEveryCase) {
  for (const Name_List& l : Lists) {
    std::map<std::string, int32_t> last;
    for (uint32_t i = 0; i < l.count; ++i) last[Fold(l.name(i), l.or20)] = static_cast<int32_t>(i);
    for (uint32_t i = 0; i < l.count; ++i) {
      const std::string lower = l.name(i);
      std::string upper = lower, mixed = lower;
      for (size_t k = 0; k < lower.size(); ++k) {
        upper[k] = static_cast<char>(std::toupper(static_cast<unsigned char>(lower[k])));
        if (k % 2) mixed[k] = upper[k];
      }
      const int32_t want = last[Fold(lower, l.or20)];
      for (const std::string& v : {lower, upper, mixed}) EXPECT_EQ(l.find(v), want) << l.what << " " << v;
    }
  }
}

TEST(Fixed_Names, NothingElseFound) {
  for (const Name_List& l : Lists) {
    std::map<std::string, int32_t> names;
    for (uint32_t i = 0; i < l.count; ++i) names[Fold(l.name(i), l.or20)] = static_cast<int32_t>(i);
    auto absent = [&](const std::string& s) {
      if (names.count(Fold(s, l.or20))) return;
      EXPECT_EQ(l.find(s), -1) << l.what << " " << s;
    };
    for (uint32_t i = 0; i < l.count; ++i) {
      const std::string s = l.name(i);
      absent(s + "x");
      absent(s + "0");
      absent("x" + s);
      absent(s.substr(0, s.size() - 1));
      absent(s.substr(1));
    }
    for (const char* s : {"", "L0", "123", "q17", "loop_end", "a+b", "eax+4", "[eax]", "\x1A", "movsd0"}) absent(s);
  }
}
