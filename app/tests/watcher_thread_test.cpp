#include "app/keyboard.h"
#include "app/keyboard_posix.h"
#include "app/play.h"
#include "app/preferences.h"
#include "app/watcher.h"
#include "app_test_support.h"
#include "runtime/clock.h"
#include "sound/sound.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

// The real loop on a thread of its own, over the stand-in keyboard and a stalled output.
class WatcherThread : public testing::Test {
  protected:
    void SetUp() override {
        UseStalledSoundOutput();
        PreferencesSetDefaults();
        AllowCapsWatcherAgain();
    }
    void Start() { thread_ = std::thread(CapsWatcherLoop); }
    void TearDown() override {
        EXPECT_TRUE(StopCapsWatcher());
        if (thread_.joinable()) thread_.join();
        SoundFree(0);
        PreferencesSetDefaults();
    }
    static bool WaitFor(bool (*condition)(), int64_t ms) {
        for (int64_t end = ElapsedMs() + ms; ElapsedMs() < end; SleepMs(1))
            if (condition()) return true;
        return condition();
    }

    std::thread thread_;
};

TEST_F(WatcherThread, ForceOffEndsCapsLockWithShiftWhereCapsLockCannot) {
    SimulatedKeyboard(false, true);
    gPreferences.forceOff = 1;
    Start();
    SleepMs(20);
    SimulatedKeyboard(true, true);
    EXPECT_TRUE(WaitFor([] { return !CapsLockIsOn(); }, 3000));
    SleepMs(100);
    EXPECT_EQ(SimulatedCapsPresses(), 2);
    EXPECT_EQ(SimulatedShiftPresses(), 1);
    EXPECT_FALSE(CapsLockIsOn());

    // A menu change reaches the running loop: warnings again, no presses.
    gPreferences.forceOff = 0;
    SimulatedKeyboard(true, false);
    SleepMs(100);
    EXPECT_EQ(SimulatedCapsPresses(), 0);
    EXPECT_TRUE(CapsLockIsOn());
}

TEST_F(WatcherThread, StopsPromptlyEvenInsideTheReleaseChime) {
    // Caps Lock off at the start: the release chime plays, and on a stalled output its wait
    // lasts until the bound.
    SimulatedKeyboard(false, false);
    Start();
    SleepMs(30);
    int64_t start = ElapsedMs();
    EXPECT_TRUE(StopCapsWatcher(3000));
    EXPECT_LT(ElapsedMs() - start, 128 + kClipWaitMarginMs + 1500);
    thread_.join();
    // Out of its passes: it presses nothing any more.
    gPreferences.forceOff = 1;
    SimulatedKeyboard(true, false);
    SleepMs(50);
    EXPECT_EQ(SimulatedCapsPresses(), 0);
}

} // namespace
