// The built-in keyword and register lists: counts, names, kinds, handler
// identities and the payload words that the handlers read.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/keyword_list.h"

namespace {

constexpr uint32_t None = Payload_None;

// The record that a lookup finds: the last one of that name.
const Keyword_Record* Find(const char* name) {
  const Keyword_Record* hit = nullptr;
  for (uint32_t i = 0; i < Builtin_Keyword_Count; ++i)
    if (std::strcmp(Builtin_Keywords[i].name, name) == 0) hit = &Builtin_Keywords[i];
  return hit;
}

int Index_Of(const char* name, int from = 0) {
  for (uint32_t i = from; i < Builtin_Keyword_Count; ++i)
    if (std::strcmp(Builtin_Keywords[i].name, name) == 0) return static_cast<int>(i);
  return -1;
}

bool Same_Record(const Keyword_Record& a, const Keyword_Record& b) {
  return std::strcmp(a.name, b.name) == 0 && a.kind == b.kind && a.handler == b.handler &&
         std::memcmp(a.payload, b.payload, sizeof a.payload) == 0;
}

bool Is_Lower_Name(const char* name) {
  for (const char* p = name; *p; ++p)
    if (std::isupper(static_cast<unsigned char>(*p)) || std::isspace(static_cast<unsigned char>(*p))) return false;
  return true;
}

bool Carries_Payload(Kh id) {
  switch (id) {
    case Kh::Cmovcc: case Kh::Setcc: case Kh::Jcc: case Kh::Opcode1: case Kh::Opcode2: case Kh::Opcode3:
    case Kh::Sse: case Kh::Sse_Imm8: case Kh::Sse_Extract: case Kh::Crc32_Popcnt: case Kh::Fcmovcc:
    case Kh::Fucom: case Kh::Fucomp: case Kh::Fill: case Kh::Set_Parser_Mode: case Kh::Stdcall:
    case Kh::Cdecl: case Kh::Noframe: case Kh::Win64: case Kh::Win64_Push: case Kh::Lin64:
      return true;
    default:
      return false;
  }
}

bool Is_Sse(Kh id) { return id == Kh::Sse || id == Kh::Sse_Imm8 || id == Kh::Sse_Extract || id == Kh::Crc32_Popcnt; }

}  // namespace

TEST(KeywordList, CountsAndDuplicates) {
  ASSERT_EQ(Builtin_Keyword_Count, 606u);
  std::map<std::string, int> seen;
  for (uint32_t i = 0; i < Builtin_Keyword_Count; ++i) seen[Builtin_Keywords[i].name] += 1;
  EXPECT_EQ(seen.size(), 603u);
  std::set<std::string> twice;
  for (const auto& [name, n] : seen)
    if (n > 1) twice.insert(name);
  EXPECT_EQ(twice, (std::set<std::string>{"cmovl", "pmulld", "do"}));

  // The equal duplicates stand right after their first record.
  for (const char* name : {"cmovl", "pmulld"}) {
    int first = Index_Of(name);
    ASSERT_GE(first, 0) << name;
    EXPECT_TRUE(Same_Record(Builtin_Keywords[first], Builtin_Keywords[first + 1])) << name;
  }
  // `do` stands first as a data directive right after `dq`; the FOR keyword comes later and wins.
  int data_do = Index_Of("do");
  ASSERT_GT(data_do, 0);
  EXPECT_STREQ(Builtin_Keywords[data_do - 1].name, "dq");
  EXPECT_EQ(Builtin_Keywords[data_do].kind, uint32_t{Kw_Code});
  EXPECT_EQ(Builtin_Keywords[data_do].handler, Kh::Data_Do);
  EXPECT_EQ(Find("do")->kind, uint32_t{Kw_Directive});
  EXPECT_EQ(Find("do")->handler, Kh::For_Do);
  EXPECT_GT(Index_Of("do", data_do + 1), Index_Of("for"));
}

