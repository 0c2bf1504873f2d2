// Expression evaluator: operand texts to 64-bit values, with the relocatable
// flag that tells whether the value depends on an address.
#pragma once
#include <cstdint>

// A number that every reader takes the same way and none reports: up to 19
// decimal digits, or a digit, up to 14 more hex digits and `h`. Its value
// goes to `value` when one is given.
bool Expr_Short_Literal(const char* text, uint32_t length, uint64_t* value = nullptr);

struct Eval_Result {
  int status;      // 0 known, -1 unknown or faulty
  uint64_t value;
};

struct Expr_State {
  uint32_t Expr_Relocatable = 0;
  uint32_t Expr_Reloc_Kind = 0;  // 0, or 4 after `rva`
  uint32_t Expr_Unknown = 0;     // unknown symbols seen in this evaluation
  uint32_t Expr_Faults = 0;      // syntax faults seen in this evaluation
  int32_t Paren_Depth = 0;
  uint32_t Address_Terms = 0;    // +1 per added address, -1 per subtracted one (by section)
};
extern Expr_State Expr;

constexpr uint32_t Expr_Max_Length = 4096;  // longer texts are refused
constexpr uint32_t Expr_Max_Nesting = 256;  // nested ( not - levels

Eval_Result Eval_Value(const char* text, uint32_t length);
Eval_Result Expr_Evaluate(const char* text, uint32_t length);

struct Stripped_Text {
  const char* text;
  uint32_t length;
};
// The text without blanks and TABs: a NUL-terminated statement scratch copy,
// or the text itself (not terminated) when it holds none.
Stripped_Text Expr_Strip_Blanks(const char* text, uint32_t length);

struct Reg_Size_Hit {
  uint32_t size;
  uint32_t number;
};
// General registers only (every one of the register table): -1 otherwise.
int Reg_Size(const char* text, uint32_t length, Reg_Size_Hit* hit);
int32_t Reg_Is_Control(const char* text, uint32_t length);
int32_t Reg_Is_Debug(const char* text, uint32_t length);
int32_t Reg_Is_Segment(const char* text, uint32_t length);
int32_t Reg_Is_Fpu(const char* text, uint32_t length);
