// Prints what the runtime's hot paths cost: object lookups (numbered, dynamic with
// validation, and a wrong identifier), per-thread storage, the clock, and how long
// SleepMs(1) really sleeps (the caps-lock watcher polls with it).
#include "runtime/objects.h"
#include "runtime/runtime.h"
#include "runtime/threads.h"

#include "bench/timing.h"
#include "runtime/clock.h"

#include <chrono>
#include <cstdio>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

volatile intptr_t gSink;

} // namespace

int main() {
    RuntimeInit();
    int64_t block = ThreadLocalRegister(8, nullptr, nullptr);
    ObjectTable* table = ObjectTableCreate(128, 64, nullptr);
    for (int64_t n = 0; n < 64; ++n) *static_cast<int64_t*>(ObjectAllocate(table, n)) = 1;
    std::vector<int64_t> dynamic;
    for (int i = 0; i < 1000; ++i) {
        void* record = ObjectAllocate(table, AnyNumber);
        *static_cast<int64_t*>(record) = 1;
        dynamic.push_back(ObjectDynamicId(record));
    }
    const long calls = 2'000'000;
    std::printf("%-38s %12s\n", "operation", "ns/call");
    std::printf("%-38s %12.1f\n", "ObjectGet, numbered (64 live)",
                TimePerCall<std::nano>(calls, [&](long i) {
                    gSink = reinterpret_cast<intptr_t>(ObjectGet(table, i & 63));
                }));
    std::printf("%-38s %12.1f\n", "ObjectGet, dynamic (1000 live)",
                TimePerCall<std::nano>(calls, [&](long i) {
                    gSink = reinterpret_cast<intptr_t>(ObjectGet(table, dynamic[i % 1000]));
                }));
    std::printf("%-38s %12.1f\n", "ObjectGet, wrong identifier",
                TimePerCall<std::nano>(calls, [&](long i) {
                    gSink = reinterpret_cast<intptr_t>(ObjectGet(table, 0x10000000 + i * 16));
                }));
    std::printf("%-38s %12.1f\n", "ThreadLocalGet", TimePerCall<std::nano>(calls, [&](long) {
                    gSink = reinterpret_cast<intptr_t>(ThreadLocalGet(block));
                }));
    std::printf("%-38s %12.1f\n", "ElapsedMs",
                TimePerCall<std::nano>(calls, [&](long) { gSink = ElapsedMs(); }));

    const int sleeps = 500;
    SleepMs(1);
    int64_t start = ElapsedMs();
    auto wallStart = Clock::now();
    for (int i = 0; i < sleeps; ++i) SleepMs(1);
    double wallMs = std::chrono::duration<double, std::milli>(Clock::now() - wallStart).count();
    std::printf("%-38s %12.3f ms (ElapsedMs: %lld ms for %d)\n", "SleepMs(1), mean duration",
                wallMs / sleeps, static_cast<long long>(ElapsedMs() - start), sleeps);
    return 0;
}
