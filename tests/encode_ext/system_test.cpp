// Relocation records of the system instructions and of the bit, condition
// and exchange families: every address field, also inside [reg+label] and
// [label+n], asks for its relocation with the label's section.
#include <string>
#include <vector>

#include "core/scanner.h"
#include "support/fixture.h"
#include "support/run_support.h"

namespace {

class System_Reloc_Test : public Assembler_Fixture {
 protected:
  // Three passes in one output format, as the pass loop runs them.
  void Assemble(const std::string& source, uint32_t format) {
    Options.Output_Format = format;
    Section_Table_Reset(format);
    for (uint32_t pass = 1; pass <= 3 && Diag.Error_Count == 0; ++pass) {
      Pass.Pass_Number = pass;
      Diag.File_Name_Stack[0].line = 1;
      Parser.Code_Mode = Code_32;
      Parser.Parser_Mode = 0;
      Reloc_Reset_Pass();
      Section_Reset_Pass();
      Parse_Buffer(source.data(), static_cast<uint32_t>(source.size()), 0);
      Section_Save_Current();
    }
  }

  void Fresh_Tables() {
    TearDown();
    out.clear();
    err.clear();
    SetUp();
  }
};

}  // namespace

TEST_F(System_Reloc_Test, EveryAddressFieldIsRelocated) {
  struct Row {
    uint32_t format;
    const char* mode;
    const char* instruction;
    const char* bytes;
    uint32_t type, offset;
  };
  // Section 0 "c" holds the instruction; section 1 "d" holds v at 4.
  const Row rows[] = {
      {Format_ELF32, "32", "sidt [ebx+v]", "0F 01 8B 04 00 00 00", Reloc_Abs32, 3},
      {Format_ELF32, "32", "lgdt [v+2]", "0F 01 15 06 00 00 00", Reloc_Abs32, 3},
      {Format_ELF32, "32", "lidt [v]", "0F 01 1D 04 00 00 00", Reloc_Abs32, 3},
      {Format_ELF32, "32", "clflush [ebx+ecx*4+v]", "0F AE BC 8B 04 00 00 00", Reloc_Abs32, 4},
      {Format_ELF32, "32", "vmptrst [v]", "0F C7 3D 04 00 00 00", Reloc_Abs32, 3},
      {Format_ELF32, "32", "invlpg [esi+v]", "0F 01 BE 04 00 00 00", Reloc_Abs32, 3},
      {Format_ELF32, "32", "bound eax,[v]", "62 05 04 00 00 00", Reloc_Abs32, 2},
      {Format_ELF32, "32", "arpl word [v],ax", "63 05 04 00 00 00", Reloc_Abs32, 2},
      {Format_ELF32, "32", "lds esi,[v]", "C5 35 04 00 00 00", Reloc_Abs32, 2},
      {Format_ELF32, "32", "lss esp,[v]", "0F B2 25 04 00 00 00", Reloc_Abs32, 3},
      {Format_ELF32, "32", "bt dword [v],3", "0F BA 25 04 00 00 00 03", Reloc_Abs32, 3},
      {Format_ELF32, "32", "bts [ebx+v],ecx", "0F AB 8B 04 00 00 00", Reloc_Abs32, 3},
      {Format_ELF32, "32", "cmovz eax,[v]", "0F 44 05 04 00 00 00", Reloc_Abs32, 3},
      {Format_ELF32, "32", "setz byte [ebx+v]", "0F 94 83 04 00 00 00", Reloc_Abs32, 3},
      {Format_ELF32, "32", "xadd [v],ecx", "0F C1 0D 04 00 00 00", Reloc_Abs32, 3},
      {Format_COFF64, "64", "lgs r9,[v]", "4C 0F B5 0D 04 00 00 00", Reloc_Rel32, 4},
      {Format_COFF64, "64", "sidt [v]", "0F 01 0D 04 00 00 00", Reloc_Rel32, 3},
      {Format_COFF64, "64", "bt dword [v],1", "0F BA 25 03 00 00 00 01", Reloc_Rel32, 3},
  };
  for (const Row& row : rows) {
    Fresh_Tables();
    const std::string source = std::string("section \"c\" class_code\r\n.use") + row.mode + "\r\n" +
                               row.instruction + "\r\nsection \"d\" class_data\r\ndd 0\r\nv: dd 0\r\n";
    Assemble(source, row.format);
    EXPECT_EQ(err, "") << row.instruction;
    const Section_Record& code = Sections.Section_Table[0];
    std::vector<uint8_t> want;
    Parse_Hex(row.bytes, &want);
    EXPECT_EQ(Hex_Of({code.buffer, code.buffer + code.out}), Hex_Of(want)) << row.instruction;
    ASSERT_EQ(Relocs.Reloc_Count, 1u) << row.instruction;
    const Reloc_Record& r = Relocs.Reloc_Table[0];
    EXPECT_EQ(r.type, row.type) << row.instruction;
    EXPECT_EQ(r.offset, row.offset) << row.instruction;
    EXPECT_EQ(r.section, 0u) << row.instruction;
    EXPECT_EQ(r.target_section, 1u) << row.instruction;
  }
}
