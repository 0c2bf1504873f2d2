// Output dispatcher: hands the finished sections to the chosen format's writer.
#include "output/output.h"

#include "core/cmdline.h"
#include "core/diag.h"
#include "core/platform/platform.h"
#include "core/assemble.h"
#include "core/text.h"
#include "directives/imports.h"
#include "output/byte_sink.h"
#include "output/pe_image.h"
#include "output/relocs.h"
#include "output/sections.h"

Output_State Output;

namespace {

constexpr const char* Msg_Create = "Output: can not create file\r\n";
constexpr const char* Msg_Write = "Output: can not write file\r\n";

// The file being written: the target's name, or the target's with ".part".
struct Output_File_State {
  char path[Name_Slot_Size + 8] = {};
  bool created = false;
  bool in_place = false;
  bool reported = false;
};
Output_File_State Out_File;

void Report_Write_Failure() {
  if (Out_File.reported) return;
  Out_File.reported = true;
  Error_Plain(Msg_Write);
}

// After the writer: the complete file takes the target's name; a partial one
// is removed (a device written in place is left as it is).
void Output_Finish(uint32_t errors_before) {
  if (!Out_File.created) {
    // A writer that wrote its target itself: a failed write still fails the
    // run and leaves no broken file.
    if (!File_Failure()) return;
    Report_Write_Failure();
    if (File_Kind(Output_File_Name(), false) == File_Regular) File_Remove(Output_File_Name());
    return;
  }
  Out_File.created = false;
  bool ok = !File_Failure() && Diag.Error_Count == errors_before;
  if (!ok && File_Failure()) Report_Write_Failure();
  if (Out_File.in_place) return;
  if (ok && File_Rename(Out_File.path, Output_File_Name()) != 0) {
    Report_Write_Failure();
    ok = false;
  }
  if (!ok) File_Remove(Out_File.path);
}

// A run without any section leaves no older output behind.
void Output_Remove_Old() {
  if (File_Kind(Output_File_Name(), false) == File_Regular) File_Remove(Output_File_Name());
}

}  // namespace

void* Output_Create() {
  const char* target = Output_File_Name();
  const File_Kind_Value kind = File_Kind(target, false);
  Out_File.in_place = kind == File_Other;
  uint32_t n = 0;
  for (; target[n] && n < Name_Slot_Size; ++n) Out_File.path[n] = target[n];
  const char suffix[] = ".part";
  if (!Out_File.in_place)
    for (uint32_t i = 0; suffix[i]; ++i) Out_File.path[n++] = suffix[i];
  Out_File.path[n] = 0;
  File_Handle f = kind == File_Directory ? No_File : File_Create(Out_File.path);
  if (f == No_File) {
    Error_Plain(Msg_Create);
    return nullptr;
  }
  Out_File.created = true;
  return f;
}

bool Output_Close(void* handle) {
  const bool ok = File_Close(handle) == 0 && !File_Failure();
  if (!ok) Report_Write_Failure();
  return ok;
}

bool Output_File_Write(void* handle, const void* data, uint32_t n) {
  if (n == 0) return true;
  if (File_Write(handle, data, n) != 1) return false;
  Output.Output_Byte_Count += n;
  return true;
}

void Output_Write() {
  if (Sections.Section_Count < 0) {
    Output_Remove_Old();
    return;
  }
  Output.Output_Byte_Count = 0;
  Out_File = Output_File_State{};
  File_Failure_Reset();
  const uint32_t errors_before = Diag.Error_Count;
  switch (Options.Output_Format) {
    case Format_Binary: Output_Binary(); break;
    case Format_PE32: Output_PE32(); break;
    case Format_OMF32: Output_OMF32(); break;
    case Format_COFF32: Output_COFF32(); break;
    case Format_PE64: Output_PE64(); break;
    case Format_ELF32: Output_ELF32(); break;
    case Format_MachO32: Output_MachO32(); break;
    case Format_COFF64: Output_COFF64(); break;
    case Format_ELF64: Output_ELF64(); break;
    default: Error_Plain("Output: unknown format type\r\n"); break;
  }
  Output_Finish(errors_before);
}

