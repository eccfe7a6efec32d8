// The event queue: one loop on the main thread asks for the next event with WaitEvent and
// reads its fields with EventType and EventObject. Events come from the window procedures
// of our own windows and from QueueEvent, which any thread may call.
//
// Start the library with EventQueueLibrary() registered through RuntimeUse, or call
// EventQueueInit on the main thread before any window exists.
#pragma once

#include "runtime/runtime.h"

#include <cstdint>

// Event codes. The window field of an event is always the producing window's number.
constexpr int32_t EV_CONTROL_NOTIFY = 13100;    // object: control id; type: notification code
constexpr int32_t EV_MENU_COMMAND = 13101;      // object: command id
constexpr int32_t EV_TRAY_MOUSE = 13102;        // object: tray icon number; type: TRAY_*
constexpr int32_t EV_ACTIVATED = 13104;         //
constexpr int32_t EV_MINIMIZED = 13107;         //
constexpr int32_t EV_MAXIMIZED = 13108;         //
constexpr int32_t EV_RESTORED = 13109;          // after minimized or maximized
constexpr int32_t EV_TIMER_TICK = 13110;        // object: timer id
constexpr int32_t EV_CLICK_RIGHT = 13111;       //
constexpr int32_t EV_CLICK_LEFT = 13112;        //
constexpr int32_t EV_DOUBLE_CLICK_LEFT = 13113; //
constexpr int32_t EV_DEACTIVATED = 13114;       //
constexpr int32_t EV_BACKGROUND_ERASED = 13115; //
constexpr int32_t EV_CLOSE_REQUESTED = 13116;   // object: the window's number
constexpr int32_t EV_MOVED = 13117;             // object: the window's number
constexpr int32_t EV_RESIZED = 13118;           //

// Notifications from the system, made by the hidden wake-up window (every top-level window
// receives them; this one exists from EventQueueInit on, so each comes once). Window -1,
// object 0, type 0; two alike in a row are merged. WaitEvent returns them without another
// message having to arrive.
constexpr int32_t EV_SYSTEM_RESUMED = 13120; // woke from sleep (WM_POWERBROADCAST with
                                             // PBT_APMRESUMEAUTOMATIC or PBT_APMRESUMESUSPEND)
constexpr int32_t EV_THEME_CHANGED = 13121;  // the shell's colours changed (WM_SETTINGCHANGE
                                             // with "ImmersiveColorSet")

// Codes from here on are never merged with an identical event before them.
constexpr int32_t EV_FIRST_UNMERGED = 65536;

// Creates the hidden wake-up window and records the calling thread as the main thread.
void EventQueueInit();
// Destroys the wake-up window. Queued records go with the runtime's heaps.
void EventQueueShutdown();
inline RuntimeLibrary EventQueueLibrary() {
    return {RuntimeLibraryId::EventQueue, EventQueueInit, EventQueueShutdown};
}

// Appends an event to the main thread's queue from any thread and wakes the main thread.
// Never merged with an identical event. Always returns 0.
int32_t QueueEvent(int32_t code, int64_t window, int64_t object, int64_t type);

// The next event code of the calling thread: a queued event if there is one, else the
// number of one native message taken and dispatched (0 for WM_NULL), or 0 when timeoutMs
// ran out. -1 waits without limit, 0 only polls. The events that a dispatched message
// produced come back from the following calls, one per call, in order.
int64_t WaitEvent(int32_t timeoutMs = -1);

// Fields of the event WaitEvent returned last on the calling thread. After a native message
// or a timeout, EventType is -1 and EventObject/EventWindow keep the previous event's values.
int64_t EventType();
int64_t EventObject();
int64_t EventWindow();

// Removes every queued event of the calling thread that belongs to window.
void RemoveWindowEvents(int64_t window);
// Removes every queued event of the calling thread that matches all four fields; -1 in an
// argument matches any value.
void RemoveMatchingEvents(int32_t code, int64_t object, int64_t window, int64_t type);
