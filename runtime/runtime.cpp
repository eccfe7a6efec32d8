#include "runtime.h"

#include "environment.h"
#include "platform.h"
#include "strings.h"
#include "threads.h"

namespace {

void* gRuntimeHeap = nullptr;
void* gMemoryHeap = nullptr;
void* gStringHeap = nullptr;
bool gStarted = false;

RuntimeLibrary gLibraries[static_cast<int>(RuntimeLibraryId::Count)] = {};

// The release order at shutdown. The string and parameter libraries hold nothing that
// outlives the process, so they have no step here.
constexpr RuntimeLibraryId kShutdownOrder[] = {
    RuntimeLibraryId::Threads, RuntimeLibraryId::Sound,      RuntimeLibraryId::Windows,
    RuntimeLibraryId::Ole,     RuntimeLibraryId::TrayIcons,  RuntimeLibraryId::Json,
    RuntimeLibraryId::Images,  RuntimeLibraryId::EventQueue,
};

void CreateHeaps() {
    // The runtime heap comes first: everything else of the runtime lives in it.
    if (!gRuntimeHeap) gRuntimeHeap = platform::HeapCreate();
    if (!gMemoryHeap) gMemoryHeap = platform::HeapCreate();
    if (!gStringHeap) gStringHeap = platform::HeapCreate();
}

} // namespace

void RuntimeUse(const RuntimeLibrary& library) {
    int index = static_cast<int>(library.id);
    if (index >= 0 && index < static_cast<int>(RuntimeLibraryId::Count))
        gLibraries[index] = library;
}

void RuntimeInit() {
    if (gStarted) return;
    gStarted = true;
    CreateHeaps();
    platform::SetUserLocaleWithCNumbers();
    // The runtime's own libraries are always there.
    RuntimeUse({RuntimeLibraryId::Strings, StringLibraryInit, nullptr});
    RuntimeUse({RuntimeLibraryId::Parameters, ParameterLibraryInit, nullptr});
    RuntimeUse({RuntimeLibraryId::Threads, ThreadLibraryInit, ThreadLibraryShutdown});
    for (const RuntimeLibrary& library : gLibraries)
        if (library.start) library.start();
}

void RuntimeShutdown() {
    for (RuntimeLibraryId id : kShutdownOrder) {
        const RuntimeLibrary& library = gLibraries[static_cast<int>(id)];
        if (library.release) library.release();
    }
    ThreadLocalShutdown();
    // The string heap ends with the process: other threads may still be using their
    // scratch areas while we exit.
    if (gMemoryHeap) platform::HeapDestroy(gMemoryHeap);
    if (gRuntimeHeap) platform::HeapDestroy(gRuntimeHeap);
    gMemoryHeap = gRuntimeHeap = nullptr;
    platform::ExitProcess(0);
}

void* RuntimeHeap() {
    if (!gRuntimeHeap) CreateHeaps();
    return gRuntimeHeap;
}

void* MemoryHeap() {
    if (!gMemoryHeap) CreateHeaps();
    return gMemoryHeap;
}

void* StringHeap() {
    if (!gStringHeap) CreateHeaps();
    return gStringHeap;
}

void* RuntimeAllocate(size_t size) {
    return platform::HeapAllocate(RuntimeHeap(), size, true);
}

void* RuntimeReallocate(void* block, size_t size) {
    if (!block) return RuntimeAllocate(size);
    return platform::HeapReallocate(RuntimeHeap(), block, size, true);
}

void RuntimeFree(void* block) {
    if (block) platform::HeapRelease(RuntimeHeap(), block);
}
