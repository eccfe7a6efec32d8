#include "heap.h"

#include "platform.h"

namespace {

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
