// Token streams of the scanner, through a recording sink.
#include <string>
#include <vector>

#include "core/scanner.h"
#include "support/fixture.h"
#include "support/run_support.h"

namespace {

std::string Tokens;
void Rec_Word(const char* t, uint32_t n) { Tokens += "W(" + std::string(t, n) + ") "; }
void Rec_String(const char* t, uint32_t n) { Tokens += "S(" + std::string(t, n) + ") "; }
void Rec_Bracket(const char* t, uint32_t n) { Tokens += "B(" + std::string(t, n) + ") "; }
void Rec_End() { Tokens += "END "; }
const Token_Sink Recorder = {Rec_Word, Rec_String, Rec_Bracket, Rec_End};

class Scanner_Test : public Assembler_Fixture {
 protected:
  void SetUp() override {
    Assembler_Fixture::SetUp();
    Scanner_Set_Sink(&Recorder);
    Tokens.clear();
  }
  void TearDown() override {
    Scanner_Set_Sink(nullptr);
    Assembler_Fixture::TearDown();
  }
  std::string Scan(const std::string& text) {
    Tokens.clear();
    Parse_Buffer(text.data(), static_cast<uint32_t>(text.size()), 0);
    return Tokens;
  }
};

}  // namespace

TEST_F(Scanner_Test, TokenStreams) {
  struct Row {
    const char* text;
    const char* tokens;
  };
  const Row rows[] = {
      {"mov eax, [ebx + 4] ; note\r\n", "W(mov) W(eax) B([ebx + 4]) END "},
      {"/* a /* b */ c */ nop\r\n", "W(nop) END "},
      {"db 'it''s'\r\n", "W(db) S('it') S('s') END "},
      {"db \"a;b\", 0\r\n", "W(db) S(\"a;b\") W(0) END "},
      {"a\\b c\r\n", "W(a\\b) W(c) END "},
      {"x <a <b> c> y\r\n", "W(x) W(a <b> c) W(y) END "},
      {"x <> y\r\n", "W(x) W( ) W(y) END "},
      {"x {a\r\nb} y\r\n", "W(x) W(a\r\nb) W(y) END "},
      {"one\ntwo\n", "W(one) END W(two) END "},             // line feeds alone end statements
      {"one ; c\ntwo\n", "W(one) END W(two) END "},          // and end ; comments
      {"last", "W(last) END "},                               // a last line without a line end
      {"", ""},
      {"mov eax, 1 \\\r\n , 2\r\n", "W(mov) W(eax) W(1) W(2) END "},  // continuation
      {"a /* open\r\n", ""},                                  // reported below
  };
  for (const Row& r : rows) {
    err.clear();
    Diag.File_Name_Stack[0].line = 12;
    std::string got = Scan(r.text);
    if (std::string(r.text) == "a /* open\r\n") {
      EXPECT_EQ(err, "\r\n**Error** prog.asm(13) Comment is not closed: /*");
      continue;
    }
    EXPECT_EQ(got, r.tokens) << Visible(r.text);
    EXPECT_EQ(err, "") << Visible(r.text);
  }
}

TEST_F(Scanner_Test, ByteOrderMarkIsSkipped) {
  std::string plain = Scan("nop\r\n");
  std::string marked = Scan("\xEF\xBB\xBFnop\r\n");
  EXPECT_EQ(marked, plain);
  EXPECT_EQ(Parser.Bom_Seen, 1u);
}

TEST_F(Scanner_Test, LinesAreCounted) {
  Diag.File_Name_Stack[0].line = 1;
  Scan("a \\\r\n b\r\nc\nd\r\n");
  EXPECT_EQ(Pass.Line_Counter, 4u);
  EXPECT_EQ(Diag.File_Name_Stack[0].line, 5u);
}

TEST_F(Scanner_Test, BracketErrors) {
  Diag.File_Name_Stack[0].line = 7;
  Scan("[a[b]]\r\n");
  EXPECT_EQ(err.rfind("\r\n**Error** prog.asm(7) Brackets nesting is not allowed: [a", 0), 0u) << Visible(err);
  err.clear();
  Scan("mov [eax\r\n");
  EXPECT_EQ(err, "\r\n**Error** prog.asm(8) Expecting right square bracket:[eax");
  err.clear();
  Scan("db 'abc\r\n");
  EXPECT_EQ(err, "\r\n**Error** prog.asm(9) Expecting end quote:'abc");
}

TEST_F(Scanner_Test, ReadsNothingPastTheEnd) {
  // A buffer that ends in '/' or '*' must not look at the byte after it.
  const std::string text = "a /";
  std::vector<char> exact(text.begin(), text.end());  // no terminator after it
  Tokens.clear();
  Parse_Buffer(exact.data(), static_cast<uint32_t>(exact.size()), 0);
  EXPECT_EQ(Tokens, "W(a) W(/) END ");
}

TEST_F(Scanner_Test, DepthLimit) {
  Parser.Parse_Depth = 63;
  Scan("nop\r\n");
  EXPECT_EQ(err, "\r\n**Error** prog.asm(12) Parse deepth level overflow.");
  EXPECT_EQ(Tokens, "");
  EXPECT_EQ(Parser.Parse_Depth, 63u);
}

namespace {
// Each word records the buffer it was scanned in; "in" scans a nested text.
std::vector<Scan_Buffer> Seen;
void Rec_Buffer_Word(const char* t, uint32_t n) {
  Seen.push_back(Scanner_Current_Buffer());
  if (std::string(t, n) == "in") Parse_Buffer("x y", 3, Parse_Not_File);
}
const Token_Sink Buffer_Recorder = {Rec_Buffer_Word, Rec_String, Rec_Bracket, Rec_End};
}  // namespace

TEST_F(Scanner_Test, CurrentBufferFollowsNesting) {
  Scanner_Set_Sink(&Buffer_Recorder);
  Seen.clear();
  const std::string text = "a in b\r\n";
  Parse_Buffer(text.data(), static_cast<uint32_t>(text.size()), Parse_Not_File);
  ASSERT_EQ(Seen.size(), 5u);  // a, in, x, y, b
  EXPECT_EQ(Seen[0].text, text.data());
  EXPECT_EQ(Seen[0].length, text.size());
  EXPECT_EQ(Seen[1].serial, Seen[0].serial);
  EXPECT_NE(Seen[2].serial, Seen[0].serial);
  EXPECT_EQ(Seen[2].length, 3u);
  EXPECT_EQ(Seen[3].serial, Seen[2].serial);
  EXPECT_EQ(Seen[4].serial, Seen[0].serial);  // the outer buffer again
  EXPECT_EQ(Scanner_Current_Buffer().text, nullptr);
}
