// COFF objects for i386 and AMD64: one writer, one row per machine.
//
// The file holds the file header, the section table, per section its bytes
// and its relocations, then the symbol table and the string table. Every
// symbol name lives in the string table (coff_symbols.cpp); a section name
// over 8 bytes is written as "/offset" into it.
#include "core/cmdline.h"
#include "core/diag.h"
#include "core/text.h"
#include "output/byte_sink.h"
#include "output/coff_symbols.h"
#include "output/obj_symbols.h"
#include "output/output.h"
#include "output/relocs.h"
#include "output/sections.h"

namespace {

constexpr uint32_t Header_Bytes = 20, Section_Header_Bytes = 40, Reloc_Bytes = 10;
constexpr uint32_t Scn_Nreloc_Ovfl = 0x01000000;
constexpr uint32_t Max_Short_Relocs = 0xFFFF;

// A relocation type, or `skip` after a reported record (no entry, no file).
struct Coff_Reloc {
  uint32_t type;
  bool import;  // against the import's symbol, not the target section's
  bool skip;
};

struct Coff_Format {
  uint16_t machine;
  Coff_Reloc (*map)(const Reloc_Record& rec);
};

Coff_Reloc Map_Coff32(const Reloc_Record& rec) {
  switch (rec.type) {
    case Reloc_Abs32: return {6, false, false};    // DIR32
    case Reloc_Iat_Slot: return {6, true, false};  // the thunk's field is the slot's address
    case Reloc_Extern_Rel: return {20, true, false};  // REL32
    case Reloc_Rel32: return {20, false, false};
    case Reloc_Rva32: return {7, false, false};    // DIR32NB
    default:
      Obj_Report_Reloc("COFF", rec);
      return {0, false, true};
  }
}

Coff_Reloc Map_Coff64(const Reloc_Record& rec) {
  switch (rec.type) {
    case Reloc_Abs32: return {2, false, false};       // ADDR32
    case Reloc_Iat_Slot: return {4, true, false};     // the thunk's field is RIP-relative: REL32
    case Reloc_Extern_Rel: return {4, true, false};
    case Reloc_Rel32: return {4, false, false};
    case Reloc_Rva32: return {3, false, false};       // ADDR32NB
    case Reloc_Abs64: return {1, false, false};       // ADDR64
    default:
      Obj_Report_Reloc("COFF", rec);
      return {0, false, true};
  }
}

const Coff_Format Coff32_Format = {0x14C, Map_Coff32};
const Coff_Format Coff64_Format = {0x8664, Map_Coff64};

// IMAGE_SCN_ALIGN_nBYTES for n = the section's recorded alignment, 16 to 8192.
uint32_t Align_Flag(const Section_Record& r) {
  uint32_t n = Obj_Section_Alignment(r, 16, 8192, "COFF"), log = 0;
  while ((1u << log) < n) ++log;
  return (log + 1) << 20;
}

void Write_Coff(const Coff_Format& f) {
  Section_State& ss = Sections;
  const auto count = static_cast<uint32_t>(ss.Section_Count + 1);

  Obj_Globals globals;
  globals.Build(Order_Entry_Imports_Exports);

  Coff_Symbol_Table table;
  Coff_Build_Symbols(table, globals, {false, Options.Debug_Info});

  // Relocations of each section.
  bool refused = false;
  std::vector<Byte_Sink> rels(count);
  std::vector<uint32_t> rel_count(count);
  for (uint32_t i = 0; i < count; ++i) {
    std::vector<const Reloc_Record*> records = Obj_Section_Relocs(i);
    Byte_Sink& out = rels[i];
    if (records.size() > Max_Short_Relocs) out.Append_Zero(Reloc_Bytes);  // the count goes here
    for (const Reloc_Record* rec : records) {
      Coff_Reloc m = f.map(*rec);
      if (m.skip) {
        refused = true;
        continue;
      }
      uint32_t symbol = table.first_section + (rec->target_section < count ? rec->target_section : 0);
      if (m.import) {
        const size_t index = rec->import_index;
        const int32_t global = index < globals.import_symbol.size() ? globals.import_symbol[index] : -1;
        symbol = global >= 0 ? static_cast<uint32_t>(table.global_symbol[static_cast<size_t>(global)]) : 0;
      }
      out.U32(rec->offset);
      out.U32(symbol);
      out.U16(m.type);
    }
    rel_count[i] = out.size / Reloc_Bytes;
    if (records.size() > Max_Short_Relocs) out.Patch_U32(0, rel_count[i]);
  }
  if (refused) return;  // a field the object cannot describe: no file

  // Offsets, then the header and the section table.
  uint64_t at = Header_Bytes + static_cast<uint64_t>(Section_Header_Bytes) * count;
  Byte_Sink head;
  head.U16(f.machine);
  head.U16(count);
  head.U32(0);  // TimeDateStamp
  const uint32_t symbol_table_field = head.size;
  head.U32(0);
  head.U32(table.count);
  head.U16(0);  // no optional header
  head.U16(0);
  for (uint32_t i = 0; i < count; ++i) {
    const Section_Record& r = ss.Section_Table[i];
    uint32_t length = 0;
    const char* name = Obj_Section_Name(r, &length);
    char field[8] = {};
    if (length <= 8) {
      for (uint32_t k = 0; k < length; ++k) field[k] = name[k];
    } else {
      char digits[12];
      field[0] = '/';
      uint32_t n = Str_From_Uint(digits, table.section_string[i]);
      for (uint32_t k = 0; k < n && k < 7; ++k) field[k + 1] = digits[k];
    }
    head.Append(field, 8);
    head.U32(0);  // VirtualSize
    head.U32(0);  // VirtualAddress
    head.U32(r.out);
    const bool bss = r.section_class == Class_Bss;
    head.U32(bss || r.out == 0 ? 0 : static_cast<uint32_t>(at));
    if (!bss) at += r.out;
    head.U32(rel_count[i] ? static_cast<uint32_t>(at) : 0);
    at += rels[i].size;
    head.U32(0);  // PointerToLinenumbers
    head.U16(rel_count[i] > Max_Short_Relocs ? Max_Short_Relocs : rel_count[i]);
    head.U16(0);
    uint32_t characteristics = r.characteristics | Align_Flag(r);
    if (rel_count[i] > Max_Short_Relocs) characteristics |= Scn_Nreloc_Ovfl;
    head.U32(characteristics);
  }
  if (at + table.symbols.size + table.strings.size > 0xFFFFFFFFu) {
    Error_Plain("COFF: not enough memory for output\r\n");
    return;
  }
  head.Patch_U32(symbol_table_field, static_cast<uint32_t>(at));

  std::vector<Obj_Piece> pieces = {{&head, nullptr}};
  for (uint32_t i = 0; i < count; ++i) {
    if (ss.Section_Table[i].section_class != Class_Bss) pieces.push_back({nullptr, &ss.Section_Table[i]});
    pieces.push_back({&rels[i], nullptr});
  }
  pieces.push_back({&table.symbols, nullptr});
  pieces.push_back({&table.strings, nullptr});
  Obj_Write_File("COFF", pieces);
}

}  // namespace

void Output_COFF32() { Write_Coff(Coff32_Format); }
void Output_COFF64() { Write_Coff(Coff64_Format); }
