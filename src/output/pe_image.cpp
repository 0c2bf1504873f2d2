// PE images: import and export directories, base relocations, headers and
// the image file.
#include "output/pe_image.h"

#include "core/cmdline.h"
#include "core/diag.h"
#include "core/platform/platform.h"
#include "core/text.h"
#include "directives/imports.h"
#include "output/byte_sink.h"
#include "output/output.h"
#include "output/relocs.h"
#include "output/sections.h"

Pe_Image_State Pe_Image;

namespace {

constexpr uint32_t Descriptor_Bytes = 20;
constexpr uint32_t Section_Header_Bytes = 40;
constexpr uint32_t File_Alignment = 0x200;
constexpr uint32_t Header_Minimum = 0x400;

uint32_t Image_Base_Low() { return static_cast<uint32_t>(Sections.Image_Base); }

int32_t First_Section_Of(uint32_t section_class) {
  const Section_State& s = Sections;
  for (int32_t i = 0; i <= s.Section_Count; ++i)
    if (s.Section_Table[i].section_class == section_class) return i;
  return -1;
}

int32_t Last_Section_Of(uint32_t section_class) {
  const Section_State& s = Sections;
  for (int32_t i = s.Section_Count; i >= 0; --i)
    if (s.Section_Table[i].section_class == section_class) return i;
  return -1;
}

void Set_Directory(uint32_t index, uint32_t rva, uint32_t size) {
  Pe_Image.dir_rva[index] = rva;
  Pe_Image.dir_size[index] = size;
}

// Replaces a class section's contents with the sink's bytes.
int Store_Section(int32_t index, const Byte_Sink& sink) {
  if (sink.failed) {
    Error_Msg("Section, not enough memory. ");
    Diag.Stop_Flag += 1;
    return -1;
  }
  if (Section_Record_Write(static_cast<uint32_t>(index), 0, sink.data, sink.size) != 0) return -1;
  Sections.Section_Table[index].out = sink.size;
  return 0;
}

void Error_Named(const char* message, const char* name, uint32_t length) {
  char text[256];
  uint32_t n = 0;
  for (const char* p = message; *p && n < 200; ++p) text[n++] = *p;
  for (uint32_t i = 0; i < length && n < 250; ++i) text[n++] = name[i];
  text[n] = 0;
  Error_Plain(text);
}

// The writer replaces a directory section's whole contents: bytes that the
// source wrote into it would be lost, and labels there would address the
// directory instead.
int Refuse_Source_Data(int32_t index) {
  const Section_Record& r = Sections.Section_Table[index];
  if (r.out == 0) return 0;
  Error_Named("PE, data in a section that the image fills with its directory: ", r.name, r.name_length);
  return -1;
}

bool Imported(const Import_Function_Record& f) { return f.external == 0 && f.use_count != 0; }

// ---- The PE32 row ---------------------------------------------------------------------

void Pe32_Dos_Header(Byte_Sink* h) {
  static const uint16_t words[] = {
      0x5A4D, 0x50, 2, 0, 4, 0x0F, 0xFFFF, 0, 0xB8, 0, 0, 0, 0x40, 0x1A,
  };
  for (uint32_t i = 0; i < sizeof words / sizeof words[0]; ++i) h->Patch_U16(2 * i, words[i]);
  h->Patch_U32(0x3C, 0x100);
  static const uint8_t stub[] = {0x0E, 0x1F, 0xBA, 0x10, 0x00, 0xB4, 0x09, 0xCD,
                                 0x21, 0xB8, 0x01, 0x4C, 0xCD, 0x21, 0x90, 0x90};
  h->Patch(0x40, stub, sizeof stub);
  static const char text[] = "This program can not be run in DOS mode.\r\r\n$";
  h->Patch(0x50, text, sizeof text - 1);
}

struct Section_Sums {
  uint32_t code_size = 0, code_base = 0, data_size = 0, data_base = 0, bss_size = 0;
};

Section_Sums First_Class_Sections() {
  Section_Sums sums;
  int32_t code = First_Section_Of(Class_Code), data = First_Section_Of(Class_Data), bss = First_Section_Of(Class_Bss);
  const Section_State& s = Sections;
  if (code >= 0) sums.code_size = s.Section_Table[code].virtual_size, sums.code_base = s.Section_Table[code].rva;
  if (data >= 0) sums.data_size = s.Section_Table[data].virtual_size, sums.data_base = s.Section_Table[data].rva;
  if (bss >= 0) sums.bss_size = s.Section_Table[bss].virtual_size;
  return sums;
}

void Pe32_Optional_Header(Byte_Sink* h, uint32_t at) {
  Section_Sums sums = First_Class_Sections();
  h->Patch_U16(at + 2, 0x0101);  // linker version 1.1
  h->Patch_U32(at + 4, sums.code_size);
  h->Patch_U32(at + 8, sums.data_size);
  h->Patch_U32(at + 12, sums.bss_size);
  h->Patch_U32(at + 20, sums.code_base);
  h->Patch_U32(at + 24, sums.data_base);
  h->Patch_U32(at + 28, Image_Base_Low());
  h->Patch_U16(at + 40, 4);  // operating system 4.0
  h->Patch_U16(at + 48, 4);  // subsystem 4.0
  h->Patch_U32(at + 72, 0x100000);
  h->Patch_U32(at + 76, 0x1000);
  h->Patch_U32(at + 80, 0x100000);
  h->Patch_U32(at + 84, 0x1000);
  h->Patch_U32(at + 92, Pe_Directory_Count);
}

// ---- The PE32+ row --------------------------------------------------------------------

void Pe64_Dos_Header(Byte_Sink* h) {
  h->Patch_U16(0, 0x5A4D);
  h->Patch_U16(2, 0x90);
  h->Patch_U16(4, 3);
  h->Patch_U16(8, 4);
  h->Patch_U16(12, 0xFFFF);
  h->Patch_U16(16, 0xB8);
  h->Patch_U16(24, 0x40);
  h->Patch_U32(0x3C, 0xE0);
  static const uint8_t stub[] = {0xBA, 0x10, 0x00, 0x0E, 0x1F, 0xB4, 0x09, 0xCD, 0x21, 0xB8, 0x01, 0x4C, 0xCD, 0x21, 'Z', 'Z'};
  h->Patch(0x40, stub, sizeof stub);
  static const char text[] = "This program is not for DOS\r\n$";
  h->Patch(0x50, text, sizeof text - 1);
}

uint32_t Last_Raw_Size(uint32_t section_class) {
  int32_t i = Last_Section_Of(section_class);
  return i < 0 ? 0 : Sections.Section_Table[i].raw_size;
}

void Pe64_Optional_Header(Byte_Sink* h, uint32_t at) {
  h->Patch_U32(at + 4, Last_Raw_Size(Class_Code));
  h->Patch_U32(at + 8, Last_Raw_Size(Class_Data));
  h->Patch_U32(at + 12, Last_Raw_Size(Class_Bss));
  h->Patch_U32(at + 20, 0x1000);
  h->Patch_U64(at + 24, Image_Base_Low());
  for (uint32_t field = 40; field < 52; field += 4) {  // operating system, image and subsystem 5.2
    h->Patch_U16(at + field, 5);
    h->Patch_U16(at + field + 2, 2);
  }
  h->Patch_U64(at + 72, 0x100000);
  h->Patch_U64(at + 80, 0x1000);
  h->Patch_U64(at + 88, 0x100000);
  h->Patch_U64(at + 96, 0x1000);
  h->Patch_U32(at + 108, Pe_Directory_Count);
}

}  // namespace

