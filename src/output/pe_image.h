// PE images: the import directory, export directory and base relocations
// that the post-pass builds into their class sections, and the headers and
// file of the finished image. One row per image kind (PE32, PE32+) holds
// everything in which the kinds differ.
#pragma once
#include <cstdint>

struct Byte_Sink;

struct Pe_Format {
  const char* name;               // for messages: "PE32", "PE64"
  uint32_t format;                // Output_Format of this kind
  uint32_t e_lfanew;
  uint16_t machine;
  uint16_t optional_magic;
  uint16_t optional_size;         // SizeOfOptionalHeader
  uint32_t slot_width;            // IAT slot bytes
  uint32_t zero_descriptors;      // zero import descriptors after the used ones
  uint16_t dll_characteristics;   // file Characteristics with -dll (without: `characteristics`)
  uint16_t characteristics;
  uint32_t entry_default;         // AddressOfEntryPoint without `entry`: the first section
  uint8_t table_fills_header;     // 1: the header also grows when the section table ends right at it
  void (*dos_header)(Byte_Sink* header);
  void (*optional_header)(Byte_Sink* header, uint32_t at);  // kind-specific fields
};
extern const Pe_Format Pe32_Format;
extern const Pe_Format Pe64_Format;

enum Pe_Directory : uint32_t {
  Dir_Export_Table = 0, Dir_Import_Table = 1, Dir_Resource_Table = 2, Dir_Base_Reloc_Table = 5,
  Dir_Debug_Table = 6, Pe_Directory_Count = 16,
};

struct Pe_Image_State {
  uint32_t dir_rva[Pe_Directory_Count] = {};
  uint32_t dir_size[Pe_Directory_Count] = {};
};
extern Pe_Image_State Pe_Image;

void Pe_Image_File_Start();

// Post-pass steps; each returns 0, or -1 after an error.
int Pe_Import(const Pe_Format& format);
int Pe_Export();
int Pe_Base_Relocs(const Pe_Format& format);

// A section the image writer adds after the table's sections (the PE32
// debug symbols): its header is the last, its bytes follow every other
// section's. `raw_size` bytes are written (zeros past the sink's end).
struct Pe_Extra_Section {
  const char* name;
  uint32_t rva, virtual_size, raw_size, characteristics;
  const Byte_Sink* bytes;
  uint32_t symbol_table;  // file offset of a COFF symbol table in it, 0 for none
  uint32_t symbol_count;
};
// The file offset at which an extra section's bytes start.
uint32_t Pe_Extra_Section_Offset(const Pe_Format& format);

// Builds the headers and writes the image file.
void Pe_Write_Image(const Pe_Format& format, const Pe_Extra_Section* extra = nullptr);

// The header size for `sections` section headers: 400h, grown by 200h
// while the table does not fit (for PE32+, while it reaches the end).
uint32_t Pe_Header_Size(const Pe_Format& format, uint32_t sections);
