#include "runtime/strings.h"
#include "shell_gui_support.h"
#include "ui/requesters.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
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

TEST(Requesters, InputDialogCaretAndTheOtherWindows) {
    gui::Watchdog dog(60, "requester");
    Windows w = OpenWindows();
    ASSERT_EQ(ForegroundOwner(), w.foreground);
    ASSERT_TRUE(Topmost(w.other));

    struct Seen {
        bool otherEnabled = true, otherTopmost = true, ownerEnabled = true;
        DWORD selection = 0;
        std::u16string text;
    } seen;
    WhileBlocked([&] {
        if (!Dialog()) return false;
        seen.otherEnabled = IsWindowEnabled(w.other);
        seen.otherTopmost = Topmost(w.other);
        seen.ownerEnabled = IsWindowEnabled(w.foreground);
        seen.selection = DWORD(SendMessageW(Child(10), EM_GETSEL, 0, 0));
        seen.text = TextOf(Child(10));
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
    gui::Watchdog dog(60, "requester");
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
    gui::Watchdog dog(60, "requester");
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

// How long one requester may wait for its answer before it is dismissed and its case fails:
// far more than a loaded machine needs, and little enough that one lost answer leaves the
// later cases their time before the watchdog.
constexpr ULONGLONG kAnswerLimitMs = 15000;

// The host commands that answered one requester.
struct Answer {
    std::optional<gui::HostCommand> command;
    ULONGLONG endedAt = 0; // when the current command was first seen ended
    int attempts = 0;
    std::string log; // what the commands wrote: where the X focus had been
};

// Waits inside the requester's loop until its window is up and in the foreground, then runs
// the host command (xdotool) made for it with the X focus on the requester. The input is sent
// again when the requester is still up 3 s after the last attempt ended, or as soon as an
// attempt could not get the focus. A requester still up after kAnswerLimitMs is dismissed and
// the case fails on its own.
void AnswerWhenShown(Answer* answer, const wchar_t* cls, const wchar_t* title,
                     std::function<std::string(HWND)> input) {
    answer->command.reset();
    answer->endedAt = 0;
    answer->attempts = 0;
    answer->log.clear();
    const ULONGLONG start = GetTickCount64();
    WhileBlocked([=] {
        HWND window = FindWindowW(cls, title);
        const ULONGLONG now = GetTickCount64();
        if (window && now - start > kAnswerLimitMs) {
            ADD_FAILURE() << "no answer reached the requester within " << kAnswerLimitMs
                          << " ms after " << answer->attempts << " attempt(s)";
            gui::DismissWindows();
            return true;
        }
        if (!window || !IsWindowVisible(window) || GetForegroundWindow() != window) return false;
        if (answer->command) {
            if (!answer->command->Finished()) return false;
            if (answer->command->Wait(0) != gui::kNoXFocus) {
                if (!answer->endedAt) answer->endedAt = now;
                if (now - answer->endedAt < 3000) return false;
            }
            answer->log += answer->command->Output();
            answer->command.reset(); // ended: nothing to wait for
            answer->endedAt = 0;
        }
        ++answer->attempts;
        answer->command.emplace(gui::WithXFocus(window, "sleep 0.1; " + input(window)));
        return false; // until the requester is gone and the step with it
    });
}

// Ends the answering of one requester, and tells what it took when that was more than one
// plain attempt.
void FinishAnswer(Answer* answer) {
    StopBlockedStep();
    if (answer->command) {
        (void)answer->command->Wait(10000);
        answer->log += answer->command->Output();
    }
    if (answer->attempts > 1 || !answer->log.empty())
        std::fprintf(stderr, "requester answered after %d attempt(s)\n%s", answer->attempts,
                     answer->log.c_str());
    answer->command.reset();
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
    // A last resort: each requester has a limit of its own.
    gui::Watchdog dog(150, "requesters");
    if (!gui::CanDriveDisplay()) GTEST_SKIP() << "no display to drive";
    Answer answer;

    struct Box {
        const char* keys;
        int64_t result;
    } boxes[] = {{"xdotool key y", IDYES}, {"xdotool key n", IDNO}};
    for (const Box& b : boxes) {
        SCOPED_TRACE(b.keys);
        AnswerWhenShown(&answer, L"#32770", L"Restart required.", [&](HWND) { return b.keys; });
        EXPECT_EQ(MessageBoxShow(u"Restart required.", u"Should Morlett restart right now?", 4),
                  b.result);
        FinishAnswer(&answer);
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
        FinishAnswer(&answer);
    }
}

} // namespace
