// Modal requesters: the system's message box and a one-line input dialog. Both block the
// calling thread until answered and make the thread's other visible windows inert meanwhile;
// other windows still receive their messages (timers and tray clicks queue events).
#pragma once

#include "runtime/runtime.h"

#include <cstdint>

// Common controls and COM for the calling (main) thread. Last step of the UI start-up.
void RequesterLibraryInit();
inline RuntimeLibrary RequesterLibrary() {
    return {RuntimeLibraryId::Requesters, RequesterLibraryInit, nullptr};
}

// OLE for the main thread, started before the windows and ended after them.
void OleLibraryInit();
void OleLibraryShutdown();
inline RuntimeLibrary OleLibrary() {
    return {RuntimeLibraryId::Ole, OleLibraryInit, OleLibraryShutdown};
}

// InputDialogShow flags.
constexpr int32_t INPUT_PASSWORD = 1; // the field shows mask characters

// Shows the system's message box; flags are its style (MB_*) unchanged. owner defaults to
// ForegroundOwner(). Returns the button pressed (IDOK 1, IDYES 6, IDNO 7, ...), 0 on failure.
int64_t MessageBoxShow(const char16_t* title, const char16_t* text, int32_t flags,
                       void* owner = nullptr);

// Asks for one line of text, starting with defaultText and the caret after it. Returns the
// text entered after OK or Enter, the empty string after Escape, the close box, or when the
// dialog could not be made. The result lives in the calling thread's string scratch area.
// One input dialog at a time.
const char16_t* InputDialogShow(const char16_t* title, const char16_t* prompt,
                                const char16_t* defaultText, int32_t flags = 0,
                                void* owner = nullptr);

// The foreground window when it belongs to this process, else null.
void* ForegroundOwner();

// Makes the calling thread's visible top-level windows inert for a modal requester: those
// enabled and not in the foreground are disabled, topmost ones lose topmost. Leave undoes
// what enter did, for every entry of the calling thread.
void ModalScopeEnter();
void ModalScopeLeave();
