// OMF32 object modules: 32-bit records for a linker that places every
// segment in one flat group.
//
// Record order: THEADR; LNAMES of each section's name and class; SEGDEF32
// per section; LNAMES "FLAT" and its GRPDEF; EXTDEF per import record; per
// section its LEDATA32 records of at most 1 KiB, each followed by the
// FIXUPP32 records of the fields it holds; PUBDEF32 per defined global;
// MODEND32. One name per LNAMES and EXTDEF record, one FIXUP per FIXUPP
// record, every checksum 0 (not computed). Every FIXUP takes its frame from
// FLAT (F1, group 1) and its target from a segment or an external; the
// field holds the displacement.
#include <algorithm>

#include "core/cmdline.h"
#include "core/diag.h"
#include "core/text.h"
#include "directives/imports.h"
#include "output/byte_sink.h"
#include "output/obj_symbols.h"
#include "output/output.h"
#include "output/relocs.h"
#include "output/sections.h"

namespace {

constexpr uint32_t Rec_Theadr = 0x80, Rec_Modend32 = 0x8B, Rec_Extdef = 0x8C, Rec_Pubdef32 = 0x91,
                   Rec_Lnames = 0x96, Rec_Segdef32 = 0x99, Rec_Grpdef = 0x9A, Rec_Fixupp32 = 0x9D,
                   Rec_Ledata32 = 0xA1;
constexpr uint32_t Ledata_Max = 1024;  // a FIXUP's offset in its record has 10 bits
constexpr uint32_t Index_Max = 0x7FFF;  // the two-byte index form
constexpr uint32_t Name_Max = 255;
constexpr uint32_t Flat_Group = 1;
constexpr uint32_t Field_Bytes = 4;  // every fixup is a 32-bit offset (location type 9)
// Fix data: frame F1 (a group), target T4 (segment) or T6 (external), the
// displacement in the field. End data: F1 with T0 (segment) or T1 (group)
// and a displacement.
constexpr uint32_t Fix_Segment = 0x14, Fix_External = 0x16, End_Segment = 0x10, End_Group = 0x11;

const char* const Class_Names[] = {"CODE", "DATA", ".bss", ".idata", ".rsrc", ".edata", ".reloc", ".tls"};

struct Records {
  Byte_Sink out;
  uint32_t start = 0;

