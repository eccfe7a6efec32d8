#include "registered_names.h"
#include "requesters.h"

#include "runtime/heap.h"
#include "runtime/lock.h"
#include "runtime/strings.h"

#include <windows.h>

#include <commctrl.h>
#include <objbase.h>
#include <ole2.h>

#include <cstddef>

namespace {

const wchar_t* Wide(const char16_t* text) {
    return reinterpret_cast<const wchar_t*>(text ? text : u"");
}

// ---- Modal scope ------------------------------------------------------------------------

struct ScopeEntry {
    ScopeEntry* next;
    DWORD thread;
    HWND window;
    bool wasTopmost;
    bool disabledByScope;
};

// One list for the process; every thread only adds and removes its own entries.
Lock gScopeLock;
ScopeEntry* gScope = nullptr;

BOOL CALLBACK AddScopeEntry(HWND window, LPARAM) {
    const DWORD thread = GetCurrentThreadId();
    if (GetWindowThreadProcessId(window, nullptr) != thread || !IsWindowVisible(window))
        return TRUE;
    auto* entry = static_cast<ScopeEntry*>(RuntimeAllocate(sizeof(ScopeEntry)));
    if (!entry) return TRUE;
    entry->thread = thread;
    entry->window = window;
    entry->wasTopmost = (GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    if (window != GetForegroundWindow() && IsWindowEnabled(window)) {
        EnableWindow(window, FALSE);
        entry->disabledByScope = true;
    }
    gScopeLock.Acquire();
    entry->next = gScope;
    gScope = entry;
    gScopeLock.Release();
    return TRUE;
}

// ---- Input dialog -----------------------------------------------------------------------

constexpr int kFieldId = 10;
constexpr int kOkId = 1000;
constexpr int kCancelId = 1001;

// One input dialog at a time: its state is the process's.
struct DialogState {
    bool active;
    bool done;   // the dialog window is gone
    bool closed; // the owner is enabled again
    HWND dialog;
    HWND field;
    HWND owner;
    bool ownerDisabled;
};
DialogState gDialog{};
HFONT gDialogFont = nullptr; // made once, kept for the process

HFONT DialogFont() {
    if (!gDialogFont) {
        NONCLIENTMETRICSW metrics{};
        // The size without the last field: accepted by every system version.
        metrics.cbSize = offsetof(NONCLIENTMETRICSW, iPaddedBorderWidth);
        if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, metrics.cbSize, &metrics, 0))
            gDialogFont = CreateFontIndirectW(&metrics.lfMessageFont);
        if (!gDialogFont) gDialogFont = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    }
    return gDialogFont;
}

// The owner is enabled before the dialog goes, so that the system activates it rather than
// some other program's window. The other windows come back once the dialog is gone: while
// it is still the active window, Wine ignores making another window topmost again.
void EnableOwner() {
    if (gDialog.closed) return;
    gDialog.closed = true;
    if (gDialog.ownerDisabled) EnableWindow(gDialog.owner, TRUE);
}

void CloseDialog(HWND dialog) {
    EnableOwner();
    DestroyWindow(dialog);
}

void TakeText(HWND dialog) {
    auto* slot = reinterpret_cast<wchar_t**>(GetWindowLongPtrW(dialog, GWLP_USERDATA));
    if (!slot) return;
    const int length = GetWindowTextLengthW(gDialog.field);
    auto* buffer = static_cast<wchar_t*>(RuntimeAllocate((size_t(length) + 1) * sizeof(wchar_t)));
    if (!buffer) return;
    RuntimeFree(*slot);
    *slot = buffer;
    GetWindowTextW(gDialog.field, buffer, length + 1);
}

LRESULT CALLBACK DialogProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) == kOkId) {
            TakeText(dialog);
            CloseDialog(dialog);
        } else if (LOWORD(wParam) == kCancelId) {
            CloseDialog(dialog);
        }
        return 0;
    case WM_CLOSE:
        CloseDialog(dialog);
        return 0;
    case WM_ACTIVATE:
        if (LOWORD(wParam) != WA_INACTIVE) SetFocus(gDialog.field);
        return 0;
    case WM_DESTROY:
        gDialog.done = true;
        return 0;
    default:
        return DefWindowProcW(dialog, message, wParam, lParam);
    }
}

