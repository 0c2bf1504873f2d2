// Resource scripts. Entry points: the keyword handlers Dir_Dialogex ...
// Dir_Emit_Rsrc, the parameter handlers of Resource_Mode_Table, and the pass
// and file hooks. Every pass describes the resources anew; `emit_rsrc` builds
// a template in memory and writes it through the checked emitter at once.
//
// A dialog is one DIALOGEX header and its controls; a menu is one MENUEX
// header and its items in creation order, each level's last item marked 80h.
#include "directives/resource.h"

#include "core/assemble.h"
#include "core/diag.h"
#include "core/dispatch.h"
#include "core/expr.h"
#include "core/keywords.h"
#include "core/operands.h"
#include "core/symbols.h"
#include "output/sections.h"

Resource_State Resources;

namespace {

Resource_Record* Current() {
  Resource_State& rs = Resources;
  if (rs.Resource_Current < 0) return nullptr;
  return &rs.Records[static_cast<size_t>(rs.Resource_Current)];
}

void Reset_Script() {
  Resource_State& rs = Resources;
  rs.Resource_Current = -1;
  rs.Rsrc_Level = -1;
  rs.Rsrc_Menu_Current = -1;
  rs.Rsrc_Dialog_Current = -1;
  rs.Rsrc_Item_Param = 0;
  rs.Rsrc_Item_Is_Popup = false;
  rs.Rsrc_Control_Param = 0;
  rs.Rsrc_Dialog_Param = 0;
  rs.Define_Target = -1;
}

// A number parameter: an expression that is known now (IDs and #define
// values do not wait for later passes).
bool Number_Of(const char* text, uint32_t length, uint64_t* value) {
  Eval_Result r = Eval_Value(text, length);
  if (r.status != 0) return false;
  *value = r.value;
  return true;
}

// The text between the quotes of a string token.
std::string Unquoted(const char* text, uint32_t length) {
  return length >= 2 ? std::string(text + 1, length - 2) : std::string();
}

void Skip_Rest() { Parser.Parser_Mode = Mode_Skip_Statement; }

// ---- Template bytes ------------------------------------------------------------------

struct Template_Bytes {
  uint32_t at;  // section offset of the first byte: padding aligns the write position
  std::vector<uint8_t> b;

