// Branches whose records the source rows can not show: the relocation of a
// branch into another section of an object file, per format.
#include <string>
#include <vector>

#include "core/operands.h"
#include "core/scanner.h"
#include "directives/imports.h"
#include "encode/branch.h"
#include "support/fixture.h"
#include "support/run_support.h"

namespace {

using Branch_Test = Assembler_Fixture;

}  // namespace

// Section "c" holds `here` at 0 and the branch; section "d" (code too) holds
// `t` at 4. A branch into "d" takes the near form, whatever -size says, and a
// pc-relative record; the field holds what the format's linker adds to.
TEST_F(Branch_Test, BranchIntoAnotherSectionIsRelocated) {
  struct Row {
    uint32_t format;
    const char* mode;
    uint32_t short_jumps;
    const char* instruction;
    const char* bytes;
    int reloc_offset;  // -1: no record
    uint32_t reloc_type;
  };
  const Row rows[] = {
      {Format_COFF32, "32", 0, "call t", "E8 04 00 00 00", 1, Reloc_Rel32},
      {Format_COFF32, "32", 1, "jmp t", "E9 04 00 00 00", 1, Reloc_Rel32},
      {Format_COFF32, "32", 1, "jz t", "0F 84 04 00 00 00", 2, Reloc_Rel32},
      {Format_OMF32, "32", 0, "call t", "E8 04 00 00 00", 1, Reloc_Rel32},
      {Format_ELF32, "32", 0, "jmp t", "E9 00 00 00 00", 1, Reloc_Rel32},
      {Format_ELF32, "32", 0, "call t+8", "E8 08 00 00 00", 1, Reloc_Rel32},
      {Format_ELF64, "64", 1, "jne t", "0F 85 00 00 00 00", 2, Reloc_Rel32},
      {Format_COFF64, "64", 0, "call t", "E8 04 00 00 00", 1, Reloc_Rel32},
      // the far offset is an absolute address
      {Format_COFF32, "32", 0, "jmp far 8 t", "EA 04 00 00 00 08 00", 1, Reloc_Abs32},
      // within the section, and in an image: the distance is final
      {Format_COFF32, "32", 0, "call here", "E8 FB FF FF FF", -1, 0},
      {Format_ELF64, "64", 1, "jmp here", "EB FE", -1, 0},
      {Format_PE32, "32", 0, "call t", "E8 FF 0F 00 00", -1, 0},
      {Format_Binary, "32", 1, "jmp t", "E9 FF 0F 00 00", -1, 0},
  };
  for (const Row& row : rows) {
    TearDown();
    out.clear();
    err.clear();
    SetUp();
    Options.Short_Jumps = row.short_jumps;
    Relocs.Reloc_Table[0].import_index = 0xDEAD;  // a slot is never read uncleared
    const std::string source = std::string("section \"c\" class_code\r\n.use") + row.mode + "\r\nhere:\r\n" +
                               row.instruction + "\r\nsection \"d\" class_code\r\ndd 0\r\nt: nop\r\n";
    Assemble(source, row.format);
    Options.Short_Jumps = 0;
    EXPECT_EQ(err, "") << row.instruction;
    const Section_Record& c = Sections.Section_Table[0];
    std::vector<uint8_t> want;
    Parse_Hex(row.bytes, &want);
    EXPECT_EQ(Hex_Of({c.buffer, c.buffer + c.out}), Hex_Of(want)) << row.instruction;
    if (row.reloc_offset < 0) {
      EXPECT_EQ(Relocs.Reloc_Count, 0u) << row.instruction;
      continue;
    }
    ASSERT_EQ(Relocs.Reloc_Count, 1u) << row.instruction;
    const Reloc_Record& r = Relocs.Reloc_Table[0];
    EXPECT_EQ(r.type, row.reloc_type) << row.instruction;
    EXPECT_EQ(r.offset, static_cast<uint32_t>(row.reloc_offset)) << row.instruction;
    EXPECT_EQ(r.section, 0u) << row.instruction;
    EXPECT_EQ(r.target_section, 1u) << row.instruction;
    EXPECT_EQ(r.import_index, 0u) << row.instruction;
  }
}

// 16-bit code has no pc-relative relocation: such a branch is refused.
TEST_F(Branch_Test, SixteenBitBranchIntoAnotherSectionIsRefused) {
  const std::string source =
      "section \"c\" class_code\r\n.use16\r\njmp t\r\nsection \"d\" class_code\r\nt: nop\r\n";
  Assemble(source, Format_COFF32);
  EXPECT_EQ(err, "\r\n**Error** prog.asm(3) JMP, target in another section in 16-bit code: t");
}

