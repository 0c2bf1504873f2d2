// Table-driven assembly cases, run in-process.
//
// *.cases files hold whole cases:
//   === name
//   args: -binary -q          (default: -binary -q)
//   lf: 1                     (join source lines with LF; default CR LF)
//   nul: ~                    (that character stands for a NUL byte in the
//                              source and files; give it before them)
//   source:
//   ...source lines...
//   ---
//   bytes: 41 42 00           (the whole output file)
//   stdout: "..."  stderr: "..."   (exact; C escapes \r \n \t \\ \")
//   stdout_has: "..."        (a part of stdout; may repeat)
//   stdout_lacks: "..."      (text that must not be in stdout; may repeat)
//   size: 0x1004              (the output file's length)
//   bytes_at: 0x1000 41 42    (bytes at an offset of the output; may repeat)
//   exit: 1                   (default 0)
//   no_output: 1              (the output file must not exist)
//   file: sub/a.inc           (an extra file written before the run, from the
//   ...lines...                lines up to ---, joined like the source)
//   binfile: d.bin 30 31 32   (an extra binary file)
//   list: t_info.lst "..."    (a file the run writes beside the output, exact;
//                              successive lines for one name are joined)
//   list_has: t_tkn.lst "..." (a part of such a file; may repeat)
//
// *.enc files hold one instruction form per line:
//   32 | add eax, 5 | 83 C0 05
//   64 -elf64 | ... | ...     (extra options after the mode)
//   32 | and [ebx], 7 | error: Unknown parameter 2 size
//   32 | mov ax, [bp] | error: "MOV, can not encode "   (quotes keep blanks)
// The source column may hold several statements separated by " \n ".
// Every row must state an expectation; a row without one fails.
#include <algorithm>
#include <cstdio>
#include <dirent.h>
#include <sys/stat.h>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/lookup_tape.h"
#include "support/run_support.h"

