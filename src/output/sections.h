// Section table and the current-section block. Every byte the assembler
// produces goes through the checked emitter below into the current section's
// buffer, which grows as needed; nothing writes section memory directly.
#pragma once
#include <cstdint>

constexpr uint32_t Max_Sections = 64;
constexpr uint32_t Section_Name_Size = 32;
constexpr uint32_t Section_Buffer_Initial = 0x100000;  // 1 MiB
constexpr uint32_t Section_Grow_Minimum = 0x80000;     // 512 KiB
constexpr uint32_t Section_Buffer_Limit = 0x40000000;  // 1 GiB: a section never grows beyond

enum Section_Class : uint32_t {
  Class_Code = 0, Class_Data = 1, Class_Bss = 2, Class_Imports = 3, Class_Rsrc = 4, Class_Exports = 5,
  Class_Relocs = 6, Class_Omf_Only = 7, Class_Debug = 8,
};

struct Section_Record {
  char name[Section_Name_Size];
  uint32_t name_length;
  char output_name[Section_Name_Size];
  uint32_t output_name_length;
  uint32_t rva;
  uint32_t address;
  uint32_t virtual_size;
  uint32_t raw_size;
  uint32_t section_class;
  uint32_t characteristics;
  uint32_t allocation_tag;
  uint32_t capacity;
  uint8_t* buffer;
  uint32_t old_out;
  uint32_t out;
  uint32_t saved_location;
  uint32_t omf_name_index, omf_segment_index;
  uint32_t coff_symbol_index;
  uint32_t elf_name_offset;
  uint32_t macho_string_offset, macho_symbol_index;
  uint32_t min_value;
  uint32_t fill_byte;  // what reserved, unwritten bytes read as (90h in code)
  uint32_t dirty_end;  // every byte from here to the capacity holds fill_byte
  uint32_t max_align;  // the largest `align` (or PROC alignment) seen in the section
};

struct Section_State {
  Section_Record Section_Table[Max_Sections];
  int32_t Section_Count = -1;
  // the current-section block
  uint8_t* Section_Data_Base = nullptr;
  uint32_t Capacity = 0;
  uint32_t Section_Write_Offset = 0;
  uint32_t Location_Counter = 0;
  uint32_t Section_Start = 0;
  uint64_t Image_Base = 0;
  uint32_t Header_Size = 0;
  uint32_t Section_Step = 0;
  uint32_t Reloc_Target_Section = 0;
  uint32_t Current_Section = 0;
  int32_t Statement_Section = -1;
  uint32_t Section_Next_Address = 0;
};
extern Section_State Sections;

// Bytes of a new section's first buffer (Section_Buffer_Initial). The fuzz
// harness lowers it, so that an input does not pay for a megabyte it never
// writes; the buffer grows the same way from any size.
extern uint32_t Section_First_Bytes;

void Section_Table_Reset(uint32_t format);
void Section_Buffers_Free();
void Section_Layout_Pass();
void Section_Reset_Pass();
void Section_Sizes_Changed();
int Section_Create(const char* name, uint32_t length);
bool Section_Exists(const char* name, uint32_t length);
int Section_Select(const char* name, uint32_t length);
void Section_Save_Current();
int Section_Ensure_Space(uint32_t n, uint32_t margin, uint32_t grow);
int Section_Ensure_Page();
int Section_Grow(uint32_t need);
// Refills every section buffer with its fill byte, so that bytes a pass
// reserves without writing never keep what an earlier layout left there.
void Section_Refill_Buffers();

inline bool Section_Has_Buffer() { return Sections.Section_Data_Base != nullptr; }

// ---- The checked emitter ---------------------------------------------------------
// Each call appends at Section_Write_Offset and advances it together with
// Location_Counter. The buffer grows when the bytes do not fit; when there is
// no section or no memory, nothing is written and the counters stay.

bool Emit_Room(uint32_t n);  // slow path: grows the buffer

inline bool Emit_Fits(uint32_t n) {
  Section_State& s = Sections;
  return s.Section_Data_Base && static_cast<uint64_t>(s.Section_Write_Offset) + n <= s.Capacity;
}

inline void Emit_Byte(uint8_t b) {
  Section_State& s = Sections;
  if (!Emit_Fits(1) && !Emit_Room(1)) return;
  s.Section_Data_Base[s.Section_Write_Offset++] = b;
  s.Location_Counter += 1;
}

void Emit_Bytes(const void* data, uint32_t n);
void Emit_U16(uint32_t v);
void Emit_U32(uint32_t v);
void Emit_U64(uint64_t v);
// Reserves n bytes: the buffer keeps its fill there. Fails (-1) without
// moving anything when the bytes cannot be had.
int Emit_Reserve(uint32_t n);
// Writes n copies of a byte.
void Emit_Repeat(uint8_t b, uint32_t n);
// Overwrites n bytes at `offset` of the current section, within what has
// been emitted or reserved already (a structure instance's fields).
void Emit_Patch(uint32_t offset, const void* data, uint32_t n);
// Reads or overwrites n assembled bytes at `address`: the current section
// (up to its write position) is searched first, then the others (up to what
// they held when last left). False when no section holds all n bytes.
bool Section_Access_Address(uint64_t address, void* data, uint32_t n, bool write);

// The section statement and its companions.
struct Keyword_Entry;
void Dir_Section(const Keyword_Entry* keyword);
void Dir_Class_Code(const Keyword_Entry* keyword);
void Dir_Class_Data(const Keyword_Entry* keyword);
void Dir_Class_Bss(const Keyword_Entry* keyword);
void Dir_Class_Imports(const Keyword_Entry* keyword);
void Dir_Class_Rsrc(const Keyword_Entry* keyword);
void Dir_Class_Exports(const Keyword_Entry* keyword);
void Dir_Class_Relocs(const Keyword_Entry* keyword);
void Section_Name_Statement(const char* text, uint32_t length);
void Section_Min_Size(const char* text, uint32_t length);

// ---- Post-pass builders ------------------------------------------------------------
// Import, export and relocation data and the import thunks are written into
// their section record after a pass, not through the current-section block:
// the record's buffer grows first. Returns 0, or -1 when out of memory.
int Section_Record_Write(uint32_t index, uint32_t offset, const void* data, uint32_t n);
