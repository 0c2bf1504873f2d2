// Output dispatcher: hands the finished sections to the chosen format's writer.
#include "output/output.h"

#include "core/cmdline.h"
#include "core/diag.h"
#include "core/platform/platform.h"
#include "directives/imports.h"
#include "output/sections.h"

Output_State Output;

namespace {

void Not_Implemented(const char* format) {
  char message[64];
  uint32_t n = 0;
  for (const char* p = format; *p && n < 40; ++p) message[n++] = *p;
  const char tail[] = ": not implemented\r\n";
  for (const char* p = tail; *p; ++p) message[n++] = *p;
  message[n] = 0;
  Error_Plain(message);
}

}  // namespace

bool Output_File_Write(void* handle, const void* data, uint32_t n) {
  if (n == 0) return true;
  if (File_Write(handle, data, n) != 1) return false;
  Output.Output_Byte_Count += n;
  return true;
}

void Output_Write() {
  if (Sections.Section_Count < 0) return;
  Output.Output_Byte_Count = 0;
  switch (Options.Output_Format) {
    case Format_Binary: Output_Binary(); break;
    case Format_PE32: Not_Implemented("PE32"); break;
    case Format_OMF32: Not_Implemented("OMF32"); break;
    case Format_COFF32: Not_Implemented("COFF32"); break;
    case Format_PE64: Not_Implemented("PE64"); break;
    case Format_ELF32: Not_Implemented("ELF32"); break;
    case Format_MachO32: Not_Implemented("MACHO32"); break;
    case Format_COFF64: Not_Implemented("COFF64"); break;
    case Format_ELF64: Not_Implemented("ELF64"); break;
    default: Error_Plain("Output: unknown format type\r\n"); break;
  }
}

int Output_Post_Pass() {
  switch (Options.Output_Format) {
    case Format_Binary: return 0;
    case Format_PE32:
    case Format_PE64:
    case Format_OMF32: case Format_COFF32: case Format_ELF32: case Format_MachO32: case Format_COFF64:
    case Format_ELF64:
      Import_Thunks_Emit();
      return 0;
    default:
      Error_Plain("Output: unknown format type\r\n");
      return -1;
  }
}

void Import_Thunks_Emit() {
  if (!Imports_Declared()) return;
}
