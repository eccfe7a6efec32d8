// The desktop as a logon meets the program: a shell that is not ready for the tray icon, the
// machine waking from sleep, a light or a dark taskbar. Real windows and Wine's real tray.
// Wine's tray cannot be taken away and brought back, and Wine sends no "TaskbarCreated", so a
// shell that refuses the icon is played by the tray library's test switch, and the shell's
// return by a broadcast "TaskbarCreated".
#include "shell_gui_support.h"
#include "ui/events.h"
#include "ui/images.h"
#include "ui/theme.h"
#include "ui/tray.h"
#include "ui/ui_internal.h"
#include "ui/windows.h"

#include <windows.h>

#include <shellapi.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr wchar_t kPersonalize[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize";
constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kWhite = RGB(255, 255, 255);

// Sends a notification to every top-level window of the thread, as the system and the shell
// do to every top-level window there is; Wine's own programs are spared it. From the thread
// itself, its windows take it before the call returns.
void Broadcast(UINT message, WPARAM wParam, const wchar_t* text = nullptr,
               DWORD thread = GetCurrentThreadId()) {
    struct Sent {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    } sent{message, wParam, reinterpret_cast<LPARAM>(text)};
    EnumThreadWindows(
        thread,
        [](HWND window, LPARAM param) -> BOOL {
            const auto* m = reinterpret_cast<const Sent*>(param);
            DWORD_PTR ignored = 0;
            SendMessageTimeoutW(window, m->message, m->wParam, m->lParam, SMTO_ABORTIFHUNG, 3000,
                                &ignored);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&sent));
}

void BroadcastTaskbarCreated() {
    Broadcast(RegisterWindowMessageW(L"TaskbarCreated"), 0);
}

// Wine's tray window: its square cells, in one row from the left, each with one icon drawn in
// its middle. How many of them show the colour there.
int TrayCellsOf(COLORREF color) {
    HWND tray = FindWindowW(nullptr, L"Wine System Tray");
    if (!tray || !IsWindowVisible(tray)) return 0;
    RECT client{};
    GetClientRect(tray, &client);
    const LONG cell = client.bottom;
    if (cell <= 0) return 0;
    int count = 0;
    for (LONG left = 0; left + cell <= client.right; left += cell) {
        POINT middle{left + cell / 2, cell / 2};
        ClientToScreen(tray, &middle);
        count += ScreenPixel(middle) == color;
    }
    return count;
}

// Whether every pixel of the 8 x 8 block around the icon's middle has the colour.
bool IconDrawnIn(POINT icon, COLORREF color) {
    for (int dy = -4; dy < 4; ++dy)
        for (int dx = -4; dx < 4; ++dx)
            if (ScreenPixel(POINT{icon.x + dx, icon.y + dy}) != color) return false;
    return true;
}

// The number of pixels of a 24-bit image that are not color: the image's own memory.
int PixelsNotOf(int64_t image, COLORREF color) {
    DIBSECTION section{};
    if (GetObjectW(static_cast<HBITMAP>(ImageHandle(image)), sizeof section, &section) !=
            int(sizeof section) ||
        section.dsBm.bmBitsPixel != 24)
        return -1;
    const uint8_t want[3] = {GetBValue(color), GetGValue(color), GetRValue(color)};
    int wrong = 0;
    for (int y = 0; y < section.dsBm.bmHeight; ++y) {
        auto* row =
            static_cast<const uint8_t*>(section.dsBm.bmBits) + y * section.dsBm.bmWidthBytes;
        for (int x = 0; x < section.dsBm.bmWidth; ++x)
            wrong += std::memcmp(row + 3 * x, want, 3) != 0;
    }
    return wrong;
}

// The tray library's icons, on the application's window 0, with the shell played as refusing
// or answering late through the library's switch; everything is put back afterwards.
class DesktopTray : public testing::Test {
  protected:
    void SetUp() override {
        if (!gui::CanDriveDisplay()) GTEST_SKIP() << "no display to look at";
        ASSERT_NE(WindowOpen(0, 0, 0, 1, 1, u"Morlett", 0x11000005), 0);
        ASSERT_NE(ImageCreate(0, 32, 32), 0); // black, as the program's on a light taskbar
        (void)CollectEvents(200);
    }
    void TearDown() override {
        gTrayShellFault = TrayShellFault::None;
        gTrayRetryFirstMs = 1000;
        TrayIconRemove(0);
        TrayIconRemove(1);
        WindowClose(0);
        ImageFree(0);
        (void)CollectEvents(200);
    }
    HWND Window() const { return static_cast<HWND>(WindowHandle(0)); }
    gui::Watchdog watchdog_{90, "desktop tray test"};
};

