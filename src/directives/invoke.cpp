// INVOKE and CINVOKE. The statement collects its words; at the end of the
// line the call is written as source text (push, lea, mov, sub/add rsp, call,
// add esp) and assembled by the ordinary instruction handlers.
#include "directives/invoke.h"

#include <string>
#include <vector>

#include "core/assemble.h"
#include "core/diag.h"
#include "core/dispatch.h"
#include "core/expr.h"
#include "core/operands.h"
#include "core/scanner.h"
#include "core/text.h"
#include "directives/imports.h"
#include "directives/proc.h"

namespace {

constexpr uint32_t Token_Limit = 64;  // the target and at most 62 arguments are kept

enum Token_Kind : uint32_t { Plain = 0, Address = 1, Memory = 2 };

struct Token {
  uint32_t kind;
  std::string text;
};

struct Invoke_State {
  bool pending = false;
  bool cinvoke = false;
  bool next_address = false;  // `addr` was read
  std::string size_prefix;    // `dword` and the like, for the next operand
  std::vector<Token> tokens;  // [0] the target, then the arguments
};
Invoke_State State;

void Start(bool cinvoke) {
  State.pending = true;
  State.cinvoke = cinvoke;
  State.next_address = false;
  State.size_prefix.clear();
  State.tokens.clear();
  Params_Reset();
  Parser.Parser_Mode = Mode_Invoke_Arg;
}

bool Is_Size_Word(const char* text, uint32_t length) {
  for (const char* w : {"byte", "word", "dword", "qword", "ptr"})
    if (Str_Equal_Lower(text, length, w, Str_Len(w))) return true;
  return false;
}

void Add_Token(uint32_t kind, const char* text, uint32_t length) {
  if (State.tokens.size() + 1 >= Token_Limit) {
    Error_Text("Invoke token count limit ", text, length);
    return;
  }
  if (State.next_address) kind = Address;
  State.next_address = false;
  std::string t = State.size_prefix;
  State.size_prefix.clear();
  t.append(text, length);
  State.tokens.push_back({kind, std::move(t)});
}

void Invoke_Word(const char* text, uint32_t length) {
  if (Str_Equal_Lower(text, length, "addr", 4)) {
    State.next_address = true;
    return;
  }
  if (!State.tokens.empty() && Is_Size_Word(text, length)) {
    State.size_prefix.append(text, length);
    State.size_prefix += ' ';
    return;
  }
  Add_Token(Plain, text, length);
}

void Invoke_Bracket(const char* text, uint32_t length) { Add_Token(Memory, text, length); }

// A quoted argument is passed as its text ('O' is pushed or moved as 4Fh).
void Invoke_String(const char* text, uint32_t length) { Add_Token(Plain, text, length); }

// ---- Text generation ---------------------------------------------------------------------

struct Writer {
  std::string text;
  void Line(std::initializer_list<const char*> parts) {
    for (const char* p : parts) text += p;
    text += "  \r\n";
  }
  void Line_Hex(const char* head, uint32_t value) {
    char digits[9];
    Str_Hex32(value, digits);
    text += head;
    text += digits;
    text += "h  \r\n";
  }
};

// What `lea` reads: the operand of `addr`, in brackets.
std::string Address_Operand(const std::string& t) {
  if (!t.empty() && t[0] == '[') return t;
  return "[" + t + "]";
}

bool Text_Is(const std::string& t, const char* name) {
  return Str_Equal_Lower(t.data(), static_cast<uint32_t>(t.size()), name, Str_Len(name));
}

enum { Conv_None = 2, Conv_Unknown = 99 };

struct Target {
  bool is_proc = false;
  bool is_import = false;
  uint32_t convention = Conv_Unknown;
  int32_t count = -1;  // declared ARG items, -1 undeclared
  bool varg = false;
};

Target Target_Of(const std::string& name) {
  Target t;
  const char* p = name.data();
  uint32_t n = static_cast<uint32_t>(name.size());
  int32_t proc = Proc_Find(p, n, 0);
  if (proc >= 0) {
    t.is_proc = true;
    t.convention = Proc_Convention(proc);
    t.count = Proc_Arg_Count(proc);
    if (t.count == 0) t.count = -1;  // a PROC without ARG declares no count
    t.varg = Proc_Varg(proc);
    return t;
  }
  Import_Func_Ref ref{};
  if (Import_Func_Find(p, n, &ref)) {
    const Import_Function_Record& f = Import_Func_At(static_cast<int32_t>(ref.index));
    t.is_import = true;
    t.convention = f.convention;
    t.count = f.arg_count;
    t.varg = (f.flags & 1) != 0;
  }
  return t;
}

// A pushed argument narrower than a stack item (`ax` or `word [x]` in
// 32- or 64-bit code) would shift every argument after it.
bool Narrower_Than_Item(const std::string& t, uint32_t item) {
  if (item <= 2) return false;
  if (t.size() > 5 && Str_Equal_Lower(t.data(), 5, "word ", 5)) return true;
  Reg_Size_Hit r{};
  return Reg_Size(t.data(), static_cast<uint32_t>(t.size()), &r) == 0 && r.size < item * 8;
}

// Pushes arguments last..first (the stack conventions, and the arguments
// beyond the registers of win64_push and lin64); acc_message null checks
// nothing.
void Push_Arguments(Writer& w, uint32_t last, uint32_t first, const char* acc, const char* acc_message,
                    bool* address_seen, uint32_t item) {
  for (uint32_t i = last; i >= first; --i) {
    const Token& a = State.tokens[i];
    if (a.kind == Address) {
      w.Line({"lea ", acc, ",", Address_Operand(a.text).c_str()});
      *address_seen = true;
      w.Line({"push ", acc});
      continue;
    }
    if (acc_message && *address_seen && Text_Is(a.text, acc)) Error_Msg(acc_message);
    if (acc_message && Narrower_Than_Item(a.text, item))
      Error_Text("Invoke, argument is smaller than a stack item: ", a.text.data(), static_cast<uint32_t>(a.text.size()));
    w.Line({"push ", a.text.c_str()});
  }
}

// The general register (0..15) a register word names, -1 for none: ah..bh
// are parts of rax..rbx, spl..dil of rsp..rdi.
int32_t Register_Family(const char* text, uint32_t length) {
  Reg_Size_Hit r{};
  if (Reg_Size(text, length, &r) != 0) return -1;
  if (r.size == 8 && r.number >= 16) return static_cast<int32_t>(r.number - 16);
  if (r.size == 8 && r.number >= 4 && r.number < 8) return static_cast<int32_t>(r.number - 4);
  return static_cast<int32_t>(r.number & 15);
}

bool Name_Char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '.' ||
         c == '@' || c == '$';
}

