// fb, fw, fd, fq and fs.
#include "directives/fill.h"

#include "core/assemble.h"
#include "core/cmdline.h"
#include "core/diag.h"
#include "core/dispatch.h"
#include "core/expr.h"
#include "core/keywords.h"
#include "core/operands.h"
#include "core/symbols.h"
#include "directives/struc.h"
#include "encode/modrm.h"
#include "output/sections.h"

namespace {

struct Fill_Kind {
  uint32_t unit;  // bytes per item; 0: the structure's size (fs)
  uint32_t fill_mode;
  const char* unknown_count;
  const char* too_big;
  const char* in_struc;
  const char* unknown_value;
};

const Fill_Kind Fb{1, Mode_Fb_Fill, "FB, unknown count: ", "FB, count is too big for section memory: ",
                   "FB, can not use in structures: ", "FB, unknown fill data: "};
const Fill_Kind Fw{2, Mode_Fw_Fill, "FW, unknown count: ", "FW, count is too big for section memory: ",
                   "FW, can not use in structures: ", "FB, unknown fill data: "};
const Fill_Kind Fd{4, Mode_Fd_Fill, "FD, unknown count: ", "FD, count is too big for section memory: ",
                   "FD, can not use in structures: ", "FD, unknown fill data: "};
const Fill_Kind Fq{8, Mode_Fq_Fill, "FQ, unknown count: ", "FQ, count is too big for section memory: ",
                   "FQ, can not use in structures: ", "FQ, unknown fill data: "};
const Fill_Kind Fs{0, Mode_Fs_Fill, "FS, unknown count: ", "FS, count is too big for section memory: ",
                   "FS, can not use in structures: ", "FS, unknown fill data: "};

struct Fill_State {
  uint64_t count = 0;
  uint32_t struc_size = 0;
} Fill;

bool Value_Of(const char* text, uint32_t length, uint64_t* value, bool* address = nullptr) {
  if (address) *address = false;
  if (Equ_Find(text, length, value) >= 0) return true;
  Eval_Result r = Eval_Value(text, length);
  *value = r.value;
  if (address) *address = Expr.Expr_Relocatable != 0;
  return r.status == 0;
}

void End_Statement() {
  Params.pending_name = nullptr;
  Params.pending_length = 0;
  Parser.Parser_Mode = Mode_Skip_Statement;
}

uint64_t Bytes_Per_Item(const Fill_Kind& k) { return k.unit ? k.unit : Fill.struc_size; }

void Fill_Count(const Fill_Kind& k, const char* text, uint32_t length) {
  if (Struc_Is_Open()) {
    Error_Text(k.in_struc, text, length);
    Diag.Stop_Flag += 1;
    End_Statement();
    return;
  }
  uint64_t count = 0;
  if (!Value_Of(text, length, &count)) {
    if (Pass.Pass_Number > 1) {
      Error_Text(k.unknown_count, text, length);
      End_Statement();
      return;
    }
    count = 16;
  }
  // Every item is written: the bytes must exist before the first one is.
  const uint64_t unit = Bytes_Per_Item(k);
  if (static_cast<int64_t>(count) < 0 || (unit && count > 0xFFFFFFFFull / unit) ||
      !(Emit_Fits(static_cast<uint32_t>(count * unit)) || Emit_Room(static_cast<uint32_t>(count * unit)))) {
    Error_Text(k.too_big, text, length);
    Diag.Stop_Flag += 1;
    End_Statement();
    return;
  }
  Fill.count = count;
  Parser.Parser_Mode = k.fill_mode;
}

void Fill_Value(const Fill_Kind& k, const char* text, uint32_t length) {
  Parser.Parser_Mode = 0;
  const uint32_t unit = static_cast<uint32_t>(Bytes_Per_Item(k));
  const uint32_t bytes = static_cast<uint32_t>(Fill.count * unit);
  Label_Define_Pending(k.unit ? 8 * k.unit : unit);
  uint64_t value = 0;
  bool address = false;
  if (!Value_Of(text, length, &value, &address)) {
    // Pass 1 keeps the layout; later passes know every symbol.
    if (Pass.Pass_Number == 1) Emit_Reserve(bytes);
    else Error_Text(k.unknown_value, text, length);
    return;
  }
  // Each item holds the value whole; a fill records no relocation, so an
  // address has a place only in a flat binary.
  const uint32_t item = k.unit ? k.unit : 1;
  if (item < 8 && !Imm_Fits(value, item * 8)) Error_Final_Text("Fill, value does not fit the item: ", text, length);
  if (address && Options.Output_Format != Format_Binary)
    Error_Final_Text("Data, item can not hold a relocatable address: ", text, length);
  if (k.unit <= 1) {
    Emit_Repeat(static_cast<uint8_t>(value), bytes);
    return;
  }
  // A block of whole items, written as often as it fits.
  uint8_t block[4096];
  for (uint32_t i = 0; i < sizeof block; ++i) block[i] = static_cast<uint8_t>(value >> (8 * (i % k.unit)));
  uint32_t left = bytes;
  while (left) {
    const uint32_t n = left < sizeof block ? left : static_cast<uint32_t>(sizeof block);
    Emit_Bytes(block, n);
    left -= n;
  }
}

void Fs_Struc(const char* text, uint32_t length) {
  if (Struc_Is_Open()) {
    Error_Text("FQ, can not use in structures: ", text, length);
    Diag.Stop_Flag += 1;
    End_Statement();
    return;
  }
  uint32_t size = 0;
  if (!Struc_Size_Of_Name(text, length, &size)) {
    if (Pass.Pass_Number > 1) {
      Error_Text("FS, unknown structure: ", text, length);
      End_Statement();
      return;
    }
    size = 16;
  }
  Fill.struc_size = size;
  Parser.Parser_Mode = Mode_Fs_Count;
}

void Fb_Count(const char* t, uint32_t n) { Fill_Count(Fb, t, n); }
void Fw_Count(const char* t, uint32_t n) { Fill_Count(Fw, t, n); }
void Fd_Count(const char* t, uint32_t n) { Fill_Count(Fd, t, n); }
void Fq_Count(const char* t, uint32_t n) { Fill_Count(Fq, t, n); }
void Fs_Count(const char* t, uint32_t n) { Fill_Count(Fs, t, n); }
void Fb_Fill(const char* t, uint32_t n) { Fill_Value(Fb, t, n); }
void Fw_Fill(const char* t, uint32_t n) { Fill_Value(Fw, t, n); }
void Fd_Fill(const char* t, uint32_t n) { Fill_Value(Fd, t, n); }
void Fq_Fill(const char* t, uint32_t n) { Fill_Value(Fq, t, n); }
void Fs_Fill(const char* t, uint32_t n) { Fill_Value(Fs, t, n); }

}  // namespace

void Dir_Fill(const Keyword_Entry* keyword) { Parser.Parser_Mode = keyword->payload[0]; }

namespace {
const Mode_Handler Words[] = {
    {Mode_Fb_Count, Fb_Count}, {Mode_Fb_Fill, Fb_Fill}, {Mode_Fw_Count, Fw_Count}, {Mode_Fw_Fill, Fw_Fill},
    {Mode_Fd_Count, Fd_Count}, {Mode_Fd_Fill, Fd_Fill}, {Mode_Fq_Count, Fq_Count}, {Mode_Fq_Fill, Fq_Fill},
    {Mode_Fs_Struc, Fs_Struc}, {Mode_Fs_Count, Fs_Count}, {Mode_Fs_Fill, Fs_Fill},
};
}  // namespace

extern const Mode_Table Fill_Mode_Table = {"fills", Words, sizeof(Words) / sizeof(Words[0]), nullptr, 0, nullptr, 0};
