// Prints what the event queue costs: an event appended and taken on one thread, a merged
// repeat, a removal walk, and events queued from another thread to a waiting main thread.
#include "ui/events.h"
#include "ui/ui_internal.h"

#include "bench/timing.h"

#include <chrono>
#include <cstdio>
#include <thread>

namespace {

volatile int64_t gSink;

} // namespace

int main() {
    RuntimeUse(EventQueueLibrary());
    RuntimeInit();
    const long calls = 2'000'000;
    std::printf("%-44s %12s\n", "operation", "ns/call");
    std::printf("%-44s %12.1f\n", "PostWindowEvent + dequeue",
                TimePerCall<std::nano>(calls, [](long i) {
                    PostWindowEvent(EV_TIMER_TICK, i, 0, 0);
                    gSink = EventDequeue();
                }));
    PostWindowEvent(EV_TIMER_TICK, 0, 0, 0);
    std::printf(
        "%-44s %12.1f\n", "PostWindowEvent merged into the tail",
        TimePerCall<std::nano>(calls, [](long) { PostWindowEvent(EV_TIMER_TICK, 0, 0, 0); }));
    while (EventDequeue()) {}
    for (int i = 0; i < 100; ++i) PostWindowEvent(EV_MOVED, i, i % 4, 0);
    std::printf("%-44s %12.1f\n", "RemoveMatchingEvents, 100 queued, none match",
                TimePerCall<std::nano>(calls / 20,
                                       [](long) { RemoveMatchingEvents(EV_RESIZED, 0, 9, 0); }));
    while (EventDequeue()) {}

    // Another thread queues; the main thread waits without a timeout, as the application does.
    const int events = 200'000;
    auto start = std::chrono::steady_clock::now();
    std::thread producer([] {
        for (int i = 0; i < events; ++i) (void)QueueEvent(0x50000, 0, i, 0);
    });
    int received = 0, wakeups = 0;
    while (received < events) {
        if (WaitEvent() == 0x50000)
            ++received;
        else
            ++wakeups;
    }
    producer.join();
    double ns =
        std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
    std::printf("%-44s %12.1f (%d wake-ups taken)\n", "QueueEvent from a thread to WaitEvent",
                ns / events, wakeups);
    return 0;
}
