// morlett.exe: start-up, the single instance, the elevated relaunch, the tray menu and the
// event loop. The watcher thread does the actual warning (watcher.cpp).
#include "app/commands.h"
#include "app/play.h"
#include "app/preferences.h"
#include "app/watcher.h"
#include "runtime/clock.h"
#include "runtime/environment.h"
#include "runtime/runtime.h"
#include "runtime/strings.h"
#include "runtime/threads.h"
#include "sound/sound.h"
#include "ui/events.h"
#include "ui/images.h"
#include "ui/menus.h"
#include "ui/registered_names.h"
#include "ui/requesters.h"
#include "ui/theme.h"
#include "ui/tray.h"
#include "ui/windows.h"
#include "json/json.h"

#include <windows.h>

namespace {

// The program's one window (hidden; it owns the menu and the dialogs), its tray icon, the
// icon's image and the popup menu.
constexpr int64_t kOwnerWindow = 0;
constexpr int64_t kTrayIcon = 0;
constexpr int64_t kIconImage = 0;
constexpr int64_t kTrayMenu = 0;
// The type under which a delayed left click comes back as a tray event.
constexpr int64_t kDelayedLeftClick = 0x40000;
constexpr int32_t kLeftClickDelayMs = 20;
constexpr uint64_t kLeftClickTimer = 0;
// A clip counts as played when its last frames went to the device, which may still hold a
// good part of it (the more so on a busy machine); closing the device at once would cut the
// goodbye chime short.
constexpr uint32_t kOutputDrainMs = 500;

// The icon is a plain square, black on a light taskbar (and wherever the theme cannot be
// read), white on a dark one: 0x00BBGGRR colours of a 24-bit, fully opaque 32 x 32 image.
constexpr int32_t kIconOnLightTaskbar = 0x000000;
constexpr int32_t kIconOnDarkTaskbar = 0xFFFFFF;

HANDLE gInstanceMutex = nullptr;
RuntimeString gParameterLine;
bool gTimerArmed = false;

[[noreturn]] void ExitProgram() {
    // The watcher uses the sound library and its thread's storage: both go with the heaps.
    (void)StopCapsWatcher();
    RuntimeShutdown();
}

// The goodbye of "e&xit" and of a confirmed restart: the watcher stops first, so that no
// warning cuts the chime short, and the chime gets time to leave the device.
void SayGoodbye(Chime chime) {
    (void)StopCapsWatcher();
    PlayChime(chime);
    SleepMs(kOutputDrainMs);
}

// False when another instance holds the mutex, or it cannot be made.
bool TakeInstance() {
    gInstanceMutex = CreateMutexW(nullptr, TRUE, kInstanceMutexName);
    return gInstanceMutex && GetLastError() != ERROR_ALREADY_EXISTS;
}

[[noreturn]] void RefuseSecondInstance() {
    MessageBoxShow(u"Morlett", u"Already running.", MB_ICONERROR);
    ExitProgram();
}

void ReleaseInstance() {
    if (gInstanceMutex) {
        CloseHandle(gInstanceMutex);
        gInstanceMutex = nullptr;
    }
    if (TrayIconExists(kTrayIcon)) TrayIconRemove(kTrayIcon);
}

// The shell's result: above 32 when the new copy was started.
intptr_t LaunchCopy(bool elevated) {
    ScratchMark mark;
    RuntimeString path(ProgramPath());
    RuntimeString folder(PathPart(path.Text()));
    if (elevated) return ShellRun(path.Text(), u"", folder.Text(), u"runas");
    // The shell opens the program with its own, un-elevated rights.
    RuntimeString quoted(u"\"");
    if (!quoted.Append(path.Text()) || !quoted.Append(u"\"")) return 0;
    return ShellRun(u"explorer.exe", quoted.Text(), folder.Text(), u"");
}

// When the token cannot be read, the program runs on as it is.
bool IsElevated() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return true;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    BOOL ok = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
    CloseHandle(token);
    return !ok || elevation.TokenIsElevated != 0;
}

int32_t TrayIconColor() {
    return TaskbarIsDark() ? kIconOnDarkTaskbar : kIconOnLightTaskbar;
}

