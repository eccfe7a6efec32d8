#include "runtime/clock.h"
#include "runtime/threads.h"
#include "runtime/timing_internal.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

std::atomic<int> gRan{0};

void CountRun(intptr_t add) {
    gRan += static_cast<int>(add);
}

TEST(Threads, NumbersCountUpAndEndedThreadsAreSwept) {
    gRan = 0;
    int64_t first = ThreadStart(CountRun, 1);
    ASSERT_GT(first, 0);
    ASSERT_TRUE(WaitUntil([] { return gRan.load() == 1; }));
    // The first thread has ended by now; the next start sweeps it and numbers on.
    int64_t second = ThreadStart(CountRun, 10);
    EXPECT_EQ(second, first + 1);
    ASSERT_TRUE(WaitUntil([] { return gRan.load() == 11; }));
    EXPECT_EQ(ThreadStart(nullptr, 0), 0) << "nothing to run";
    EXPECT_EQ(ThreadStart(CountRun, 0), second + 1) << "a failed start uses up no number";
}

TEST(ThreadLocal, OffsetsAreRoundedAndInitRunsOnRegistration) {
    // main() registered 12 bytes (A), then 5 (rounded to 8, no node), then B.
    EXPECT_EQ(gBlockA % 8, 0);
    EXPECT_EQ(gBlockB - gBlockA, 16 + 8) << "refused registrations take no room";
    EXPECT_EQ(*static_cast<int64_t*>(ThreadLocalGet(gBlockA)), 0xA);
}

TEST(ThreadLocal, ARegistrationThatCannotBeRecordedIsRefused) {
    // Its init and cleanup would otherwise be lost without a word.
    EXPECT_EQ(gRefusedBlocks[0], -1);
    EXPECT_EQ(gRefusedBlocks[1], -1);
    EXPECT_EQ(gStartLog, "iA iB ") << "the refused block's init never ran";
}

TEST(ThreadLocal, EachThreadGetsItsOwnAreaCleanedNewestFirstAfterItEnds) {
    TakeBlockLog();
    std::atomic<int64_t*> seen{nullptr};
    std::thread([&] {
        auto* a = static_cast<int64_t*>(ThreadLocalGet(gBlockA));
        EXPECT_EQ(*a, 0xA) << "init ran for the new area";
        *a = 42;
        seen = a;
    }).join();
    ASSERT_TRUE(WaitUntil([] { return TakeBlockLogPeek().size() >= 12; }));
    EXPECT_EQ(TakeBlockLog(), "iB iA cB cA ");
    EXPECT_NE(seen.load(), static_cast<int64_t*>(ThreadLocalGet(gBlockA)));
    EXPECT_EQ(*static_cast<int64_t*>(ThreadLocalGet(gBlockA)), 0xA) << "main's block untouched";

    // A thread that never touches per-thread state leaves nothing to clean. Its first exit
    // procedure runs last, after any clean-up the thread could have caused.
    static std::atomic<bool> ended{false};
    std::thread([] {
        ASSERT_NE(AtThreadExit([](void*) { ended = true; }, nullptr), nullptr);
    }).join();
    ASSERT_TRUE(WaitUntil([] { return ended.load(); }));
    EXPECT_EQ(TakeBlockLog(), "");
}

std::atomic<int> gExitOrder{0};
std::atomic<int> gFirst{0}, gSecond{0};

TEST(AtThreadExit, RunsAfterTheThreadEndsMostRecentFirst) {
    gExitOrder = 0;
    std::thread([] {
        ASSERT_NE(AtThreadExit([](void*) { gFirst = ++gExitOrder; }, nullptr), nullptr);
        ASSERT_NE(AtThreadExit([](void*) { gSecond = ++gExitOrder; }, nullptr), nullptr);
        EXPECT_EQ(gExitOrder.load(), 0) << "nothing runs while the thread lives";
    }).join();
    ASSERT_TRUE(WaitUntil([] { return gExitOrder.load() == 2; }));
    EXPECT_EQ(gSecond.load(), 1);
    EXPECT_EQ(gFirst.load(), 2);
}

// A scripted clock for the arithmetic of ElapsedMs.
int64_t gFrequency = 0;
bool gHasCounter = true;
int64_t gCounter = 0;
uint32_t gTicks = 0;
const TimeSource kScripted = {[](int64_t* f) {
                                  *f = gFrequency;
                                  return gHasCounter;
                              },
                              [] { return gCounter; }, [] { return gTicks; }};

TEST(ElapsedMs, CountsFromTheFirstCallAtTheCounterRate) {
    struct Case {
        int64_t frequency;
        int64_t advance;
        int64_t expected;
    } cases[] = {
        {10'000'000, 10'000 * 1234, 1234},
        {3'579'545, 3579 * 1000, 1000}, // 3579 counts per ms: about 0.015 % fast
        {1000, 5, 5},
    };
    for (const Case& c : cases) {
        gFrequency = c.frequency;
        gHasCounter = true;
        gCounter = 777'000'000;
        TimingUseSource(&kScripted);
        EXPECT_EQ(ElapsedMs(), 0) << c.frequency;
        gCounter += c.advance;
        EXPECT_EQ(ElapsedMs(), c.expected) << c.frequency;
    }
    EXPECT_EQ(CountsPerMillisecond(3'579'545), 3579);
    TimingUseSource(nullptr);
}

TEST(ElapsedMs, FallsBackToTheTickCountWithoutAUsableCounter) {
    for (bool hasCounter : {false, true}) {
        gHasCounter = hasCounter;
        gFrequency = 999; // below 1000 Hz counts as no counter
        gTicks = 0xFFFFFFF0u;
        TimingUseSource(&kScripted);
        EXPECT_EQ(ElapsedMs(), int64_t{0xFFFFFFF0}) << "widened without sign";
        // Tried again on the next call: once a counter appears it takes over from 0.
        gHasCounter = true;
        gFrequency = 1'000'000;
        gCounter = 5;
        EXPECT_EQ(ElapsedMs(), 0);
    }
    TimingUseSource(nullptr);
}

TEST(ElapsedMs, TracksRealSleepsLoosely) {
    int64_t start = ElapsedMs();
    SleepMs(300);
    int64_t slept = ElapsedMs() - start;
    EXPECT_GE(slept, 280);
    EXPECT_LT(slept, 3000);
    SleepMs(0); // yields and returns
    // A hundred 1 ms sleeps take well under the 1.5 s they would cost at the default
    // 15.6 ms timer tick.
    start = ElapsedMs();
    for (int i = 0; i < 100; ++i) SleepMs(1);
    EXPECT_LT(ElapsedMs() - start, 1000);
}

} // namespace
