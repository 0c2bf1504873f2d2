// Data and reserve directives inside one pass: bytes, relocation records,
// label data types, UTF-8 conversion, reserve counts and buffer growth.
#include <string>
#include <vector>

#include "core/scanner.h"
#include "support/fixture.h"
#include "support/run_support.h"

namespace {

class Data_Test : public Assembler_Fixture {
 protected:
  void Parse(const std::string& source) { Parse_Buffer(source.data(), static_cast<uint32_t>(source.size()), 0); }

  std::vector<uint8_t> Bytes(uint32_t from = 0) const {
    const Section_State& s = Sections;
    return {s.Section_Data_Base + from, s.Section_Data_Base + s.Section_Write_Offset};
  }

  // Resets the current section to its start, for the next row of a table.
  void Rewind() {
    Sections.Section_Write_Offset = 0;
    Sections.Location_Counter = Sections.Section_Start;
    Relocs.Reloc_Count = 0;
    err.clear();
    Diag.Error_Count = 0;
    Diag.Stop_Flag = 0;
    Diag.File_Name_Stack[0].line = 12;
  }
};

}  // namespace

TEST_F(Data_Test, AddressItemsRecordRelocations) {
  Options.Info_Flags.info_reloc = 1;  // binary output keeps its relocations only to list them
  Open_Section("a");
  Parse("target: db 0\r\n");
  Open_Section("b");
  Parse("here: dd target\r\ndq target\r\ndd target+4\r\ndd $\r\ndd 5\r\ndd here-here\r\ndq 7\r\n");
  struct Row {
    uint32_t type, offset, target_section;
  };
  const Row expected[] = {{Reloc_Abs32, 0, 0}, {Reloc_Abs64, 4, 0}, {Reloc_Abs32, 12, 0}, {Reloc_Abs32, 16, 1}};
  ASSERT_EQ(Relocs.Reloc_Count, 4u) << err;
  for (uint32_t i = 0; i < 4; ++i) {
    const Reloc_Record& r = Relocs.Reloc_Table[i];
    EXPECT_EQ(r.type, expected[i].type) << i;
    EXPECT_EQ(r.offset, expected[i].offset) << i;
    EXPECT_EQ(r.section, 1u) << i;
    EXPECT_EQ(r.address, Sections.Section_Start + expected[i].offset) << i;
    EXPECT_EQ(r.target_section, expected[i].target_section) << i;
  }
  // A label address fills the low half of dq; the high half stays zero.
  const uint32_t t = Sections.Section_Table[0].address;
  std::vector<uint8_t> b = Bytes();
  ASSERT_EQ(b.size(), 36u);
  EXPECT_EQ(b[4] | b[5] << 8 | b[6] << 16 | b[7] << 24, static_cast<int>(t));
  EXPECT_EQ(b[8] | b[9] | b[10] | b[11], 0);
  EXPECT_EQ(err, "");
}

TEST_F(Data_Test, RelocationTableGrowsKeepingEarlierRecords) {
  Options.Info_Flags.info_reloc = 1;
  Open_Section("d");
  std::string source = "lbl:\r\n";
  for (int i = 0; i < 16385; ++i) source += "dd lbl\r\n";
  Parse(source);
  ASSERT_EQ(Relocs.Reloc_Count, 16385u);
  EXPECT_EQ(Relocs.Reloc_Capacity, 32768u);
  for (uint32_t i = 0; i < 16385; ++i) {
    const Reloc_Record& r = Relocs.Reloc_Table[i];
    ASSERT_EQ(r.type, static_cast<uint32_t>(Reloc_Abs32)) << i;
    ASSERT_EQ(r.offset, i * 4) << i;
    ASSERT_EQ(r.address, Sections.Section_Start + i * 4) << i;
  }
  EXPECT_EQ(err, "");
  // Without the list, binary output applies and keeps none.
  Options.Info_Flags.info_reloc = 0;
  Reloc_Reset_Pass();
  Parse("dd lbl\r\ndq lbl\r\n");
  EXPECT_EQ(Relocs.Reloc_Count, 0u);
  EXPECT_EQ(err, "");
}