// False only when there is no icon to show at all. A shell that is not ready (at logon, or
// restarting) does not count: the tray library keeps the icon and adds it when it can.
bool AddTrayIcon() {
    if (!TrayIconKeep(kTrayIcon, WindowHandle(kOwnerWindow), ImageHandle(kIconImage))) return false;
    (void)TrayIconTooltip(kTrayIcon, u"morlett");
    return true;
}

// The taskbar turned light or dark: the icon is drawn again in the colour that shows on it.
void RedrawTrayIcon() {
    int32_t color = TrayIconColor();
    if (!ImageCreate(kIconImage, 32, 32, 24, color)) return;
    (void)TrayIconChange(kTrayIcon, ImageHandle(kIconImage));
}

// A relaunch that did not start (the elevation prompt declined, the shell failed) must not
// leave the user with no instance at all: this one takes its place again.
void StayAfterFailedLaunch() {
    if (!TakeInstance()) RefuseSecondInstance();
    if (WindowHandle(kOwnerWindow) && !AddTrayIcon()) ExitProgram();
}

void AskForSpeed() {
    (void)WindowHide(kOwnerWindow, WINDOW_SHOW);
    ScratchMark mark;
    const char16_t* text =
        InputDialogShow(u"Morlett", u"Enter the caps lock on warning speed in milliseconds",
                        IntegerToString(gPreferences.beeptime));
    int64_t speed = SpeedFromEntry(text);
    (void)WindowHide(kOwnerWindow, WINDOW_HIDE);
    gPreferences.beeptime = speed;
    (void)SaveSettings();
}

void SwitchForceOff() {
    int64_t forceOff = Switched(gPreferences.forceOff);
    gPreferences.forceOff = forceOff;
    (void)SaveSettings();
    PlayChime(forceOff ? Chime::ForceOffOn : Chime::ForceOffOff);
}

void SwitchRunAsAdmin() {
    uint8_t runAsAdmin = uint8_t(Switched(gPreferences.runAsAdmin));
    gPreferences.runAsAdmin = runAsAdmin;
    (void)SaveSettings();
    PlayChime(runAsAdmin ? Chime::RunAsAdminOn : Chime::RunAsAdminOff);
    if (MessageBoxShow(u"Restart required.", u"Should Morlett restart right now?", MB_YESNO) !=
        IDYES)
        return;
    ReleaseInstance();
    SayGoodbye(Chime::RestartConfirmed);
    if (LaunchCopy(runAsAdmin != 0) > 32) ExitProgram();
    StayAfterFailedLaunch();
    AllowCapsWatcherAgain();
}

[[noreturn]] void ExitFromMenu() {
    SayGoodbye(Chime::Exit);
    ExitProgram();
}

// The tray menu, top to bottom; a row's command number is its place. A switch shows its
// setting as a check mark.
struct MenuRow {
    const char16_t* text;
    void (*command)();
    bool (*checked)(); // null for a row that is no switch
};

constexpr MenuRow kMenuRows[] = {
    {u"&force capslock off", SwitchForceOff, [] { return gPreferences.forceOff != 0; }},
    {u"Caps lock warning &speed...", AskForSpeed, nullptr},
    {u"Run &as admin", SwitchRunAsAdmin, [] { return gPreferences.runAsAdmin != 0; }},
    {u"e&xit", ExitFromMenu, nullptr},
};
constexpr int64_t kMenuRowCount = sizeof kMenuRows / sizeof kMenuRows[0];

void CreateTrayMenu() {
    if (!PopupMenuCreate(kTrayMenu)) return;
    for (int64_t item = 0; item < kMenuRowCount; ++item)
        (void)MenuItemAdd(item, kMenuRows[item].text);
}

void ShowTrayMenu() {
    for (int64_t item = 0; item < kMenuRowCount; ++item)
        if (kMenuRows[item].checked)
            (void)MenuItemSetChecked(kTrayMenu, item, kMenuRows[item].checked());
    // The owner is shown while the menu is open, so that the menu closes when the user
    // clicks elsewhere.
    (void)WindowHide(kOwnerWindow, WINDOW_SHOW);
    (void)PopupMenuShow(kTrayMenu, WindowHandle(kOwnerWindow));
    (void)WindowHide(kOwnerWindow, WINDOW_HIDE);
}

void MenuCommand(int64_t item) {
    if (item >= 0 && item < kMenuRowCount) kMenuRows[item].command();
}

