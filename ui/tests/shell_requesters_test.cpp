#include "runtime/strings.h"
#include "shell_gui_support.h"
#include "ui/requesters.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>

namespace {

HWND Dialog() {
    return FindWindowW(L"InputRequester", nullptr);
}

HWND Child(int id) {
    return GetDlgItem(Dialog(), id);
}

std::u16string TextOf(HWND window) {
    wchar_t text[256] = {};
    GetWindowTextW(window, text, 256);
    return reinterpret_cast<char16_t*>(text);
}

struct Windows {
    HWND other;      // visible, enabled, topmost, not in the foreground
    HWND foreground; // the foreground window: the requester's owner
};

LRESULT CALLBACK Plain(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    return DefWindowProcW(w, m, wp, lp);
}

Windows OpenWindows() {
    static bool registered = false;
    if (!registered) {
        WNDCLASSW cls{};
        cls.lpfnWndProc = Plain;
        cls.hInstance = GetModuleHandleW(nullptr);
        cls.lpszClassName = L"ShellRequesterTest";
        registered = RegisterClassW(&cls) != 0;
    }
    Windows w{};
    w.other =
        CreateWindowExW(WS_EX_TOPMOST, L"ShellRequesterTest", L"other", WS_OVERLAPPEDWINDOW, 600,
                        600, 200, 100, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    w.foreground = CreateWindowExW(0, L"ShellRequesterTest", L"owner", WS_OVERLAPPEDWINDOW, 50, 600,
                                   200, 100, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ShowWindow(w.other, SW_SHOWNOACTIVATE);
    ShowWindow(w.foreground, SW_SHOWNORMAL);
    SetForegroundWindow(w.foreground);
    return w;
}

void CloseWindows(const Windows& w) {
    DestroyWindow(w.other);
    DestroyWindow(w.foreground);
}

bool Topmost(HWND window) {
    return (GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
}

TEST(Requesters, InputDialogLayoutCaretAndTheOtherWindows) {
    Windows w = OpenWindows();
    ASSERT_EQ(ForegroundOwner(), w.foreground);
    ASSERT_TRUE(Topmost(w.other));

    struct Seen {
        bool otherEnabled = true, otherTopmost = true, ownerEnabled = true;
        DWORD selection = 0;
        std::u16string text, prompt, button;
        RECT dialog{}, prompt_{}, field{}, ok{};
        LONG_PTR fieldStyle = 0, fieldExStyle = 0;
    } seen;
    WhileBlocked([&] {
        if (!Dialog()) return false;
        seen.otherEnabled = IsWindowEnabled(w.other);
        seen.otherTopmost = Topmost(w.other);
        seen.ownerEnabled = IsWindowEnabled(w.foreground);
        seen.selection = DWORD(SendMessageW(Child(10), EM_GETSEL, 0, 0));
        seen.text = TextOf(Child(10));
        seen.prompt = TextOf(Child(0));
        seen.button = TextOf(Child(1000));
        GetWindowRect(Dialog(), &seen.dialog);
        auto inClient = [](HWND child, RECT* r) {
            GetWindowRect(child, r);
            MapWindowPoints(nullptr, Dialog(), reinterpret_cast<POINT*>(r), 2);
        };
        inClient(Child(0), &seen.prompt_);
        inClient(Child(10), &seen.field);
        inClient(Child(1000), &seen.ok);
        seen.fieldStyle = GetWindowLongPtrW(Child(10), GWL_STYLE);
        seen.fieldExStyle = GetWindowLongPtrW(Child(10), GWL_EXSTYLE);
        PostMessageW(Dialog(), WM_COMMAND, 1000, 0); // OK
        return true;
    });
    ScratchMark mark;
    std::u16string result = InputDialogShow(u"Morlett", u"Enter a number", u"3000");
    EXPECT_EQ(result, u"3000");

    EXPECT_FALSE(seen.otherEnabled);
    EXPECT_FALSE(seen.otherTopmost);
    EXPECT_FALSE(seen.ownerEnabled);
    EXPECT_EQ(LOWORD(seen.selection), 4); // caret after the last character, nothing selected
    EXPECT_EQ(HIWORD(seen.selection), 4);
    EXPECT_EQ(seen.text, u"3000");
    EXPECT_EQ(seen.prompt, u"Enter a number");
    EXPECT_EQ(seen.button, u"OK");
    const int cx = GetSystemMetrics(SM_CXSCREEN) / 2, cy = GetSystemMetrics(SM_CYSCREEN) / 2;
    EXPECT_EQ(seen.dialog.left, cx - 250);
    EXPECT_EQ(seen.dialog.top, cy - 70);
    EXPECT_EQ(seen.dialog.right - seen.dialog.left, 500);
    EXPECT_EQ(seen.dialog.bottom - seen.dialog.top, 140);
    struct Expected {
        RECT* got;
        RECT want; // left, top, width, height
    } layout[] = {{&seen.prompt_, {10, 10, 480, 22}},
                  {&seen.field, {10, 32, 465, 21}},
                  {&seen.ok, {210, 67, 80, 25}}};
    for (const Expected& e : layout) {
        EXPECT_EQ(e.got->left, e.want.left);
        EXPECT_EQ(e.got->top, e.want.top);
        EXPECT_EQ(e.got->right - e.got->left, e.want.right);
        EXPECT_EQ(e.got->bottom - e.got->top, e.want.bottom);
    }
    EXPECT_EQ(seen.fieldStyle & ES_PASSWORD, 0);
    EXPECT_NE(seen.fieldExStyle & WS_EX_CLIENTEDGE, 0);

    // Afterwards everything is as it was, and the dialog's class is gone.
    EXPECT_TRUE(IsWindowEnabled(w.other));
    EXPECT_TRUE(Topmost(w.other));
    EXPECT_TRUE(IsWindowEnabled(w.foreground));
    EXPECT_EQ(Dialog(), nullptr);
    WNDCLASSW cls;
    EXPECT_FALSE(GetClassInfoW(GetModuleHandleW(nullptr), L"InputRequester", &cls));
    CloseWindows(w);
}

TEST(Requesters, InputDialogEndsCleanlyOnQuitAndRefusesASecondOne) {
    Windows w = OpenWindows();
    std::u16string nested = u"not asked";
    WhileBlocked([&] {
        if (!Dialog()) return false;
        ScratchMark mark;
        nested = InputDialogShow(u"second", u"second", u"x"); // refused at once
        PostQuitMessage(7);
        return true;
    });
    ScratchMark mark;
    EXPECT_EQ(std::u16string(InputDialogShow(u"t", u"p", nullptr)), u"");
    EXPECT_EQ(nested, u"");
    EXPECT_EQ(Dialog(), nullptr);
    EXPECT_TRUE(IsWindowEnabled(w.other));
    EXPECT_TRUE(IsWindowEnabled(w.foreground));
    // The quit message is passed on to the caller's loop.
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 7u);
    CloseWindows(w);
}

TEST(Requesters, MessageBoxDisablesTheOtherWindowsMeanwhile) {
    Windows w = OpenWindows();
    bool otherEnabled = true;
    WhileBlocked([&] {
        HWND box = FindWindowW(L"#32770", L"Restart required.");
        if (!box) return false;
        otherEnabled = IsWindowEnabled(w.other);
        PostMessageW(box, WM_COMMAND, IDNO, 0);
        return true;
    });
    EXPECT_EQ(MessageBoxShow(u"Restart required.", u"Should Morlett restart right now?", MB_YESNO),
              IDNO);
    EXPECT_FALSE(otherEnabled);
    EXPECT_TRUE(IsWindowEnabled(w.other));
    EXPECT_TRUE(Topmost(w.other));
    CloseWindows(w);
}

} // namespace

namespace {

// Waits inside the requester's loop until its window is up and in the foreground, then runs
// the host command (xdotool) made for it.
void AnswerWhenShown(std::optional<gui::HostCommand>* answer, const wchar_t* cls,
                     const wchar_t* title, std::function<std::string(HWND)> input) {
    WhileBlocked([=] {
        HWND window = FindWindowW(cls, title);
        if (!window || !IsWindowVisible(window) || GetForegroundWindow() != window) return false;
        answer->emplace(input(window));
        return true;
    });
}

// Where the close box of a window's caption is.
POINT CloseBox(HWND window) {
    RECT r{};
    GetWindowRect(window, &r);
    const int y = r.top + GetSystemMetrics(SM_CYCAPTION) / 2 + 1;
    for (int x = r.right - 1; x > r.left; --x)
        if (SendMessageW(window, WM_NCHITTEST, 0, MAKELPARAM(x, y)) == HTCLOSE) {
            POINT p{x - 3, y};
            return p;
        }
    return POINT{r.right - 10, y};
}

TEST(Requesters, AnsweredWithRealKeysAndClicks) {
    gui::Watchdog dog(90, "requesters");
    if (!gui::CanDriveDisplay()) GTEST_SKIP() << "no display to drive";
    std::optional<gui::HostCommand> answer;

    struct Box {
        const char* keys;
        int64_t result;
    } boxes[] = {{"xdotool key y", IDYES}, {"xdotool key n", IDNO}};
    for (const Box& b : boxes) {
        SCOPED_TRACE(b.keys);
        AnswerWhenShown(&answer, L"#32770", L"Restart required.", [&](HWND) { return b.keys; });
        EXPECT_EQ(MessageBoxShow(u"Restart required.", u"Should Morlett restart right now?", 4),
                  b.result);
        answer.reset();
    }

    struct Dialog {
        const char* what;
        int32_t flags;
        const char16_t* defaultText;
        std::function<std::string(HWND)> input;
        std::u16string result;
    } dialogs[] = {
        // The caret stands after the default text, so typing appends.
        {"typed and Enter", 0, u"3000",
         [](HWND) { return "xdotool type 12 && xdotool key Return"; }, u"300012"},
        {"Escape", 0, u"3000", [](HWND) { return "xdotool type 12 && xdotool key Escape"; }, u""},
        {"close box", 0, u"3000",
         [](HWND w) { return "xdotool mousemove " + At(CloseBox(w)) + " sleep 0.2 click 1"; }, u""},
        {"password", INPUT_PASSWORD, nullptr,
         [](HWND) { return "xdotool type secret && xdotool key Return"; }, u"secret"},
    };
    for (const Dialog& d : dialogs) {
        SCOPED_TRACE(d.what);
        wchar_t mask = 0;
        AnswerWhenShown(&answer, L"InputRequester", L"Morlett", [&](HWND w) {
            mask = wchar_t(SendMessageW(GetDlgItem(w, 10), EM_GETPASSWORDCHAR, 0, 0));
            return d.input(w);
        });
        ScratchMark mark;
        EXPECT_EQ(
            std::u16string(InputDialogShow(u"Morlett", u"Enter a number", d.defaultText, d.flags)),
            d.result);
        EXPECT_EQ(mask != 0, (d.flags & INPUT_PASSWORD) != 0);
        answer.reset();
    }
}

} // namespace
