#include "tray.h"

#include "events.h"
#include "images.h"
#include "registered_names.h"
#include "ui_internal.h"

#include "runtime/strings.h"

#include <windows.h>

#include <shellapi.h>

#include <atomic>
#include <cstring>

std::atomic<TrayShellFault> gTrayShellFault{TrayShellFault::None};
std::atomic<uint32_t> gTrayRetryFirstMs{1000};

namespace {

struct TrayRecord {
    HWND window;   // null marks a free slot
    HICON ownIcon; // made from the image; null when the image was an icon already
    uint32_t shellId;
    HICON icon; // the icon the shell shows
    char16_t tooltip[TRAY_TOOLTIP_MAX + 1];
    // 0 while the shell has not taken the icon (it refused it, or has not answered in time):
    // the icon is wanted all the same and is added again until the shell shows it.
    int32_t shown;
};
// CopyTooltip fills the shell's own tooltip field as well as the record's.
static_assert(TRAY_TOOLTIP_MAX < sizeof NOTIFYICONDATAW{}.szTip / sizeof(wchar_t));

ObjectTableOf<TrayRecord> gTrayIcons;
UINT gTaskbarCreated = 0;
uint32_t gNextShellId = 1;

// The retry of icons the shell has not taken yet: one thread timer for all of them, its
// pause doubling after every round that leaves one still waiting.
constexpr uint32_t kLongestRetryMs = 60000;
UINT_PTR gRetryTimer = 0;
uint32_t gRetryPauseMs = 0;

TrayRecord* FindIcon(int64_t number) {
    return gTrayIcons.Get(number);
}

// The window property that leads from a shell id back to the tray icon number.
struct IconProperty {
    explicit IconProperty(uint32_t shellId) {
        constexpr size_t kPrefixUnits = sizeof kTrayIconPropertyPrefix / sizeof(wchar_t) - 1;
        static_assert(kPrefixUnits + IntegerTextUnits <= sizeof name / sizeof name[0]);
        std::memcpy(name, kTrayIconPropertyPrefix, kPrefixUnits * sizeof(wchar_t));
        (void)IntegerToText(shellId, reinterpret_cast<char16_t*>(name + kPrefixUnits));
    }
    wchar_t name[32];
};

NOTIFYICONDATAW IconData(HWND window, uint32_t shellId) {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = window;
    data.uID = shellId;
    return data;
}

// Takes at most TRAY_TOOLTIP_MAX units, never half of a surrogate pair.
void CopyTooltip(char16_t* to, const char16_t* text) {
    size_t n = 0;
    while (n < TRAY_TOOLTIP_MAX && text[n]) ++n;
    if (n == TRAY_TOOLTIP_MAX && text[n] && text[n - 1] >= 0xD800 && text[n - 1] <= 0xDBFF) --n;
    for (size_t i = 0; i < n; ++i) to[i] = text[i];
    to[n] = 0;
}

// After an Explorer restart the shell broadcasts "TaskbarCreated". A program running as
// administrator would not receive that broadcast from the unelevated shell unless it lets
// the message in. The call is missing before Windows 7, so it is looked up at run time.
void AllowTaskbarCreated(HWND window) {
    using FilterProcedure = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
    static FilterProcedure filter = [] {
        HMODULE user32 = GetModuleHandleW(L"user32.dll");
        return user32 ? reinterpret_cast<FilterProcedure>(reinterpret_cast<void*>(
                            GetProcAddress(user32, "ChangeWindowMessageFilterEx")))
                      : nullptr;
    }();
    if (filter && gTaskbarCreated) filter(window, gTaskbarCreated, 1 /* MSGFLT_ALLOW */, nullptr);
}

// Every add and modify goes through here, so that the tests can play a shell that is not
// ready (refuses everything) or one that answers too late (takes the icon, reports failure).
BOOL ShellNotify(DWORD message, NOTIFYICONDATAW* data) {
    TrayShellFault fault = gTrayShellFault.load();
    if (fault == TrayShellFault::Refuse && message != NIM_DELETE) return FALSE;
    BOOL done = Shell_NotifyIconW(message, data);
    return fault == TrayShellFault::ReportFailure && message != NIM_DELETE ? FALSE : done;
}

// Puts the record's icon, tooltip and callback in the tray. An add that timed out may have
// shown the icon after all: modifying it first finds it there, and a second add (which the
// shell refuses for an id it has) is never tried then.
bool ShowInTray(TrayRecord* record) {
    NOTIFYICONDATAW data = IconData(record->window, record->shellId);
    data.uFlags = NIF_MESSAGE | NIF_ICON;
    data.uCallbackMessage = TRAY_CALLBACK_MESSAGE;
    data.hIcon = record->icon;
    if (record->tooltip[0]) {
        data.uFlags |= NIF_TIP;
        CopyTooltip(reinterpret_cast<char16_t*>(data.szTip), record->tooltip);
    }
    record->shown = ShellNotify(NIM_MODIFY, &data) || ShellNotify(NIM_ADD, &data);
    return record->shown != 0;
}

void CALLBACK RetryTimerExpired(HWND, UINT, UINT_PTR, DWORD);

// Arms the retry timer for the next round: the first pause when firstPause is set (a new
// refusal, or the shell just came back), otherwise twice the last one, at most a minute.
void ScheduleRetry(bool firstPause) {
    uint32_t first = gTrayRetryFirstMs.load();
    uint32_t pause = firstPause || gRetryPauseMs == 0 ? first : gRetryPauseMs * 2;
    if (pause > kLongestRetryMs) pause = kLongestRetryMs;
    if (pause < first) pause = first;
    gRetryPauseMs = pause;
    // A thread timer, not one of a window's: the window's own timers stay the caller's.
    if (gRetryTimer) KillTimer(nullptr, gRetryTimer);
    gRetryTimer = SetTimer(nullptr, 0, pause, RetryTimerExpired);
}

void StopRetry() {
    if (gRetryTimer) KillTimer(nullptr, gRetryTimer);
    gRetryTimer = 0;
    gRetryPauseMs = 0;
}

// Shows the waiting icons (of window, or of every window when window is null); every icon
// when all is set. Then the timer runs while one still waits, and stops when none does.
void ShowWaiting(HWND window, bool all, bool firstPause) {
    bool waiting = false;
    gTrayIcons.EnumerateStart();
    while (TrayRecord* record = gTrayIcons.EnumerateNext()) {
        bool mine = !window || record->window == window;
        if (mine && (all || !record->shown)) (void)ShowInTray(record);
        if (!record->shown) waiting = true;
    }
    if (waiting)
        ScheduleRetry(firstPause);
    else
        StopRetry();
}

void CALLBACK RetryTimerExpired(HWND, UINT, UINT_PTR, DWORD) {
    ShowWaiting(nullptr, false, false);
}

// The shell (re)started: it knows none of our icons, or only some, so every icon of the
// window goes back; one it still refuses is tried again from the first pause on.
void AddAgain(HWND window) {
    ShowWaiting(window, true, true);
}

// Sits in front of the procedure of every window that owns tray icons.
LRESULT CALLBACK TrayProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto previous = reinterpret_cast<WNDPROC>(GetPropW(window, kTrayCallbackProperty));
    if (message == gTaskbarCreated && gTaskbarCreated != 0)
        AddAgain(window);
    else if (message == WM_NCDESTROY)
        RemovePropW(window, kTrayCallbackProperty);
    return previous ? CallWindowProcW(previous, window, message, wParam, lParam)
                    : DefWindowProcW(window, message, wParam, lParam);
}

