#include "tray.h"

#include "events.h"
#include "images.h"
#include "registered_names.h"
#include "ui_internal.h"

#include "runtime/strings.h"

#include <windows.h>

#include <shellapi.h>

#include <cstring>

namespace {

struct TrayRecord {
    HWND window;   // null marks a free slot
    HICON ownIcon; // made from the image; null when the image was an icon already
    uint32_t shellId;
    HICON icon; // the icon the shell shows
    char16_t tooltip[TRAY_TOOLTIP_MAX + 1];
};
// CopyTooltip fills the shell's own tooltip field as well as the record's.
static_assert(TRAY_TOOLTIP_MAX < sizeof NOTIFYICONDATAW{}.szTip / sizeof(wchar_t));

ObjectTableOf<TrayRecord> gTrayIcons;
UINT gTaskbarCreated = 0;
uint32_t gNextShellId = 1;

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

void AddAgain(HWND window) {
    gTrayIcons.EnumerateStart();
    while (TrayRecord* record = gTrayIcons.EnumerateNext()) {
        if (record->window != window) continue;
        NOTIFYICONDATAW data = IconData(window, record->shellId);
        data.uFlags = NIF_MESSAGE | NIF_ICON;
        data.uCallbackMessage = TRAY_CALLBACK_MESSAGE;
        data.hIcon = record->icon;
        if (record->tooltip[0]) {
            data.uFlags |= NIF_TIP;
            CopyTooltip(reinterpret_cast<char16_t*>(data.szTip), record->tooltip);
        }
        Shell_NotifyIconW(NIM_ADD, &data);
    }
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
}

int64_t TrayIconAdd(int64_t number, void* window, void* image) {
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
    if (!data.hIcon || !Shell_NotifyIconW(NIM_ADD, &data)) {
        if (ownIcon) DestroyIcon(ownIcon);
        gTrayIcons.Release(id);
        return 0;
    }
    record->window = owner;
    record->ownIcon = ownIcon;
    record->shellId = gNextShellId;
    record->icon = data.hIcon;
    record->tooltip[0] = 0;

    if (!GetPropW(owner, kTrayCallbackProperty)) {
        LONG_PTR previous =
            SetWindowLongPtrW(owner, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(TrayProcedure));
        SetPropW(owner, kTrayCallbackProperty, reinterpret_cast<HANDLE>(previous));
        AllowTaskbarCreated(owner);
    }
    SetPropW(owner, IconProperty(gNextShellId).name, reinterpret_cast<HANDLE>(id + 1));
    ++gNextShellId;
    return number == AnyNumber ? id : 1;
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
    return Shell_NotifyIconW(NIM_MODIFY, &data);
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
}

uint32_t TrayIconShellId(int64_t number) {
    TrayRecord* record = FindIcon(number);
    return record ? record->shellId : 0;
}
