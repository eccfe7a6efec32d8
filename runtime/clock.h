// The runtime's clock: elapsed milliseconds and sleeping.
#pragma once

#include <cstdint>

// Milliseconds since the first call (which returns 0); monotonic.
int64_t ElapsedMs();
// Suspends the calling thread. The first call raises the system timer resolution to 1 ms so
// that SleepMs(1) lasts about a millisecond; SleepMs(0) yields the rest of the time slice.
void SleepMs(uint32_t milliseconds);
