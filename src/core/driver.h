// Driver: the program's entry. Joins the arguments into one command line, has
// it applied, prints the banner and help, assembles and prints statistics.
#pragma once
#include <cstdint>

constexpr uint32_t Command_Line_Size = 4096;
// The banner's first line; the listing's header starts with it too.
constexpr const char* Program_Title = "Quarn Assembler version 0.36.28";

struct Driver_State {
  int Arg_Count = 0;
  char** Arg_Vector = nullptr;
  char Command_Line_Text[Command_Line_Size] = {};
  uint32_t Time_Start_Ms = 0;
  uint32_t Time_End_Ms = 0;
  uint32_t Missing_Name = 0;  // a file name was missing: the run failed
};
extern Driver_State Driver;

// Runs the whole program and returns its exit code: 1 when anything was
// reported as an error, else 0.
int Main_Driver(int argc, char** argv);

void Print_Banner();
void Print_Build_Date();
int Print_Help();
void Print_Statistics();
