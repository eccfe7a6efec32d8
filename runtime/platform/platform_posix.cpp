// POSIX stand-ins for the Win32 calls, so that the portable runtime, JSON and sound code
// can be built and tested natively. Not a product platform.
#include "platform.h"

#include "runtime/utf8.h"

#include <atomic>
#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <fcntl.h>
#include <mutex>
#include <pthread.h>
#include <sched.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace platform {

namespace {

std::u16string Widen(const std::string& text) {
    std::u16string out(text.size(), u'\0');
    out.resize(Utf8ToUtf16(reinterpret_cast<const uint8_t*>(text.data()), text.size(), out.data()));
    return out;
}

struct PosixThread {
    std::atomic<int> references{2}; // the thread and its handle
    std::atomic<bool> ended{false};
    ThreadBody body;
    intptr_t argument;
};

void DropReference(PosixThread* thread) {
    if (thread->references.fetch_sub(1) == 1) delete thread;
}

void* ThreadMain(void* context) {
    auto* thread = static_cast<PosixThread*>(context);
    thread->body(thread->argument);
    thread->ended.store(true);
    DropReference(thread);
    return nullptr;
}

struct DetachedStartup {
    ThreadBody body;
    intptr_t argument;
};

void* DetachedMain(void* context) {
    DetachedStartup startup = *static_cast<DetachedStartup*>(context);
    delete static_cast<DetachedStartup*>(context);
    startup.body(startup.argument);
    return nullptr;
}

static_assert(sizeof(pthread_mutex_t) <= sizeof(LockStorage));

pthread_mutex_t* Native(LockStorage* lock) {
    return reinterpret_cast<pthread_mutex_t*>(lock->bytes);
}

// The thread-end hook: a key whose destructor runs when the thread exits.
struct EndWatch {
    ThreadEndCallback callback;
    void* context;
};
pthread_key_t gEndKey;
pthread_once_t gEndKeyOnce = PTHREAD_ONCE_INIT;

void RunEndWatch(void* value) {
    auto* watch = static_cast<EndWatch*>(value);
    watch->callback(watch->context);
}

} // namespace

// A heap keeps its blocks in a list, so that destroying it frees them all at once, and so
// that leak checkers see blocks that live until the heap goes as reachable.
struct HeapBlock {
    HeapBlock* previous;
    HeapBlock* next;
    size_t size;
    size_t padding; // keeps the user part 16-byte aligned
};

struct Heap {
    std::mutex lock;
    HeapBlock* blocks = nullptr;

    void Link(HeapBlock* block) {
        block->previous = nullptr;
        block->next = blocks;
        if (blocks) blocks->previous = block;
        blocks = block;
    }
    void Unlink(HeapBlock* block) {
        if (block->previous)
            block->previous->next = block->next;
        else
            blocks = block->next;
        if (block->next) block->next->previous = block->previous;
    }
};

void* HeapCreate() {
    return new Heap;
}

void HeapDestroy(void* heap) {
    auto* h = static_cast<Heap*>(heap);
    while (HeapBlock* block = h->blocks) {
        h->blocks = block->next;
        std::free(block);
    }
    delete h;
}

void* HeapAllocate(void* heap, size_t size, bool zero) {
    auto* h = static_cast<Heap*>(heap);
    size_t total = sizeof(HeapBlock) + size;
    auto* block = static_cast<HeapBlock*>(zero ? std::calloc(1, total) : std::malloc(total));
    if (!block) return nullptr;
    block->size = size;
    std::lock_guard guard(h->lock);
    h->Link(block);
    return block + 1;
}

void* HeapReallocate(void* heap, void* memory, size_t size, bool zero) {
    if (!memory) return HeapAllocate(heap, size, zero);
    auto* h = static_cast<Heap*>(heap);
    std::lock_guard guard(h->lock);
    HeapBlock* block = static_cast<HeapBlock*>(memory) - 1;
    size_t old = block->size;
    h->Unlink(block);
    auto* moved = static_cast<HeapBlock*>(std::realloc(block, sizeof(HeapBlock) + size));
    if (!moved) {
        h->Link(block);
        return nullptr;
    }
    moved->size = size;
    h->Link(moved);
    if (zero && size > old) std::memset(reinterpret_cast<char*>(moved + 1) + old, 0, size - old);
    return moved + 1;
}

