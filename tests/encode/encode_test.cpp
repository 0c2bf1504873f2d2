// The encoding layer, ALU and MOV where source rows can not show the result:
// relocation records and stored RIP fields per output format, PROC frame
// operands (filled in by hand), the entry points other families call, and
// immediate ranges.
#include <string>
#include <vector>

#include "core/operands.h"
#include "core/scanner.h"
#include "encode/alu.h"
#include "encode/modrm.h"
#include "encode/mov.h"
#include "support/fixture.h"
#include "support/run_support.h"

namespace {

std::vector<uint8_t> Hex(const char* text) {
  std::vector<uint8_t> b;
  Parse_Hex(text, &b);
  return b;
}

class Encode_Test : public Assembler_Fixture {
 protected:
  // The tables of a new file, for the next row of a table of sources.
  void Fresh_Tables() {
    TearDown();
    out.clear();
    err.clear();
    SetUp();
  }

  std::vector<uint8_t> Section_Bytes(uint32_t index) const {
    const Section_Record& r = Sections.Section_Table[index];
    return {r.buffer, r.buffer + r.out};
  }

  uint32_t Label_Address(const char* name) const {
    Label_Hit hit;
    EXPECT_GE(Label_Find(name, Str_Len(name), 0, &hit), 0) << name;
    return hit.address;
  }

  // A fresh statement in the open section, for records filled by hand.
  void Start(uint32_t mode, uint32_t pass = 2) {
    Params_Reset();
    Parser.Code_Mode = mode;
    Pass.Pass_Number = pass;
    Sections.Section_Write_Offset = 0;
    Sections.Location_Counter = Sections.Section_Start;
    Relocs.Reloc_Count = 0;
    Diag.Error_Count = 0;
    Diag.Stop_Flag = 0;
    err.clear();
  }

  std::vector<uint8_t> Written() const {
    const Section_State& s = Sections;
    return {s.Section_Data_Base, s.Section_Data_Base + s.Section_Write_Offset};
  }

  static void Set(Operand_Record& r, uint32_t kind, uint64_t value, uint32_t size, uint32_t relocatable = 0) {
    r = Operand_Record{};
    r.kind = kind;
    r.value = value;
    r.size = size;
    r.relocatable = relocatable;
  }
};

std::string Error_Line(const char* message) { return std::string("\r\n**Error** prog.asm(12) ") + message; }

}  // namespace

