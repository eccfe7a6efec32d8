// The synthetic key records, for the Windows tests that check them.
#pragma once

#include <windows.h>

// The Caps Lock press and release as SendInput receives them (filled on first use).
const INPUT* CapsLockInputs();
// The Shift press and release.
const INPUT* ShiftInputs();
