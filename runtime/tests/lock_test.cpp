#include "runtime/clock.h"
#include "runtime/lock.h"
#include "runtime/threads.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

// Two threads add to a plain counter under the lock; any lost update shows in the total.
TEST(Lock, KeepsOutTheOtherThreadOfEitherKind) {
    for (LockKind kind : {LockKind::Plain, LockKind::Recursive}) {
        Lock lock(kind);
        int64_t counter = 0;
        auto add = [&] {
            for (int i = 0; i < 20000; ++i) {
                LockGuard guard(lock);
                counter = counter + 1;
            }
        };
        std::thread other(add);
        add();
        other.join();
        EXPECT_EQ(counter, 40000) << "kind " << int(kind);
    }
}

TEST(Lock, ARecursiveLockIsTakenAgainByItsHolderOnly) {
    Lock lock(LockKind::Recursive);
    lock.Acquire();
    lock.Acquire(); // would deadlock on a plain lock
    lock.Release();
    std::atomic<bool> taken{false};
    std::thread other([&] {
        LockGuard guard(lock);
        taken = true;
    });
    SleepMs(50);
    EXPECT_FALSE(taken.load()) << "still held once by this thread";
    lock.Release();
    other.join();
    EXPECT_TRUE(taken.load());
}

std::atomic<uint64_t> gHelperThread{0};

void RecordHelper(intptr_t argument) {
    gHelperThread = ThreadCurrentId() + uint64_t(argument);
}

TEST(HelperThread, RunsOnItsOwnThreadWithoutANumber) {
    gHelperThread = 0;
    ASSERT_TRUE(HelperThreadStart(RecordHelper, 0, 8192));
    ASSERT_TRUE(WaitUntil([] { return gHelperThread.load() != 0; }));
    EXPECT_NE(gHelperThread.load(), ThreadCurrentId());
    EXPECT_FALSE(HelperThreadStart(nullptr, 0, 8192));
    // ThreadStart's numbering goes on as if the helper had never been.
    int64_t first = ThreadStart([](intptr_t) {}, 0);
    ASSERT_TRUE(HelperThreadStart(RecordHelper, 0, 8192));
    EXPECT_EQ(ThreadStart([](intptr_t) {}, 0), first + 1);
}

} // namespace
