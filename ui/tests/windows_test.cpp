// Real windows under Wine: styles and placement, numbers and their reuse, the events the
// window procedure makes from native messages, timers, and real mouse and keyboard input.
#include "gui_support.h"
#include "queue_test_support.h"

#include "ui/windows.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <initializer_list>

namespace {

HWND Handle(int64_t number) {
    return static_cast<HWND>(WindowHandle(number));
}

// The queued events of window, limited to the codes given.
std::vector<int32_t> CodesOf(const std::vector<QueuedEvent>& events, int64_t window,
                             std::initializer_list<int32_t> wanted) {
    std::vector<int32_t> codes;
    for (const QueuedEvent& e : events)
        if (e.window == window && std::find(wanted.begin(), wanted.end(), e.code) != wanted.end())
            codes.push_back(e.code);
    return codes;
}

int Count(const std::vector<QueuedEvent>& events, const QueuedEvent& event) {
    return int(std::count(events.begin(), events.end(), event));
}

// Lets the messages of what was just done arrive, then takes the events they made.
std::vector<QueuedEvent> Settle(int ms = 50) {
    gui::PumpMessages(ms);
    return DrainQueued();
}

// Calls WaitEvent (with a short timeout) until it returned `until` or timeoutMs passed;
// every non-zero result in order. This is the application's way of taking input, so
// accelerators are translated.
std::vector<int64_t> WaitResults(int64_t until, int timeoutMs = 3000) {
    std::vector<int64_t> results;
    ULONGLONG end = GetTickCount64() + ULONGLONG(timeoutMs);
    while (GetTickCount64() < end) {
        int64_t r = WaitEvent(50);
        if (r == 0) continue;
        results.push_back(r);
        if (r == until) break;
    }
    return results;
}

class Windows : public testing::Test {
  protected:
    void SetUp() override {
        // The application's own window: invisible 1 x 1 tool window, centred.
        ASSERT_NE(WindowOpen(0, 0, 0, 1, 1, u"Morlett", 0x11000005), 0);
        Settle();
    }
    void TearDown() override {
        for (int64_t n : {0, 1, 2, 3, 4, 5, 6}) WindowClose(n);
        Settle();
    }
    gui::Watchdog watchdog_{60, "window test"};
};

} // namespace

TEST_F(Windows, FlagsGiveStylesVisibilityAndPlacement) {
    struct StyleCase {
        const char* name;
        uint32_t flags;
        LONG_PTR style, exStyle; // as created, without the bits the system adds
        bool visible, centred;
    };
    const StyleCase cases[] = {
        {"the application's window", 0x11000005, WS_CAPTION, WS_EX_TOOLWINDOW, false, true},
        {"flags 0 get a caption", 0, WS_CAPTION, 0, true, false},
        {"a tool window loses minimize and maximize",
         WF_TOOL | WF_MINIMIZE | WF_MAXIMIZE | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX,
         WS_CAPTION | WS_SYSMENU, WS_EX_TOOLWINDOW, true, false},
        {"style bits pass through without a caption", WS_POPUP | WS_BORDER, WS_POPUP | WS_BORDER, 0,
         true, false},
        {"our own bits never become styles", WF_NO_ACTIVATE | 0x8 | WS_CAPTION | WS_SYSMENU,
         WS_CAPTION | WS_SYSMENU, 0, true, false},
        {"centred and shown", WF_CENTER_SCREEN, WS_CAPTION, 0, true, true},
    };
    const int screenW = GetSystemMetrics(SM_CXSCREEN), screenH = GetSystemMetrics(SM_CYSCREEN);
    for (const StyleCase& c : cases) {
        SCOPED_TRACE(c.name);
        const bool tiny = c.flags == 0x11000005;
        const int width = tiny ? 1 : 160, height = tiny ? 1 : 90;
        ASSERT_NE(WindowOpen(1, 100, 120, width, height, u"styles", c.flags), 0);
        HWND window = Handle(1);
        const LONG_PTR systemBits = WS_VISIBLE | WS_CLIPSIBLINGS;
        EXPECT_EQ(GetWindowLongPtrW(window, GWL_STYLE) & ~systemBits, c.style);
        EXPECT_EQ(GetWindowLongPtrW(window, GWL_EXSTYLE) & ~LONG_PTR(WS_EX_WINDOWEDGE), c.exStyle);
        EXPECT_EQ(bool(IsWindowVisible(window)), c.visible);
        RECT client, frame;
        GetClientRect(window, &client);
        if (!tiny) {
            // A captioned top-level window is held to the system's minimum tracking size
            // while it is created, before it is ours; the application's invisible window
            // therefore comes out wider than 1 x 1, which nobody sees.
            EXPECT_EQ(client.right, width);
            EXPECT_EQ(client.bottom, height);
        }
        GetWindowRect(window, &frame);
        if (c.centred) {
            EXPECT_EQ(frame.left, (screenW - (frame.right - frame.left)) / 2);
            EXPECT_EQ(frame.top, (screenH - (frame.bottom - frame.top)) / 2);
        } else {
            EXPECT_EQ(frame.left, 100); // no thick frame: no composition shift
            EXPECT_EQ(frame.top, 120);
        }
    }
}

