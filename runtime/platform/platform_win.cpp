// The Win32 side of the platform layer.
#include "platform.h"

#include <windows.h>

#include <clocale>
#include <cstring>
#include <cwchar>
#include <shellapi.h>

namespace platform {

namespace {

const wchar_t* W(const char16_t* text) {
    return reinterpret_cast<const wchar_t*>(text);
}

struct ThreadStartup {
    ThreadBody body;
    intptr_t argument;
};

DWORD WINAPI ThreadMain(void* context) {
    ThreadStartup startup = *static_cast<ThreadStartup*>(context);
    HeapFree(GetProcessHeap(), 0, context);
    startup.body(startup.argument);
    return 0;
}

HANDLE ThreadCreateSized(ThreadBody body, intptr_t argument, uint32_t stackSize) {
    auto* startup =
        static_cast<ThreadStartup*>(HeapAlloc(GetProcessHeap(), 0, sizeof(ThreadStartup)));
    if (!startup) return nullptr;
    *startup = {body, argument};
    HANDLE thread = ::CreateThread(nullptr, stackSize, ThreadMain, startup, 0, nullptr);
    if (!thread) HeapFree(GetProcessHeap(), 0, startup);
    return thread;
}

// A recursive lock is a critical section; a plain one the lighter SRW lock.
struct NativeLock {
    bool recursive;
    union {
        CRITICAL_SECTION section;
        SRWLOCK srw;
    };
};
static_assert(sizeof(NativeLock) <= sizeof(LockStorage));

NativeLock* Native(LockStorage* lock) {
    return reinterpret_cast<NativeLock*>(lock->bytes);
}

struct EndWatch {
    ThreadEndCallback callback;
    void* context;
    HANDLE thread; // a real handle with synchronise access only
    HANDLE wait;
};

void CALLBACK ThreadEndSignalled(void* context, BOOLEAN) {
    auto* watch = static_cast<EndWatch*>(context);
    watch->callback(watch->context);
}

} // namespace

void* HeapCreate() {
    return ::HeapCreate(0, 4096, 0);
}
void HeapDestroy(void* heap) {
    ::HeapDestroy(heap);
}
void* HeapAllocate(void* heap, size_t size, bool zero) {
    return ::HeapAlloc(heap, zero ? HEAP_ZERO_MEMORY : 0, size ? size : 1);
}
void* HeapReallocate(void* heap, void* block, size_t size, bool zero) {
    return ::HeapReAlloc(heap, zero ? HEAP_ZERO_MEMORY : 0, block, size ? size : 1);
}
void HeapRelease(void* heap, void* block) {
    ::HeapFree(heap, 0, block);
}

bool TlsAllocate(uint32_t* slot) {
    DWORD index = ::TlsAlloc();
    if (index == TLS_OUT_OF_INDEXES) return false;
    *slot = index;
    return true;
}
void TlsRelease(uint32_t slot) {
    ::TlsFree(slot);
}
void* TlsGetValue(uint32_t slot) {
    return ::TlsGetValue(slot);
}
void TlsSetValue(uint32_t slot, void* value) {
    ::TlsSetValue(slot, value);
}

void* ThreadCreate(ThreadBody body, intptr_t argument) {
    // 4096 is taken as the initially committed part of a default-sized (1 MiB) stack.
    return ThreadCreateSized(body, argument, 4096);
}
bool DetachedThreadCreate(ThreadBody body, intptr_t argument, uint32_t stackSize) {
    HANDLE thread = ThreadCreateSized(body, argument, stackSize);
    if (!thread) return false;
    CloseHandle(thread);
    return true;
}
uint64_t CurrentThreadId() {
    return GetCurrentThreadId();
}
bool ThreadHasEnded(void* thread) {
    return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
}
void ThreadHandleClose(void* thread) {
    CloseHandle(thread);
}

void* ThreadEndWatch(ThreadEndCallback callback, void* context) {
    auto* watch =
        static_cast<EndWatch*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(EndWatch)));
    if (!watch) return nullptr;
    watch->callback = callback;
    watch->context = context;
    if (!DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(),
                         &watch->thread, SYNCHRONIZE, FALSE, 0) ||
        !RegisterWaitForSingleObject(&watch->wait, watch->thread, ThreadEndSignalled, watch,
                                     INFINITE, WT_EXECUTEONLYONCE)) {
        if (watch->thread) CloseHandle(watch->thread);
        HeapFree(GetProcessHeap(), 0, watch);
        return nullptr;
    }
    return watch;
}

void ThreadEndWatchRelease(void* context) {
    auto* watch = static_cast<EndWatch*>(context);
    UnregisterWait(watch->wait); // does not wait for this very callback
    CloseHandle(watch->thread);
    HeapFree(GetProcessHeap(), 0, watch);
}