TEST_F(Data_Test, LabelsCarryTheirDataType) {
  Open_Section("d");
  struct Row {
    const char* statement;
    const char* name;
    uint32_t bits;
  };
  const Row rows[] = {
      {"a1 db 1", "a1", 8},         {"a2 db 'hi'", "a2", 8},      {"a3 du 'hi'", "a3", 8},
      {"a4 du 1", "a4", 16},        {"a5 dw ?", "a5", 16},        {"a6 dd 1", "a6", 32},
      {"a7 dq 1", "a7", 64},        {"a8 dt 1", "a8", 80},        {"a9 real4 1.0", "a9", 32},
      {"b1 real8 1.0", "b1", 64},   {"b2 real10 1.0", "b2", 80},  {"b3 rb 1", "b3", 8},
      {"b4 rw 1", "b4", 16},        {"b5 rd 1", "b5", 32},        {"b6 rq 1", "b6", 64},
      {"b7 rt 1", "b7", 80},        {"b8 ro 1", "b8", 128},
  };
  for (const Row& r : rows) {
    uint32_t before = Sections.Location_Counter;
    Parse(std::string(r.statement) + "\r\n");
    Label_Hit hit;
    ASSERT_GE(Label_Find(r.name, Str_Len(r.name), 0, &hit), 0) << r.statement;
    EXPECT_EQ(hit.data_type, r.bits) << r.statement;
    EXPECT_EQ(hit.address, before) << r.statement;
  }
  EXPECT_EQ(err, "");
}

TEST_F(Data_Test, DuConvertsUtf8ToUtf16) {
  Open_Section("d");
  struct Row {
    std::string text;  // between the quotes
    std::string hex;   // units written
    std::string message;
  };
  const std::string at = "\r\n**Error** prog.asm(12) ";
  const std::vector<Row> rows = {
      {"AB", "41 00 42 00", ""},
      {"\xC3\xA9", "E9 00", ""},
      {"x\xDF\xBF", "78 00 FF 07", ""},
      {"\xC2\x80", "80 00", ""},
      // A continuation byte or a byte UTF-8 never uses can not start a character.
      {"a\x81\x81", "61 00", at + "DU, UTF-8 bad lead byte: \x81\x81"},
      {"\xFF\x80", "", at + "DU, UTF-8 bad lead byte: \xFF\x80"},
      {"a\xC3", "61 00", at + "DU, UTF-8 truncated encoding."},
      {"\xC3\x41z", "", at + "DU, UTF-8 bad encoding of extra bytes."},
      {"a\xE2\x82\xAC b", "61 00", at + "DU, UTF-8 sequence longer than two bytes: \xE2\x82\xAC b"},
      {"\xF0\x9F\x98\x80", "", at + "DU, UTF-8 sequence longer than two bytes: \xF0\x9F\x98\x80"},
      {"", "", at + "DU, empty string: \"\""},
  };
  for (const Row& r : rows) {
    Rewind();
    Parse("du \"" + r.text + "\"\r\n");
    EXPECT_EQ(Hex_Of(Bytes()), r.hex) << Visible(r.text);
    EXPECT_EQ(err, r.message) << Visible(r.text);
  }
}

TEST_F(Data_Test, ReserveCountsInALaterPass) {
  Open_Section("d");
  Equ_Create("n", 1, 3, 0);
  Pass.Pass_Number = 2;
  struct Row {
    const char* statement;
    uint32_t advance;
    const char* message;  // after the location
  };
  const Row rows[] = {
      {"rb n", 3, ""},
      {"rb 0", 0, ""},
      {"rw n+1", 8, ""},
      {"rt 2", 20, ""},
      {"ro 2", 32, ""},
      {"rq 1", 8, ""},
      {"rb -4", 0, "Unknown data item: -4"},
      {"rw -1", 0, "unknown data count:-1"},
      {"rd 40000000h", 0, "Reserve count is too big: 40000000h"},
      {"rd 40000001h", 0, "Reserve count is too big: 40000001h"},
      {"rq 20000000h", 0, "Reserve count is too big: 20000000h"},
      {"ro 10000000h", 0, "Reserve count is too big: 10000000h"},
      {"rt 1999999Ah", 0, "Reserve count is too big: 1999999Ah"},
      {"rb 100000000h", 0, "Reserve count is too big: 100000000h"},
      {"rb nothing", 0, "Unknown data item: nothing"},
  };
  for (const Row& r : rows) {
    Rewind();
    Parse(std::string(r.statement) + "\r\n");
    EXPECT_EQ(Sections.Section_Write_Offset, r.advance) << r.statement;
    EXPECT_EQ(Sections.Location_Counter - Sections.Section_Start, r.advance) << r.statement;
    std::string expected = *r.message ? std::string("\r\n**Error** prog.asm(12) ") + r.message : "";
    EXPECT_EQ(err, expected) << r.statement;
    EXPECT_EQ(Parser.Parser_Mode, 0u) << r.statement;
  }
}

