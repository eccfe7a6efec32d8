// The end-to-end tests' hands and eyes inside Wine: switches Caps Lock the way a keyboard
// does (SendInput), reads it the way the program does (GetKeyState), and looks at and
// presses the program's message boxes and dialogs.
//
//   morlett_probe COMMAND [ARGS]   one command, its answer on stdout
//   morlett_probe serve            commands from stdin, one answer line each
//
// Commands:
//   caps                         "on" or "off"
//   set-caps on|off              switches when needed; "on N" / "off N": ms until seen
//   press-and-watch MS           one Caps Lock press from off, then watches MS ms:
//                                "seen-on A off-at B" (ms after the press; -1 never)
//   windows TITLE                each visible top-level window titled TITLE:
//                                "window CLASS|child text|child text..."; then "end"
//   click TITLE BUTTON           presses the button (text without '&') in the window TITLE
//   set-text TITLE TEXT          puts TEXT into the first edit field of the window TITLE
//   start LINE                   starts a program with exactly this command line
//   resources PATH               "manifest N version N icons N": resource sizes, icon count
//   elevated                     "1" or "0": the token's elevation
//   mutex NAME                   "exists" or "none"
//   wait-gone TITLE MS           "gone N" once no visible window has the title, else "there"
//   x-window TITLE               "x-window N": the X window Wine made for the largest visible
//                                window titled TITLE (keys go where the X focus is), or "none"
//   theme                        the taskbar's theme value: "0", "1", "absent" or "other"
//   theme 0|1|absent             sets (or deletes) that value: "set", or "error N"
//   broadcast-theme              tells every top-level window the colour theme changed, as the
//                                shell does: "sent" or "error N"
//   resume [automatic|suspend]   tells every top-level window the machine resumed from sleep,
//                                both notifications in the system's order unless one is named:
//                                "sent" or "error N"
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

LONGLONG NowMs() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart * 1000 / frequency.QuadPart;
}

bool CapsOn() {
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE); // brings this thread's key state up to date
    return (GetKeyState(VK_CAPITAL) & 1) != 0;
}

void PressCaps() {
    INPUT in[2] = {};
    for (int i = 0; i < 2; ++i) {
        in[i].type = INPUT_KEYBOARD;
        in[i].ki.wVk = VK_CAPITAL;
        in[i].ki.wScan = 0x3A;
        in[i].ki.dwFlags = KEYEVENTF_SCANCODE | (i ? KEYEVENTF_KEYUP : 0);
    }
    SendInput(2, in, sizeof(INPUT));
}

