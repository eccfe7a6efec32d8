#include "threads.h"

#include "heap.h"
#include "lock.h"
#include "platform.h"

#include <atomic>
#include <new>

namespace {

// ---- Thread registry -------------------------------------------------------------------

struct ThreadNode {
    ThreadNode* next;
    void* handle;
    int64_t number;
};

Lock* gThreadLock = nullptr;
ThreadNode* gThreadList = nullptr; // newest first
int64_t gNextThreadNumber = 1;

Lock* NewLock() {
    void* memory = RuntimeAllocate(sizeof(Lock));
    return memory ? new (memory) Lock(LockKind::Recursive) : nullptr;
}

// ---- Per-thread storage ----------------------------------------------------------------

struct Registration {
    Registration* next; // newest first
    int64_t offset;
    ThreadLocalProcedure init;
    ThreadLocalProcedure cleanup;
};

bool gStorageReady = false;
uint32_t gStorageSlot = 0;
int64_t gTotalSize = 0;
Registration* gRegistrations = nullptr;

void AreaCleanup(void* area) {
    for (Registration* r = gRegistrations; r; r = r->next)
        if (r->cleanup) r->cleanup(static_cast<char*>(area) + r->offset);
    RuntimeFree(area);
}

// ---- Thread-exit registry --------------------------------------------------------------

struct ExitCallback {
    ExitCallback* next; // newest first
    ThreadExitProcedure procedure;
    void* argument;
};

struct ThreadExitRecord {
    ThreadExitRecord* previous;
    ThreadExitRecord* next;
    ExitCallback* callbacks;
    void* watch;
};

uint32_t gExitSlot = 0;
Lock* gExitLock = nullptr;
ThreadExitRecord* gExitRecords = nullptr;

void ThreadEnded(void* context) {
    auto* record = static_cast<ThreadExitRecord*>(context);
    platform::ThreadEndWatchRelease(record->watch);
    {
        LockGuard guard(*gExitLock);
        if (record->previous)
            record->previous->next = record->next;
        else
            gExitRecords = record->next;
        if (record->next) record->next->previous = record->previous;
    }
    while (ExitCallback* node = record->callbacks) {
        record->callbacks = node->next;
        node->procedure(node->argument);
        RuntimeFree(node);
    }
    RuntimeFree(record);
}

} // namespace

// ---- Threads ---------------------------------------------------------------------------

void ThreadLibraryInit() {
    if (!gThreadLock) gThreadLock = NewLock();
}

int64_t ThreadStart(ThreadProcedure procedure, intptr_t argument) {
    if (!procedure) return 0;
    ThreadLibraryInit();
    // Without its lock the registry cannot number threads safely: start none.
    if (!gThreadLock) return 0;
    void* handle = platform::ThreadCreate(procedure, argument);
    if (!handle) return 0;
    LockGuard guard(*gThreadLock);
    // Ended threads are swept lazily here; no thread is dedicated to it.
    for (ThreadNode** link = &gThreadList; *link;) {
        ThreadNode* node = *link;
        if (platform::ThreadHasEnded(node->handle)) {
            platform::ThreadHandleClose(node->handle);
            *link = node->next;
            RuntimeFree(node);
        } else {
            link = &node->next;
        }
    }
    int64_t number = gNextThreadNumber++;
    if (auto* node = static_cast<ThreadNode*>(RuntimeAllocate(sizeof(ThreadNode)))) {
        *node = {gThreadList, handle, number};
        gThreadList = node;
    } else {
        // No room to remember it: the thread runs on, we just cannot sweep its handle.
        platform::ThreadHandleClose(handle);
    }
    return number;
}

uint64_t ThreadCurrentId() {
    return platform::CurrentThreadId();
}

void ThreadLibraryShutdown() {
    if (!gThreadLock) return;
    LockGuard guard(*gThreadLock);
    while (ThreadNode* node = gThreadList) {
        gThreadList = node->next;
        platform::ThreadHandleClose(node->handle);
        RuntimeFree(node);
    }
}

// ---- Per-thread storage ----------------------------------------------------------------

int64_t ThreadLocalRegister(int64_t size, ThreadLocalProcedure init, ThreadLocalProcedure cleanup) {
    if (size < 0) size = 0;
    int64_t rounded = (size + 7) & ~int64_t{7};
    if (!gStorageReady) {
        if (!platform::TlsAllocate(&gStorageSlot)) return -1;
        gStorageReady = true;
    }
    int64_t offset = gTotalSize;
    int64_t total = offset + rounded;
    // The node first: a block whose procedures cannot be recorded is refused, rather than
    // handed out with its init and cleanup silently lost.
    Registration* node = nullptr;
    if (init || cleanup) {
        node = static_cast<Registration*>(RuntimeAllocate(sizeof(Registration)));
        if (!node) return -1;
    }
    // Grow the registering thread's area; the new bytes come zero-filled.
    void* area = RuntimeReallocate(platform::TlsGetValue(gStorageSlot), size_t(total ? total : 8));
    if (!area) {
        RuntimeFree(node);
        return -1;
    }
    platform::TlsSetValue(gStorageSlot, area);
    gTotalSize = total;
    if (node) {
        *node = {gRegistrations, offset, init, cleanup};
        gRegistrations = node;
    }
    if (init) init(static_cast<char*>(area) + offset);
    return offset;
}

void* ThreadLocalGet(int64_t offset) {
    if (!gStorageReady) return nullptr;
    void* area = platform::TlsGetValue(gStorageSlot);
    if (!area) {
        area = RuntimeAllocate(size_t(gTotalSize ? gTotalSize : 8));
        if (!area) return nullptr;
        platform::TlsSetValue(gStorageSlot, area);
        for (Registration* r = gRegistrations; r; r = r->next)
            if (r->init) r->init(static_cast<char*>(area) + r->offset);
        // Memory short: the thread keeps its area but its clean-up is lost; failing every
        // later lookup of the thread would be worse.
        (void)AtThreadExit(AreaCleanup, area);
    }
    return static_cast<char*>(area) + offset;
}

void ThreadLocalShutdown() {
    if (gStorageReady) platform::TlsRelease(gStorageSlot);
    gStorageReady = false;
}

void* AtThreadExit(ThreadExitProcedure procedure, void* argument) {
    static const bool registryReady = [] {
        if (platform::TlsAllocate(&gExitSlot)) gExitLock = NewLock();
        return true;
    }();
    (void)registryReady;
    if (!gExitLock || !procedure) return nullptr;
    auto* record = static_cast<ThreadExitRecord*>(platform::TlsGetValue(gExitSlot));
    if (!record) {
        record = static_cast<ThreadExitRecord*>(RuntimeAllocate(sizeof(ThreadExitRecord)));
        if (!record) return nullptr;
        record->watch = platform::ThreadEndWatch(ThreadEnded, record);
        if (!record->watch) {
            RuntimeFree(record);
            return nullptr;
        }
        {
            LockGuard guard(*gExitLock);
            record->next = gExitRecords;
            if (record->next) record->next->previous = record;
            gExitRecords = record;
        }
        platform::TlsSetValue(gExitSlot, record);
    }
    auto* node = static_cast<ExitCallback*>(RuntimeAllocate(sizeof(ExitCallback)));
    if (!node) return nullptr;
    *node = {record->callbacks, procedure, argument};
    record->callbacks = node;
    return node;
}
