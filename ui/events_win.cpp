// The Win32 half of the event queue: the hidden wake-up window and the message pump.
#include "events.h"
#include "ui_internal.h"

#include "registered_names.h"

#include <windows.h>

#include <atomic>

namespace {

// Read by any thread that queues an event, written at start-up and shutdown.
std::atomic<HWND> gWakeWindow = nullptr;
UINT gWakeMessage = 0;

// Takes one message of the calling thread: false when none arrived in time.
bool TakeMessage(MSG& msg, int32_t timeoutMs) {
    if (timeoutMs < 0) return GetMessageW(&msg, nullptr, 0, 0) != -1;
    if (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE | PM_NOYIELD)) return true;
    if (timeoutMs == 0) return false;
    DWORD woke = MsgWaitForMultipleObjects(0, nullptr, FALSE, DWORD(timeoutMs),
                                           QS_ALLINPUT | QS_ALLPOSTMESSAGE);
    if (woke == WAIT_TIMEOUT) return false;
    return PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE | PM_NOYIELD) != 0;
}

} // namespace

void EventPlatformInit() {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW wc{};
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = instance;
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kQueueWakeClass;
    RegisterClassW(&wc);
    gWakeWindow = CreateWindowExW(0, kQueueWakeClass, nullptr, WS_CAPTION, 0, 0, 1, 1, nullptr,
                                  nullptr, instance, nullptr);
    gWakeMessage = RegisterWindowMessageW(kQueueWakeMessage);
}

void EventPlatformShutdown() {
    if (HWND window = gWakeWindow.exchange(nullptr)) DestroyWindow(window);
    UnregisterClassW(kQueueWakeClass, GetModuleHandleW(nullptr));
}

uint32_t EventWakeMessage() {
    return gWakeMessage;
}

void EventPlatformWake() {
    if (HWND window = gWakeWindow.load()) PostMessageW(window, gWakeMessage, 0, 0);
}

void EventQueueWake() {
    EventPlatformWake();
}

int64_t EventPlatformPump(int32_t timeoutMs) {
    MSG msg{};
    if (!TakeMessage(msg, timeoutMs)) return 0;
    HWND active = GetActiveWindow();
    auto* table = active ? static_cast<HACCEL>(WindowAcceleratorTable(active)) : nullptr;
    if (table && TranslateAcceleratorW(active, table, &msg)) {
        WindowShowKeyboardCues(active);
    } else {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int32_t>(msg.message);
}
