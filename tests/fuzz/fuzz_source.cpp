// libFuzzer target: arbitrary bytes as a source file, assembled in-process.
// The first byte picks the output format (its value less '0', modulo the
// number of formats: '0' binary, '1' PE32 ...), so that every writer is
// fuzzed; the rest is the source (every file of the corpus begins with its
// format's byte). Any crash, leak, hang or sanitizer report is a fault.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

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

// The format options, by the first byte of the input.
const char* const Formats[][2] = {
    {"-binary", nullptr}, {"-pe32", nullptr}, {"-pe64", nullptr}, {"-pe32", "-dll"},   {"-pe64", "-dll"},
    {"-omf32", nullptr},  {"-coff", nullptr}, {"-coff64", nullptr}, {"-elf32", nullptr}, {"-elf64", nullptr},
    {"-mac32", nullptr},
};
constexpr size_t Format_Count = sizeof Formats / sizeof Formats[0];
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const auto* format = Formats[static_cast<uint8_t>(data[0] - '0') % Format_Count];
  data += 1;
  size -= 1;
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
  static std::string f0, f1;  // writable copies of the format options
  f0 = format[0];
  f1 = format[1] ? format[1] : "";
  char a0[] = "qrn_asm", a1[] = "-q";
  std::vector<char*> argv = {a0, a1, f0.data()};
  if (format[1]) argv.push_back(f1.data());
  argv.insert(argv.end(), {a3.data(), a4.data(), nullptr});
  Main_Driver(static_cast<int>(argv.size() - 1), argv.data());
  Console_Capture(nullptr, nullptr);
  return 0;
}
