// Run-time control structures are not assembled by this build yet.
#include "directives/flow.h"

bool If_Line_End_Pending() { return false; }
void If_Line_End() {}
void Flow_Until_Line_End() {}
void Flow_While_Line_End() {}
void Flow_File_End_Checks() {}
