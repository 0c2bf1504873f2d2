// Keyword handler identities resolved to their functions.
//
// One line per identity. nullptr = not built: using such a keyword reports
// "<keyword>: not implemented". To build a family, declare its Inst_/Dir_
// handler in the family's header, include it here and replace the nullptr.
#include "core/keyword_list.h"

#include "core/dispatch.h"
#include "core/symbols.h"
#include "directives/assembly_time.h"
#include "directives/cond_asm.h"
#include "directives/data.h"
#include "directives/fill.h"
#include "directives/imports.h"
#include "directives/include.h"
#include "directives/location.h"
#include "directives/macro.h"
#include "directives/resource.h"
#include "directives/struc.h"
#include "directives/textequ.h"
#include "encode/alu.h"
#include "encode/branch.h"
#include "encode/bits.h"
#include "encode/group_ops.h"
#include "encode/mov.h"
#include "encode/opcodes.h"
#include "encode/ports.h"
#include "encode/string_ops.h"
#include "encode_ext/sse.h"
#include "encode_ext/system.h"
#include "encode/stack.h"
#include "encode/control.h"
#include "directives/proc.h"
#include "encode_ext/x87.h"
#include "output/sections.h"
#include "output/tables.h"
// .if, .while, .repeat and INVOKE
#include "directives/flow.h"
#include "directives/invoke.h"

