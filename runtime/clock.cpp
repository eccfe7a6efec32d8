#include "clock.h"

#include "platform.h"
#include "timing_internal.h"

#include <atomic>

namespace {

const TimeSource kSystemTime = {platform::CounterFrequency, platform::CounterRead,
                                platform::TickCount};
const TimeSource* gTime = &kSystemTime;
std::atomic<int64_t> gCountsPerMs{0};
std::atomic<int64_t> gBaseCount{0};
std::atomic<bool> gResolutionRaised{false};

} // namespace

int64_t CountsPerMillisecond(int64_t countsPerSecond) {
    return countsPerSecond / 1000;
}

void TimingUseSource(const TimeSource* source) {
    gTime = source ? source : &kSystemTime;
    gCountsPerMs.store(0, std::memory_order_relaxed);
    gBaseCount.store(0, std::memory_order_relaxed);
}

int64_t ElapsedMs() {
    int64_t perMs = gCountsPerMs.load(std::memory_order_acquire);
    if (perMs == 0) {
        int64_t frequency = 0;
        if (gTime->frequency(&frequency) && CountsPerMillisecond(frequency) > 0) {
            // Base first, then the rate that marks the zero point as set.
            gBaseCount.store(gTime->counter(), std::memory_order_relaxed);
            perMs = CountsPerMillisecond(frequency);
            gCountsPerMs.store(perMs, std::memory_order_release);
        } else {
            // No usable counter: the system tick count, tried again next call.
            return int64_t{gTime->ticks()};
        }
    }
    int64_t base = gBaseCount.load(std::memory_order_relaxed);
    return (gTime->counter() - base) / perMs;
}

uint32_t SystemTickCount() {
    return platform::TickCount();
}

void SleepMs(uint32_t milliseconds) {
    if (!gResolutionRaised.exchange(true, std::memory_order_relaxed))
        platform::RaiseTimerResolution();
    platform::Sleep(milliseconds);
}