TEST_F(Windows, HideShowsAndHidesAndCentresOnRequest) {
    HWND window = Handle(0);
    EXPECT_EQ(WindowHide(0, 0), 0); // was hidden
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_NE(WindowHide(0, 1), 0); // was visible
    EXPECT_FALSE(IsWindowVisible(window));

    ASSERT_NE(WindowOpen(1, 10, 10, 200, 100, u"moved", WF_INVISIBLE), 0);
    EXPECT_EQ(WindowHide(1, 0, WF_CENTER_SCREEN | WF_NO_ACTIVATE), 0);
    RECT frame;
    GetWindowRect(Handle(1), &frame);
    EXPECT_EQ(frame.left, (GetSystemMetrics(SM_CXSCREEN) - (frame.right - frame.left)) / 2);
    EXPECT_TRUE(IsWindowVisible(Handle(1)));

    EXPECT_EQ(WindowHide(6, 0), 0); // no such window

    // Centred on a parent; without one, the given position holds.
    ASSERT_NE(WindowOpen(2, 100, 100, 400, 300, u"parent", WS_CAPTION | WF_NO_ACTIVATE), 0);
    ASSERT_NE(WindowOpen(3, 7, 9, 100, 50, u"child", WF_CENTER_PARENT, Handle(2)), 0);
    gui::ScreenRect parent = gui::WindowRect(Handle(2)), child = gui::WindowRect(Handle(3));
    EXPECT_EQ(child.left,
              parent.left + (parent.right - parent.left - (child.right - child.left)) / 2);
    EXPECT_EQ(child.top,
              parent.top + (parent.bottom - parent.top - (child.bottom - child.top)) / 2);
    ASSERT_NE(WindowOpen(4, 7, 9, 100, 50, u"orphan", WF_CENTER_PARENT), 0);
    EXPECT_EQ(gui::WindowRect(Handle(4)).left, 7);
    EXPECT_EQ(gui::WindowRect(Handle(4)).top, 9);
}

