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

// Whether a WM_SETTINGCHANGE names the shell's colour theme (light or dark taskbar).
bool NamesColorTheme(LPARAM lParam) {
    const auto* text = reinterpret_cast<const wchar_t*>(lParam);
    if (!text) return false;
    const wchar_t* name = L"ImmersiveColorSet";
    while (*name && *text == *name) ++text, ++name;
    return *name == 0 && *text == 0;
}

// The wake-up window is the one window that exists for the whole run, so system-wide
// notifications that every top-level window receives are taken here, once.
LRESULT CALLBACK WakeProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    int32_t code = 0;
    if (message == WM_POWERBROADCAST &&
        (wParam == PBT_APMRESUMEAUTOMATIC || wParam == PBT_APMRESUMESUSPEND))
        code = EV_SYSTEM_RESUMED;
    else if (message == WM_SETTINGCHANGE && NamesColorTheme(lParam))
        code = EV_THEME_CHANGED;
    if (code) {
        PostWindowEvent(code, 0, -1, 0);
        // Both are sent, not posted: a loop blocked in GetMessageW would not return for them.
        EventPlatformWake();
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

void EventPlatformInit() {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW wc{};
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = WakeProcedure;
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
