// Source scanner: loads a source file whole and cuts text into tokens and
// statements. Generated text (macro bodies, INVOKE lines, text equates) goes
// through the same Parse_Buffer, recursively.
#pragma once
#include <cstdint>

// Parse_Buffer flags.
enum : uint32_t {
  Parse_Not_File = 1,    // no line counting, no line table
  Parse_Keep_Mode = 2,   // keep Parser_Mode (else it starts at 0)
  Parse_Macro_Body = 4,  // line feeds advance the innermost macro call's line
};

constexpr uint32_t Parse_Depth_Limit = 64;
constexpr uint32_t Source_File_Limit = 0x40000000;  // 1 GiB

// Where tokens go: the statement dispatcher, or a test's recorder.
struct Token_Sink {
  void (*word)(const char* text, uint32_t length);
  void (*string)(const char* text, uint32_t length);
  void (*bracket)(const char* text, uint32_t length);
  void (*statement_end)();
};
// nullptr restores the dispatcher.
void Scanner_Set_Sink(const Token_Sink* sink);

// The buffer being scanned (text nullptr outside any): a body captured over
// several statements must end in the buffer where it began.
struct Scan_Buffer {
  const char* text;
  uint32_t length;
  uint32_t serial;  // distinct for every Parse_Buffer call of the run
};
Scan_Buffer Scanner_Current_Buffer();

// Where the line being scanned began in the innermost buffer: its text and
// the section position there. Renewed at each buffer start and after each
// line feed; the listing and the line table read it at a statement's end.
struct Line_Start {
  const char* text;
  uint32_t section;       // Current_Section
  uint32_t write_offset;  // Section_Write_Offset
  uint32_t address;       // Location_Counter
};
const Line_Start& Scanner_Line_Start();

// Generated text and included files are budgeted, so that no source runs
// without end: one expansion, with everything it expands into, takes at most
// Expansion_Cap bytes, and the expansions and included files of a pass
// together Pass_Expansion_Cap bytes (an included file counts at least
// Include_Least_Bytes: opening and reading it costs that much). Over a cap:
// "Expansion too big: " with the name, and the pass stops.
constexpr uint64_t Expansion_Cap = 16u << 20;
constexpr uint64_t Pass_Expansion_Cap = 256u << 20;
constexpr uint64_t Include_Least_Bytes = 4096;
// Bytes the next expansion may take before a cap is reached.
uint64_t Expansion_Room();
// Charges an expansion of `size` bytes that is parsed next; true when it fits.
// Every charged expansion is closed with Expansion_Leave after its parse.
bool Expansion_Enter(uint64_t size, const char* name, uint32_t length);
void Expansion_Leave();
void Expansion_Reset_Pass();
// Reports an expansion that can not fit the budget and stops the pass.
void Expansion_Refused(const char* name, uint32_t length);

int Parse_Source_File(const char* path);
// Frees the buffer block the main file keeps from pass to pass (after the
// last pass, and with the other tables).
void Scanner_Release_Buffers();
int Parse_Buffer(const char* text, uint32_t length, uint32_t flags);