TEST_F(Windows, ReusingANumberClosesTheOldWindowAndDropsItsEvents) {
    HWND first = reinterpret_cast<HWND>(WindowOpen(5, 100, 100, 120, 80, u"first", 0));
    ASSERT_TRUE(first);
    Settle();
    PostWindowEvent(EV_TIMER_TICK, 77, 5, 0);
    PostWindowEvent(EV_TIMER_TICK, 78, 6, 0);
    HWND second = reinterpret_cast<HWND>(WindowOpen(5, 100, 100, 120, 80, u"second", 0));
    ASSERT_TRUE(second);
    EXPECT_FALSE(IsWindow(first));
    EXPECT_EQ(Handle(5), second);
    std::vector<QueuedEvent> events = Settle();
    EXPECT_EQ(Count(events, {EV_TIMER_TICK, 77, 5, 0}), 0);
    EXPECT_EQ(Count(events, {EV_TIMER_TICK, 78, 6, 0}), 1);

    WindowClose(5);
    EXPECT_FALSE(IsWindow(second));
    EXPECT_EQ(Handle(5), nullptr);
    // The window's class goes with it, so that classes do not pile up.
    WNDCLASSW wc;
    EXPECT_FALSE(GetClassInfoW(GetModuleHandleW(nullptr), L"WindowClass_5", &wc));
    // A closed number answers 0 and does nothing.
    EXPECT_EQ(TimerAdd(5, 1, 10), 0u);
    EXPECT_EQ(TimerRemove(5, 1), 0);
    WindowClose(5);
}

TEST_F(Windows, DynamicWindowsHaveIdentifiersOfTheirOwn) {
    intptr_t a = WindowOpen(AnyNumber, 0, 0, 50, 50, u"a", WF_INVISIBLE);
    intptr_t b = WindowOpen(AnyNumber, 0, 0, 50, 50, u"b", WF_INVISIBLE);
    ASSERT_NE(a, 0);
    ASSERT_NE(b, 0);
    EXPECT_NE(a, b);
    HWND window = Handle(a);
    ASSERT_TRUE(IsWindow(window));
    EXPECT_EQ(WindowNumberFromHandle(window), a);
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(Settle(), (std::vector<QueuedEvent>{{EV_CLOSE_REQUESTED, a, a, 0}}));
    WindowClose(a);
    WindowClose(b);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(WindowHandle(a), nullptr);
    EXPECT_EQ(WindowHandle(12345678), nullptr); // names nothing: no stray access
}