void HeapRelease(void* heap, void* memory) {
    if (!memory) return;
    auto* h = static_cast<Heap*>(heap);
    HeapBlock* block = static_cast<HeapBlock*>(memory) - 1;
    {
        std::lock_guard guard(h->lock);
        h->Unlink(block);
    }
    std::free(block);
}

bool TlsAllocate(uint32_t* slot) {
    pthread_key_t key;
    if (pthread_key_create(&key, nullptr) != 0) return false;
    *slot = static_cast<uint32_t>(key);
    return true;
}
void TlsRelease(uint32_t slot) {
    pthread_key_delete(static_cast<pthread_key_t>(slot));
}
void* TlsGetValue(uint32_t slot) {
    return pthread_getspecific(static_cast<pthread_key_t>(slot));
}
void TlsSetValue(uint32_t slot, void* value) {
    pthread_setspecific(static_cast<pthread_key_t>(slot), value);
}

void* ThreadCreate(ThreadBody body, intptr_t argument) {
    auto* thread = new PosixThread;
    thread->body = body;
    thread->argument = argument;
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t id;
    int failed = pthread_create(&id, &attributes, ThreadMain, thread);
    pthread_attr_destroy(&attributes);
    if (failed) {
        delete thread;
        return nullptr;
    }
    return thread;
}
bool DetachedThreadCreate(ThreadBody body, intptr_t argument, uint32_t stackSize) {
    auto* startup = new DetachedStartup{body, argument};
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    size_t standard = 0;
    pthread_attr_getstacksize(&attributes, &standard);
    if (stackSize > standard) pthread_attr_setstacksize(&attributes, stackSize);
    pthread_t id;
    int failed = pthread_create(&id, &attributes, DetachedMain, startup);
    pthread_attr_destroy(&attributes);
    if (failed) delete startup;
    return !failed;
}
uint64_t CurrentThreadId() {
    return static_cast<uint64_t>(pthread_self());
}
bool ThreadHasEnded(void* thread) {
    return static_cast<PosixThread*>(thread)->ended.load();
}
void ThreadHandleClose(void* thread) {
    DropReference(static_cast<PosixThread*>(thread));
}

void* ThreadEndWatch(ThreadEndCallback callback, void* context) {
    pthread_once(&gEndKeyOnce, [] { pthread_key_create(&gEndKey, RunEndWatch); });
    auto* watch = new EndWatch{callback, context};
    pthread_setspecific(gEndKey, watch);
    return watch;
}
void ThreadEndWatchRelease(void* watch) {
    delete static_cast<EndWatch*>(watch);
}

void LockCreate(LockStorage* lock, bool recursive) {
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes,
                              recursive ? PTHREAD_MUTEX_RECURSIVE : PTHREAD_MUTEX_NORMAL);
    pthread_mutex_init(Native(lock), &attributes);
    pthread_mutexattr_destroy(&attributes);
}
void LockDestroy(LockStorage* lock) {
    pthread_mutex_destroy(Native(lock));
}
void LockAcquire(LockStorage* lock) {
    pthread_mutex_lock(Native(lock));
}
void LockRelease(LockStorage* lock) {
    pthread_mutex_unlock(Native(lock));
}

bool CounterFrequency(int64_t* countsPerSecond) {
    *countsPerSecond = 1000000000;
    return true;
}
int64_t CounterRead() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}
uint32_t TickCount() {
    return static_cast<uint32_t>(CounterRead() / 1000000);
}
void RaiseTimerResolution() {}
void Sleep(uint32_t milliseconds) {
    if (milliseconds == 0) {
        sched_yield();
        return;
    }
    timespec delay{time_t(milliseconds / 1000), long(milliseconds % 1000) * 1000000};
    while (nanosleep(&delay, &delay) != 0) {}
}

