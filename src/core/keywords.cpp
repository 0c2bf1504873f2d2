// Keyword and register tables: loading, hashed lookup without regard to case.
#include "core/keywords.h"

#include "core/diag.h"
#include "core/dispatch.h"
#include "core/platform/platform.h"
#include "core/text.h"

Keyword_State Keywords;

namespace {

// Case-insensitive equality as the tables define it: both sides OR 20h.
bool Equal_Or20(const char* a, const char* b, uint32_t length) {
  for (uint32_t i = 0; i < length; ++i)
    if ((static_cast<uint8_t>(a[i]) | 0x20u) != (static_cast<uint8_t>(b[i]) | 0x20u)) return false;
  return true;
}

template <class Entry>
int Table_Create(Entry** entries, int32_t** heads, int32_t* count, uint32_t capacity) {
  *entries = static_cast<Entry*>(Mem_Alloc(capacity * static_cast<uint32_t>(sizeof(Entry))));
  *heads = static_cast<int32_t*>(Mem_Alloc((Hash_Heads + 2) * static_cast<uint32_t>(sizeof(int32_t))));
  *count = -1;
  if (!*entries || !*heads) {
    Print_Err("\r\n**Error** Parser init: not enough memory for the keyword tables\r\n");
    Diag.Error_Count += 1;
    Diag.Stop_Flag += 1;
    return -1;
  }
  Mem_Fill(*heads, 0xFF, (Hash_Heads + 1) * static_cast<uint32_t>(sizeof(int32_t)));  // every head -1
  return 0;
}

template <class Entry>
void Table_Free(Entry** entries, int32_t** heads, int32_t* count, uint32_t capacity) {
  if (*entries) Mem_Free(*entries, 0, capacity * static_cast<uint32_t>(sizeof(Entry)));
  if (*heads) Mem_Free(*heads, 0, (Hash_Heads + 2) * static_cast<uint32_t>(sizeof(int32_t)));
  *entries = nullptr;
  *heads = nullptr;
  *count = -1;
}

template <class Entry>
int32_t Table_Find(const Entry* entries, const int32_t* heads, const Name_Filter& filter, const char* text,
                   uint32_t length) {
  if (!entries || length == 0) return -1;
  if (!filter.May_Hold(static_cast<uint8_t>(text[0] | 0x20), length)) return -1;
  for (int32_t i = heads[Symbol_Hash_NoCase(text, length)]; i >= 0; i = entries[i].next) {
    const Entry& e = entries[i];
    if (e.name_length == length && Equal_Or20(e.name, text, length)) return i;
  }
  return -1;
}

}  // namespace

// ---- Keywords ---------------------------------------------------------------

int Keyword_Table_Create() {
  Keywords.Keyword_Filter = Name_Filter{};
  return Table_Create(&Keywords.Keywords, &Keywords.Keyword_Heads, &Keywords.Keyword_Count, Keyword_Capacity);
}

void Keyword_Table_Free() {
  Table_Free(&Keywords.Keywords, &Keywords.Keyword_Heads, &Keywords.Keyword_Count, Keyword_Capacity);
}

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
  uint16_t h = Symbol_Hash_NoCase(name, length);
  e.next = k.Keyword_Heads[h];
  k.Keyword_Heads[h] = index;
  k.Keyword_Filter.Add(static_cast<uint8_t>(name[0] | 0x20), length);
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
  int32_t i = Table_Find(k.Keywords, k.Keyword_Heads, k.Keyword_Filter, text, length);
  if (i < 0) return -1;
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

int Register_Table_Create() {
  Keywords.Register_Filter = Name_Filter{};
  return Table_Create(&Keywords.Registers, &Keywords.Register_Heads, &Keywords.Register_Count, Register_Capacity);
}

void Register_Table_Free() {
  Table_Free(&Keywords.Registers, &Keywords.Register_Heads, &Keywords.Register_Count, Register_Capacity);
}

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
  uint16_t h = Symbol_Hash_NoCase(name, length);
  e.next = k.Register_Heads[h];
  k.Register_Heads[h] = index;
  k.Register_Filter.Add(static_cast<uint8_t>(name[0] | 0x20), length);
  k.Register_Count = index;
  return index;
}

void Register_Table_Fill() {
  for (uint32_t i = 0; i < Builtin_Register_Count; ++i) {
    const Register_Record& r = Builtin_Registers[i];
    Register_Add(Str_Len(r.name), r.name, r.size, r.number, r.reg_class);
  }
}

int Register_Find(const char* text, uint32_t length, Register_Hit* hit) {
  Keyword_State& k = Keywords;
  int32_t i = Table_Find(k.Registers, k.Register_Heads, k.Register_Filter, text, length);
  if (i < 0) return -1;
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