// Every address field of an instruction asks for its own relocation, with the
// section of the symbol it names; RIP fields of object formats hold the addend.
TEST_F(Encode_Test, RelocationRecordsPerFormat) {
  struct Reloc {
    uint32_t type, offset, target_section;
  };
  struct Row {
    uint32_t format;
    const char* mode;
    const char* instruction;
    const char* bytes;
    std::vector<Reloc> relocs;
  };
  // Section 0 "c" holds handler at 0 and the instruction; section 1 "d" holds v at 4, w at 8.
  const Row rows[] = {
      {Format_COFF32, "32", "mov eax, [v]", "A1 04 00 00 00", {{Reloc_Abs32, 1, 1}}},
      {Format_COFF32, "32", "mov ecx, [v]", "8B 0D 04 00 00 00", {{Reloc_Abs32, 2, 1}}},
      {Format_COFF32, "32", "mov dword [v], handler", "C7 05 04 00 00 00 00 00 00 00",
       {{Reloc_Abs32, 2, 1}, {Reloc_Abs32, 6, 0}}},
      {Format_COFF32, "32", "add [v], 1", "83 05 04 00 00 00 01", {{Reloc_Abs32, 2, 1}}},
      {Format_COFF32, "32", "add dword [v], handler", "81 05 04 00 00 00 00 00 00 00",
       {{Reloc_Abs32, 2, 1}, {Reloc_Abs32, 6, 0}}},
      {Format_COFF32, "32", "mov dword [ebx+v], handler", "C7 83 04 00 00 00 00 00 00 00",
       {{Reloc_Abs32, 2, 1}, {Reloc_Abs32, 6, 0}}},
      {Format_COFF32, "32", "mov eax, handler", "B8 00 00 00 00", {{Reloc_Abs32, 1, 0}}},
      {Format_COFF32, "32", "add eax, v", "05 04 00 00 00", {{Reloc_Abs32, 1, 1}}},
      {Format_COFF32, "32", "mov ds, [ebx+v]", "8E 9B 04 00 00 00", {{Reloc_Abs32, 2, 1}}},
      {Format_COFF32, "32", "mov es, [v]", "8E 05 04 00 00 00", {{Reloc_Abs32, 2, 1}}},
      {Format_COFF32, "32", "mov eax, [ebx+esi*2+v]", "8B 84 73 04 00 00 00", {{Reloc_Abs32, 3, 1}}},
      {Format_COFF32, "32", "mov eax, [esi*4+v]", "8B 04 B5 04 00 00 00", {{Reloc_Abs32, 3, 1}}},
      // A label less one of the field's section: a distance from the field,
      // pc-relative; COFF counts its addend from the field's end (4 - 0 + 2
      // + 4), ELF from its start. A difference in one section is a number.
      {Format_COFF32, "32", "mov eax, [ebx+v-handler]", "8B 83 0A 00 00 00", {{Reloc_Rel32, 2, 1}}},
      {Format_ELF32, "32", "mov eax, [ebx+v-handler]", "8B 83 06 00 00 00", {{Reloc_Rel32, 2, 1}}},
      {Format_ELF32, "32", "mov eax, [ebx+w-v+v]", "8B 83 08 00 00 00", {{Reloc_Abs32, 2, 1}}},
      {Format_ELF32, "32", "mov ecx, (w-v)/4", "B9 01 00 00 00", {}},
      {Format_COFF32, "32", "push (w-v)*4", "6A 10", {}},
      {Format_ELF32, "32", "dd (w-v)*2-1", "07 00 00 00", {}},
      {Format_COFF64, "64", "mov eax, [v]", "8B 05 04 00 00 00", {{Reloc_Rel32, 2, 1}}},
      {Format_COFF64, "64", "add dword [v], 1", "83 05 03 00 00 00 01", {{Reloc_Rel32, 2, 1}}},
      {Format_COFF64, "64", "mov dword [v], 7", "C7 05 00 00 00 00 07 00 00 00", {{Reloc_Rel32, 2, 1}}},
      {Format_COFF64, "64", "mov ds, [v]", "8E 1D 04 00 00 00", {{Reloc_Rel32, 2, 1}}},
      {Format_ELF64, "64", "mov eax, [v]", "8B 05 00 00 00 00", {{Reloc_Rel32, 2, 1}}},
      {Format_ELF64, "64", "add word [v], 1000h", "66 81 05 FE FF FF FF 00 10", {{Reloc_Rel32, 3, 1}}},
      {Format_ELF64, "64", "mov dword [v], handler", "C7 05 FC FF FF FF 00 00 00 00",
       {{Reloc_Rel32, 2, 1}, {Reloc_Abs32, 6, 0}}},
      {Format_ELF64, "64", "add dword [v], handler", "81 05 FC FF FF FF 00 00 00 00",
       {{Reloc_Rel32, 2, 1}, {Reloc_Abs32, 6, 0}}},
      {Format_ELF64, "64", "mov rax, handler", "48 B8 00 00 00 00 00 00 00 00", {{Reloc_Abs64, 2, 0}}},
      {Format_ELF64, "64", "mov rax, qword [v]", "48 A1 04 00 00 00 00 00 00 00", {{Reloc_Abs64, 2, 1}}},
      {Format_ELF64, "64", "mov r9d, v", "41 B9 04 00 00 00", {{Reloc_Abs32, 2, 1}}},
      {Format_ELF64, "64", "mov qword [rbx], v", "48 C7 03 04 00 00 00", {{Reloc_Abs32, 3, 1}}},
  };
  for (const Row& row : rows) {
    Fresh_Tables();
    const std::string source = std::string("section \"c\" class_code\r\n.use") + row.mode + "\r\nhandler:\r\n" +
                               row.instruction + "\r\nsection \"d\" class_data\r\ndd 0\r\nv: dd 0\r\nw:\r\n";
    Assemble(source, row.format);
    EXPECT_EQ(err, "") << row.instruction;
    EXPECT_EQ(Hex_Of(Section_Bytes(0)), Hex_Of(Hex(row.bytes))) << row.instruction;
    ASSERT_EQ(Relocs.Reloc_Count, row.relocs.size()) << row.instruction;
    for (uint32_t i = 0; i < row.relocs.size(); ++i) {
      const Reloc_Record& r = Relocs.Reloc_Table[i];
      EXPECT_EQ(r.type, row.relocs[i].type) << row.instruction << " #" << i;
      EXPECT_EQ(r.offset, row.relocs[i].offset) << row.instruction << " #" << i;
      EXPECT_EQ(r.section, 0u) << row.instruction << " #" << i;
      EXPECT_EQ(r.target_section, row.relocs[i].target_section) << row.instruction << " #" << i;
    }
  }
}