// The shell's notification, passed on by the window procedure: wParam is the shell id,
// lParam the mouse message.
intptr_t TrayCallback(void* handle, uintptr_t wParam, intptr_t lParam, int64_t windowNumber) {
    auto* window = static_cast<HWND>(handle);
    auto stored = reinterpret_cast<intptr_t>(GetPropW(window, IconProperty(uint32_t(wParam)).name));
    if (!stored) return 0;
    const int64_t number = stored - 1;
    int64_t type = -1;
    switch (lParam) {
    case WM_LBUTTONUP:
        type = TRAY_LEFT_UP;
        break;
    case WM_RBUTTONUP:
        if (FindIcon(number)) type = TRAY_RIGHT_UP;
        break;
    case WM_LBUTTONDBLCLK:
        type = TRAY_LEFT_DOUBLE;
        break;
    case WM_RBUTTONDBLCLK:
        type = TRAY_RIGHT_DOUBLE;
        break;
    default:
        break;
    }
    if (type >= 0) PostWindowEvent(EV_TRAY_MOUSE, number, windowNumber, type);
    // Wakes the loop, and lets a popup menu opened for the icon close properly later.
    PostMessageW(window, WM_NULL, 0, 0);
    return 0;
}

} // namespace

void TrayLibraryInit() {
    (void)gTrayIcons.Create(16, TrayIconRemove);
    gTaskbarCreated = RegisterWindowMessageW(kTaskbarCreatedMessage);
    WindowSetTrayCallbackHandler(TrayCallback);
}

void TrayLibraryShutdown() {
    gTrayIcons.ReleaseAll();
    StopRetry();
}