TEST_F(DesktopTray, RefusedIconComesOnTheTimerWithWhatChangedMeanwhile) {
    gTrayShellFault = TrayShellFault::Refuse;
    ASSERT_NE(TrayIconKeep(0, Window(), ImageHandle(0)), 0);
    const uint32_t shellId = TrayIconShellId(0);
    EXPECT_NE(shellId, 0u);
    EXPECT_TRUE(TrayIconExists(0));
    EXPECT_FALSE(TrayIconShown(0));
    EXPECT_EQ(TrayIconTooltip(0, u"morlett"), 0); // refused as well; the icon keeps it
    // The taskbar turned dark meanwhile.
    ASSERT_NE(ImageCreate(0, 32, 32, 24, kWhite), 0);
    EXPECT_NE(TrayIconChange(0, ImageHandle(0)), 0);

    // The first retry (after a second) is refused too.
    gui::PumpMessages(1500);
    EXPECT_FALSE(TrayIconShown(0));
    EXPECT_FALSE(ShellHasIcon(Window(), shellId));

    // The shell is ready: the next retry, two seconds after the first, shows the icon.
    gTrayShellFault = TrayShellFault::None;
    ASSERT_TRUE(gui::WaitUntil([] { return TrayIconShown(0) != 0; }, 8000));
    EXPECT_TRUE(ShellHasIcon(Window(), shellId));
    EXPECT_EQ(TrayIconShellId(0), shellId);
    POINT icon{};
    ASSERT_TRUE(gui::WaitUntil([&] { return TrayIconCentre(&icon); }));
    EXPECT_TRUE(gui::WaitUntil([&] { return IconDrawnIn(icon, kWhite); }, 3000));
    EXPECT_EQ(TrayCellsOf(kWhite), 1);
    EXPECT_EQ(ShownTooltip(icon), u"morlett");

    // Its clicks reach the program: the icon was wired to its window while it waited.
    ASSERT_EQ(gui::XdoTool("mousemove " + At(icon) + " sleep 0.2 click 3"), 0);
    int rightClicks = 0;
    for (const SeenEvent& e : CollectEvents())
        rightClicks += e.code == EV_TRAY_MOUSE && e.type == TRAY_RIGHT_UP && e.object == 0;
    EXPECT_EQ(rightClicks, 1);
}

TEST_F(DesktopTray, TaskbarCreatedBringsWaitingIconsBack) {
    gTrayRetryFirstMs = 60000; // no retry within this test but the one the broadcast makes
    gTrayShellFault = TrayShellFault::Refuse;
    ASSERT_NE(TrayIconKeep(0, Window(), ImageHandle(0)), 0);
    // The plain add keeps its contract: a refusal leaves no icon.
    EXPECT_EQ(TrayIconAdd(1, Window(), ImageHandle(0)), 0);
    EXPECT_FALSE(TrayIconExists(1));
    const uint32_t shellId = TrayIconShellId(0);

    gTrayShellFault = TrayShellFault::None;
    gui::PumpMessages(300);
    EXPECT_FALSE(TrayIconShown(0));
    BroadcastTaskbarCreated();
    EXPECT_TRUE(TrayIconShown(0));
    EXPECT_TRUE(ShellHasIcon(Window(), shellId));
    EXPECT_TRUE(gui::WaitUntil([] { return TrayCellsOf(kBlack) == 1; }, 3000));

    // A shell that restarts lost the icon and is still busy when it says so: the icon waits
    // again, and comes back on the timer, from its first pause on.
    NOTIFYICONDATAW lost{};
    lost.cbSize = sizeof lost;
    lost.hWnd = Window();
    lost.uID = shellId;
    ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &lost));
    gTrayRetryFirstMs = 300;
    gTrayShellFault = TrayShellFault::Refuse;
    BroadcastTaskbarCreated();
    EXPECT_FALSE(TrayIconShown(0));
    gTrayShellFault = TrayShellFault::None;
    EXPECT_TRUE(gui::WaitUntil([] { return TrayIconShown(0) != 0; }, 5000));
    EXPECT_TRUE(ShellHasIcon(Window(), shellId));
    EXPECT_TRUE(gui::WaitUntil([] { return TrayCellsOf(kBlack) == 1; }, 3000));
}

