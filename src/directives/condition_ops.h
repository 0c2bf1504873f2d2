// The condition operators shared by `#if` and the run-time .if/.while
// generators: comparisons (kind 1) and the joining words (kind 2).
#pragma once
#include <cstdint>

struct Condition_Operator {
  uint32_t length;
  const char* name;  // lower case
  uint32_t kind;     // 1 comparison or flag test, 2 `.and.`/`.or.`
  uint32_t code;
};

extern const Condition_Operator Condition_Operator_List[];
extern const uint32_t Condition_Operator_Count;

// 0 and the hit's kind and code, or -1 (the name is compared without case).
int If_Condition_Find(const char* text, uint32_t length, uint32_t* kind, uint32_t* code);
