// Section table, per-format layout, buffer growth and the checked emitter.
#include "output/sections.h"

#include "core/assemble.h"
#include "core/cmdline.h"
#include "core/diag.h"
#include "core/dispatch.h"
#include "core/expr.h"
#include "core/operands.h"
#include "core/platform/platform.h"
#include "core/text.h"

Section_State Sections;
uint32_t Section_First_Bytes = Section_Buffer_Initial;

namespace {

Section_Record* Current_Record() {
  Section_State& s = Sections;
  if (s.Section_Count < 0 || s.Current_Section > static_cast<uint32_t>(s.Section_Count)) return nullptr;
  return &s.Section_Table[s.Current_Section];
}

void Make_Current(uint32_t index) {
  Section_State& s = Sections;
  Section_Record& r = s.Section_Table[index];
  s.Section_Data_Base = r.buffer;
  s.Capacity = r.capacity;
  s.Section_Write_Offset = r.out;
  s.Location_Counter = r.saved_location;
  s.Section_Start = r.address;
  s.Current_Section = index;
  s.Statement_Section = static_cast<int32_t>(index);
}

void Fill(uint8_t* p, uint8_t b, uint32_t n) { Mem_Fill(p, b, n); }

// Bytes up to the current write offset may have been written.
void Mark_Dirty(Section_Record& r, uint32_t offset) {
  if (offset > r.dirty_end) r.dirty_end = offset < r.capacity ? offset : r.capacity;
}

uint32_t Round_Up(uint32_t v, uint32_t unit) { return (v + unit - 1) & ~(unit - 1); }

}  // namespace

void Section_Table_Reset(uint32_t format) {
  Section_State& s = Sections;
  for (auto& r : s.Section_Table) r = Section_Record{};
  s.Current_Section = 0;
  s.Section_Data_Base = nullptr;
  s.Capacity = 0;
  s.Section_Write_Offset = 0;
  s.Location_Counter = 0;
  s.Section_Start = 0;
  s.Statement_Section = -1;
  switch (format) {
    case Format_Binary:
      s.Image_Base = 0;
      s.Header_Size = 0;
      s.Section_Step = 512;
      break;
    case Format_PE32:
      s.Image_Base = Options.Info_Flags.dll ? 0x10000000u : 0x400000u;
      s.Header_Size = 0x1000;
      s.Section_Step = 0x1000;
      break;
    case Format_PE64:
      s.Image_Base = 0x400000u;
      s.Header_Size = 0x1000;
      s.Section_Step = 0x1000;
      break;
    case Format_OMF32: case Format_COFF32: case Format_ELF32: case Format_MachO32: case Format_COFF64:
    case Format_ELF64:
      s.Image_Base = 0;
      s.Header_Size = 0;
      s.Section_Step = 0;
      break;
    default:
      Error_Plain("Output: unknown format type\r\n");
      break;
  }
  s.Section_Next_Address = static_cast<uint32_t>(s.Image_Base) + s.Header_Size;
}

void Section_Buffers_Free() {
  Section_State& s = Sections;
  for (int32_t i = 0; i <= s.Section_Count && i < static_cast<int32_t>(Max_Sections); ++i) {
    Section_Record& r = s.Section_Table[i];
    if (r.buffer) Mem_Free(r.buffer, r.allocation_tag, r.capacity);
    r.buffer = nullptr;
    r.capacity = 0;
  }
  s.Section_Data_Base = nullptr;
  s.Capacity = 0;
}

