// Procedures end to end: limits checked with generated sources, and the
// messages of statements that depend on an open PROC.
#include <string>
#include <vector>

#include "support/run_support.h"
#include <gtest/gtest.h>

namespace {

std::string Source(const std::vector<std::string>& lines) {
  std::string s = "section \"c\" class_code\r\n";
  for (const std::string& l : lines) s += l + "\r\n";
  return s;
}

std::string Words(const char* prefix, uint32_t n, const char* suffix = "") {
  std::string s;
  for (uint32_t i = 0; i < n; ++i) s += std::string(" ") + prefix + std::to_string(i) + suffix;
  return s;
}

struct Row {
  std::vector<std::string> lines;
  std::string err;  // the whole stderr; empty: success
};

TEST(Proc_Runs, MessagesAndLimits) {
  const std::string name128(128, 'p'), name127(127, 'p'), name48(48, 'a'), name47(47, 'a');
  std::string uses33 = "uses";
  for (int i = 0; i < 33; ++i) uses33 += " ebx";
  std::vector<std::string> labels129 = {"proc P"};
  for (int i = 0; i < 129; ++i) labels129.push_back("l" + std::to_string(i) + ": nop");
  labels129.push_back("endp");
  const Row rows[] = {
      {{"proc P", "endp", "proc P", "endp"}, "\r\n**Error** t.asm(4) PROC already defined: P"},
      {{"proc P", "arg" + Words("a", 64), "arg z", "endp"}, "\r\n**Error** t.asm(4) ARG, can not create more: z"},
      {{"proc P", "arg a b", "arg a", "endp"}, "\r\n**Error** t.asm(4) ARG, is double defined: a"},
      {{"proc P", uses33, "endp"}, "\r\n**Error** t.asm(3) USES, too many items: ebx"},
      {{"proc P", "local" + Words("x", 64), "local y", "endp"},
       "\r\n**Error** t.asm(4) Can not create more LOCALs for procedure: y"},
      {{"proc P", "local x", "local x", "endp"}, "\r\n**Error** t.asm(4) LOCAL, var is double defined: x"},
      {labels129, "\r\n**Error** t.asm(131) Local Label, can not create more: l128"},
      {{"proc " + name128, "endp"}, std::string("\r\n**Error** t.asm(2) PROC, name too long: ") + name128},
      {{"proc " + name127, "ret", "endp"}, ""},
      {{"proc P", "arg " + name48, "endp"}, std::string("\r\n**Error** t.asm(3) ARG, name too long: ") + name48},
      {{"proc P", "local " + name48, "endp"}, std::string("\r\n**Error** t.asm(3) LOCAL, name too long: ") + name48},
      {{"proc P", name48 + ": nop", "endp"}, std::string("\r\n**Error** t.asm(3) Local Label, name too long: ") + name48},
      {{"proc P", "arg " + name47, "local b" + name47.substr(1), "nop", "endp"}, ""},
      {{"proc P", "uses cr0", "endp"}, "\r\n**Error** t.asm(3) USES, can not save this register: cr0"},
      {{"proc P", "uses cs", "endp"}, "\r\n**Error** t.asm(3) USES, can not save this register: cs"},
      {{"proc P", "uses nosuch", "endp"}, "\r\n**Error** t.asm(3) USES, item unknown: nosuch"},
      {{".use32", "proc P", "uses r9", "endp"}, "\r\n**Error** t.asm(4) Register can not be used in this mode: r9"},
      {{".use64", "proc P lin64", "uses ax", "ret", "endp"}, "\r\n**Error** t.asm(5) USES, can not save this register: ax"},
      {{"proc P", "nop", "local x", "endp"}, "\r\n**Error** t.asm(4) LOCAL, must precede the first code of PROC: x"},
      {{"proc P noframe", "nop", "cdecl", "ret", "endp"},
       "\r\n**Error** t.asm(4) PROC, convention must precede the first code: cdecl"},
      {{"proc P", "local big[20000]", "nop", "endp"}, "\r\n**Error** t.asm(4) LOCAL, frame is too big: P"},
      {{".use64", "proc P win64", "local big[8191]", "nop", "endp"},
       "\r\n**Error** t.asm(5) LOCAL, frame is too big: P"},
      {{"proc P", "local big[-1]", "endp"}, "\r\n**Error** t.asm(3) LOCAL, count is out of range: big[-1]"},
      {{"proc P", "local big[20000000h]", "endp"}, "\r\n**Error** t.asm(3) LOCAL, count is out of range: big[20000000h]"},
      {{".use64", "proc P", "local a[0FFFFFFFh] b[0FFFFFFFh]", "endp"},
       "\r\n**Error** t.asm(4) LOCAL, count is out of range: b"},
      {{"proc P", "local buf[0]", "endp"}, "\r\n**Error** t.asm(3) LOCAL, [0] is not allowed: buf[0]"},
      {{"proc P", "local x[nosuch]", "endp"}, "\r\n**Error** t.asm(3) Symbol unknown: x[nosuch]"},
      {{"proc P", "local []", "endp"}, "\r\n**Error** t.asm(3) Empty or orphan brackets? : []"},
      {{"proc P", "local [4]", "endp"}, "\r\n**Error** t.asm(3) LOCAL, expecting local name first: [4]"},
      {{"proc P", "proc Q", "endp"}, "\r\n**Error** t.asm(3) PROC, previous PROC not closed: P"},
      {{"proc ecx", "ret", "endp"}, "\r\n**Error** t.asm(2) PROC, name is reserved: ecx"},
      {{"proc P", "local esi", "endp"}, "\r\n**Error** t.asm(3) LOCAL, name is reserved: esi"},
      {{"proc P noframe", "l: ret", "endp", "dd l"}, "\r\n**Error** t.asm(5) Unknown data item: l"},
      {{"proc P", "local x", "mov eax,[x.y]", "endp"},
       "\r\n**Error** t.asm(4) LOCAL, type is not a structure: x.y"
       "\r\n**Error** t.asm(4) Unknown address expresion in [] : x.y"},
      {{"proc P", "local x :NOPE", "nop", "endp"}, "\r\n**Error** t.asm(3) LOCAL, type is unknown:  :NOPE"},
      {{"proc P", "local x :", "endp"}, "\r\n**Error** t.asm(3) LOCAL, type token is too small:  :"},
      {{"proc P", "endp", "endp"}, "\r\n**Error** t.asm(4) Unmached ENDP ?: "},
  };
  for (const Row& row : rows) {
    const Run_Result r = Run_Assembler(Source(row.lines), {"-binary", "-q", "-size"});
    const std::string what = row.lines.size() > 1 ? row.lines[1].substr(0, 60) : row.lines[0];
    EXPECT_EQ(Visible(r.err), Visible(row.err)) << what;
    EXPECT_EQ(r.exit_code, row.err.empty() ? 0 : 1) << what;
  }
}

// Many PROCs, each with its own local labels of the same names, called
// across the table: every address settles and the table grows as needed.
TEST(Proc_Runs, ManyProcsWithSharedLocalNames) {
  std::vector<std::string> lines;
  const int n = 4000;
  for (int i = 0; i < n; ++i) {
    lines.push_back("proc P" + std::to_string(i) + " noframe");
    lines.push_back("next: loop next");
    lines.push_back("dd P" + std::to_string((i * 7) % n));
    lines.push_back("ret");
    lines.push_back("endp");
  }
  const Run_Result r = Run_Assembler(Source(lines), {"-binary", "-q"});
  ASSERT_EQ(r.exit_code, 0) << Visible(r.err);
  ASSERT_EQ(r.output.size(), static_cast<size_t>(n - 1) * 16 + 7);
  // PROC i starts at 16*i: E2 FE, then the address of PROC 7i mod n, C3.
  for (int i : {0, 1, 999, n - 1}) {
    const size_t at = static_cast<size_t>(i) * 16;
    const uint32_t target = static_cast<uint32_t>((i * 7) % n) * 16;
    EXPECT_EQ(r.output[at], 0xE2);
    EXPECT_EQ(r.output[at + 1], 0xFE);
    EXPECT_EQ(r.output[at + 2] | r.output[at + 3] << 8 | r.output[at + 4] << 16, static_cast<int>(target));
    EXPECT_EQ(r.output[at + 6], 0xC3);
  }
}

// Two PROCs whose frames use each other's names, with a LOCAL count and type
// known only from pass 2: each PROC reads its own items in every pass.
TEST(Proc_Runs, FramesStayApartAcrossPasses) {
  const std::string source =
      Source({".use32", "proc A", "arg x", "local y[N]", "mov eax,[x]", "mov ebx,[y]", "ret", "endp", "proc B",
              "arg p y", "local x :S", "local z", "mov eax,[y]", "mov ebx,[x.b]", "mov ecx,[z]", "ret", "endp",
              "N equ 3", "struc S", "a dd ?", "b dd ?", "ends"});
  const Run_Result r = Run_Assembler(source, {"-binary", "-q"});
  ASSERT_EQ(r.exit_code, 0) << Visible(r.err);
  // enter 12; [ebp+8]; [ebp-12]; leave; ret 4; pad to 16; enter 12; [ebp+12]; [ebp-8+4]; [ebp-12]; leave; ret 8
  const std::vector<uint8_t> want = {0xC8, 0x0C, 0x00, 0x00, 0x8B, 0x45, 0x08, 0x8B, 0x5D, 0xF4, 0xC9, 0xC2,
                                     0x04, 0x00, 0x90, 0x90, 0xC8, 0x0C, 0x00, 0x00, 0x8B, 0x45, 0x0C, 0x8B,
                                     0x5D, 0xFC, 0x8B, 0x4D, 0xF4, 0xC9, 0xC2, 0x08, 0x00};
  EXPECT_EQ(std::vector<uint8_t>(r.output.begin(), r.output.end()), want);
}

}  // namespace