namespace {

struct Case {
  std::string file;
  int line = 0;
  std::string name;
  std::vector<std::string> args = {"-binary", "-q"};
  bool lf = false;
  char nul = 0;  // 0: none
  std::string source;
  bool has_bytes = false;
  std::vector<uint8_t> bytes;
  bool has_stdout = false, has_stderr = false;
  std::string out, err;
  std::vector<std::string> out_has, out_lacks;
  long size = -1;
  std::vector<std::pair<size_t, std::vector<uint8_t>>> bytes_at;
  int exit = 0;
  bool no_output = false;
  std::vector<std::pair<std::string, std::string>> files;  // written before the run
  std::vector<std::pair<std::string, std::string>> lists, list_parts;  // files the run writes
  std::string problem;  // a malformed case
};

std::string Short_Hex(const std::vector<uint8_t>& b) {
  if (b.size() <= 64) return Hex_Of(b);
  std::vector<uint8_t> head(b.begin(), b.begin() + 64);
  return Hex_Of(head) + " ... (" + std::to_string(b.size()) + " bytes)";
}

std::string Trim(const std::string& s) {
  size_t a = s.find_first_not_of(" \t\r");
  if (a == std::string::npos) return "";
  size_t b = s.find_last_not_of(" \t\r");
  return s.substr(a, b - a + 1);
}

std::vector<std::string> Split_Words(const std::string& s) {
  std::vector<std::string> words;
  std::istringstream in(s);
  std::string w;
  while (in >> w) words.push_back(w);
  return words;
}

bool Unquote(const std::string& text, std::string* out) {
  std::string t = Trim(text);
  if (t.size() < 2 || t.front() != '"' || t.back() != '"') return false;
  out->clear();
  for (size_t i = 1; i + 1 < t.size(); ++i) {
    char c = t[i];
    if (c == '\\' && i + 2 < t.size()) {
      char k = t[++i];
      switch (k) {
        case 'r': *out += '\r'; break;
        case 'n': *out += '\n'; break;
        case 't': *out += '\t'; break;
        case '\\': *out += '\\'; break;
        case '"': *out += '"'; break;
        case 'x': {
          unsigned v = static_cast<unsigned>(std::stoul(t.substr(i + 1, 2), nullptr, 16));
          *out += static_cast<char>(v);
          i += 2;
          break;
        }
        default: return false;
      }
    } else {
      *out += c;
    }
  }
  return true;
}

std::vector<Case> Load_Cases(const std::string& path) {
  std::vector<Case> cases;
  std::ifstream in(path);
  std::string line;
  int number = 0;
  Case* c = nullptr;
  bool in_source = false;
  std::string* target = nullptr;  // the source or an extra file
  std::vector<std::string> source_lines;
  auto finish_source = [&] {
    if (!c) return;
    std::string sep = c->lf ? "\n" : "\r\n";
    target->clear();
    for (const auto& l : source_lines) *target += l + sep;
    source_lines.clear();
    if (c->nul) std::replace(target->begin(), target->end(), c->nul, '\0');
  };
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (in_source) {
      if (line == "---") {
        in_source = false;
        finish_source();
      } else {
        source_lines.push_back(line);
      }
      continue;
    }
    if (line.rfind("===", 0) == 0) {
      cases.emplace_back();
      c = &cases.back();
      c->file = path;
      c->line = number;
      c->name = Trim(line.substr(3));
      continue;
    }
    std::string t = Trim(line);
    if (t.empty() || t[0] == '#') continue;
    if (!c) continue;
    size_t colon = t.find(':');
    std::string key = colon == std::string::npos ? t : t.substr(0, colon);
    std::string value = colon == std::string::npos ? "" : t.substr(colon + 1);
    if (key == "args") c->args = Split_Words(value);
    else if (key == "lf") c->lf = Trim(value) == "1";
    else if (key == "nul") c->nul = Trim(value).empty() ? 0 : Trim(value)[0];
    else if (key == "source") {
      in_source = true;
      target = &c->source;
    } else if (key == "file") {
      c->files.push_back({Trim(value), ""});
      in_source = true;
      target = &c->files.back().second;
    } else if (key == "binfile") {
      std::istringstream v(value);
      std::string name, rest;
      v >> name;
      std::getline(v, rest);
      std::vector<uint8_t> b;
      if (!Parse_Hex(rest, &b)) c->problem = "bad hex in binfile";
      c->files.push_back({name, std::string(b.begin(), b.end())});
    }
    else if (key == "list" || key == "list_has") {
      std::string v = Trim(value), name = v.substr(0, v.find(' ')), text;
      if (name.empty() || !Unquote(v.substr(name.size()), &text)) c->problem = "bad " + key;
      auto& target_list = key == "list" ? c->lists : c->list_parts;
      if (key == "list" && !target_list.empty() && target_list.back().first == name) target_list.back().second += text;
      else target_list.push_back({name, text});
    }
    else if (key == "bytes") {
      c->has_bytes = true;
      if (!Parse_Hex(value, &c->bytes)) c->problem = "bad hex in bytes";
    } else if (key == "stdout") {
      c->has_stdout = true;
      if (!Unquote(value, &c->out)) c->problem = "bad stdout string";
    } else if (key == "stderr") {
      c->has_stderr = true;
      if (!Unquote(value, &c->err)) c->problem = "bad stderr string";
    } else if (key == "stdout_has" || key == "stdout_lacks") {
      std::string part;
      if (!Unquote(value, &part)) c->problem = "bad " + key + " string";
      (key == "stdout_has" ? c->out_has : c->out_lacks).push_back(part);
    } else if (key == "size") {
      c->size = std::stol(Trim(value), nullptr, 0);
    } else if (key == "bytes_at") {
      std::istringstream v(value);
      std::string offset;
      v >> offset;
      std::string rest;
      std::getline(v, rest);
      std::vector<uint8_t> b;
      if (!Parse_Hex(rest, &b)) c->problem = "bad hex in bytes_at";
      c->bytes_at.push_back({static_cast<size_t>(std::stoul(offset, nullptr, 0)), b});
    } else if (key == "exit") c->exit = std::stoi(value);
    else if (key == "no_output") c->no_output = Trim(value) == "1";
    else c->problem = "unknown key " + key;
  }
  if (in_source) finish_source();
  return cases;
}

