// Numbered icons in the taskbar's notification area, each owned by a window. Mouse actions
// on an icon come back as EV_TRAY_MOUSE events (object: the tray icon number, window: the
// owning window's number, type: TRAY_*). Icons are put back by themselves when the taskbar
// is re-created. Call everything on the thread that owns the windows.
#pragma once

#include "runtime/objects.h"
#include "runtime/runtime.h"

#include <cstdint>

// EV_TRAY_MOUSE types.
constexpr int64_t TRAY_LEFT_UP = 0;
constexpr int64_t TRAY_RIGHT_UP = 1;
constexpr int64_t TRAY_LEFT_DOUBLE = 2;
constexpr int64_t TRAY_RIGHT_DOUBLE = 3;

// Longest tooltip in UTF-16 units; longer texts are cut.
constexpr int32_t TRAY_TOOLTIP_MAX = 63;

void TrayLibraryInit();
// Removes every tray icon.
void TrayLibraryShutdown();
inline RuntimeLibrary TrayLibrary() {
    return {RuntimeLibraryId::TrayIcons, TrayLibraryInit, TrayLibraryShutdown};
}

// Adds an icon showing image (an image's bitmap handle or an icon handle) on behalf of
// window (native handle). An icon that held the number is removed first. Non-zero on success
// (the new icon's identifier for AnyNumber), 0 on failure, which leaves no icon.
[[nodiscard]] int64_t TrayIconAdd(int64_t number, void* window, void* image);

// Non-zero when a tray icon with this number exists.
int32_t TrayIconExists(int64_t number);

// Sets the tooltip to the first TRAY_TOOLTIP_MAX units of text. Non-zero when the shell took
// it; 0 when text is null or there is no such icon.
int32_t TrayIconTooltip(int64_t number, const char16_t* text);

// Removes the icon (AnyNumber: every icon). A number without an icon is ignored.
void TrayIconRemove(int64_t number);

// The id the shell knows the icon by (1, 2, 3, ... in the order of adds; never reused), or 0
// when there is no such icon.
uint32_t TrayIconShellId(int64_t number);
