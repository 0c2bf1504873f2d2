// Assembling a file: creates the tables, runs the pass loop until nothing
// changes, writes the output and frees the tables.
#pragma once
#include <cstdint>

constexpr uint32_t Min_Passes = 2;
constexpr uint32_t Max_Passes = 255;

struct Pass_State {
  uint32_t Pass_Number = 1;
  uint32_t Change_Counter = 0;
  uint32_t Line_Counter = 0;
  uint32_t Exit_Code = 0;
  // Range checks that failed in this pass against addresses that may still
  // move (LOOP's reach). A pass that changes nothing is followed by one more
  // with the same addresses, which reports them (Addresses_Settled).
  uint32_t Range_Deferred = 0;
  uint32_t Addresses_Settled = 0;
};
extern Pass_State Pass;

void Assemble_File();
int Assemble_Passes();

// Puts every component's state back to its start-up value, so that one
// process can run many assemblies (tests, the fuzzer).
void Reset_All_State();
