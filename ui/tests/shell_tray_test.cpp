#include "shell_gui_support.h"
#include "ui/events.h"
#include "ui/images.h"
#include "ui/menus.h"
#include "ui/tray.h"
#include "ui/windows.h"

#include <windows.h>

#include <shellapi.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

constexpr int64_t kTrayCallback = 12501;

LRESULT CALLBACK Plain(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    return DefWindowProcW(w, m, wp, lp);
}

HWND PlainWindow() {
    WNDCLASSW cls{};
    cls.lpfnWndProc = Plain;
    cls.hInstance = GetModuleHandleW(nullptr);
    cls.lpszClassName = L"ShellTrayTest";
    RegisterClassW(&cls);
    return CreateWindowExW(0, L"ShellTrayTest", L"", WS_CAPTION, 0, 0, 1, 1, nullptr, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
}

intptr_t Property(HWND window, uint32_t shellId) {
    std::wstring name = L"OrbSysTray" + std::to_wstring(shellId);
    return reinterpret_cast<intptr_t>(GetPropW(window, name.c_str()));
}

TEST(TrayIcon, ShellIdsPropertiesAndFailures) {
    HWND window = PlainWindow();
    ASSERT_NE(window, nullptr);
    const auto ownProcedure = GetWindowLongPtrW(window, GWLP_WNDPROC);
    ASSERT_NE(ImageCreate(0, 32, 32), 0);

    ASSERT_NE(TrayIconAdd(5, window, ImageHandle(0)), 0);
    const uint32_t first = TrayIconShellId(5);
    EXPECT_GE(first, 1u);
    EXPECT_EQ(Property(window, first), 6); // the number plus 1
    const auto trayProcedure = GetWindowLongPtrW(window, GWLP_WNDPROC);
    EXPECT_NE(trayProcedure, ownProcedure);
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(GetPropW(window, L"orb_systray_callback")), ownProcedure);
    EXPECT_TRUE(ShellHasIcon(window, first));

    TrayIconRemove(5);
    EXPECT_FALSE(TrayIconExists(5));
    EXPECT_EQ(Property(window, first), 0);
    EXPECT_FALSE(ShellHasIcon(window, first));

    // Ids are never reused; a window is subclassed once however many icons it owns.
    ASSERT_NE(TrayIconAdd(5, window, ImageHandle(0)), 0);
    ASSERT_NE(TrayIconAdd(6, window, LoadIconW(nullptr, IDI_APPLICATION)), 0);
    EXPECT_EQ(TrayIconShellId(5), first + 1);
    EXPECT_EQ(TrayIconShellId(6), first + 2);
    EXPECT_EQ(GetWindowLongPtrW(window, GWLP_WNDPROC), trayProcedure);
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(GetPropW(window, L"orb_systray_callback")), ownProcedure);

    // Reusing a number removes the icon that held it.
    ASSERT_NE(TrayIconAdd(6, window, ImageHandle(0)), 0);
    EXPECT_FALSE(ShellHasIcon(window, first + 2));
    EXPECT_EQ(Property(window, first + 2), 0);
    EXPECT_EQ(Property(window, first + 3), 7);

    struct Failure {
        HWND window;
        void* image;
    } failures[] = {{window, nullptr}, {nullptr, ImageHandle(0)}};
    for (const Failure& f : failures) {
        EXPECT_EQ(TrayIconAdd(7, f.window, f.image), 0);
        EXPECT_FALSE(TrayIconExists(7));
    }
    EXPECT_EQ(TrayIconTooltip(7, u"no icon"), 0);
    EXPECT_EQ(TrayIconTooltip(5, nullptr), 0);
    EXPECT_NE(TrayIconTooltip(5, u"morlett"), 0);
    TrayIconRemove(7); // nothing there: ignored

    int64_t dynamic = TrayIconAdd(AnyNumber, window, ImageHandle(0));
    ASSERT_NE(dynamic, 0);
    EXPECT_TRUE(TrayIconExists(dynamic));
    const uint32_t dynamicId = TrayIconShellId(dynamic);
    EXPECT_EQ(Property(window, dynamicId), dynamic + 1);

    // A shell that refuses the icon (its id is taken already) leaves nothing behind.
    NOTIFYICONDATAW taken{};
    taken.cbSize = sizeof taken;
    taken.hWnd = window;
    taken.uID = dynamicId + 1;
    ASSERT_TRUE(Shell_NotifyIconW(NIM_ADD, &taken));
    EXPECT_EQ(TrayIconAdd(8, window, ImageHandle(0)), 0);
    EXPECT_FALSE(TrayIconExists(8));
    EXPECT_EQ(Property(window, taken.uID), 0);
    Shell_NotifyIconW(NIM_DELETE, &taken);

    TrayIconRemove(AnyNumber);
    EXPECT_FALSE(TrayIconExists(5));
    EXPECT_FALSE(TrayIconExists(6));
    EXPECT_FALSE(ShellHasIcon(window, dynamicId));
    DestroyWindow(window);
    ImageFree(0);
}