// A PE32+ DLL carries the DLL flag, which a loader needs to treat it as one,
// and keeps its relocations. Without `entry` both kinds start at the first
// section (1000h): an entry of 0 would run the headers.
const Pe_Format Pe64_Format = {
    "PE64", Format_PE64, 0xE0, 0x8664, 0x20B, 0xF0, 8, 2, 0x2022, 0x23, 0x1000, 1,
    Pe64_Dos_Header, Pe64_Optional_Header,
};

const Pe_Format Pe32_Format = {
    "PE32", Format_PE32, 0x100, 0x14C, 0x10B, 0xE0, 4, 1, 0x2102, 0x102, 0x1000, 0,
    Pe32_Dos_Header, Pe32_Optional_Header,
};

void Pe_Image_File_Start() { Pe_Image = Pe_Image_State{}; }

// ---- Import directory --------------------------------------------------------------------

int Pe_Import(const Pe_Format& format) {
  if (!Imports_Declared()) return 0;
  bool any = false;  // externals alone need no import directory
  for (int32_t i = 0; i <= Import_Func_Count() && !any; ++i) any = Import_Func_At(i).external == 0;
  if (!any) return 0;
  int32_t index = First_Section_Of(Class_Imports);
  if (index < 0) {
    Error_Plain("PE_IMPORT, a Section with class_imports is required but was not found! ");
    return -1;
  }
  if (Refuse_Source_Data(index) != 0) return -1;
  Import_State& im = Imports;
  // Used imports: externals never enter an image's import directory.
  uint32_t functions = 0, libraries = 0;
  for (int32_t d = 0; d <= im.Import_Dll_Count; ++d) im.Dlls[d].writer[0] &= ~1u;
  for (int32_t i = 0; i <= im.Funcs.count; ++i) {
    const Import_Function_Record& f = im.Funcs[i];
    if (!Imported(f) || static_cast<int32_t>(f.library) > im.Import_Dll_Count) continue;
    functions += 1;
    im.Dlls[f.library].writer[0] |= 1;
  }
  for (int32_t d = 0; d <= im.Import_Dll_Count; ++d) libraries += im.Dlls[d].writer[0] & 1;

  const Section_Record& section = Sections.Section_Table[index];
  const uint32_t rva = section.rva;
  const uint32_t width = format.slot_width;
  const uint32_t descriptors = (libraries + format.zero_descriptors) * Descriptor_Bytes;
  Byte_Sink sink;
  sink.Append_Zero(descriptors + (functions + libraries) * width);
  uint32_t descriptor = 0, slot = descriptors;
  for (int32_t d = 0; d <= im.Import_Dll_Count; ++d) {
    const Import_Dll_Record& dll = im.Dlls[d];
    if (!(dll.writer[0] & 1)) continue;
    sink.Patch_U32(descriptor + 12, rva + sink.size);
    sink.Patch_U32(descriptor + 16, rva + slot);
    descriptor += Descriptor_Bytes;
    sink.Append(dll.name, dll.name_length);
    sink.U8(0);
    for (int32_t i = 0; i <= im.Funcs.count; ++i) {
      Import_Function_Record& f = im.Funcs[i];
      if (!Imported(f) || f.library != static_cast<uint32_t>(d)) continue;
      f.iat_slot_rva = rva + slot;
      sink.Patch_U32(slot, rva + sink.size);
      slot += width;
      sink.U16(0);  // hint
      if (f.alias_length) sink.Append(f.alias, f.alias_length);
      else sink.Append(f.name, f.name_length);
      sink.U8(0);
    }
    slot += width;  // the zero slot that ends the library's list
  }
  sink.Append_Zero(16);
  Set_Directory(Dir_Import_Table, rva, descriptors);
  return Store_Section(index, sink);
}