std::vector<Case> Load_Encodings(const std::string& path) {
  std::vector<Case> cases;
  std::ifstream in(path);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    std::string t = Trim(line);
    if (t.empty() || t[0] == '#') continue;
    Case c;
    c.file = path;
    c.line = number;
    c.name = t;
    size_t a = t.find('|');
    size_t b = a == std::string::npos ? a : t.find('|', a + 1);
    if (b == std::string::npos) {
      c.problem = "a row needs: mode | source | expectation";
      cases.push_back(c);
      continue;
    }
    std::vector<std::string> head = Split_Words(t.substr(0, a));
    std::string body = Trim(t.substr(a + 1, b - a - 1));
    std::string expect = Trim(t.substr(b + 1));
    std::string mode = head.empty() ? "" : head[0];
    std::string directive = mode == "16" ? ".use16" : mode == "32" ? ".use32" : mode == "64" ? ".use64" : "";
    if (directive.empty()) c.problem = "mode must be 16, 32 or 64";
    c.args = {"-binary", "-q"};
    for (size_t i = 1; i < head.size(); ++i) {
      if (head[i].rfind("-", 0) == 0 && head[i] != "-q") {
        // a format option replaces -binary
        if (head[i] == "-elf32" || head[i] == "-elf64" || head[i] == "-coff" || head[i] == "-coff64" ||
            head[i] == "-pe32" || head[i] == "-pe64" || head[i] == "-omf32" || head[i] == "-mac32")
          c.args[0] = head[i];
        else
          c.args.push_back(head[i]);
      }
    }
    std::string statements;
    size_t pos = 0;
    while (true) {
      size_t nl = body.find("\\n", pos);
      statements += Trim(body.substr(pos, nl == std::string::npos ? std::string::npos : nl - pos)) + "\r\n";
      if (nl == std::string::npos) break;
      pos = nl + 2;
    }
    c.source = "section \"c\" class_code\r\n" + directive + "\r\n" + statements;
    if (expect.rfind("error:", 0) == 0) {
      std::string message = expect.substr(6);
      if (!message.empty() && message[0] == ' ') message.erase(0, 1);
      std::string quoted;
      if (Unquote(message, &quoted)) message = quoted;  // "..." keeps trailing blanks
      c.has_stderr = true;
      c.err = "\r\n**Error** t.asm(3) " + message;
      c.exit = 1;
    } else if (expect.empty()) {
      c.problem = "no expectation";
    } else {
      c.has_bytes = true;
      if (!Parse_Hex(expect, &c.bytes)) c.problem = "bad hex expectation";
    }
    cases.push_back(c);
  }
  return cases;
}

// With --both every case runs a second time with the short cuts off
// (QRN_NO_CACHE=1), and the two runs must agree in every byte they show.
bool Compare_Shortcuts = false;

// The console text without the run time, which differs from run to run.
std::string Without_Time(std::string text) {
  const std::string mark = "Assembler  time: ";
  for (size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + 1)) {
    size_t end = text.find('\r', at);
    text.erase(at + mark.size(), (end == std::string::npos ? text.size() : end) - at - mark.size());
  }
  return text;
}

std::string Shortcut_Difference(const Case& c, const Run_Result& with) {
  setenv("QRN_NO_CACHE", "1", 1);
  Run_Result without = Run_Assembler(c.source, c.args);
  unsetenv("QRN_NO_CACHE");
  std::ostringstream w;
  if (without.exit_code != with.exit_code) w << "  without short cuts: exit " << without.exit_code << "\n";
  if (Without_Time(without.out) != Without_Time(with.out)) w << "  without short cuts: stdout \"" << Visible(without.out) << "\"\n";
  if (without.err != with.err) w << "  without short cuts: stderr \"" << Visible(without.err) << "\"\n";
  if (without.output_exists != with.output_exists || without.output != with.output)
    w << "  without short cuts: bytes " << Short_Hex(without.output) << "\n";
  return w.str();
}

