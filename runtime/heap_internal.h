// Internal: a test hook that makes the runtime heap's allocations fail, so that the paths
// taken when memory is short can be tested. Not for the program itself.
#pragma once

#include <cstdint>

// The next after allocations from the runtime heap (RuntimeAllocate, RuntimeReallocate)
// succeed, every later one fails; a negative count (the default) lets all succeed.
void HeapFailAllocationsAfter(int64_t after);