void Section_Layout_Pass() {
  Section_State& s = Sections;
  if (s.Section_Count < 0) return;
  uint32_t base = static_cast<uint32_t>(s.Image_Base) + s.Header_Size;
  uint32_t previous = 0;
  bool beyond = false;
  for (int32_t i = 0; i <= s.Section_Count; ++i) {
    Section_Record& r = s.Section_Table[i];
    // Addresses are 32 bits wide: a section that the last pass ended
    // beyond 4 GiB would wrap them.
    const uint64_t start = (uint64_t{base} + previous + 4095) / 4096 * 4096;
    if (start + r.out > 0x100000000ull && !beyond) {
      beyond = true;
      Error_Text("Section, addresses go beyond 4 GiB: ", r.name, r.name_length);
      Diag.Stop_Flag += 1;
    }
    uint32_t address = Round_Up(base + previous, 4096);
    base = address;
    r.address = address;
    r.rva = address - static_cast<uint32_t>(s.Image_Base);
    uint32_t size = r.out;
    if (r.min_value != 0) {
      if (r.out < r.min_value) size = r.min_value;
      else Warning_Hex("Section min value overflow.", r.out);
    }
    r.virtual_size = Round_Up(size, 4096);
    if (r.virtual_size == 0) r.virtual_size = 4096;
    previous = r.virtual_size;
    r.old_out = r.out;
    r.max_align = 0;
    r.raw_size = Round_Up(r.out, 512);
    r.out = 0;
    r.saved_location = address;
  }
  Make_Current(0);
  s.Statement_Section = -1;  // no line of this pass has named a section yet
}

void Section_Reset_Pass() {
  Section_State& s = Sections;
  if (s.Section_Count < 0) return;
  for (int32_t i = 0; i <= s.Section_Count; ++i) {
    Section_Record& r = s.Section_Table[i];
    r.old_out = r.out;
    r.rva = r.address = r.virtual_size = r.raw_size = r.out = r.saved_location = 0;
    r.max_align = 0;
  }
  Make_Current(0);
  s.Statement_Section = -1;
}

void Section_Refill_Buffers() {
  Section_State& s = Sections;
  for (int32_t i = 0; i <= s.Section_Count; ++i) {
    Section_Record& r = s.Section_Table[i];
    if (!r.buffer) continue;
    Fill(r.buffer, static_cast<uint8_t>(r.fill_byte), r.dirty_end);
    r.dirty_end = 0;
  }
}

void Section_Sizes_Changed() {
  Section_State& s = Sections;
  for (int32_t i = 0; i <= s.Section_Count; ++i)
    if (s.Section_Table[i].out != s.Section_Table[i].old_out) Pass.Change_Counter += 1;
}

void Section_Save_Current() {
  Section_Record* r = Current_Record();
  if (!r) return;
  r->out = Sections.Section_Write_Offset;
  r->saved_location = Sections.Location_Counter;
  Mark_Dirty(*r, r->out);
}

int Section_Create(const char* name, uint32_t length) {
  if (Pass.Pass_Number != 1) return 0;
  Section_State& s = Sections;
  if (s.Section_Count + 1 >= static_cast<int32_t>(Max_Sections)) {
    Error_Text("Section, limit reached: ", name, length);
    Diag.Stop_Flag += 1;
    return -1;
  }
  if (length >= Section_Name_Size) {
    Error_Text("Section, name too long: ", name, length);
    Diag.Stop_Flag += 1;
    return -1;
  }
  auto* buffer = static_cast<uint8_t*>(Mem_Alloc(Section_First_Bytes));
  if (!buffer) {
    Error_Msg("Section, not enough memory. ");
    Diag.Stop_Flag += 1;
    return -1;
  }
  Fill(buffer, 0, Section_First_Bytes);
  s.Section_Count += 1;
  Section_Record& r = s.Section_Table[s.Section_Count];
  r = Section_Record{};
  Str_Copy_Nr(name, r.name, length);
  r.name[length] = 0;
  r.name_length = length;
  r.capacity = Section_First_Bytes;
  r.buffer = buffer;
  r.address = s.Section_Next_Address;
  r.saved_location = r.address;
  r.rva = r.address - static_cast<uint32_t>(s.Image_Base);
  s.Section_Next_Address += s.Section_Step;
  Make_Current(static_cast<uint32_t>(s.Section_Count));
  return 0;
}

bool Section_Exists(const char* name, uint32_t length) {
  const Section_State& s = Sections;
  for (int32_t i = 0; i <= s.Section_Count; ++i)
    if (Str_Equal(s.Section_Table[i].name, s.Section_Table[i].name_length, name, length)) return true;
  return false;
}

int Section_Select(const char* name, uint32_t length) {
  Section_State& s = Sections;
  Section_Save_Current();
  for (int32_t i = 0; i <= s.Section_Count; ++i) {
    const Section_Record& r = s.Section_Table[i];
    if (Str_Equal(r.name, r.name_length, name, length)) {
      Make_Current(static_cast<uint32_t>(i));
      return 0;
    }
  }
  Error_Text("Section, name not defined: ", name, length);
  return -1;
}