TEST_F(Windows, MinimizeMaximizeAndRestoreEvents) {
    const uint32_t flags = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
    ASSERT_NE(WindowOpen(3, 50, 50, 200, 100, u"sizes", flags | WF_NO_ACTIVATE), 0);
    HWND window = Handle(3);
    Settle();
    const auto sizeCodes = {EV_MINIMIZED, EV_MAXIMIZED, EV_RESTORED, EV_RESIZED};

    ShowWindow(window, SW_MINIMIZE);
    ShowWindow(window, SW_RESTORE);
    EXPECT_EQ(CodesOf(Settle(), 3, sizeCodes),
              (std::vector<int32_t>{EV_MINIMIZED, EV_RESTORED, EV_RESIZED}));

    // Two restores in a row leave one resize: only the latest size matters.
    for (int i = 0; i < 2; ++i) {
        ShowWindow(window, SW_MINIMIZE);
        ShowWindow(window, SW_RESTORE);
    }
    EXPECT_EQ(
        CodesOf(Settle(), 3, sizeCodes),
        (std::vector<int32_t>{EV_MINIMIZED, EV_RESTORED, EV_MINIMIZED, EV_RESTORED, EV_RESIZED}));

    ShowWindow(window, SW_MAXIMIZE);
    ShowWindow(window, SW_RESTORE);
    EXPECT_EQ(CodesOf(Settle(), 3, sizeCodes),
              (std::vector<int32_t>{EV_MAXIMIZED, EV_RESTORED, EV_RESIZED}));

    SetWindowPos(window, nullptr, 0, 0, 300, 150, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowPos(window, nullptr, 0, 0, 320, 160, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowPos(window, nullptr, 70, 80, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    std::vector<QueuedEvent> events = Settle();
    EXPECT_EQ(CodesOf(events, 3, sizeCodes), std::vector<int32_t>{EV_RESIZED});
    EXPECT_EQ(Count(events, {EV_MOVED, 3, 3, 0}), 1);
}

TEST_F(Windows, CloseRequestLeavesTheWindowOpenAndWakesTheLoop) {
    HWND window = Handle(0);
    PostMessageW(window, WM_CLOSE, 0, 0);
    std::vector<int64_t> results = WaitResults(EventWakeMessage());
    auto close = std::find(results.begin(), results.end(), WM_CLOSE);
    ASSERT_NE(close, results.end());
    ASSERT_NE(close + 1, results.end());
    EXPECT_EQ(close[1], EV_CLOSE_REQUESTED);
    EXPECT_EQ(EventObject(), 0);
    EXPECT_EQ(results.back(), int64_t(EventWakeMessage()));
    EXPECT_TRUE(IsWindow(window));
    EXPECT_EQ(Handle(0), window);
}

TEST_F(Windows, TimerTicksAndTheirMergingInAModalLoop) {
    ASSERT_NE(TimerAdd(0, 0, 20), 0u);
    std::vector<int64_t> results = WaitResults(EV_TIMER_TICK);
    ASSERT_FALSE(results.empty());
    ASSERT_EQ(results.back(), EV_TIMER_TICK);
    EXPECT_EQ(EventObject(), 0);
    EXPECT_EQ(EventType(), 0);
    EXPECT_EQ(EventWindow(), 0);
    EXPECT_NE(TimerRemove(0, 0), 0);
    Settle(100);
    EXPECT_TRUE(CodesOf(Settle(100), 0, {EV_TIMER_TICK}).empty());
    EXPECT_EQ(TimerRemove(0, 0), 0); // already gone

    // A loop that dispatches while the application takes no events: the ticks merge.
    ASSERT_NE(TimerAdd(0, 4, 10), 0u);
    gui::PumpMessages(250);
    EXPECT_NE(TimerRemove(0, 4), 0);
    EXPECT_EQ(Settle(), (std::vector<QueuedEvent>{{EV_TIMER_TICK, 4, 0, 0}}));

    // A move between ticks keeps them apart.
    HWND window = Handle(0);
    SendMessageW(window, WM_TIMER, 4, 0);
    SetWindowPos(window, nullptr, 5, 5, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageW(window, WM_TIMER, 4, 0);
    EXPECT_EQ(Settle(),
              (std::vector<QueuedEvent>{
                  {EV_TIMER_TICK, 4, 0, 0}, {EV_MOVED, 0, 0, 0}, {EV_TIMER_TICK, 4, 0, 0}}));
}

TEST_F(Windows, CommandsFromMenusAcceleratorsAndControls) {
    ASSERT_NE(WindowOpen(2, 300, 300, 200, 100, u"commands", WF_INVISIBLE), 0);
    HWND window = Handle(2);
    HINSTANCE instance = GetModuleHandleW(nullptr);
    HWND control = CreateWindowExW(0, L"BUTTON", L"x", WS_CHILD, 0, 0, 10, 10, window,
                                   reinterpret_cast<HMENU>(42), instance, nullptr);
    HWND menuLike = CreateWindowExW(0, L"BUTTON", L"y", WS_CHILD, 0, 0, 10, 10, window,
                                    reinterpret_cast<HMENU>(INT_PTR(-10000)), instance, nullptr);
    ASSERT_TRUE(control && menuLike);
    Settle();
    struct CommandCase {
        const char* name;
        WPARAM wParam;
        HWND from;
        std::vector<QueuedEvent> expected;
    };
    const CommandCase cases[] = {
        {"menu item", 2, nullptr, {{EV_MENU_COMMAND, 2, 2, 0}}},
        {"accelerator", MAKEWPARAM(7, 1), nullptr, {{EV_MENU_COMMAND, 7, 2, 0}}},
        {"Tab is reserved", MAKEWPARAM(ID_FOCUS_NEXT, 1), nullptr, {}},
        {"Shift+Tab is reserved", MAKEWPARAM(ID_FOCUS_PREV, 1), nullptr, {}},
        {"control notification", MAKEWPARAM(42, 5), control, {{EV_CONTROL_NOTIFY, 42, 2, 5}}},
        {"control acting as a menu", MAKEWPARAM(9, 3), menuLike, {{EV_MENU_COMMAND, 9, 2, 0}}},
    };
    for (const CommandCase& c : cases) {
        SCOPED_TRACE(c.name);
        SendMessageW(window, WM_COMMAND, c.wParam, reinterpret_cast<LPARAM>(c.from));
        EXPECT_EQ(DrainQueued(), c.expected);
    }
}

// Real input through the X server: clicks become click events, Tab and Shift+Tab move the
// focus through WaitEvent's accelerators, and a window gets its focus back on activation.
TEST_F(Windows, RealMouseAndKeyboardInput) {
    if (!gui::CanDriveDisplay()) GTEST_SKIP() << "no display to drive";
    ASSERT_NE(WindowOpen(4, 200, 200, 300, 160, u"input", WS_CAPTION | WS_SYSMENU), 0);
    HWND window = Handle(4);
    HINSTANCE instance = GetModuleHandleW(nullptr);
    auto child = [&](const wchar_t* cls, DWORD style, int x, int y, int w, int h, int id) {
        return CreateWindowExW(0, cls, L"", WS_CHILD | WS_VISIBLE | style, x, y, w, h, window,
                               reinterpret_cast<HMENU>(INT_PTR(id)), instance, nullptr);
    };
    HWND edit1 = child(L"EDIT", WS_TABSTOP | WS_BORDER, 10, 10, 100, 22, 11);
    HWND edit2 = child(L"EDIT", WS_TABSTOP | WS_BORDER, 10, 40, 100, 22, 12);
    HWND button = child(L"BUTTON", BS_PUSHBUTTON, 150, 10, 80, 25, 42);
    ASSERT_TRUE(edit1 && edit2 && button);
    SetForegroundWindow(window);
    SetFocus(edit1);
    Settle(200);

    // Mouse: clicks on the client area away from the controls.
    gui::ScreenRect client = gui::ClientRectOnScreen(window);
    const int x = client.left + 250, y = client.top + 120;
    const auto clickCodes = {EV_CLICK_LEFT, EV_DOUBLE_CLICK_LEFT, EV_CLICK_RIGHT};
    struct ClickCase {
        const char* clicks;
        std::vector<int32_t> expected;
    };
    const ClickCase clickCases[] = {
        {"click 1", {EV_CLICK_LEFT}},
        // Release, double-click press, release.
        {"click --repeat 2 --delay 80 1", {EV_CLICK_LEFT, EV_DOUBLE_CLICK_LEFT, EV_CLICK_LEFT}},
        {"click 3", {EV_CLICK_RIGHT}},
    };
    const std::string moveThere = "mousemove " + std::to_string(x) + " " + std::to_string(y) + " ";
    for (const ClickCase& c : clickCases) {
        SCOPED_TRACE(c.clicks);
        // Apart from the last click, so that no click makes the next one a double click.
        ASSERT_EQ(gui::XdoTool(moveThere + "sleep 0.6 " + c.clicks, 10000, true), 0);
        EXPECT_EQ(CodesOf(Settle(200), 4, clickCodes), c.expected);
    }

    // A click on the button reaches the application as its notification.
    gui::ScreenRect b = gui::WindowRect(button);
    ASSERT_EQ(gui::XdoTool("mousemove " + std::to_string(b.CenterX()) + " " +
                               std::to_string(b.CenterY()) + " click 1",
                           10000, true),
              0);
    EXPECT_EQ(Count(Settle(300), {EV_CONTROL_NOTIFY, 42, 4, BN_CLICKED}), 1);

    // Keyboard: Tab and Shift+Tab go through WaitEvent's accelerators.
    SetFocus(edit1);
    Settle();
    auto pressWhileWaiting = [window](const char* keys) {
        gui::HostCommand command(gui::WithXFocus(window, std::string("xdotool key ") + keys));
        std::vector<int64_t> results;
        for (int i = 0; i < 300 && !command.Finished(); ++i) results.push_back(WaitEvent(20));
        for (int i = 0; i < 10; ++i) results.push_back(WaitEvent(20));
        return results;
    };
    std::vector<int64_t> results = pressWhileWaiting("Tab");
    EXPECT_EQ(GetFocus(), edit2);
    EXPECT_EQ(std::count(results.begin(), results.end(), EV_MENU_COMMAND), 0);
    pressWhileWaiting("shift+Tab");
    EXPECT_EQ(GetFocus(), edit1);

    // Deactivation remembers the focus; activation gives it back.
    SetFocus(edit2);
    ASSERT_NE(WindowOpen(5, 600, 200, 100, 60, u"other", WS_CAPTION), 0);
    SetActiveWindow(Handle(5));
    std::vector<QueuedEvent> events = Settle();
    EXPECT_EQ(Count(events, {EV_DEACTIVATED, 0, 4, 0}), 1);
    SetFocus(nullptr);
    SetActiveWindow(window);
    events = Settle();
    EXPECT_EQ(Count(events, {EV_ACTIVATED, 0, 4, 0}), 1);
    EXPECT_EQ(GetFocus(), edit2);
}

// Placing a window at a given position asks once whether desktop composition is on. The
// library that answers must come from the system folder, never from a folder an attacker
// can write to. This is the only test that places a window with a thick frame, so the
// question is asked here.
TEST_F(Windows, CompositionQueryIgnoresAPlantedLibrary) {
    if (GetModuleHandleW(L"dwmapi.dll")) GTEST_SKIP() << "dwmapi.dll was already loaded";
    wchar_t planted[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, planted, MAX_PATH);
    ASSERT_TRUE(n > 0 && n < MAX_PATH - 10);
    *wcsrchr(planted, L'\\') = 0;
    wcscat(planted, L"\\planted");
    ASSERT_NE(GetFileAttributesW((std::wstring(planted) + L"\\dwmapi.dll").c_str()),
              INVALID_FILE_ATTRIBUTES);
    ASSERT_TRUE(SetDllDirectoryW(planted));
    intptr_t opened = WindowOpen(1, 100, 120, 200, 100, u"thick", WS_CAPTION | WS_THICKFRAME);
    SetDllDirectoryW(nullptr);
    ASSERT_NE(opened, 0);
    EXPECT_EQ(GetEnvironmentVariableW(L"MORLETT_PLANTED_DWMAPI_RAN", nullptr, 0), 0u);
    HMODULE loaded = GetModuleHandleW(L"dwmapi.dll");
    if (loaded) {
        wchar_t path[MAX_PATH] = {};
        GetModuleFileNameW(loaded, path, MAX_PATH);
        EXPECT_EQ(wcsstr(path, L"\\planted\\"), nullptr) << "loaded from the planted folder";
    }
    // Wine reports no composition, so the window stands where it was asked to.
    EXPECT_EQ(gui::WindowRect(Handle(1)).left, 100);
}

// Shutdown closes numbered and dynamic windows alike; the library stays usable.
TEST_F(Windows, ShutdownClosesEveryWindow) {
    HWND zero = Handle(0);
    ASSERT_NE(WindowOpen(6, 0, 0, 40, 40, u"six", WF_INVISIBLE), 0);
    HWND six = Handle(6);
    intptr_t dynamic = WindowOpen(AnyNumber, 0, 0, 40, 40, u"dynamic", WF_INVISIBLE);
    ASSERT_NE(dynamic, 0);
    HWND third = Handle(dynamic);
    WindowLibraryShutdown();
    for (HWND window : {zero, six, third}) EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(Handle(0), nullptr);
    EXPECT_EQ(WindowHandle(dynamic), nullptr);
    EXPECT_NE(WindowOpen(0, 0, 0, 1, 1, u"Morlett", 0x11000005), 0);
}
