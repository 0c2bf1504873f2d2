// Platform layer: the only code that talks to the C library. Everything else
// writes to the console, allocates memory, reads and writes files and reads
// the clock through these operations.
#pragma once
#include <cstdint>
#include <string>

// ---- Console -----------------------------------------------------------
void Print_Text(const char* text);   // standard output
void Print_Err(const char* text);    // standard error
void Sys_Write_Out(const char* text, uint32_t length);
void Sys_Write_Err(const char* text, uint32_t length);

// In-process runs (tests, the fuzzer) may capture both console streams;
// nullptr pointers restore the real descriptors.
void Console_Capture(std::string* out, std::string* err);

// ---- Memory ------------------------------------------------------------
struct Platform_State {
  uint32_t Mem_Total_Bytes = 0;  // all sizes ever requested, wraps at 2^32
  // Large blocks freed with their size are kept for the next request of the
  // same size. Only the fuzz harness sets this: every input there builds the
  // same tables again, and fresh pages for them were most of its time.
  uint32_t Keep_Large_Blocks = 0;
};
extern Platform_State Platform;

void* Mem_Alloc(uint32_t size);              // nullptr when the heap is exhausted
void* Mem_Alloc_Zero(uint32_t size);         // zero-filled (large blocks lazily, by the system)
void Mem_Free(void* block, uint32_t tag, uint32_t size);
void Mem_Fill(void* block, uint8_t byte, uint32_t size);  // every byte of the block set to `byte`

// ---- Files -------------------------------------------------------------
using File_Handle = void*;
constexpr File_Handle No_File = nullptr;
// What a path names; a final link counts as File_Other unless followed.
enum File_Kind_Value { File_Absent = 0, File_Regular = 1, File_Directory = 2, File_Other = 3 };

// Opens a regular file for reading; rewrites '\' to '/' in place first. A
// path that names anything else (a directory, a pipe, a device) is not
// opened, and never waited on: *kind (when given) says what the path named,
// File_Absent when it could not be opened at all.
File_Handle File_Open(char* path, File_Kind_Value* kind = nullptr);
File_Handle File_Create(const char* path);   // creates or truncates
int File_Close(File_Handle h);
int64_t File_Size(File_Handle h);            // -1 when the size cannot be read
int File_Seek(File_Handle h, uint64_t offset);  // 0 on success
int File_Read(File_Handle h, void* buffer, uint32_t n);         // 1 = all n bytes read
int File_Write(File_Handle h, const void* buffer, uint32_t n);  // 1 = all n bytes written
inline int File_Write_1(File_Handle h, const void* b, uint32_t n) { return File_Write(h, b, n); }
inline int File_Write_3(File_Handle h, const void* b, uint32_t n) { return File_Write(h, b, n); }
inline int File_Write_4(File_Handle h, const void* b, uint32_t n) { return File_Write(h, b, n); }
inline int File_Write_5(File_Handle h, const void* b, uint32_t n) { return File_Write(h, b, n); }
bool File_Exists(const char* path);
int File_Remove(const char* path);
int File_Rename(const char* from, const char* to);  // 0 = done; replaces `to`
File_Kind_Value File_Kind(const char* path, bool follow_link);
// A write that could not be completed (File_Write, or File_Close flushing
// the rest) since the last reset: writers that miss a result are still caught.
void File_Failure_Reset();
bool File_Failure();

// ---- Environment -------------------------------------------------------
// True when the variable is set to a non-empty value other than "0".
bool Env_Flag(const char* name);

// ---- Time --------------------------------------------------------------
struct Date_Time_Record {
  uint16_t year, month, day_of_week, day, hour, minute, second, reserved;
};
extern Date_Time_Record Date_Time;
void Get_Local_Time();
uint32_t Clock_Ms();

// ---- Process -----------------------------------------------------------
[[noreturn]] void Sys_Exit(int code);
