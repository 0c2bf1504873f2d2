// COFF symbol and string tables for the COFF writer and the PE32 debug symbols.
#include "output/coff_symbols.h"

#include <string>
#include <unordered_set>

#include "core/symbols.h"
#include "directives/proc.h"
#include "output/obj_symbols.h"
#include "output/sections.h"
#include "output/tables.h"

namespace {

constexpr uint32_t Class_External = 2, Class_Static = 3, Class_Function = 0x65, Class_File = 0x67;
constexpr uint32_t Type_Function = 0x20;
constexpr int32_t Section_Debug = -2;

}  // namespace

Coff_Symbol_Table::Coff_Symbol_Table() { strings.U32(4); }

uint32_t Coff_Symbol_Table::String(const char* text, uint32_t length) {
  const uint32_t at = strings.size;
  strings.Append(text, length);
  strings.U8(0);
  strings.Patch_U32(0, strings.size);
  return at;
}

uint32_t Coff_Symbol_Table::Add(uint32_t name, uint32_t value, int32_t section_number, uint32_t type,
                                uint32_t storage, uint32_t aux) {
  symbols.U32(0);
  symbols.U32(name);
  return Add_Fields(value, section_number, type, storage, aux);
}

uint32_t Coff_Symbol_Table::Add_Short(const char* name, uint32_t value, int32_t section_number, uint32_t type,
                                      uint32_t storage, uint32_t aux) {
  char field[8] = {};
  for (uint32_t i = 0; i < 8 && name[i]; ++i) field[i] = name[i];
  symbols.Append(field, 8);
  return Add_Fields(value, section_number, type, storage, aux);
}

uint32_t Coff_Symbol_Table::Add_Fields(uint32_t value, int32_t section_number, uint32_t type, uint32_t storage,
                                       uint32_t aux) {
  symbols.U32(value);
  symbols.U16(static_cast<uint32_t>(section_number));
  symbols.U16(type);
  symbols.U8(storage);
  symbols.U8(aux);
  return count++;
}

void Coff_Symbol_Table::Aux(std::initializer_list<std::pair<uint32_t, uint32_t>> words) {
  const uint32_t at = symbols.size;
  symbols.Append_Zero(Coff_Symbol_Bytes);
  for (const auto& [offset, value] : words) symbols.Patch_U32(at + offset, value);
  count += 1;
}

namespace {

struct Builder {
  Coff_Symbol_Table& t;
  uint32_t bias;      // subtracted from addresses: the image base in an image
  uint32_t local;     // the storage class of what is not exported
  std::unordered_set<std::string> taken;

  // A ".file" record: the name and a NUL in as many auxiliary records as they fill.
  void File(const std::string& name) {
    const auto length = static_cast<uint32_t>(name.size());
    const uint32_t aux = length / Coff_Symbol_Bytes + 1;
    t.Add_Short(".file", 0, Section_Debug, 0, Class_File, aux);
    t.symbols.Append(name.data(), length);
    t.symbols.Append_Zero(aux * Coff_Symbol_Bytes - length);
    t.count += aux;
  }

  // A plain symbol of the program, unless its name is given already.
  void Program(const std::string& name, uint32_t address, uint32_t section) {
    if (!taken.insert(name).second) return;
    t.Add(t.String(name.data(), static_cast<uint32_t>(name.size())), address - bias,
          static_cast<int32_t>(section) + 1, Type_Function, local);
  }

  // -dbg2: the function symbol, its definition record, .bf, .lf and .ef with
  // the source lines of `proc` and `endp`. Returns the function symbol.
  uint32_t Function(const std::string& name, int32_t proc, uint32_t start, uint32_t section, uint32_t storage) {
    uint32_t end = 0, first = 0, last = 0;
    Proc_Extent(proc, &end, &first, &last);
    const auto number = static_cast<int32_t>(section) + 1;
    const uint32_t index = t.Add(t.String(name.data(), static_cast<uint32_t>(name.size())), start - bias, number,
                                 Type_Function, storage, 1);
    t.Aux({{0, index + 2}, {4, end > start ? end - start : 0}});
    t.Add_Short(".bf", 0, number, 0, Class_Function, 1);
    t.Aux({{4, first}});
    t.Add_Short(".lf", 0, number, 0, Class_Function, 0);
    t.Add_Short(".ef", 0, number, 0, Class_Function, 1);
    t.Aux({{4, last}});
    return index;
  }
};

}  // namespace