// A call of an import: an external symbol leaves the distance to the linker
// (type 2, with the format's addend); a thunk is reached directly, or through
// a type-3 record when it lies in another object section.
TEST_F(Branch_Test, CallOfAnImportPerFormat) {
  struct Row {
    uint32_t format;
    uint32_t external, thunk_address, thunk_section;
    const char* bytes;      // after three nops
    int reloc_type;         // -1: no record
  };
  const Row rows[] = {
      {Format_ELF32, 1, 0, 0, "E8 FC FF FF FF", Reloc_Extern_Rel},
      {Format_ELF64, 1, 0, 0, "E8 FC FF FF FF", Reloc_Extern_Rel},
      {Format_COFF32, 1, 0, 0, "E8 00 00 00 00", Reloc_Extern_Rel},
      {Format_MachO32, 1, 0, 0, "E8 F8 FF FF FF", Reloc_Extern_Rel},  // -4 - field (4)
      {Format_PE32, 0, 0x402000, 0, "E8 F8 0F 00 00", -1},  // thunk - (field 401004h + 4)
      {Format_COFF32, 0, 0x20, 1, "E8 20 00 00 00", Reloc_Rel32},
      {Format_ELF32, 0, 0x20, 1, "E8 1C 00 00 00", Reloc_Rel32},
  };
  for (const Row& row : rows) {
    TearDown();
    err.clear();
    SetUp();
    Options.Output_Format = row.format;
    Section_Table_Reset(row.format);
    Open_Section();
    Pass.Pass_Number = 2;
    for (int i = 0; i < 3; ++i) Emit_Byte(0x90);
    const uint32_t start = Sections.Section_Write_Offset;
    Call_Extern(Import_Func_Ref{7, row.external, row.thunk_address, row.thunk_section}, "f", 1);
    const uint8_t* b = Sections.Section_Data_Base;
    std::vector<uint8_t> want;
    Parse_Hex(row.bytes, &want);
    EXPECT_EQ(Hex_Of({b + start, b + Sections.Section_Write_Offset}), Hex_Of(want)) << row.bytes;
    if (row.reloc_type < 0) {
      EXPECT_EQ(Relocs.Reloc_Count, 0u);
      continue;
    }
    ASSERT_EQ(Relocs.Reloc_Count, 1u) << row.bytes;
    EXPECT_EQ(Relocs.Reloc_Table[0].type, static_cast<uint32_t>(row.reloc_type));
    EXPECT_EQ(Relocs.Reloc_Table[0].offset, start + 1);
    if (row.external) EXPECT_EQ(Relocs.Reloc_Table[0].import_index, 7u);
  }
  // 16-bit code has no 32-bit call of an import
  Parser.Code_Mode = Code_16;
  err.clear();
  Call_Extern(Import_Func_Ref{0, 1, 0, 0}, "ExitProcess", 11);
  EXPECT_EQ(err, "\r\n**Error** prog.asm(12) Call, can not call an import in 16-bit code: ExitProcess");
}

// A LOOP behind 64 forward conditional jumps: pass 2 measures it on
// addresses of pass 1, where each jump still had the 6 bytes of its
// placeholder. The reach is judged once the addresses have settled; a LOOP
// that is too far on settled addresses is still refused.
TEST(Branch_Runs, LoopBehindManyForwardJumpsIn16BitCode) {
  auto program = [](uint32_t gap) {
    std::string s = "section \"c\" class_code\r\n.use16\r\n";
    for (int i = 0; i < 64; ++i) s += "je F" + std::to_string(i) + "\r\n";
    s += "loop L\r\nrb " + std::to_string(gap) + "\r\nL: nop\r\n";
    for (int i = 0; i < 64; ++i) s += "F" + std::to_string(i) + ": nop\r\n";
    return s;
  };
  for (const char* size : {"-q", "-size"}) {
    const Run_Result r = Run_Assembler(program(0), {"-binary", "-q", size});
    EXPECT_EQ(Visible(r.err), "") << size;
    ASSERT_EQ(r.exit_code, 0) << size;
    const size_t loop = r.output.size() - 67;  // E2 00, L's nop, the 64 nops
    EXPECT_EQ(Hex_Of({r.output[loop], r.output[loop + 1]}), "E2 00") << size;
    const Run_Result far = Run_Assembler(program(128), {"-binary", "-q", size});
    EXPECT_EQ(Visible(far.err), "\\r\\n**Error** t.asm(67) LOOP: target label is too far ") << size;
    EXPECT_EQ(far.exit_code, 1) << size;
  }
}
