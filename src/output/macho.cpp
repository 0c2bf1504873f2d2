// Mach-O relocatable objects for i386 (MH_OBJECT).
//
// The file holds the mach_header, one LC_SEGMENT with a section header per
// section, LC_SYMTAB and LC_DYSYMTAB, then every section's bytes (bss
// included), the string table, the nlist symbols, the relocations of each
// section and 16 zero bytes, with no padding between. Sections keep the
// addresses of their layout (4 KiB apart from 0): a relocated field holds
// what it refers to in that layout, and the linker corrects it by how far
// the sections move.
#include "core/diag.h"
#include "output/byte_sink.h"
#include "output/obj_symbols.h"
#include "output/output.h"
#include "output/relocs.h"
#include "output/sections.h"

namespace {

constexpr uint32_t Header_Bytes = 28, Segment_Bytes = 56, Section_Bytes = 68, Symtab_Bytes = 24,
                   Dysymtab_Bytes = 80, Name_Field = 16;
constexpr uint32_t Lc_Segment = 1, Lc_Symtab = 2, Lc_Dysymtab = 0x0B;
constexpr uint32_t Code_Flags = 0x08000400;  // S_ATTR_LIVE_SUPPORT | S_ATTR_SOME_INSTRUCTIONS
// n_type
constexpr uint32_t N_Undf_Ext = 0x01, N_Abs_Ext = 0x03, N_Sect = 0x0E, N_Sect_Ext = 0x0F;
constexpr uint32_t Section_Desc = 3;
// Above 4 KiB a section's alignment would not hold at its place in the object.
constexpr uint32_t Max_Alignment = 0x1000;

// The second word of a relocation_info: r_symbolnum (24 bits), r_pcrel,
// r_length (2: four bytes), r_extern, r_type 0 (GENERIC_RELOC_VANILLA).
constexpr uint32_t R_Pcrel = 0x01000000, R_Length4 = 0x04000000, R_Extern = 0x08000000;

// `ordinal` is the target section's number (from 1), `import_symbol` the
// import's symbol index (types 1 and 2). Reports what it cannot map.
bool Map_Macho(const Reloc_Record& rec, uint32_t ordinal, uint32_t import_symbol, uint32_t* info) {
  switch (rec.type) {
    case Reloc_Abs32: case Reloc_Abs64: *info = R_Length4 | ordinal; return true;  // Abs64: the low dword
    case Reloc_Iat_Slot: *info = R_Extern | R_Length4 | import_symbol; return true;
    case Reloc_Extern_Rel: *info = R_Extern | R_Pcrel | R_Length4 | import_symbol; return true;
    case Reloc_Rel32: *info = R_Pcrel | R_Length4 | ordinal; return true;
    default:
      Obj_Report_Reloc("MAC", rec);
      return false;
  }
}

void Put_Name16(Byte_Sink& s, const char* text, uint32_t length) {
  char field[Name_Field] = {};
  for (uint32_t i = 0; i < length && i < Name_Field; ++i) field[i] = text[i];
  s.Append(field, Name_Field);
}

void Put_Nlist(Byte_Sink& s, uint32_t strx, uint32_t type, uint32_t sect, uint32_t desc, uint32_t value) {
  s.U32(strx);
  s.U8(type);
  s.U8(sect);
  s.U16(desc);
  s.U32(value);
}

uint32_t Log2(uint32_t n) {
  uint32_t log = 0;
  while ((1u << log) < n) ++log;
  return log;
}

}  // namespace

