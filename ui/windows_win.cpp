// Numbered windows, their timers, and the window procedure that turns native messages into
// events.
#include "events.h"
#include "registered_names.h"
#include "ui_internal.h"
#include "windows.h"

#include "runtime/environment.h"
#include "runtime/strings.h"

#include <windows.h>

#include <cstring>

namespace {

// A child control with this id reports its commands as menu commands.
constexpr LONG_PTR kMenuCommandControlId = -10000;

// The flags share their word with the window-style bits. The low four bits are ours: the
// placement and tool flags, and one more kept free (it is never passed on).
constexpr uint32_t kReservedFlag = 0x00000008;
constexpr uint32_t kCenterFlags = WF_CENTER_SCREEN | WF_CENTER_PARENT;
constexpr uint32_t kLowFlags = kCenterFlags | WF_TOOL;
constexpr uint32_t kOnlyPlacementFlags = kCenterFlags | kReservedFlag | WF_INVISIBLE;
// What a tool window loses.
constexpr uint32_t kToolKeeps =
    ~uint32_t(WS_MINIMIZE | WS_MAXIMIZE | WS_MINIMIZEBOX | WS_MAXIMIZEBOX);
// What never reaches CreateWindowExW: our low flag bits and WF_NO_ACTIVATE (the bit of
// WS_CLIPCHILDREN, which no window here wants).
constexpr uint32_t kCreateStyleMask = ~(kLowFlags | WF_NO_ACTIVATE);
static_assert(kToolKeeps == 0xDEFCFFFF && kCreateStyleMask == 0xFDFFFFF8);
// How far a sizeable window's frame reaches left of its position while desktop composition
// draws it.
constexpr int kComposedFrameShift = 8;

ObjectTableOf<WindowRecord> gWindows;
HICON gClassIcon = nullptr;
HCURSOR gArrowCursor = nullptr;
TrayCallbackHandler gTrayHandler = nullptr;

static_assert(sizeof(ACCEL) * 2 == sizeof(WindowRecord::accelerators));

HINSTANCE ProgramInstance() {
    return GetModuleHandleW(nullptr);
}

// "WindowClass_<number>".
struct ClassName {
    wchar_t text[40];
    explicit ClassName(int64_t number) {
        constexpr size_t kPrefixUnits = sizeof kWindowClassPrefix / sizeof(wchar_t) - 1;
        static_assert(kPrefixUnits + IntegerTextUnits <= sizeof text / sizeof text[0]);
        std::memcpy(text, kWindowClassPrefix, kPrefixUnits * sizeof(wchar_t));
        (void)IntegerToText(number, reinterpret_cast<char16_t*>(text + kPrefixUnits));
    }
};

// Whether desktop composition is on, asked once. The library is loaded from the system
// folder only: a dwmapi.dll planted next to the program must never run with its rights.
bool CompositionEnabled() {
    static const bool enabled = [] {
        auto dwm = static_cast<HMODULE>(SystemLibraryLoad(u"dwmapi.dll"));
        if (!dwm) return false;
        using Query = HRESULT(WINAPI*)(BOOL*);
        auto query = reinterpret_cast<Query>(
            reinterpret_cast<void*>(GetProcAddress(dwm, "DwmIsCompositionEnabled")));
        BOOL on = FALSE;
        return query && SUCCEEDED(query(&on)) && on;
    }();
    return enabled;
}

// Centres the window on the screen or on parent. False when there was nothing to centre on.
bool Center(HWND window, uint32_t flags, HWND parent) {
    RECT r;
    if (!GetWindowRect(window, &r)) return false;
    int w = r.right - r.left, h = r.bottom - r.top, x, y;
    if (flags & WF_CENTER_SCREEN) {
        int screenW = GetSystemMetrics(SM_CXSCREEN), screenH = GetSystemMetrics(SM_CYSCREEN);
        if (w > screenW) w = screenW;
        if (h > screenH) h = screenH;
        x = (screenW - w) / 2;
        y = (screenH - h) / 2;
    } else if ((flags & WF_CENTER_PARENT) && parent) {
        RECT p;
        if (!GetWindowRect(parent, &p)) return false;
        x = p.left + (p.right - p.left - w) / 2;
        y = p.top + (p.bottom - p.top - h) / 2;
        if (x < 0) x = 0;
        if (y < 0) y = 0;
    } else {
        return false;
    }
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    return true;
}

// How a window is shown: maximized, minimized or normal, activated unless flags has
// WF_NO_ACTIVATE.
int ShowCommand(bool maximized, bool minimized, uint32_t flags) {
    const bool activate = !(flags & WF_NO_ACTIVATE);
    if (maximized) return activate ? SW_SHOWMAXIMIZED : SW_SHOWNA;
    if (minimized) return activate ? SW_SHOWMINIMIZED : SW_SHOWMINNOACTIVE;
    return activate ? SW_SHOWNORMAL : SW_SHOWNOACTIVATE;
}

void HideKeyboardCues(HWND window) {
    LRESULT state = SendMessageW(window, WM_QUERYUISTATE, 0, 0);
    constexpr LRESULT both = UISF_HIDEFOCUS | UISF_HIDEACCEL;
    if ((state & both) != both)
        SendMessageW(window, WM_UPDATEUISTATE, MAKEWPARAM(UIS_SET, both), 0);
}

BOOL CALLBACK PassColorChange(HWND child, LPARAM) {
    SendMessageW(child, WM_SYSCOLORCHANGE, 0, 0);
    return TRUE;
}

void OnSize(int64_t number, WindowRecord* record, WPARAM kind) {
    switch (kind) {
    case SIZE_RESTORED:
        if (record->stateFlag) {
            record->stateFlag = 0;
            PostWindowEvent(EV_RESTORED, 0, number, 0);
        }
        // Only the latest size matters to the application.
        RemoveMatchingEvents(EV_RESIZED, 0, number, 0);
        PostWindowEvent(EV_RESIZED, 0, number, 0);
        break;
    case SIZE_MINIMIZED:
        record->stateFlag = 1;
        PostWindowEvent(EV_MINIMIZED, 0, number, 0);
        break;
    case SIZE_MAXIMIZED:
        record->stateFlag = 1;
        PostWindowEvent(EV_MAXIMIZED, 0, number, 0);
        PostWindowEvent(EV_RESIZED, 0, number, 0);
        break;
    default:
        RemoveMatchingEvents(EV_RESIZED, 0, number, 0);
        PostWindowEvent(EV_RESIZED, 0, number, 0);
        break;
    }
}

void OnCommand(int64_t number, WPARAM wParam, LPARAM lParam) {
    if (lParam) {
        LONG_PTR id = GetWindowLongPtrW(reinterpret_cast<HWND>(lParam), GWLP_ID);
        if (id == kMenuCommandControlId)
            PostWindowEvent(EV_MENU_COMMAND, LOWORD(wParam), number, 0);
        else
            PostWindowEvent(EV_CONTROL_NOTIFY, id, number, HIWORD(wParam));
    } else if (HIWORD(wParam) == 0) {
        PostWindowEvent(EV_MENU_COMMAND, int64_t(wParam), number, 0);
    } else if (LOWORD(wParam) == ID_FOCUS_NEXT || LOWORD(wParam) == ID_FOCUS_PREV) {
        // Tab and Shift+Tab: move among the active window's tab stops.
        if (HWND active = GetActiveWindow()) {
            HWND next = GetNextDlgTabItem(active, GetFocus(), LOWORD(wParam) == ID_FOCUS_PREV);
            if (next) SetFocus(next);
        }
    } else {
        PostWindowEvent(EV_MENU_COMMAND, LOWORD(wParam), number, 0);
    }
}

void OnDestroyed(HWND window) {
    auto property = reinterpret_cast<intptr_t>(GetPropW(window, kWindowIdProperty));
    if (!property) return;
    int64_t number = property - 1;
    RemovePropW(window, kFocusProperty);
    RemovePropW(window, kWindowIdProperty);
    WindowRecord* record = gWindows.Get(number);
    // The number may already name a newer window; only our own record goes.
    if (record && record->handle == window) {
        if (record->acceleratorTable)
            DestroyAcceleratorTable(static_cast<HACCEL>(record->acceleratorTable));
        gWindows.Release(number);
    }
    // Fails while the window still exists (it does, until this message returns); WindowClose
    // unregisters the class again once DestroyWindow is done.
    UnregisterClassW(ClassName(number).text, ProgramInstance());
    RemoveWindowEvents(number);
}

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    WindowRecord* record = nullptr;
    int64_t number = WindowNumberFromHandle(window, &record);
    switch (message) {
    case WM_MOVE:
        if (record && record->handle == window && record->opened)
            PostWindowEvent(EV_MOVED, number, number, 0);
        return 0;
    case WM_SIZE:
        if (record && record->handle != window) return 1;
        if (!record || !record->opened) break;
        OnSize(number, record, wParam);
        return 0;
    case WM_ACTIVATE:
        if (LOWORD(wParam) != WA_INACTIVE) {
            auto focus = static_cast<HWND>(GetPropW(window, kFocusProperty));
            if (focus && IsWindow(focus)) SetFocus(focus);
            PostWindowEvent(EV_ACTIVATED, 0, number, 0);
        } else {
            SetPropW(window, kFocusProperty, GetFocus());
            HideKeyboardCues(window);
            PostWindowEvent(EV_DEACTIVATED, 0, number, 0);
        }
        return 1;
    case WM_CLOSE:
        // The application decides; the window stays open.
        if (record && record->handle == window) {
            PostWindowEvent(EV_CLOSE_REQUESTED, number, number, 0);
            EventQueueWake();
        }
        return 0;
    case WM_ERASEBKGND:
        PostWindowEvent(EV_BACKGROUND_ERASED, 0, number, 0);
        break;
    case WM_SYSCOLORCHANGE:
        if (record) EnumChildWindows(window, PassColorChange, 0);
        break;
    case WM_GETMINMAXINFO:
        if (!record) break;
        // A tool window may be as narrow as one pixel (the application's is 1 x 1).
        if (GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW)
            reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize.x = 1;
        return 0;
    case WM_COMMAND:
        OnCommand(number, wParam, lParam);
        return 0;
    case WM_TIMER:
        if (!record) break;
        PostWindowEvent(EV_TIMER_TICK, int64_t(wParam), number, 0);
        return 0;
    case WM_LBUTTONUP:
        PostWindowEvent(EV_CLICK_LEFT, 0, number, 0);
        return 0;
    case WM_LBUTTONDBLCLK:
        PostWindowEvent(EV_DOUBLE_CLICK_LEFT, 0, number, 0);
        return 0;
    case WM_RBUTTONUP:
        PostWindowEvent(EV_CLICK_RIGHT, 0, number, 0);
        return 0;
    case TRAY_CALLBACK_MESSAGE:
        if (TrayCallbackHandler handler = gTrayHandler) handler(window, wParam, lParam, number);
        return 0;
    case WM_NCDESTROY:
        OnDestroyed(window);
        return 1;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void MakeAccelerators(WindowRecord* record) {
    ACCEL entries[2] = {
        {FVIRTKEY | FNOINVERT, VK_TAB, ID_FOCUS_NEXT},
        {FVIRTKEY | FNOINVERT | FSHIFT, VK_TAB, ID_FOCUS_PREV},
    };
    std::memcpy(record->accelerators, entries, sizeof entries);
    record->acceleratorTable = CreateAcceleratorTableW(entries, 2);
}

WindowRecord* Record(int64_t number) {
    return gWindows.Get(number);
}

} // namespace

ObjectTable* WindowTable() {
    return gWindows.Table();
}

void WindowLibraryInit() {
    if (gWindows) return;
    (void)gWindows.Create(16, WindowClose);
    gClassIcon = LoadIconW(ProgramInstance(), MAKEINTRESOURCEW(1));
    gArrowCursor = LoadCursorW(nullptr, IDC_ARROW);
}

void WindowLibraryShutdown() {
    gWindows.ReleaseAll();
    if (gClassIcon) DestroyIcon(gClassIcon);
    gClassIcon = nullptr;
}

intptr_t WindowOpen(int64_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                    const char16_t* title, uint32_t flags, void* parent) {
    // Taking the number closes a window already open under it.
    WindowRecord* record = gWindows.Allocate(number);
    if (!record) return 0;
    int64_t id = number == AnyNumber ? ObjectDynamicId(record) : number;
    ClassName className(id);
    HINSTANCE instance = ProgramInstance();

    WNDCLASSW wc{};
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = WindowProcedure;
    wc.hInstance = instance;
    wc.hIcon = gClassIcon;
    wc.hCursor = gArrowCursor;
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = className.text;
    RegisterClassW(&wc); // a class left from an earlier window of this number serves as well

    uint32_t style = flags & ~kReservedFlag;
    if ((flags & ~kOnlyPlacementFlags) == 0) style |= WS_CAPTION;
    bool invisible = flags & WF_INVISIBLE;
    style &= ~WF_INVISIBLE;
    DWORD exStyle = 0;
    if (flags & WF_TOOL) {
        style = (style & kToolKeeps) | WS_CAPTION;
        exStyle = WS_EX_TOOLWINDOW;
    }

    RECT frame{0, 0, width, height};
    AdjustWindowRectEx(&frame, style & ~kLowFlags, FALSE, exStyle);
    bool defaultPosition =
        x == WINDOW_DEFAULT_POSITION || (y == WINDOW_DEFAULT_POSITION && !(flags & kCenterFlags));
    int createX = defaultPosition ? CW_USEDEFAULT : x;
    int createY = defaultPosition ? CW_USEDEFAULT : y;

    auto owner = static_cast<HWND>(parent);
    HWND window = CreateWindowExW(
        exStyle, className.text, title ? reinterpret_cast<const wchar_t*>(title) : L"",
        style & kCreateStyleMask, createX, createY, frame.right - frame.left,
        frame.bottom - frame.top, owner, nullptr, instance, nullptr);
    if (!window) {
        UnregisterClassW(className.text, instance);
        gWindows.Release(id);
        return 0;
    }
    record->handle = window;
    record->opened = 0;
    record->flags = flags;
    record->number = id;
    SetPropW(window, kWindowIdProperty, reinterpret_cast<HANDLE>(intptr_t(id + 1)));

    // A centre flag that cannot be honoured (no parent) leaves the given position in force.
    if (!((flags & kCenterFlags) && Center(window, flags, owner)) && !defaultPosition) {
        int shift = (style & WS_THICKFRAME) && CompositionEnabled() ? kComposedFrameShift : 0;
        SetWindowPos(window, nullptr, x - shift, y, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }

    if (!invisible)
        ShowWindow(window, ShowCommand(style & WS_MAXIMIZE, style & WS_MINIMIZE, flags));
    record->stateFlag = (style & (WS_MAXIMIZE | WS_MINIMIZE)) ? 1 : 0;
    MakeAccelerators(record);
    record->opened = 1;
    return number == AnyNumber ? id : reinterpret_cast<intptr_t>(window);
}

void* WindowHandle(int64_t number) {
    WindowRecord* record = Record(number);
    return record ? record->handle : nullptr;
}

int32_t WindowHide(int64_t number, int32_t hide, uint32_t flags) {
    WindowRecord* record = Record(number);
    if (!record) return 0;
    auto window = static_cast<HWND>(record->handle);
    HWND owner = GetWindow(window, GW_OWNER);
    if (hide) {
        if (owner) SetActiveWindow(owner);
        return ShowWindow(window, SW_HIDE);
    }
    if (flags & kCenterFlags) Center(window, flags, owner);
    return ShowWindow(window, ShowCommand(IsZoomed(window), IsIconic(window), flags));
}

void WindowClose(int64_t number) {
    WindowRecord* record = Record(number);
    if (!record) return;
    auto window = static_cast<HWND>(record->handle);
    if (HWND owner = GetWindow(window, GW_OWNER)) SetActiveWindow(owner);
    DestroyWindow(window); // its WM_NCDESTROY releases the record
    // The class could not go while its window was being destroyed; now it can, so that
    // classes do not pile up as windows come and go.
    UnregisterClassW(ClassName(number).text, ProgramInstance());
    RemoveWindowEvents(number);
}

uintptr_t TimerAdd(int64_t window, uint64_t id, int32_t intervalMs) {
    WindowRecord* record = Record(window);
    if (!record) return 0;
    return SetTimer(static_cast<HWND>(record->handle), UINT_PTR(id), UINT(intervalMs), nullptr);
}

int32_t TimerRemove(int64_t window, uint64_t id) {
    WindowRecord* record = Record(window);
    if (!record) return 0;
    return KillTimer(static_cast<HWND>(record->handle), UINT_PTR(id));
}

int64_t WindowNumberFromHandle(void* handle, WindowRecord** record) {
    if (record) *record = nullptr;
    HINSTANCE instance = ProgramInstance();
    for (auto window = static_cast<HWND>(handle); window; window = GetParent(window)) {
        auto property = reinterpret_cast<intptr_t>(GetPropW(window, kWindowIdProperty));
        if (!property) continue;
        if (reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE)) != instance)
            continue;
        int64_t number = property - 1;
        if (record) *record = Record(number);
        return number;
    }
    return -1;
}

void WindowSetTrayCallbackHandler(TrayCallbackHandler handler) {
    gTrayHandler = handler;
}

void* WindowAcceleratorTable(void* handle) {
    WindowRecord* record = nullptr;
    WindowNumberFromHandle(handle, &record);
    return record ? record->acceleratorTable : nullptr;
}

void WindowShowKeyboardCues(void* handle) {
    auto window = static_cast<HWND>(handle);
    constexpr LRESULT both = UISF_HIDEFOCUS | UISF_HIDEACCEL;
    if (SendMessageW(window, WM_QUERYUISTATE, 0, 0) & both)
        SendMessageW(window, WM_UPDATEUISTATE, MAKEWPARAM(UIS_CLEAR, both), 0);
}