// Whether an argument text reads a register of `written` (bit n: register n).
bool Reads_Written_Register(const std::string& t, uint32_t written) {
  if (!t.empty() && (t[0] == '\'' || t[0] == '"')) return false;  // a quoted value
  for (size_t i = 0; i < t.size();) {
    if (!Name_Char(t[i])) {
      ++i;
      continue;
    }
    size_t j = i;
    while (j < t.size() && Name_Char(t[j])) ++j;
    const int32_t family = Register_Family(t.data() + i, static_cast<uint32_t>(j - i));
    if (family >= 0 && (written >> family & 1)) return true;
    i = j;
  }
  return false;
}

// Register arguments are loaded last..first: an argument that reads a
// register a later argument has loaded already would pass the wrong value.
void Register_Arguments(Writer& w, uint32_t last, const char* const* registers, bool address_seen) {
  uint32_t written = 0;
  for (uint32_t i = last; i >= 1; --i) {
    const Token& a = State.tokens[i];
    if (Reads_Written_Register(a.text, written))
      Error_Text("Invoke, register is changed by a later argument: ", a.text.data(),
                 static_cast<uint32_t>(a.text.size()));
    const int32_t target = Register_Family(registers[i - 1], Str_Len(registers[i - 1]));
    if (target >= 0) written |= 1u << target;
    if (a.kind == Address) {
      w.Line({"lea ", registers[i - 1], ",", Address_Operand(a.text).c_str()});
      continue;
    }
    if (address_seen && Text_Is(a.text, "rax")) Error_Msg("Invoke, RAX is changed by ADDR or use of [] in win64 ");
    w.Line({"mov ", registers[i - 1], ",", a.text.c_str()});
  }
}