void Output_MachO32() {
  Section_State& ss = Sections;
  const auto count = static_cast<uint32_t>(ss.Section_Count + 1);

  Obj_Globals globals;
  globals.Build(Order_Entry_Exports_Imports);
  // The defined globals first, then the undefined ones, each in table order.
  std::vector<size_t> order;
  for (size_t g = 0; g < globals.list.size(); ++g)
    if (globals.list[g].section != Obj_Undefined) order.push_back(g);
  const auto defined = static_cast<uint32_t>(order.size());
  for (size_t g = 0; g < globals.list.size(); ++g)
    if (globals.list[g].section == Obj_Undefined) order.push_back(g);
  std::vector<uint32_t> symbol_of(globals.list.size());
  for (uint32_t k = 0; k < order.size(); ++k) symbol_of[order[k]] = count + k;
  const uint32_t symbol_count = count + static_cast<uint32_t>(order.size());
  if (symbol_count > 0xFFFFFF) {  // what r_symbolnum can name
    Error_Plain("MAC: too many symbols\r\n");
    return;
  }

  // Strings and symbols: the sections, then the globals.
  Byte_Sink strings, symbols;
  strings.U8(0);
  auto add_string = [&strings](const char* text, uint32_t length) {
    const uint32_t at = strings.size;
    strings.Append(text, length);
    strings.U8(0);
    return at;
  };
  for (uint32_t i = 0; i < count; ++i) {
    Section_Record& r = ss.Section_Table[i];
    r.macho_string_offset = add_string(r.name, r.name_length);
    r.macho_symbol_index = i;
    Put_Nlist(symbols, r.macho_string_offset, N_Sect, i + 1, Section_Desc, r.address);
  }
  for (size_t g : order) {
    const Obj_Global& s = globals.list[g];
    const uint32_t strx = add_string(s.name, s.length), value = static_cast<uint32_t>(s.value);
    if (s.section == Obj_Undefined) Put_Nlist(symbols, strx, N_Undf_Ext, 0, 0, 0);
    else if (s.section == Obj_Absolute) Put_Nlist(symbols, strx, N_Abs_Ext, 0, 0, value);
    else Put_Nlist(symbols, strx, N_Sect_Ext, static_cast<uint32_t>(s.section) + 1, 0, value);
  }

  // Relocations of each section.
  bool refused = false;
  std::vector<Byte_Sink> rels(count);
  for (uint32_t i = 0; i < count; ++i) {
    for (const Reloc_Record* rec : Obj_Section_Relocs(i)) {
      uint32_t import_symbol = 0;
      if (rec->type == Reloc_Iat_Slot || rec->type == Reloc_Extern_Rel) {
        const size_t index = rec->import_index;
        if (index < globals.import_symbol.size() && globals.import_symbol[index] >= 0)
          import_symbol = symbol_of[static_cast<size_t>(globals.import_symbol[index])];
      }
      const uint32_t ordinal = rec->target_section < count ? rec->target_section + 1 : 0;
      uint32_t info = 0;
      if (!Map_Macho(*rec, ordinal, import_symbol, &info)) {
        refused = true;
        continue;
      }
      rels[i].U32(rec->offset);
      rels[i].U32(info);
    }
  }
  if (refused) return;  // a field the object cannot describe: no file

  // Offsets.
  const uint32_t commands = Segment_Bytes + Section_Bytes * count + Symtab_Bytes + Dysymtab_Bytes;
  uint64_t at = Header_Bytes + commands;
  const uint64_t data_at = at;
  std::vector<uint64_t> section_at(count), rel_at(count);
  uint64_t vm_end = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const Section_Record& r = ss.Section_Table[i];
    section_at[i] = at;
    at += r.out;
    const uint64_t end = static_cast<uint64_t>(r.address) + r.out;
    if (end > vm_end) vm_end = end;
  }
  const uint64_t data_bytes = at - data_at;
  const uint64_t strings_at = at;
  at += strings.size;
  const uint64_t symbols_at = at;
  at += symbols.size;
  for (uint32_t i = 0; i < count; ++i) {
    rel_at[i] = at;
    at += rels[i].size;
  }
  if (at + Name_Field > 0xFFFFFFFFu || vm_end > 0xFFFFFFFFu) {
    Error_Plain("MAC: not enough memory for output\r\n");
    return;
  }

  // The header and the load commands.
  Byte_Sink head;
  head.U32(0xFEEDFACE);
  head.U32(7);  // CPU_TYPE_X86
  head.U32(3);  // CPU_SUBTYPE_I386_ALL
  head.U32(1);  // MH_OBJECT
  head.U32(3);
  head.U32(commands);
  head.U32(0);

  head.U32(Lc_Segment);
  head.U32(Segment_Bytes + Section_Bytes * count);
  Put_Name16(head, "__TEXT", 6);
  head.U32(0);  // vmaddr
  head.U32(static_cast<uint32_t>(vm_end));
  head.U32(static_cast<uint32_t>(data_at));
  head.U32(static_cast<uint32_t>(data_bytes));
  head.U32(7);  // maxprot: rwx
  head.U32(7);  // initprot
  head.U32(count);
  head.U32(0);
  for (uint32_t i = 0; i < count; ++i) {
    const Section_Record& r = ss.Section_Table[i];
    const bool code = r.section_class == Class_Code;
    Put_Name16(head, r.name, r.name_length);
    Put_Name16(head, code ? "__TEXT" : "__DATA", 6);
    head.U32(r.address);
    head.U32(r.out);
    head.U32(static_cast<uint32_t>(section_at[i]));
    head.U32(Log2(Obj_Section_Alignment(r, 4, Max_Alignment, "MAC")));
    const uint32_t nreloc = rels[i].size / 8;
    head.U32(nreloc ? static_cast<uint32_t>(rel_at[i]) : 0);
    head.U32(nreloc);
    head.U32(code ? Code_Flags : 0);
    head.U32(0);
    head.U32(0);
  }

  head.U32(Lc_Symtab);
  head.U32(Symtab_Bytes);
  head.U32(static_cast<uint32_t>(symbols_at));
  head.U32(symbol_count);
  head.U32(static_cast<uint32_t>(strings_at));
  head.U32(strings.size);

  head.U32(Lc_Dysymtab);
  head.U32(Dysymtab_Bytes);
  head.U32(0);  // ilocalsym
  head.U32(count);
  head.U32(count);  // iextdefsym
  head.U32(defined);
  head.U32(count + defined);  // iundefsym
  head.U32(symbol_count - count - defined);
  head.Append_Zero(Dysymtab_Bytes - 32);

  Byte_Sink tail;
  tail.Append_Zero(Name_Field);

  std::vector<Obj_Piece> pieces = {{&head, nullptr}};
  for (uint32_t i = 0; i < count; ++i) pieces.push_back({nullptr, &ss.Section_Table[i]});
  pieces.push_back({&strings, nullptr});
  pieces.push_back({&symbols, nullptr});
  for (uint32_t i = 0; i < count; ++i) pieces.push_back({&rels[i], nullptr});
  pieces.push_back({&tail, nullptr});
  Obj_Write_File("MAC", pieces);
}