TEST_F(DesktopTray, AddThatTimedOutButShowedTheIconIsNotShownTwice) {
    gTrayRetryFirstMs = 300;
    gTrayShellFault = TrayShellFault::ReportFailure;
    ASSERT_NE(TrayIconKeep(0, Window(), ImageHandle(0)), 0);
    const uint32_t shellId = TrayIconShellId(0);
    EXPECT_FALSE(TrayIconShown(0));
    EXPECT_TRUE(ShellHasIcon(Window(), shellId)); // it is there all the same
    EXPECT_TRUE(gui::WaitUntil([] { return TrayCellsOf(kBlack) == 1; }, 3000));

    // Retries while the shell still answers late change nothing in the tray.
    gui::PumpMessages(1200);
    EXPECT_EQ(TrayCellsOf(kBlack), 1);

    gTrayShellFault = TrayShellFault::None;
    ASSERT_TRUE(gui::WaitUntil([] { return TrayIconShown(0) != 0; }, 5000));
    EXPECT_EQ(TrayIconShellId(0), shellId);
    gui::PumpMessages(300);
    EXPECT_EQ(TrayCellsOf(kBlack), 1);

    TrayIconRemove(0);
    EXPECT_FALSE(ShellHasIcon(Window(), shellId));
    EXPECT_TRUE(gui::WaitUntil([] { return TrayCellsOf(kBlack) == 0; }, 3000));
}

TEST(Theme, TaskbarIsDarkOnlyWhenTheShellSaysSo) {
    ScopedUserValue system(kPersonalize, L"SystemUsesLightTheme");
    ScopedUserValue apps(kPersonalize, L"AppsUseLightTheme");
    ASSERT_TRUE(apps.Remove());
    const DWORD zero = 0, one = 1, two = 2;
    const uint64_t zero64 = 0;
    const BYTE zeroBytes[4] = {};
    struct Case {
        const char* name;
        DWORD type; // REG_NONE: the value is absent
        const void* data;
        DWORD size;
        bool dark;
    } cases[] = {
        {"absent, as before Windows 10 and under Wine", REG_NONE, nullptr, 0, false},
        {"0: dark", REG_DWORD, &zero, 4, true},
        {"1: light", REG_DWORD, &one, 4, false},
        {"2: not 0, so not dark", REG_DWORD, &two, 4, false},
        {"text 0", REG_SZ, L"0", 4, false},
        {"four zero bytes", REG_BINARY, zeroBytes, 4, false},
        {"a 64-bit 0", REG_QWORD, &zero64, 8, false},
        {"a DWORD of two bytes", REG_DWORD, &zero, 2, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.type == REG_NONE)
            ASSERT_TRUE(system.Remove());
        else
            ASSERT_TRUE(system.Set(c.type, c.data, c.size));
        EXPECT_EQ(TaskbarIsDark(), c.dark);
    }
    // The programs' own setting does not govern the taskbar.
    ASSERT_TRUE(system.Remove());
    ASSERT_TRUE(apps.SetDword(0));
    EXPECT_FALSE(TaskbarIsDark());
}