int Section_Grow(uint32_t need) {
  Section_State& s = Sections;
  Section_Record* r = Current_Record();
  if (!r || !r->buffer) return -1;
  const uint64_t required = static_cast<uint64_t>(r->capacity) + need;
  if (need < Section_Grow_Minimum) need = Section_Grow_Minimum;
  const uint64_t wanted = static_cast<uint64_t>(r->capacity) + need;
  // At least doubling, so that growth costs O(size) copies in all; never
  // beyond the limit, and a request beyond it fails at once.
  uint64_t bigger = wanted > 2ull * r->capacity ? wanted : 2ull * r->capacity;
  if (bigger > Section_Buffer_Limit) bigger = Section_Buffer_Limit;
  // A zero fill comes with the memory: untouched pages cost nothing.
  const bool zero = r->fill_byte == 0;
  uint8_t* grown = nullptr;
  if (required <= Section_Buffer_Limit && bigger > r->capacity)
    grown = static_cast<uint8_t*>(zero ? Mem_Alloc_Zero(static_cast<uint32_t>(bigger))
                                       : Mem_Alloc(static_cast<uint32_t>(bigger)));
  need = static_cast<uint32_t>(bigger - r->capacity);
  if (!grown) {
    Error_Msg("Section, not enough memory. ");
    Diag.Stop_Flag += 1;
    return -1;
  }
  for (uint32_t i = 0; i < r->capacity; ++i) grown[i] = r->buffer[i];
  if (!zero) Fill(grown + r->capacity, static_cast<uint8_t>(r->fill_byte), need);
  Mem_Free(r->buffer, r->allocation_tag, r->capacity);
  r->buffer = grown;
  r->capacity = static_cast<uint32_t>(bigger);
  s.Section_Data_Base = grown;
  s.Capacity = r->capacity;
  return 0;
}

int Section_Ensure_Space(uint32_t n, uint32_t margin, uint32_t grow) {
  Section_State& s = Sections;
  if (!s.Section_Data_Base) return 0;
  uint32_t free_bytes = s.Capacity - s.Section_Write_Offset;
  if (free_bytes > n && (free_bytes - n >= margin || s.Capacity >= Section_Buffer_Limit)) return 0;
  return Section_Grow(grow);
}

int Section_Ensure_Page() {
  Section_State& s = Sections;
  if (!s.Section_Data_Base) return 0;
  // A buffer at the limit stays: the checked emitter refuses what does not fit.
  if (s.Capacity - s.Section_Write_Offset < 4096 && s.Capacity < Section_Buffer_Limit) return Section_Grow(1);
  return 0;
}

// ---- The checked emitter ----------------------------------------------------------

bool Emit_Room(uint32_t n) {
  Section_State& s = Sections;
  if (!s.Section_Data_Base) return false;
  uint64_t end = static_cast<uint64_t>(s.Section_Write_Offset) + n;
  if (end <= s.Capacity) return true;
  if (end > Section_Buffer_Limit) {
    Error_Msg("Section, not enough memory. ");
    Diag.Stop_Flag += 1;
    return false;
  }
  // Room for the next statements too, so that no second growth (and copy of
  // the whole buffer) follows at once; near the limit, the limit.
  const uint64_t target = end + Section_Grow_Minimum <= Section_Buffer_Limit ? end + 4096 : Section_Buffer_Limit;
  return Section_Grow(static_cast<uint32_t>(target - s.Capacity)) == 0;
}

void Emit_Bytes(const void* data, uint32_t n) {
  Section_State& s = Sections;
  if (!Emit_Fits(n) && !Emit_Room(n)) return;
  const auto* p = static_cast<const uint8_t*>(data);
  uint8_t* out = s.Section_Data_Base + s.Section_Write_Offset;
  for (uint32_t i = 0; i < n; ++i) out[i] = p[i];
  s.Section_Write_Offset += n;
  s.Location_Counter += n;
}