// A value that the linker or loader would get wrong is refused: addresses of
// several sections summed, an address scaled, or a distance that only a
// [base+disp32] field can hold. An image keeps a difference as a number.
TEST_F(Encode_Test, AddressMixesThatNoRelocationHolds) {
  struct Row {
    uint32_t format;
    const char* mode;
    const char* instruction;
  };
  const Row rows[] = {
      {Format_ELF32, "32", "mov eax, handler+v"},     {Format_ELF32, "32", "mov eax, v*2"},
      {Format_ELF32, "32", "mov eax, v-handler"},     {Format_COFF32, "32", "dd handler-v"},
      {Format_COFF32, "32", "push v/2"},              {Format_ELF32, "32", "mov eax, [ebx+handler+v]"},
      {Format_COFF32, "32", "mov dword [esp+v-handler], v"}, {Format_COFF32, "32", "mov eax, [esi*4+v-handler]"},
      {Format_ELF32, "32", "mov eax, [ebx+handler-v]"}, {Format_ELF64, "64", "mov eax, [rbx+v-handler]"},
      {Format_ELF64, "64", "mov eax, [v-handler]"},   {Format_PE32, "32", "mov eax, v+v"},
      {Format_PE32, "32", "dd (v-handler)*2"},         {Format_PE64, "64", "mov rax, v+handler"},
      {Format_ELF32, "32", "dd $$$+4"},                 {Format_COFF64, "64", "mov eax, $$$"},
  };
  for (const Row& row : rows) {
    Fresh_Tables();
    Assemble(std::string("section \"c\" class_code\r\n.use") + row.mode + "\r\nhandler:\r\n" + row.instruction +
                 "\r\nsection \"d\" class_data\r\ndd 0\r\nv: dd 0\r\n",
             row.format);
    EXPECT_EQ(err, "\r\n**Error** prog.asm(4) Relocation, this address expression can not be relocated")
        << row.instruction << " format " << row.format;
  }
  for (uint32_t format : {Format_Binary, Format_PE32}) {
    Fresh_Tables();
    Assemble("section \"c\" class_code\r\n.use32\r\nhandler:\r\nmov eax, [ebx+v-handler]\r\ndd v-handler\r\n"
             "section \"d\" class_data\r\ndd 0\r\nv: dd 0\r\n",
             format);
    EXPECT_EQ(err, "");
    EXPECT_EQ(Relocs.Reloc_Count, 0u) << format;
    const uint32_t distance = Label_Address("v") - Sections.Section_Table[0].address;
    const std::vector<uint8_t> b = Section_Bytes(0);
    ASSERT_EQ(b.size(), 10u);
    EXPECT_EQ(b[2] | b[3] << 8 | b[4] << 16 | static_cast<uint32_t>(b[5]) << 24, distance) << format;
    EXPECT_EQ(b[6] | b[7] << 8 | b[8] << 16 | static_cast<uint32_t>(b[9]) << 24, distance) << format;
  }
}

// In an image the RIP distance is final: no relocation (a base relocation
// would add the image base to a distance), the field holds target - end.
TEST_F(Encode_Test, ImageRipFieldsHoldTheFinishedDistance) {
  struct Row {
    const char* instruction;
    uint32_t field, length;
  };
  const Row rows[] = {
      {"mov eax, [v]", 2, 6},
      {"add dword [v], 1", 2, 7},
      {"mov dword [v], 5", 2, 10},
      {"mov ss, [v]", 2, 6},
      {"add qword [v], 1000h", 3, 11},
  };
  for (uint32_t format : {Format_Binary, Format_PE64}) {
    for (const Row& row : rows) {
      Fresh_Tables();
      Assemble(std::string("section \"c\" class_code\r\n.use64\r\n") + row.instruction +
                   "\r\nsection \"d\" class_data\r\ndd 0\r\nv: dd 0\r\n",
               format);
      EXPECT_EQ(err, "") << row.instruction;
      EXPECT_EQ(Relocs.Reloc_Count, 0u) << row.instruction << " format " << format;
      const std::vector<uint8_t> b = Section_Bytes(0);
      ASSERT_EQ(b.size(), row.length) << row.instruction;
      const uint32_t stored = b[row.field] | b[row.field + 1] << 8 | b[row.field + 2] << 16 |
                              static_cast<uint32_t>(b[row.field + 3]) << 24;
      EXPECT_EQ(stored, Label_Address("v") - (Sections.Section_Table[0].address + row.length)) << row.instruction;
    }
  }
}

