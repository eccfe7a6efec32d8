// What the shell UI's tests add to the shared GUI helpers: the tray icon's place on screen,
// steps run inside a modal loop, and the event sequence WaitEvent produces.
#pragma once

#include "gui_support.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The host path of a file next to the test program.
std::string BesideProgram(const std::string& name);

// Screen position as xdotool arguments.
std::string At(POINT p);

// The centre of the first icon in Wine's tray window; false when there is no tray window.
bool TrayIconCentre(POINT* centre);

// Runs step on this thread every 50 ms while a modal loop (menu, requester) blocks the test,
// until step returns true. Every modal loop dispatches thread timers.
void WhileBlocked(std::function<bool()> step);

struct SeenEvent {
    int64_t code, type, object;
};
// Calls WaitEvent until nothing more arrives within quietMs (or totalMs ran out).
std::vector<SeenEvent> CollectEvents(int quietMs = 600, int totalMs = 8000);
