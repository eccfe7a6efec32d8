// What the shell UI's tests add to the shared GUI helpers: the tray icon's place on screen and
// what Wine's tray shows, steps run inside a modal loop, the event sequence WaitEvent
// produces, and values of the test prefix's registry.
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

// Whether the shell itself knows the icon (past the tray library and its test switch):
// modifying a missing icon fails.
bool ShellHasIcon(HWND window, uint32_t shellId);

// The text of the tooltip Wine's tray shows when the pointer comes to rest on the icon;
// empty when none showed.
std::u16string ShownTooltip(POINT icon);

// The colour the shell tests give Wine's tray window (0x00BBGGRR).
constexpr COLORREF kTrayTestGrey = RGB(128, 128, 128);

// Wine's tray window is painted in the menu colour, white unless set otherwise, on which a
// white icon could not be told from none. The tray reads the colour when it first paints and
// keeps it while it lives (as long as a Wine program runs), so this shows an icon of its own
// with the menu colour set to kTrayTestGrey in the registry, waits until the tray shows that
// colour, and puts the value back at once. True when the tray is grey.
bool PaintWineTrayGrey();

// The colour of Wine's tray window, at the corner of its first cell, where no icon draws;
// CLR_INVALID when the tray is not shown.
COLORREF TrayBackground();

// The colour (0x00BBGGRR) of a screen pixel as the display shows it, whichever process drew it.
COLORREF ScreenPixel(POINT p);

// Runs step on this thread every 50 ms while a modal loop (menu, requester) blocks the test,
// until step returns true. Every modal loop dispatches thread timers.
void WhileBlocked(std::function<bool()> step);
// Ends the step early (for steps that run until the modal loop is over).
void StopBlockedStep();

struct SeenEvent {
    int64_t code, type, object;
};
// Calls WaitEvent until nothing more arrives within quietMs (or totalMs ran out).
std::vector<SeenEvent> CollectEvents(int quietMs = 600, int totalMs = 8000);

// One value under HKEY_CURRENT_USER, changed for a while: whatever it was (or its absence) is
// put back when the object goes. The key is created when missing.
class ScopedUserValue {
  public:
    ScopedUserValue(const wchar_t* key, const wchar_t* name);
    ~ScopedUserValue();
    ScopedUserValue(const ScopedUserValue&) = delete;
    ScopedUserValue& operator=(const ScopedUserValue&) = delete;

    bool Set(DWORD type, const void* data, DWORD size);
    bool SetDword(DWORD value) { return Set(REG_DWORD, &value, sizeof value); }
    bool SetText(const wchar_t* text);
    bool Remove();

  private:
    std::wstring key_, name_;
    bool had_ = false;
    DWORD type_ = 0;
    std::vector<BYTE> old_;
};
