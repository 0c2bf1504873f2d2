// Resource scripts: dialogs and menus described between `dialogex`/`menuex`
// and their last `end`, written as DIALOGEX and MENUEX templates where
// `emit_rsrc ID` stands. The script is read anew in every pass; the source
// lays out the resource directory around the templates with data directives.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

constexpr uint32_t Resource_Capacity = 512;   // resources per pass
constexpr int32_t Rsrc_Level_Max = 32;        // `begin` levels below the first
constexpr uint32_t Dialog_Control_Max = 0xFFFF;  // the template counts them in 16 bits

enum Resource_Type : uint32_t { Rsrc_Dialog = 1, Rsrc_Menu = 2 };
enum Menu_Item_Flags : uint32_t { Menu_Popup = 0x01, Menu_Last = 0x80 };

struct Menu_Item {
  std::string text;
  uint32_t id = 0;
  uint32_t flags = 0;  // Menu_Item_Flags; a separator has only Menu_Last, if any
};

struct Dialog_Control {
  std::string text;
  std::string class_name;
  uint32_t id = 0;
  uint32_t style = 0;
  uint32_t ex_style = 0;
  uint32_t x = 0, y = 0, cx = 0, cy = 0;  // written as 16 bits
};

struct Resource_Record {
  std::string caption;
  uint32_t id = 0;
  uint32_t type = 0;  // Resource_Type
  uint32_t style = 0;
  uint32_t ex_style = 0;
  uint32_t x = 0, y = 0, cx = 0, cy = 0;
  std::vector<Menu_Item> items;          // a menu's items in creation order
  std::vector<Dialog_Control> controls;  // a dialog's controls
};

struct Resource_State {
  std::vector<Resource_Record> Records;  // this pass's resources, in table order
  int32_t Resource_Current = -1;         // the resource being described; -1 outside a block
  int32_t Rsrc_Level = -1;               // open `begin` levels - 1
  int32_t Rsrc_Level_Last[Rsrc_Level_Max + 1] = {};  // per level: its last item, -1 none yet
  int32_t Rsrc_Menu_Current = -1;        // the menu or dialog that `begin` opened
  int32_t Rsrc_Dialog_Current = -1;
  uint32_t Rsrc_Item_Param = 0;          // parameter position of the current popup/menuitem
  bool Rsrc_Item_Is_Popup = false;
  uint32_t Rsrc_Control_Param = 0;
  uint32_t Rsrc_Dialog_Param = 0;
  int32_t Define_Target = -1;            // the equate the current #define sets
  Menu_Item Next_Item;                   // the item or control being read
  Dialog_Control Next_Control;
};
extern Resource_State Resources;

// True from `dialogex`/`menuex` to the last `end`: resource-script words are
// keywords only then.
bool Resource_Block_Open();

void Resource_Table_Init();
void Resource_Table_Free();
void Resource_Reset_Pass();
// At the end of the main source file: a `begin` left open.
void Resource_File_End_Checks();

struct Keyword_Entry;
void Dir_Dialogex(const Keyword_Entry* keyword);
void Dir_Menuex(const Keyword_Entry* keyword);
void Dir_Begin(const Keyword_Entry* keyword);
void Dir_End(const Keyword_Entry* keyword);
void Dir_Popup(const Keyword_Entry* keyword);
void Dir_Menuitem(const Keyword_Entry* keyword);
void Dir_Control(const Keyword_Entry* keyword);
void Dir_Emit_Rsrc(const Keyword_Entry* keyword);
