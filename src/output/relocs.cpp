// Relocation table.
#include "output/relocs.h"

#include "core/cmdline.h"
#include "core/diag.h"
#include "core/operands.h"
#include "core/platform/platform.h"
#include "output/sections.h"

Reloc_State Relocs;

namespace {

constexpr uint32_t Record_Bytes = static_cast<uint32_t>(sizeof(Reloc_Record));

// A slot for one more record, growing the table; nullptr when full.
Reloc_Record* Next_Slot() {
  Reloc_State& r = Relocs;
  if (r.Reloc_Full || !r.Reloc_Table) return nullptr;
  if (Options.Output_Format == Format_Binary && !Options.Info_Flags.info_reloc) {
    r.Reloc_Scratch = Reloc_Record{};
    return &r.Reloc_Scratch;
  }
  if (r.Reloc_Count >= r.Reloc_Capacity) {
    // Doubling: n relocations cost O(n) copies in all.
    const uint64_t wanted = static_cast<uint64_t>(r.Reloc_Capacity) * 2;
    const uint32_t bigger = static_cast<uint32_t>(wanted);
    auto* grown = wanted * Record_Bytes <= 0xFFFFFFFFu ? static_cast<Reloc_Record*>(Mem_Alloc(bigger * Record_Bytes))
                                                       : nullptr;
    if (!grown) {
      Error_Msg("Relocations, can not create more.");
      Diag.Stop_Flag += 1;
      r.Reloc_Full = true;
      return nullptr;
    }
    for (uint32_t i = 0; i < r.Reloc_Count; ++i) grown[i] = r.Reloc_Table[i];
    Mem_Free(r.Reloc_Table, 0, r.Reloc_Capacity * Record_Bytes);
    r.Reloc_Table = grown;
    r.Reloc_Capacity = bigger;
  }
  Reloc_Record* slot = &r.Reloc_Table[r.Reloc_Count++];
  *slot = Reloc_Record{};  // no field of an earlier pass's record stays behind
  return slot;
}

bool Width_Fits(uint32_t type, uint32_t width) {
  uint32_t expected = type == Reloc_Abs64 ? 8 : 4;
  if (width == expected) return true;
  if (Options.Output_Format != Format_Binary) Error_Msg(Msg_Reloc_Sizes);
  return false;
}

}  // namespace

int Reloc_Table_Create() {
  Reloc_State& r = Relocs;
  r.Reloc_Table = static_cast<Reloc_Record*>(Mem_Alloc(Reloc_Grow_Step * Record_Bytes));
  r.Reloc_Count = 0;
  r.Reloc_Full = false;
  if (!r.Reloc_Table) {
    r.Reloc_Capacity = 0;
    Error_Msg("Relocations, can not create more.");
    Diag.Stop_Flag += 1;
    return -1;
  }
  r.Reloc_Capacity = Reloc_Grow_Step;
  return 0;
}

void Reloc_Table_Free() {
  Reloc_State& r = Relocs;
  if (r.Reloc_Table) Mem_Free(r.Reloc_Table, 0, r.Reloc_Capacity * Record_Bytes);
  r.Reloc_Table = nullptr;
  r.Reloc_Capacity = 0;
  r.Reloc_Count = 0;
}

void Reloc_Reset_Pass() {
  Relocs.Reloc_Count = 0;
  Relocs.Reloc_Full = false;
}

bool Output_Is_Object() {
  const uint32_t f = Options.Output_Format;
  return f != Format_Binary && f != Format_PE32 && f != Format_PE64;
}

uint64_t Reloc_Abs64_Value(uint64_t value) {
  const uint32_t f = Options.Output_Format;
  const bool low_dword_only = f == Format_ELF32 || f == Format_OMF32 || f == Format_MachO32;
  // A small negative value is an address below the section's start in the
  // object: the linked address is above 0, so the carry clears the high dword.
  const bool small_negative = value >> 31 == 0x1FFFFFFFFull;
  return low_dword_only && small_negative ? static_cast<uint32_t>(value) : value;
}

Address_Mix Address_Mix_Of(int32_t net, bool scaled) {
  switch (Options.Output_Format) {
    case Format_Binary:
      return net == 0 && !scaled ? Address_Mix::Constant : Address_Mix::Address;
    case Format_PE32:
    case Format_PE64:
      if (scaled) return Address_Mix::Refused;
      return net == 0 ? Address_Mix::Constant : net == 1 ? Address_Mix::Address : Address_Mix::Refused;
    default:
      return Address_Mix::Refused;
  }
}

namespace {

// A value that Address_Mix_Of refused: an error from the pass on that knows
// every address, and no record.
bool Reloc_Target_Refused(uint32_t target_section) {
  if (target_section != Section_Unrelocatable) return false;
  Error_Final("Relocation, this address expression can not be relocated");
  return true;
}

}  // namespace

Reloc_Record* Reloc_Add(uint32_t type, uint32_t width, uint32_t target_section) {
  // A displacement of the two-sections form that its emitter did not store
  // as a distance from the field has no relocation (reported once).
  if (Params.mem.two_sections) {
    Params.mem.two_sections = 0;
    target_section = Section_Unrelocatable;
  }
  if (Reloc_Target_Refused(target_section)) return nullptr;
  if (!Width_Fits(type, width)) return nullptr;
  Reloc_Record* rec = Next_Slot();
  if (!rec) return nullptr;
  const Section_State& s = Sections;
  rec->type = type;
  rec->address = s.Location_Counter;
  rec->rva = s.Location_Counter - static_cast<uint32_t>(s.Image_Base);
  rec->section = s.Current_Section;
  rec->offset = s.Section_Write_Offset;
  rec->target_section = target_section;
  return rec;
}

Reloc_Record* Reloc_Add(uint32_t type, uint32_t width) { return Reloc_Add(type, width, Sections.Reloc_Target_Section); }

Reloc_Record* Reloc_Add_Struc_Field(uint32_t instance_address, uint32_t instance_offset, uint32_t field_offset,
                                    uint32_t target_section, uint32_t type) {
  if (Reloc_Target_Refused(target_section)) return nullptr;
  Reloc_Record* rec = Next_Slot();
  if (!rec) return nullptr;
  const Section_State& s = Sections;
  rec->type = type;
  rec->address = instance_address + field_offset;
  rec->rva = rec->address - static_cast<uint32_t>(s.Image_Base);
  rec->section = s.Current_Section;
  rec->offset = instance_offset + field_offset;
  rec->target_section = target_section;
  return rec;
}

void Reloc_Add_Extern(uint32_t rva, uint32_t import_index, uint32_t type) {
  Reloc_Record* rec = Next_Slot();
  if (!rec) return;
  const Section_State& s = Sections;
  rec->type = type;
  rec->rva = rva;
  rec->address = rva + static_cast<uint32_t>(s.Image_Base);
  rec->section = s.Current_Section;
  rec->offset = s.Section_Write_Offset;
  rec->import_index = import_index;
}

void Reloc_Add_Extern_At(uint32_t rva, uint32_t import_index, uint32_t type, uint32_t section, uint32_t offset) {
  Reloc_Record* rec = Next_Slot();
  if (!rec) return;
  rec->type = type;
  rec->rva = rva;
  rec->address = rva + static_cast<uint32_t>(Sections.Image_Base);
  rec->section = section;
  rec->offset = offset;
  rec->import_index = import_index;
}