// clang-format off
Keyword_Handler Keyword_Handler_Of(Kh id) {
  switch (id) {
    // General-purpose instructions with a handler of their own
    case Kh::Mov:             return Inst_Mov;
    case Kh::Lea:             return Inst_Lea;
    case Kh::Bswap:           return Inst_Bswap;
    case Kh::Xchg:            return Inst_Xchg;
    case Kh::Movzx:           return Inst_Movzx;
    case Kh::Movsx:           return Inst_Movsx;
    case Kh::Xadd:            return Inst_Xadd;
    case Kh::Cmpxchg:         return Inst_Cmpxchg;
    case Kh::Add:             return Inst_Add;
    case Kh::Or:              return Inst_Or;
    case Kh::Adc:             return Inst_Adc;
    case Kh::Sbb:             return Inst_Sbb;
    case Kh::And:             return Inst_And;
    case Kh::Sub:             return Inst_Sub;
    case Kh::Xor:             return Inst_Xor;
    case Kh::Cmp:             return Inst_Cmp;
    case Kh::Rol:             return Inst_Rol;
    case Kh::Ror:             return Inst_Ror;
    case Kh::Rcl:             return Inst_Rcl;
    case Kh::Rcr:             return Inst_Rcr;
    case Kh::Shl:             return Inst_Shl;
    case Kh::Shr:             return Inst_Shr;
    case Kh::Sal:             return Inst_Sal;
    case Kh::Sar:             return Inst_Sar;
    case Kh::Shld:            return Inst_Shld;
    case Kh::Shrd:            return Inst_Shrd;
    case Kh::Test:            return Inst_Test;
    case Kh::Not:             return Inst_Not;
    case Kh::Neg:             return Inst_Neg;
    case Kh::Mul:             return Inst_Mul;
    case Kh::Imul:            return Inst_Imul;
    case Kh::Div:             return Inst_Div;
    case Kh::Idiv:            return Inst_Idiv;
    case Kh::Inc:             return Inst_Inc;
    case Kh::Dec:             return Inst_Dec;
    case Kh::Bt:              return Inst_Bt;
    case Kh::Btc:             return Inst_Btc;
    case Kh::Btr:             return Inst_Btr;
    case Kh::Bts:             return Inst_Bts;
    case Kh::Bsf:             return Inst_Bsf;
    case Kh::Bsr:             return Inst_Bsr;
    case Kh::Call:            return Inst_Call;
    case Kh::Jmp:             return Inst_Jmp;
    case Kh::Loop:            return Inst_Loop;
    case Kh::Ret:             return Inst_Ret;
    case Kh::Retn:            return Inst_Retn;
    case Kh::Int:             return Inst_Int;
    case Kh::Iretq:           return Inst_Iretq;
    case Kh::Enter:           return Inst_Enter;
    case Kh::Push:            return Inst_Push;
    case Kh::Pop:             return Inst_Pop;
    case Kh::Movsd:           return Inst_Movsd;
    case Kh::Movsw:           return Inst_Movsw;
    case Kh::Stosd:           return Inst_Stosd;
    case Kh::Stosw:           return Inst_Stosw;
    case Kh::Lodsd:           return Inst_Lodsd;
    case Kh::Lodsw:           return Inst_Lodsw;
    case Kh::In:              return Inst_In;
    case Kh::Out:             return Inst_Out;

    // Condition-coded families: the payload holds the condition opcode
    case Kh::Cmovcc:          return Inst_Cmovcc;
    case Kh::Setcc:           return Inst_Setcc;
    case Kh::Jcc:             return Inst_Jcc;

    // Operand-less instructions: the payload holds one, two or three bytes
    case Kh::Opcode1:         return Inst_Opcode1;
    case Kh::Opcode2:         return Inst_Opcode2;
    case Kh::Opcode3:         return Inst_Opcode3;

    // x87 instructions with an operand
    case Kh::Finit:           return Inst_Finit;
    case Kh::Fninit:          return Inst_Fninit;
    case Kh::Fld:             return Inst_Fld;
    case Kh::Fild:            return Inst_Fild;
    case Kh::Fst:             return Inst_Fst;
    case Kh::Fstp:            return Inst_Fstp;
    case Kh::Fistp:           return Inst_Fistp;
    case Kh::Fisttp:          return Inst_Fisttp;
    case Kh::Ffree:           return Inst_Ffree;
    case Kh::Fadd:            return Inst_Fadd;
    case Kh::Faddp:           return Inst_Faddp;
    case Kh::Fiadd:           return Inst_Fiadd;
    case Kh::Fsub:            return Inst_Fsub;
    case Kh::Fsubp:           return Inst_Fsubp;
    case Kh::Fisub:           return Inst_Fisub;
    case Kh::Fmul:            return Inst_Fmul;
    case Kh::Fmulp:           return Inst_Fmulp;
    case Kh::Fimul:           return Inst_Fimul;
    case Kh::Fdiv:            return Inst_Fdiv;
    case Kh::Fdivp:           return Inst_Fdivp;
    case Kh::Fidiv:           return Inst_Fidiv;
    case Kh::Fcom:            return Inst_Fcom;
    case Kh::Fcomp:           return Inst_Fcomp;
    case Kh::Fucom:           return Inst_Fucom;
    case Kh::Fucomp:          return Inst_Fucomp;
    case Kh::Fcmovcc:         return Inst_Fcmovcc;
    case Kh::Fnstcw:          return Inst_Fnstcw;
    case Kh::Fldcw:           return Inst_Fldcw;

    // SSE families: the payload holds prefix, 0Fh, opcode and third byte
    case Kh::Sse:             return Inst_Sse;
    case Kh::Sse_Imm8:        return Inst_Sse_Imm8;
    case Kh::Sse_Extract:     return Inst_Sse_Extract;
    case Kh::Crc32_Popcnt:    return Inst_Crc32_Popcnt;

    // MOVQ, MOVD, MOVBE
    case Kh::Movq:            return Inst_Movq;
    case Kh::Movd:            return Inst_Movd;
    case Kh::Movbe:           return Inst_Movbe;

    // System and VMX instructions
    case Kh::Sidt:            return Inst_Sidt;
    case Kh::Lidt:            return Inst_Lidt;
    case Kh::Lgdt:            return Inst_Lgdt;
    case Kh::Sgdt:            return Inst_Sgdt;
    case Kh::Arpl:            return Inst_Arpl;
    case Kh::Bound:           return Inst_Bound;
    case Kh::Invlpg:          return Inst_Invlpg;
    case Kh::Clflush:         return Inst_Clflush;
    case Kh::Ltr:             return Inst_Ltr;
    case Kh::Str:             return Inst_Str;
    case Kh::Stmxcsr:         return Inst_Stmxcsr;
    case Kh::Vmxon:           return Inst_Vmxon;
    case Kh::Vmptrld:         return Inst_Vmptrld;
    case Kh::Vmptrst:         return Inst_Vmptrst;
    case Kh::Vmclear:         return Inst_Vmclear;
    case Kh::Lds:             return Inst_Lds;
    case Kh::Les:             return Inst_Les;
    case Kh::Lfs:             return Inst_Lfs;
    case Kh::Lgs:             return Inst_Lgs;
    case Kh::Lss:             return Inst_Lss;

    // Data and reserve directives (Data_Do is hidden by the FOR keyword `do`)
    case Kh::Data_Db:         return Dir_Db;
    case Kh::Data_Du:         return Dir_Du;
    case Kh::Data_Dw:         return Dir_Dw;
    case Kh::Data_Dd:         return Dir_Dd;
    case Kh::Data_Dq:         return Dir_Dq;
    case Kh::Data_Do:         return nullptr;
    case Kh::Data_Dt:         return Dir_Dt;
    case Kh::Data_Real4:      return Dir_Real4;
    case Kh::Data_Real8:      return Dir_Real8;
    case Kh::Data_Real10:     return Dir_Real10;
    case Kh::Reserve_Rb:      return Dir_Rb;
    case Kh::Reserve_Rw:      return Dir_Rw;
    case Kh::Reserve_Rd:      return Dir_Rd;
    case Kh::Reserve_Rq:      return Dir_Rq;
    case Kh::Reserve_Rt:      return Dir_Rt;
    case Kh::Reserve_Ro:      return Dir_Ro;
    case Kh::Reserve_Rs:      return Dir_Rs;
    case Kh::Dir_Time:        return Dir_Time;

    // Fill directives: the payload holds the first parser mode
    case Kh::Fill:            return Dir_Fill;

    // Location counter
    case Kh::Align:           return Dir_Align;
    case Kh::Org:             return Dir_Org;
    case Kh::Disp:            return Dir_Disp;

    // INVOKE, run-time .if blocks and loops
    case Kh::Invoke:          return Dir_Invoke;
    case Kh::Cinvoke:         return Dir_Cinvoke;
    case Kh::If:              return Dir_If;
    case Kh::Elseif:          return Dir_Elseif;
    case Kh::Else:            return Dir_Else;
    case Kh::Endif:           return Dir_Endif;
    case Kh::While:           return Dir_While;
    case Kh::Endw:            return Dir_Endw;
    case Kh::Repeat:          return Dir_Repeat;
    case Kh::Until:           return Dir_Until;

    // Includes
    case Kh::Include:         return Dir_Include;
    case Kh::Incbin:          return Inst_Incbin;
    case Kh::Incfrom:         return Inst_Incfrom;

    // Equates and text equates
    case Kh::Equ:             return Dir_Equ;
    case Kh::Tequ:            return Dir_Tequ;

    // Procedures and calling conventions (the payload holds the convention number)
    case Kh::Proc:            return Dir_Proc;
    case Kh::Uses:            return Dir_Uses;
    case Kh::Arg:             return Dir_Arg;
    case Kh::Local:           return Dir_Local;
    case Kh::Endp:            return Dir_Endp;
    case Kh::Stdcall:         return Set_Call_Convention;
    case Kh::Cdecl:           return Set_Call_Convention;
    case Kh::Noframe:         return Set_Call_Convention;
    case Kh::Win64:           return Set_Call_Convention;
    case Kh::Win64_Push:      return Set_Call_Convention;
    case Kh::Lin64:           return Set_Call_Convention;
    case Kh::Varg:            return Set_Varg;

    // Conditional assembly
    case Kh::Hash_If:         return Dir_Hash_If;
    case Kh::Hash_Ifdef:      return Dir_Hash_Ifdef;
    case Kh::Hash_Ifndef:     return Dir_Hash_Ifndef;
    case Kh::Hash_Ifnb:       return Dir_Hash_Ifnb;
    case Kh::Hash_Ifb:        return Dir_Hash_Ifb;
    case Kh::Hash_If_Used:    return Dir_Hash_If_Used;
    case Kh::Hash_If_Not_Used:return Dir_Hash_If_Not_Used;
    case Kh::Hash_Else:       return Dir_Hash_Else;
    case Kh::Hash_Endif:      return Dir_Hash_Endif;

    // Macros, REPT and FOR
    case Kh::Macro:           return Dir_Macro;
    case Kh::Endm:            return Dir_Endm;
    case Kh::Rept:            return Dir_Rept;
    case Kh::For:             return Dir_For;
    case Kh::For_Do:          return Dir_For_Do;

    // Generic mode setter: the payload holds the parser mode
    case Kh::Set_Parser_Mode: return Set_Parser_Mode;

    // Imports and exports
    case Kh::Import_Dll:      return Dir_Import_Dll;
    case Kh::Import_Lib:      return Dir_Import_Lib;
    case Kh::Import_Func:     return Dir_Import_Func;
    case Kh::Extern:          return Dir_Extern;
    case Kh::Export:          return Dir_Export;
    case Kh::Alias:           return Dir_Alias;
    case Kh::Entry:           return Dir_Entry;

    // Structures, unions and enumerations
    case Kh::Struc:           return Dir_Struc;
    case Kh::Ends:            return Dir_Ends;
    case Kh::Union:           return Dir_Union;
    case Kh::Endu:            return Dir_Endu;
    case Kh::Enum:            return Dir_Enum;
    case Kh::Ende:            return Dir_Ende;

    // Code mode
    case Kh::Use16:           return Use16;
    case Kh::Use32:           return Use32;
    case Kh::Use64:           return Use64;

    // Sections and section classes
    case Kh::Section:         return Dir_Section;
    case Kh::Class_Code:      return Dir_Class_Code;
    case Kh::Class_Data:      return Dir_Class_Data;
    case Kh::Class_Bss:       return Dir_Class_Bss;
    case Kh::Class_Imports:   return Dir_Class_Imports;
    case Kh::Class_Rsrc:      return Dir_Class_Rsrc;
    case Kh::Class_Exports:   return Dir_Class_Exports;
    case Kh::Class_Relocs:    return Dir_Class_Relocs;

    // Resource scripts
    case Kh::Dialogex:        return Dir_Dialogex;
    case Kh::Menuex:          return Dir_Menuex;
    case Kh::Emit_Rsrc:       return Dir_Emit_Rsrc;
    case Kh::Begin:           return Dir_Begin;
    case Kh::End:             return Dir_End;
    case Kh::Control:         return Dir_Control;
    case Kh::Popup:           return Dir_Popup;
    case Kh::Menuitem:        return Dir_Menuitem;

    // #echo, #store, #load, option, info lists
    case Kh::Echo:            return Dir_Echo;
    case Kh::Store:           return Dir_Store;
    case Kh::Load:            return Dir_Load;
    case Kh::Option:          return Dir_Option;
    case Kh::Emit_Info:       return Dir_Emit_Info;

    case Kh::None:
    case Kh::Count:
      break;
  }
  return nullptr;
}

