// Numbered icons in the taskbar's notification area, each owned by a window. Mouse actions
// on an icon come back as EV_TRAY_MOUSE events (object: the tray icon number, window: the
// owning window's number, type: TRAY_*). Icons are put back by themselves when the taskbar
// is re-created. Call everything on the thread that owns the windows; that thread must take
// its messages (WaitEvent does), since the retry of waiting icons runs on a thread timer.
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

// As TrayIconAdd, but a shell that does not take the icon (not running yet at logon, or too
// busy to answer in time) does not lose it: the icon is kept, waiting, and added again when
// the shell broadcasts "TaskbarCreated" and on a timer, first after a second, then after
// pauses doubling up to a minute, for as long as it waits. An add that timed out but showed
// the icon all the same is found by the retry and never shown twice. Non-zero when the icon
// is kept, shown or waiting (the new icon's identifier for AnyNumber); 0 only when there is
// nothing to show (no window, no image, no icon could be made), which leaves no icon.
[[nodiscard]] int64_t TrayIconKeep(int64_t number, void* window, void* image);

// Non-zero while the shell shows the icon, as far as this program knows; 0 for an icon that
// waits for the shell, and when there is no such icon.
int32_t TrayIconShown(int64_t number);

// Shows image (a bitmap or icon handle, as for TrayIconAdd) instead of the icon's picture.
// A waiting icon takes it along when it is added; a shell that no longer knows a shown icon
// gets it added again. Non-zero when the icon has the new picture, 0 when there is no such
// icon or no icon could be made of image.
int32_t TrayIconChange(int64_t number, void* image);

// Non-zero when a tray icon with this number exists (shown or waiting for the shell).
int32_t TrayIconExists(int64_t number);

// Sets the tooltip to the first TRAY_TOOLTIP_MAX units of text. Non-zero when the shell took
// it; 0 when text is null or there is no such icon.
int32_t TrayIconTooltip(int64_t number, const char16_t* text);

// Removes the icon (AnyNumber: every icon). A number without an icon is ignored.
void TrayIconRemove(int64_t number);

// The id the shell knows the icon by (1, 2, 3, ... in the order of adds; never reused), or 0
// when there is no such icon.
uint32_t TrayIconShellId(int64_t number);