TEST(KeywordList, NamesKindsAndHandlers) {
  const std::set<uint32_t> kinds{Kw_Code, Kw_Directive, Kw_Convention, Kw_Resource, Kw_Varg};
  std::set<Kh> used;
  for (uint32_t i = 0; i < Builtin_Keyword_Count; ++i) {
    const Keyword_Record& r = Builtin_Keywords[i];
    size_t length = std::strlen(r.name);
    EXPECT_GE(length, 1u) << i;
    EXPECT_LE(length, 31u) << r.name;
    EXPECT_TRUE(Is_Lower_Name(r.name)) << r.name;
    EXPECT_TRUE(kinds.count(r.kind)) << r.name << " kind " << r.kind;
    EXPECT_GT(static_cast<int>(r.handler), static_cast<int>(Kh::None)) << r.name;
    EXPECT_LT(static_cast<int>(r.handler), static_cast<int>(Kh::Count)) << r.name;
    used.insert(r.handler);
    if (!Carries_Payload(r.handler)) {
      for (uint32_t k = 0; k < 4; ++k) EXPECT_EQ(r.payload[k], 0u) << r.name << " payload " << k + 1;
    }
  }
  // Every identity names the handler of at least one keyword.
  for (int id = 1; id < static_cast<int>(Kh::Count); ++id)
    EXPECT_TRUE(used.count(static_cast<Kh>(id))) << "identity " << id << " is used by no keyword";
}