const char* const Win64_Registers[4] = {"rcx", "rdx", "r8", "r9"};
const char* const Lin64_Registers[6] = {"rdi", "rsi", "rdx", "rcx", "r8", "r9"};

void Count_Error(const char* message) {
  const std::string& name = State.tokens[0].text;
  Error_Text(message, name.data(), static_cast<uint32_t>(name.size()));
}

void Generate(Writer& w) {
  uint32_t item = 4;
  const char* acc = "eax";
  const char* acc_message = "Invoke, EAX is changed by ADDR.";
  const char* sp = "esp";
  switch (Parser.Code_Mode) {
    case Code_16: item = 2, acc = "ax", acc_message = "Invoke, AX is changed by ADDR.", sp = "sp"; break;
    case Code_32: break;
    case Code_64: item = 8, acc = "rax", acc_message = "Invoke, RAX is changed by ADDR.", sp = "rsp"; break;
    default: Error_Msg("Invoke, unknown stack item size. "); break;
  }
  const std::string& name = State.tokens[0].text;
  const uint32_t n = static_cast<uint32_t>(State.tokens.size()) - 1;
  const Target t = Target_Of(name);
  bool address_seen = false;

  uint32_t win64_total = 0;
  uint32_t lin64_cleanup = 0;
  if (t.convention == Conv_Win64_Push) {
    uint32_t padding = 0x28;
    win64_total = 0x28;
    if (n >= 5) {
      win64_total = (n - 4) * 8 + (n % 2 == 0 ? 0x28 : 0x20);
      padding = n % 2 == 0 ? 8 : 0;
    }
    if (padding) w.Line_Hex("sub rsp,", padding);
    if (n >= 5) {
      Push_Arguments(w, n, 5, "rax", "Invoke, RAX is changed by ADDR or use of [] in win64 ", &address_seen, item);
      w.Line_Hex("sub rsp,", 0x20);
    }
    Register_Arguments(w, n < 4 ? n : 4, Win64_Registers, address_seen);
  } else if (t.convention == Conv_Win64) {
    win64_total = n < 5 ? 0x20 : (n % 2 ? (n + 1) * 8 : n * 8);
    w.Line_Hex("sub rsp,", win64_total);
    for (uint32_t i = n; i >= 5; --i) {
      const Token& a = State.tokens[i];
      char digits[9];
      Str_Hex32((i - 1) * 8, digits);
      std::string slot = std::string("mov [rsp+") + digits + "h],";
      if (a.kind == Address) {
        w.Line({"lea rax,", Address_Operand(a.text).c_str()});
        address_seen = true;
        w.Line({slot.c_str(), "rax"});
      } else if (a.kind == Memory) {
        w.Line({"mov rax,", a.text.c_str()});
        address_seen = true;
        w.Line({slot.c_str(), "rax"});
      } else {
        if (address_seen && Text_Is(a.text, "rax")) Error_Msg("Invoke, RAX is changed by ADDR or use of [] in win64 ");
        w.Line({slot.c_str(), "qword ", a.text.c_str()});
      }
    }
    Register_Arguments(w, n < 4 ? n : 4, Win64_Registers, address_seen);
  } else if (t.convention == Conv_Lin64) {
    uint32_t pushes = n > 6 ? n - 6 : 0;
    if (pushes % 2) {
      // The call is made with RSP a multiple of 16.
      w.Line_Hex("sub rsp,", 8);
      lin64_cleanup = 8;
    }
    if (pushes)
      Push_Arguments(w, n, 7, "rax", "Invoke, RAX is changed by ADDR or use of [] in win64 ", &address_seen, item);
    lin64_cleanup += pushes * 8;
    Register_Arguments(w, n < 6 ? n : 6, Lin64_Registers, address_seen);
    if (t.varg && n > 0) w.Line({"mov eax,0"});
  } else if (n > 0) {
    // A target first known further on may pass its arguments in registers:
    // in pass 1 an unknown target's pushes are not checked.
    const bool forward = !t.is_proc && !t.is_import && Pass.Pass_Number == 1;
    Push_Arguments(w, n, 1, acc, forward ? nullptr : acc_message, &address_seen, item);
  }
  w.Line({"call ", name.c_str()});

  // Cleanup and count checks.
  const bool register_convention =
      t.convention == Conv_Win64_Push || t.convention == Conv_Win64 || t.convention == Conv_Lin64;
  auto caller_cleanup = [&] {
    if (n > 0) w.Line_Hex((std::string("add ") + sp + ",").c_str(), n * item);
  };
  if (State.cinvoke && !register_convention) {
    caller_cleanup();
    return;
  }
  if (!t.is_proc && !t.is_import) return;
  switch (t.convention) {
    case Conv_Cdecl:
      caller_cleanup();
      if (t.is_proc && t.count != -1 && n < static_cast<uint32_t>(t.count))
        Count_Error("Invoke, ARG count too low for this PROC (cdecl): ");
      break;
    case Conv_Stdcall:
      if (t.count != -1 && static_cast<uint32_t>(t.count) != n)
        Count_Error("Invoke, ARG count does not match PROC (stdcall): ");
      break;
    case Conv_Win64_Push:
    case Conv_Win64:
      w.Line_Hex("add rsp,", win64_total);
      if (t.count != -1 && !t.varg && static_cast<uint32_t>(t.count) != n)
        Count_Error("Invoke, ARG count does not match PROC (win64): ");
      break;
    case Conv_Lin64:
      if (lin64_cleanup) w.Line_Hex("add rsp,", lin64_cleanup);
      if (t.count != -1 && !t.varg && static_cast<uint32_t>(t.count) != n)
        Count_Error("Invoke, ARG count does not match PROC (lin64): ");
      break;
    default: break;
  }
}

}  // namespace