TEST_F(Data_Test, UnknownCountsTakeAPlaceholderInPassOne) {
  Open_Section("d");
  const struct {
    const char* statement;
    uint32_t advance;
  } rows[] = {{"rb later", 4}, {"rw later", 4}, {"rd later", 4}, {"rq later", 4}, {"rt later", 10},
              {"ro later", 16}, {"rb -4", 4}, {"dd later", 4}, {"dq later", 8}, {"dt later", 10},
              {"db later", 1}};
  for (const auto& r : rows) {
    Rewind();
    Parse(std::string(r.statement) + "\r\n");
    EXPECT_EQ(Sections.Section_Write_Offset, r.advance) << r.statement;
    EXPECT_EQ(err, "") << r.statement;
  }
}

TEST_F(Data_Test, LongRealLinesStayInsideTheBuffer) {
  Open_Section("d");
  // Leave 16 bytes free, then write 8000 bytes of real8 items in one statement.
  Parse("rb 0FFFF0h\r\n");
  std::string line = "real8";
  for (int i = 0; i < 1000; ++i) line += " -2.25";
  Parse(line + "\r\n");
  ASSERT_EQ(Sections.Section_Write_Offset, 0xFFFF0u + 8000u);
  EXPECT_GE(Sections.Capacity, Sections.Section_Write_Offset);
  const uint8_t minus_2_25[8] = {0, 0, 0, 0, 0, 0, 0x02, 0xC0};
  for (uint32_t i = 0; i < 1000; ++i)
    for (uint32_t k = 0; k < 8; ++k) ASSERT_EQ(Sections.Section_Data_Base[0xFFFF0 + i * 8 + k], minus_2_25[k]) << i;
  EXPECT_EQ(err, "");
}

TEST_F(Data_Test, GrowingPastOneMegabyteKeepsTheData) {
  Open_Section("d");
  std::string source;
  for (int line = 0; line < 4096; ++line) {
    source += "db \"";
    for (int i = 0; i < 256; ++i) source += static_cast<char>('A' + (line * 7 + i) % 26);
    source += "\"\r\n";
  }
  Parse(source);
  ASSERT_EQ(Sections.Section_Write_Offset, 0x100000u);
  Parse("db 0AAh\r\n");
  ASSERT_EQ(Sections.Section_Write_Offset, 0x100001u);
  EXPECT_EQ(Sections.Capacity, 0x200000u);  // doubled
  for (uint32_t line = 0; line < 4096; ++line)
    for (uint32_t i = 0; i < 256; ++i)
      ASSERT_EQ(Sections.Section_Data_Base[line * 256 + i], 'A' + (line * 7 + i) % 26) << line << " " << i;
  EXPECT_EQ(Sections.Section_Data_Base[0x100000], 0xAA);
  EXPECT_EQ(err, "");
}

// A narrow item holding an address: refused where a loader or linker would
// have to adjust it, accepted in a flat binary.
TEST(Data_Run, NarrowItemsRefuseAddressesInObjectFiles) {
  struct Row {
    const char* items;
    const char* format;
    std::string err;
  };
  const std::string refused = "\r\n**Error** t.asm(3) Data, item can not hold a relocatable address: ";
  const Row rows[] = {
      {"db lbl", "-elf32", refused + "lbl"},
      {"dw lbl", "-elf32", refused + "lbl"},
      {"du lbl+2", "-elf32", refused + "lbl+2"},
      {"dt lbl", "-elf32", refused + "lbl"},
      {"dw lbl", "-pe", refused + "lbl"},
      {"dw lbl", "-binary", ""},
      {"db lbl", "-binary", ""},
      {"dw lbl-lbl", "-elf32", ""},
      {"dd lbl", "-elf32", ""},
      {"dq lbl", "-elf64", ""},
  };
  for (const Row& r : rows) {
    Run_Result run = Run_Assembler(std::string("section \"d\" class_data\r\nlbl: db 0\r\n") + r.items + "\r\n",
                                   {"-q", r.format});
    EXPECT_EQ(run.err, r.err) << r.items << " " << r.format;
    EXPECT_EQ(run.exit_code, r.err.empty() ? 0 : 1) << r.items << " " << r.format;
  }
}
