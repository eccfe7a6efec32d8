#include "gui_support.h"

#include "ui/events.h"
#include "ui/ui_internal.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

namespace gui {
namespace {

// Wine maps a Windows path to the host's; absent on Windows itself.
std::string UnixPath(const std::wstring& windowsPath) {
    using Convert = char*(CDECL*)(const wchar_t*);
    static const auto convert = reinterpret_cast<Convert>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!convert) return {};
    char* path = convert(windowsPath.c_str());
    if (!path) return {};
    std::string result = path;
    HeapFree(GetProcessHeap(), 0, path);
    return result;
}

bool WriteFileText(const std::wstring& path, const std::string& text) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = WriteFile(file, text.data(), DWORD(text.size()), &written, nullptr) &&
              written == text.size();
    CloseHandle(file);
    return ok;
}

std::string ReadFileText(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got) text.append(buffer, got);
    CloseHandle(file);
    return text;
}

void DeleteTree(const std::wstring& directory) {
    for (const wchar_t* name : {L"\\run.sh", L"\\out", L"\\rc", L"\\rc.tmp"})
        DeleteFileW((directory + name).c_str());
    RemoveDirectoryW(directory.c_str());
}

std::wstring NewScratchDirectory() {
    static std::atomic<int> counter{0};
    wchar_t temp[MAX_PATH];
    DWORD n = GetTempPathW(MAX_PATH, temp);
    if (!n || n >= MAX_PATH) return {};
    std::wstring directory = temp;
    directory += L"morlett-host-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                 std::to_wstring(counter.fetch_add(1));
    if (!CreateDirectoryW(directory.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return {};
    return directory;
}

std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

} // namespace

HostCommand::HostCommand(const std::string& shellCommand) {
    directory_ = NewScratchDirectory();
    if (directory_.empty()) return;
    std::string hostDirectory = UnixPath(directory_);
    if (hostDirectory.empty()) return;
    // The exit code lands in a file that appears whole (mv): Wine gives us no process
    // handle to wait on for a host program.
    std::string script = "cd " + ShellQuote(hostDirectory) + " || exit 1\n(\n" + shellCommand +
                         "\n) >out 2>&1 </dev/null\necho $? >rc.tmp && mv rc.tmp rc\n";
    if (!WriteFileText(directory_ + L"\\run.sh", script)) return;
    std::string scriptPath = hostDirectory + "/run.sh";
    std::wstring commandLine =
        L"/bin/sh \"" + std::wstring(scriptPath.begin(), scriptPath.end()) + L"\"";
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return;
    if (process.hProcess) CloseHandle(process.hProcess);
    if (process.hThread) CloseHandle(process.hThread);
    started_ = true;
}

HostCommand::HostCommand(HostCommand&& other) noexcept
    : started_(other.started_), waited_(other.waited_), directory_(std::move(other.directory_)) {
    other.started_ = false;
    other.directory_.clear();
}

HostCommand::~HostCommand() {
    if (started_ && !waited_) (void)Wait(10000);
    if (!directory_.empty() && (!started_ || Finished())) DeleteTree(directory_);
}

bool HostCommand::Finished() const {
    return started_ &&
           GetFileAttributesW((directory_ + L"\\rc").c_str()) != INVALID_FILE_ATTRIBUTES;
}

int HostCommand::Wait(int timeoutMs, bool pump) {
    waited_ = true;
    if (!started_) return -1;
    if (!WaitUntil([this] { return Finished(); }, timeoutMs, pump)) return -1;
    std::string rc = ReadFileText(directory_ + L"\\rc");
    return rc.empty() ? -1 : std::atoi(rc.c_str());
}

std::string HostCommand::Output() const {
    return directory_.empty() ? std::string() : ReadFileText(directory_ + L"\\out");
}

int RunHost(const std::string& shellCommand, int timeoutMs, std::string* output, bool pump) {
    HostCommand command(shellCommand);
    int rc = command.Wait(timeoutMs, pump);
    if (output) *output = command.Output();
    return rc;
}

bool CanDriveDisplay() {
    static const bool can = [] {
        if (!GetEnvironmentVariableW(L"DISPLAY", nullptr, 0)) return false;
        return RunHost("xdotool getmouselocation", 10000) == 0;
    }();
    return can;
}

int XdoTool(const std::string& arguments, int timeoutMs, bool pump) {
    return RunHost("xdotool " + arguments, timeoutMs, nullptr, pump);
}

HostCommand XdoToolAsync(const std::string& arguments) {
    return HostCommand("xdotool " + arguments);
}

int ClickAt(int x, int y, int button, int clicks) {
    return XdoTool("mousemove " + std::to_string(x) + " " + std::to_string(y) + " click --repeat " +
                   std::to_string(clicks) + " " + std::to_string(button));
}

int PressKeys(const std::string& keys) {
    return XdoTool("key " + keys);
}

int TypeText(const std::string& text) {
    return XdoTool("type -- " + ShellQuote(text));
}

unsigned long XWindowOf(void* window) {
    HWND top = GetAncestor(static_cast<HWND>(window), GA_ROOT);
    return top ? static_cast<unsigned long>(
                     reinterpret_cast<ULONG_PTR>(GetPropW(top, L"__wine_x11_whole_window")))
               : 0;
}

std::string WithXFocus(void* window, const std::string& input, int timeoutMs) {
    const std::string noFocus = std::to_string(kNoXFocus);
    const unsigned long xWindow = XWindowOf(window);
    if (!xWindow) return "echo 'no X window to give the focus to'; exit " + noFocus;
    // Each round asks once and looks again 0.1 s later.
    const std::string rounds = std::to_string(timeoutMs / 100 + 1);
    std::string script = "w=" + std::to_string(xWindow) + " n=0\n";
    script += "until [ \"$(xdotool getwindowfocus 2>/dev/null)\" = \"$w\" ]; do\n";
    script += "  [ $n -lt " + rounds + " ] || { echo \"the X focus never came to $w\"; exit " +
              noFocus + "; }\n";
    script += "  [ $n -gt 0 ] || echo \"X focus on $(xdotool getwindowfocus 2>&1), moved to $w\"\n";
    script += "  xdotool windowfocus \"$w\" 2>/dev/null; n=$((n + 1)); sleep 0.1\n";
    script += "done\n";
    return script + input;
}

bool Screenshot(const std::string& hostPath) {
    return RunHost("import -window root " + ShellQuote("png:" + hostPath), 30000) == 0;
}

void PumpMessages(int ms) {
    ULONGLONG end = GetTickCount64() + ULONGLONG(ms);
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        ULONGLONG now = GetTickCount64();
        if (now >= end) return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, DWORD(end - now), QS_ALLINPUT);
    }
}

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs, bool pump) {
    ULONGLONG end = GetTickCount64() + ULONGLONG(timeoutMs);
    for (;;) {
        if (condition()) return true;
        if (GetTickCount64() >= end) return condition();
        if (pump)
            PumpMessages(10);
        else
            Sleep(10);
    }
}

