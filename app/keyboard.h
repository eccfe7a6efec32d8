// The keyboard as the watcher sees it: the Caps Lock toggle and synthetic key presses.
#pragma once

// The Caps Lock toggle state.
bool CapsLockIsOn();

// A synthetic Caps Lock press and release, which switches Caps Lock over.
void SendCapsLockPress();

// A synthetic Shift press and release: on systems set so that Shift, not Caps Lock, ends
// Caps Lock, this is what turns it off. Elsewhere it does nothing.
void SendShiftPress();
