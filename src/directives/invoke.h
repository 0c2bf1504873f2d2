// INVOKE: the entry points the core calls.
#pragma once

bool Invoke_Pending();
void Invoke_Expand();
