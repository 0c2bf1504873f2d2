// libFuzzer target: arbitrary bytes as a source file, assembled in-process
// to a flat binary. Any crash, leak, hang or sanitizer report is a fault.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "core/driver.h"
#include "core/platform/platform.h"
#include "output/sections.h"

namespace {
std::string Work_Directory() {
  // In memory where the machine has it: rewriting the input and output files
  // on a disk file system (truncation flushes them) cost more than assembling.
  char shm[] = "/dev/shm/qrn_fuzz_XXXXXX";
  char tmp[] = "/tmp/qrn_fuzz_XXXXXX";
  const char* made = mkdtemp(shm);
  if (!made) made = mkdtemp(tmp);
  if (!made || chdir(made) != 0) std::abort();
  return made;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::string dir = Work_Directory();
  // Small first section buffers: most inputs write a few bytes, and a fresh
  // megabyte per section and input was most of the time per input.
  Section_First_Bytes = 0x10000;
  Platform.Keep_Large_Blocks = 1;
  std::FILE* f = std::fopen("fuzz.asm", "wb");
  if (!f) return 0;
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);
  static std::string out, err;
  out.clear();
  err.clear();
  Console_Capture(&out, &err);
  char a0[] = "qrn_asm", a1[] = "-q", a2[] = "-binary", a3[] = "fuzz.asm", a4[] = "fuzz.bin";
  char* argv[] = {a0, a1, a2, a3, a4, nullptr};
  Main_Driver(5, argv);
  Console_Capture(nullptr, nullptr);
  return 0;
}
