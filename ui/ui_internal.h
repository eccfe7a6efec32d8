// What the user-interface libraries share among themselves and with their tests; not for
// the application. Native handles are void* (HWND, HACCEL) so that this header stays free
// of <windows.h>.
#pragma once

#include "runtime/objects.h"

#include <atomic>
#include <cstdint>

// ---- Event queue -------------------------------------------------------------------------

// Appends an event to the calling thread's queue (the window procedures' way in). An event
// identical to the last queued one is dropped, unless its code is EV_FIRST_UNMERGED or more.
void PostWindowEvent(int32_t code, int64_t object, int64_t window, int64_t type);

// Makes a main thread that is blocked in WaitEvent return (with the wake-up message number).
void EventQueueWake();
// The wake-up message's number; 0 before EventQueueInit.
uint32_t EventWakeMessage();

// The portable core's dequeue step: the calling thread's next queued code, 0 when empty.
int32_t EventDequeue();

// The platform half of the queue: events_win.cpp (the hidden wake-up window and the native
// message pump) or events_posix.cpp (a stand-in with the same behaviour for native tests).
void EventPlatformInit();
void EventPlatformShutdown();
void EventPlatformWake();
// Takes one native message of the calling thread, dispatches it and returns its number;
// 0 when none arrived within timeoutMs (-1: no limit, 0: poll).
int64_t EventPlatformPump(int32_t timeoutMs);

#ifndef _WIN32
// The stand-in's native messages: any thread posts to the main thread's message queue;
// WaitEvent on the main thread takes them one at a time and hands each to the dispatcher
// (the stand-in's window procedure), which may post events.
using PosixDispatchProcedure = void (*)(uint32_t message, int64_t window, intptr_t param);
void PosixSetDispatcher(PosixDispatchProcedure dispatcher);
void PosixPostMessage(uint32_t message, int64_t window, intptr_t param);
#endif

// ---- Tray icons ----------------------------------------------------------------------------

// How the shell answers the tray library's adds and changes (never its deletes); for tests
// of a shell that is not ready.
enum class TrayShellFault : int32_t {
    None,          // as it does
    Refuse,        // it refuses (no tray yet at logon): nothing reaches it
    ReportFailure, // it takes the icon but the call reports failure (a timed-out add)
};
extern std::atomic<TrayShellFault> gTrayShellFault;
// The first pause before a waiting icon is tried again, in milliseconds (1000); the pause
// doubles after every round, up to a minute.
extern std::atomic<uint32_t> gTrayRetryFirstMs;

// ---- Windows -----------------------------------------------------------------------------

// The tray icons' callback message; it reaches the window procedure through the tray
// library's subclass procedure.
constexpr uint32_t TRAY_CALLBACK_MESSAGE = 12501;

// One open window. The first word is the handle, as the object table requires.
struct WindowRecord {
    void* handle;             // HWND; null marks a free slot
    void* acceleratorTable;   // HACCEL made from accelerators
    uint16_t accelerators[6]; // the two ACCEL entries {fVirt, key, cmd}: Tab, Shift+Tab
    int32_t stateFlag;        // 1 while minimized or maximized
    int32_t opened;           // 1 once WindowOpen has finished: moves and sizes count then
    uint32_t flags;           // the flags WindowOpen was given
    int64_t number;           // the window's number (its identifier for a dynamic window)
};

// The window table; null before WindowLibraryInit.
ObjectTable* WindowTable();

// The number of the window a native handle belongs to: the first window, from handle up
// through its parents, that carries our window-number property and belongs to this program.
// -1 when none; record (when given) receives the window's record, or null.
int64_t WindowNumberFromHandle(void* handle, WindowRecord** record = nullptr);

// The tray library installs its handler for TRAY_CALLBACK_MESSAGE at start-up, so that the
// window layer does not depend on the tray layer. Without a handler the message is ignored.
// windowNumber is the receiving window's number (-1 when it is not one of ours).
using TrayCallbackHandler = intptr_t (*)(void* handle, uintptr_t wParam, intptr_t lParam,
                                         int64_t windowNumber);
void WindowSetTrayCallbackHandler(TrayCallbackHandler handler);

// The keyboard step of WaitEvent: the accelerator table of handle when it is one of our
// windows (null otherwise), and making its keyboard cues visible after a translated key.
void* WindowAcceleratorTable(void* handle);
void WindowShowKeyboardCues(void* handle);
