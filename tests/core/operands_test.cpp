#include <string>

#include "core/expr.h"
#include "core/operands.h"
#include "support/fixture.h"

using Operands_Test = Assembler_Fixture;

TEST_F(Operands_Test, ModRMParse) {
  struct Row {
    const char* text;
    int status;
    uint32_t base_present, base, index_present, index, scale, disp_present, disp, term_count;
  };
  const Row rows[] = {
      {"ebx+esi*4+8", 0, 1, 3, 1, 6, 4, 1, 8, 3},
      {"esi*1+ebx", 0, 1, 3, 1, 6, 1, 0, 0, 2},
      {"ebx+esi", 0, 1, 3, 1, 6, 0, 0, 0, 2},
      {"ecx*8+10h", 0, 0, 0, 1, 1, 8, 1, 0x10, 2},
      {"ebx-4", 0, 1, 3, 0, 0, 0, 1, 0xFFFFFFFC, 2},
      {"ebx+0", 0, 1, 3, 0, 0, 0, 1, 0, 2},
      {"ebx+4*2", 0, 1, 3, 0, 0, 0, 1, 8, 2},
      {"eax*2", -1, 0, 0, 0, 0, 0, 0, 0, 0},
      {"ebx++4", -1, 0, 0, 0, 0, 0, 0, 0, 0},
  };
  for (const Row& r : rows) {
    int status = ModRM_Parse(r.text, Str_Len(r.text));
    EXPECT_EQ(status, r.status) << r.text;
    if (status != 0) continue;
    const Mem_Expr& m = Params.mem;
    EXPECT_EQ(m.base_present, r.base_present) << r.text;
    if (r.base_present) EXPECT_EQ(m.base, r.base) << r.text;
    EXPECT_EQ(m.index_present, r.index_present) << r.text;
    if (r.index_present) {
      EXPECT_EQ(m.index, r.index) << r.text;
      EXPECT_EQ(m.scale, r.scale) << r.text;
    }
    EXPECT_EQ(m.disp_present, r.disp_present) << r.text;
    EXPECT_EQ(m.disp, r.disp) << r.text;
    EXPECT_EQ(m.term_count, r.term_count) << r.text;
  }
  EXPECT_EQ(err, "");
}

TEST_F(Operands_Test, ModRMMessages) {
  struct Row {
    const char* text;
    const char* message;
  };
  const Row rows[] = {
      {"esi*3+ebx", "ModRM, invalid scale value: esi*3+ebx"},
      {"esp*2+eax", "ModRM, invalid index register: esp*2+eax"},
      {"ebx-esi", "ModRM, can not have minus and register: esi"},
      {"eax+ebx+ecx", "ModRM, too many registers: ecx"},
      {"eax*2+ebx*4", "ModRM, too many index registers: eax*2+ebx*4"},
  };
  for (const Row& r : rows) {
    err.clear();
    EXPECT_EQ(ModRM_Parse(r.text, Str_Len(r.text)), -1) << r.text;
    EXPECT_EQ(err, std::string("\r\n**Error** prog.asm(12) ") + r.message);
  }
}

TEST_F(Operands_Test, LabelsInMemoryExpressions) {
  Open_Section("a");
  Label_Create("table", 5, 32, 0x100);
  Label_Create("other", 5, 16, 0x180);
  Open_Section("b");
  Label_Create("far_away", 8, 8, 0x2000);
  ASSERT_EQ(ModRM_Parse("ebx+table", 9), 0);
  EXPECT_EQ(Params.mem.disp, 0x100u);
  EXPECT_EQ(Params.mem.relocatable, 1u);
  EXPECT_EQ(Params.mem.implied_size, 32u);
  EXPECT_EQ(Symbols.Labels[0].use_count, 1u);
  ASSERT_EQ(ModRM_Parse("ebx+other-table", 15), 0);
  EXPECT_EQ(Params.mem.disp, 0x80u);
  EXPECT_EQ(Params.mem.relocatable, 0u);
  ASSERT_EQ(ModRM_Parse("ebx+far_away-table", 18), 0);  // a flat binary: final addresses
  EXPECT_EQ(Params.mem.disp, 0x1F00u);
  EXPECT_EQ(Params.mem.relocatable, 0u);
  EXPECT_EQ(Params.mem.two_sections, 0u);
}

