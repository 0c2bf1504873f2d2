#include <random>
#include <string>

#include "core/expr.h"
#include "core/operands.h"
#include "support/fixture.h"

using Expr_Test = Assembler_Fixture;

TEST_F(Expr_Test, Values) {
  struct Row {
    const char* text;
    int status;
    uint64_t value;
  };
  const Row rows[] = {
      {"10h", 0, 16},
      {"1010b", 0, 10},
      {"0x1F", 0, 31},
      {"1_000", 0, 1000},
      {"2+3*4", 0, 14},
      {"(2+3)*4", 0, 20},
      {"-(1+1)", 0, 0xFFFFFFFFFFFFFFFEull},
      {"1 shl 33", 0, 2},
      {"0F0h and 0FFh", 0, 0xF0},
      {"12 mod 5", 0, 2},
      {"3 or 4*2", 0, 14},
      {"3*", -1, 1},
      {"3+", -1, 3},
      {"0x", -1, 0},
      {"0x10+1", -1, 1},
      {"$pass", 0, 1},
      {"not 0", 0, 0xFFFFFFFFu},
      {"(1 shl 31) * 4", 0, 0x200000000ull},
      {"0FFFFFFFFh + 1", 0, 0x100000000ull},
      {"7 / 2", 0, 3},
      {"1 ror 1", 0, 0x80000000u},
      {"$size eax", 0, 32},
      {"$value ecx", 0, 1},
      {"$type [ebx]", 0, 3},
      {"$type 'a'", 0, 2},
      {"unknown_sym + 1", -1, 1},
      {"((1)", -1, 1},
      {"1)", -1, 1},
      {"h", -1, 0},
  };
  for (const Row& r : rows) {
    Eval_Result e = Eval_Value(r.text, Str_Len(r.text));
    EXPECT_EQ(e.status, r.status) << r.text;
    EXPECT_EQ(e.value, r.value) << r.text;
  }
  EXPECT_EQ(err, "");
}

TEST_F(Expr_Test, DivideByZero) {
  // Pass 1's distances may grow later: a zero divisor is reported from pass 2 on.
  Eval_Result e = Eval_Value("5/0", 3);
  EXPECT_EQ(e.status, -1);
  EXPECT_EQ(err, "");
  Pass.Pass_Number = 2;
  e = Eval_Value("5/0", 3);
  EXPECT_EQ(e.status, -1);
  EXPECT_EQ(err, "\r\n**Error** prog.asm(12) Expression: Divide by Zero!");
  err.clear();
  e = Eval_Value("fwd+5/fwd", 9);  // an unknown symbol is 0: not an error
  EXPECT_EQ(e.status, -1);
  EXPECT_EQ(err, "");
}

TEST_F(Expr_Test, DeepNestingIsRefused) {
  std::string deep(100000, '(');
  deep += "1";
  deep += std::string(100000, ')');
  Eval_Result e = Eval_Value(deep.c_str(), static_cast<uint32_t>(deep.size()));
  EXPECT_EQ(e.status, -1);
  EXPECT_EQ(err, "\r\n**Error** prog.asm(12) Expression: nesting too deep ");
  err.clear();
  std::string nots;
  for (int i = 0; i < 5000; ++i) nots += "not ";
  nots += "1";
  e = Eval_Value(nots.c_str(), static_cast<uint32_t>(nots.size()));
  EXPECT_EQ(e.status, -1);
}

TEST_F(Expr_Test, RelocatableOnlyForOneAddress) {
  Open_Section("text");
  Sections.Location_Counter = 0x40;
  Label_Create("start", 5, 32, 0x10);
  Label_Create("l2", 2, 32, 0x30);
  struct Row {
    const char* text;
    uint64_t value;
    uint32_t relocatable;
  };
  const Row rows[] = {
      {"$-start", 0x30, 0}, {"l2-start", 0x20, 0}, {"start", 0x10, 1},  {"start+4", 0x14, 1},
      {"$", 0x40, 1},       {"$$", 0, 1},          {"$ofs", 0, 0},       {"l2-start+start", 0x30, 1},
      {"-(start-l2)", 0x20, 0},
  };
  for (const Row& r : rows) {
    Eval_Result e = Eval_Value(r.text, Str_Len(r.text));
    EXPECT_EQ(e.status, 0) << r.text;
    EXPECT_EQ(e.value, r.value) << r.text;
    EXPECT_EQ(Expr.Expr_Relocatable, r.relocatable) << r.text;
  }
  Eval_Result e = Eval_Value("rva start", 9);
  EXPECT_EQ(e.value, 0x10u);
  EXPECT_EQ(Expr.Expr_Reloc_Kind, 4u);
  EXPECT_EQ(Expr.Expr_Relocatable, 1u);
}

// A reference evaluator for + - * / mod and parentheses: * / mod bind
// tighter than + -, each level left to right, unsigned 64-bit wrapping.
namespace {
struct Ref {
  const std::string& s;
  size_t p = 0;
  bool bad = false;
  uint64_t sum() {
    uint64_t v = term();
    while (p < s.size() && (s[p] == '+' || s[p] == '-')) {
      char op = s[p++];
      uint64_t r = term();
      v = op == '+' ? v + r : v - r;
    }
    return v;
  }
  uint64_t term() {
    uint64_t v = factor();
    for (;;) {
      if (p < s.size() && (s[p] == '*' || s[p] == '/')) {
        char op = s[p++];
        uint64_t r = factor();
        if (op == '*') v *= r;
        else if (r == 0) bad = true;
        else v /= r;
      } else if (s.compare(p, 5, " mod ") == 0) {
        p += 5;
        uint64_t r = factor();
        if (r == 0) bad = true;
        else v %= r;
      } else {
        return v;
      }
    }
  }
  uint64_t factor() {
    if (s[p] == '(') {
      ++p;
      uint64_t v = sum();
      ++p;  // ')'
      return v;
    }
    uint64_t v = 0;
    while (p < s.size() && s[p] >= '0' && s[p] <= '9') v = v * 10 + static_cast<uint64_t>(s[p++] - '0');
    return v;
  }
};

std::string Generate(std::mt19937& rng, int depth) {
  std::uniform_int_distribution<int> pick(0, 9);
  if (depth > 3 || pick(rng) < 3) return std::to_string(std::uniform_int_distribution<uint64_t>(1, 99999)(rng));
  static const char* ops[] = {"+", "-", "*", "/", " mod "};
  std::string a = Generate(rng, depth + 1), b = Generate(rng, depth + 1);
  std::string e = a + ops[std::uniform_int_distribution<int>(0, 4)(rng)] + b;
  return pick(rng) < 4 ? "(" + e + ")" : e;
}
}  // namespace

TEST_F(Expr_Test, DifferentialAgainstReference) {
  std::mt19937 rng(12345);
  int checked = 0;
  while (checked < 1000) {
    std::string e = Generate(rng, 0);
    Ref ref{e};
    uint64_t expected = ref.sum();
    if (ref.bad) continue;  // a zero divisor
    Eval_Result r = Eval_Value(e.c_str(), static_cast<uint32_t>(e.size()));
    ASSERT_EQ(r.status, 0) << e;
    ASSERT_EQ(r.value, expected) << e;
    ++checked;
  }
}
