// #echo, #store, #load and option.
#include "directives/assembly_time.h"

#include <string>
#include <vector>

#include "core/assemble.h"
#include "core/diag.h"
#include "core/dispatch.h"
#include "core/expr.h"
#include "core/keywords.h"
#include "core/operands.h"
#include "core/platform/platform.h"
#include "core/symbols.h"
#include "core/text.h"
#include "directives/macro.h"
#include "directives/proc.h"
#include "output/listing.h"
#include "output/relocs.h"
#include "output/sections.h"

namespace {

// ---- #echo --------------------------------------------------------------------------

struct Echo_Arg {
  bool text;
  uint32_t number;
  std::string string;
};

struct Echo_State {
  std::vector<Echo_Arg> args;
} Echo;

void Echo_Text(const char* text, uint32_t length) {
  Echo_Arg a{true, 0, {}};
  a.string.assign(text, length);
  Echo.args.push_back(std::move(a));
}

void Echo_Format_String(const char* text, uint32_t length) {
  if (length <= 2) return;
  Echo_Text(text + 1, length - 2);
}

void Echo_Param(const char* text, uint32_t length) {
  if (Echo.args.empty()) {
    Error_Text("Echo, format must be first param: ", text, length);
    const char* dummy = "\r\n Dummy format (error). ";
    Echo_Text(dummy, Str_Len(dummy));
  }
  Eval_Result r = Eval_Value(text, length);
  if (r.status == 0) {
    Echo.args.push_back({false, static_cast<uint32_t>(r.value), {}});
    return;
  }
  const char* dummy = "Echo dummy par error";
  Echo_Text(dummy, Str_Len(dummy));
  Error_Text("Echo, expecting parameter: ", text, length);
  Diag.Stop_Flag += 1;
}

// Every conversion of the format has an argument of its kind.
bool Echo_Args_Match(const std::string& format, const std::vector<Fmt_Arg>& args) {
  size_t next = 0;
  for (size_t i = 0; i + 1 < format.size(); ++i) {
    if (format[i] != '%') continue;
    const char k = format[++i];
    if (k == '%') continue;
    if (k != 's' && k != 'u' && k != 'd' && k != 'x') return false;
    if (next >= args.size() || (args[next].kind == Fmt_Arg::Text) != (k == 's')) return false;
    ++next;
  }
  return true;
}

// ---- #store and #load ----------------------------------------------------------------

uint32_t Access_Width(const Operand_Record& sized) {
  const auto& f = Params.flags;
  if (f.byte_) return 1;
  if (f.word) return 2;
  if (f.dword) return 4;
  if (f.qword) return 8;
  switch (sized.size) {
    case 8: return 1;
    case 16: return 2;
    case 32: return 4;
    case 64: return 8;
    default: return 0;
  }
}

void Store_Address(const char* text, uint32_t length) {
  const int r = Parse_Operand(text, length, &Params.op[0]);
  if (r == 1) return;
  if (r == 0 && Params.op[0].kind != Op_Imm) Error_Text("#STORE, expecting numerical value: ", text, length);
  Parser.Parser_Mode = Mode_Store_Value;
}

void Store_Value(const char* text, uint32_t length) {
  const int r = Parse_Operand(text, length, &Params.op[1]);
  if (r == 1) return;
  Parser.Parser_Mode = 0;
  if (r != 0 || Params.op[1].kind != Op_Imm) {
    Error_Text("#STORE, expecting numerical value: ", text, length);
    return;
  }
  const uint32_t width = Access_Width(Params.op[0]);
  if (width == 0) {
    Error_Msg("#STORE, unknown write size.");
    return;
  }
  uint8_t bytes[8];
  for (uint32_t i = 0; i < width; ++i) bytes[i] = static_cast<uint8_t>(Params.op[1].value >> (8 * i));
  if (!Section_Access_Address(Params.op[0].value, bytes, width, true) && Pass.Pass_Number > 1)
    Error_Msg("#STORE, target addr not found in section data.");
}

struct Load_State {
  int32_t target = -1;  // the equate that receives the value
} Load;

void Load_Target(const char* text, uint32_t length) {
  if (Run_Modifier(text, length)) return;
  if (Macro_Start_Call_From_Operand(text, length)) return;
  Load.target = Equ_Find(text, length, nullptr);
  if (Load.target >= 0) Symbols.Equates[Load.target].use_count -= 1;
  else Load.target = Equ_Create(text, length, 1, 0);
  Parser.Parser_Mode = Mode_Load_Address;
}

void Load_Address(const char* text, uint32_t length) {
  const int r = Parse_Operand(text, length, &Params.op[1]);
  if (r == 1) return;
  Parser.Parser_Mode = 0;
  if (r != 0 || Params.op[1].kind != Op_Imm) {
    Error_Text("#LOAD, expecting address value: ", text, length);
    return;
  }
  const uint32_t width = Access_Width(Params.op[0]);
  if (width == 0) {
    Error_Msg("#LOAD, unknown read size.");
    return;
  }
  uint8_t bytes[8] = {};
  if (!Section_Access_Address(Params.op[1].value, bytes, width, false)) {
    if (Pass.Pass_Number > 1) Error_Msg("#LOAD, source addr not found.");
    return;
  }
  uint64_t value = 0;
  for (uint32_t i = 0; i < width; ++i) value |= static_cast<uint64_t>(bytes[i]) << (8 * i);
  if (Load.target < 0) return;
  Equ_Record& e = Symbols.Equates[Load.target];
  if (e.value != value) {
    e.value = value;
    Pass.Change_Counter += 1;
  }
}

// ---- option ----------------------------------------------------------------------------

Option_State Option;

void Option_Param(const char* text, uint32_t length) {
  switch (Option.mode) {
    case 0:
      if (Str_Equal_Lower(text, length, "list_on", 7)) {
        if (!Listing.Listing_On) {
          Listing.Listing_On = 1;
          Listing.Listing_Skip_Once = 1;  // this line is not listed
          Listing_Open();                 // unless this pass's file is open already
        }
        Parser.Parser_Mode = 0;
      } else if (Str_Equal_Lower(text, length, "list_off", 8)) {
        Listing.Listing_On = 0;
        Parser.Parser_Mode = 0;
      } else if (Str_Equal_Lower(text, length, "proc_align", 10)) {
        Option.mode = 1;
      } else if (Str_Equal_Lower(text, length, "proc_abi", 8)) {
        Option.mode = 2;
      } else {
        Error_Text("Option not known: ", text, length);
        Parser.Parser_Mode = 0;
      }
      return;
    case 1: {
      Eval_Result r = Eval_Value(text, length);
      if (r.status == 0 && Object_Alignment_Lost(r.value))
        Error_Text("Option PROC_ALIGN, an object file aligns to powers of two only: ", text, length);
      else if (r.status == 0 && r.value <= 0xFFFFFFFFull) Proc_Set_Align(static_cast<uint32_t>(r.value));
      else if (Pass.Pass_Number == 1) Proc_Set_Align(16);
      else Error_Text("Option PROC_ALIGN, unknown value: ", text, length);
      Parser.Parser_Mode = 0;
      return;
    }
    case 2:
      if (Keyword_Find(text, length) == 0 && (Keywords.Keyword_Hit_Entry->kind & Kw_Convention))
        Proc_Set_Default_Convention(Keywords.Keyword_Hit_Entry->payload[0]);
      else if (Pass.Pass_Number == 1) Proc_Set_Default_Convention(0);
      else Error_Text("Option PROC_ABI, unknown ABI: ", text, length);
      Parser.Parser_Mode = 0;
      return;
    default:
      Error_Text("Option, mode unknown: ", text, length);
      Parser.Parser_Mode = 0;
  }
}

}  // namespace