TEST_F(Operands_Test, MiniStrings) {
  Operand_Record r{};
  ASSERT_EQ(Mini_String("'ab'", 4, &r), 0);
  EXPECT_EQ(r.value, 0x6162u);
  EXPECT_EQ(r.size, 32u);
  Params.flags.swap = 1;
  ASSERT_EQ(Mini_String("'ab'", 4, &r), 0);
  EXPECT_EQ(r.value, 0x6261u);
  Params.flags.swap = 0;
  ASSERT_EQ(Mini_String("'abcdefgh'", 10, &r), 0);
  EXPECT_EQ(r.value, 0x6162636465666768ull);
  EXPECT_EQ(r.size, 64u);
  EXPECT_EQ(Mini_String("''", 2, &r), -1);
  EXPECT_EQ(err, "\r\n**Error** prog.asm(12) Mini string is empty: ''");
  err.clear();
  EXPECT_EQ(Mini_String("'abcdefghi'", 11, &r), -1);
  EXPECT_EQ(err, "\r\n**Error** prog.asm(12) Mini string is too big: 'abcdefghi'");
}

TEST_F(Operands_Test, RegistersAndModes) {
  Parser.Code_Mode = Code_32;
  Operand_Record r{};
  EXPECT_EQ(Parse_Operand("r8d", 3, &r), 0);
  EXPECT_EQ(err, "\r\n**Error** prog.asm(12) Register can not be used in this mode: r8d");
  err.clear();
  EXPECT_EQ(Parse_Param2("rax", 3), 0);
  EXPECT_EQ(err, "\r\n**Error** prog.asm(12) Register can not be used in this mode: rax");
  err.clear();
  Parser.Code_Mode = Code_64;
  EXPECT_EQ(Parse_Param2("r10d", 4), 0);
  EXPECT_EQ(Params.op[1].kind, uint32_t{Op_Reg});
  EXPECT_EQ(Params.op[1].value, 10u);
  EXPECT_EQ(Params.op[1].size, 32u);
  EXPECT_EQ(Parse_Operand("cr8", 3, &r), 0);
  EXPECT_EQ(r.kind, uint32_t{Op_Control});
  EXPECT_EQ(err, "");
  Reg_Size_Hit h;
  ASSERT_EQ(Reg_Size("r08", 3, &h), 0);
  EXPECT_EQ(h.size, 64u);
  EXPECT_EQ(h.number, 8u);
  EXPECT_EQ(Reg_Size("xmm0", 4, &h), -1);
}

TEST_F(Operands_Test, MemoryOperands) {
  Operand_Record r{};
  ASSERT_EQ(Parse_Operand_Mem("[ebx]", 5, &r), 0);
  EXPECT_EQ(r.kind, uint32_t{Op_Mem_Reg});
  ASSERT_EQ(Parse_Operand_Mem("[ 100h ]", 8, &r), 0);
  EXPECT_EQ(r.kind, uint32_t{Op_Mem_Direct});
  EXPECT_EQ(r.value, 0x100u);
  ASSERT_EQ(Parse_Operand_Mem("[ebx + esi*4 + 8]", 17, &r), 0);
  EXPECT_EQ(r.kind, uint32_t{Op_Mem_Complex});
  ASSERT_EQ(Parse_Operand_Mem("[forward]", 9, &r), 0);  // pass 1 placeholder
  EXPECT_EQ(r.kind, uint32_t{Op_Mem_Direct});
  EXPECT_EQ(r.size, 32u);
  EXPECT_EQ(Parse_Operand_Mem("[xmm0]", 6, &r), -1);
  EXPECT_EQ(err, "\r\n**Error** prog.asm(12) Can not use in [] : [xmm0]");
  err.clear();
  EXPECT_EQ(Parse_Operand_Mem("[]", 2, &r), -1);
  EXPECT_EQ(err, "\r\n**Error** prog.asm(12) Empty or orphan brackets? : []");
  err.clear();
  std::string big = "[" + std::string(1100, '1') + "]";
  EXPECT_EQ(Parse_Operand_Mem(big.c_str(), static_cast<uint32_t>(big.size()), &r), -1);
  EXPECT_EQ(err, "\r\n**Error** prog.asm(12) Parameter in [] is too big: ");
}

TEST_F(Operands_Test, ParamsStackIsBounded) {
  for (uint32_t i = 0; i < 70; ++i) Params_Push();
  EXPECT_EQ(Operands.Params_Depth, Params_Stack_Depth);
  for (uint32_t i = 0; i < 80; ++i) Params_Pop();
  EXPECT_EQ(Operands.Params_Depth, 0u);
}

TEST_F(Operands_Test, EquateKeepsHighWord) {
  Equ_Create("K", 1, 0x89ABCDEFu, 0x01234567u);
  Operand_Record r{};
  ASSERT_EQ(Parse_Operand("K", 1, &r), 0);
  EXPECT_EQ(r.value, 0x0123456789ABCDEFull);
}
