#include "heap.h"

#include "heap_internal.h"
#include "platform.h"

#include <atomic>

namespace {

std::atomic<int64_t> gAllocationsLeft{-1}; // the test hook; negative: no limit

bool AllocationAllowed() {
    if (gAllocationsLeft.load(std::memory_order_relaxed) < 0) return true;
    return gAllocationsLeft.fetch_sub(1, std::memory_order_relaxed) > 0;
}

void* gRuntimeHeap = nullptr;
void* gMemoryHeap = nullptr;
void* gStringHeap = nullptr;

void CreateHeaps() {
    // The runtime heap comes first: everything else of the runtime lives in it.
    if (!gRuntimeHeap) gRuntimeHeap = platform::HeapCreate();
    if (!gMemoryHeap) gMemoryHeap = platform::HeapCreate();
    if (!gStringHeap) gStringHeap = platform::HeapCreate();
}

} // namespace

void RuntimeHeapsCreate() {
    CreateHeaps();
}

void RuntimeHeapsDestroy() {
    if (gMemoryHeap) platform::HeapDestroy(gMemoryHeap);
    if (gRuntimeHeap) platform::HeapDestroy(gRuntimeHeap);
    gMemoryHeap = gRuntimeHeap = nullptr;
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

void HeapFailAllocationsAfter(int64_t after) {
    gAllocationsLeft.store(after < 0 ? -1 : after, std::memory_order_relaxed);
}

void* RuntimeAllocate(size_t size) {
    if (!AllocationAllowed()) return nullptr;
    return platform::HeapAllocate(RuntimeHeap(), size, true);
}

void* RuntimeReallocate(void* block, size_t size) {
    if (!block) return RuntimeAllocate(size);
    if (!AllocationAllowed()) return nullptr;
    return platform::HeapReallocate(RuntimeHeap(), block, size, true);
}

void RuntimeFree(void* block) {
    if (block) platform::HeapRelease(RuntimeHeap(), block);
}
