// Operand parser and the per-statement parameter context: every statement
// collects its operands here; the family's encoder reads them at the last one.
#pragma once
#include <cstdint>

enum Operand_Kind : uint32_t {
  Op_None = 0,
  Op_Imm = 1,        // immediate value or address
  Op_Reg = 2,        // general register
  Op_Mem_Reg = 3,    // [reg]
  Op_Mem_Direct = 4, // [label], [constant]
  Op_Mem_Complex = 5,// [base+index*scale+disp]
  Op_Local = 7,      // PROC `local` (value = frame offset)
  Op_Arg = 8,        // PROC `arg` (value = frame offset)
  Op_Segment = 10,
  Op_Debug = 11,
  Op_Control = 12,
  Op_X87 = 13,
  Op_XMM = 14,
  Op_MMX = 15,
};

struct Operand_Record {
  uint32_t kind;
  uint64_t value;          // value, register number or frame offset
  uint32_t size;           // bits, 0 = not given
  uint32_t relocatable;
  uint32_t reloc_kind;     // 0, or 4 after `rva`
  uint32_t target_section; // section of the symbol the operand refers to
  uint32_t unknown;        // 1 when the value is a pass-1 placeholder
  uint32_t low() const { return static_cast<uint32_t>(value); }
  uint32_t high() const { return static_cast<uint32_t>(value >> 32); }
};

// The memory-expression block filled by ModRM_Parse.
struct Mem_Expr {
  uint32_t term_count;
  uint32_t base_present, base, base_size;
  uint32_t disp_present, disp;
  uint32_t implied_size;
  uint32_t relocatable;
  int32_t section;
  uint32_t two_sections;
  uint32_t index_present, index, index_size;
  uint32_t scale_present, scale;
  uint64_t disp_wide;  // the displacement summed in 64 bits (disp is its low half)
};

// Operand-keyword flags, in this order.
enum Size_Keyword_Flag : uint32_t {
  Kf_Byte, Kf_Word, Kf_Dword, Kf_Qword, Kf_Tbyte, Kf_Signed, Kf_Swap, Kf_Small, Kf_Cstr, Kf_Ptr,
  Kf_Offset, Kf_Size, Kf_Far, Kf_Count
};


struct Params_Context {
  uint32_t saved_mode;
  const char* pending_name;
  uint32_t pending_length;
  Mem_Expr mem;
  struct Flags {
    uint32_t byte_, word, dword, qword, tbyte, signed_, swap, small, cstr, ptr, offset, size, far_;
  } flags;
  Operand_Record op[3];
  uint32_t spare[2];
  uint32_t error_mark;  // the error count when the statement began
};
static_assert(sizeof(Params_Context::Flags) == Kf_Count * sizeof(uint32_t));

constexpr uint32_t Params_Stack_Depth = 64;

struct Operand_State {
  Params_Context Params_Stack[Params_Stack_Depth];
  uint32_t Params_Depth = 0;
};

extern Params_Context Params;
extern Operand_State Operands;

// The flag of an operand keyword by its index (Size_Keyword_Flag).
inline uint32_t& Params_Flag(uint32_t index) { return (&Params.flags.byte_)[index]; }

// The size in bits that the keyword flags give, or 0.
uint32_t Params_Keyword_Size();

void Params_Reset();
void Params_Push();
void Params_Pop();

// Each returns 0, 1 when the word was an operand keyword or started a macro
// call (the caller waits for the real operand), or -1 after an error.
int Parse_Operand(const char* text, uint32_t length, Operand_Record* record);
int Parse_Operand_Mem(const char* text, uint32_t length, Operand_Record* record);
int Parse_Reg_Param1(const char* text, uint32_t length);
int Parse_Mem_Param1(const char* text, uint32_t length);
int Parse_Param2(const char* text, uint32_t length);
int Parse_Mem_Param2(const char* text, uint32_t length);
int Parse_Modifier_Or_Macro(const char* text, uint32_t length);
int Mini_String(const char* text, uint32_t length, Operand_Record* record);
int ModRM_Parse(const char* text, uint32_t length);

// Short cuts for the operand parsers, true only while no user name could
// change their meaning (No_Odd_Names): a plain number (no lookup can find
// it, its value is its evaluation), and a blank-free bracket text of
// registers, scaled registers and plain numbers (no name or evaluation of
// the whole text can succeed: ModRM_Parse alone decides it; the evaluation's
// state is left as its failure would leave it).
bool Operand_Plain_Number(const char* text, uint32_t length, uint64_t* value);
bool Operand_Plain_Registers(const char* text, uint32_t length);

// Register class to operand kind.
uint32_t Kind_Of_Register_Class(uint32_t reg_class);
