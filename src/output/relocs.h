// Relocation table: every address field that a loader or linker must adjust.
// The table is rebuilt in every pass; the writers turn the records of the last
// pass into their own format's relocations.
#pragma once
#include <cstdint>

enum Reloc_Type : uint32_t {
  Reloc_Abs32 = 0,       // absolute 32-bit address of a label in a section
  Reloc_Iat_Slot = 1,    // absolute 32-bit address of an import's IAT slot
  Reloc_Extern_Rel = 2,  // 32-bit pc-relative displacement to an import or external
  Reloc_Rel32 = 3,       // 32-bit pc-relative displacement to a label in a section
  Reloc_Rva32 = 4,       // 32-bit image-relative address
  Reloc_Abs64 = 5,       // absolute 64-bit address
};

struct Reloc_Record {
  uint32_t type;
  uint32_t address;
  uint32_t rva;
  uint32_t section;
  uint32_t offset;
  uint32_t target_section;
  uint32_t import_index;
  uint32_t zero_extended;  // 1: a 32-bit field read as unsigned (dd), not sign-extended
};

constexpr uint32_t Reloc_Grow_Step = 16384;

// The target section of a value that no relocation can hold: Reloc_Add
// refuses it with an error. It stays positive as an int32 too, so that no
// test for "no section" takes it for one.
constexpr uint32_t Section_Unrelocatable = 0x7FFFFF00;

// What a value made of addresses is, when it is not one address of one
// section (`net`: added addresses less subtracted ones; `scaled`: an address
// went through * / and the like). A flat binary holds final addresses, so
// a difference is a number and anything else a value as computed; an image
// also keeps a difference as a number and one address left over as an
// address to rebase. An object's linker moves each section on its own: none
// of these has a relocation there.
enum class Address_Mix { Constant, Address, Refused };
Address_Mix Address_Mix_Of(int32_t net, bool scaled);

// An object file: the linker places its sections and the image base.
bool Output_Is_Object();
// An alignment that an object file's offsets lose at link time: a linker
// places a section on a power of two only.
inline bool Object_Alignment_Lost(uint64_t value) {
  return Output_Is_Object() && value > 1 && (value & (value - 1)) != 0;
}

// The value a relocated 64-bit field holds in the file. Where the format
// fixes up its low dword only (ELF32, OMF32, Mach-O 32), the linker adds the
// section's address there and never carries into the high dword: an address
// below its section's start in the object (x-1 of a label at offset 0, a
// negative value down to -80000000h) would keep a high dword of all ones
// where the linked address has zeros.
uint64_t Reloc_Abs64_Value(uint64_t value);

// A field whose width no relocation of the format has (an address in a byte).
inline constexpr const char* Msg_Reloc_Sizes = "Mod_RM, [] relocation conflicting sizes ";

struct Reloc_State {
  Reloc_Record* Reloc_Table = nullptr;
  uint32_t Reloc_Capacity = 0;
  uint32_t Reloc_Count = 0;
  bool Reloc_Full = false;  // growth failed in this pass: nothing more is stored
  // Flat binary output applies no relocation; only -info_reloc lists them.
  // Without it each record is written to this slot and not kept.
  Reloc_Record Reloc_Scratch = {};
};
extern Reloc_State Relocs;

int Reloc_Table_Create();
void Reloc_Table_Free();
void Reloc_Reset_Pass();

// Records a field of `width` bytes that starts at the current emit position.
// Only 4-byte fields (8 for Reloc_Abs64) can be relocated; another width is
// refused outside binary output, where no relocation is ever applied.
// Each returns the record, or nullptr when none was made.
Reloc_Record* Reloc_Add(uint32_t type, uint32_t width, uint32_t target_section);
Reloc_Record* Reloc_Add(uint32_t type, uint32_t width);
Reloc_Record* Reloc_Add_Struc_Field(uint32_t instance_address, uint32_t instance_offset, uint32_t field_offset,
                                    uint32_t target_section, uint32_t type);
void Reloc_Add_Extern(uint32_t rva, uint32_t import_index, uint32_t type);

// As Reloc_Add_Extern, for a field that a post-pass builder writes at
// `offset` of section `section` (not at the current emit position).
void Reloc_Add_Extern_At(uint32_t rva, uint32_t import_index, uint32_t type, uint32_t section, uint32_t offset);
