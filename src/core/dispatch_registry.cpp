// Every family's parser-mode table. The dispatch tables are built from these;
// a test checks that no two families claim the same mode.
#include "core/dispatch.h"

extern const Mode_Table Skip_Mode_Table;
extern const Mode_Table Equ_Mode_Table;
extern const Mode_Table Section_Mode_Table;
extern const Mode_Table Alu_Mode_Table;
extern const Mode_Table Mov_Mode_Table;
extern const Mode_Table Data_Mode_Table;
extern const Mode_Table String_Lea_Bswap_Mode_Table;
extern const Mode_Table Bits_Mode_Table;
extern const Mode_Table Ports_Mode_Table;
extern const Mode_Table System_Mode_Table;
extern const Mode_Table Struc_Mode_Table;
extern const Mode_Table Text_Equ_Mode_Table;
extern const Mode_Table Fill_Mode_Table;
extern const Mode_Table Location_Mode_Table;
extern const Mode_Table Assembly_Time_Mode_Table;
extern const Mode_Table Stack_Mode_Table;
extern const Mode_Table Control_Mode_Table;
extern const Mode_Table Proc_Mode_Table;
extern const Mode_Table X87_Mode_Table;

// TEST, shifts, SHLD/SHRD, XCHG, MOVSX/MOVZX, the F7 group, INC/DEC
extern const Mode_Table Test_Shift_Mode_Table;
extern const Mode_Table Xchg_Movx_Mode_Table;
extern const Mode_Table Unary_Mode_Table;
extern const Mode_Table Sse_Mode_Table;
extern const Mode_Table Simd_Move_Mode_Table;

// CALL, JMP and Jcc
extern const Mode_Table Branch_Mode_Table;
// Macros, REPT and FOR; conditional assembly; includes
extern const Mode_Table Macro_Mode_Table;
extern const Mode_Table Cond_Mode_Table;
extern const Mode_Table Include_Mode_Table;

// Imports, exports, alias and entry
extern const Mode_Table Import_Mode_Table;

// Resource scripts
extern const Mode_Table Resource_Mode_Table;

// .if, .while, .repeat, INVOKE
extern const Mode_Table Flow_Mode_Table;
extern const Mode_Table Invoke_Mode_Table;

const Mode_Table* const Family_Mode_Tables[] = {
    &Skip_Mode_Table,
    &Equ_Mode_Table,
    &Section_Mode_Table,
    &Alu_Mode_Table,
    &Mov_Mode_Table,
    &Data_Mode_Table,
    &String_Lea_Bswap_Mode_Table,
    &Bits_Mode_Table,
    &Ports_Mode_Table,
    &System_Mode_Table,
    &Struc_Mode_Table,
    &Text_Equ_Mode_Table,
    &Fill_Mode_Table,
    &Location_Mode_Table,
    &Assembly_Time_Mode_Table,
    &Stack_Mode_Table,
    &Control_Mode_Table,
    &Proc_Mode_Table,
    &X87_Mode_Table,
    // TEST, shifts, SHLD/SHRD, XCHG, MOVSX/MOVZX, the F7 group, INC/DEC
    &Test_Shift_Mode_Table,
    &Xchg_Movx_Mode_Table,
    &Unary_Mode_Table,

    &Sse_Mode_Table,
    &Simd_Move_Mode_Table,

    // CALL, JMP and Jcc
    &Branch_Mode_Table,
    // Macros, REPT and FOR; conditional assembly; includes
    &Macro_Mode_Table,
    &Cond_Mode_Table,
    &Include_Mode_Table,

    // Imports, exports, alias and entry
    &Import_Mode_Table,

    // Resource scripts
    &Resource_Mode_Table,

    // .if, .while, .repeat, INVOKE
    &Flow_Mode_Table,
    &Invoke_Mode_Table,
};
const uint32_t Family_Mode_Table_Count = sizeof(Family_Mode_Tables) / sizeof(Family_Mode_Tables[0]);
