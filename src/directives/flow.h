// .IF, .WHILE and .REPEAT: the entry points the core calls.
#pragma once

bool If_Line_End_Pending();
void If_Line_End();
void Flow_Until_Line_End();
void Flow_While_Line_End();
void Flow_File_End_Checks();
