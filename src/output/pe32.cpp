// PE32 writer: executables and DLLs for i386. With -dbg the image carries
// COFF debug symbols in a last section "debug": a debug directory entry
// (1Ch bytes), the COFF symbols header (20h) it points at, the symbol table
// and the string table.
#include "core/cmdline.h"
#include "core/diag.h"
#include "output/byte_sink.h"
#include "output/coff_symbols.h"
#include "output/obj_symbols.h"
#include "output/output.h"
#include "output/pe_image.h"
#include "output/sections.h"

namespace {

constexpr uint32_t Debug_Directory_Bytes = 0x1C, Symbols_Header_Bytes = 0x20;
constexpr uint32_t Debug_Characteristics = 0x40000040;
constexpr uint32_t Debug_Type_Coff = 1;

uint32_t Round_Up(uint32_t n, uint32_t step) { return (n + step - 1) & ~(step - 1); }

void Pe_Debug_Symbols_Write() {
  const Section_State& ss = Sections;
  const Section_Record& last = ss.Section_Table[ss.Section_Count];
  Obj_Globals globals;
  globals.Build(Order_Imports_Exports);
  Coff_Symbol_Table table;
  Coff_Build_Symbols(table, globals, {true, Options.Debug_Info});

  const uint32_t data = Symbols_Header_Bytes + table.symbols.size + table.strings.size;
  Byte_Sink bytes;
  bytes.Append_Zero(Debug_Directory_Bytes);
  bytes.U32(table.count);  // IMAGE_COFF_SYMBOLS_HEADER
  bytes.U32(Symbols_Header_Bytes);
  bytes.Append_Zero(Symbols_Header_Bytes - 8);
  bytes.Append(table.symbols.data, table.symbols.size);
  bytes.Append(table.strings.data, table.strings.size);
  if (table.symbols.failed || table.strings.failed || bytes.failed ||
      static_cast<uint64_t>(Debug_Directory_Bytes) + data > 0x7FFFF000u) {
    Error_Plain("PE32: not enough memory for debug symbols\r\n");
    return;
  }
  Pe_Extra_Section debug{};
  debug.name = "debug";
  debug.rva = Round_Up(last.rva + last.virtual_size, 0x1000);
  debug.raw_size = Round_Up(bytes.size, 0x200);
  debug.virtual_size = Round_Up(debug.raw_size, 0x1000);
  debug.characteristics = Debug_Characteristics;
  debug.bytes = &bytes;
  const uint32_t at = Pe_Extra_Section_Offset(Pe32_Format);
  debug.symbol_table = at + Debug_Directory_Bytes + Symbols_Header_Bytes;
  debug.symbol_count = table.count;
  // IMAGE_DEBUG_DIRECTORY: Type, SizeOfData, PointerToRawData (the symbols header).
  bytes.Patch_U32(12, Debug_Type_Coff);
  bytes.Patch_U32(16, data);
  bytes.Patch_U32(24, at + Debug_Directory_Bytes);
  Pe_Image.dir_rva[Dir_Debug_Table] = debug.rva;
  Pe_Image.dir_size[Dir_Debug_Table] = Debug_Directory_Bytes;
  Pe_Write_Image(Pe32_Format, &debug);
}

}  // namespace

void Output_PE32() {
  if (Options.Debug_Info) Pe_Debug_Symbols_Write();
  else Pe_Write_Image(Pe32_Format);
}

int PE32_Post_Pass() {
  if (Pe_Import(Pe32_Format) != 0) return -1;
  if (Pe_Export() != 0) return -1;
  Import_Thunks_Emit();
  if (Diag.Stop_Flag) return -1;
  return Pe_Base_Relocs(Pe32_Format);
}