namespace {

// TrayIconAdd, and with keep set TrayIconKeep: a shell that refuses the icon then leaves it
// waiting in its record instead of releasing it.
int64_t AddIcon(int64_t number, void* window, void* image, bool keep) {
    TrayRecord* record = gTrayIcons.Allocate(number);
    if (!record) return 0;
    const int64_t id = number == AnyNumber ? ObjectDynamicId(record) : number;
    auto* owner = static_cast<HWND>(window);
    if (!owner || !image) {
        gTrayIcons.Release(id);
        return 0;
    }
    NOTIFYICONDATAW data = IconData(owner, gNextShellId);
    data.uFlags = NIF_MESSAGE | NIF_ICON;
    data.uCallbackMessage = TRAY_CALLBACK_MESSAGE;
    HICON ownIcon = nullptr;
    data.hIcon = static_cast<HICON>(ImageToIcon(reinterpret_cast<void**>(&ownIcon), image));
    const bool shown = data.hIcon && ShellNotify(NIM_ADD, &data);
    if (!data.hIcon || (!shown && !keep)) {
        if (ownIcon) DestroyIcon(ownIcon);
        gTrayIcons.Release(id);
        return 0;
    }
    record->window = owner;
    record->ownIcon = ownIcon;
    record->shellId = gNextShellId;
    record->icon = data.hIcon;
    record->tooltip[0] = 0;
    record->shown = shown;

    if (!GetPropW(owner, kTrayCallbackProperty)) {
        LONG_PTR previous =
            SetWindowLongPtrW(owner, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(TrayProcedure));
        SetPropW(owner, kTrayCallbackProperty, reinterpret_cast<HANDLE>(previous));
        AllowTaskbarCreated(owner);
    }
    SetPropW(owner, IconProperty(gNextShellId).name, reinterpret_cast<HANDLE>(id + 1));
    ++gNextShellId;
    if (!shown) ScheduleRetry(true);
    return number == AnyNumber ? id : 1;
}

} // namespace

int64_t TrayIconAdd(int64_t number, void* window, void* image) {
    return AddIcon(number, window, image, false);
}

int64_t TrayIconKeep(int64_t number, void* window, void* image) {
    return AddIcon(number, window, image, true);
}

int32_t TrayIconShown(int64_t number) {
    TrayRecord* record = FindIcon(number);
    return record && record->shown;
}

int32_t TrayIconChange(int64_t number, void* image) {
    TrayRecord* record = FindIcon(number);
    if (!record || !image) return 0;
    // The new icon is made before the old one goes: the shell shows the old one until it
    // has the new.
    HICON fresh = nullptr;
    auto icon = static_cast<HICON>(ImageToIcon(reinterpret_cast<void**>(&fresh), image));
    if (!icon) return 0;
    HICON old = record->ownIcon;
    record->ownIcon = fresh;
    record->icon = icon;
    if (record->shown) {
        NOTIFYICONDATAW data = IconData(record->window, record->shellId);
        data.uFlags = NIF_ICON;
        data.hIcon = icon;
        // A shell that no longer knows the icon lost it: it is added again, with the new one.
        if (!ShellNotify(NIM_MODIFY, &data)) {
            record->shown = 0;
            ShowWaiting(record->window, false, true);
        }
    }
    if (old) DestroyIcon(old);
    return 1;
}

int32_t TrayIconExists(int64_t number) {
    return gTrayIcons.Find(number) != nullptr;
}

int32_t TrayIconTooltip(int64_t number, const char16_t* text) {
    TrayRecord* record = FindIcon(number);
    if (!record || !text) return 0;
    CopyTooltip(record->tooltip, text);
    NOTIFYICONDATAW data = IconData(record->window, record->shellId);
    data.uFlags = NIF_TIP;
    CopyTooltip(reinterpret_cast<char16_t*>(data.szTip), record->tooltip);
    // An icon the shell has not taken yet gets the tooltip with it when it is added.
    return ShellNotify(NIM_MODIFY, &data);
}

void TrayIconRemove(int64_t number) {
    if (number == AnyNumber) {
        gTrayIcons.ReleaseAll();
        return;
    }
    TrayRecord* record = FindIcon(number);
    if (!record) return;
    NOTIFYICONDATAW data = IconData(record->window, record->shellId);
    Shell_NotifyIconW(NIM_DELETE, &data);
    if (record->ownIcon) DestroyIcon(record->ownIcon);
    RemovePropW(record->window, IconProperty(record->shellId).name);
    gTrayIcons.Release(number);
    // The last waiting icon gone: nothing is left to retry. (The timer finds that out on
    // its own, but a removed icon should not keep a timer running for up to a minute.)
    bool waiting = false;
    gTrayIcons.EnumerateStart();
    while (TrayRecord* other = gTrayIcons.EnumerateNext())
        if (!other->shown) waiting = true;
    if (!waiting) StopRetry();
}

uint32_t TrayIconShellId(int64_t number) {
    TrayRecord* record = FindIcon(number);
    return record ? record->shellId : 0;
}
