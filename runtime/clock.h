// The runtime's clock: elapsed milliseconds, the system tick count and sleeping. Every
// operation here may be called from any thread.
#pragma once

#include <cstdint>

// Milliseconds since the zero point, fixed by the first call (which returns 0); monotonic
// while the system's high-resolution counter is usable (at least 1000 counts a second).
// Without one it returns the system tick count instead (SystemTickCount, widened without
// sign): still milliseconds, but counted from the system's start and wrapping after about
// 49.7 days, so only differences of readings taken the same way mean anything. Callers
// compare differences only.
int64_t ElapsedMs();
// The operating system's millisecond tick count: milliseconds since the system started, as
// 32 bits that wrap around; compare readings by unsigned difference.
uint32_t SystemTickCount();
// Suspends the calling thread. The first call raises the system timer resolution to 1 ms so
// that SleepMs(1) lasts about a millisecond; SleepMs(0) yields the rest of the time slice.
void SleepMs(uint32_t milliseconds);