void Coff_Build_Symbols(Coff_Symbol_Table& t, const Obj_Globals& globals, Coff_Table_Kind kind) {
  Section_State& ss = Sections;
  Builder b{t, kind.image ? static_cast<uint32_t>(ss.Image_Base) : 0,
            kind.image ? Class_External : Class_Static, {}};
  const bool functions = !kind.image && kind.debug == 2;

  if (kind.debug && !kind.image)
    for (uint32_t i = 0; i < File_Table_Size(); ++i) b.File(File_Table_At(i).name);

  t.first_section = t.count;
  const auto sections = static_cast<uint32_t>(ss.Section_Count + 1);
  t.section_string.resize(sections);
  for (uint32_t i = 0; i < sections; ++i) {
    Section_Record& r = ss.Section_Table[i];
    uint32_t length = 0;
    const char* name = Obj_Section_Name(r, &length);
    t.section_string[i] = t.String(name, length);
    r.coff_symbol_index = t.Add(t.section_string[i], kind.image ? r.rva : 0, static_cast<int32_t>(i + 1), 0,
                                Class_Static);
  }

  // Under -dbg2 a defined global that names a PROC is that PROC's function symbol.
  std::unordered_set<std::string> procs;
  const char* name = nullptr;
  uint32_t length = 0, address = 0, section = 0;
  if (functions)
    for (int32_t i = 0; Proc_At(i, &name, &length, &address, &section); ++i) procs.emplace(name, length);
  t.global_symbol.assign(globals.list.size(), -1);
  for (size_t g = 0; g < globals.list.size(); ++g) {
    const Obj_Global& s = globals.list[g];
    std::string key(s.name, s.length);
    b.taken.insert(key);
    if (s.section >= 0 && procs.count(key)) continue;
    int32_t number = s.section == Obj_Undefined ? 0 : s.section == Obj_Absolute ? -1 : s.section + 1;
    uint32_t value = s.section == Obj_Undefined ? 0 : static_cast<uint32_t>(s.value);
    if (s.section >= 0) value -= b.bias;
    t.global_symbol[g] = static_cast<int32_t>(t.Add(t.String(s.name, s.length), value, number, Type_Function,
                                                    Class_External));
  }
  if (!kind.debug) return;

  // A PROC's local labels as "proc.label": in an image right after the PROC,
  // in an object after all PROCs.
  auto local_labels = [&](int32_t proc, const char* proc_name, uint32_t proc_length, uint32_t proc_section) {
    const char* label = nullptr;
    uint32_t label_length = 0, label_address = 0;
    for (uint32_t k = 0; Proc_Local_Label_At(proc, k, &label, &label_length, &label_address); ++k)
      b.Program(std::string(proc_name, proc_length) + "." + std::string(label, label_length), label_address,
                proc_section);
  };
  int32_t previous = -1;  // the function symbol whose next-function field is open
  for (int32_t i = 0; Proc_At(i, &name, &length, &address, &section); ++i) {
    std::string key(name, length);
    if (!functions) {
      b.Program(key, address, section);
      if (kind.image) local_labels(i, name, length, section);
      continue;
    }
    const auto global = globals.by_name.find(key);
    const bool exported = global != globals.by_name.end() && globals.list[static_cast<size_t>(global->second)].section >= 0;
    if (!exported && !b.taken.insert(key).second) continue;
    const uint32_t index = b.Function(key, i, address, section, exported ? Class_External : b.local);
    if (exported) t.global_symbol[static_cast<size_t>(global->second)] = static_cast<int32_t>(index);
    if (previous >= 0) t.symbols.Patch_U32((static_cast<uint32_t>(previous) + 1) * Coff_Symbol_Bytes + 12, index);
    previous = static_cast<int32_t>(index);
  }
  if (!kind.image)
    for (int32_t i = 0; Proc_At(i, &name, &length, &address, &section); ++i) local_labels(i, name, length, section);
  const Symbol_Table<Label_Record>& labels = Symbols.Labels;
  for (int32_t i = 0; i <= labels.count; ++i)
    b.Program(std::string(labels.Name(i), labels.Name_Length(i)), labels[i].address, labels[i].section);
}