void Dir_Echo(const Keyword_Entry*) {
  Params_Reset();
  Echo.args.clear();
  Parser.Parser_Mode = Mode_Echo;
}

void Echo_Line_End() {
  if (Echo.args.empty() || !Echo.args[0].text) {
    Error_Msg("Echo, expecting format.");
    return;
  }
  std::vector<Fmt_Arg> args;
  for (size_t i = 1; i < Echo.args.size(); ++i) {
    const Echo_Arg& a = Echo.args[i];
    if (a.text) args.emplace_back(a.string.c_str());
    else args.emplace_back(a.number);
  }
  const std::string& format = Echo.args[0].string;
  if (!Echo_Args_Match(format, args))
    Error_Text("Echo, expecting parameter: ", format.data(), static_cast<uint32_t>(format.size()));
  // The text grows until it fits.
  std::vector<char> out(256 + 2 * format.size());
  for (;;) {
    const uint32_t n = Str_Format(out.data(), static_cast<uint32_t>(out.size()), format.c_str(), args.data(),
                                  static_cast<uint32_t>(args.size()));
    if (n + 1 < out.size() || out.size() > (1u << 24)) break;
    out.resize(out.size() * 2);
  }
  Print_Text(out.data());
  Echo.args.clear();
}

void Dir_Store(const Keyword_Entry*) {
  Params_Reset();
  Parser.Parser_Mode = Mode_Store_Address;
}

void Dir_Load(const Keyword_Entry*) {
  Params_Reset();
  Load.target = -1;
  Parser.Parser_Mode = Mode_Load_Target;
}

void Dir_Option(const Keyword_Entry*) {
  Params_Reset();
  Option.mode = 0;
  Parser.Parser_Mode = Mode_Option;
}

namespace {
const Mode_Handler Words[] = {
    {Mode_Echo, Echo_Param},           {Mode_Store_Address, Store_Address}, {Mode_Store_Value, Store_Value},
    {Mode_Load_Target, Load_Target},   {Mode_Load_Address, Load_Address},   {Mode_Option, Option_Param},
};
const Mode_Handler Strings[] = {{Mode_Echo, Echo_Format_String}};
}  // namespace

extern const Mode_Table Assembly_Time_Mode_Table = {"assembly time", Words, sizeof(Words) / sizeof(Words[0]),
                                                    nullptr, 0, Strings, 1};