// A number is no address that an object's RIP-relative field could reach.
TEST_F(Encode_Test, NumericAddressesInObjectRipFields) {
  for (uint32_t format : {Format_COFF64, Format_ELF64}) {
    Fresh_Tables();
    Assemble("section \"c\" class_code\r\n.use64\r\nmov ecx, [1000h]\r\n", format);
    EXPECT_EQ(err, "\r\n**Error** prog.asm(3) Mod_RM, [] address out of range ") << format;
  }
}

// A relocatable address in a 16-bit field can not be expressed in an object.
TEST_F(Encode_Test, SixteenBitAddressesOfLabelsInObjects) {
  Assemble("section \"c\" class_code\r\n.use16\r\nmov ax, [v]\r\nv: dw 0\r\n", Format_COFF32);
  EXPECT_EQ(err, "\r\n**Error** prog.asm(3) Mod_RM, [] relocation conflicting sizes ");
}

// PROC frame variables: the records are filled as the operand parser fills
// them for a `local` (below the frame pointer) or an `arg`.
TEST_F(Encode_Test, FrameOperands) {
  enum Encoder { Mov, Add, Cmp };
  struct Row {
    uint32_t mode;
    Encoder encoder;
    uint32_t kind1, value1, size1;
    uint32_t kind2, value2, size2;
    uint32_t keyword;  // a Size_Keyword_Flag, or Kf_Count for none
    const char* bytes;
    const char* message;
  };
  const Row rows[] = {
      {Code_32, Mov, Op_Reg, 0, 32, Op_Local, 8, 32, Kf_Count, "8B 45 F8", nullptr},
      {Code_32, Mov, Op_Reg, 1, 32, Op_Local, 127, 32, Kf_Count, "8B 8D 81 FF FF FF", nullptr},
      {Code_32, Mov, Op_Reg, 1, 32, Op_Local, 126, 32, Kf_Count, "8B 4D 82", nullptr},
      {Code_32, Mov, Op_Arg, 8, 32, Op_Reg, 1, 32, Kf_Count, "89 4D 08", nullptr},
      {Code_32, Mov, Op_Reg, 0, 8, Op_Arg, 12, 8, Kf_Count, "8A 45 0C", nullptr},
      {Code_16, Mov, Op_Reg, 0, 16, Op_Local, 4, 16, Kf_Count, "8B 46 FC", nullptr},
      {Code_16, Mov, Op_Reg, 0, 16, Op_Local, 200, 16, Kf_Count, "8B 86 38 FF", nullptr},
      {Code_16, Mov, Op_Reg, 0, 32, Op_Arg, 4, 32, Kf_Count, "66 8B 46 04", nullptr},
      {Code_16, Mov, Op_Reg, 0, 16, Op_Local, 0x10000, 16, Kf_Count, "8B 86 00 00", "LOCAL, stack offset is too big."},
      {Code_64, Mov, Op_Reg, 0, 64, Op_Local, 8, 64, Kf_Count, "48 8B 45 F8", nullptr},
      {Code_64, Mov, Op_Arg, 16, 64, Op_Reg, 9, 64, Kf_Count, "4C 89 4D 10", nullptr},
      {Code_32, Mov, Op_Reg, 0, 64, Op_Local, 8, 64, Kf_Count, "", "MOV, can not encode "},
      {Code_32, Mov, Op_Reg, 0, 16, Op_Local, 8, 32, Kf_Count, "66 8B 45 F8", "MOV, size mismatch"},
      {Code_32, Mov, Op_Reg, 0, 16, Op_Local, 8, 32, Kf_Word, "66 8B 45 F8", nullptr},
      {Code_32, Mov, Op_Local, 8, 32, Op_Imm, 5, 0, Kf_Count, "C7 45 F8 05 00 00 00", nullptr},
      {Code_32, Mov, Op_Local, 8, 8, Op_Imm, 5, 0, Kf_Count, "C6 45 F8 05", nullptr},
      {Code_32, Mov, Op_Local, 8, 32, Op_Imm, 5, 0, Kf_Word, "66 C7 45 F8 05 00", nullptr},
      {Code_16, Mov, Op_Local, 8, 16, Op_Imm, 5, 0, Kf_Dword, "66 C7 46 F8 05 00 00 00", nullptr},
      {Code_64, Mov, Op_Local, 8, 64, Op_Imm, 5, 0, Kf_Count, "48 C7 45 F8 05 00 00 00", nullptr},
      {Code_32, Mov, Op_Local, 8, 80, Op_Imm, 5, 0, Kf_Count, "C7 45 F8", "Unknown or wrong param_1 size "},
      {Code_32, Mov, Op_Local, 8, 8, Op_Imm, 300, 0, Kf_Count, "C6 45 F8 2C",
       "MOV, value too big, can not be encoded."},
      {Code_32, Mov, Op_Local, 8, 32, Op_Segment, 3, 16, Kf_Count, "8C 5D F8", nullptr},
      {Code_32, Mov, Op_Segment, 3, 16, Op_Arg, 8, 16, Kf_Count, "8E 5D 08", nullptr},
      {Code_32, Add, Op_Local, 8, 32, Op_Imm, 5, 0, Kf_Count, "83 45 F8 05", nullptr},
      {Code_32, Add, Op_Local, 8, 32, Op_Imm, 500, 0, Kf_Count, "81 45 F8 F4 01 00 00", nullptr},
      {Code_32, Add, Op_Local, 8, 8, Op_Imm, 5, 0, Kf_Count, "80 45 F8 05", nullptr},
      {Code_64, Add, Op_Local, 8, 64, Op_Imm, 5, 0, Kf_Count, "48 83 45 F8 05", nullptr},
      {Code_64, Add, Op_Local, 8, 32, Op_Imm, 5, 0, Kf_Qword, "48 83 45 F8 05", nullptr},
      {Code_32, Add, Op_Local, 8, 0, Op_Imm, 5, 0, Kf_Count, "83 45 F8 05", "Unknown or wrong param_1 size "},
      {Code_64, Add, Op_Local, 8, 0, Op_Imm, 5, 0, Kf_Count, "83 45 F8 05", "Unknown parameter 1 size"},
      {Code_32, Add, Op_Reg, 0, 32, Op_Arg, 12, 32, Kf_Count, "03 45 0C", nullptr},
      {Code_32, Add, Op_Arg, 12, 16, Op_Reg, 0, 16, Kf_Count, "66 01 45 0C", nullptr},
      {Code_32, Cmp, Op_Reg, 0, 16, Op_Local, 4, 32, Kf_Count, "66 3B 45 FC", "parameters have mismatched size."},
      {Code_64, Cmp, Op_Local, 4, 32, Op_Reg, 10, 32, Kf_Count, "44 39 55 FC", nullptr},
  };
  Open_Section();
  for (const Row& row : rows) {
    Start(row.mode);
    Set(Params.op[0], row.kind1, row.value1, row.size1);
    Set(Params.op[1], row.kind2, row.value2, row.size2);
    if (row.keyword != Kf_Count) Params_Flag(row.keyword) = 1;
    switch (row.encoder) {
      case Mov: Encode_Mov(); break;
      case Add: EXPECT_EQ(Encode_Alu({0x01, 0x03, 0x81, 0, 0x05}), 0); break;
      case Cmp: EXPECT_EQ(Emit_Cmp(), 0); break;
    }
    const std::string what = std::string(row.bytes) + " / " + (row.message ? row.message : "");
    EXPECT_EQ(Hex_Of(Written()), Hex_Of(Hex(row.bytes))) << what;
    EXPECT_EQ(err, row.message ? Error_Line(row.message) : "") << what;
  }
}

