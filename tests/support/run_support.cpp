#include "support/run_support.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "core/driver.h"
#include "core/platform/platform.h"

std::string Run_Directory() {
  static std::string dir;
  if (dir.empty()) {
    char pattern[] = "/tmp/qrn_test_XXXXXX";
    const char* made = mkdtemp(pattern);
    if (!made) {
      std::perror("mkdtemp");
      std::exit(2);
    }
    dir = made;
    if (chdir(made) != 0) {
      std::perror("chdir");
      std::exit(2);
    }
  }
  return dir;
}

void Write_Run_File(const std::string& name, const std::string& content) {
  Run_Directory();
  std::FILE* f = std::fopen(name.c_str(), "wb");
  if (!f) return;
  std::fwrite(content.data(), 1, content.size(), f);
  std::fclose(f);
}

Run_Result Run_Command(const std::vector<std::string>& args) {
  Run_Directory();
  std::vector<std::string> storage;
  storage.push_back("qrn_asm");
  for (const auto& a : args) storage.push_back(a);
  std::vector<char*> argv;
  for (auto& s : storage) argv.push_back(s.data());
  argv.push_back(nullptr);
  std::remove("t.bin");
  Run_Result r;
  Console_Capture(&r.out, &r.err);
  r.exit_code = Main_Driver(static_cast<int>(storage.size()), argv.data());
  Console_Capture(nullptr, nullptr);
  if (std::FILE* f = std::fopen("t.bin", "rb")) {
    r.output_exists = true;
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) r.output.insert(r.output.end(), buf, buf + n);
    std::fclose(f);
  }
  return r;
}

Run_Result Run_Assembler(const std::string& source, const std::vector<std::string>& args) {
  Write_Run_File("t.asm", source);
  std::vector<std::string> all = args;
  all.push_back("t.asm");
  all.push_back("t.bin");
  return Run_Command(all);
}

std::string Hex_Of(const std::vector<uint8_t>& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string s;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i) s += ' ';
    s += digits[bytes[i] >> 4];
    s += digits[bytes[i] & 15];
  }
  return s;
}

bool Parse_Hex(const std::string& text, std::vector<uint8_t>* bytes) {
  bytes->clear();
  int nibbles = 0;
  unsigned value = 0;
  for (char c : text) {
    int d;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      if (nibbles == 1) return false;
      continue;
    } else {
      return false;
    }
    value = value * 16 + static_cast<unsigned>(d);
    if (++nibbles == 2) {
      bytes->push_back(static_cast<uint8_t>(value));
      nibbles = 0;
      value = 0;
    }
  }
  return nibbles == 0;
}

std::string Visible(const std::string& text) {
  std::string s;
  for (char c : text) {
    if (c == '\r') s += "\\r";
    else if (c == '\n') s += "\\n";
    else if (c == '\t') s += "\\t";
    else if (c == '\\') s += "\\\\";
    else s += c;
  }
  return s;
}