  void Begin(uint32_t type) {
    start = out.size;
    out.U8(type);
    out.U16(0);
  }
  void End() {
    out.U8(0);
    out.Patch_U16(start + 1, out.size - start - 3);
  }
  void Index(uint32_t i) {
    if (i < 0x80) {
      out.U8(i);
      return;
    }
    out.U8(0x80 | i >> 8);
    out.U8(i);
  }
  void Name(const char* text, uint32_t length, const char* too_long) {
    if (length > Name_Max) {
      Error_Plain(too_long);
      length = Name_Max;
    }
    out.U8(length);
    out.Append(text, length);
  }
  void Lnames(const char* text, uint32_t length) {
    Begin(Rec_Lnames);
    Name(text, length, "OMF: LNAMES too long\r\n");
    End();
  }
};

struct Omf_Fixup {
  uint32_t offset;  // in the section
  uint32_t m;       // 1 segment-relative, 0 self-relative
  uint32_t fix_data;
  uint32_t target;  // SEGDEF or EXTDEF index
};

// The FIXUP of a relocation record; false after reporting one the module
// cannot hold.
bool Map_Omf(const Reloc_Record& rec, uint32_t sections, uint32_t externals, Omf_Fixup* f) {
  const bool segment = rec.target_section < sections, external = rec.import_index < externals;
  const uint32_t seg = rec.target_section + 1, ext = rec.import_index + 1;
  switch (rec.type) {
    case Reloc_Abs32:
    case Reloc_Abs64:  // the low dword; the high one stays 0
      if (!segment) break;
      *f = {rec.offset, 1, Fix_Segment, seg};
      return true;
    case Reloc_Iat_Slot:  // the thunk's field is the pointer's address
      if (!external) break;
      *f = {rec.offset, 1, Fix_External, ext};
      return true;
    case Reloc_Extern_Rel:
      if (!external) break;
      *f = {rec.offset, 0, Fix_External, ext};
      return true;
    case Reloc_Rel32:
      if (!segment) break;
      *f = {rec.offset, 0, Fix_Segment, seg};
      return true;
    default: break;
  }
  Obj_Report_Reloc("OMF", rec);
  return false;
}

// The fixups of a section by offset; false when one cannot be made or two
// fields share bytes.
bool Section_Fixups(uint32_t section, uint32_t externals, std::vector<Omf_Fixup>* fixups) {
  const Section_Record& r = Sections.Section_Table[section];
  const auto sections = static_cast<uint32_t>(Sections.Section_Count + 1);
  std::vector<const Reloc_Record*> records = Obj_Section_Relocs(section);
  std::stable_sort(records.begin(), records.end(),
                   [](const Reloc_Record* a, const Reloc_Record* b) { return a->offset < b->offset; });
  bool ok = true;
  uint64_t free_from = 0;
  for (const Reloc_Record* rec : records) {
    Omf_Fixup f;
    if (rec->offset < free_from || static_cast<uint64_t>(rec->offset) + Field_Bytes > r.out) {
      Obj_Report_Reloc("OMF", *rec);
      ok = false;
      continue;
    }
    free_from = static_cast<uint64_t>(rec->offset) + Field_Bytes;
    if (Map_Omf(*rec, sections, externals, &f)) fixups->push_back(f);
    else ok = false;
  }
  return ok;
}

// Bytes [from, to) of a section: zeros beyond its buffer (a trailing reserve).
void Append_Section_Bytes(Byte_Sink& s, const Section_Record& r, uint32_t from, uint32_t to) {
  const uint32_t held = std::min(to, r.capacity);
  if (from < held) s.Append(r.buffer + from, held - from);
  s.Append_Zero(to - std::max(from, held));
}

// LEDATA32 records of at most Ledata_Max bytes, each followed by the
// FIXUPP32 records of its fields (no field crosses a record's end). An
// empty section has one empty record.
void Put_Section_Data(Records& w, const Section_Record& r, const std::vector<Omf_Fixup>& fixups) {
  size_t next = 0;
  uint32_t at = 0;
  do {
    uint32_t end = r.out - at < Ledata_Max ? r.out : at + Ledata_Max;
    size_t last = next;
    while (last < fixups.size() && fixups[last].offset < end) ++last;
    if (last > next && fixups[last - 1].offset + Field_Bytes > end) end = fixups[--last].offset;
    w.Begin(Rec_Ledata32);
    w.Index(r.omf_segment_index);
    w.out.U32(at);
    Append_Section_Bytes(w.out, r, at, end);
    w.End();
    for (; next < last; ++next) {
      const Omf_Fixup& f = fixups[next];
      const uint32_t place = f.offset - at;
      w.Begin(Rec_Fixupp32);
      w.out.U8(0xA4 | f.m << 6 | (place >> 8 & 3));  // FIXUP, location type 9
      w.out.U8(place);
      w.out.U8(f.fix_data);
      w.Index(Flat_Group);
      w.Index(f.target);
      w.End();
    }
    at = end;
  } while (at < r.out);
}

// ACBP: public, use32, aligned as the section asks; 0 after reporting an
// alignment that no segment can have.
uint32_t Segment_Acbp(const Section_Record& r) {
  const uint32_t align = Obj_Section_Alignment(r, 1, 0x80000000u);
  if (align <= 4) return 0xA9;     // dword
  if (align <= 16) return 0x69;    // paragraph
  if (align <= 256) return 0x89;   // page
  if (align <= 4096) return 0xC9;  // 4 KiB page
  char text[96];
  Str_Format(text, sizeof text, "OMF: section alignment too big: %s\r\n", {r.name});
  Error_Plain(text);
  return 0;
}

void Put_Pubdef(Records& w, const Obj_Global& g) {
  w.Begin(Rec_Pubdef32);
  if (g.section == Obj_Absolute) {
    w.Index(0);  // no group, no segment: the frame number follows
    w.Index(0);
    w.out.U16(0);
  } else {
    w.Index(Flat_Group);
    w.Index(static_cast<uint32_t>(g.section) + 1);
  }
  w.Name(g.name, g.length, "OMF: PUBDEF name too long\r\n");
  w.out.U32(static_cast<uint32_t>(g.value));
  w.Index(0);  // type
  w.End();
}

void Put_Modend(Records& w) {
  const Entry_Record& e = Imports.Entry;
  w.Begin(Rec_Modend32);
  if (!e.set) {
    w.out.U8(0);  // no start address
    w.End();
    return;
  }
  const bool number = e.section < 0;
  w.out.U8(0xC1);  // main module with a start address
  w.out.U8(number ? End_Group : End_Segment);
  w.Index(Flat_Group);
  w.Index(number ? Flat_Group : static_cast<uint32_t>(e.section) + 1);
  w.out.U32(static_cast<uint32_t>(e.value));
  w.End();
}

}  // namespace