bool Run_Case(const Case& c, std::string* why) {
  if (!c.problem.empty()) {
    *why = c.problem;
    return false;
  }
  if (!c.has_bytes && !c.has_stdout && !c.has_stderr && c.exit == 0 && !c.no_output && c.source.empty()) {
    *why = "the case states nothing";
    return false;
  }
  for (const auto& [name, content] : c.files) {
    Run_Directory();
    for (size_t slash = name.find('/'); slash != std::string::npos; slash = name.find('/', slash + 1))
      mkdir(name.substr(0, slash).c_str(), 0755);
    Write_Run_File(name, content);
  }
  for (const auto& l : c.lists) std::remove(l.first.c_str());
  for (const auto& l : c.list_parts) std::remove(l.first.c_str());
  Run_Result r = Run_Assembler(c.source, c.args);
  std::ostringstream w;
  bool ok = true;
  if (r.exit_code != c.exit) {
    w << "  exit: expected " << c.exit << ", got " << r.exit_code << "\n";
    ok = false;
  }
  std::string expected_err = c.has_stderr ? c.err : "";
  if (r.err != expected_err) {
    w << "  stderr: expected \"" << Visible(expected_err) << "\"\n          got      \"" << Visible(r.err) << "\"\n";
    ok = false;
  }
  if (c.has_stdout && r.out != c.out) {
    w << "  stdout: expected \"" << Visible(c.out) << "\"\n          got      \"" << Visible(r.out) << "\"\n";
    ok = false;
  }
  for (const auto& part : c.out_has)
    if (r.out.find(part) == std::string::npos) {
      w << "  stdout lacks \"" << Visible(part) << "\"\n  stdout: \"" << Visible(r.out) << "\"\n";
      ok = false;
    }
  for (const auto& part : c.out_lacks)
    if (r.out.find(part) != std::string::npos) {
      w << "  stdout has \"" << Visible(part) << "\"\n";
      ok = false;
    }
  if (c.has_bytes && (!r.output_exists || r.output != c.bytes)) {
    w << "  bytes: expected " << Short_Hex(c.bytes) << "\n         got      "
      << (r.output_exists ? Short_Hex(r.output) : std::string("(no output file)")) << "\n";
    ok = false;
  }
  if (c.size >= 0 && (!r.output_exists || static_cast<long>(r.output.size()) != c.size)) {
    w << "  size: expected " << c.size << ", got " << (r.output_exists ? static_cast<long>(r.output.size()) : -1L)
      << "\n";
    ok = false;
  }
  for (const auto& [offset, b] : c.bytes_at) {
    std::vector<uint8_t> got;
    for (size_t i = 0; i < b.size() && offset + i < r.output.size(); ++i) got.push_back(r.output[offset + i]);
    if (got != b) {
      w << "  bytes at " << offset << ": expected " << Hex_Of(b) << ", got " << Hex_Of(got) << "\n";
      ok = false;
    }
  }
  auto read_list = [](const std::string& name, std::string* text) {
    std::ifstream in(name, std::ios::binary);
    if (!in) return false;
    std::ostringstream all;
    all << in.rdbuf();
    *text = all.str();
    return true;
  };
  for (const auto& [name, want] : c.lists) {
    std::string got;
    if (!read_list(name, &got)) {
      w << "  " << name << ": not written\n";
      ok = false;
    } else if (got != want) {
      w << "  " << name << ": expected \"" << Visible(want) << "\"\n          got      \"" << Visible(got) << "\"\n";
      ok = false;
    }
  }
  for (const auto& [name, part] : c.list_parts) {
    std::string got;
    if (!read_list(name, &got) || got.find(part) == std::string::npos) {
      w << "  " << name << " lacks \"" << Visible(part) << "\"\n";
      ok = false;
    }
  }
  if (c.no_output && r.output_exists) {
    w << "  an output file was written\n";
    ok = false;
  }
  if (Compare_Shortcuts) {
    std::string difference = Shortcut_Difference(c, r);
    if (!difference.empty()) {
      w << difference;
      ok = false;
    }
  }
  *why = w.str();
  return ok;
}

bool Ends_With(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  Lookup_Tape.replay_bytes = 0;  // every case's later passes replay its lookups
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--both") {
      Compare_Shortcuts = true;
      continue;
    }
    if (DIR* d = opendir(arg.c_str())) {
      while (dirent* e = readdir(d)) {
        std::string n = e->d_name;
        if (Ends_With(n, ".cases") || Ends_With(n, ".enc")) files.push_back(arg + "/" + n);
      }
      closedir(d);
    } else {
      files.push_back(arg);
    }
  }
  std::sort(files.begin(), files.end());
  // Load every case before the first run: runs happen in their own directory.
  std::vector<Case> all;
  int unreadable = 0;
  for (const auto& f : files) {
    if (!std::ifstream(f)) {
      std::printf("FAIL %s: can not read the file\n", f.c_str());
      ++unreadable;
      continue;
    }
    std::vector<Case> cases = Ends_With(f, ".enc") ? Load_Encodings(f) : Load_Cases(f);
    all.insert(all.end(), cases.begin(), cases.end());
  }
  int passed = 0, failed = unreadable;
  for (const auto& c : all) {
    std::string why;
    if (Run_Case(c, &why)) {
      ++passed;
    } else {
      ++failed;
      std::printf("FAIL %s:%d %s\n%s", c.file.c_str(), c.line, c.name.c_str(), why.c_str());
    }
  }
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 && passed > 0 ? 0 : 1;
}
