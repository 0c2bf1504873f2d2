// Condition operators, searched in this order.
#include "directives/condition_ops.h"

#include "core/text.h"

const Condition_Operator Condition_Operator_List[] = {
    {2, "==", 1, 1},         {2, "!=", 1, 2},        {1, "<", 1, 3},          {1, ">", 1, 10},
    {2, "<=", 1, 9},         {2, ">=", 1, 4},        {5, "zero?", 1, 1},      {6, "!zero?", 1, 2},
    {6, "carry?", 1, 3},     {7, "!carry?", 1, 4},   {5, "sign?", 1, 7},      {6, "!sign?", 1, 8},
    {9, "overflow?", 1, 5},  {10, "!overflow?", 1, 6}, {5, ".and.", 2, 1},    {4, ".or.", 2, 2},
    {7, "parity?", 1, 11},   {8, "!parity?", 1, 12}, {2, "&&", 2, 1},         {2, "||", 2, 2},
};
const uint32_t Condition_Operator_Count = sizeof(Condition_Operator_List) / sizeof(Condition_Operator_List[0]);

int If_Condition_Find(const char* text, uint32_t length, uint32_t* kind, uint32_t* code) {
  for (uint32_t i = 0; i < Condition_Operator_Count; ++i) {
    const Condition_Operator& o = Condition_Operator_List[i];
    if (Str_Equal_Lower(text, length, o.name, o.length)) {
      *kind = o.kind;
      *code = o.code;
      return 0;
    }
  }
  return -1;
}