void ModuleFileName(char16_t* buffer, size_t capacity) {
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    path[n > 0 ? n : 0] = 0;
    std::u16string wide = Widen(path);
    size_t length = wide.size() < capacity ? wide.size() : capacity - 1;
    std::memcpy(buffer, wide.data(), length * 2);
    buffer[length] = 0;
}

const char16_t* CommandLine() {
    // Rebuilt from argv with the usual quoting, once.
    static std::u16string line = [] {
        std::u16string out;
        std::string all;
        if (FILE* f = std::fopen("/proc/self/cmdline", "rb")) {
            char chunk[4096];
            size_t n;
            while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) all.append(chunk, n);
            std::fclose(f);
        }
        size_t start = 0;
        while (start < all.size()) {
            size_t end = all.find('\0', start);
            if (end == std::string::npos) end = all.size();
            std::u16string arg = Widen(all.substr(start, end - start));
            if (!out.empty()) out += u' ';
            if (arg.find(u' ') != std::u16string::npos || arg.empty())
                out += u'"' + arg + u'"';
            else
                out += arg;
            start = end + 1;
        }
        return out;
    }();
    return line.c_str();
}

bool ChangeDirectory(const char16_t* path) {
    return chdir(Utf16ToUtf8(path).c_str()) == 0;
}

uint32_t DriveType(const char16_t*) {
    return 1;
} // no drives here: DRIVE_NO_ROOT_DIR

bool FindFirstEntry(const char16_t* name, bool* isDirectory, int64_t* size) {
    struct stat info;
    if (stat(Utf16ToUtf8(name).c_str(), &info) != 0) return false;
    *isDirectory = S_ISDIR(info.st_mode);
    *size = info.st_size;
    return true;
}

bool FileAttributes(const char16_t* name, bool* isDirectory) {
    int64_t size;
    return FindFirstEntry(name, isDirectory, &size);
}

void* SystemLibraryLoad(const char16_t*) {
    return nullptr;
}

intptr_t ShellOpen(const char16_t*, const char16_t* file, const char16_t* parameters,
                   const char16_t* directory) {
    // Enough for tests: run file with the parameters as one argument, in directory, with the
    // shell's results: above 32 once the program runs, 2 (file not found) when it cannot be
    // started, 0 when no process can be made. The program runs as a grandchild, so that the
    // child we wait for ends at once and nothing is left unreaped; a close-on-exec pipe
    // tells whether the exec happened.
    constexpr intptr_t kStarted = 42, kNotFound = 2, kNoResources = 0;
    std::string f = Utf16ToUtf8(file), p = Utf16ToUtf8(parameters), d = Utf16ToUtf8(directory);
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) return kNoResources;
    pid_t child = fork();
    if (child < 0) {
        close(report[0]);
        close(report[1]);
        return kNoResources;
    }
    if (child == 0) {
        close(report[0]);
        pid_t program = fork();
        if (program != 0) _exit(program < 0 ? 1 : 0);
        if (d.empty() || chdir(d.c_str()) == 0) {
            if (p.empty())
                execlp(f.c_str(), f.c_str(), static_cast<char*>(nullptr));
            else
                execlp(f.c_str(), f.c_str(), p.c_str(), static_cast<char*>(nullptr));
        }
        char failed = 1;
        ssize_t ignored = write(report[1], &failed, 1);
        (void)ignored;
        _exit(127);
    }
    close(report[1]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {}
    char failed = 0;
    ssize_t n;
    while ((n = read(report[0], &failed, 1)) < 0 && errno == EINTR) {}
    close(report[0]);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return kNoResources;
    return n == 1 ? kNotFound : kStarted;
}

void LowerCaseInPlace(char16_t* text, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (text[i] < 0xD800 || text[i] >= 0xE000)
            text[i] = static_cast<char16_t>(std::towlower(static_cast<wint_t>(text[i])));
}

void SetUserLocaleWithCNumbers() {
    std::setlocale(LC_ALL, "");
    std::setlocale(LC_NUMERIC, "C");
}

void ExitProcess(uint32_t code) {
    std::_Exit(static_cast<int>(code));
}

} // namespace platform