// ---- Export directory --------------------------------------------------------------------

int Pe_Export() {
  if (!Options.Info_Flags.dll && Export_Count() < 0) return 0;
  int32_t index = First_Section_Of(Class_Exports);
  if (index < 0) {
    Error_Plain("PE_EXPORT, a Section with class_exports is required but was not found! ");
    return -1;
  }
  if (Refuse_Source_Data(index) != 0) return -1;
  Export_Sort();
  const uint32_t n = static_cast<uint32_t>(Export_Count() + 1);
  const uint32_t rva = Sections.Section_Table[index].rva;
  const uint32_t functions = 40, names = 40 + 4 * n, ordinals = 40 + 8 * n;
  Byte_Sink sink;
  sink.Append_Zero(40 + 10 * n);
  sink.Patch_U32(12, rva + sink.size);
  const char* file = Output_File_Name();
  int32_t slash = -1;
  for (int32_t i = 0; file[i]; ++i)
    if (file[i] == '/' || file[i] == '\\') slash = i;
  const char* base = file + slash + 1;
  sink.Append(base, Str_Len(base));
  sink.U8(0);
  sink.Patch_U32(16, 1);
  sink.Patch_U32(20, n);
  sink.Patch_U32(24, n);
  sink.Patch_U32(28, rva + functions);
  sink.Patch_U32(32, rva + names);
  sink.Patch_U32(36, rva + ordinals);
  for (uint32_t i = 0; i < n; ++i) {
    const Export_Record& e = Export_At(static_cast<int32_t>(i));
    sink.Patch_U32(functions + 4 * i, e.address - Image_Base_Low());
    sink.Patch_U32(names + 4 * i, rva + sink.size);
    sink.Patch_U16(ordinals + 2 * i, i);
    sink.Append(e.name, e.name_length);
    sink.U8(0);
  }
  // A loader reads an address inside the export directory as the text of
  // a forwarder to another DLL.
  for (uint32_t i = 0; i < n; ++i) {
    const Export_Record& e = Export_At(static_cast<int32_t>(i));
    if (e.address - Image_Base_Low() - rva < sink.size) {
      Error_Named("Export, target lies in the export directory: ", e.name, e.name_length);
      return -1;
    }
  }
  Set_Directory(Dir_Export_Table, rva, sink.size);
  return Store_Section(index, sink);
}

