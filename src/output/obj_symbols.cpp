// Symbols, relocations and file writing shared by the object writers.
#include "output/obj_symbols.h"

#include "core/cmdline.h"
#include "core/diag.h"
#include "core/platform/platform.h"
#include "core/text.h"
#include "directives/imports.h"
#include "directives/proc.h"
#include "output/output.h"
#include "output/relocs.h"
#include "output/sections.h"

int32_t Obj_Globals::Add(const Obj_Global& g) {
  std::string key(g.name, g.length);
  auto found = by_name.find(key);
  if (found != by_name.end()) {
    Obj_Global& kept = list[static_cast<size_t>(found->second)];
    if (kept.section == Obj_Undefined && g.section != Obj_Undefined) kept = g;
    return found->second;
  }
  const auto index = static_cast<int32_t>(list.size());
  list.push_back(g);
  by_name.emplace(std::move(key), index);
  return index;
}

void Obj_Globals::Build(Obj_Global_Order order) {
  list.clear();
  by_name.clear();
  import_symbol.assign(static_cast<size_t>(Import_Func_Count() + 1), -1);

  const Entry_Record& entry = Imports.Entry;
  if (order != Order_Imports_Exports && entry.set && entry.name_length != 0) {
    const bool number = entry.section < 0;
    Add({entry.name, entry.name_length, entry.value, number ? Obj_Absolute : entry.section, !number, 0});
  }
  auto add_exports = [this] {
    for (int32_t i = 0; i <= Export_Count(); ++i) {
      const Export_Record& e = Export_At(i);
      const char* name = e.alias_length ? e.alias : e.name;
      uint32_t length = e.alias_length ? e.alias_length : e.name_length;
      Add({name, length, e.address, static_cast<int32_t>(e.section), true, 4});
    }
  };
  auto add_imports = [this] {
    for (int32_t i = 0; i <= Import_Func_Count(); ++i) {
      const Import_Function_Record& f = Import_Func_At(i);
      if (f.use_count == 0) continue;
      const char* name = f.alias_length ? f.alias : f.name;
      uint32_t length = f.alias_length ? f.alias_length : f.name_length;
      import_symbol[static_cast<size_t>(i)] = Add({name, length, 0, Obj_Undefined, false, 4});
    }
  };
  if (order == Order_Entry_Exports_Imports) {
    add_exports();
    add_imports();
  } else {
    add_imports();
    add_exports();
  }
}

void Obj_Globals::Add_Procs() {
  const char* name = nullptr;
  uint32_t length = 0, address = 0, section = 0;
  for (int32_t i = 0; Proc_At(i, &name, &length, &address, &section); ++i)
    Add({name, length, address, static_cast<int32_t>(section), true, 0});
}

std::vector<const Reloc_Record*> Obj_Section_Relocs(uint32_t section) {
  std::vector<const Reloc_Record*> found;
  const Reloc_State& r = Relocs;
  for (uint32_t i = 0; i < r.Reloc_Count; ++i)
    if (r.Reloc_Table[i].section == section) found.push_back(&r.Reloc_Table[i]);
  return found;
}

const char* Obj_Section_Name(const Section_Record& r, uint32_t* length) {
  *length = r.output_name_length ? r.output_name_length : r.name_length;
  return r.output_name_length ? r.output_name : r.name;
}

bool Obj_Field_Read(const Section_Record& r, uint32_t offset, uint32_t width, uint64_t* value) {
  if (static_cast<uint64_t>(offset) + width > r.out || static_cast<uint64_t>(offset) + width > r.capacity) return false;
  uint64_t v = 0;
  for (uint32_t i = 0; i < width; ++i) v |= static_cast<uint64_t>(r.buffer[offset + i]) << (8 * i);
  *value = v;
  return true;
}

void Obj_Field_Clear(Section_Record& r, uint32_t offset, uint32_t width) {
  if (static_cast<uint64_t>(offset) + width > r.capacity) return;
  for (uint32_t i = 0; i < width; ++i) r.buffer[offset + i] = 0;
}

uint32_t Obj_Section_Alignment(const Section_Record& r, uint32_t minimum, uint32_t maximum, const char* format) {
  uint32_t align = r.max_align ? (r.max_align & (~r.max_align + 1)) : minimum;
  if (align < minimum) align = minimum;
  if (align > maximum) {
    if (format) {
      char text[128];
      Str_Format(text, sizeof text, "%s: section alignment too big: %s\r\n", {format, r.name});
      Error_Plain(text);
    }
    align = maximum;
  }
  return align;
}

namespace {

bool Write_Section_Bytes(void* f, const Section_Record& r) {
  const uint32_t from_buffer = r.out < r.capacity ? r.out : r.capacity;
  if (!Output_File_Write(f, r.buffer, from_buffer)) return false;
  static const uint8_t zeros[512] = {};
  for (uint32_t left = r.out - from_buffer; left > 0;) {
    uint32_t n = left < sizeof zeros ? left : static_cast<uint32_t>(sizeof zeros);
    if (!Output_File_Write(f, zeros, n)) return false;
    left -= n;
  }
  return true;
}

void Error_Prefixed(const char* prefix, const char* message) {
  char text[96];
  Str_Format(text, sizeof text, "%s%s", {prefix, message});
  Error_Plain(text);
}

}  // namespace

void Obj_Write_File(const char* prefix, const std::vector<Obj_Piece>& pieces) {
  for (const Obj_Piece& p : pieces) {
    if (p.sink && p.sink->failed) {
      Error_Prefixed(prefix, ": not enough memory for output\r\n");
      return;
    }
  }
  void* f = Output_Create();
  if (!f) return;
  bool ok = true;
  for (const Obj_Piece& p : pieces) {
    if (!ok) break;
    if (p.sink) ok = Output_File_Write(f, p.sink->data, p.sink->size);
    else if (p.section) ok = Write_Section_Bytes(f, *p.section);
  }
  Output_Close(f);
}

void Obj_Report_Reloc(const char* prefix, const Reloc_Record& rec) {
  Error_Prefixed(prefix, ": unknown relocation type\r\n");
  char detail[96];
  Str_Format(detail, sizeof detail, "\\t\\t type:%u section_id:%u offset:%x", {rec.type, rec.section, rec.offset});
  Print_Err(detail);
}
