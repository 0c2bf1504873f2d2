// RET, RETN, IRETQ, INT, LOOP and ENTER. Every form has one length in every
// pass and after every error (RET n 3, INT 2, LOOP 2, ENTER 4 bytes), so that a
// placeholder or a refused operand never moves what follows.
#include "encode/control.h"

#include "core/assemble.h"
#include "core/cmdline.h"
#include "core/diag.h"
#include "core/expr.h"
#include "core/operands.h"
#include "core/symbols.h"
#include "directives/proc.h"
#include "encode/modrm.h"
#include "output/relocs.h"
#include "output/sections.h"

namespace {

void Ret_Count(const char* text, uint32_t length) {
  Parser.Parser_Mode = 0;
  const Eval_Result e = Eval_Value(text, length);
  if (e.status != 0) {
    if (Pass.Pass_Number > 1) Error_Text("Unknown number format: ", text, length);
    Emit_Ret_N(0);
    return;
  }
  if (e.value > 0xFFFF) Error_Text(" RET, number too big ", text, length);
  Emit_Ret_N(static_cast<uint32_t>(e.value));
}

void Int_Number(const char* text, uint32_t length) {
  Parser.Parser_Mode = 0;
  const Eval_Result e = Eval_Value(text, length);
  if (e.status != 0) {
    if (Pass.Pass_Number > 1) Error_Text("INT, target unknown: ", text, length);
    Emit_Byte(0xCD);
    Emit_Byte(0x03);
    return;
  }
  if (e.value > 0xFF) Error_Text("INT, value too big: ", text, length);
  // An object's address is a section offset that the linker moves: no
  // relocation fills a byte (nor ENTER's word below).
  else if (Expr.Expr_Relocatable && Output_Is_Object()) Error_Msg(Msg_Reloc_Sizes);
  Emit_Byte(0xCD);
  Emit_Byte(static_cast<uint8_t>(e.value));
}

// In an object file a LOOP into another section has no distance yet.
void Loop_Target(const char* text, uint32_t length) {
  Parser.Parser_Mode = 0;
  uint32_t address = 0, section = Sections.Current_Section;
  bool found = Proc_Is_Open() && Local_Label_Value(text, length, &address, &section);
  if (!found) {
    Label_Hit hit;
    if (Label_Find_Any(text, length, 0, &hit) >= 0) {
      found = true;
      address = hit.address;
      section = Sections.Reloc_Target_Section;
    }
  }
  if (!found) {
    if (Pass.Pass_Number > 1) Error_Text("LOOP: target label not defined: ", text, length);
    Encode_Loop(Sections.Location_Counter, true);
    return;
  }
  Encode_Loop(address, !(Output_Is_Object() && section != Sections.Current_Section));
}

// ENTER's two operands: a known immediate each, 16 and 8 bits.
bool Enter_Operand(const char* text, uint32_t length, Operand_Record* r, uint64_t limit) {
  if (r->kind != Op_Imm) {
    Error_Text("ENTER, invalid parameter type: ", text, length);
    return false;
  }
  if (r->value > limit) {
    Error_Text("ENTER, invalid parameter value: ", text, length);
    return false;
  }
  if (r->relocatable && Output_Is_Object()) {
    Error_Msg(Msg_Reloc_Sizes);
    return false;
  }
  return true;
}

// A size keyword may only name the field's own size: `enter word 4,0` and
// `enter 4,byte 0` are what is written, `enter dword 4,0` is not.
bool Enter_Keyword_Fits(const char* text, uint32_t length, uint32_t keyword, uint32_t field) {
  if (keyword == 0 || keyword == field) return true;
  Error_Text("ENTER, invalid parameter size: ", text, length);
  return false;
}

void Enter_Size(const char* text, uint32_t length) {
  Operand_Record* r = &Params.op[0];
  const int result = Parse_Operand(text, length, r);
  if (result == 1) return;
  if (result != 0 || !Enter_Operand(text, length, r, 0xFFFF)) r->value = 0;
  // The keyword, if any, stays set for the statement: the level's check
  // below tells it from one of its own by this mark.
  r->size = Params_Keyword_Size();
  Enter_Keyword_Fits(text, length, r->size, 16);
  Parser.Parser_Mode = Mode_Enter_Level;
}

void Enter_Level(const char* text, uint32_t length) {
  Operand_Record* r = &Params.op[1];
  const int result = Parse_Operand(text, length, r);
  if (result == 1) return;
  if (result != 0 || !Enter_Operand(text, length, r, 0xFF)) r->value = 0;
  const uint32_t keyword = Params_Keyword_Size();
  if (keyword != Params.op[0].size) Enter_Keyword_Fits(text, length, keyword, 8);
  Emit_Enter(Params.op[0].low(), r->low());
  Parser.Parser_Mode = 0;
}

}  // namespace

void Emit_Ret() { Emit_Byte(0xC3); }

void Emit_Ret_N(uint32_t bytes) {
  Emit_Byte(0xC2);
  Emit_U16(bytes & 0xFFFF);
}

void Emit_Leave() { Emit_Byte(0xC9); }

void Emit_Enter(uint32_t size, uint32_t level) {
  Emit_Byte(0xC8);
  Emit_U16(size & 0xFFFF);
  Emit_Byte(static_cast<uint8_t>(level));
}

// The reach is judged on addresses that have settled: a distance measured
// while jumps before it still change their length is looked at again.
void Encode_Loop(uint32_t target, bool reachable) {
  const uint32_t d = target - (Sections.Location_Counter + 2);
  const bool reaches = d + 128u < 256u;
  if (Pass.Pass_Number > 1) {
    if (!reachable || (!reaches && Pass.Addresses_Settled)) Error_Msg("LOOP: target label is too far ");
    else if (!reaches) Pass.Range_Deferred += 1;
  }
  Emit_Byte(0xE2);
  Emit_Byte(static_cast<uint8_t>(d));
}

void Inst_Ret(const Keyword_Entry*) {
  if (Proc_Is_Open() && Proc_Block_Mode() != 0) {
    Proc_Epilogue();
    return;
  }
  Emit_Ret();
}

void Inst_Retn(const Keyword_Entry*) {
  Params_Reset();
  Parser.Parser_Mode = Mode_Retn_Count;
}

void Inst_Iretq(const Keyword_Entry*) {
  if (Mode() != Code_64) {
    Error_Msg(" IRETQ, needs 64 bits mode ");
    return;
  }
  Inst_Head h;
  Head_Size(h, 64);  // REX.W
  Head_Opcode(h, 0xCF);
  Head_Emit(h);
}

void Inst_Int(const Keyword_Entry*) {
  Params_Reset();
  Parser.Parser_Mode = Mode_Int_Number;
}

void Inst_Loop(const Keyword_Entry*) {
  Params_Reset();
  Parser.Parser_Mode = Mode_Loop_Target;
}

void Inst_Enter(const Keyword_Entry*) {
  Params_Reset();
  Parser.Parser_Mode = Mode_Enter_Size;
}

namespace {
const Mode_Handler Words[] = {
    {Mode_Retn_Count, Ret_Count},   {Mode_Int_Number, Int_Number},   {Mode_Loop_Target, Loop_Target},
    {Mode_Enter_Size, Enter_Size},  {Mode_Enter_Level, Enter_Level},
};
}  // namespace

extern const Mode_Table Control_Mode_Table = {"ret, int, loop and enter", Words, 5, nullptr, 0, nullptr, 0};
