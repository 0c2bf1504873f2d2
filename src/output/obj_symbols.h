// What the object writers (ELF, COFF) share: the global symbols of an
// object (entry, exports, used imports) with one symbol per name, the
// relocation records of one section, the section bytes and the file write.
#pragma once
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "output/byte_sink.h"

struct Reloc_Record;
struct Section_Record;

constexpr int32_t Obj_Absolute = -1;   // a number, not an address in a section
constexpr int32_t Obj_Undefined = -2;  // resolved by the linker

struct Obj_Global {
  const char* name;
  uint32_t length;
  uint64_t value;
  int32_t section;  // section index, Obj_Absolute or Obj_Undefined
  bool function;
  uint32_t size;
};

enum Obj_Global_Order : uint32_t {
  Order_Entry_Exports_Imports,  // ELF
  Order_Entry_Imports_Exports,  // COFF
  Order_Imports_Exports,        // the debug symbols of a PE32 image
};

// The globals of the object in the format's order. A name given twice (an
// entry that is also exported, an import and an export of one name) is one
// symbol; a definition wins over an undefined reference.
struct Obj_Globals {
  std::vector<Obj_Global> list;
  std::vector<int32_t> import_symbol;  // per import function: index in `list`, -1 when unused
  std::unordered_map<std::string, int32_t> by_name;

  void Build(Obj_Global_Order order);
  // With -dbg: every PROC as a function symbol (a name already given stays one symbol).
  void Add_Procs();
  int32_t Add(const Obj_Global& g);
};

// The relocation records of section `section`, in table order.
std::vector<const Reloc_Record*> Obj_Section_Relocs(uint32_t section);

// A section's name as the object shows it: its output name when one was set.
const char* Obj_Section_Name(const Section_Record& r, uint32_t* length);

// Reads / overwrites a little-endian field of `width` bytes in a section's
// buffer; false when the field lies outside what the buffer holds.
bool Obj_Field_Read(const Section_Record& r, uint32_t offset, uint32_t width, uint64_t* value);
void Obj_Field_Clear(Section_Record& r, uint32_t offset, uint32_t width);

// The alignment a section asks of the linker: the largest power of two that
// divides its recorded alignment, at least `minimum`. One above `maximum`,
// which the format can not ask for, is reported with the format's name
// (`format`) and gives `maximum`.
uint32_t Obj_Section_Alignment(const Section_Record& r, uint32_t minimum, uint32_t maximum,
                               const char* format = nullptr);

// Writes the pieces of an object file in order: a sink's bytes, or a
// section's `out` bytes (zeros beyond its buffer). `prefix` names the
// format in the messages ("ELF", "ELF64", "COFF").
struct Obj_Piece {
  const Byte_Sink* sink;
  const Section_Record* section;
};
void Obj_Write_File(const char* prefix, const std::vector<Obj_Piece>& pieces);

// "<prefix>: unknown relocation type" and the detail line of the record.
void Obj_Report_Reloc(const char* prefix, const Reloc_Record& rec);
