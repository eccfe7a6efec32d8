// The event queue's own behaviour: merging, removal, the order WaitEvent returns things in,
// and waking the main thread from others. Runs natively over the POSIX stand-in and under
// Wine over the real message pump.
#include "queue_test_support.h"

#include "ui/events.h"
#include "ui/ui_internal.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

constexpr uint32_t kNativeMessage = 0x0401; // WM_USER + 1

// A native message for the calling (main) thread that no window handles.
void PostNativeMessage() {
#ifdef _WIN32
    PostThreadMessageW(GetCurrentThreadId(), kNativeMessage, 0, 0);
#else
    PosixPostMessage(kNativeMessage, -1, 0);
#endif
}

struct Post {
    int32_t code;
    int64_t object, window, type;
};

struct MergeCase {
    const char* name;
    std::vector<Post> posted;
    std::vector<Post> expected;
};

} // namespace

TEST(EventQueue, PostWindowEventMergesOnlyIdenticalTailEvents) {
    const Post tick{EV_TIMER_TICK, 0, 0, 0};
    const Post moved{EV_MOVED, 0, 0, 0};
    const Post big{70000, 1, 0, 0};
    const std::vector<MergeCase> cases = {
        {"three ticks become one", {tick, tick, tick}, {tick}},
        {"a move in between keeps all three", {tick, moved, tick}, {tick, moved, tick}},
        {"codes of 65536 and up never merge", {big, big}, {big, big}},
        {"65535 still merges", {{65535, 0, 0, 0}, {65535, 0, 0, 0}}, {{65535, 0, 0, 0}}},
        {"another object", {tick, {EV_TIMER_TICK, 1, 0, 0}}, {tick, {EV_TIMER_TICK, 1, 0, 0}}},
        {"another window", {tick, {EV_TIMER_TICK, 0, 1, 0}}, {tick, {EV_TIMER_TICK, 0, 1, 0}}},
        {"another type", {tick, {EV_TIMER_TICK, 0, 0, 2}}, {tick, {EV_TIMER_TICK, 0, 0, 2}}},
    };
    for (const MergeCase& c : cases) {
        SCOPED_TRACE(c.name);
        DrainQueued();
        for (const Post& p : c.posted) PostWindowEvent(p.code, p.object, p.window, p.type);
        EXPECT_EQ(DrainQueued(), ToEvents(c.expected));
    }
}

TEST(EventQueue, QueueEventNeverMerges) {
    DrainQueued();
    EXPECT_EQ(QueueEvent(0x40000, 0, 5, 1), 0);
    EXPECT_EQ(QueueEvent(0x40000, 0, 5, 1), 0);
    PostWindowEvent(EV_TIMER_TICK, 0, 0, 0);
    PostWindowEvent(EV_TIMER_TICK, 0, 0, 0);
    EXPECT_EQ(DrainQueued(),
              (std::vector<QueuedEvent>{
                  {0x40000, 5, 0, 1}, {0x40000, 5, 0, 1}, {EV_TIMER_TICK, 0, 0, 0}}));
    DrainNative();
}

TEST(EventQueue, RemovalKeepsOrderAndTail) {
    const int64_t w = 7;
    struct RemovalCase {
        const char* name;
        std::vector<Post> queued;
        void (*remove)();
        std::vector<Post> left;
    };
    const Post resized{EV_RESIZED, 0, w, 0}, timer{EV_TIMER_TICK, 3, 0, 0},
        other{EV_RESIZED, 0, 8, 0}, moved{EV_MOVED, w, w, 0};
    const std::vector<RemovalCase> cases = {
        {"resizes of w around a timer",
         {resized, timer, resized},
         [] { RemoveMatchingEvents(EV_RESIZED, 0, 7, 0); },
         {timer}},
        {"-1 matches any window",
         {resized, other, timer},
         [] { RemoveMatchingEvents(EV_RESIZED, -1, -1, -1); },
         {timer}},
        {"nothing matches",
         {timer, other},
         [] { RemoveMatchingEvents(1, 2, 3, 4); },
         {timer, other}},
        {"every event of window w",
         {moved, timer, resized},
         [] { RemoveWindowEvents(7); },
         {timer}},
        {"everything", {moved, resized}, [] { RemoveWindowEvents(7); }, {}},
        {"the tail only", {timer, moved}, [] { RemoveWindowEvents(7); }, {timer}},
    };
    const Post appended{EV_ACTIVATED, 0, 9, 0};
    for (const RemovalCase& c : cases) {
        SCOPED_TRACE(c.name);
        DrainQueued();
        for (const Post& p : c.queued) PostWindowEvent(p.code, p.object, p.window, p.type);
        c.remove();
        // An event appended afterwards must follow what was left: the tail is right.
        PostWindowEvent(appended.code, appended.object, appended.window, appended.type);
        std::vector<Post> expected = c.left;
        expected.push_back(appended);
        EXPECT_EQ(DrainQueued(), ToEvents(expected));
    }
}