int Output_Post_Pass() {
  switch (Options.Output_Format) {
    case Format_Binary: return 0;
    case Format_PE32: return PE32_Post_Pass();
    case Format_PE64: return PE64_Post_Pass();
    case Format_OMF32: case Format_COFF32: case Format_ELF32: case Format_MachO32: case Format_COFF64:
    case Format_ELF64:
      Import_Thunks_Emit();
      return Diag.Stop_Flag ? -1 : 0;
    default:
      Error_Plain("Output: unknown format type\r\n");
      return -1;
  }
}

void Output_File_Start() {
  Output.Thunk_Start = 0;
  Pe_Image_File_Start();
}

namespace {

// How a thunk reaches its IAT slot in each format: an absolute address in
// 32-bit formats, a RIP-relative one in 64-bit formats. Objects hold the
// addend their writer expects and get a type-1 relocation.
struct Thunk_Form {
  bool rip_relative;
  bool relocated;
  uint32_t object_field;  // the field in an object file
};

Thunk_Form Thunk_Form_Of(uint32_t format) {
  switch (format) {
    case Format_PE32: return {false, true, 0};
    case Format_PE64: return {true, false, 0};
    case Format_COFF32: case Format_ELF32: case Format_MachO32: return {false, true, 0};
    case Format_OMF32: return {false, true, 0};  // as COFF32: a fixup to the pointer's external
    case Format_COFF64: return {true, true, 0};
    case Format_ELF64: return {true, true, 0xFFFFFFFCu};
    default: return {false, false, 0};
  }
}

void Warn_Thunk_Section(const Section_Record& r) {
  char text[160];
  Str_Format(text, sizeof text, "\r\n**Warn** Import thunks are placed in a section that is not class_code: %s", {r.name});
  Print_Err(text);
}

}  // namespace

void Import_Thunks_Emit() {
  if (Import_Func_Count() < 0) return;  // objects import without naming a DLL
  Section_State& s = Sections;
  if (s.Section_Count < 0) return;
  Section_Record& code = s.Section_Table[0];
  if (code.out == 0) return;
  Output.Thunk_Section = 0;
  const uint32_t start = (code.out + 31) & ~31u;
  if (start != Output.Thunk_Start) {
    Output.Thunk_Start = start;
    Pass.Change_Counter += 1;
  }
  const uint32_t format = Options.Output_Format;
  const Thunk_Form form = Thunk_Form_Of(format);
  const bool image = format == Format_PE32 || format == Format_PE64;
  const uint32_t base = static_cast<uint32_t>(s.Image_Base);
  uint32_t address = code.address + start;
  Byte_Sink thunks;
  bool warned = false;
  for (int32_t i = 0; i <= Import_Func_Count(); ++i) {
    Import_Function_Record& f = Import_Func_At(i);
    if (f.external || f.use_count == 0) continue;
    if (!warned && code.section_class != Class_Code && Pass.Pass_Number == 2) Warn_Thunk_Section(code);
    warned = true;
    f.thunk_address = address;
    thunks.U8(0xFF);
    thunks.U8(0x25);
    uint32_t field = form.object_field;
    if (image) field = form.rip_relative ? f.iat_slot_rva + base - (address + 6) : f.iat_slot_rva + base;
    if (form.relocated) Reloc_Add_Extern_At(address + 2 - base, static_cast<uint32_t>(i), Reloc_Iat_Slot, 0, start + thunks.size);
    thunks.U32(field);
    address += 6;
  }
  if (thunks.failed || Section_Record_Write(0, start, thunks.data, thunks.size) != 0) {
    if (thunks.failed) Error_Msg("Section, not enough memory. ");
    Diag.Stop_Flag += 1;
    return;
  }
  code.out = start + thunks.size;
}
