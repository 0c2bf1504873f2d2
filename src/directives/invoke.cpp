// INVOKE is not assembled by this build yet.
#include "directives/invoke.h"

bool Invoke_Pending() { return false; }
void Invoke_Expand() {}
