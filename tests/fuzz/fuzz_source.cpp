// libFuzzer target: arbitrary bytes as a source file, assembled in-process.
// The first byte picks the output format (its value less '0', modulo the
// number of formats: '0' binary, '1' PE32 ...), so that every writer is
// fuzzed; the rest is the source (every file of the corpus begins with its
// format's byte). Any crash, leak, hang or sanitizer report is a fault, and
// so is any difference between a run with the assembler's short cuts and one
// without them (QRN_NO_CACHE=1): console text, exit code and output bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/driver.h"
#include "core/lookup_tape.h"
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

std::string Read_File(const std::string& path) {
  std::string bytes;
  if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.append(buf, n);
    std::fclose(f);
  }
  return bytes;
}

struct Run {
  int exit_code;
  std::string out, err, output;
};
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
  Lookup_Tape.replay_bytes = 0;  // later passes replay, whatever the tables' size
  static std::string source = dir + "/fuzz.asm", output = dir + "/fuzz.bin";
  std::FILE* f = std::fopen(source.c_str(), "wb");
  if (!f) return 0;
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);
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
  auto assemble = [&]() {
    Run r;
    std::remove(output.c_str());
    Console_Capture(&r.out, &r.err);
    r.exit_code = Main_Driver(static_cast<int>(argv.size() - 1), argv.data());
    Console_Capture(nullptr, nullptr);
    r.output = Read_File(output);
    return r;
  };
  const Run with = assemble();
  setenv("QRN_NO_CACHE", "1", 1);
  const Run without = assemble();
  unsetenv("QRN_NO_CACHE");
  if (with.exit_code != without.exit_code || with.out != without.out || with.err != without.err ||
      with.output != without.output) {
    std::fprintf(stderr, "the short cuts change the result (exit %d / %d)\n", with.exit_code, without.exit_code);
    std::abort();
  }
  return 0;
}