ScreenRect WindowRect(void* window) {
    RECT r{};
    GetWindowRect(static_cast<HWND>(window), &r);
    return {r.left, r.top, r.right, r.bottom};
}

ScreenRect ClientRectOnScreen(void* window) {
    RECT r{};
    GetClientRect(static_cast<HWND>(window), &r);
    POINT corners[2] = {{r.left, r.top}, {r.right, r.bottom}};
    MapWindowPoints(static_cast<HWND>(window), nullptr, corners, 2);
    return {corners[0].x, corners[0].y, corners[1].x, corners[1].y};
}

// ---- Watchdog ---------------------------------------------------------------------------

struct Watchdog::State {
    std::mutex lock;
    std::condition_variable done;
    bool finished = false;
    std::atomic<bool> fired{false};
    std::thread thread;
};

namespace {

BOOL CALLBACK DismissWindow(HWND window, LPARAM) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId() || !IsWindowVisible(window)) return TRUE;
    wchar_t className[64] = {};
    GetClassNameW(window, className, 64);
    if (!lstrcmpW(className, L"#32768")) {
        // A popup menu: Escape, as a user would.
        PostMessageW(window, WM_KEYDOWN, VK_ESCAPE, 0);
    } else if (!lstrcmpW(className, L"#32770")) {
        // A message box: cancel if it can, else answer no.
        PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
        PostMessageW(window, WM_COMMAND, IDNO, 0);
        PostMessageW(window, WM_CLOSE, 0, 0);
    } else {
        PostMessageW(window, WM_CLOSE, 0, 0);
    }
    return TRUE;
}

} // namespace

void DismissWindows() {
    EnumWindows(DismissWindow, 0);
}

Watchdog::Watchdog(int seconds, const char* what) : state_(new State) {
    State* state = state_;
    std::string label = what ? what : "GUI test";
    state->thread = std::thread([state, seconds, label] {
        std::unique_lock lock(state->lock);
        if (state->done.wait_for(lock, std::chrono::seconds(seconds),
                                 [state] { return state->finished; }))
            return;
        state->fired = true;
        std::fprintf(stderr, "watchdog: %s still running after %d s; dismissing its windows\n",
                     label.c_str(), seconds);
        std::fflush(stderr);
        DismissWindows();
        EventQueueWake();
        if (state->done.wait_for(lock, std::chrono::seconds(15),
                                 [state] { return state->finished; }))
            return;
        std::fprintf(stderr, "watchdog: %s is stuck; ending the test program\n", label.c_str());
        std::fflush(stderr);
        TerminateProcess(GetCurrentProcess(), 3);
    });
}

Watchdog::~Watchdog() {
    {
        std::lock_guard guard(state_->lock);
        state_->finished = true;
    }
    state_->done.notify_all();
    state_->thread.join();
    if (state_->fired) ADD_FAILURE() << "the watchdog had to end a stuck test";
    delete state_;
}

bool Watchdog::Fired() const {
    return state_->fired;
}

} // namespace gui
