// Procedures: the entry points the core calls.
#pragma once
#include <cstdint>

uint32_t Proc_Block_Mode();   // 1 = a prologue is due before the next code
void Proc_Prologue_Due();     // emits the prologue, block mode 2
bool Proc_Is_Open();
bool Local_Label_Find(const char* name, uint32_t length, uint32_t update);
void Local_Label_Create(const char* name, uint32_t length, uint32_t data_type, uint32_t address);
bool Local_Label_Value(const char* name, uint32_t length, uint32_t* address, uint32_t* section);
bool Proc_Address(const char* name, uint32_t length, uint32_t* address, uint32_t* section);
const char* Proc_Current_Name();  // nullptr outside a PROC
bool Proc_Local_Find(const char* name, uint32_t length, uint32_t* frame_offset, uint32_t* size);
bool Proc_Arg_Find(const char* name, uint32_t length, uint32_t* frame_offset, uint32_t* size);
void Proc_File_Start();
void Proc_Reset_Pass();