std::string Utf8(const std::wstring& w) {
    if (w.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), int(w.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.c_str(), int(w.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring Wide(const std::string& s) {
    if (s.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, s.c_str(), int(s.size()), nullptr, 0);
    std::wstring out(size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.c_str(), int(s.size()), out.data(), n);
    return out;
}

std::wstring TextOf(HWND window) {
    wchar_t buffer[512];
    DWORD_PTR n = 0;
    // WM_GETTEXT reaches controls of other processes too; a hung one is given up on.
    if (!SendMessageTimeoutW(window, WM_GETTEXT, 512, LPARAM(buffer), SMTO_ABORTIFHUNG, 1000, &n))
        return {};
    return std::wstring(buffer, n < 511 ? size_t(n) : 511);
}

std::wstring ClassOf(HWND window) {
    wchar_t buffer[256];
    int n = GetClassNameW(window, buffer, 256);
    return std::wstring(buffer, size_t(n > 0 ? n : 0));
}

std::vector<HWND> WindowsTitled(const std::wstring& title) {
    struct Search {
        std::wstring title;
        std::vector<HWND> found;
    } search{title, {}};
    EnumWindows(
        [](HWND window, LPARAM context) -> BOOL {
            auto* s = reinterpret_cast<Search*>(context);
            if (IsWindowVisible(window) && TextOf(window) == s->title) s->found.push_back(window);
            return TRUE;
        },
        LPARAM(&search));
    return search.found;
}

std::vector<HWND> Children(HWND parent) {
    std::vector<HWND> children;
    EnumChildWindows(
        parent,
        [](HWND child, LPARAM context) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(context)->push_back(child);
            return TRUE;
        },
        LPARAM(&children));
    return children;
}

std::wstring WithoutAmpersands(std::wstring text) {
    std::wstring out;
    for (wchar_t c : text)
        if (c != L'&') out += c;
    return out;
}

// Where the shell keeps whether the taskbar is light (1) or dark (0).
const wchar_t kPersonalizeKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize";
const wchar_t kTaskbarThemeValue[] = L"SystemUsesLightTheme";

std::string ReadTheme() {
    DWORD type = 0, value = 0, size = sizeof value;
    LSTATUS read = RegGetValueW(HKEY_CURRENT_USER, kPersonalizeKey, kTaskbarThemeValue, RRF_RT_ANY,
                                &type, &value, &size);
    if (read == ERROR_FILE_NOT_FOUND) return "absent";
    if (read != ERROR_SUCCESS || type != REG_DWORD || size != sizeof value || value > 1)
        return "other";
    return std::to_string(value);
}

std::string WriteTheme(const std::string& want) {
    HKEY key = nullptr;
    LSTATUS result = RegCreateKeyExW(HKEY_CURRENT_USER, kPersonalizeKey, 0, nullptr, 0,
                                     KEY_SET_VALUE, nullptr, &key, nullptr);
    if (result != ERROR_SUCCESS) return "error " + std::to_string(result);
    if (want == "absent") {
        result = RegDeleteValueW(key, kTaskbarThemeValue);
        if (result == ERROR_FILE_NOT_FOUND) result = ERROR_SUCCESS;
    } else {
        DWORD value = want == "1" ? 1 : 0;
        result = RegSetValueExW(key, kTaskbarThemeValue, 0, REG_DWORD,
                                reinterpret_cast<const BYTE*>(&value), sizeof value);
    }
    RegCloseKey(key);
    return result == ERROR_SUCCESS ? "set" : "error " + std::to_string(result);
}

// Sends to every top-level window, hidden ones too, and waits (bounded) until each took it.
std::string Broadcast(UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR answer = 0;
    SetLastError(0);
    if (!SendMessageTimeoutW(HWND_BROADCAST, message, wParam, lParam, SMTO_ABORTIFHUNG, 5000,
                             &answer) &&
        GetLastError() != 0)
        return "error " + std::to_string(GetLastError());
    return "sent";
}

std::string Run(const std::vector<std::string>& args) {
    const std::string& command = args[0];
    if (command == "caps") return CapsOn() ? "on" : "off";
    if (command == "set-caps" && args.size() == 2) {
        bool want = args[1] == "on";
        LONGLONG start = NowMs();
        if (CapsOn() != want) PressCaps();
        while (CapsOn() != want && NowMs() - start < 2000) Sleep(1);
        return std::string(CapsOn() ? "on " : "off ") + std::to_string(NowMs() - start);
    }
    if (command == "press-and-watch" && args.size() == 2) {
        LONGLONG limit = std::stoll(args[1]);
        if (CapsOn()) return "already-on";
        LONGLONG start = NowMs(), seenOn = -1, offAt = -1;
        PressCaps();
        while (NowMs() - start < limit) {
            bool on = CapsOn();
            if (on && seenOn < 0) seenOn = NowMs() - start;
            if (!on && seenOn >= 0) {
                offAt = NowMs() - start;
                break;
            }
            // The program may answer within a millisecond: look without pausing at first.
            if (NowMs() - start < 50)
                SwitchToThread();
            else
                Sleep(1);
        }
        return "seen-on " + std::to_string(seenOn) + " off-at " + std::to_string(offAt);
    }
    if (command == "windows" && args.size() == 2) {
        std::string out;
        for (HWND window : WindowsTitled(Wide(args[1]))) {
            out += "window " + Utf8(ClassOf(window));
            for (HWND child : Children(window)) out += "|" + Utf8(TextOf(child));
            out += "\n";
        }
        return out + "end";
    }
    if (command == "click" && args.size() == 3) {
        for (HWND window : WindowsTitled(Wide(args[1])))
            for (HWND child : Children(window))
                if (WithoutAmpersands(TextOf(child)) == Wide(args[2]) &&
                    ClassOf(child) == L"Button") {
                    PostMessageW(child, BM_CLICK, 0, 0);
                    return "clicked";
                }
        return "not-found";
    }
    if (command == "set-text" && args.size() == 3) {
        for (HWND window : WindowsTitled(Wide(args[1])))
            for (HWND child : Children(window))
                if (_wcsicmp(ClassOf(child).c_str(), L"Edit") == 0) {
                    std::wstring text = Wide(args[2]);
                    SendMessageW(child, WM_SETTEXT, 0, LPARAM(text.c_str()));
                    return "set";
                }
        return "not-found";
    }
    if (command == "x-window" && args.size() == 2) {
        HWND largest = nullptr;
        LONG largestArea = -1;
        for (HWND window : WindowsTitled(Wide(args[1]))) {
            RECT r{};
            GetWindowRect(window, &r);
            LONG area = (r.right - r.left) * (r.bottom - r.top);
            if (area > largestArea) largest = window, largestArea = area;
        }
        auto x = largest
                     ? reinterpret_cast<ULONG_PTR>(GetPropW(largest, L"__wine_x11_whole_window"))
                     : 0;
        return x ? "x-window " + std::to_string(x) : "none";
    }
    if (command == "wait-gone" && args.size() == 3) {
        LONGLONG start = NowMs(), limit = std::stoll(args[2]);
        while (!WindowsTitled(Wide(args[1])).empty()) {
            if (NowMs() - start >= limit) return "there";
            Sleep(10);
        }
        return "gone " + std::to_string(NowMs() - start);
    }
    if (command == "start" && args.size() == 2) {
        std::wstring line = Wide(args[1]);
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &process))
            return "failed " + std::to_string(GetLastError());
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return "started " + std::to_string(process.dwProcessId);
    }
    if (command == "resources" && args.size() == 2) {
        // What the loader finds in an exe: its manifest, its version and any icon.
        HMODULE module = LoadLibraryExW(Wide(args[1]).c_str(), nullptr,
                                        LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        if (!module) return "cannot-load";
        std::string out;
        HRSRC manifest = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
        out += "manifest " + std::to_string(manifest ? SizeofResource(module, manifest) : 0);
        HRSRC version = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16));
        out += " version " + std::to_string(version ? SizeofResource(module, version) : 0);
        int icons = 0;
        EnumResourceNamesW(
            module, MAKEINTRESOURCEW(14),
            [](HMODULE, LPCWSTR, LPWSTR, LONG_PTR count) -> BOOL {
                ++*reinterpret_cast<int*>(count);
                return TRUE;
            },
            LONG_PTR(&icons));
        out += " icons " + std::to_string(icons);
        FreeLibrary(module);
        return out;
    }
    if (command == "elevated") {
        HANDLE token = nullptr;
        TOKEN_ELEVATION elevation = {};
        DWORD size = 0;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return "error";
        BOOL ok = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
        CloseHandle(token);
        return ok ? std::to_string(elevation.TokenIsElevated) : "error";
    }
    if (command == "mutex" && args.size() == 2) {
        HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, Wide(args[1]).c_str());
        if (!mutex) return "none";
        CloseHandle(mutex);
        return "exists";
    }
    if (command == "theme" && args.size() == 1) return ReadTheme();
    if (command == "theme" && args.size() == 2 &&
        (args[1] == "0" || args[1] == "1" || args[1] == "absent"))
        return WriteTheme(args[1]);
    if (command == "broadcast-theme")
        return Broadcast(WM_SETTINGCHANGE, 0, LPARAM(L"ImmersiveColorSet"));
    if (command == "resume" && args.size() <= 2) {
        // Windows sends the automatic resume first and, once a user is seen, the other one.
        std::string which = args.size() == 2 ? args[1] : "both";
        bool automatic = which == "automatic" || which == "both";
        bool suspend = which == "suspend" || which == "both";
        if (!automatic && !suspend) return "unknown command";
        std::string out = "sent";
        if (automatic) out = Broadcast(WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0);
        if (suspend && out == "sent") out = Broadcast(WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, 0);
        return out;
    }
    return "unknown command";
}