// ---- Base relocations ----------------------------------------------------------------------

int Pe_Base_Relocs(const Pe_Format& format) {
  const Reloc_State& r = Relocs;
  // A call of an external symbol has nothing to bind to in an image.
  int result = 0;
  for (uint32_t i = 0; i < r.Reloc_Count; ++i) {
    const Reloc_Record& rec = r.Reloc_Table[i];
    if (rec.type != Reloc_Extern_Rel) continue;
    const char* name = "";
    uint32_t length = 0;
    if (rec.import_index <= static_cast<uint32_t>(Import_Func_Count()) && Import_Func_Count() >= 0) {
      name = Import_Func_At(static_cast<int32_t>(rec.import_index)).name;
      length = Import_Func_At(static_cast<int32_t>(rec.import_index)).name_length;
    }
    Error_Named("IMPORT, external can not be resolved in an image: ", name, length);
    result = -1;
  }
  if (result != 0) return result;
  Set_Directory(Dir_Base_Reloc_Table, 0, 0);
  int32_t index = First_Section_Of(Class_Relocs);
  if (index < 0) return 0;
  if (Refuse_Source_Data(index) != 0) return -1;
  if (r.Reloc_Count == 0) return 0;

  Byte_Sink sink;
  uint32_t block = 0, page = 0;
  bool open = false;
  for (uint32_t i = 0; i < r.Reloc_Count; ++i) {
    const Reloc_Record& rec = r.Reloc_Table[i];
    uint32_t kind;
    if (rec.type == Reloc_Rel32 || rec.type == Reloc_Rva32) continue;
    kind = rec.type == Reloc_Abs64 && format.slot_width == 8 ? 0xA000 : 0x3000;
    if (!open || rec.rva - page >= 0x1000) {
      if (open) {
        sink.Align(4);
        sink.Patch_U32(block + 4, sink.size - block);
      }
      page = rec.rva & ~0xFFFu;
      block = sink.size;
      sink.U32(page);
      sink.U32(0);
      open = true;
    }
    sink.U16((rec.rva & 0xFFF) | kind);
  }
  if (!open) return 0;
  sink.Patch_U32(block + 4, sink.size - block);
  uint32_t blocks = sink.size;
  sink.Append_Zero(16);
  Set_Directory(Dir_Base_Reloc_Table, Sections.Section_Table[index].rva, blocks);
  return Store_Section(index, sink);
}

