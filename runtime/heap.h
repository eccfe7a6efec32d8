// The bottom of the runtime: its private heaps and allocation from them. Allocation and
// freeing are thread-safe; creating and destroying the heaps belong to the runtime frame.
#pragma once

#include <cstddef>

// The three private heaps. The runtime heap holds library records, object tables, per-thread
// areas and sound data; the memory heap general allocations; the string heap string buffers.
void* RuntimeHeap();
void* MemoryHeap();
void* StringHeap();

// Allocations from the runtime heap (zero-filled); null when memory is short.
// RuntimeFree(nullptr) does nothing.
void* RuntimeAllocate(size_t size);
// Resizes block (null: a new allocation); the new bytes are zero-filled. Null when memory
// is short, the block then unchanged.
void* RuntimeReallocate(void* block, size_t size);
void RuntimeFree(void* block);

// For the runtime frame: creates the heaps (the first allocation does so too), and at
// shutdown destroys the runtime and memory heaps. The string heap ends with the process,
// since other threads may still be using their scratch areas while it exits.
void RuntimeHeapsCreate();
void RuntimeHeapsDestroy();
