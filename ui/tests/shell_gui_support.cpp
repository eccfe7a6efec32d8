#include "shell_gui_support.h"

#include "ui/events.h"

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

namespace {
std::function<bool()> gStep;
UINT_PTR gStepTimer = 0;

void CALLBACK RunStep(HWND, UINT, UINT_PTR, DWORD) {
    if (gStep && gStep()) {
        KillTimer(nullptr, gStepTimer);
        gStep = nullptr;
    }
}
} // namespace

void WhileBlocked(std::function<bool()> step) {
    gStep = std::move(step);
    gStepTimer = SetTimer(nullptr, 0, 50, RunStep);
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
