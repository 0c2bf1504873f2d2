#include <string>

#include "support/fixture.h"

class Sections_Test : public Assembler_Fixture {
 protected:
  void Use_Format(uint32_t format) {
    Options.Output_Format = format;
    Section_Table_Reset(format);
  }
};

TEST_F(Sections_Test, PassOneAddressesByFormat) {
  struct Row {
    uint32_t format;
    uint32_t first, step;
  };
  const Row rows[] = {{Format_PE32, 0x401000, 0x1000}, {Format_PE64, 0x401000, 0x1000},
                      {Format_Binary, 0, 512},         {Format_ELF32, 0, 0},
                      {Format_COFF64, 0, 0}};
  for (const Row& r : rows) {
    Section_Buffers_Free();
    Use_Format(r.format);
    Sections.Section_Count = -1;
    for (const char* name : {"text", "data", "idata"}) Section_Create(name, Str_Len(name));
    for (uint32_t i = 0; i < 3; ++i)
      EXPECT_EQ(Sections.Section_Table[i].address, r.first + i * r.step) << "format " << r.format;
  }
}

TEST_F(Sections_Test, LayoutFollowsSizesAndMinimum) {
  Section_Create("a", 1);
  Sections.Section_Write_Offset = 0x1800;  // 6 KiB emitted
  Section_Select("a", 1);
  Section_Create("b", 1);
  Sections.Section_Table[1].min_value = 0x3000;
  Sections.Section_Table[1].out = 0x100;
  Section_Create("c", 1);
  Section_Layout_Pass();
  EXPECT_EQ(Sections.Section_Table[0].address, 0u);
  EXPECT_EQ(Sections.Section_Table[1].address, 0x2000u);
  EXPECT_EQ(Sections.Section_Table[1].virtual_size, 0x3000u);
  EXPECT_EQ(Sections.Section_Table[2].address, 0x5000u);
  EXPECT_EQ(Sections.Section_Table[2].virtual_size, 0x1000u);  // an empty section takes 4 KiB
  EXPECT_EQ(Sections.Current_Section, 0u);
  EXPECT_EQ(err, "");
  Sections.Section_Table[1].out = 0x3000;
  Section_Layout_Pass();
  EXPECT_EQ(err, "\r\n**Warn** Section min value overflow. 00003000");
}

TEST_F(Sections_Test, ObjectFormatsStartEverySectionAtZero) {
  Use_Format(Format_ELF32);
  Section_Create("a", 1);
  Emit_U32(1);
  Section_Create("b", 1);
  Emit_U32(2);
  Section_Save_Current();
  Section_Reset_Pass();
  for (uint32_t i = 0; i < 2; ++i) {
    EXPECT_EQ(Sections.Section_Table[i].address, 0u);
    EXPECT_EQ(Sections.Section_Table[i].rva, 0u);
  }
  // Pass 1 does not save a section left for a new one: its size is provisional.
  EXPECT_EQ(Sections.Section_Table[0].old_out, 0u);
  EXPECT_EQ(Sections.Section_Table[1].old_out, 4u);
}

TEST_F(Sections_Test, SixtyFifthSectionIsRefused) {
  for (int i = 0; i < 64; ++i) {
    std::string name = "s" + std::to_string(i);
    ASSERT_EQ(Section_Create(name.c_str(), static_cast<uint32_t>(name.size())), 0);
  }
  EXPECT_EQ(Section_Create("s64", 3), -1);
  EXPECT_EQ(err, "\r\n**Error** prog.asm(12) Section, limit reached: s64");
  EXPECT_EQ(Sections.Section_Count, 63);
  EXPECT_EQ(Diag.Stop_Flag, 1u);
}

TEST_F(Sections_Test, EmitterGrowsAndKeepsBytes) {
  Open_Section();
  for (uint32_t i = 0; i < Section_Buffer_Initial; ++i) Emit_Byte(static_cast<uint8_t>(i * 7));
  Emit_Byte(0xAB);
  EXPECT_EQ(Sections.Capacity, 2 * Section_Buffer_Initial);  // doubled
  EXPECT_EQ(Sections.Section_Write_Offset, Section_Buffer_Initial + 1);
  bool intact = true;
  for (uint32_t i = 0; i < Section_Buffer_Initial; ++i)
    intact = intact && Sections.Section_Data_Base[i] == static_cast<uint8_t>(i * 7);
  EXPECT_TRUE(intact);
  EXPECT_EQ(Sections.Section_Data_Base[Section_Buffer_Initial], 0xAB);
  std::string big(3 * Section_Buffer_Initial, 'x');  // one write larger than the growth step
  Emit_Bytes(big.data(), static_cast<uint32_t>(big.size()));
  EXPECT_EQ(Sections.Section_Write_Offset, 4 * Section_Buffer_Initial + 1);
}

TEST_F(Sections_Test, NoSectionMeansNoBytes) {
  Emit_Byte(1);
  Emit_U32(2);
  EXPECT_EQ(Sections.Section_Write_Offset, 0u);
  EXPECT_EQ(Sections.Location_Counter, 0u);
}

TEST_F(Sections_Test, RefillClearsLastPassBytes) {
  Open_Section();
  Emit_U32(0xFFFFFFFF);
  Section_Save_Current();
  Section_Layout_Pass();
  Section_Refill_Buffers();
  EXPECT_EQ(Sections.Section_Data_Base[0], 0);
  EXPECT_EQ(Sections.Section_Data_Base[3], 0);
}

TEST_F(Sections_Test, ASectionNeverGrowsBeyondItsLimit) {
  Open_Section();
  EXPECT_EQ(Emit_Reserve(Section_Buffer_Limit + 1), -1);
  EXPECT_EQ(err, "\r\n**Error** prog.asm(12) Section, not enough memory. ");
  EXPECT_EQ(Sections.Section_Write_Offset, 0u);
  EXPECT_EQ(Sections.Capacity, Section_Buffer_Initial);
}