// ---- Headers and the image file ---------------------------------------------------------

uint32_t Pe_Header_Size(const Pe_Format& format, uint32_t sections) {
  uint32_t table_end = format.e_lfanew + 0x18 + format.optional_size + sections * Section_Header_Bytes;
  uint32_t size = Header_Minimum;
  while (table_end > size || (format.table_fills_header && table_end == size)) size += File_Alignment;
  return size;
}

namespace {

uint32_t Raw_Bytes(const Section_Record& r) { return r.section_class == Class_Bss || r.out == 0 ? 0 : r.raw_size; }

bool Build_Headers(const Pe_Format& format, const Pe_Extra_Section* extra, Byte_Sink* h, uint32_t* header_size) {
  const Section_State& s = Sections;
  const uint32_t count = static_cast<uint32_t>(s.Section_Count + 1) + (extra ? 1 : 0);
  *header_size = Pe_Header_Size(format, count);
  h->Append_Zero(*header_size);
  format.dos_header(h);

  const uint32_t pe = format.e_lfanew;
  h->Patch_U32(pe, 0x4550);  // "PE\0\0"
  h->Patch_U16(pe + 4, format.machine);
  h->Patch_U16(pe + 6, count);
  if (extra && extra->symbol_table) {
    h->Patch_U32(pe + 12, extra->symbol_table);
    h->Patch_U32(pe + 16, extra->symbol_count);
  }
  h->Patch_U16(pe + 20, format.optional_size);
  h->Patch_U16(pe + 22, Options.Info_Flags.dll ? format.dll_characteristics : format.characteristics);

  const uint32_t opt = pe + 0x18;
  h->Patch_U16(opt, format.optional_magic);
  format.optional_header(h, opt);
  // Fields at the same place in both optional-header kinds.
  // A DLL without `entry` has none (0): the loader then calls nothing,
  // where running its first section as DllMain would decide the load.
  uint32_t image = 0x1000;
  for (int32_t i = 0; i <= s.Section_Count; ++i) image += s.Section_Table[i].virtual_size;
  if (extra) image += extra->virtual_size;
  const Entry_Record& entry = Imports.Entry;
  uint32_t entry_rva = Options.Info_Flags.dll ? 0 : format.entry_default;
  if (entry.set) {
    if (entry.value < Image_Base_Low()) Error_Plain("Entry point is below base addr.");
    else if (entry.value - Image_Base_Low() >= image) Error_Plain("Entry point is beyond the end of the image.");
    entry_rva = static_cast<uint32_t>(entry.value) - Image_Base_Low();
  }
  h->Patch_U32(opt + 16, entry_rva);
  h->Patch_U32(opt + 32, 0x1000);
  h->Patch_U32(opt + 36, File_Alignment);
  h->Patch_U32(opt + 56, image);
  h->Patch_U32(opt + 60, *header_size);
  h->Patch_U16(opt + 68, Options.Pe_Subsystem);

  int32_t rsrc = Last_Section_Of(Class_Rsrc);
  if (rsrc >= 0 && s.Section_Table[rsrc].raw_size != 0)
    Set_Directory(Dir_Resource_Table, s.Section_Table[rsrc].rva, s.Section_Table[rsrc].raw_size);
  const uint32_t dirs = opt + format.optional_size - Pe_Directory_Count * 8;
  for (uint32_t i = 0; i < Pe_Directory_Count; ++i) {
    h->Patch_U32(dirs + 8 * i, Pe_Image.dir_rva[i]);
    h->Patch_U32(dirs + 8 * i + 4, Pe_Image.dir_size[i]);
  }

  uint32_t at = opt + format.optional_size, file_offset = *header_size;
  for (int32_t i = 0; i <= s.Section_Count; ++i, at += Section_Header_Bytes) {
    const Section_Record& r = s.Section_Table[i];
    const char* name = r.output_name_length ? r.output_name : r.name;
    uint32_t length = r.output_name_length ? r.output_name_length : r.name_length;
    h->Patch(at, name, length < 8 ? length : 8);
    uint32_t raw = Raw_Bytes(r);
    h->Patch_U32(at + 8, r.virtual_size);
    h->Patch_U32(at + 12, r.rva);
    h->Patch_U32(at + 16, raw);
    h->Patch_U32(at + 20, raw ? file_offset : 0);
    h->Patch_U32(at + 36, r.characteristics);
    file_offset += raw;
  }
  if (extra) {
    h->Patch(at, extra->name, Str_Len(extra->name) < 8 ? Str_Len(extra->name) : 8);
    h->Patch_U32(at + 8, extra->virtual_size);
    h->Patch_U32(at + 12, extra->rva);
    h->Patch_U32(at + 16, extra->raw_size);
    h->Patch_U32(at + 20, extra->raw_size ? file_offset : 0);
    h->Patch_U32(at + 36, extra->characteristics);
  }
  return !h->failed;
}

bool Write_Bytes(File_Handle f, const uint8_t* bytes, uint32_t held, uint32_t raw) {
  uint32_t from_buffer = raw < held ? raw : held;
  if (!Output_File_Write(f, bytes, from_buffer)) return false;
  static const uint8_t zeros[512] = {};
  for (uint32_t left = raw - from_buffer; left > 0;) {
    uint32_t n = left < sizeof zeros ? left : static_cast<uint32_t>(sizeof zeros);
    if (!Output_File_Write(f, zeros, n)) return false;
    left -= n;
  }
  return true;
}

}  // namespace

