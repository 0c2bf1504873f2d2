// The stack workers as the PROC prologue and epilogue call them: no operand
// parser in between, so each worker must refuse what its mode can not encode.
#include <string>
#include <vector>

#include "encode/control.h"
#include "encode/stack.h"
#include "support/fixture.h"
#include "support/run_support.h"

namespace {

class Stack_Test : public Assembler_Fixture {};

TEST_F(Stack_Test, WorkersCheckNumberSizeAndMode) {
  enum Worker { Push, Pop, Push64, Pop64, Push_S, Pop_S };
  struct Row {
    uint32_t mode;
    Worker worker;
    uint32_t number, size;
    const char* bytes;
    const char* message;
  };
  const Row rows[] = {
      {Code_32, Push, 1, 32, "51", nullptr},
      {Code_32, Push, 9, 32, "", "PUSH, can not encode operand: "},
      {Code_32, Pop, 9, 32, "", "POP, can not encode operand"},
      {Code_32, Push, 0, 64, "", "PUSH, can not encode operand: "},
      {Code_32, Push, 3, 16, "66 53", nullptr},
      {Code_16, Push, 3, 16, "53", nullptr},
      {Code_16, Pop, 3, 32, "66 5B", nullptr},
      {Code_64, Push, 9, 64, "41 51", nullptr},
      {Code_64, Pop, 15, 16, "66 41 5F", nullptr},
      {Code_64, Push, 16, 64, "", "PUSH, can not encode operand: "},
      {Code_64, Push, 1, 32, "", "PUSH, can not encode operand: "},
      {Code_64, Push, 1, 8, "", "PUSH, can not encode operand: "},
      {Code_64, Push64, 12, 64, "41 54", nullptr},
      {Code_64, Pop64, 12, 64, "41 5C", nullptr},
      {Code_32, Push64, 3, 64, "", "PUSH, can not encode operand: "},
      {Code_32, Pop64, 3, 64, "", "POP, can not encode operand"},
      {Code_64, Push_S, 4, 16, "0F A0", nullptr},
      {Code_64, Push_S, 0, 16, "", "PUSH: can not encode this SREG"},
      {Code_32, Pop_S, 1, 16, "", "POP, can not encode this SREG"},
      {Code_32, Pop_S, 6, 16, "", "POP, can not encode this SREG"},
      {Code_16, Pop_S, 5, 16, "0F A9", nullptr},
      {3, Push, 0, 32, "", "Unknown encode for this mode (USE 64/32/16)"},
  };
  Open_Section();
  for (const Row& row : rows) {
    Sections.Section_Write_Offset = 0;
    Sections.Location_Counter = 0;
    err.clear();
    Parser.Code_Mode = row.mode;
    switch (row.worker) {
      case Push: Encode_Push_Reg(row.number, row.size); break;
      case Pop: Encode_Pop_Reg(row.number, row.size); break;
      case Push64: Encode_Push_Reg64(row.number, row.size); break;
      case Pop64: Encode_Pop_Reg64(row.number, row.size); break;
      case Push_S: Encode_Push_Sreg(row.number); break;
      case Pop_S: Encode_Pop_Sreg(row.number); break;
    }
    const std::vector<uint8_t> written(Sections.Section_Data_Base,
                                       Sections.Section_Data_Base + Sections.Section_Write_Offset);
    std::vector<uint8_t> expected;
    Parse_Hex(row.bytes, &expected);
    EXPECT_EQ(Hex_Of(written), Hex_Of(expected)) << row.number << "/" << row.size;
    const std::string message = row.message ? std::string("\r\n**Error** prog.asm(12) ") + row.message : "";
    EXPECT_EQ(err, message) << row.number << "/" << row.size;
  }
}

TEST_F(Stack_Test, EmittersKeepTheirLength) {
  Open_Section();
  Emit_Enter(0x12345, 0x101);
  Emit_Ret_N(0x10008);
  Emit_Leave();
  Emit_Ret();
  const std::vector<uint8_t> written(Sections.Section_Data_Base,
                                     Sections.Section_Data_Base + Sections.Section_Write_Offset);
  EXPECT_EQ(Hex_Of(written), "C8 45 23 01 C2 08 00 C9 C3");
}

}  // namespace
