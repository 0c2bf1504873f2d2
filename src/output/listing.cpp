// The listing file is not written by this build yet; the listing pass runs.
#include "output/listing.h"

Listing_State Listing;

void Listing_Open() {}
void Listing_Close() {}
void Listing_Line() {}
void Listing_Line_Text(const char*) {}
void Listing_Line_Start(const char*) {}
void Listing_Bytes() {}
void Listing_Text(const char*) {}