HWND AddChild(HWND dialog, DWORD exStyle, const wchar_t* cls, const wchar_t* text, DWORD style,
              int x, int y, int width, int height, int id) {
    HWND child = CreateWindowExW(exStyle, cls, text, style, x, y, width, height, dialog,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                 GetModuleHandleW(nullptr), nullptr);
    if (child) SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(DialogFont()), TRUE);
    return child;
}

// Runs the dialog until it is gone. A WM_QUIT that ends the loop early is taken out of the
// queue by GetMessageW; *quit receives its code so that it can be posted again.
bool RunDialog(HWND dialog, WPARAM* quit) {
    ACCEL keys[2] = {{FVIRTKEY, VK_RETURN, kOkId}, {FVIRTKEY, VK_ESCAPE, kCancelId}};
    HACCEL table = CreateAcceleratorTableW(keys, 2);
    SetForegroundWindow(dialog);
    BringWindowToTop(dialog);
    bool quitting = false;
    MSG msg;
    while (!gDialog.done) {
        BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got <= 0) {
            quitting = got == 0;
            if (quitting) *quit = msg.wParam;
            break;
        }
        if (table && TranslateAcceleratorW(dialog, table, &msg)) continue;
        if (IsDialogMessageW(dialog, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    if (table) DestroyAcceleratorTable(table);
    return quitting;
}

} // namespace

void RequesterLibraryInit() {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TAB_CLASSES | ICC_HOTKEY_CLASS |
                                                       ICC_DATE_CLASSES | ICC_USEREX_CLASSES |
                                                       ICC_INTERNET_CLASSES};
    InitCommonControlsEx(&controls);
    (void)CoInitialize(nullptr);
}

void OleLibraryInit() {
    (void)OleInitialize(nullptr);
}

void OleLibraryShutdown() {
    OleUninitialize();
}

void* ForegroundOwner() {
    HWND foreground = GetForegroundWindow();
    if (!foreground) return nullptr;
    DWORD process = 0;
    GetWindowThreadProcessId(foreground, &process);
    return process == GetCurrentProcessId() ? foreground : nullptr;
}

