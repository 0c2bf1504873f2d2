// Procedures: PROC/ENDP, USES, ARG, LOCAL, the local labels of a PROC and the
// prologue and epilogue of each calling convention.
#pragma once
#include <cstdint>

struct Keyword_Entry;
struct Mode_Table;

// Calling conventions, as the convention keywords number them.
enum Call_Convention : uint32_t {
  Conv_Stdcall = 0, Conv_Cdecl = 1, Conv_Noframe = 3, Conv_Win64_Push = 4, Conv_Win64 = 5, Conv_Lin64 = 6,
};

// Block mode: 0 outside, 1 between a PROC header and its first code (a
// prologue is due), 2 inside the body; structure definitions use 3 and 4.
uint32_t Proc_Block_Mode();
void Proc_Prologue_Due();     // emits the prologue, block mode 2
// A block that may open inside a PROC (a structure definition) saves the
// block mode when it starts and puts it back when it ends.
void Block_Mode_Save(uint32_t mode);
void Block_Mode_Restore();
bool Proc_Is_Open();
bool Local_Label_Find(const char* name, uint32_t length, uint32_t update);
void Local_Label_Create(const char* name, uint32_t length, uint32_t data_type, uint32_t address);
bool Local_Label_Value(const char* name, uint32_t length, uint32_t* address, uint32_t* section);
bool Proc_Address(const char* name, uint32_t length, uint32_t* address, uint32_t* section);
const char* Proc_Current_Name();  // nullptr outside a PROC
bool Proc_Local_Find(const char* name, uint32_t length, uint32_t* frame_offset, uint32_t* size);
bool Proc_Arg_Find(const char* name, uint32_t length, uint32_t* frame_offset, uint32_t* size);
void Proc_File_Start();
// At the end of the main file: a PROC left open.
void Proc_File_End_Checks();
void Proc_Reset_Pass();
void Proc_Table_Init();
void Proc_Table_Free();

// The PROC table for INVOKE, imports and the info lists: the index, or -1.
// `update` (from `proc` only) aligns the location counter and moves the PROC there.
int32_t Proc_Find(const char* name, uint32_t length, uint32_t update);
int32_t Proc_Arg_Count(int32_t proc);     // ARG items, or -1 for no PROC
// The PROCs in table order, for the object writers' symbols: false past the last.
bool Proc_At(int32_t proc, const char** name, uint32_t* length, uint32_t* address, uint32_t* section);
// Its end address and the source lines of `proc` and `endp` (0 without -dbg).
bool Proc_Extent(int32_t proc, uint32_t* end, uint32_t* first_line, uint32_t* last_line);
// Its local labels and ARG names in declaration order: false past the last.
bool Proc_Local_Label_At(int32_t proc, uint32_t label, const char** name, uint32_t* length, uint32_t* address);
bool Proc_Arg_At(int32_t proc, uint32_t arg, const char** name, uint32_t* length);
uint32_t Proc_Convention(int32_t proc);
bool Proc_Varg(int32_t proc);
// Set by `option proc_align` / `option proc_abi` (and -size).
void Proc_Set_Align(uint32_t alignment);
void Proc_Set_Default_Convention(uint32_t convention);
uint32_t Proc_Default_Convention();
uint32_t Proc_Align();
// Calls `each` with every ARG name of the PROC in declaration order; false
// when no PROC has that name.
bool Proc_Arg_Names(const char* name, uint32_t length, void (*each)(const char* arg, uint32_t arg_length));

// The uses of a PROC counted so far, read without counting one (#if_used);
// -1 for no PROC.
int64_t Proc_Use_Count(const char* name, uint32_t length);

// Emitted by `ret` inside a PROC.
void Proc_Epilogue();

void Dir_Proc(const Keyword_Entry* keyword);
void Dir_Endp(const Keyword_Entry* keyword);
void Dir_Uses(const Keyword_Entry* keyword);
void Dir_Arg(const Keyword_Entry* keyword);
void Dir_Local(const Keyword_Entry* keyword);
void Set_Call_Convention(const Keyword_Entry* keyword);
void Set_Varg(const Keyword_Entry* keyword);

extern const Mode_Table Proc_Mode_Table;