TEST(EventQueue, WaitEventReturnsANativeMessageWithoutTouchingTheLastEvent) {
    DrainQueued();
    DrainNative();
    PostWindowEvent(EV_MENU_COMMAND, 42, 3, 0);
    EXPECT_EQ(WaitEvent(0), EV_MENU_COMMAND);
    EXPECT_EQ(EventObject(), 42);
    EXPECT_EQ(EventType(), 0);
    PostNativeMessage();
    EXPECT_EQ(WaitEvent(1000), kNativeMessage);
    EXPECT_EQ(EventType(), -1);
    EXPECT_EQ(EventObject(), 42);
    EXPECT_EQ(EventWindow(), 3);
    // Nothing left: a poll and a short wait both return 0.
    EXPECT_EQ(WaitEvent(0), 0);
    EXPECT_EQ(WaitEvent(20), 0);
    EXPECT_EQ(EventType(), -1);
}

TEST(EventQueue, QueueEventFromAnotherThreadWakesABlockedWait) {
    DrainQueued();
    DrainNative();
    std::thread other([] {
        // Give the main thread time to block in its wait first.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        (void)QueueEvent(0x40000, 0, 11, 22);
    });
    WaitGuard guard(20);
    EXPECT_EQ(WaitEvent(), int64_t(EventWakeMessage()));
    EXPECT_EQ(WaitEvent(), 0x40000);
    EXPECT_FALSE(guard.TimedOut());
    EXPECT_EQ(EventObject(), 11);
    EXPECT_EQ(EventType(), 22);
    other.join();
}

TEST(EventQueue, EachThreadHasItsOwnQueue) {
    DrainQueued();
    std::vector<QueuedEvent> seen;
    std::thread other([&seen] {
        PostWindowEvent(EV_TIMER_TICK, 1, 0, 0);
        PostWindowEvent(EV_TIMER_TICK, 1, 0, 0);
        PostWindowEvent(EV_MOVED, 2, 0, 0);
        seen = DrainQueued();
    });
    other.join();
    EXPECT_EQ(seen, (std::vector<QueuedEvent>{{EV_TIMER_TICK, 1, 0, 0}, {EV_MOVED, 2, 0, 0}}));
    EXPECT_TRUE(DrainQueued().empty());
}

// Several threads queue numbered events while the main thread waits for them without a
// timeout: every event arrives once, in each thread's order.
TEST(EventQueue, QueueEventStormLosesAndDuplicatesNothing) {
    DrainQueued();
    DrainNative();
    constexpr int kThreads = 4;
#ifdef _WIN32
    constexpr int kEach = 1000; // stays below the thread's limit of posted wake-ups
#else
    constexpr int kEach = 5000;
#endif
    constexpr int32_t kCode = 0x50000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < kEach; ++i) (void)QueueEvent(kCode, t, i, 0);
        });
    std::vector<int> next(kThreads, 0);
    int received = 0, outOfOrder = 0;
    WaitGuard guard(60);
    while (received < kThreads * kEach && !guard.TimedOut()) {
        int64_t code = WaitEvent();
        if (code != kCode) continue; // a wake-up
        int t = int(EventWindow());
        ASSERT_TRUE(t >= 0 && t < kThreads);
        if (EventObject() != next[t]) ++outOfOrder;
        next[t] = int(EventObject()) + 1;
        ++received;
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_FALSE(guard.TimedOut()) << received << " events arrived";
    EXPECT_EQ(outOfOrder, 0);
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(next[t], kEach);
    EXPECT_TRUE(DrainQueued().empty());
    DrainNative();
}
