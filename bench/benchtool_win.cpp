// The benchmarks' and fault runs' view from inside Wine: what a process costs, and the
// shell's side of the tray.
//
//   morlett_benchtool mem NAME            one line per process whose exe is NAME:
//                                         "pid P private B workingset B handles N cpu_ms T"
//   morlett_benchtool tray-remove TITLE ID   deletes icon ID of the top-level window TITLE
//                                         behind its owner's back: "removed" / "not-found"
//   morlett_benchtool taskbar-created     broadcasts the shell's "TaskbarCreated": "sent"
#include <windows.h>

#include <psapi.h>
#include <shellapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <cstdio>
#include <cwchar>
#include <vector>

namespace {

unsigned long long Ms(const FILETIME& time) {
    return ((unsigned long long)time.dwHighDateTime << 32 | time.dwLowDateTime) / 10000;
}

// Wine answers GetProcessHandleCount and the private usage only for the calling process;
// the system's process list carries both for every process.
void SystemCounters(DWORD pid, DWORD* handles, unsigned long long* privateBytes) {
    std::vector<unsigned char> buffer(1 << 20);
    ULONG size = 0;
    while (NtQuerySystemInformation(SystemProcessInformation, buffer.data(), ULONG(buffer.size()),
                                    &size) != 0) {
        if (buffer.size() >= (64u << 20)) return;
        buffer.resize(buffer.size() * 2);
    }
    for (size_t at = 0;;) {
        auto* p = reinterpret_cast<SYSTEM_PROCESS_INFORMATION*>(buffer.data() + at);
        if (DWORD(ULONG_PTR(p->UniqueProcessId)) == pid) {
            if (!*handles) *handles = p->HandleCount;
            if (!*privateBytes) *privateBytes = p->PrivatePageCount;
            if (!*privateBytes) *privateBytes = p->VirtualMemoryCounters.PagefileUsage;
            return;
        }
        if (!p->NextEntryOffset) return;
        at += p->NextEntryOffset;
    }
}

int Memory(const wchar_t* name) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 1;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        if (_wcsicmp(entry.szExeFile, name) != 0) continue;
        HANDLE process =
            OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, entry.th32ProcessID);
        if (!process) continue;
        PROCESS_MEMORY_COUNTERS_EX counters = {};
        counters.cb = sizeof counters;
        DWORD handles = 0;
        FILETIME created, exited, kernel, user;
        if (GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                                 sizeof counters) &&
            GetProcessHandleCount(process, &handles) &&
            GetProcessTimes(process, &created, &exited, &kernel, &user)) {
            unsigned long long privateBytes = counters.PrivateUsage;
            SystemCounters(entry.th32ProcessID, &handles, &privateBytes);
            std::printf("pid %lu private %llu workingset %llu handles %lu cpu_ms %llu\n",
                        entry.th32ProcessID, privateBytes,
                        (unsigned long long)counters.WorkingSetSize, handles,
                        Ms(kernel) + Ms(user));
        }
        CloseHandle(process);
    }
    CloseHandle(snapshot);
    return 0;
}

int TrayRemove(const wchar_t* title, UINT id) {
    HWND window = FindWindowW(nullptr, title);
    if (!window) {
        std::printf("not-found\n");
        return 1;
    }
    NOTIFYICONDATAW data = {};
    data.cbSize = sizeof data;
    data.hWnd = window;
    data.uID = id;
    std::printf(Shell_NotifyIconW(NIM_DELETE, &data) ? "removed\n" : "not-found\n");
    return 0;
}

int TaskbarCreated() {
    UINT message = RegisterWindowMessageW(L"TaskbarCreated");
    DWORD_PTR result = 0;
    SendMessageTimeoutW(HWND_BROADCAST, message, 0, 0, SMTO_ABORTIFHUNG, 2000, &result);
    std::printf("sent\n");
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 3 && std::wcscmp(argv[1], L"mem") == 0) return Memory(argv[2]);
    if (argc == 4 && std::wcscmp(argv[1], L"tray-remove") == 0)
        return TrayRemove(argv[2], UINT(_wtoi(argv[3])));
    if (argc == 2 && std::wcscmp(argv[1], L"taskbar-created") == 0) return TaskbarCreated();
    std::printf("usage: morlett_benchtool mem NAME | tray-remove TITLE ID | taskbar-created\n");
    return 2;
}
