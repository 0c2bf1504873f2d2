// Handler identities of the built-in keyword list. Every keyword record names
// one of these; Keyword_Handler_Of (keyword_handlers.cpp) turns it into the
// function that runs when the keyword starts a statement. Keywords that share a
// handler and differ only by their payload share an identity.
#pragma once
#include <cstdint>

#include "core/keywords.h"

enum class Kh : uint16_t {
  None = 0,

  // General-purpose instructions with a handler of their own
  Mov, Lea, Bswap, Xchg, Movzx, Movsx, Xadd, Cmpxchg,
  Add, Or, Adc, Sbb, And, Sub, Xor, Cmp,
  Rol, Ror, Rcl, Rcr, Shl, Shr, Sal, Sar,
  Shld, Shrd, Test,
  Not, Neg, Mul, Imul, Div, Idiv,
  Inc, Dec,
  Bt, Btc, Btr, Bts, Bsf, Bsr,
  Call, Jmp,
  Loop, Ret, Retn, Int, Iretq, Enter,
  Push, Pop,
  Movsd, Movsw, Stosd, Stosw, Lodsd, Lodsw,
  In, Out,

  // Condition-coded families: the payload holds the condition opcode
  Cmovcc, Setcc, Jcc,

  // Operand-less instructions: the payload holds one, two or three bytes
  Opcode1, Opcode2, Opcode3,

  // x87 instructions with an operand
  Finit, Fninit, Fld, Fild, Fst, Fstp, Fistp, Fisttp, Ffree,
  Fadd, Faddp, Fiadd, Fsub, Fsubp, Fisub, Fmul, Fmulp, Fimul, Fdiv, Fdivp, Fidiv,
  Fcom, Fcomp, Fucom, Fucomp, Fcmovcc, Fnstcw, Fldcw,

  // SSE families: the payload holds prefix, 0Fh, opcode and third byte
  Sse, Sse_Imm8, Sse_Extract, Crc32_Popcnt,

  // MOVQ, MOVD, MOVBE
  Movq, Movd, Movbe,

  // System and VMX instructions
  Sidt, Lidt, Lgdt, Sgdt, Arpl, Bound, Invlpg, Clflush,
  Ltr, Str, Stmxcsr, Vmxon, Vmptrld, Vmptrst, Vmclear,
  Lds, Les, Lfs, Lgs, Lss,

  // Data and reserve directives (Data_Do is hidden by the FOR keyword `do`)
  Data_Db, Data_Du, Data_Dw, Data_Dd, Data_Dq, Data_Do, Data_Dt, Data_Real4, Data_Real8, Data_Real10,
  Reserve_Rb, Reserve_Rw, Reserve_Rd, Reserve_Rq, Reserve_Rt, Reserve_Ro, Reserve_Rs,
  Dir_Time,

  // Fill directives: the payload holds the first parser mode
  Fill,

  // Location counter
  Align, Org, Disp,

  // INVOKE, run-time .if blocks and loops
  Invoke, Cinvoke,
  If, Elseif, Else, Endif,
  While, Endw, Repeat, Until,

  // Includes
  Include, Incbin, Incfrom,

  // Equates and text equates
  Equ, Tequ,

  // Procedures and calling conventions (the payload holds the convention number)
  Proc, Uses, Arg, Local, Endp,
  Stdcall, Cdecl, Noframe, Win64, Win64_Push, Lin64, Varg,

  // Conditional assembly
  Hash_If, Hash_Ifdef, Hash_Ifndef, Hash_Ifnb, Hash_Ifb, Hash_If_Used, Hash_If_Not_Used, Hash_Else, Hash_Endif,

  // Macros, REPT and FOR
  Macro, Endm, Rept, For, For_Do,

  // Generic mode setter: the payload holds the parser mode
  Set_Parser_Mode,

  // Imports and exports
  Import_Dll, Import_Lib, Import_Func, Extern, Export, Alias, Entry,

  // Structures, unions and enumerations
  Struc, Ends, Union, Endu, Enum, Ende,

  // Code mode
  Use16, Use32, Use64,

  // Sections and section classes
  Section, Class_Code, Class_Data, Class_Bss, Class_Imports, Class_Rsrc, Class_Exports, Class_Relocs,

  // Resource scripts
  Dialogex, Menuex, Emit_Rsrc, Begin, End, Control, Popup, Menuitem,

  // #echo, #store, #load, option, info lists
  Echo, Store, Load, Option, Emit_Info,

  Count
};

// The identity's name as written above ("Mov", "Sse_Imm8" ...).
const char* Kh_Name(Kh id);
