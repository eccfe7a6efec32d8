// Numbered top-level windows and their timers. Windows, their procedures and their timers
// belong to the main thread; call every operation there.
//
// Start the library with WindowLibrary() registered through RuntimeUse (after the event
// queue's). Native handles are passed as void* (HWND).
#pragma once

#include "runtime/objects.h"
#include "runtime/runtime.h"

#include <cstdint>

// WindowOpen flags. Bits without a name here are native window-style bits and pass through.
constexpr uint32_t WF_CENTER_SCREEN = 0x00000001; // centred on the screen after creation
constexpr uint32_t WF_CENTER_PARENT = 0x00000002; // centred on the parent (needs a parent)
constexpr uint32_t WF_TOOL = 0x00000004;          // tool window: caption only, no min/max
constexpr uint32_t WF_MAXIMIZE = 0x01000000;      // shown maximized
constexpr uint32_t WF_NO_ACTIVATE = 0x02000000;   // shown without activation
constexpr uint32_t WF_INVISIBLE = 0x10000000;     // created hidden
constexpr uint32_t WF_MINIMIZE = 0x20000000;      // shown minimized

// Pass as x (or as y without a centre flag) to let the system place the window.
constexpr int32_t WINDOW_DEFAULT_POSITION = -65535;

// Commands of the two accelerators every window carries (Tab and Shift+Tab).
constexpr int32_t ID_FOCUS_NEXT = 64001;
constexpr int32_t ID_FOCUS_PREV = 64002;

void WindowLibraryInit();
// Closes every open window.
void WindowLibraryShutdown();
inline RuntimeLibrary WindowLibrary() {
    return {RuntimeLibraryId::Windows, WindowLibraryInit, WindowLibraryShutdown};
}

// Opens window number (a window already open under it is closed first, with its queued
// events). width and height are the client area in device pixels. Returns the native handle,
// for AnyNumber the new window's identifier, 0 on failure.
[[nodiscard]] intptr_t WindowOpen(int64_t number, int32_t x, int32_t y, int32_t width,
                                  int32_t height, const char16_t* title, uint32_t flags,
                                  void* parent = nullptr);

// The native handle, or null when no such window.
void* WindowHandle(int64_t number);

// hide != 0 hides the window (activating its owner first); 0 shows it, centred first when
// flags has a centre flag, and without activation when flags has WF_NO_ACTIVATE. Returns
// whether the window was visible before, 0 when no such window.
int32_t WindowHide(int64_t number, int32_t hide, uint32_t flags = 0);
constexpr int32_t WINDOW_SHOW = 0;
constexpr int32_t WINDOW_HIDE = 1;

// Closes the window and drops its queued events; does nothing when no such window.
void WindowClose(int64_t number);

// Starts (or re-times) a repeating timer on the window; its ticks come back as
// EV_TIMER_TICK with the timer id as object. Non-zero on success, 0 when no such window.
[[nodiscard]] uintptr_t TimerAdd(int64_t window, uint64_t id, int32_t intervalMs);
// Non-zero when the timer was stopped, 0 when no such window or timer.
[[nodiscard]] int32_t TimerRemove(int64_t window, uint64_t id);
