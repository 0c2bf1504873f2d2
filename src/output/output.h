// Output dispatcher and writers.
#pragma once
#include <cstdint>

struct Output_State {
  uint32_t Output_Byte_Count = 0;
  uint32_t Thunk_Section = 0;
  uint32_t Thunk_Start = 0;
};
extern Output_State Output;

void Output_Write();
void Output_Binary();
void Output_PE32();
int PE32_Post_Pass();
void Output_PE64();
int PE64_Post_Pass();
// Relocatable objects.
void Output_ELF32();
void Output_ELF64();
void Output_COFF32();
void Output_COFF64();
void Output_OMF32();
void Output_MachO32();
// Per source file: the thunk start and the PE writers' state start afresh.
void Output_File_Start();
// Post-pass work of each format (import directories, thunks, base relocations).
int Output_Post_Pass();
void Import_Thunks_Emit();

// Writes `n` bytes to an output file and counts them.
bool Output_File_Write(void* handle, const void* data, uint32_t n);

// The output file of a writer. A regular target (or a new one) is written as
// `<name>.part` and renamed over the target only when the dispatcher finds
// the write complete, so that an old output survives any failure whole; a
// device, pipe or link is written in place. Output_Create reports "Output:
// can not create file" (nullptr); Output_Close reports "Output: can not
// write file" when any write or the close failed (false).
void* Output_Create();
bool Output_Close(void* handle);
