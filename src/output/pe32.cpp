// PE32 writer: executables and DLLs for i386.
#include "core/cmdline.h"
#include "core/diag.h"
#include "output/output.h"
#include "output/pe_image.h"

void Output_PE32() {
  if (Options.Debug_Info) {
    Error_Plain("-dbg: not implemented\r\n");
    return;
  }
  Pe_Write_Image(Pe32_Format);
}

int PE32_Post_Pass() {
  if (Pe_Import(Pe32_Format) != 0) return -1;
  if (Pe_Export() != 0) return -1;
  Import_Thunks_Emit();
  if (Diag.Stop_Flag) return -1;
  return Pe_Base_Relocs(Pe32_Format);
}