void Output_OMF32() {
  Section_State& ss = Sections;
  const auto count = static_cast<uint32_t>(ss.Section_Count + 1);
  const auto externals = static_cast<uint32_t>(Import_Func_Count() + 1);
  if (externals > Index_Max) {
    Error_Plain("OMF: too many EXTDEF names\r\n");
    return;
  }
  bool ok = true;
  std::vector<std::vector<Omf_Fixup>> fixups(count);
  for (uint32_t i = 0; i < count; ++i) ok = Section_Fixups(i, externals, &fixups[i]) && ok;
  std::vector<uint32_t> acbp(count);
  for (uint32_t i = 0; i < count; ++i) {
    acbp[i] = Segment_Acbp(ss.Section_Table[i]);
    if (acbp[i] == 0) ok = false;
    if (ss.Section_Table[i].section_class >= sizeof Class_Names / sizeof Class_Names[0]) {
      Error_Plain("OMF: unknown section class name\r\n");
      ok = false;
    }
  }
  if (!ok) return;

  Records w;
  w.Begin(Rec_Theadr);
  w.Name(Input_File_Name(), Str_Len(Input_File_Name()), "OMF: filname too long\r\n");
  w.End();

  uint32_t lnames = 0;
  for (uint32_t i = 0; i < count; ++i) {
    Section_Record& r = ss.Section_Table[i];
    uint32_t length = 0;
    const char* name = Obj_Section_Name(r, &length);
    w.Lnames(name, length);
    r.omf_name_index = ++lnames;
    const char* class_name = Class_Names[r.section_class];
    w.Lnames(class_name, Str_Len(class_name));
    ++lnames;
  }
  for (uint32_t i = 0; i < count; ++i) {
    Section_Record& r = ss.Section_Table[i];
    r.omf_segment_index = i + 1;
    w.Begin(Rec_Segdef32);
    w.out.U8(acbp[i]);
    w.out.U32(r.out);
    w.Index(r.omf_name_index);
    w.Index(r.omf_name_index + 1);  // the class
    w.Index(0);                     // no overlay
    w.End();
  }
  w.Lnames("FLAT", 4);
  w.Begin(Rec_Grpdef);
  w.Index(++lnames);
  w.End();

  for (uint32_t i = 0; i < externals; ++i) {
    const Import_Function_Record& f = Import_Func_At(static_cast<int32_t>(i));
    w.Begin(Rec_Extdef);
    if (f.alias_length) w.Name(f.alias, f.alias_length, "OMF: EXTDEF name too long\r\n");
    else w.Name(f.name, f.name_length, "OMF: EXTDEF name too long\r\n");
    w.Index(0);  // type
    w.End();
  }

  for (uint32_t i = 0; i < count; ++i) Put_Section_Data(w, ss.Section_Table[i], fixups[i]);

  Obj_Globals globals;
  globals.Build(Order_Entry_Exports_Imports);
  for (const Obj_Global& g : globals.list)
    if (g.section != Obj_Undefined) Put_Pubdef(w, g);
  Put_Modend(w);

  Obj_Write_File("OMF", {{&w.out, nullptr}});
}