void Emit_U16(uint32_t v) {
  uint8_t b[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
  Emit_Bytes(b, 2);
}

void Emit_U32(uint32_t v) {
  uint8_t b[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
                  static_cast<uint8_t>(v >> 24)};
  Emit_Bytes(b, 4);
}

void Emit_U64(uint64_t v) {
  uint8_t b[8];
  for (int i = 0; i < 8; ++i) b[i] = static_cast<uint8_t>(v >> (8 * i));
  Emit_Bytes(b, 8);
}

int Emit_Reserve(uint32_t n) {
  Section_State& s = Sections;
  // Reserved bytes read as the fill byte, as the buffer beyond its capacity
  // does: the buffer grows only when bytes are written after them.
  if (!s.Section_Data_Base) return -1;
  if (static_cast<uint64_t>(s.Section_Write_Offset) + n > Section_Buffer_Limit) {
    Error_Msg("Section, not enough memory. ");
    Diag.Stop_Flag += 1;
    return -1;
  }
  s.Section_Write_Offset += n;
  s.Location_Counter += n;
  return 0;
}

void Emit_Repeat(uint8_t b, uint32_t n) {
  Section_State& s = Sections;
  if (!Emit_Fits(n) && !Emit_Room(n)) return;
  Fill(s.Section_Data_Base + s.Section_Write_Offset, b, n);
  s.Section_Write_Offset += n;
  s.Location_Counter += n;
}

void Emit_Patch(uint32_t offset, const void* data, uint32_t n) {
  Section_State& s = Sections;
  if (!s.Section_Data_Base || static_cast<uint64_t>(offset) + n > s.Section_Write_Offset ||
      static_cast<uint64_t>(offset) + n > s.Capacity)
    return;
  const auto* src = static_cast<const uint8_t*>(data);
  for (uint32_t i = 0; i < n; ++i) s.Section_Data_Base[offset + i] = src[i];
}

bool Section_Access_Address(uint64_t address, void* data, uint32_t n, bool write) {
  Section_State& s = Sections;
  auto access = [&](uint8_t* buffer, uint32_t start, uint32_t size) {
    if (!buffer || address < start || address + n > static_cast<uint64_t>(start) + size) return false;
    uint8_t* at = buffer + (address - start);
    auto* bytes = static_cast<uint8_t*>(data);
    for (uint32_t i = 0; i < n; ++i) {
      if (write) at[i] = bytes[i];
      else bytes[i] = at[i];
    }
    return true;
  };
  if (s.Section_Data_Base && s.Location_Counter >= s.Section_Write_Offset &&
      access(s.Section_Data_Base, s.Location_Counter - s.Section_Write_Offset, s.Section_Write_Offset))
    return true;
  for (int32_t i = 0; i <= s.Section_Count; ++i) {
    Section_Record& r = s.Section_Table[i];
    if (static_cast<uint32_t>(i) == s.Current_Section || r.saved_location < r.out) continue;
    if (access(r.buffer, r.saved_location - r.out, r.out)) return true;
  }
  return false;
}

// ---- Statements ----------------------------------------------------------------------

void Dir_Section(const Keyword_Entry*) {
  Params_Reset();
  Parser.Parser_Mode = Mode_Section_Name;
}

void Section_Name_Statement(const char* text, uint32_t length) {
  Parser.Parser_Mode = 0;
  if (length <= 2 || Str_Has_Nul(text, length)) {
    Error_Text("Section, expecting section name here: ", text, length);
    return;
  }
  // A name that exists selects its section, in every pass: only new names
  // make sections.
  if (Pass.Pass_Number == 1 && !Section_Exists(text + 1, length - 2)) Section_Create(text + 1, length - 2);
  else Section_Select(text + 1, length - 2);
}

namespace {

// Makes every byte from the write offset on read as `fill`.
void Set_Fill(Section_Record& r, uint8_t fill) {
  if (!r.buffer) return;
  // Reserved bytes beyond the buffer keep the fill they were reserved with.
  if (Sections.Section_Write_Offset > r.capacity && !Emit_Room(0)) return;
  uint32_t from = Sections.Section_Write_Offset;
  if (from > r.capacity) from = r.capacity;
  Mark_Dirty(r, from);
  uint32_t to = r.fill_byte == fill ? r.dirty_end : r.capacity;
  if (to > from) Fill(r.buffer + from, fill, to - from);
  r.fill_byte = fill;
  r.dirty_end = from;
}

void Set_Class(uint32_t section_class, uint32_t characteristics) {
  Section_Record* r = Current_Record();
  if (!r) return;
  r->section_class = section_class;
  r->characteristics = characteristics;
  if (section_class != Class_Code && r->fill_byte != 0) Set_Fill(*r, 0);
}

}  // namespace

void Dir_Class_Code(const Keyword_Entry*) {
  Section_Record* r = Current_Record();
  if (!r) return;
  Set_Class(Class_Code, 0x60000020);
  // Gaps in code read as NOP; code already emitted in this pass stays.
  Set_Fill(*r, 0x90);
}

void Dir_Class_Data(const Keyword_Entry*) { Set_Class(Class_Data, 0xC0000040); }
void Dir_Class_Bss(const Keyword_Entry*) { Set_Class(Class_Bss, 0xC0000080); }
void Dir_Class_Imports(const Keyword_Entry*) { Set_Class(Class_Imports, 0xC0000040); }
void Dir_Class_Rsrc(const Keyword_Entry*) { Set_Class(Class_Rsrc, 0x50000040); }
void Dir_Class_Exports(const Keyword_Entry*) { Set_Class(Class_Exports, 0x40000040); }
void Dir_Class_Relocs(const Keyword_Entry*) { Set_Class(Class_Relocs, 0xC0000040); }

void Section_Min_Size(const char* text, uint32_t length) {
  Parser.Parser_Mode = 0;
  Eval_Result r = Eval_Value(text, length);
  if (r.status == 0) {
    if (Section_Record* rec = Current_Record()) rec->min_value = static_cast<uint32_t>(r.value);
    return;
  }
  if (Pass.Pass_Number != 1) Error_Text("Unknown parameter: ", text, length);
}

// ---- Parser modes of the section statements ---------------------------------------

namespace {
const Mode_Handler Section_Words[] = {{Mode_Min_Size, Section_Min_Size}};
const Mode_Handler Section_Strings[] = {{Mode_Section_Name, Section_Name_Statement}};
}  // namespace
extern const Mode_Table Section_Mode_Table = {"sections", Section_Words, 1, nullptr, 0, Section_Strings, 1};

// ---- Post-pass builders ------------------------------------------------------------

int Section_Record_Write(uint32_t index, uint32_t offset, const void* data, uint32_t n) {
  Section_State& s = Sections;
  if (static_cast<int32_t>(index) > s.Section_Count) return -1;
  Section_Record& r = s.Section_Table[index];
  uint64_t end = static_cast<uint64_t>(offset) + n;
  if (!r.buffer || end > Section_Buffer_Limit) {
    Error_Msg("Section, not enough memory. ");
    Diag.Stop_Flag += 1;
    return -1;
  }
  if (end > r.capacity) {
    uint64_t bigger = r.capacity + (end - r.capacity > Section_Grow_Minimum ? end - r.capacity : Section_Grow_Minimum);
    if (bigger > Section_Buffer_Limit) bigger = Section_Buffer_Limit;
    auto* grown = static_cast<uint8_t*>(Mem_Alloc(static_cast<uint32_t>(bigger)));
    if (!grown) {
      Error_Msg("Section, not enough memory. ");
      Diag.Stop_Flag += 1;
      return -1;
    }
    for (uint32_t i = 0; i < r.capacity; ++i) grown[i] = r.buffer[i];
    Fill(grown + r.capacity, static_cast<uint8_t>(r.fill_byte), static_cast<uint32_t>(bigger - r.capacity));
    // A current block that shows this buffer follows it; its offsets stay.
    if (s.Section_Data_Base == r.buffer) {
      s.Section_Data_Base = grown;
      s.Capacity = static_cast<uint32_t>(bigger);
    }
    Mem_Free(r.buffer, r.allocation_tag, r.capacity);
    r.buffer = grown;
    r.capacity = static_cast<uint32_t>(bigger);
  }
  const auto* b = static_cast<const uint8_t*>(data);
  for (uint32_t i = 0; i < n; ++i) r.buffer[offset + i] = b[i];
  Mark_Dirty(r, static_cast<uint32_t>(end));
  return 0;
}