std::vector<std::string> Split(const std::string& line) {
    // Words split by spaces; a word in double quotes may hold spaces, \" is a quote.
    std::vector<std::string> words;
    std::string word;
    bool quoted = false, any = false;
    for (const char* p = line.c_str(); *p; ++p) {
        char c = *p;
        if (c == '\\' && p[1] == '"') {
            word += '"';
            any = true;
            ++p;
        } else if (c == '"') {
            quoted = !quoted;
            any = true;
        } else if (c == ' ' && !quoted) {
            if (any) words.push_back(word);
            word.clear();
            any = false;
        } else if (c != '\r' && c != '\n') {
            word += c;
            any = true;
        }
    }
    if (any) words.push_back(word);
    return words;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::string(argv[1]) == "serve") {
        char line[4096];
        std::printf("ready\n");
        std::fflush(stdout);
        while (std::fgets(line, sizeof line, stdin)) {
            std::vector<std::string> args = Split(line);
            if (args.empty()) continue;
            if (args[0] == "quit") break;
            std::printf("%s\n", Run(args).c_str());
            std::fflush(stdout);
        }
        return 0;
    }
    if (argc < 2) {
        std::printf("usage: morlett_probe COMMAND [ARGS] | serve\n");
        return 2;
    }
    std::printf("%s\n", Run(std::vector<std::string>(argv + 1, argv + argc)).c_str());
    return 0;
}
