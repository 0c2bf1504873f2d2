// Listing: the entry points the rest of the assembler calls.
#pragma once
#include <cstdint>

struct Listing_State {
  uint32_t Listing_On = 0;
  uint32_t Listing_Pass = 0;  // 1 during the extra listing-only pass
};
extern Listing_State Listing;

void Listing_Open();
void Listing_Close();
void Listing_Line();
void Listing_Line_Text(const char* text);
void Listing_Line_Start(const char* position);
void Listing_Bytes();
void Listing_Text(const char* text);