void ModalScopeEnter() {
    EnumWindows(AddScopeEntry, 0);
    const DWORD thread = GetCurrentThreadId();
    gScopeLock.Acquire();
    ScopeEntry* entries = gScope;
    gScopeLock.Release();
    // Only this thread adds or removes its own entries, so its part of the list stays put.
    for (ScopeEntry* e = entries; e; e = e->next)
        if (e->thread == thread && e->wasTopmost)
            SetWindowPos(e->window, HWND_NOTOPMOST, 0, 0, 0, 0,
                         SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void ModalScopeLeave() {
    const DWORD thread = GetCurrentThreadId();
    ScopeEntry* mine = nullptr;
    gScopeLock.Acquire();
    for (ScopeEntry** link = &gScope; *link;) {
        ScopeEntry* e = *link;
        if (e->thread == thread) {
            *link = e->next;
            e->next = mine;
            mine = e;
        } else {
            link = &e->next;
        }
    }
    gScopeLock.Release();
    while (ScopeEntry* e = mine) {
        mine = e->next;
        if (e->disabledByScope) EnableWindow(e->window, TRUE);
        if (e->wasTopmost)
            SetWindowPos(e->window, HWND_TOPMOST, 0, 0, 0, 0,
                         SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        RuntimeFree(e);
    }
}

int64_t MessageBoxShow(const char16_t* title, const char16_t* text, int32_t flags, void* owner) {
    HWND parent = static_cast<HWND>(owner ? owner : ForegroundOwner());
    ModalScopeEnter();
    int result = MessageBoxW(parent, Wide(text), Wide(title), static_cast<UINT>(flags));
    ModalScopeLeave();
    return result;
}

const char16_t* InputDialogShow(const char16_t* title, const char16_t* prompt,
                                const char16_t* defaultText, int32_t flags, void* owner) {
    // A second dialog from inside the first (a timer or tray click while it is open) would
    // share and overwrite its state; it is refused like a cancel.
    if (gDialog.active) return u"";
    // Private copies: the caller's texts may live in a scratch area that moves meanwhile.
    RuntimeString titleCopy, promptCopy, defaultCopy;
    const bool hasDefault = defaultText != nullptr;
    if (!titleCopy.Assign(title) || !promptCopy.Assign(prompt) || !defaultCopy.Assign(defaultText))
        return u"";

    HINSTANCE instance = GetModuleHandleW(nullptr);
    (void)DialogFont();
    WNDCLASSEXW cls{};
    cls.cbSize = sizeof cls;
    cls.style = CS_HREDRAW | CS_VREDRAW;
    cls.lpfnWndProc = DialogProcedure;
    cls.hInstance = instance;
    cls.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    cls.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    cls.lpszClassName = kInputDialogClass;
    RegisterClassExW(&cls); // may still exist from an earlier dialog: that one serves too

    gDialog = DialogState{};
    gDialog.active = true;
    gDialog.owner = static_cast<HWND>(owner ? owner : ForegroundOwner());
    ModalScopeEnter();
    if (gDialog.owner && IsWindowEnabled(gDialog.owner)) {
        EnableWindow(gDialog.owner, FALSE);
        gDialog.ownerDisabled = true;
    }

    wchar_t* entered = nullptr; // the result slot, filled by OK or Enter
    const int x = GetSystemMetrics(SM_CXSCREEN) / 2 - 250;
    const int y = GetSystemMetrics(SM_CYSCREEN) / 2 - 70;
    HWND dialog = CreateWindowExW(0, kInputDialogClass, Wide(titleCopy.Text()),
                                  WS_VISIBLE | WS_CAPTION | WS_SYSMENU, x, y, 500, 140,
                                  static_cast<HWND>(ForegroundOwner()), nullptr, instance, nullptr);
    bool quitting = false;
    WPARAM quit = 0;
    if (dialog) {
        gDialog.dialog = dialog;
        SetWindowLongPtrW(dialog, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&entered));
        AddChild(dialog, 0, L"STATIC", Wide(promptCopy.Text()), WS_CHILD | WS_VISIBLE | SS_SIMPLE,
                 10, 10, 480, 22, 0);
        DWORD fieldStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL;
        if (flags & INPUT_PASSWORD) fieldStyle |= ES_PASSWORD;
        gDialog.field = AddChild(dialog, WS_EX_CLIENTEDGE, L"EDIT", nullptr, fieldStyle, 10, 32,
                                 465, 21, kFieldId);
        AddChild(dialog, 0, L"BUTTON", L"OK", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON,
                 210, 67, 80, 25, kOkId);
        SetFocus(gDialog.field);
        if (hasDefault) {
            SendMessageW(gDialog.field, WM_SETTEXT, 0,
                         reinterpret_cast<LPARAM>(Wide(defaultCopy.Text())));
            const auto end = static_cast<WPARAM>(defaultCopy.Length());
            SendMessageW(gDialog.field, EM_SETSEL, end, static_cast<LPARAM>(end));
        }
        quitting = RunDialog(dialog, &quit);
        // Ended by WM_QUIT, or destroyed with its owner: never leave the dialog up or the
        // other windows disabled.
        if (IsWindow(dialog)) CloseDialog(dialog);
    }
    EnableOwner();
    ModalScopeLeave();
    UnregisterClassW(kInputDialogClass, instance);
    gDialog = DialogState{};
    if (quitting) PostQuitMessage(static_cast<int>(quit));

    const char16_t* result = u"";
    if (entered) {
        if (const char16_t* copy = ScratchCopy(reinterpret_cast<const char16_t*>(entered)))
            result = copy;
        RuntimeFree(entered);
    }
    return result;
}
