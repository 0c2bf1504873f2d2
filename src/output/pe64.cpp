// PE32+ writer: executables and DLLs for AMD64. Its thunks reach their
// slots RIP-relative and need no base relocation.
#include "core/diag.h"
#include "output/output.h"
#include "output/pe_image.h"

void Output_PE64() { Pe_Write_Image(Pe64_Format); }

int PE64_Post_Pass() {
  if (Pe_Import(Pe64_Format) != 0) return -1;
  if (Pe_Export() != 0) return -1;
  if (Pe_Base_Relocs(Pe64_Format) != 0) return -1;
  Import_Thunks_Emit();
  return Diag.Stop_Flag ? -1 : 0;
}