const char* Kh_Name(Kh id) {
  switch (id) {
    case Kh::None:            return "None";
    case Kh::Mov:             return "Mov";
    case Kh::Lea:             return "Lea";
    case Kh::Bswap:           return "Bswap";
    case Kh::Xchg:            return "Xchg";
    case Kh::Movzx:           return "Movzx";
    case Kh::Movsx:           return "Movsx";
    case Kh::Xadd:            return "Xadd";
    case Kh::Cmpxchg:         return "Cmpxchg";
    case Kh::Add:             return "Add";
    case Kh::Or:              return "Or";
    case Kh::Adc:             return "Adc";
    case Kh::Sbb:             return "Sbb";
    case Kh::And:             return "And";
    case Kh::Sub:             return "Sub";
    case Kh::Xor:             return "Xor";
    case Kh::Cmp:             return "Cmp";
    case Kh::Rol:             return "Rol";
    case Kh::Ror:             return "Ror";
    case Kh::Rcl:             return "Rcl";
    case Kh::Rcr:             return "Rcr";
    case Kh::Shl:             return "Shl";
    case Kh::Shr:             return "Shr";
    case Kh::Sal:             return "Sal";
    case Kh::Sar:             return "Sar";
    case Kh::Shld:            return "Shld";
    case Kh::Shrd:            return "Shrd";
    case Kh::Test:            return "Test";
    case Kh::Not:             return "Not";
    case Kh::Neg:             return "Neg";
    case Kh::Mul:             return "Mul";
    case Kh::Imul:            return "Imul";
    case Kh::Div:             return "Div";
    case Kh::Idiv:            return "Idiv";
    case Kh::Inc:             return "Inc";
    case Kh::Dec:             return "Dec";
    case Kh::Bt:              return "Bt";
    case Kh::Btc:             return "Btc";
    case Kh::Btr:             return "Btr";
    case Kh::Bts:             return "Bts";
    case Kh::Bsf:             return "Bsf";
    case Kh::Bsr:             return "Bsr";
    case Kh::Call:            return "Call";
    case Kh::Jmp:             return "Jmp";
    case Kh::Loop:            return "Loop";
    case Kh::Ret:             return "Ret";
    case Kh::Retn:            return "Retn";
    case Kh::Int:             return "Int";
    case Kh::Iretq:           return "Iretq";
    case Kh::Enter:           return "Enter";
    case Kh::Push:            return "Push";
    case Kh::Pop:             return "Pop";
    case Kh::Movsd:           return "Movsd";
    case Kh::Movsw:           return "Movsw";
    case Kh::Stosd:           return "Stosd";
    case Kh::Stosw:           return "Stosw";
    case Kh::Lodsd:           return "Lodsd";
    case Kh::Lodsw:           return "Lodsw";
    case Kh::In:              return "In";
    case Kh::Out:             return "Out";
    case Kh::Cmovcc:          return "Cmovcc";
    case Kh::Setcc:           return "Setcc";
    case Kh::Jcc:             return "Jcc";
    case Kh::Opcode1:         return "Opcode1";
    case Kh::Opcode2:         return "Opcode2";
    case Kh::Opcode3:         return "Opcode3";
    case Kh::Finit:           return "Finit";
    case Kh::Fninit:          return "Fninit";
    case Kh::Fld:             return "Fld";
    case Kh::Fild:            return "Fild";
    case Kh::Fst:             return "Fst";
    case Kh::Fstp:            return "Fstp";
    case Kh::Fistp:           return "Fistp";
    case Kh::Fisttp:          return "Fisttp";
    case Kh::Ffree:           return "Ffree";
    case Kh::Fadd:            return "Fadd";
    case Kh::Faddp:           return "Faddp";
    case Kh::Fiadd:           return "Fiadd";
    case Kh::Fsub:            return "Fsub";
    case Kh::Fsubp:           return "Fsubp";
    case Kh::Fisub:           return "Fisub";
    case Kh::Fmul:            return "Fmul";
    case Kh::Fmulp:           return "Fmulp";
    case Kh::Fimul:           return "Fimul";
    case Kh::Fdiv:            return "Fdiv";
    case Kh::Fdivp:           return "Fdivp";
    case Kh::Fidiv:           return "Fidiv";
    case Kh::Fcom:            return "Fcom";
    case Kh::Fcomp:           return "Fcomp";
    case Kh::Fucom:           return "Fucom";
    case Kh::Fucomp:          return "Fucomp";
    case Kh::Fcmovcc:         return "Fcmovcc";
    case Kh::Fnstcw:          return "Fnstcw";
    case Kh::Fldcw:           return "Fldcw";
    case Kh::Sse:             return "Sse";
    case Kh::Sse_Imm8:        return "Sse_Imm8";
    case Kh::Sse_Extract:     return "Sse_Extract";
    case Kh::Crc32_Popcnt:    return "Crc32_Popcnt";
    case Kh::Movq:            return "Movq";
    case Kh::Movd:            return "Movd";
    case Kh::Movbe:           return "Movbe";
    case Kh::Sidt:            return "Sidt";
    case Kh::Lidt:            return "Lidt";
    case Kh::Lgdt:            return "Lgdt";
    case Kh::Sgdt:            return "Sgdt";
    case Kh::Arpl:            return "Arpl";
    case Kh::Bound:           return "Bound";
    case Kh::Invlpg:          return "Invlpg";
    case Kh::Clflush:         return "Clflush";
    case Kh::Ltr:             return "Ltr";
    case Kh::Str:             return "Str";
    case Kh::Stmxcsr:         return "Stmxcsr";
    case Kh::Vmxon:           return "Vmxon";
    case Kh::Vmptrld:         return "Vmptrld";
    case Kh::Vmptrst:         return "Vmptrst";
    case Kh::Vmclear:         return "Vmclear";
    case Kh::Lds:             return "Lds";
    case Kh::Les:             return "Les";
    case Kh::Lfs:             return "Lfs";
    case Kh::Lgs:             return "Lgs";
    case Kh::Lss:             return "Lss";
    case Kh::Data_Db:         return "Data_Db";
    case Kh::Data_Du:         return "Data_Du";
    case Kh::Data_Dw:         return "Data_Dw";
    case Kh::Data_Dd:         return "Data_Dd";
    case Kh::Data_Dq:         return "Data_Dq";
    case Kh::Data_Do:         return "Data_Do";
    case Kh::Data_Dt:         return "Data_Dt";
    case Kh::Data_Real4:      return "Data_Real4";
    case Kh::Data_Real8:      return "Data_Real8";
    case Kh::Data_Real10:     return "Data_Real10";
    case Kh::Reserve_Rb:      return "Reserve_Rb";
    case Kh::Reserve_Rw:      return "Reserve_Rw";
    case Kh::Reserve_Rd:      return "Reserve_Rd";
    case Kh::Reserve_Rq:      return "Reserve_Rq";
    case Kh::Reserve_Rt:      return "Reserve_Rt";
    case Kh::Reserve_Ro:      return "Reserve_Ro";
    case Kh::Reserve_Rs:      return "Reserve_Rs";
    case Kh::Dir_Time:        return "Dir_Time";
    case Kh::Fill:            return "Fill";
    case Kh::Align:           return "Align";
    case Kh::Org:             return "Org";
    case Kh::Disp:            return "Disp";
    case Kh::Invoke:          return "Invoke";
    case Kh::Cinvoke:         return "Cinvoke";
    case Kh::If:              return "If";
    case Kh::Elseif:          return "Elseif";
    case Kh::Else:            return "Else";
    case Kh::Endif:           return "Endif";
    case Kh::While:           return "While";
    case Kh::Endw:            return "Endw";
    case Kh::Repeat:          return "Repeat";
    case Kh::Until:           return "Until";
    case Kh::Include:         return "Include";
    case Kh::Incbin:          return "Incbin";
    case Kh::Incfrom:         return "Incfrom";
    case Kh::Equ:             return "Equ";
    case Kh::Tequ:            return "Tequ";
    case Kh::Proc:            return "Proc";
    case Kh::Uses:            return "Uses";
    case Kh::Arg:             return "Arg";
    case Kh::Local:           return "Local";
    case Kh::Endp:            return "Endp";
    case Kh::Stdcall:         return "Stdcall";
    case Kh::Cdecl:           return "Cdecl";
    case Kh::Noframe:         return "Noframe";
    case Kh::Win64:           return "Win64";
    case Kh::Win64_Push:      return "Win64_Push";
    case Kh::Lin64:           return "Lin64";
    case Kh::Varg:            return "Varg";
    case Kh::Hash_If:         return "Hash_If";
    case Kh::Hash_Ifdef:      return "Hash_Ifdef";
    case Kh::Hash_Ifndef:     return "Hash_Ifndef";
    case Kh::Hash_Ifnb:       return "Hash_Ifnb";
    case Kh::Hash_Ifb:        return "Hash_Ifb";
    case Kh::Hash_If_Used:    return "Hash_If_Used";
    case Kh::Hash_If_Not_Used:return "Hash_If_Not_Used";
    case Kh::Hash_Else:       return "Hash_Else";
    case Kh::Hash_Endif:      return "Hash_Endif";
    case Kh::Macro:           return "Macro";
    case Kh::Endm:            return "Endm";
    case Kh::Rept:            return "Rept";
    case Kh::For:             return "For";
    case Kh::For_Do:          return "For_Do";
    case Kh::Set_Parser_Mode: return "Set_Parser_Mode";
    case Kh::Import_Dll:      return "Import_Dll";
    case Kh::Import_Lib:      return "Import_Lib";
    case Kh::Import_Func:     return "Import_Func";
    case Kh::Extern:          return "Extern";
    case Kh::Export:          return "Export";
    case Kh::Alias:           return "Alias";
    case Kh::Entry:           return "Entry";
    case Kh::Struc:           return "Struc";
    case Kh::Ends:            return "Ends";
    case Kh::Union:           return "Union";
    case Kh::Endu:            return "Endu";
    case Kh::Enum:            return "Enum";
    case Kh::Ende:            return "Ende";
    case Kh::Use16:           return "Use16";
    case Kh::Use32:           return "Use32";
    case Kh::Use64:           return "Use64";
    case Kh::Section:         return "Section";
    case Kh::Class_Code:      return "Class_Code";
    case Kh::Class_Data:      return "Class_Data";
    case Kh::Class_Bss:       return "Class_Bss";
    case Kh::Class_Imports:   return "Class_Imports";
    case Kh::Class_Rsrc:      return "Class_Rsrc";
    case Kh::Class_Exports:   return "Class_Exports";
    case Kh::Class_Relocs:    return "Class_Relocs";
    case Kh::Dialogex:        return "Dialogex";
    case Kh::Menuex:          return "Menuex";
    case Kh::Emit_Rsrc:       return "Emit_Rsrc";
    case Kh::Begin:           return "Begin";
    case Kh::End:             return "End";
    case Kh::Control:         return "Control";
    case Kh::Popup:           return "Popup";
    case Kh::Menuitem:        return "Menuitem";
    case Kh::Echo:            return "Echo";
    case Kh::Store:           return "Store";
    case Kh::Load:            return "Load";
    case Kh::Option:          return "Option";
    case Kh::Emit_Info:       return "Emit_Info";
    case Kh::Count:           break;
  }
  return "?";
}
// clang-format on
