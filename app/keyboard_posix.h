// The stand-in keyboard of the native builds: a Caps Lock toggle that tests set and that
// the synthetic presses act on.
#pragma once

#include <cstdint>

// Sets the toggle. With shiftLock, a Caps Lock press no longer turns Caps Lock off; a Shift
// press does (the system setting that makes Shift end Caps Lock).
void SimulatedKeyboard(bool capsOn, bool shiftLock);

// Presses sent since the last SimulatedKeyboard call.
int64_t SimulatedCapsPresses();
int64_t SimulatedShiftPresses();
