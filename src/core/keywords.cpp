// Keyword and register tables: loading, hashed lookup without regard to case.
#include "core/keywords.h"

#include "core/diag.h"
#include "core/dispatch.h"
#include "core/platform/platform.h"
#include "core/text.h"

Keyword_State Keywords;

namespace {

template <class Entry>
int Table_Create(Entry** entries, int32_t* count, uint32_t capacity) {
  *entries = static_cast<Entry*>(Mem_Alloc(capacity * static_cast<uint32_t>(sizeof(Entry))));
  *count = -1;
  if (!*entries) {
    Print_Err("\r\n**Error** Parser init: not enough memory for the keyword tables\r\n");
    Diag.Error_Count += 1;
    Diag.Stop_Flag += 1;
    return -1;
  }
  return 0;
}

template <class Entry>
void Table_Free(Entry** entries, int32_t* count, uint32_t capacity) {
  if (*entries) Mem_Free(*entries, 0, capacity * static_cast<uint32_t>(sizeof(Entry)));
  *entries = nullptr;
  *count = -1;
}

const char* Keyword_Name(uint32_t i) { return Builtin_Keywords[i].name; }
const char* Register_Name(uint32_t i) { return Builtin_Registers[i].name; }

}  // namespace

// ---- Keywords ---------------------------------------------------------------

int Keyword_Table_Create() { return Table_Create(&Keywords.Keywords, &Keywords.Keyword_Count, Keyword_Capacity); }

void Keyword_Table_Free() { Table_Free(&Keywords.Keywords, &Keywords.Keyword_Count, Keyword_Capacity); }

int32_t Keyword_Add(uint32_t length, const char* name, uint32_t kind, Keyword_Handler handler,
                    const uint32_t payload[4]) {
  Keyword_State& k = Keywords;
  if (!k.Keywords) return -1;
  int32_t index = k.Keyword_Count + 1;
  if (index >= static_cast<int32_t>(Keyword_Capacity) || length == 0 || length >= sizeof(Keyword_Entry{}.name)) {
    Error_Text("\r\nParser init: Can not add more tokens: ", name, length);
    return -1;
  }
  Keyword_Entry& e = k.Keywords[index];
  Str_Copy_Nr(name, e.name, length);
  e.name_length = length;
  e.use_count = 0;
  e.kind = kind;
  e.handler = handler;
  for (int i = 0; i < 4; ++i) e.payload[i] = payload[i];
  e.next = -1;
  k.Keyword_Count = index;
  return index;
}

void Keyword_Table_Fill() {
  for (uint32_t i = 0; i < Builtin_Keyword_Count; ++i) {
    const Keyword_Record& r = Builtin_Keywords[i];
    Keyword_Add(Str_Len(r.name), r.name, r.kind, Keyword_Handler_Of(r.handler), r.payload);
  }
}

int Keyword_Find(const char* text, uint32_t length) {
  Keyword_State& k = Keywords;
  if (!k.Keywords) return -1;
  // Entry i is built-in record i (Keyword_Table_Fill adds them in order).
  int32_t i = Keyword_Names.Find(text, length, Keyword_Name);
  if (i < 0 || i > k.Keyword_Count) return -1;
  Keyword_Entry& e = k.Keywords[i];
  e.use_count += 1;
  k.Keyword_Hit_Kind = e.kind;
  k.Keyword_Hit_Entry = &e;
  return 0;
}

void Keyword_Run(const Keyword_Entry* entry) {
  if (entry->handler) {
    entry->handler(entry);
    return;
  }
  char message[64];
  Str_Format(message, sizeof message, "%s: not implemented", {entry->name});
  Error_Msg(message);
  Not_Implemented_Skip_Statement();
}

// ---- Registers ----------------------------------------------------------------

int Register_Table_Create() { return Table_Create(&Keywords.Registers, &Keywords.Register_Count, Register_Capacity); }

void Register_Table_Free() { Table_Free(&Keywords.Registers, &Keywords.Register_Count, Register_Capacity); }

int32_t Register_Add(uint32_t length, const char* name, uint32_t size, uint32_t number, uint32_t reg_class) {
  Keyword_State& k = Keywords;
  if (!k.Registers) return -1;
  int32_t index = k.Register_Count + 1;
  if (index >= static_cast<int32_t>(Register_Capacity) || length == 0 || length >= sizeof(Register_Entry{}.name)) {
    Error_Text("\r\nParser: Can not add more registers: ", name, length);
    return -1;
  }
  Register_Entry& e = k.Registers[index];
  Str_Copy_Nr(name, e.name, length);
  e.name_length = length;
  e.use_count = 0;
  e.size = size;
  e.number = number;
  e.reg_class = reg_class;
  e.next = -1;
  k.Register_Count = index;
  return index;
}

void Register_Table_Fill() {
  for (uint32_t i = 0; i < Builtin_Register_Count; ++i) {
    const Register_Record& r = Builtin_Registers[i];
    Register_Add(Str_Len(r.name), r.name, r.size, r.number, r.reg_class);
  }
}

int32_t Builtin_Register_Index(const char* text, uint32_t length) {
  return Register_Names.Find(text, length, Register_Name);
}

int Register_Find(const char* text, uint32_t length, Register_Hit* hit) {
  Keyword_State& k = Keywords;
  if (!k.Registers) return -1;
  // Entry i is built-in record i (Register_Table_Fill adds them in order).
  int32_t i = Builtin_Register_Index(text, length);
  if (i < 0 || i > k.Register_Count) return -1;
  Register_Entry& e = k.Registers[i];
  e.use_count += 1;
  if (hit) {
    hit->size = e.size;
    hit->number = e.number;
    hit->reg_class = e.reg_class;
    hit->entry = i;
  }
  return 0;
}

// ---- Short lists ----------------------------------------------------------------

const Short_Keyword* Keyword_List_Find(const char* text, uint32_t length, const Short_Keyword* list,
                                       uint32_t count) {
  if (length == 0) return nullptr;
  const char first = Lower_Ascii(text[0]);  // names are stored in lower case
  for (uint32_t i = 0; i < count; ++i)
    if (list[i].name[0] == first && Str_Equal_Lower(text, length, list[i].name, Str_Len(list[i].name))) return &list[i];
  return nullptr;
}