TEST_F(DesktopTray, IconFollowsTheTaskbarsThemeLive) {
    ScopedUserValue system(kPersonalize, L"SystemUsesLightTheme");
    // What the program draws: white on a dark taskbar, black otherwise.
    auto drawn = [] { return TaskbarIsDark() ? kWhite : kBlack; };

    ASSERT_TRUE(system.SetDword(0));
    ASSERT_EQ(drawn(), kWhite);
    ASSERT_NE(ImageCreate(0, 32, 32, 24, int32_t(drawn())), 0);
    EXPECT_EQ(PixelsNotOf(0, kWhite), 0);
    ASSERT_NE(TrayIconKeep(0, Window(), ImageHandle(0)), 0);
    EXPECT_TRUE(TrayIconShown(0));
    POINT icon{};
    ASSERT_TRUE(gui::WaitUntil([&] { return TrayIconCentre(&icon); }));
    ASSERT_EQ(TrayBackground(), kTrayTestGrey)
        << "Wine's tray was painted before the tests could set its colour";
    EXPECT_TRUE(gui::WaitUntil([&] { return IconDrawnIn(icon, kWhite); }, 3000));

    // The user turns the taskbar light: the value changes, then the shell broadcasts.
    ASSERT_TRUE(system.SetDword(1));
    std::thread shell([thread = GetCurrentThreadId()] {
        Sleep(200);
        Broadcast(WM_SETTINGCHANGE, 0, L"ImmersiveColorSet", thread);
    });
    int changes = 0;
    for (const SeenEvent& e : CollectEvents()) changes += e.code == EV_THEME_CHANGED;
    shell.join();
    EXPECT_EQ(changes, 1);
    ASSERT_EQ(drawn(), kBlack);
    ASSERT_NE(ImageCreate(0, 32, 32, 24, int32_t(drawn())), 0);
    EXPECT_EQ(PixelsNotOf(0, kBlack), 0);
    EXPECT_NE(TrayIconChange(0, ImageHandle(0)), 0);
    EXPECT_TRUE(gui::WaitUntil([&] { return IconDrawnIn(icon, kBlack); }, 3000));
    EXPECT_EQ(TrayCellsOf(kBlack), 1);

    // A shell that lost the icon gets it back with the new picture.
    NOTIFYICONDATAW lost{};
    lost.cbSize = sizeof lost;
    lost.hWnd = Window();
    lost.uID = TrayIconShellId(0);
    ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &lost));
    ASSERT_TRUE(system.SetDword(0));
    ASSERT_NE(ImageCreate(0, 32, 32, 24, int32_t(drawn())), 0);
    EXPECT_NE(TrayIconChange(0, ImageHandle(0)), 0);
    EXPECT_TRUE(TrayIconShown(0));
    ASSERT_TRUE(gui::WaitUntil([&] { return TrayIconCentre(&icon); }));
    EXPECT_TRUE(gui::WaitUntil([&] { return IconDrawnIn(icon, kWhite); }, 3000));
}

// WM_POWERBROADCAST and WM_SETTINGCHANGE reach every top-level window; the program has two
// (window 0 and the queue's wake-up window) and must act once.
TEST(SystemNotifications, ResumeAndThemeChangeComeOnceAndWakeTheLoop) {
    gui::Watchdog dog(60, "system notification test");
    ASSERT_NE(WindowOpen(0, 0, 0, 1, 1, u"Morlett", 0x11000005), 0);
    (void)CollectEvents(200);
    const struct Case {
        const char* name;
        UINT message;
        WPARAM wParam;
        const wchar_t* text;
        int32_t event; // 0: none
    } cases[] = {
        {"woke by itself", WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, nullptr, EV_SYSTEM_RESUMED},
        {"woke by the user", WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, nullptr, EV_SYSTEM_RESUMED},
        {"going to sleep", WM_POWERBROADCAST, PBT_APMSUSPEND, nullptr, 0},
        {"power source changed", WM_POWERBROADCAST, PBT_APMPOWERSTATUSCHANGE, nullptr, 0},
        {"light or dark", WM_SETTINGCHANGE, 0, L"ImmersiveColorSet", EV_THEME_CHANGED},
        {"environment", WM_SETTINGCHANGE, 0, L"Environment", 0},
        {"a longer name", WM_SETTINGCHANGE, 0, L"ImmersiveColorSetting", 0},
        {"no name", WM_SETTINGCHANGE, SPI_SETDESKWALLPAPER, nullptr, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::thread system([&c, thread = GetCurrentThreadId()] {
            Sleep(200);
            Broadcast(c.message, c.wParam, c.text, thread);
        });
        std::vector<SeenEvent> seen;
        if (c.event) {
            // A sent message alone does not end a wait without a limit; the event must.
            int64_t first = WaitEvent(-1);
            seen.push_back({first, EventType(), EventObject()});
        }
        for (const SeenEvent& e : CollectEvents(600)) seen.push_back(e);
        system.join();
        int events = 0, others = 0;
        for (const SeenEvent& e : seen) {
            if (e.code != EV_SYSTEM_RESUMED && e.code != EV_THEME_CHANGED) continue;
            if (e.code != c.event) {
                ++others;
                continue;
            }
            ++events;
            EXPECT_EQ(e.type, 0);
            EXPECT_EQ(e.object, 0);
        }
        EXPECT_EQ(events, c.event ? 1 : 0);
        EXPECT_EQ(others, 0);
    }
    WindowClose(0);
}

} // namespace
