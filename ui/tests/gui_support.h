// Helpers for tests that drive real windows under Wine: host commands (xdotool input,
// screenshots), message pumping with deadlines, and a watchdog that ends a stuck test.
//
// Host commands run through Wine's ability to start Unix programs; on a real Windows machine
// (or a Wine without a display) CanDriveDisplay() is false and input tests should skip.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace gui {

// True when host commands can run and xdotool reaches the program's display.
bool CanDriveDisplay();

// A shell command line run on the host (/bin/sh), started at once, not waited for.
class HostCommand {
  public:
    explicit HostCommand(const std::string& shellCommand);
    HostCommand(HostCommand&& other) noexcept;
    HostCommand(const HostCommand&) = delete;
    HostCommand& operator=(const HostCommand&) = delete;
    ~HostCommand(); // waits up to 10 s for the command, then leaves it

    bool Started() const { return started_; }
    bool Finished() const;
    // The command's exit code once it ended within timeoutMs; -1 when it did not start or
    // did not end in time. Dispatches the thread's messages meanwhile when pump is true
    // (needed when the command's input goes to a window of this thread).
    int Wait(int timeoutMs = 10000, bool pump = false);
    // What the command wrote to stdout and stderr (after Wait).
    std::string Output() const;

  private:
    bool started_ = false;
    bool waited_ = false;
    std::wstring directory_; // Windows path of the command's scratch folder
};

// Runs a host command to its end; its exit code, -1 when it did not end in time.
int RunHost(const std::string& shellCommand, int timeoutMs = 10000, std::string* output = nullptr,
            bool pump = false);

// xdotool with the arguments given (already quoted for the shell).
int XdoTool(const std::string& arguments, int timeoutMs = 10000, bool pump = false);
// Started only: for input that must arrive while this thread runs a modal loop.
HostCommand XdoToolAsync(const std::string& arguments);

// Clicks (button 1 left, 3 right) at a screen point; clicks > 1 clicks that many times.
int ClickAt(int x, int y, int button = 1, int clicks = 1);
// Sends keys by xdotool name ("Return", "Escape", "shift+Tab") to the focused window.
int PressKeys(const std::string& keys);
// Types text into the focused window.
int TypeText(const std::string& text);

// The X window Wine shows a window's top-level window in; 0 when it has none.
unsigned long XWindowOf(void* window);

// The exit code of a WithXFocus command that sent nothing: the window never had the X focus.
constexpr int kNoXFocus = 75;

// A host command line that runs input (xdotool keys or text) once the X keyboard focus is on
// the X window of window's top-level window. Keys from xdotool reach only the X window with
// the focus, and with no window manager (Wine's Managed=N) only Wine's own focus request puts
// it there; on a loaded machine that request can come to nothing, leaving the window in the
// foreground for Windows and the X focus on the root window, so that every key goes to
// whatever lies under the pointer. The command therefore asks for the focus as a window
// manager would (xdotool windowfocus) until the X server reports it on the window, for up to
// timeoutMs, and when it never gets there sends nothing and exits kNoXFocus. It writes a line
// to its output whenever it had to move the focus.
std::string WithXFocus(void* window, const std::string& input, int timeoutMs = 5000);

// Saves a PNG of the whole screen at a host path; true on success.
bool Screenshot(const std::string& hostPath);

// Dispatches the calling thread's messages for about ms milliseconds.
void PumpMessages(int ms);
// Evaluates condition until it holds or timeoutMs ran out, dispatching the thread's
// messages in between when pump is true. Returns whether it held.
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 5000, bool pump = true);

// The screen rectangle of a window (void* HWND): left, top, right, bottom.
struct ScreenRect {
    int left, top, right, bottom;
    int CenterX() const { return (left + right) / 2; }
    int CenterY() const { return (top + bottom) / 2; }
};
ScreenRect WindowRect(void* window);
ScreenRect ClientRectOnScreen(void* window);

// Dismisses this process's popup menus (Escape) and dialogs (cancel, else no) and posts
// WM_CLOSE to its other visible windows; the watchdog's way out of a hang.
void DismissWindows();

// Ends a test that hangs. When seconds pass before it is destroyed, it reports the test as
// failed, dismisses this process's popup menus and dialogs, posts WM_CLOSE to its visible
// windows and wakes the event queue; if the test is still stuck 15 s later, it ends the
// process with exit code 3 so that one hang fails one run instead of blocking it.
class Watchdog {
  public:
    explicit Watchdog(int seconds, const char* what = "GUI test");
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;
    bool Fired() const;

  private:
    struct State;
    State* state_;
};

} // namespace gui
