// The small decisions behind the command line and the menu, kept apart from the windows
// so that they can be checked on their own.
#pragma once

#include <cstdint>

// The parameters joined by single spaces, trailing spaces removed. Temporary string.
const char16_t* BuildParameterLine();

// True when the whole parameter line, in any case, is "/silent".
bool IsSilentStart(const char16_t* parameterLine);

// The warning speed for a text entered in the speed dialog: its number (decimal, "$" hex,
// "%" binary; no digits read as 0), raised to the floor.
int64_t SpeedFromEntry(const char16_t* text);

// A menu switch: any nonzero value turns off, zero turns on. Hand-edited files may hold
// values other than 0 and 1, and those must switch off too.
int64_t Switched(int64_t value);
