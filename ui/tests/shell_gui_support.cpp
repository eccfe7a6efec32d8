#include "shell_gui_support.h"

#include "ui/events.h"

#include <shellapi.h>

std::string BesideProgram(const std::string& name) {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::string host;
    for (const wchar_t* p = path; *p; ++p) host += *p == L'\\' ? '/' : char(*p);
    // Wine maps the host's root to drive Z:.
    if (host.size() >= 2 && (host[0] == 'Z' || host[0] == 'z') && host[1] == ':') host.erase(0, 2);
    return host.substr(0, host.rfind('/') + 1) + name;
}

std::string At(POINT p) {
    return std::to_string(p.x) + " " + std::to_string(p.y);
}

bool TrayIconCentre(POINT* centre) {
    HWND tray = FindWindowW(nullptr, L"Wine System Tray");
    if (!tray || !IsWindowVisible(tray)) return false;
    RECT client{};
    GetClientRect(tray, &client);
    // The icons sit in square cells in one row, the first at the left.
    const LONG cell = client.bottom;
    POINT p{cell / 2, cell / 2};
    ClientToScreen(tray, &p);
    *centre = p;
    return cell > 0;
}

bool ShellHasIcon(HWND window, uint32_t shellId) {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = window;
    data.uID = shellId;
    return Shell_NotifyIconW(NIM_MODIFY, &data);
}

// A tooltip shows once per visit, so the pointer leaves and comes back for every try.
std::u16string ShownTooltip(POINT icon) {
    std::u16string shown;
    for (int attempt = 0; attempt < 3 && shown.empty(); ++attempt) {
        if (gui::XdoTool("mousemove 600 600 sleep 0.3 mousemove " + At(POINT{icon.x + 1, icon.y}) +
                         " sleep 0.1 mousemove " + At(icon)) != 0)
            break;
        (void)gui::WaitUntil(
            [&] {
                EnumWindows(
                    [](HWND w, LPARAM out) -> BOOL {
                        wchar_t cls[64] = {};
                        GetClassNameW(w, cls, 64);
                        if (lstrcmpW(cls, L"tooltips_class32") || !IsWindowVisible(w)) return TRUE;
                        wchar_t text[128] = {};
                        SendMessageTimeoutW(w, WM_GETTEXT, 128, reinterpret_cast<LPARAM>(text),
                                            SMTO_ABORTIFHUNG, 1000, nullptr);
                        *reinterpret_cast<std::u16string*>(out) = reinterpret_cast<char16_t*>(text);
                        return FALSE;
                    },
                    reinterpret_cast<LPARAM>(&shown));
                return !shown.empty();
            },
            4000);
    }
    return shown;
}

COLORREF ScreenPixel(POINT p) {
    HDC screen = GetDC(nullptr);
    COLORREF color = GetPixel(screen, p.x, p.y);
    ReleaseDC(nullptr, screen);
    return color;
}

COLORREF TrayBackground() {
    HWND tray = FindWindowW(nullptr, L"Wine System Tray");
    if (!tray || !IsWindowVisible(tray)) return CLR_INVALID;
    POINT corner{0, 0};
    ClientToScreen(tray, &corner);
    return ScreenPixel(corner);
}

bool PaintWineTrayGrey() {
    ScopedUserValue menu(L"Control Panel\\Colors", L"Menu");
    if (!menu.SetText(L"128 128 128")) return false;
    HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 1, 1, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    NOTIFYICONDATAW icon{};
    icon.cbSize = sizeof icon;
    icon.hWnd = window;
    icon.uID = 1;
    icon.uFlags = NIF_ICON;
    icon.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    bool grey = false;
    if (window && Shell_NotifyIconW(NIM_ADD, &icon)) {
        grey = gui::WaitUntil([] { return TrayBackground() == kTrayTestGrey; }, 5000);
        Shell_NotifyIconW(NIM_DELETE, &icon);
    }
    if (window) DestroyWindow(window);
    return grey;
}

namespace {
std::function<bool()> gStep;
UINT_PTR gStepTimer = 0;

void CALLBACK RunStep(HWND, UINT, UINT_PTR, DWORD) {
    if (gStep && gStep()) StopBlockedStep();
}
} // namespace

void WhileBlocked(std::function<bool()> step) {
    StopBlockedStep();
    gStep = std::move(step);
    gStepTimer = SetTimer(nullptr, 0, 50, RunStep);
}

void StopBlockedStep() {
    if (gStepTimer) KillTimer(nullptr, gStepTimer);
    gStepTimer = 0;
    gStep = nullptr;
}

std::vector<SeenEvent> CollectEvents(int quietMs, int totalMs) {
    std::vector<SeenEvent> seen;
    const ULONGLONG start = GetTickCount64();
    while (GetTickCount64() - start < ULONGLONG(totalMs)) {
        const ULONGLONG before = GetTickCount64();
        int64_t code = WaitEvent(quietMs);
        // A timeout and WM_NULL both give 0; only a timeout takes the whole wait.
        if (code == 0 && GetTickCount64() - before + 20 >= ULONGLONG(quietMs)) break;
        seen.push_back({code, EventType(), EventObject()});
    }
    return seen;
}

ScopedUserValue::ScopedUserValue(const wchar_t* key, const wchar_t* name) : key_(key), name_(name) {
    DWORD size = 0;
    if (RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_ANY, &type_, nullptr, &size) ==
        ERROR_SUCCESS) {
        old_.resize(size);
        had_ = RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_ANY | RRF_NOEXPAND, &type_,
                            old_.data(), &size) == ERROR_SUCCESS;
        old_.resize(size);
    }
}

ScopedUserValue::~ScopedUserValue() {
    if (had_)
        (void)Set(type_, old_.data(), DWORD(old_.size()));
    else
        (void)Remove();
}

bool ScopedUserValue::Set(DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return false;
    bool done = RegSetValueExW(key, name_.c_str(), 0, type, static_cast<const BYTE*>(data), size) ==
                ERROR_SUCCESS;
    RegCloseKey(key);
    return done;
}

bool ScopedUserValue::SetText(const wchar_t* text) {
    return Set(REG_SZ, text, DWORD((lstrlenW(text) + 1) * sizeof(wchar_t)));
}

bool ScopedUserValue::Remove() {
    LSTATUS status = RegDeleteKeyValueW(HKEY_CURRENT_USER, key_.c_str(), name_.c_str());
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}