  void U16(uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
  }
  void U32(uint32_t v) {
    U16(v);
    U16(v >> 16);
  }
  void Align(uint32_t n) {
    while ((at + b.size()) % n != 0) b.push_back(0);
  }
};

// Valid UTF-8 becomes UTF-16 (a surrogate pair above U+FFFF); any other byte
// is widened as it stands, one unit per byte.
void Put_Text(Template_Bytes& t, const std::string& s) {
  const size_t n = s.size();
  size_t i = 0;
  while (i < n) {
    const uint32_t c = static_cast<uint8_t>(s[i]);
    uint32_t code = c, used = 1;
    if (c >= 0xC2 && c <= 0xF4) {
      const uint32_t more = c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
      const uint32_t least = more == 1 ? 0x80 : more == 2 ? 0x800 : 0x10000;
      uint32_t v = c & (0x3Fu >> more);
      bool ok = i + more < n;
      for (uint32_t k = 1; ok && k <= more; ++k) {
        const uint32_t d = static_cast<uint8_t>(s[i + k]);
        ok = (d & 0xC0) == 0x80;
        v = (v << 6) | (d & 0x3F);
      }
      if (ok && v >= least && v <= 0x10FFFF && (v < 0xD800 || v > 0xDFFF)) code = v, used = more + 1;
    }
    if (code >= 0x10000) {
      t.U16(0xD800 + ((code - 0x10000) >> 10));
      t.U16(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      t.U16(code);
    }
    i += used;
  }
  t.U16(0);
}

std::vector<uint8_t> Dialog_Template(const Resource_Record& r, uint32_t at) {
  Template_Bytes t{at, {}};
  t.U16(1);       // version
  t.U16(0xFFFF);  // signature: an extended template
  t.U32(0);       // help ID
  t.U32(r.ex_style);
  t.U32(r.style);
  t.U16(static_cast<uint32_t>(r.controls.size()));
  t.U16(r.x), t.U16(r.y), t.U16(r.cx), t.U16(r.cy);
  t.U16(0);  // no menu
  t.U16(0);  // the standard dialog class
  Put_Text(t, r.caption);
  for (const Dialog_Control& c : r.controls) {
    t.Align(4);
    t.U32(0);  // help ID
    t.U32(c.ex_style);
    t.U32(c.style);
    t.U16(c.x), t.U16(c.y), t.U16(c.cx), t.U16(c.cy);
    t.U32(c.id);
    t.Align(2);
    Put_Text(t, c.class_name);
    t.Align(2);
    Put_Text(t, c.text);
    t.Align(2);
    t.U16(0);  // no creation data
  }
  t.U16(0);
  return t.b;
}

std::vector<uint8_t> Menu_Template(const Resource_Record& r, uint32_t at) {
  Template_Bytes t{at, {}};
  t.U16(1);  // version
  t.U16(4);  // the items start 4 bytes after this header word
  t.U32(0);  // help ID
  for (const Menu_Item& m : r.items) {
    t.U32(0);  // type: a string item (a separator has no text)
    t.U32(0);  // state
    t.U32(m.id);
    t.U16(m.flags);
    Put_Text(t, m.text);
    t.Align(4);
    if (m.flags & Menu_Popup) t.U32(0);  // the popup's help ID
  }
  return t.b;
}

void Emit_Resource(const Resource_Record& r) {
  const uint32_t at = Sections.Section_Write_Offset;
  std::vector<uint8_t> bytes;
  if (r.type == Rsrc_Dialog) {
    bytes = Dialog_Template(r, at);
  } else if (r.type == Rsrc_Menu) {
    bytes = Menu_Template(r, at);
  } else {
    Error_Msg("EMIT_RSRC: unknown resource type.");
    return;
  }
  if (bytes.size() > Section_Buffer_Limit) {
    Error_Msg("Section, not enough memory. ");
    Diag.Stop_Flag += 1;
    return;
  }
  Emit_Bytes(bytes.data(), static_cast<uint32_t>(bytes.size()));
}

// ---- Resources ------------------------------------------------------------------------

// RES: a new record of this pass, the one being described; -1 when full.
int32_t Resource_Create(uint32_t id, uint32_t type) {
  Resource_State& rs = Resources;
  if (rs.Records.size() >= Resource_Capacity) {
    Error_Msg("RES: can not create more!");
    rs.Resource_Current = -1;
    return -1;
  }
  Resource_Record r;
  r.id = id;
  r.type = type;
  rs.Records.push_back(std::move(r));
  rs.Resource_Current = static_cast<int32_t>(rs.Records.size() - 1);
  return rs.Resource_Current;
}

// `ID dialogex` / `ID menuex`: the line's pending word is the ID.
void Resource_Start(uint32_t type) {
  Params_Context& p = Params;
  Resource_State& rs = Resources;
  // A resource before the last one's END: that one is left open, and its
  // levels (item indices into its own menu) must not carry over.
  if (rs.Rsrc_Level >= 0) {
    Error_Msg("RSRC, BEGIN without END? ");
    Diag.Stop_Flag += 1;
    rs.Rsrc_Level = -1;
    rs.Rsrc_Menu_Current = rs.Rsrc_Dialog_Current = -1;
  }
  uint64_t id = 0;
  if (p.pending_length == 0) Error_Msg("DIALOGEX, expecting dialog ID. ");
  else if (!Number_Of(p.pending_name, p.pending_length, &id))
    Error_Msg(type == Rsrc_Dialog ? "DIALOGEX, dialog ID is unknown. " : "MENUEX, unknown MENU ID. ");
  p.pending_length = 0;
  p.pending_name = nullptr;
  Resource_Create(static_cast<uint32_t>(id), type);
}

void Dialogex_Param(const char* text, uint32_t length) {
  Resource_State& rs = Resources;
  const uint32_t position = rs.Rsrc_Dialog_Param++;
  if (position >= 3) Parser.Parser_Mode = 0;
  Resource_Record* r = Current();
  uint64_t v = 0;
  if (!r || position > 3 || !Number_Of(text, length, &v)) {
    Error_Text("DIALOGEX, parameter is unknown: ", text, length);
    return;
  }
  uint32_t* field[] = {&r->x, &r->y, &r->cx, &r->cy};
  *field[position] = static_cast<uint32_t>(v);
}

void Caption_String(const char* text, uint32_t length) {
  Parser.Parser_Mode = 0;
  Resource_Record* r = Current();
  if (r && length > 2) r->caption = Unquoted(text, length);
}

void Style_Value(const char* text, uint32_t length) {
  Parser.Parser_Mode = 0;
  Resource_Record* r = Current();
  uint64_t v = 0;
  if (!r || !Number_Of(text, length, &v)) {
    Error_Text("STYLE, value is unknown: ", text, length);
    return;
  }
  r->style = static_cast<uint32_t>(v);
}

// ---- Menus --------------------------------------------------------------------------------

void Item_Start(bool popup) {
  Resource_State& rs = Resources;
  rs.Next_Item = Menu_Item{};
  rs.Rsrc_Item_Param = 0;
  rs.Rsrc_Item_Is_Popup = popup;
  if (rs.Rsrc_Menu_Current < 0) {
    if (popup) Diag.Stop_Flag += 1;
    Error_Msg("POPUP, unknown parent MENU.");
    Skip_Rest();
    return;
  }
  if (rs.Rsrc_Level < 0) {
    Diag.Stop_Flag += 1;
    Error_Msg("POPUP, BEGIN is missing? ");
    Skip_Rest();
    return;
  }
  Parser.Parser_Mode = Mode_Popup_String;
}

// The item read so far joins its menu and becomes the last of its level.
void Item_Add() {
  Resource_State& rs = Resources;
  Parser.Parser_Mode = 0;
  std::vector<Menu_Item>& items = rs.Records[static_cast<size_t>(rs.Rsrc_Menu_Current)].items;
  items.push_back(std::move(rs.Next_Item));
  rs.Rsrc_Level_Last[rs.Rsrc_Level] = static_cast<int32_t>(items.size() - 1);
}

void Popup_String(const char* text, uint32_t length) {
  Resource_State& rs = Resources;
  if (rs.Rsrc_Item_Param++ != 0) {
    Error_Text("POPUP, this parameter can not be a string: ", text, length);
    return;
  }
  rs.Next_Item.text = Unquoted(text, length);
}

void Popup_Param(const char* text, uint32_t length) {
  Resource_State& rs = Resources;
  const uint32_t position = rs.Rsrc_Item_Param++;
  uint64_t v = 0;
  if (!Number_Of(text, length, &v)) {
    Error_Final_Text("POPUP, unknown parameter: ", text, length);
    return;
  }
  // Only `menuitem` makes separators: a popup's ID may well be 0.
  if (!rs.Rsrc_Item_Is_Popup && v == 0) {
    rs.Next_Item = Menu_Item{};
    Item_Add();
    return;
  }
  if (position != 1) {
    Error_Text("POPUP, this parameter can not be a number: ", text, length);
    return;
  }
  rs.Next_Item.id = static_cast<uint32_t>(v);
  rs.Next_Item.flags = rs.Rsrc_Item_Is_Popup ? uint32_t{Menu_Popup} : 0u;
  Item_Add();
}

// ---- Dialog controls ------------------------------------------------------------------------

constexpr uint32_t Control_Text = 0, Control_Class = 2, Control_Last = 8;

void Control_String(const char* text, uint32_t length) {
  Resource_State& rs = Resources;
  const uint32_t position = rs.Rsrc_Control_Param++;
  if (position != Control_Text && position != Control_Class) {
    Error_Text("CONTROL, this parameter can not be a string: ", text, length);
    return;
  }
  if (length <= 2) return;
  (position == Control_Text ? rs.Next_Control.text : rs.Next_Control.class_name) = Unquoted(text, length);
}

void Control_Param(const char* text, uint32_t length) {
  Resource_State& rs = Resources;
  const uint32_t position = rs.Rsrc_Control_Param++;
  if (position == Control_Text || position == Control_Class || position > Control_Last) {
    Error_Text("CONTROL, this parameter can not be a number: ", text, length);
    return;
  }
  uint64_t v = 0;
  if (!Number_Of(text, length, &v)) Error_Final_Text("CONTROL, parameter is unknown: ", text, length);
  Dialog_Control& c = rs.Next_Control;
  uint32_t* field[] = {nullptr, &c.id, nullptr, &c.style, &c.x, &c.y, &c.cx, &c.cy, &c.ex_style};
  *field[position] = static_cast<uint32_t>(v);
  if (position != Control_Last) return;
  Parser.Parser_Mode = 0;
  std::vector<Dialog_Control>& controls = rs.Records[static_cast<size_t>(rs.Rsrc_Dialog_Current)].controls;
  if (controls.size() >= Dialog_Control_Max) {
    Error_Text("CONTROL, too many controls: ", text, length);
    return;
  }
  controls.push_back(std::move(c));
}

// ---- #define and emit_rsrc ------------------------------------------------------------------

void Define_Name(const char* text, uint32_t length) {
  Resource_State& rs = Resources;
  Parser.Parser_Mode = Mode_Define_Value;
  rs.Define_Target = Equ_Find(text, length, nullptr);
  if (rs.Define_Target >= 0) Symbols.Equates[rs.Define_Target].use_count -= 1;  // no use of its own
  if (Pass.Pass_Number != 1) return;
  if (rs.Define_Target >= 0) Error_Text("#define already defined? : ", text, length);
  else rs.Define_Target = Equ_Create(text, length, 0, 0);
}

void Define_Value(const char* text, uint32_t length) {
  Resource_State& rs = Resources;
  Parser.Parser_Mode = 0;
  uint64_t v = 0;
  if (rs.Define_Target < 0 || !Number_Of(text, length, &v)) {
    Error_Text("#define unknown value: ", text, length);
    return;
  }
  Equ_Record& e = Symbols.Equates[rs.Define_Target];
  if (Pass.Pass_Number > 1 && e.value != v) Pass.Change_Counter += 1;
  e.value = v;
}

void RSRC_EMIT(const char* text, uint32_t length) {
  Parser.Parser_Mode = 0;
  uint64_t v = 0;
  if (!Number_Of(text, length, &v)) {
    Error_Text("RSRC_EMIT, resource ID is unknown: ", text, length);
    return;
  }
  // A script after its emit_rsrc would never be written: it is rebuilt in
  // every pass, and this pass has not read it yet.
  bool found = false;
  for (const Resource_Record& r : Resources.Records) {
    if (r.id != static_cast<uint32_t>(v)) continue;
    found = true;
    Emit_Resource(r);
  }
  if (!found) Error_Text("RSRC_EMIT, no resource with this ID: ", text, length);
}

const Mode_Handler Resource_Words[] = {
    {Mode_Define, Define_Name},          {Mode_Define_Value, Define_Value},   {Mode_Dialogex_Param, Dialogex_Param},
    {Mode_Style, Style_Value},           {Mode_Emit_Rsrc, RSRC_EMIT},         {Mode_Control_String, Control_Param},
    {Mode_Popup_String, Popup_Param},
};
const Mode_Handler Resource_Strings[] = {
    {Mode_Caption, Caption_String},
    {Mode_Control_String, Control_String},
    {Mode_Popup_String, Popup_String},
};

}  // namespace

extern const Mode_Table Resource_Mode_Table = {
    "resources", Resource_Words, sizeof Resource_Words / sizeof Resource_Words[0], nullptr, 0,
    Resource_Strings, sizeof Resource_Strings / sizeof Resource_Strings[0]};

bool Resource_Block_Open() { return Resources.Resource_Current != -1; }

void Resource_Table_Init() {
  Resources = Resource_State{};
  Resources.Records.reserve(Resource_Capacity);
}

void Resource_Table_Free() { Resources = Resource_State{}; }

void Resource_Reset_Pass() {
  Resources.Records.clear();
  Reset_Script();
}

void Resource_File_End_Checks() {
  if (Diag.Include_Depth > 0 || Diag.Stop_Flag) return;  // a stopped pass did not reach the end
  if (Resources.Rsrc_Level >= 0) Error_Msg("RSRC, BEGIN without END? ");
}

// ---- Keyword handlers -------------------------------------------------------------------------

void Dir_Dialogex(const Keyword_Entry*) {
  Resource_Start(Rsrc_Dialog);
  Resources.Rsrc_Dialog_Param = 0;
  Parser.Parser_Mode = Mode_Dialogex_Param;
}

void Dir_Menuex(const Keyword_Entry*) {
  Resource_Start(Rsrc_Menu);
  Parser.Parser_Mode = 0;
}

void Dir_Begin(const Keyword_Entry*) {
  Resource_State& rs = Resources;
  Parser.Parser_Mode = 0;
  Resource_Record* r = Current();
  if (!r) {
    Diag.Stop_Flag += 1;
    Error_Msg("BEGIN, unknown resource mode.");
    return;
  }
  if (rs.Rsrc_Level >= Rsrc_Level_Max) {
    Error_Msg("RSRC, nesting level LIMIT reached.");
    Diag.Stop_Flag += 1;
    return;
  }
  rs.Rsrc_Level += 1;
  rs.Rsrc_Level_Last[rs.Rsrc_Level] = -1;
  if (r->type == Rsrc_Dialog) {
    rs.Rsrc_Dialog_Current = rs.Resource_Current;
  } else if (r->type == Rsrc_Menu) {
    rs.Rsrc_Menu_Current = rs.Resource_Current;
  } else {
    rs.Rsrc_Dialog_Current = rs.Rsrc_Menu_Current = -1;
    Error_Msg("BEGIN, unknown resource mode.");
    Diag.Stop_Flag += 1;
  }
}

void Dir_End(const Keyword_Entry*) {
  Resource_State& rs = Resources;
  Parser.Parser_Mode = 0;
  rs.Rsrc_Dialog_Current = -1;
  if (rs.Rsrc_Level < 0) {
    Diag.Stop_Flag += 1;
    Error_Msg("RSRC, END without begin? ");
    return;
  }
  if (rs.Rsrc_Menu_Current >= 0) {
    // The level's last item ends it (a separator too): user32 reads the
    // levels by this mark alone.
    const int32_t last = rs.Rsrc_Level_Last[rs.Rsrc_Level];
    if (last < 0) {
      Diag.Stop_Flag += 1;
      Error_Msg("MENU has no items? ");
      return;
    }
    rs.Records[static_cast<size_t>(rs.Rsrc_Menu_Current)].items[static_cast<size_t>(last)].flags |= Menu_Last;
  }
  rs.Rsrc_Level -= 1;
  if (rs.Rsrc_Level < 0) rs.Rsrc_Menu_Current = rs.Rsrc_Dialog_Current = rs.Resource_Current = -1;
}

void Dir_Popup(const Keyword_Entry*) { Item_Start(true); }
void Dir_Menuitem(const Keyword_Entry*) { Item_Start(false); }

void Dir_Control(const Keyword_Entry*) {
  Resource_State& rs = Resources;
  rs.Rsrc_Control_Param = 0;
  rs.Next_Control = Dialog_Control{};
  if (rs.Rsrc_Dialog_Current < 0) {
    Error_Msg("CONTROL, should be in between BEGIN ... END. ");
    Skip_Rest();
    return;
  }
  Parser.Parser_Mode = Mode_Control_String;
}

void Dir_Emit_Rsrc(const Keyword_Entry* keyword) {
  if (!Section_Has_Buffer()) {
    Diag.Stop_Flag += 1;
    Error_Text("Attempt to generate code but no section is defined: ", keyword->name, keyword->name_length);
    Skip_Rest();
    return;
  }
  Line_First_Code(Kw_Code);  // a PROC's due prologue goes first
  Parser.Parser_Mode = Mode_Emit_Rsrc;
}