// A label immediate stored into a frame variable keeps its relocation.
TEST_F(Encode_Test, FrameImmediateRelocates) {
  Options.Info_Flags.info_reloc = 1;
  Open_Section();
  Start(Code_32);
  Set(Params.op[0], Op_Local, 4, 32);
  Set(Params.op[1], Op_Imm, 0x1234, 32, 1);
  Params.op[1].target_section = 0;
  Encode_Mov();
  EXPECT_EQ(Hex_Of(Written()), "C7 45 FC 34 12 00 00");
  ASSERT_EQ(Relocs.Reloc_Count, 1u);
  EXPECT_EQ(Relocs.Reloc_Table[0].offset, 3u);
  EXPECT_EQ(Relocs.Reloc_Table[0].type, uint32_t{Reloc_Abs32});
}

// An address taken with `rva` keeps its relocation kind in the immediate.
TEST_F(Encode_Test, RvaImmediatesKeepTheirKind) {
  Options.Info_Flags.info_reloc = 1;
  Open_Section();
  for (uint32_t mode : {Code_32, Code_64}) {
    Start(mode);
    Set(Params.op[0], Op_Reg, 1, 32);
    Set(Params.op[1], Op_Imm, 0x2000, 32, 1);
    Params.op[1].reloc_kind = Reloc_Rva32;
    Encode_Mov();
    EXPECT_EQ(Hex_Of(Written()), "B9 00 20 00 00");
    ASSERT_EQ(Relocs.Reloc_Count, 1u);
    EXPECT_EQ(Relocs.Reloc_Table[0].type, uint32_t{Reloc_Rva32}) << mode;
  }
}

