// Internal: the clock behind ElapsedMs, replaceable by tests.
#pragma once

#include <cstdint>

struct TimeSource {
    bool (*frequency)(int64_t* countsPerSecond);
    int64_t (*counter)();
    uint32_t (*ticks)();
};

// Uses source for ElapsedMs (null: the system's clock) and resets the zero point.
void TimingUseSource(const TimeSource* source);
int64_t CountsPerMillisecond(int64_t countsPerSecond);
