// ELF32 and ELF64 relocatable objects: one writer, one row per class.
//
// Section numbers: 0 null, 1 .strtab (section and symbol names), 2 .symtab,
// then per program section i the section at 2i+3 and its relocation section
// (".rel"/".rela" + name, present even when empty) at 2i+4. The file holds
// the header, the section header table, the string table, the symbol table,
// then per section its bytes and its relocations, with no padding between.
#include "core/cmdline.h"
#include "core/diag.h"
#include "output/byte_sink.h"
#include "output/obj_symbols.h"
#include "output/output.h"
#include "output/relocs.h"
#include "output/sections.h"

namespace {

constexpr uint32_t Sht_Progbits = 1, Sht_Symtab = 2, Sht_Strtab = 3, Sht_Rela = 4, Sht_Nobits = 8, Sht_Rel = 9;
constexpr uint32_t Shf_Write = 1, Shf_Alloc = 2, Shf_Execinstr = 4;
constexpr uint32_t Shn_Abs = 0xFFF1;
// st_info: binding and type
constexpr uint32_t Info_Global_Notype = 0x10, Info_Global_Func = 0x12, Info_Local_Section = 3;

// A relocation as the file holds it; `skip` when no entry is written.
struct Elf_Reloc {
  uint32_t type = 0;
  uint32_t symbol = 0;
  uint32_t width = 4;   // bytes of the field (8 for a 64-bit address)
  bool skip = false;
};

struct Elf_Format {
  const char* prefix;  // in messages
  bool is64;
  uint16_t machine;
  const char* rel_name;   // ".rel" or ".rela"
  uint32_t rel_entsize;
  // Maps a record; `section_symbol` is the target section's symbol and
  // `import_symbol` the import's (types 1 and 2). Reports what it cannot map.
  Elf_Reloc (*map)(const Reloc_Record& rec, uint32_t section_symbol, uint32_t import_symbol);
};

constexpr uint32_t R_386_32 = 1, R_386_PC32 = 2;
constexpr uint32_t R_X86_64_64 = 1, R_X86_64_PC32 = 2, R_X86_64_32 = 10, R_X86_64_32S = 11;

Elf_Reloc Map_Elf32(const Reloc_Record& rec, uint32_t section_symbol, uint32_t import_symbol) {
  switch (rec.type) {
    case Reloc_Abs32: return {R_386_32, section_symbol};
    case Reloc_Iat_Slot: return {R_386_32, import_symbol};  // the thunk's field is the slot's address
    case Reloc_Extern_Rel: return {R_386_PC32, import_symbol};
    case Reloc_Rel32: return {R_386_PC32, section_symbol};
    case Reloc_Abs64: return {R_386_32, section_symbol};  // the low dword; the high one stays 0
    default:
      Obj_Report_Reloc("ELF", rec);
      return {0, 0, 4, true};
  }
}

Elf_Reloc Map_Elf64(const Reloc_Record& rec, uint32_t section_symbol, uint32_t import_symbol) {
  switch (rec.type) {
    // A 32-bit field of an instruction is sign-extended to 64 bits; a dword
    // of data is read as it stands.
    case Reloc_Abs32: return {rec.zero_extended ? R_X86_64_32 : R_X86_64_32S, section_symbol};
    case Reloc_Iat_Slot: case Reloc_Extern_Rel: return {R_X86_64_PC32, import_symbol};
    case Reloc_Rel32: return {R_X86_64_PC32, section_symbol};
    case Reloc_Abs64: return {R_X86_64_64, section_symbol, 8};
    default:
      Obj_Report_Reloc("ELF64", rec);
      return {0, 0, 0};  // an entry of zeros keeps its place
  }
}

const Elf_Format Elf32_Format = {"ELF", false, 3, ".rel", 8, Map_Elf32};
const Elf_Format Elf64_Format = {"ELF64", true, 62, ".rela", 24, Map_Elf64};

// Words whose width follows the class.
void Word(Byte_Sink& s, const Elf_Format& f, uint64_t v) {
  if (f.is64) s.U64(v);
  else s.U32(static_cast<uint32_t>(v));
}

struct Shdr {
  uint32_t name = 0, type = 0;
  uint64_t flags = 0, addr = 0, offset = 0, size = 0;
  uint32_t link = 0, info = 0;
  uint64_t addralign = 0, entsize = 0;
};

void Put_Shdr(Byte_Sink& s, const Elf_Format& f, const Shdr& h) {
  s.U32(h.name);
  s.U32(h.type);
  Word(s, f, h.flags);
  Word(s, f, h.addr);
  Word(s, f, h.offset);
  Word(s, f, h.size);
  s.U32(h.link);
  s.U32(h.info);
  Word(s, f, h.addralign);
  Word(s, f, h.entsize);
}

void Put_Sym(Byte_Sink& s, const Elf_Format& f, uint32_t name, uint64_t value, uint64_t size, uint32_t info,
             uint32_t shndx) {
  s.U32(name);
  if (f.is64) {
    s.U8(info);
    s.U8(0);
    s.U16(shndx);
    s.U64(value);
    s.U64(size);
  } else {
    s.U32(static_cast<uint32_t>(value));
    s.U32(static_cast<uint32_t>(size));
    s.U8(info);
    s.U8(0);
    s.U16(shndx);
  }
}

uint32_t Add_String(Byte_Sink& strings, const char* text, uint32_t length) {
  const uint32_t at = strings.size;
  strings.Append(text, length);
  strings.U8(0);
  return at;
}

void Write_Elf(const Elf_Format& f) {
  Section_State& ss = Sections;
  const auto count = static_cast<uint32_t>(ss.Section_Count + 1);
  const uint32_t shnum = 2 * count + 3;
  const uint32_t ehsize = f.is64 ? 64 : 52, shentsize = f.is64 ? 64 : 40, symsize = f.is64 ? 24 : 16;
  const uint32_t rel_prefix = f.is64 ? 5 : 4;  // bytes of ".rel"/".rela" before the section's own name

  Obj_Globals globals;
  globals.Build(Order_Entry_Exports_Imports);
  if (Options.Debug_Info) globals.Add_Procs();

  // String table.
  Byte_Sink strings;
  strings.U8(0);
  Add_String(strings, ".strtab", 7);
  Add_String(strings, ".symtab", 7);
  std::vector<uint32_t> section_name(count);
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t length = 0;
    const char* name = Obj_Section_Name(ss.Section_Table[i], &length);
    section_name[i] = strings.size;
    strings.Append(f.rel_name, rel_prefix);
    Add_String(strings, name, length);
    ss.Section_Table[i].elf_name_offset = section_name[i];
  }
  std::vector<uint32_t> global_name(globals.list.size());
  for (size_t g = 0; g < globals.list.size(); ++g)
    global_name[g] = Add_String(strings, globals.list[g].name, globals.list[g].length);