TEST(KeywordList, PayloadSpotChecks) {
  struct Case {
    const char* name;
    uint32_t kind;
    Kh handler;
    uint32_t payload[4];
  };
  const Case cases[] = {
      {"mov", Kw_Code, Kh::Mov, {0, 0, 0, 0}},
      {"jo", Kw_Code, Kh::Jcc, {0x70, 0x80, 0, 0}},
      {"jnae", Kw_Code, Kh::Jcc, {0x72, 0x82, 0, 0}},
      {"jg", Kw_Code, Kh::Jcc, {0x7F, 0x8F, 0, 0}},
      {"seto", Kw_Code, Kh::Setcc, {0x90, 0, 0, 0}},
      {"setpo", Kw_Code, Kh::Setcc, {0x9B, 0, 0, 0}},
      {"cmovo", Kw_Code, Kh::Cmovcc, {0x40, 0, 0, 0}},
      {"cmovnae", Kw_Code, Kh::Cmovcc, {0x42, 0, 0, 0}},
      {"cmovl", Kw_Code, Kh::Cmovcc, {0x4C, 0, 0, 0}},
      {"addpd", Kw_Code, Kh::Sse, {0x66, 0x0F, 0x58, None}},
      {"addps", Kw_Code, Kh::Sse, {None, 0x0F, 0x58, None}},
      {"addss", Kw_Code, Kh::Sse, {0xF3, 0x0F, 0x58, None}},
      {"paddsb", Kw_Code, Kh::Sse, {0x66, 0x0F, 0xEC, None}},
      {"cvtdq2pq", Kw_Code, Kh::Sse, {0xF3, 0x0F, 0xE6, None}},
      {"pmovsxbw", Kw_Code, Kh::Sse, {0x66, 0x0F, 0x38, 0x20}},
      {"pmulld", Kw_Code, Kh::Sse, {0x66, 0x0F, 0x38, 0x40}},
      {"phminposuw", Kw_Code, Kh::Sse, {0x66, 0x0F, 0x38, 0x41}},
      {"cmpps", Kw_Code, Kh::Sse_Imm8, {None, 0x0F, 0xC2, None}},
      {"pshufw", Kw_Code, Kh::Sse_Imm8, {None, 0x0F, 0x70, None}},
      {"roundsd", Kw_Code, Kh::Sse_Imm8, {0x66, 0x0F, 0x3A, 0x0B}},
      {"pcmpistri", Kw_Code, Kh::Sse_Imm8, {0x66, 0x0F, 0x3A, 0x63}},
      {"pextrd", Kw_Code, Kh::Sse_Extract, {0x66, 0x0F, 0x3A, 0x16}},
      {"crc32", Kw_Code, Kh::Crc32_Popcnt, {0xF2, 0x0F, 0x38, 0xF1}},
      {"popcnt", Kw_Code, Kh::Crc32_Popcnt, {0xF3, 0x0F, 0xB8, None}},
      {"fcmovnbe", Kw_Code, Kh::Fcmovcc, {0xDB, 0xD0, 0, 0}},
      {"fcmovu", Kw_Code, Kh::Fcmovcc, {0xDA, 0xD8, 0, 0}},
      {"fucom", Kw_Code, Kh::Fucom, {0xDD, 0xE1, 0, 0}},
      {"fucomp", Kw_Code, Kh::Fucomp, {0xDD, 0xE9, 0, 0}},
      {"fb", Kw_Code, Kh::Fill, {212, 0, 0, 0}},
      {"fw", Kw_Code, Kh::Fill, {214, 0, 0, 0}},
      {"fd", Kw_Code, Kh::Fill, {216, 0, 0, 0}},
      {"fq", Kw_Code, Kh::Fill, {218, 0, 0, 0}},
      {"fs", Kw_Code, Kh::Fill, {220, 0, 0, 0}},
      {"#define", Kw_Directive, Kh::Set_Parser_Mode, {276, 0, 0, 0}},
      {"caption", Kw_Resource, Kh::Set_Parser_Mode, {279, 0, 0, 0}},
      {"style", Kw_Resource, Kh::Set_Parser_Mode, {280, 0, 0, 0}},
      {"exitm", Kw_Directive, Kh::Set_Parser_Mode, {284, 0, 0, 0}},
      {"base", Kw_Directive, Kh::Set_Parser_Mode, {288, 0, 0, 0}},
      {"$emit_parg", Kw_Directive, Kh::Set_Parser_Mode, {292, 0, 0, 0}},
      {"min_size", Kw_Directive, Kh::Set_Parser_Mode, {295, 0, 0, 0}},
      {"stdcall", Kw_Convention, Kh::Stdcall, {0, 0, 0, 0}},
      {"cdecl", Kw_Convention, Kh::Cdecl, {1, 0, 0, 0}},
      {"noframe", Kw_Convention, Kh::Noframe, {3, 0, 0, 0}},
      {"win64_push", Kw_Convention, Kh::Win64_Push, {4, 0, 0, 0}},
      {"win64", Kw_Convention, Kh::Win64, {5, 0, 0, 0}},
      {"lin64", Kw_Convention, Kh::Lin64, {6, 0, 0, 0}},
      {"varg", Kw_Varg, Kh::Varg, {0, 0, 0, 0}},
      {"$time", Kw_Directive, Kh::Dir_Time, {0, 0, 0, 0}},
      {"rs", Kw_Code, Kh::Reserve_Rs, {0, 0, 0, 0}},
      {"incbin", Kw_Code, Kh::Incbin, {0, 0, 0, 0}},
      {"include", Kw_Directive, Kh::Include, {0, 0, 0, 0}},
      {"struct", Kw_Directive, Kh::Struc, {0, 0, 0, 0}},
      {"public", Kw_Directive, Kh::Export, {0, 0, 0, 0}},
      {"from", Kw_Directive, Kh::Import_Dll, {0, 0, 0, 0}},
      {"extern", Kw_Directive, Kh::Extern, {0, 0, 0, 0}},
      {".use64", Kw_Directive, Kh::Use64, {0, 0, 0, 0}},
      {"class_rsrc", Kw_Directive, Kh::Class_Rsrc, {0, 0, 0, 0}},
      {"end", Kw_Resource, Kh::End, {0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    const Keyword_Record* r = Find(c.name);
    ASSERT_NE(r, nullptr) << c.name;
    EXPECT_EQ(r->kind, c.kind) << c.name;
    EXPECT_EQ(r->handler, c.handler) << c.name;
    for (uint32_t k = 0; k < 4; ++k) EXPECT_EQ(r->payload[k], c.payload[k]) << c.name << " payload " << k + 1;
  }
}

// The two conditional families and the conditional jumps agree on every suffix.
TEST(KeywordList, ConditionCodesAgree) {
  int setcc = 0, cmovcc = 0, jcc = 0;
  for (uint32_t i = 0; i < Builtin_Keyword_Count; ++i) {
    const Keyword_Record& r = Builtin_Keywords[i];
    if (r.handler == Kh::Setcc) {
      ++setcc;
      const Keyword_Record* cmov = Find(("cmov" + std::string(r.name + 3)).c_str());
      ASSERT_NE(cmov, nullptr) << r.name;
      EXPECT_EQ(r.payload[0] - 0x90, cmov->payload[0] - 0x40) << r.name;
      const Keyword_Record* j = Find(("j" + std::string(r.name + 3)).c_str());
      if (j) {
        EXPECT_EQ(j->payload[0] - 0x70, r.payload[0] - 0x90) << r.name;
      }
    } else if (r.handler == Kh::Cmovcc) {
      ++cmovcc;
      EXPECT_GE(r.payload[0], 0x40u);
      EXPECT_LE(r.payload[0], 0x4Fu);
    } else if (r.handler == Kh::Jcc) {
      ++jcc;
      EXPECT_EQ(r.payload[1] - 0x80, r.payload[0] - 0x70) << r.name;
      EXPECT_LE(r.payload[0], 0x7Fu) << r.name;
    }
  }
  EXPECT_EQ(setcc, 30);
  EXPECT_EQ(cmovcc, 31);  // cmovl twice
  EXPECT_EQ(jcc, 28);
  for (const char* absent : {"jp", "jnp", "jcxz", "jecxz", "jrcxz"}) EXPECT_EQ(Find(absent), nullptr) << absent;
}

// Prefix, escape, opcode, third byte: "none" is never written as a 00 byte.
TEST(KeywordList, SsePayloadShape) {
  int count = 0;
  for (uint32_t i = 0; i < Builtin_Keyword_Count; ++i) {
    const Keyword_Record& r = Builtin_Keywords[i];
    if (!Is_Sse(r.handler)) continue;
    ++count;
    const uint32_t* p = r.payload;
    EXPECT_TRUE(p[0] == None || p[0] == 0x66 || p[0] == 0xF2 || p[0] == 0xF3) << r.name;
    EXPECT_EQ(p[1], 0x0Fu) << r.name;
    EXPECT_LE(p[2], 0xFFu) << r.name;
    bool escaped = p[2] == 0x38 || p[2] == 0x3A;
    if (escaped) {
      EXPECT_LE(p[3], 0xFFu) << r.name;
    } else {
      EXPECT_EQ(p[3], None) << r.name;
    }
  }
  EXPECT_EQ(count, 130 + 29 + 4 + 2);  // pmulld twice
}

// Every operand-less instruction and the exact bytes it writes, in all modes.
TEST(KeywordList, OperandLessBytes) {
  struct Case {
    const char* name;
    std::vector<uint32_t> bytes;
  };
  const Case cases[] = {
      {"reti", {0xC3}}, {"retf", {0xCB}}, {"int3", {0xCC}}, {"int1", {0xF1}}, {"into", {0xCE}},
      {"iret", {0xCF}}, {"iretd", {0xCF}}, {"hlt", {0xF4}}, {"leave", {0xC9}}, {"pushad", {0x60}},
      {"pusha", {0x60}}, {"pushfd", {0x9C}}, {"pushf", {0x9C}}, {"popad", {0x61}}, {"popa", {0x61}},
      {"popfd", {0x9D}}, {"popf", {0x9D}}, {"rep", {0xF3}}, {"repz", {0xF3}}, {"repnz", {0xF2}},
      {"movsb", {0xA4}}, {"stosb", {0xAA}}, {"lodsb", {0xAC}}, {"scasb", {0xAE}}, {"scasd", {0xAF}},
      {"nop", {0x90}}, {"clc", {0xF8}}, {"stc", {0xF9}}, {"daa", {0x27}}, {"das", {0x2F}},
      {"cbw", {0x98}}, {"cwde", {0x98}}, {"cdq", {0x99}}, {"cwd", {0x99}}, {"cld", {0xFC}},
      {"std", {0xFD}}, {"cmc", {0xF5}}, {"aaa", {0x37}}, {"aas", {0x3F}}, {"lahf", {0x9F}},
      {"lock", {0xF0}}, {"sahf", {0x9E}}, {"outsb", {0x6E}}, {"outsd", {0x6F}}, {"insb", {0x6C}},
      {"insd", {0x6D}}, {"fwait", {0x9B}}, {"cli", {0xFA}}, {"sti", {0xFB}}, {"xlat", {0xD7}},

      {"aad", {0xD5, 0x0A}}, {"aam", {0xD4, 0x0A}}, {"cpuid", {0x0F, 0xA2}}, {"wrmsr", {0x0F, 0x30}},
      {"rdtsc", {0x0F, 0x31}}, {"rdmsr", {0x0F, 0x32}}, {"rdpmc", {0x0F, 0x33}}, {"fdivrp", {0xDE, 0xF1}},
      {"fxch", {0xD9, 0xC9}}, {"fcompp", {0xDE, 0xD9}}, {"fucompp", {0xDA, 0xE9}}, {"fnstsw", {0xDF, 0xE0}},
      {"fnclex", {0xDB, 0xE2}}, {"fnop", {0xD9, 0xD0}}, {"fchs", {0xD9, 0xE0}}, {"fabs", {0xD9, 0xE1}},
      {"ftst", {0xD9, 0xE4}}, {"fxam", {0xD9, 0xE5}}, {"fld1", {0xD9, 0xE8}}, {"fldl2t", {0xD9, 0xE9}},
      {"fldl2e", {0xD9, 0xEA}}, {"fldpi", {0xD9, 0xEB}}, {"fldlg2", {0xD9, 0xEC}}, {"fldln2", {0xD9, 0xED}},
      {"fldz", {0xD9, 0xEE}}, {"f2xm1", {0xD9, 0xF0}}, {"fyl2x", {0xD9, 0xF1}}, {"fptan", {0xD9, 0xF2}},
      {"fpatan", {0xD9, 0xF3}}, {"fxtract", {0xD9, 0xF4}}, {"fprem1", {0xD9, 0xF5}}, {"fdecstp", {0xD9, 0xF6}},
      {"fincstp", {0xD9, 0xF7}}, {"fprem", {0xD9, 0xF8}}, {"fyl2xp1", {0xD9, 0xF9}}, {"fsqrt", {0xD9, 0xFA}},
      {"fsincos", {0xD9, 0xFB}}, {"frndint", {0xD9, 0xFC}}, {"fscale", {0xD9, 0xFD}}, {"fsin", {0xD9, 0xFE}},
      {"fcos", {0xD9, 0xFF}}, {"syscall", {0x0F, 0x05}}, {"sysret", {0x0F, 0x07}}, {"sysenter", {0x0F, 0x34}},
      {"sysexit", {0x0F, 0x35}}, {"emms", {0x0F, 0x77}}, {"clts", {0x0F, 0x06}}, {"invd", {0x0F, 0x08}},
      {"wbinvd", {0x0F, 0x09}}, {"pause", {0xF3, 0x90}}, {"rsm", {0x0F, 0xAA}}, {"ud2", {0x0F, 0x0B}},

      {"fstsw", {0x9B, 0xDF, 0xE0}}, {"fclex", {0x9B, 0xDB, 0xE2}}, {"sfence", {0x0F, 0xAE, 0xF8}},
      {"sysexit64", {0x48, 0x0F, 0x35}}, {"swapgs", {0x0F, 0x01, 0xF8}}, {"mfence", {0x0F, 0xAE, 0xF0}},
      {"vmcall", {0x0F, 0x01, 0xC1}}, {"vmlaunch", {0x0F, 0x01, 0xC2}}, {"vmresume", {0x0F, 0x01, 0xC3}},
      {"vmxoff", {0x0F, 0x01, 0xC4}}, {"monitor", {0x0F, 0x01, 0xC8}}, {"mwait", {0x0F, 0x01, 0xC9}},
      {"vzeroall", {0xC5, 0xFC, 0x77}}, {"vzeroupper", {0xC5, 0xF8, 0x77}},
  };
  ASSERT_EQ(std::size(cases), 116u);
  const Kh by_length[] = {Kh::None, Kh::Opcode1, Kh::Opcode2, Kh::Opcode3};
  for (const Case& c : cases) {
    const Keyword_Record* r = Find(c.name);
    ASSERT_NE(r, nullptr) << c.name;
    EXPECT_EQ(r->kind, uint32_t{Kw_Code}) << c.name;
    EXPECT_EQ(r->handler, by_length[c.bytes.size()]) << c.name;
    for (uint32_t k = 0; k < 4; ++k)
      EXPECT_EQ(r->payload[k], k < c.bytes.size() ? c.bytes[k] : 0u) << c.name << " payload " << k + 1;
  }
  // No other keyword uses the operand-less handlers.
  int opcode_records = 0;
  for (uint32_t i = 0; i < Builtin_Keyword_Count; ++i) {
    Kh h = Builtin_Keywords[i].handler;
    opcode_records += h == Kh::Opcode1 || h == Kh::Opcode2 || h == Kh::Opcode3;
  }
  EXPECT_EQ(opcode_records, 116);
}

TEST(RegisterList, CountsNamesAndSpotChecks) {
  ASSERT_EQ(Builtin_Register_Count, 136u);
  std::set<std::string> names;
  for (uint32_t i = 0; i < Builtin_Register_Count; ++i) {
    const Register_Record& r = Builtin_Registers[i];
    names.insert(r.name);
    EXPECT_LE(std::strlen(r.name), 31u) << r.name;
    EXPECT_TRUE(Is_Lower_Name(r.name)) << r.name;
    EXPECT_GE(r.reg_class, uint32_t{Reg_General}) << r.name;
    EXPECT_LE(r.reg_class, uint32_t{Reg_Debug}) << r.name;
  }
  EXPECT_EQ(names.size(), 136u);

  struct Case {
    const char* name;
    uint32_t size, number, reg_class;
  };
  const Case cases[] = {
      {"al", 8, 0, Reg_General},     {"bh", 8, 7, Reg_General},      {"r8l", 8, 8, Reg_General},
      {"r15l", 8, 15, Reg_General},  {"spl", 8, 20, Reg_General},    {"dil", 8, 23, Reg_General},
      {"sp", 16, 4, Reg_General},    {"r9w", 16, 9, Reg_General},    {"es", 16, 0, Reg_Segment},
      {"gs", 16, 5, Reg_Segment},    {"ebp", 32, 5, Reg_General},    {"r15d", 32, 15, Reg_General},
      {"rdi", 64, 7, Reg_General},   {"r0", 64, 0, Reg_General},     {"r15", 64, 15, Reg_General},
      {"rax2", 64, 8, Reg_General},  {"rsi2", 64, 14, Reg_General},  {"mm7", 64, 7, Reg_MMX},
      {"st0", 64, 0, Reg_X87},       {"st7", 64, 7, Reg_X87},        {"xmm15", 128, 15, Reg_XMM},
      {"cr0", 32, 0, Reg_Control},   {"cr7", 32, 7, Reg_Control},    {"cr8", 64, 0, Reg_Control},
      {"dr6", 32, 6, Reg_Debug},
  };
  for (const Case& c : cases) {
    const Register_Record* hit = nullptr;
    for (uint32_t i = 0; i < Builtin_Register_Count; ++i)
      if (std::strcmp(Builtin_Registers[i].name, c.name) == 0) hit = &Builtin_Registers[i];
    ASSERT_NE(hit, nullptr) << c.name;
    EXPECT_EQ(hit->size, c.size) << c.name;
    EXPECT_EQ(hit->number, c.number) << c.name;
    EXPECT_EQ(hit->reg_class, c.reg_class) << c.name;
  }
  for (const char* absent : {"cr1", "cr5", "cr6", "st8", "xmm16", "rip"}) EXPECT_FALSE(names.count(absent)) << absent;
}
