// qrn_asm: the program entry; everything else lives in the library.
#include "core/driver.h"
#include "core/platform/platform.h"

int main(int argc, char** argv) { Sys_Exit(Main_Driver(argc, argv)); }