  // Symbol table: null, one per section, then the globals.
  Byte_Sink symbols;
  Put_Sym(symbols, f, 0, 0, 0, 0, 0);
  for (uint32_t i = 0; i < count; ++i)
    Put_Sym(symbols, f, section_name[i] + rel_prefix, 0, 0, Info_Local_Section, 2 * i + 3);
  const uint32_t first_global = count + 1;
  for (size_t g = 0; g < globals.list.size(); ++g) {
    const Obj_Global& s = globals.list[g];
    uint32_t shndx = s.section == Obj_Undefined ? 0 : Shn_Abs;
    if (s.section >= 0) shndx = 2 * static_cast<uint32_t>(s.section) + 3;
    uint32_t info = s.function && s.section >= 0 ? Info_Global_Func : Info_Global_Notype;
    Put_Sym(symbols, f, global_name[g], s.value, s.size, info, shndx);
  }

  // Relocations of each section; a RELA entry takes the addend out of its field.
  std::vector<Byte_Sink> rels(count);
  for (uint32_t i = 0; i < count; ++i) {
    Section_Record& r = ss.Section_Table[i];
    for (const Reloc_Record* rec : Obj_Section_Relocs(i)) {
      uint32_t import_symbol = 0;
      if (rec->type == Reloc_Iat_Slot || rec->type == Reloc_Extern_Rel) {
        const size_t index = rec->import_index;
        if (index < globals.import_symbol.size() && globals.import_symbol[index] >= 0)
          import_symbol = first_global + static_cast<uint32_t>(globals.import_symbol[index]);
      }
      const uint32_t section_symbol = rec->target_section < count ? rec->target_section + 1 : 0;
      Elf_Reloc m = f.map(*rec, section_symbol, import_symbol);
      if (m.skip) continue;
      Byte_Sink& out = rels[i];
      if (!f.is64) {
        out.U32(rec->offset);
        out.U32(m.symbol << 8 | m.type);
        continue;
      }
      if (m.type == 0) {  // reported: a zero entry
        out.Append_Zero(f.rel_entsize);
        continue;
      }
      out.U64(rec->offset);
      out.U64(static_cast<uint64_t>(m.symbol) << 32 | m.type);
      uint64_t field = 0;
      if (Obj_Field_Read(r, rec->offset, m.width, &field)) {
        if (m.width == 4) field = static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(field)));
        Obj_Field_Clear(r, rec->offset, m.width);
      }
      out.U64(field);
    }
  }

  // Offsets.
  uint64_t at = ehsize + static_cast<uint64_t>(shentsize) * shnum;
  const uint64_t strtab_at = at;
  at += strings.size;
  const uint64_t symtab_at = at;
  at += symbols.size;
  std::vector<uint64_t> data_at(count), rel_at(count);
  for (uint32_t i = 0; i < count; ++i) {
    const Section_Record& r = ss.Section_Table[i];
    data_at[i] = at;
    if (r.section_class != Class_Bss) at += r.out;
    rel_at[i] = at;
    at += rels[i].size;
  }
  if (at > 0xFFFFFFFFu) {
    Error_Plain(f.is64 ? "ELF64: not enough memory for output\r\n" : "ELF: not enough memory for output\r\n");
    return;
  }

  // Header and section headers.
  Byte_Sink head;
  const uint8_t ident[16] = {0x7F, 'E', 'L', 'F', static_cast<uint8_t>(f.is64 ? 2 : 1), 1, 1};
  head.Append(ident, 16);
  head.U16(1);  // ET_REL
  head.U16(f.machine);
  head.U32(1);
  Word(head, f, 0);        // e_entry
  Word(head, f, 0);        // e_phoff
  Word(head, f, ehsize);   // e_shoff
  head.U32(0);
  head.U16(ehsize);
  head.U16(0);
  head.U16(0);
  head.U16(shentsize);
  head.U16(shnum);
  head.U16(1);  // e_shstrndx

  Put_Shdr(head, f, Shdr{});
  Shdr strtab;
  strtab.name = 1, strtab.type = Sht_Strtab, strtab.offset = strtab_at, strtab.size = strings.size;
  Put_Shdr(head, f, strtab);
  Shdr symtab;
  symtab.name = 9, symtab.type = Sht_Symtab, symtab.offset = symtab_at, symtab.size = symbols.size;
  symtab.link = 1, symtab.info = first_global, symtab.addralign = 4, symtab.entsize = symsize;
  Put_Shdr(head, f, symtab);
  for (uint32_t i = 0; i < count; ++i) {
    const Section_Record& r = ss.Section_Table[i];
    Shdr h;
    h.name = section_name[i] + rel_prefix;
    h.type = r.section_class == Class_Bss ? Sht_Nobits : Sht_Progbits;
    h.flags = Shf_Alloc;
    if (r.section_class == Class_Code) h.flags |= Shf_Execinstr;
    if (r.section_class == Class_Data || r.section_class == Class_Bss) h.flags |= Shf_Write;
    h.offset = data_at[i];
    h.size = r.out;
    h.addralign = Obj_Section_Alignment(r, 4, 0x80000000u);
    Put_Shdr(head, f, h);
    Shdr rel;
    rel.name = section_name[i];
    rel.type = f.is64 ? Sht_Rela : Sht_Rel;
    rel.offset = rel_at[i];
    rel.size = rels[i].size;
    rel.link = 2;
    rel.info = 2 * i + 3;
    rel.addralign = 4;
    rel.entsize = f.rel_entsize;
    Put_Shdr(head, f, rel);
  }

  std::vector<Obj_Piece> pieces = {{&head, nullptr}, {&strings, nullptr}, {&symbols, nullptr}};
  for (uint32_t i = 0; i < count; ++i) {
    if (ss.Section_Table[i].section_class != Class_Bss) pieces.push_back({nullptr, &ss.Section_Table[i]});
    pieces.push_back({&rels[i], nullptr});
  }
  Obj_Write_File(f.prefix, pieces);
}

}  // namespace

void Output_ELF32() { Write_Elf(Elf32_Format); }
void Output_ELF64() { Write_Elf(Elf64_Format); }