// The entry points of later families and the .if generators.
TEST_F(Encode_Test, SharedEntryPoints) {
  Open_Section();

  Start(Code_32);
  Parser.Parser_Mode = 60;
  Set(Params.op[0], Op_Reg, 0, 32);
  Set(Params.op[1], Op_Imm, 5, 0);
  EXPECT_EQ(Emit_Cmp(), 0);
  EXPECT_EQ(Hex_Of(Written()), "83 F8 05");
  EXPECT_EQ(Parser.Parser_Mode, 60u);  // the caller's statement goes on

  Start(Code_32);
  Set(Params.op[0], Op_Segment, 3, 16);
  Set(Params.op[1], Op_Imm, 5, 0);
  EXPECT_EQ(Emit_Cmp(), -1);
  EXPECT_EQ(Written().size(), 0u);

  // lea eax, [ebx+4]: the implied size was cleared, so nothing is compared.
  Start(Code_32);
  ASSERT_EQ(ModRM_Parse("ebx+4", 5), 0);
  Params.mem.implied_size = 0;
  Set(Params.op[0], Op_Reg, 0, 32);
  Set(Params.op[1], Op_Mem_Complex, 0, 0);
  EXPECT_EQ(Encode_Alu_Reg_Rm(0x8D), 0);
  EXPECT_EQ(Hex_Of(Written()), "8D 43 04");

  Start(Code_64);
  Set(Params.op[0], Op_Reg, 8, 64);
  Set(Params.op[1], Op_Mem_Reg, 3, 64);
  EXPECT_EQ(Encode_Alu_Reg_Rm(0x8D), 0);
  EXPECT_EQ(Hex_Of(Written()), "4C 8D 03");

  // lea has no register-register, memory-first or immediate form.
  for (uint32_t kinds : {Op_Reg * 16 + Op_Reg, Op_Mem_Reg * 16 + Op_Reg, Op_Reg * 16 + Op_Imm}) {
    Start(Code_32);
    Set(Params.op[0], kinds / 16, 0, 32);
    Set(Params.op[1], kinds % 16, 3, 32);
    EXPECT_EQ(Encode_Alu_Reg_Rm(0x8D), -1) << kinds;
    EXPECT_EQ(Written().size(), 0u) << kinds;
  }

  // TEST's [complex],imm: the full immediate, never a short form.
  Start(Code_32);
  ASSERT_EQ(ModRM_Parse("ebx+4", 5), 0);
  Set(Params.op[0], Op_Mem_Complex, 0, 0);
  Set(Params.op[1], Op_Imm, 1, 0);
  Params.flags.dword = 1;
  Encode_Complex_Imm(0xF7, 0, 1);
  EXPECT_EQ(Hex_Of(Written()), "F7 43 04 01 00 00 00");

  Start(Code_32);
  ASSERT_EQ(ModRM_Parse("ebx+4", 5), 0);
  Set(Params.op[0], Op_Mem_Complex, 0, 0);
  Set(Params.op[1], Op_Imm, 0x1000, 0, 1);
  Params.flags.word = 1;
  Encode_Complex_Imm(0xC7, 0, 0x1000);
  EXPECT_EQ(err, Error_Line("Mod_RM, [] relocation conflicting sizes "));
  EXPECT_EQ(Relocs.Reloc_Count, 0u);
}