[[noreturn]] void EventLoop() {
    gTimerArmed = false;
    for (;;) {
        int64_t code = WaitEvent();
        int64_t type = EventType();
        int64_t object = EventObject();
        // A native message that was only dispatched leaves the type at -1 and the object at
        // the previous event's: its number alone must not repeat that event.
        if (type == -1) continue;
        if (code == EV_TIMER_TICK && object == int64_t(kLeftClickTimer)) {
            QueueEvent(EV_TRAY_MOUSE, kOwnerWindow, kTrayIcon, kDelayedLeftClick);
            (void)TimerRemove(kOwnerWindow, kLeftClickTimer);
            gTimerArmed = false;
        } else if (code == EV_TRAY_MOUSE) {
            if (type == TRAY_LEFT_UP) {
                // The menu opens a moment later, so that the click's own messages are done.
                if (!gTimerArmed && TimerAdd(kOwnerWindow, kLeftClickTimer, kLeftClickDelayMs))
                    gTimerArmed = true;
            } else if (type == TRAY_RIGHT_UP || type == kDelayedLeftClick) {
                ShowTrayMenu();
            }
        } else if (code == EV_MENU_COMMAND) {
            MenuCommand(object);
        } else if (code == EV_SYSTEM_RESUMED) {
            // After sleep the audio device may be dead; the next warning gets a fresh one.
            SoundDeviceRenew();
        } else if (code == EV_THEME_CHANGED) {
            RedrawTrayIcon();
        }
    }
}

// Before anything loads a library by name: a portable program run from a downloads folder
// must not pick up a DLL planted beside it. The call is missing on Vista and on a Windows 7
// without its loader update, so it is looked up at run time; there the working folder at
// least leaves the search, and the runtime loads the system DLLs it needs by their full path
// (SystemLibraryLoad).
void SearchSystemFolderOnly() {
    using SetDirectories = BOOL(WINAPI*)(DWORD);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    auto setDirectories = reinterpret_cast<SetDirectories>(reinterpret_cast<void*>(
        kernel ? GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr));
    if (setDirectories)
        setDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    else
        SetDllDirectoryW(L"");
}

void RegisterLibraries() {
    RuntimeUse(EventQueueLibrary());
    RuntimeUse(ImageLibrary());
    RuntimeUse(JsonLibrary());
    RuntimeUse(TrayLibrary());
    RuntimeUse(OleLibrary());
    RuntimeUse(WindowLibrary());
    RuntimeUse(MenuLibrary());
    RuntimeUse(RequesterLibrary());
    RuntimeUse(SoundLibrary());
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    SearchSystemFolderOnly();

    RegisterLibraries();
    RuntimeInit();

    if (!TakeInstance()) RefuseSecondInstance();

    {
        ScratchMark mark;
        (void)SetWorkingDirectory(PathPart(ProgramPath()));
        (void)gParameterLine.Assign(BuildParameterLine());
    }

    PreferencesSetDefaults();
    LoadSettings();

    if (gPreferences.runAsAdmin != 0 && !IsElevated()) {
        ReleaseInstance();
        if (LaunchCopy(true) > 32) ExitProgram();
        StayAfterFailedLaunch();
    }

    (void)EnforceSpeedFloor();
    // The start-up chime ends before any window is made. A silent start plays nothing then,
    // so it opens the audio device (under Wine the slowest step of start-up) only after the
    // icon is up; the watcher, the first to play, starts after that.
    bool silent = IsSilentStart(gParameterLine.Text());
    if (!silent) {
        (void)SoundSystemInit();
        PlayChime(Chime::StartUp);
    }

    // The tool flag drops the maximize bit: a hidden 1 x 1 tool window in the screen's middle.
    constexpr uint32_t kOwnerFlags = WF_INVISIBLE | WF_MAXIMIZE | WF_TOOL | WF_CENTER_SCREEN;
    if (!WindowOpen(kOwnerWindow, 0, 0, 1, 1, u"Morlett", kOwnerFlags)) ExitProgram();
    (void)ImageCreate(kIconImage, 32, 32, 24, TrayIconColor());
    // Without an icon nobody could reach the menu, and so the program could not be ended.
    if (!AddTrayIcon()) ExitProgram();
    CreateTrayMenu();
    if (silent) (void)SoundSystemInit();

    (void)ThreadStart(CapsWatcher, 0);
    EventLoop();
}
