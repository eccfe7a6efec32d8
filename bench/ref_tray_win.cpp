// Start-up reference: a hidden window and one tray icon with a tooltip, nothing else.
#include <windows.h>

#include <shellapi.h>

namespace {

LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    return DefWindowProcW(window, message, w, l);
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = Procedure;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = L"ref_tray";
    if (!RegisterClassW(&windowClass)) return 1;
    HWND window = CreateWindowExW(WS_EX_TOOLWINDOW, L"ref_tray", L"ref_tray", WS_POPUP, 0, 0, 1, 1,
                                  nullptr, nullptr, instance, nullptr);
    if (!window) return 1;
    NOTIFYICONDATAW data = {};
    data.cbSize = sizeof data;
    data.hWnd = window;
    data.uID = 1;
    data.uFlags = NIF_ICON | NIF_TIP;
    data.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
    lstrcpyW(data.szTip, L"ref_tray");
    if (!Shell_NotifyIconW(NIM_ADD, &data)) return 1;
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    return 0;
}
