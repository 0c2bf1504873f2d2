// libFuzzer target: arbitrary bytes as a source file, assembled in-process
// to a flat binary. Any crash, leak, hang or sanitizer report is a fault.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/driver.h"
#include "core/platform/platform.h"
#include "output/sections.h"

namespace {
// A folder of its own for the source and output files. The working directory
// stays as it is, so that corpus paths given relative to it keep working.
std::string Work_Directory() {
  // In memory where the machine has it: rewriting the input and output files
  // on a disk file system (truncation flushes them) cost more than assembling.
  char shm[] = "/dev/shm/qrn_fuzz_XXXXXX";
  char tmp[] = "/tmp/qrn_fuzz_XXXXXX";
  const char* made = mkdtemp(shm);
  if (!made) made = mkdtemp(tmp);
  if (!made) std::abort();
  return made;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::string dir = Work_Directory();
  // Small first section buffers: most inputs write a few bytes, and a fresh
  // megabyte per section and input was most of the time per input.
  Section_First_Bytes = 0x10000;
  Platform.Keep_Large_Blocks = 1;
  static std::string source = dir + "/fuzz.asm", output = dir + "/fuzz.bin";
  std::FILE* f = std::fopen(source.c_str(), "wb");
  if (!f) return 0;
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);
  static std::string out, err;
  out.clear();
  err.clear();
  Console_Capture(&out, &err);
  static std::string a3 = source, a4 = output;  // writable copies for argv
  a3 = source;
  a4 = output;
  char a0[] = "qrn_asm", a1[] = "-q", a2[] = "-binary";
  char* argv[] = {a0, a1, a2, a3.data(), a4.data(), nullptr};
  Main_Driver(5, argv);
  Console_Capture(nullptr, nullptr);
  return 0;
}
