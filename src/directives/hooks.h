// Work that the scanner hands to the directives at statement and file ends.
#pragma once
#include <cstdint>

// At each statement end: INVOKE expansion, macro expansion and the .IF line end.
void Line_End_Hooks();
void Until_Line_End();
void While_Line_End();
void Echo_Print();
// Around each source file: block state reset, and blocks left open.
void Source_File_Start_Reset();
void Source_File_End_Checks();
