// Include-file and source-line tables, and the info lists.
#pragma once

void File_Table_Create();
void File_Table_Free();
void File_Table_Add(const char* path);
void Line_Table_Add();
void Line_Table_Free();
void Info_Lists_Write();
void Info_Sections();