uint32_t Pe_Extra_Section_Offset(const Pe_Format& format) {
  const Section_State& s = Sections;
  uint32_t at = Pe_Header_Size(format, static_cast<uint32_t>(s.Section_Count + 2));
  for (int32_t i = 0; i <= s.Section_Count; ++i) at += Raw_Bytes(s.Section_Table[i]);
  return at;
}

namespace {

// A DLL is loaded wherever its base is taken: its absolute fields then
// need base relocations, which only a class_relocs section holds.
void Warn_Dll_Without_Relocs() {
  if (!Options.Info_Flags.dll || First_Section_Of(Class_Relocs) >= 0) return;
  const Reloc_State& r = Relocs;
  for (uint32_t i = 0; i < r.Reloc_Count; ++i) {
    const uint32_t type = r.Reloc_Table[i].type;
    if (type == Reloc_Rel32 || type == Reloc_Rva32 || type == Reloc_Extern_Rel) continue;
    Print_Err("\r\n**Warn** DLL with absolute addresses has no class_relocs section: it must load at its base");
    return;
  }
}

}  // namespace

void Pe_Write_Image(const Pe_Format& format, const Pe_Extra_Section* extra) {
  Warn_Dll_Without_Relocs();
  Byte_Sink header;
  uint32_t header_size = 0;
  if (!Build_Headers(format, extra, &header, &header_size)) {
    char message[64];
    Str_Format(message, sizeof message, "%s: not enough memory for output\r\n", {format.name});
    Error_Plain(message);
    return;
  }
  File_Handle f = Output_Create();
  if (f == No_File) return;
  bool ok = Output_File_Write(f, header.data, header_size);
  const Section_State& s = Sections;
  for (int32_t i = 0; ok && i <= s.Section_Count; ++i) {
    const Section_Record& r = s.Section_Table[i];
    if (r.section_class == Class_Bss || r.out == 0) continue;
    ok = Write_Bytes(f, r.buffer, r.capacity, r.raw_size);
  }
  if (ok && extra) ok = Write_Bytes(f, extra->bytes->data, extra->bytes->size, extra->raw_size);
  Output_Close(f);
}
