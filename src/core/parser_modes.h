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

  // CMOVcc, SETcc, XADD
  Mode_Cmov_Param1 = 11,
  Mode_Cmov_Param2 = 12,
  Mode_Setcc_Param = 13,
  Mode_Xadd_Param1 = 14,
  Mode_Xadd_Param2 = 15,
  // location counter
  Mode_Org_Value = 16,
  Mode_Org_Struc_Value = 17,
  Mode_Disp_Value = 18,

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

  // structure definitions
  Mode_Struc_Name = 32,

  // RETN
  Mode_Retn_Count = 26,

  // PUSH and POP
  Mode_Pop_Operand = 30,
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

  // procedures: proc name
  Mode_Proc_Name = 44,

  // INVOKE
  Mode_Invoke_Arg = 45,

  // procedures: uses, arg, local (one item per word until the line ends)
  Mode_Uses_Item = 46,
  Mode_Arg_Item = 47,
  Mode_Local_Item = 48,

  // ENTER
  Mode_Enter_Size = 49,
  Mode_Enter_Level = 50,

  // macros, REPT, FOR
  Mode_Macro_Name = 51,
  Mode_Macro_Body = 52,
  Mode_Macro_Header = 53,
  Mode_Rept_Count = 54,
  Mode_Rept_Body = 55,
  Mode_For_Cursor = 56,
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

  // TEST, shifts and rotates, SHLD/SHRD, XCHG, MOVSX/MOVZX, the F7 group, INC/DEC
  Mode_Movzx_Param1 = 5,
  Mode_Movzx_Param2 = 6,
  Mode_Movsx_Param1 = 7,
  Mode_Movsx_Param2 = 8,
  Mode_Xchg_Param1 = 9,
  Mode_Xchg_Param2 = 10,
  Mode_Inc_Param = 33,
  Mode_Dec_Param = 34,
  Mode_Shl_Param1 = 78,
  Mode_Shl_Param2 = 79,
  Mode_Shr_Param1 = 80,
  Mode_Shr_Param2 = 81,
  Mode_Sar_Param1 = 82,
  Mode_Sar_Param2 = 83,
  Mode_Sal_Param1 = 84,
  Mode_Sal_Param2 = 85,
  Mode_Rol_Param1 = 86,
  Mode_Rol_Param2 = 87,
  Mode_Ror_Param1 = 88,
  Mode_Ror_Param2 = 89,
  Mode_Rcl_Param1 = 90,
  Mode_Rcl_Param2 = 91,
  Mode_Rcr_Param1 = 92,
  Mode_Rcr_Param2 = 93,
  Mode_Shld_Param1 = 94,
  Mode_Shld_Param2 = 95,
  Mode_Shld_Param3 = 96,
  Mode_Shrd_Param1 = 97,
  Mode_Shrd_Param2 = 98,
  Mode_Shrd_Param3 = 99,
  Mode_Test_Param1 = 100,
  Mode_Test_Param2 = 101,
  Mode_Not_Param = 102,
  Mode_Neg_Param = 103,
  Mode_Div_Param = 104,
  Mode_Idiv_Param = 105,
  Mode_Mul_Param = 106,
  Mode_Imul_Param = 107,

  // system instructions: descriptor tables, ARPL, BOUND, CLFLUSH, INVLPG, LTR, STR, STMXCSR
  Mode_Sidt_Param = 110,
  Mode_Lidt_Param = 111,
  Mode_Lgdt_Param = 112,
  Mode_Sgdt_Param = 113,
  Mode_Arpl_Param1 = 114,
  Mode_Arpl_Param2 = 115,
  Mode_Bound_Param1 = 116,
  Mode_Bound_Param2 = 117,
  Mode_Clflush_Param = 118,
  Mode_Invlpg_Param = 119,
  Mode_Ltr_Param = 120,
  Mode_Str_Param = 121,
  Mode_Stmxcsr_Param = 122,

  // CMPXCHG, IN, OUT
  Mode_Cmpxchg_Param1 = 123,
  Mode_Cmpxchg_Param2 = 124,
  Mode_In_Param1 = 125,
  Mode_In_Param2 = 126,
  Mode_Out_Param1 = 127,
  Mode_Out_Param2 = 128,

  // segment loads (register -> [direct]) and the VMX pointer instructions
  Mode_Lds_Param1 = 129,
  Mode_Lds_Param2 = 130,
  Mode_Les_Param1 = 131,
  Mode_Les_Param2 = 132,
  Mode_Lfs_Param1 = 133,
  Mode_Lfs_Param2 = 134,
  Mode_Lgs_Param1 = 135,
  Mode_Lgs_Param2 = 136,
  Mode_Lss_Param1 = 137,
  Mode_Lss_Param2 = 138,
  Mode_Vmxon_Param = 139,
  Mode_Vmptrld_Param = 140,
  Mode_Vmptrst_Param = 141,
  Mode_Vmclear_Param = 142,

  // BT, BTC, BTR, BTS, BSF, BSR (operand 1 -> operand 2)
  Mode_Bt_Param1 = 188,
  Mode_Bt_Param2 = 189,
  Mode_Btc_Param1 = 190,
  Mode_Btc_Param2 = 191,
  Mode_Btr_Param1 = 192,
  Mode_Btr_Param2 = 193,
  Mode_Bts_Param1 = 194,
  Mode_Bts_Param2 = 195,
  Mode_Bsf_Param1 = 196,
  Mode_Bsf_Param2 = 197,
  Mode_Bsr_Param1 = 198,
  Mode_Bsr_Param2 = 199,

  // SSE: the byte shifts psrldq/pslldq and pextrw1 (C5h)
  Mode_Sse_Shift_Param1 = 160,
  Mode_Sse_Shift_Param2 = 161,
  Mode_Pextrw1_Param1 = 162,
  Mode_Pextrw1_Param2 = 163,
  Mode_Pextrw1_Param3 = 164,

  // MOVQ, MOVBE, MOVD; SSE two-operand, CRC32/POPCNT, SSE with imm8, SSE extract
  Mode_Movq_Param1 = 172,
  Mode_Movq_Param2 = 173,
  Mode_Movbe_Param1 = 174,
  Mode_Movbe_Param2 = 175,
  Mode_Movd_Param1 = 176,
  Mode_Movd_Param2 = 177,
  Mode_Sse_Param1 = 178,
  Mode_Sse_Param2 = 179,
  Mode_Crc32_Param1 = 180,
  Mode_Crc32_Param2 = 181,
  Mode_Sse_Imm8_Param1 = 182,
  Mode_Sse_Imm8_Param2 = 183,
  Mode_Sse_Imm8_Param3 = 184,
  Mode_Sse_Extract_Param1 = 185,
  Mode_Sse_Extract_Param2 = 186,
  Mode_Sse_Extract_Param3 = 187,

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
  Mode_Hash_Ifdef = 225,
  Mode_Hash_Ifndef = 226,
  Mode_Hash_Ifnb = 227,
  Mode_Hash_Ifb = 228,
  Mode_Hash_If_Used = 229,
  Mode_Hash_If_Not_Used = 230,
  Mode_Hash_If = 231,
  Mode_Cond_Skip = 232,

  // x87 one-operand instructions
  Mode_Fld = 234,
  Mode_Fild = 235,
  Mode_Fst = 236,
  Mode_Fstp = 237,
  Mode_Fistp = 238,
  Mode_Fisttp = 239,
  Mode_Fadd = 240,
  Mode_Faddp = 241,
  Mode_Fiadd = 242,
  Mode_Fsub = 243,
  Mode_Fsubp = 244,
  Mode_Fisub = 245,
  Mode_Fmul = 246,
  Mode_Fmulp = 247,
  Mode_Fimul = 248,
  Mode_Fdiv = 249,
  Mode_Fdivp = 250,
  Mode_Fidiv = 251,
  Mode_Fcom = 252,
  Mode_Fcomp = 253,
  Mode_Fucom = 254,
  Mode_Fucomp = 255,
  Mode_Ffree = 256,
  Mode_Fcmovcc = 257,
  Mode_Fnstcw = 258,
  Mode_Fldcw = 259,

  // enumerations
  Mode_Enum_Param = 286,
  Mode_Enum_Item = 287,

  // fills: count, then value (fs: structure, count, value)
  Mode_Fb_Count = 212,
  Mode_Fb_Fill = 213,
  Mode_Fw_Count = 214,
  Mode_Fw_Fill = 215,
  Mode_Fd_Count = 216,
  Mode_Fd_Fill = 217,
  Mode_Fq_Count = 218,
  Mode_Fq_Fill = 219,
  Mode_Fs_Struc = 220,
  Mode_Fs_Count = 221,
  Mode_Fs_Fill = 222,

  // align
  Mode_Align_Value = 233,

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

  // INT and LOOP
  Mode_Int_Number = 265,
  Mode_Loop_Target = 266,

  // structure initialisers: { ... } items, kept across lines until the brace
  Mode_Struc_Init = 267,

  // data definitions: reals
  Mode_Data_Real4 = 268,
  Mode_Data_Real8 = 269,
  Mode_Data_Real10 = 270,

  // includes
  Mode_Incfrom_Name = 271,
  Mode_Incfrom_Size = 272,
  Mode_Incfrom_Name2 = 273,

  // resource scripts (276, 279, 280 and 282 are Set_Parser_Mode payloads too)
  Mode_Define_Value = 277,
  Mode_Dialogex_Param = 278,
  Mode_Emit_Rsrc = 281,

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

  // #store, #load, option
  Mode_Store_Address = 296,
  Mode_Store_Value = 297,
  Mode_Load_Target = 298,
  Mode_Load_Address = 299,
  Mode_Option = 300,

  // The rest of the statement is skipped: a keyword whose family this build
  // does not assemble was reported.
  Mode_Skip_Statement = 1000,
};

constexpr uint32_t Parser_Mode_Slots = 1024;
