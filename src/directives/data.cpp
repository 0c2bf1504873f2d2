// Data definition and reserve directives. Each item is resolved by its
// directive's order of lookups and written through the checked emitter; dd and
// dq items that hold an address record a relocation just before their bytes.
#include "directives/data.h"

#include "core/assemble.h"
#include "core/cmdline.h"
#include "core/diag.h"
#include "core/dispatch.h"
#include "core/expr.h"
#include "core/keywords.h"
#include "core/symbols.h"
#include "core/text.h"
#include "directives/proc.h"
#include "encode/modrm.h"
#include "directives/struc.h"
#include "output/relocs.h"
#include "output/sections.h"

namespace {

// ---- Initialised items ----------------------------------------------------------

enum class Lookup : uint8_t { End, Expression, Equate, Label, Local_Label, Proc };

constexpr uint32_t No_Reloc = 0xFFFFFFFFu;

struct Item_Kind {
  uint32_t bytes;       // bytes the item takes
  uint32_t stored;      // bytes of the value written; the rest is reserved (dt)
  uint32_t bits;        // data type given to the line's label
  uint32_t reloc;       // relocation of an address, or No_Reloc when the item cannot carry one
  bool modifiers;       // operand-modifier words are taken and ignored (dw, du)
  const char* unknown;  // message for an item that nothing resolves
  Lookup order[5];
};

constexpr Lookup E = Lookup::Expression, Q = Lookup::Equate, L = Lookup::Label, LL = Lookup::Local_Label,
                 P = Lookup::Proc;

// A 16-bit field has no relocation kind of its own, so dw and du, like db and
// dt, cannot carry an address into an object or image file.
constexpr Item_Kind Db_Kind{1, 1, 8, No_Reloc, false, "DB, unknown data item: ", {E, Q}};
constexpr Item_Kind Dw_Kind{2, 2, 16, No_Reloc, true, "Unknown data item: ", {E, Q, L, LL, P}};
constexpr Item_Kind Dd_Kind{4, 4, 32, Reloc_Abs32, false, "Unknown data item: ", {E, Q, L, LL, P}};
constexpr Item_Kind Dq_Kind{8, 8, 64, Reloc_Abs64, false, "Unknown data item: ", {Q, E, L, P}};
constexpr Item_Kind Dt_Kind{10, 4, 80, No_Reloc, false, "Unknown data item: ", {E, Q, L, P}};

bool Is_Reserve_Mark(const char* text, uint32_t length) { return length == 1 && text[0] == '?'; }

// Resolves an item by the given order; `address` tells whether the value is
// (or depends on) an address, `rva` whether it is image-relative (`<rva x>`).
// Reloc_Target_Section is left set for it.
bool Resolve(const Lookup* order, const char* text, uint32_t length, uint64_t* value, bool* address, bool* rva) {
  *rva = false;
  for (uint32_t i = 0; i < 5 && order[i] != Lookup::End; ++i) {
    uint32_t found = 0, section = 0;
    switch (order[i]) {
      case Lookup::Expression: {
        Eval_Result r = Eval_Value(text, length);
        if (r.status != 0) break;
        *value = r.value;
        *address = Expr.Expr_Relocatable != 0;
        *rva = Expr.Expr_Reloc_Kind == Reloc_Rva32;
        return true;
      }
      case Lookup::Equate:
        if (Equ_Find(text, length, value) < 0) break;
        *address = false;
        return true;
      case Lookup::Label: {
        Label_Hit hit;
        if (Label_Find_Any(text, length, 0, &hit) < 0) break;
        *value = hit.address;
        *address = true;
        return true;
      }
      case Lookup::Local_Label:
        if (!Proc_Is_Open() || !Local_Label_Value(text, length, &found, &section)) break;
        Sections.Reloc_Target_Section = section;
        *value = found;
        *address = true;
        return true;
      case Lookup::Proc:
        if (!Proc_Address(text, length, &found, &section)) break;
        Sections.Reloc_Target_Section = section;
        *value = found;
        *address = true;
        return true;
      case Lookup::End: break;
    }
  }
  return false;
}

// dw and du take operand-modifier words (`dw offset x`) and ignore them; a
// segment prefix word writes no byte into data.
bool Data_Modifier(const char* text, uint32_t length) {
  const Short_Keyword* k = Modifier_Find(text, length);
  if (!k) return false;
  if (k->handler != Emit_Prefix_Byte) k->handler(k);
  return true;
}

void Emit_Value(uint64_t value, uint32_t n) {
  uint8_t b[8];
  for (uint32_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(value >> (8 * i));
  Emit_Bytes(b, n);
}

void Data_Item(const Item_Kind& k, const char* text, uint32_t length) {
  if (Struc_Is_Open()) {
    Struc_Data_Member(text, length, k.bits, k.bytes, false);
    return;
  }
  Label_Define_Pending(k.bits);
  if (Is_Reserve_Mark(text, length)) {
    Emit_Reserve(k.bytes);
    return;
  }
  if (k.modifiers && Data_Modifier(text, length)) return;
  uint64_t value = 0;
  bool address = false, rva = false;
  if (!Resolve(k.order, text, length, &value, &address, &rva)) {
    // Pass 1 keeps the layout with a gap; later passes know every symbol.
    if (Pass.Pass_Number == 1) Emit_Reserve(k.bytes);
    else Error_Text(k.unknown, text, length);
    return;
  }
  if (!Emit_Fits(k.bytes) && !Emit_Room(k.bytes)) return;
  if (address) {
    // An image-relative value (`<rva x>`) is no address to rebase; only a
    // 32-bit field has a relocation kind for it.
    uint32_t reloc = k.reloc;
    if (rva) reloc = k.reloc == Reloc_Abs32 ? uint32_t{Reloc_Rva32} : No_Reloc;
    if (reloc != No_Reloc) {
      Reloc_Record* rec = Reloc_Add(reloc, k.stored);
      if (rec && reloc == Reloc_Abs32) rec->zero_extended = 1;  // a dword is no signed field
      if (reloc == Reloc_Abs64) value = Reloc_Abs64_Value(value);
    } else if (Options.Output_Format != Format_Binary) {
      // The loader or linker could not adjust the field: refuse rather than
      // write an address that is wrong once the file is placed.
      Error_Text("Data, item can not hold a relocatable address: ", text, length);
    }
  }
  // The item holds its value whole, or the value is refused: a byte takes
  // -128..255, a word -32768..65535, a dword any 32-bit pattern; a wider
  // item filled with zeros above its stored bytes, only what they hold
  // unsigned.
  const bool fits = k.bytes > k.stored ? value >> (8 * k.stored) == 0 : k.stored >= 8 || Imm_Fits(value, k.stored * 8);
  if (!fits) Error_Final_Text("Data, value does not fit the item: ", text, length);
  Emit_Value(value, k.stored);
  if (k.bytes > k.stored) Emit_Reserve(k.bytes - k.stored);
}

// ---- Real items ------------------------------------------------------------------

void Real_Item(uint32_t bits, const char* text, uint32_t length) {
  const uint32_t bytes = bits / 8;
  if (Struc_Is_Open()) {
    Struc_Data_Member(text, length, bits, bytes, false);
    return;
  }
  Label_Define_Pending(bits);
  if (Is_Reserve_Mark(text, length)) {
    Emit_Reserve(bytes);
    return;
  }
  uint8_t b[10];
  const int status = Real_Item_Value(text, length, bits, b);
  if (status == -1) {
    Error_Text("Unknown data item: ", text, length);
    return;
  }
  if (status != 0) Error_Text("Data, value does not fit the item: ", text, length);
  Emit_Bytes(b, bytes);
}

// ---- Reserve counts -----------------------------------------------------------------

struct Reserve_Kind {
  uint32_t unit;         // bytes per counted unit
  uint32_t bits;         // data type given to the line's label
  uint32_t placeholder;  // bytes reserved in pass 1 for a count not known yet
  bool equate_first;     // lookup order: equate then expression, or the reverse
  const char* unknown;
};

constexpr Reserve_Kind Rb_Kind{1, 8, 4, true, "Unknown data item: "};
constexpr Reserve_Kind Rw_Kind{2, 16, 4, false, "unknown data count:"};
constexpr Reserve_Kind Rd_Kind{4, 32, 4, true, "Unknown data item: "};
constexpr Reserve_Kind Rq_Kind{8, 64, 4, true, "Unknown data item: "};
constexpr Reserve_Kind Rt_Kind{10, 80, 10, false, "Unknown data item: "};
constexpr Reserve_Kind Ro_Kind{16, 128, 16, false, "unknown data count:"};

bool Count_Value(bool equate_first, const char* text, uint32_t length, uint64_t* count) {
  if (equate_first && Equ_Find(text, length, count) >= 0) return true;
  Eval_Result r = Eval_Value(text, length);
  if (r.status == 0) {
    *count = r.value;
    return true;
  }
  return !equate_first && Equ_Find(text, length, count) >= 0;
}

void Reserve_Count(const Reserve_Kind& k, const char* text, uint32_t length) {
  Parser.Parser_Mode = 0;
  if (Struc_Is_Open()) {
    Struc_Data_Member(text, length, k.bits, k.unit, true);
    return;
  }
  Label_Define_Pending(k.bits);
  uint64_t count = 0;
  bool known = Count_Value(k.equate_first, text, length, &count);
  // A count is good when it is not negative and its bytes stay below 4 GiB.
  if (known && static_cast<int64_t>(count) >= 0 && count <= 0xFFFFFFFFull / k.unit) {
    Emit_Reserve(static_cast<uint32_t>(count) * k.unit);
    return;
  }
  // Pass 1 may not know the count yet (or see a provisional value): keep a
  // placeholder; later passes refuse it and do not move.
  if (Pass.Pass_Number == 1) Emit_Reserve(k.placeholder);
  else if (known && static_cast<int64_t>(count) >= 0) Error_Text("Reserve count is too big: ", text, length);
  else Error_Text(k.unknown, text, length);
}

}  // namespace

// ---- Keyword handlers ----------------------------------------------------------------

void Dir_Db(const Keyword_Entry*) { Parser.Parser_Mode = Mode_Data_Db; }
void Dir_Du(const Keyword_Entry*) { Parser.Parser_Mode = Mode_Data_Du; }
void Dir_Dw(const Keyword_Entry*) { Parser.Parser_Mode = Mode_Data_Dw; }
void Dir_Dd(const Keyword_Entry*) { Parser.Parser_Mode = Mode_Data_Dd; }
void Dir_Dq(const Keyword_Entry*) { Parser.Parser_Mode = Mode_Data_Dq; }
void Dir_Dt(const Keyword_Entry*) { Parser.Parser_Mode = Mode_Data_Dt; }
void Dir_Real4(const Keyword_Entry*) { Parser.Parser_Mode = Mode_Data_Real4; }
void Dir_Real8(const Keyword_Entry*) { Parser.Parser_Mode = Mode_Data_Real8; }
void Dir_Real10(const Keyword_Entry*) { Parser.Parser_Mode = Mode_Data_Real10; }
void Dir_Rb(const Keyword_Entry*) { Parser.Parser_Mode = Mode_Reserve_Rb; }
void Dir_Rw(const Keyword_Entry*) { Parser.Parser_Mode = Mode_Reserve_Rw; }
void Dir_Rd(const Keyword_Entry*) { Parser.Parser_Mode = Mode_Reserve_Rd; }
void Dir_Rq(const Keyword_Entry*) { Parser.Parser_Mode = Mode_Reserve_Rq; }
void Dir_Rt(const Keyword_Entry*) { Parser.Parser_Mode = Mode_Reserve_Rt; }
void Dir_Ro(const Keyword_Entry*) { Parser.Parser_Mode = Mode_Reserve_Ro; }

// ---- Item handlers ----------------------------------------------------------------------

void DB_Item(const char* text, uint32_t length) { Data_Item(Db_Kind, text, length); }
void DW_Item(const char* text, uint32_t length) { Data_Item(Dw_Kind, text, length); }
void DD_Item(const char* text, uint32_t length) { Data_Item(Dd_Kind, text, length); }
void DQ_Item(const char* text, uint32_t length) { Data_Item(Dq_Kind, text, length); }
void DT_Item(const char* text, uint32_t length) { Data_Item(Dt_Kind, text, length); }
void Real4_Item(const char* text, uint32_t length) { Real_Item(32, text, length); }
void Real8_Item(const char* text, uint32_t length) { Real_Item(64, text, length); }
void Real10_Item(const char* text, uint32_t length) { Real_Item(80, text, length); }

void RB_Count(const char* text, uint32_t length) { Reserve_Count(Rb_Kind, text, length); }
void RW_Count(const char* text, uint32_t length) { Reserve_Count(Rw_Kind, text, length); }
void RD_Count(const char* text, uint32_t length) { Reserve_Count(Rd_Kind, text, length); }
void RQ_Count(const char* text, uint32_t length) { Reserve_Count(Rq_Kind, text, length); }
void RT_Count(const char* text, uint32_t length) { Reserve_Count(Rt_Kind, text, length); }
void RO_Count(const char* text, uint32_t length) { Reserve_Count(Ro_Kind, text, length); }

// ---- Strings ------------------------------------------------------------------------------

void DB_String(const char* text, uint32_t length) {
  if (Struc_Is_Open()) {
    Struc_Data_Member(text, length, 8, 1, false);
    return;
  }
  Label_Define_Pending(8);
  if (length <= 2) {
    Error_Text("DB, empty string: ", text, length);
    return;
  }
  Emit_Bytes(text + 1, length - 2);
}

// UTF-8 to UTF-16LE for one- and two-byte sequences. On a fault the units
// written so far stay and the rest of the string is dropped.
void DU_String(const char* text, uint32_t length) {
  if (Struc_Is_Open()) {
    Struc_Data_Member(text, length, 8, 2, false);
    return;
  }
  Label_Define_Pending(8);
  if (length <= 2) {
    Error_Text("DU, empty string: ", text, length);
    return;
  }
  const char* s = text + 1;
  const uint32_t n = length - 2;
  uint32_t i = 0;
  while (i < n) {
    const uint32_t c = static_cast<uint8_t>(s[i]);
    if (c < 0x80) {
      Emit_U16(c);
      i += 1;
      continue;
    }
    if (c >= 0xE0 && c <= 0xF7) {  // a three- or four-byte lead
      Error_Text("DU, UTF-8 sequence longer than two bytes: ", s + i, n - i);
      return;
    }
    if (c < 0xC0 || c > 0xF7) {  // a continuation byte, or no UTF-8 byte at all, where a character starts
      Error_Text("DU, UTF-8 bad lead byte: ", s + i, n - i);
      return;
    }
    if (i + 1 >= n) {
      Error_Msg("DU, UTF-8 truncated encoding.");
      return;
    }
    const uint32_t d = static_cast<uint8_t>(s[i + 1]);
    if ((d & 0xC0) != 0x80) {
      Error_Msg("DU, UTF-8 bad encoding of extra bytes.");
      return;
    }
    Emit_U16(((c & 0x1F) << 6) | (d & 0x3F));
    i += 2;
  }
}

// ---- Parser modes of the data directives -------------------------------------------------

namespace {
const Mode_Handler Data_Words[] = {
    {Mode_Data_Db, DB_Item},          {Mode_Data_Du, DW_Item},        {Mode_Data_Dw, DW_Item},
    {Mode_Data_Dd, DD_Item},          {Mode_Data_Dq, DQ_Item},        {Mode_Data_Dt, DT_Item},
    {Mode_Data_Real4, Real4_Item},    {Mode_Data_Real8, Real8_Item},  {Mode_Data_Real10, Real10_Item},
    {Mode_Reserve_Rb, RB_Count},      {Mode_Reserve_Rw, RW_Count},    {Mode_Reserve_Rd, RD_Count},
    {Mode_Reserve_Rq, RQ_Count},      {Mode_Reserve_Rt, RT_Count},    {Mode_Reserve_Ro, RO_Count},
};
const Mode_Handler Data_Strings[] = {
    {Mode_Data_Db, DB_String},
    {Mode_Data_Du, DU_String},
};
}  // namespace
extern const Mode_Table Data_Mode_Table = {
    "data", Data_Words, sizeof Data_Words / sizeof Data_Words[0], nullptr, 0,
    Data_Strings, sizeof Data_Strings / sizeof Data_Strings[0]};
