// Parser modes: what the next token of the current statement is. Every family
// names its modes here, in one list, so that no two families can take the same
// number by accident (the dispatch tables are checked for that too).
#pragma once
#include <cstdint>

enum Parser_Mode_Code : uint32_t {
  Mode_Statement = 0,  // a statement starts

  // MOV
  Mode_Mov_Param1 = 1,
  Mode_Mov_Param2 = 2,

  // LEA
  Mode_Lea_Param1 = 3,
  Mode_Lea_Param2 = 4,

  // includes
  Mode_Include_Name = 19,

  // JMP, Jcc, CALL
  Mode_Jmp_Target = 22,
  Mode_Jmp_Far_Selector = 23,
  Mode_Jmp_Far_Target = 24,
  Mode_Jcc_Target = 25,
  Mode_Call_Target = 27,
  Mode_Call_Far_Selector = 28,
  Mode_Call_Far_Target = 29,

  // PUSH
  Mode_Push_Operand = 31,

  // ALU: add
  Mode_Add_Param1 = 35,
  Mode_Add_Param2 = 36,

  // equates
  Mode_Equ_Value = 37,
  Mode_Asign_Value = 38,
  Mode_Text_Equ_Name = 39,
  Mode_Text_Equ_String = 40,
  Mode_Str_Cut = 41,
  Mode_Str_Add = 42,
  Mode_Str_Len = 43,

  // INVOKE
  Mode_Invoke_Arg = 45,
  Mode_Invoke_46 = 46,
  Mode_Invoke_47 = 47,
  Mode_Invoke_48 = 48,

  // macros, REPT, FOR
  Mode_Macro_Body = 52,
  Mode_Macro_Header = 53,
  Mode_Rept_Body = 55,
  Mode_For_Item = 57,
  Mode_For_Body = 58,

  // sections
  Mode_Section_Name = 59,

  // .IF
  Mode_If_Condition = 60,
  Mode_Elseif_Condition = 61,

  // ALU: sub sbb cmp or xor and adc (operand 1 -> operand 2)
  Mode_Sub_Param1 = 64,
  Mode_Sub_Param2 = 65,
  Mode_Sbb_Param1 = 66,
  Mode_Sbb_Param2 = 67,
  Mode_Cmp_Param1 = 68,
  Mode_Cmp_Param2 = 69,
  Mode_Or_Param1 = 70,
  Mode_Or_Param2 = 71,
  Mode_Xor_Param1 = 72,
  Mode_Xor_Param2 = 73,
  Mode_And_Param1 = 74,
  Mode_And_Param2 = 75,
  Mode_Adc_Param1 = 76,
  Mode_Adc_Param2 = 77,

  // BSWAP
  Mode_Bswap_Param = 108,

  // data definitions
  Mode_Data_Db = 200,
  Mode_Data_Du = 201,
  Mode_Data_Dw = 202,
  Mode_Data_Dd = 203,
  Mode_Data_Dq = 204,
  Mode_Struc_Instance = 205,
  Mode_Reserve_Rb = 206,
  Mode_Reserve_Rw = 207,
  Mode_Reserve_Rd = 208,
  Mode_Reserve_Rq = 209,
  Mode_Rs_Struc_Name = 210,
  Mode_Rs_Count = 211,

  // macro calls and includes
  Mode_Macro_Call_Arg = 223,
  Mode_Incbin_Name = 224,

  // conditional assembly
  Mode_Hash_If = 231,
  Mode_Cond_Skip = 232,

  // data definitions: dt, rt, ro
  Mode_Data_Dt = 260,
  Mode_Reserve_Rt = 261,
  Mode_Reserve_Ro = 263,

  // imports and exports
  Mode_Alias_String = 264,
  Mode_Import_Dll_Name = 20,
  Mode_Import_Func_Name = 21,
  Mode_Entry_Symbol = 109,
  Mode_Export_Target = 274,
  Mode_Import_Lib_Name = 275,

  // structure initialisers: { ... } items, kept across lines until the brace
  Mode_Struc_Init = 267,

  // data definitions: reals
  Mode_Data_Real4 = 268,
  Mode_Data_Real8 = 269,
  Mode_Data_Real10 = 270,

  // includes
  Mode_Incfrom_Name = 271,
  Mode_Incfrom_Name2 = 273,

  // Set_Parser_Mode payloads
  Mode_Define = 276,
  Mode_Caption = 279,
  Mode_Style = 280,
  Mode_Control_String = 282,
  Mode_Exitm = 284,
  Mode_Popup_String = 285,
  Mode_Base = 288,
  Mode_Echo = 291,
  Mode_Emit_Parg = 292,
  Mode_Until = 293,
  Mode_While = 294,
  Mode_Min_Size = 295,

  // The rest of the statement is skipped: a keyword whose family this build
  // does not assemble was reported.
  Mode_Skip_Statement = 1000,
};

constexpr uint32_t Parser_Mode_Slots = 1024;
