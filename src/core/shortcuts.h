// The assembler's short cuts (plain operand forms, whole words in one
// scanner step, copies not made) give exactly what the general road they
// leave would give. QRN_NO_CACHE=1 in the environment turns them all off, so
// that the test suites can run both ways and compare.
#pragma once

struct Shortcut_State {
  bool off = false;
};
extern Shortcut_State Shortcuts;

inline bool Shortcuts_On() { return !Shortcuts.off; }