std::vector<int64_t> TrayTypes(const std::vector<SeenEvent>& events) {
    std::vector<int64_t> types;
    for (const SeenEvent& e : events)
        if (e.code == EV_TRAY_MOUSE) types.push_back(e.type);
    return types;
}

TEST(TrayIcon, RealClicksMenuAndTaskbarRestart) {
    gui::Watchdog dog(90, "tray test");
    if (!gui::CanDriveDisplay()) GTEST_SKIP() << "no display to drive";
    ASSERT_NE(WindowOpen(0, 0, 0, 1, 1, u"Morlett", 0x11000005), 0);
    HWND window = static_cast<HWND>(WindowHandle(0));
    ASSERT_NE(ImageCreate(0, 32, 32), 0);
    ASSERT_NE(TrayIconAdd(0, window, ImageHandle(0)), 0);
    ASSERT_NE(TrayIconTooltip(0, u"morlett"), 0);
    POINT icon{};
    ASSERT_TRUE(gui::WaitUntil([&] { return TrayIconCentre(&icon); }));
    (void)CollectEvents(300);

    // Wine's tray sends its notifications, so the message pump handles them inside its wait
    // and WaitEvent never sees their number. Posted ones, as a shell may deliver them, show
    // the whole order: the callback's number, its event, the WM_NULL it posts.
    const auto shellId = WPARAM(TrayIconShellId(0));
    struct Posted {
        LPARAM mouse;
        WPARAM shellId;
        std::vector<int64_t> codes, types;
    } posted[] = {
        {WM_LBUTTONUP, shellId, {kTrayCallback, EV_TRAY_MOUSE, 0}, {-1, TRAY_LEFT_UP, -1}},
        {WM_RBUTTONUP, shellId, {kTrayCallback, EV_TRAY_MOUSE, 0}, {-1, TRAY_RIGHT_UP, -1}},
        {WM_LBUTTONDBLCLK, shellId, {kTrayCallback, EV_TRAY_MOUSE, 0}, {-1, TRAY_LEFT_DOUBLE, -1}},
        {WM_RBUTTONDBLCLK, shellId, {kTrayCallback, EV_TRAY_MOUSE, 0}, {-1, TRAY_RIGHT_DOUBLE, -1}},
        {WM_MOUSEMOVE, shellId, {kTrayCallback, 0}, {-1, -1}},
        {WM_LBUTTONDOWN, shellId, {kTrayCallback, 0}, {-1, -1}},
        {WM_LBUTTONUP, shellId + 100, {kTrayCallback}, {-1}}, // not our icon: ignored
    };
    for (const Posted& p : posted) {
        SCOPED_TRACE(testing::Message() << "mouse message " << p.mouse);
        ASSERT_TRUE(PostMessageW(window, UINT(kTrayCallback), p.shellId, p.mouse));
        std::vector<int64_t> codes, types;
        for (const SeenEvent& e : CollectEvents(200)) {
            codes.push_back(e.code);
            types.push_back(e.type);
            if (e.code == EV_TRAY_MOUSE) {
                EXPECT_EQ(e.object, 0);
            }
        }
        EXPECT_EQ(codes, p.codes);
        EXPECT_EQ(types, p.types);
    }

    struct Click {
        const char* what;
        const char* xdotool;
        std::vector<int64_t> types;
    } clicks[] = {
        {"left click", "click 1", {TRAY_LEFT_UP}},
        {"right click", "click 3", {TRAY_RIGHT_UP}},
        {"double click",
         "click --repeat 2 --delay 60 1",
         {TRAY_LEFT_UP, TRAY_LEFT_DOUBLE, TRAY_LEFT_UP}},
        {"moves", "mousemove_relative 2 0 mousemove_relative -- -2 1", {}},
    };
    for (const Click& c : clicks) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(gui::XdoTool("mousemove " + At(icon) + " sleep 0.2 " + c.xdotool), 0);
        std::vector<SeenEvent> events = CollectEvents();
        EXPECT_EQ(TrayTypes(events), c.types);
        for (const SeenEvent& e : events)
            if (e.code == EV_TRAY_MOUSE) {
                EXPECT_EQ(e.object, 0);
            }
        EXPECT_FALSE(events.empty()); // a move still wakes the loop (WM_NULL)
        // Let Wine's double-click timer run out before the next click.
        Sleep(600);
        (void)CollectEvents(200);
    }

    // The menu the application shows, opened at the pointer: take its picture, choose the
    // third item with the mouse.
    auto menu = reinterpret_cast<HMENU>(PopupMenuCreate(0));
    ASSERT_NE(menu, nullptr);
    const char16_t* items[] = {u"&force capslock off", u"Caps lock warning &speed...",
                               u"Run &as admin", u"e&xit"};
    for (int id = 0; id < 4; ++id) ASSERT_NE(MenuItemAdd(id, items[id]), 0);
    ASSERT_NE(MenuItemSetChecked(0, 0, 1), 0);
    const std::string picture = BesideProgram("tests/tray-menu.png");
    bool shown = false;
    std::optional<gui::HostCommand> choose;
    WhileBlocked([&] {
        HWND popup = FindWindowW(L"#32768", nullptr);
        if (!popup || !IsWindowVisible(popup)) return false;
        RECT item{};
        if (!GetMenuItemRect(nullptr, menu, 2, &item)) return false;
        shown = true;
        POINT middle{(item.left + item.right) / 2, (item.top + item.bottom) / 2};
        choose.emplace("mkdir -p \"$(dirname '" + picture + "')\" && import -window root 'png:" +
                       picture + "'; xdotool mousemove " + At(middle) + " sleep 0.2 click 1");
        return true;
    });
    (void)WindowHide(0, 0);
    (void)PopupMenuShow(0, window);
    (void)WindowHide(0, 1);
    EXPECT_TRUE(shown);
    std::vector<SeenEvent> events = CollectEvents();
    int commands = 0;
    for (const SeenEvent& e : events)
        if (e.code == EV_MENU_COMMAND) {
            ++commands;
            EXPECT_EQ(e.object, 2);
            EXPECT_EQ(e.type, 0);
        }
    EXPECT_EQ(commands, 1);

    // Escape closes the menu without a command.
    std::optional<gui::HostCommand> escape;
    WhileBlocked([&] {
        HWND popup = FindWindowW(L"#32768", nullptr);
        if (!popup || !IsWindowVisible(popup)) return false;
        escape.emplace(gui::WithXFocus(popup, "xdotool key Escape"));
        return true;
    });
    ASSERT_EQ(gui::XdoTool("mousemove " + At(icon)), 0);
    (void)CollectEvents(300);
    (void)WindowHide(0, 0);
    EXPECT_NE(PopupMenuShow(0, window), 0);
    (void)WindowHide(0, 1);
    for (const SeenEvent& e : CollectEvents()) EXPECT_NE(e.code, EV_MENU_COMMAND);

    // A long tooltip is cut at 63 units; after the shell lost the icon, its "TaskbarCreated"
    // broadcast brings it back with that tooltip.
    const std::u16string longTip(70, u'x');
    ASSERT_NE(TrayIconTooltip(0, longTip.c_str()), 0);
    NOTIFYICONDATAW gone{};
    gone.cbSize = sizeof gone;
    gone.hWnd = window;
    gone.uID = UINT(shellId);
    ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &gone));
    ASSERT_FALSE(ShellHasIcon(window, uint32_t(shellId)));
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(HWND_BROADCAST, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0,
                        SMTO_ABORTIFHUNG, 3000, &ignored);
    EXPECT_TRUE(ShellHasIcon(window, uint32_t(shellId)));
    ASSERT_TRUE(gui::WaitUntil([&] { return TrayIconCentre(&icon); }));
    EXPECT_EQ(ShownTooltip(icon), longTip.substr(0, 63));
    // A character outside the BMP that would straddle the limit is left out whole.
    const std::u16string straddling = std::u16string(62, u'y') + u"\U0001F600";
    ASSERT_NE(TrayIconTooltip(0, straddling.c_str()), 0);
    EXPECT_EQ(ShownTooltip(icon), straddling.substr(0, 62));

    TrayIconRemove(0);
    EXPECT_FALSE(ShellHasIcon(window, uint32_t(shellId)));
    WindowClose(0);
    ImageFree(0);
    (void)CollectEvents(200);
}

} // namespace