bool Invoke_Pending() { return State.pending; }

void Invoke_Expand() {
  State.pending = false;
  if (State.next_address || !State.size_prefix.empty()) {
    // `addr` or a size keyword with nothing after it
    const char* word = State.next_address ? "addr" : State.size_prefix.c_str();
    Error_Text("Invoke, expecting an operand after: ", word, Str_Len(word));
    State.next_address = false;
    State.size_prefix.clear();
  }
  if (State.tokens.empty()) {
    Error_Msg("Invoke is expecting function name or target");
    State.cinvoke = false;
    return;
  }
  Writer w;
  Generate(w);
  w.text += "  \r\n";
  State.tokens.clear();
  State.cinvoke = false;
  Parse_Buffer(w.text.data(), static_cast<uint32_t>(w.text.size()), Parse_Not_File);
}

void Invoke_Reset_Pass() {
  State.pending = false;
  State.cinvoke = false;
  State.next_address = false;
  State.size_prefix.clear();
  State.tokens.clear();
}

void Dir_Invoke(const Keyword_Entry*) { Start(false); }
void Dir_Cinvoke(const Keyword_Entry*) { Start(true); }

namespace {
const Mode_Handler Words[] = {
    {Mode_Invoke_Arg, Invoke_Word},
};
const Mode_Handler Brackets[] = {
    {Mode_Invoke_Arg, Invoke_Bracket},
};
const Mode_Handler Strings[] = {
    {Mode_Invoke_Arg, Invoke_String},
};
}  // namespace

extern const Mode_Table Invoke_Mode_Table = {"invoke", Words, 1, Brackets, 1, Strings, 1};