// Registers without a usable size: each form keeps its own message.
TEST_F(Encode_Test, UnknownRegisterSizeMessages) {
  struct Row {
    uint32_t mode, kind1, number1, size1, kind2, number2, size2;
    const char* message;
    bool writes;
  };
  const Row rows[] = {
      {Code_32, Op_Reg, 1, 0, Op_Imm, 5, 0, "Unknown register size ", false},
      {Code_32, Op_Reg, 0, 0, Op_Imm, 5, 0, "Unknown parameter 1 size", false},
      {Code_64, Op_Reg, 1, 0, Op_Imm, 5, 0, "Unknown parameter 1 size", false},
      {Code_32, Op_Reg, 1, 0, Op_Mem_Complex, 0, 0, "Unknown register size", true},
      {Code_32, Op_Mem_Complex, 0, 0, Op_Reg, 1, 0, "Mod_RM, [] has unknown size ", true},
      {Code_32, Op_Mem_Reg, 3, 32, Op_Reg, 1, 0, "Unknown parameter 2 size", true},
  };
  Open_Section();
  for (const Row& row : rows) {
    Start(row.mode);
    ASSERT_EQ(ModRM_Parse("ebx+4", 5), 0);
    Set(Params.op[0], row.kind1, row.number1, row.size1);
    Set(Params.op[1], row.kind2, row.number2, row.size2);
    EXPECT_EQ(Encode_Alu({0x01, 0x03, 0x81, 0, 0x05}), 0) << row.message;
    EXPECT_EQ(err, Error_Line(row.message));
    EXPECT_EQ(!Written().empty(), row.writes) << row.message;
  }
}

// A code mode outside 0..2 writes nothing.
TEST_F(Encode_Test, UnknownCodeMode) {
  Open_Section();
  Start(3);
  Set(Params.op[0], Op_Reg, 0, 32);
  Set(Params.op[1], Op_Reg, 1, 32);
  Encode_Mov();
  EXPECT_EQ(Encode_Alu({0x01, 0x03, 0x81, 0, 0x05}), 0);
  EXPECT_EQ(Written().size(), 0u);
  const std::string line = Error_Line("Unknown encode for this mode (USE 64/32/16)");
  EXPECT_EQ(err, line + line);
}

// The ranges immediates may have: signed or unsigned, and for 32-bit
// operands also the 32-bit pattern of a negative number.
TEST(Immediates, Ranges) {
  struct Row {
    uint64_t value;
    uint32_t size;
    bool fits;
  };
  const Row rows[] = {
      {0, 8, true},
      {255, 8, true},
      {256, 8, false},
      {static_cast<uint64_t>(-128), 8, true},
      {static_cast<uint64_t>(-129), 8, false},
      {0xFFFFFF80u, 8, true},
      {0xFFFFFF7Fu, 8, false},
      {65535, 16, true},
      {65536, 16, false},
      {static_cast<uint64_t>(-32768), 16, true},
      {static_cast<uint64_t>(-32769), 16, false},
      {0xFFFFFFFFu, 32, true},
      {0x100000000u, 32, false},
      {static_cast<uint64_t>(-1), 32, true},
      {0xFFFFFFFF7FFFFFFFu, 32, false},
      {0x7FFFFFFF, 64, true},
      {static_cast<uint64_t>(-0x80000000LL), 64, true},
      {static_cast<uint64_t>(-0x80000001LL), 64, false},
      {0x123456789u, 64, false},
  };
  for (const Row& r : rows) EXPECT_EQ(Imm_Fits(r.value, r.size), r.fits) << std::hex << r.value << " " << r.size;
}

// One line of many operand-less words stays inside the section buffer.
TEST(Opcodes, ManyWordsOnOneLine) {
  std::string line;
  for (int i = 0; i < 5000; ++i) line += "nop ";
  Run_Result r = Run_Assembler("section \"c\" class_code\r\n" + line + "\r\n", {"-binary", "-q"});
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.output, std::vector<uint8_t>(5000, 0x90));
}
