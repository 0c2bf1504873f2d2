// IN and OUT parse their own operands: the accumulator by register name, the
// port as DX or a number below 256. The accumulator's size picks the byte or
// the full-size opcode and 66h; no REX byte exists for these.
#include "encode/ports.h"

#include "core/assemble.h"
#include "core/diag.h"
#include "core/expr.h"
#include "core/operands.h"
#include "core/symbols.h"
#include "encode/modrm.h"
#include "output/sections.h"

namespace {

constexpr const char* Msg_Register_Size = "Unknown register size ";
constexpr const char* Msg_Unknown = "Unknown symbol: ";
constexpr const char* Msg_Out_Port = "OUT, param1 must be DX or port number ";
constexpr const char* Msg_Out_Source = "OUT, param2 must be AL,AX or EAX ";

void Set_Register(Operand_Record& r, const Reg_Size_Hit& hit) {
  r.kind = Op_Reg;
  r.value = hit.number;
  r.size = hit.size;
}

// The accumulator's prefix and opcode: 8 bits the byte opcode, 16 and 32
// bits the full-size one with 66h for the size that is not the mode's own.
// False for any other size (reported).
bool Accumulator_Head(Inst_Head& h, uint32_t size, uint32_t opcode) {
  if (size != 8 && size != 16 && size != 32) {
    Error_Msg(Msg_Register_Size);
    return false;
  }
  Head_Size(h, size);
  Head_Opcode(h, size == 8 ? opcode : opcode | 1u);
  return true;
}

void Emit_Port(uint32_t port) { Emit_Byte(static_cast<uint8_t>(port)); }

// The bracketed port. Returns 0 with the record filled (register or number),
// -1 when the operand was refused (reported), 1 for an unknown number.
int Port_Operand(const char* text, uint32_t length, Operand_Record& r, const char* msg_dx, bool equates) {
  if (length <= 2) {
    Error_Text("Empty or orphan brackets? : ", text, length);
    return -1;
  }
  if (length - 2 >= 1024) {
    Error_Msg("Parameter in [] is too big: ");
    return -1;
  }
  const Stripped_Text s = Expr_Strip_Blanks(text + 1, length - 2);
  if (s.length == 0) {
    Error_Text("Empty or orphan brackets? : ", text, length);
    return -1;
  }
  Reg_Size_Hit hit;
  if (Reg_Size(s.text, s.length, &hit) == 0) {
    Set_Register(r, hit);
    if (hit.number != 2) {
      Diag.Stop_Flag += 1;
      Error_Text(msg_dx, s.text, s.length);
      return -1;
    }
    return 0;
  }
  const Eval_Result e = Eval_Value(s.text, s.length);
  uint64_t value = e.value;
  if (e.status != 0 && !(equates && Equ_Find(s.text, s.length, &value) >= 0)) return 1;
  r.kind = Op_Imm;
  r.value = value;
  return 0;
}

uint32_t Port_Number(const Operand_Record& r, const char* message) {
  if (r.value > 255) {
    Error_Msg(message);
    return 255;
  }
  return r.low();
}

// ---- IN -------------------------------------------------------------------------------

void In_Param1(const char* text, uint32_t length) {
  Parser.Parser_Mode = Mode_In_Param2;
  Reg_Size_Hit hit;
  if (Reg_Size(text, length, &hit) != 0 || hit.number != 0) {
    Diag.Stop_Flag += 1;
    Error_Text("IN, param1 must be AL,AX or EAX ", text, length);
    return;
  }
  Set_Register(Params.op[0], hit);
}

void In_Param2(const char* text, uint32_t length) {
  Parser.Parser_Mode = 0;
  Diag.Stop_Flag += 1;
  Error_Text("IN, must have [] here: ", text, length);
}

void In_Param2_Mem(const char* text, uint32_t length) {
  Parser.Parser_Mode = 0;
  Operand_Record& port = Params.op[1];
  const int r = Port_Operand(text, length, port, "IN, must have [DX] here: ", true);
  if (r < 0) return;
  if (r == 1) {
    if (Pass.Pass_Number >= 2) {
      const Stripped_Text s = Expr_Strip_Blanks(text + 1, length - 2);
      Diag.Stop_Flag += 1;
      Error_Text(Msg_Unknown, s.text, s.length);
      return;
    }
    port.kind = Op_Reg;  // a forward port: the DX form keeps pass 1's length
    port.value = 2;
  }
  if (Params.op[0].kind != Op_Reg) return;  // the destination was refused
  const uint32_t size = Params.op[0].size;
  Inst_Head h;
  if (port.kind == Op_Reg) {
    if (!Accumulator_Head(h, size, 0xEC)) Head_Opcode(h, 0xEC);
    Head_Emit(h);
    return;
  }
  const uint32_t number = Port_Number(port, "IN, port number must be < 256 ");
  if (!Accumulator_Head(h, size, 0xE4)) Head_Opcode(h, 0xE4);
  Head_Emit(h);
  Emit_Port(number);
}

// ---- OUT ------------------------------------------------------------------------------

void Out_Param1(const char* text, uint32_t length) {
  Diag.Stop_Flag += 1;
  Error_Text("OUT, must have [] here: ", text, length);
}

void Out_Param1_Mem(const char* text, uint32_t length) {
  Parser.Parser_Mode = Mode_Out_Param2;
  Operand_Record& port = Params.op[0];
  const int r = Port_Operand(text, length, port, "OUT, must have [DX] here: ", false);
  if (r < 0) {
    port.kind = Op_None;
    return;
  }
  if (r == 1) {
    if (Pass.Pass_Number >= 2) {
      const Stripped_Text s = Expr_Strip_Blanks(text + 1, length - 2);
      Diag.Stop_Flag += 1;
      Error_Text(Msg_Unknown, s.text, s.length);
      port.kind = Op_None;
      return;
    }
    port.kind = Op_Imm;  // a forward port number
    port.value = 0;
  }
}

void Out_Param2(const char* text, uint32_t length) {
  Parser.Parser_Mode = 0;
  const Operand_Record& port = Params.op[0];
  Operand_Record& source = Params.op[1];
  Reg_Size_Hit hit;
  if (Reg_Size(text, length, &hit) == 0) {
    Set_Register(source, hit);
  } else if (Pass.Pass_Number >= 2) {
    Error_Text(Msg_Unknown, text, length);
    return;
  } else {
    source.kind = Op_Reg;
    source.value = 0;
    source.size = 0;
  }
  if (port.kind != Op_Reg && port.kind != Op_Imm) return;
  Inst_Head h;
  if (port.kind == Op_Reg) {
    if (port.value != 2) Error_Msg(Msg_Out_Port);
    if (source.value != 0) Error_Msg(Msg_Out_Source);
    if (!Accumulator_Head(h, source.size, 0xEE)) return;
    Head_Emit(h);
    return;
  }
  const uint32_t number = Port_Number(port, Msg_Out_Port);
  if (source.value != 0) Error_Msg(Msg_Out_Source);
  if (!Accumulator_Head(h, source.size, 0xE6)) return;
  Head_Emit(h);
  Emit_Port(number);
}

constexpr Mode_Handler Words[] = {
    {Mode_In_Param1, In_Param1},
    {Mode_In_Param2, In_Param2},
    {Mode_Out_Param1, Out_Param1},
    {Mode_Out_Param2, Out_Param2},
};

constexpr Mode_Handler Brackets[] = {
    {Mode_In_Param2, In_Param2_Mem},
    {Mode_Out_Param1, Out_Param1_Mem},
};

}  // namespace

void Inst_In(const Keyword_Entry*) {
  Params_Reset();
  Parser.Parser_Mode = Mode_In_Param1;
}

void Inst_Out(const Keyword_Entry*) {
  Params_Reset();
  Parser.Parser_Mode = Mode_Out_Param1;
}

extern const Mode_Table Ports_Mode_Table = {"in and out", Words, 4, Brackets, 2, nullptr, 0};
