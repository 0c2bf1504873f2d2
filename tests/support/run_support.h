// Runs the assembler in-process on a source text, with the console captured
// and the output file read back. Each run happens in a private temporary
// directory, under the names t.asm and t.bin.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct Run_Result {
  int exit_code = 0;
  std::string out;
  std::string err;
  bool output_exists = false;
  std::vector<uint8_t> output;
};

// `args` come before the two file names; extra files can be written first.
Run_Result Run_Assembler(const std::string& source, const std::vector<std::string>& args);
// Runs with an explicit argument vector (argv[0] is added).
Run_Result Run_Command(const std::vector<std::string>& args);
// Writes a file into the run directory.
void Write_Run_File(const std::string& name, const std::string& content);
std::string Run_Directory();

// "41 42 0A" from bytes, and back (blanks and line ends ignored).
std::string Hex_Of(const std::vector<uint8_t>& bytes);
bool Parse_Hex(const std::string& text, std::vector<uint8_t>* bytes);
// Makes \r \n \t and \\ visible.
std::string Visible(const std::string& text);
