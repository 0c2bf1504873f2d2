// What the listing and the info lists share: the list file's name, the hex
// numbers they print and one buffered, checked write of a whole list file.
#pragma once
#include <cstdint>
#include <string>

#include "output/byte_sink.h"

// The output file name cut at its first '.' (a name without one is
// replaced whole), followed by `suffix`: prog.out.exe -> prog_list.lst.
std::string List_File_Name(const char* suffix);

// Upper-case hexadecimal without leading zeros or prefix ("0" for zero).
void List_Hex(Byte_Sink& sink, uint64_t value);
void List_Dec(Byte_Sink& sink, uint64_t value);
// The same digits into `out` (room for 20), for records built in a local
// buffer and appended at once; returns how many were written.
uint32_t List_Hex_Digits(char* out, uint64_t value);
uint32_t List_Dec_Digits(char* out, uint64_t value);
void List_Text(Byte_Sink& sink, const char* text);

// Creates `name`, writes the sink's bytes and closes it. A file that cannot
// be created, written or closed is reported as `message` + name (counted,
// no file and line) and false is returned.
bool List_File_Write(const std::string& name, const Byte_Sink& sink, const char* message);