void LockCreate(LockStorage* storage, bool recursive) {
    NativeLock* lock = Native(storage);
    lock->recursive = recursive;
    if (recursive)
        InitializeCriticalSection(&lock->section);
    else
        InitializeSRWLock(&lock->srw);
}
void LockDestroy(LockStorage* storage) {
    NativeLock* lock = Native(storage);
    if (lock->recursive) DeleteCriticalSection(&lock->section);
}
void LockAcquire(LockStorage* storage) {
    NativeLock* lock = Native(storage);
    if (lock->recursive)
        EnterCriticalSection(&lock->section);
    else
        AcquireSRWLockExclusive(&lock->srw);
}
void LockRelease(LockStorage* storage) {
    NativeLock* lock = Native(storage);
    if (lock->recursive)
        LeaveCriticalSection(&lock->section);
    else
        ReleaseSRWLockExclusive(&lock->srw);
}

bool CounterFrequency(int64_t* countsPerSecond) {
    LARGE_INTEGER frequency;
    if (!QueryPerformanceFrequency(&frequency)) return false;
    *countsPerSecond = frequency.QuadPart;
    return true;
}
int64_t CounterRead() {
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    return count.QuadPart;
}
uint32_t TickCount() {
    return GetTickCount();
}

void RaiseTimerResolution() {
    // A process without a visible window has its timer-resolution request ignored on
    // current Windows versions (power throttling), which would turn SleepMs(1) into a whole
    // 15.6 ms tick. Opt out of that first; the call is absent before Windows 8.
    using SetInformation = BOOL(WINAPI*)(HANDLE, int, void*, DWORD);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    auto setInformation = reinterpret_cast<SetInformation>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetProcessInformation")));
    if (setInformation) {
        struct {
            ULONG version, controlMask, stateMask;
        } state = {1, 0x4 /* ignore timer resolution */, 0};
        setInformation(GetCurrentProcess(), 4 /* ProcessPowerThrottling */, &state, sizeof state);
    }
    // winmm is no system-wide known library: imported statically, the loader would take a
    // winmm.dll planted beside the program before our first line runs. So it is looked up
    // here, in the system folder only.
    using BeginPeriod = UINT(WINAPI*)(UINT);
    if (HMODULE winmm = static_cast<HMODULE>(SystemLibraryLoad(u"winmm.dll")))
        if (auto begin = reinterpret_cast<BeginPeriod>(
                reinterpret_cast<void*>(GetProcAddress(winmm, "timeBeginPeriod"))))
            begin(1);
}

void* SystemLibraryLoad(const char16_t* fileName) {
    auto name = reinterpret_cast<const wchar_t*>(fileName);
    HMODULE module = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!module && GetLastError() == ERROR_INVALID_PARAMETER) {
        // Systems without the search flags (Vista and 7 without their update): name the
        // system folder ourselves.
        wchar_t path[MAX_PATH];
        size_t length = std::wcslen(name);
        UINT n = GetSystemDirectoryW(path, MAX_PATH);
        if (n == 0 || n + 1 + length >= MAX_PATH) return nullptr;
        path[n] = L'\\';
        std::memcpy(path + n + 1, name, (length + 1) * sizeof(wchar_t));
        module = LoadLibraryW(path);
    }
    return module;
}

void Sleep(uint32_t milliseconds) {
    ::Sleep(milliseconds);
}

void ModuleFileName(char16_t* buffer, size_t capacity) {
    DWORD n = GetModuleFileNameW(GetModuleHandleW(nullptr), reinterpret_cast<wchar_t*>(buffer),
                                 static_cast<DWORD>(capacity));
    buffer[n < capacity ? n : capacity - 1] = 0;
}

const char16_t* CommandLine() {
    return reinterpret_cast<const char16_t*>(GetCommandLineW());
}

bool ChangeDirectory(const char16_t* path) {
    return SetCurrentDirectoryW(W(path)) != 0;
}

uint32_t DriveType(const char16_t* root) {
    return GetDriveTypeW(W(root));
}

bool FindFirstEntry(const char16_t* name, bool* isDirectory, int64_t* size) {
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW(W(name), &data);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
    *isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    *size = (int64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

bool FileAttributes(const char16_t* name, bool* isDirectory) {
    DWORD attributes = GetFileAttributesW(W(name));
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    *isDirectory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return true;
}

intptr_t ShellOpen(const char16_t* verb, const char16_t* file, const char16_t* parameters,
                   const char16_t* directory) {
    HINSTANCE result =
        ShellExecuteW(nullptr, W(verb), W(file), W(parameters), W(directory), SW_SHOWNORMAL);
    return reinterpret_cast<intptr_t>(result);
}

void LowerCaseInPlace(char16_t* text, size_t length) {
    if (length) CharLowerBuffW(reinterpret_cast<wchar_t*>(text), static_cast<DWORD>(length));
}

void SetUserLocaleWithCNumbers() {
    setlocale(LC_ALL, "");
    setlocale(LC_NUMERIC, "C");
}

void ExitProcess(uint32_t code) {
    ::ExitProcess(code);
}

} // namespace platform
