// The library with a real audio thread (the audio library's null device, which plays into
// nothing in real time): device start and stop, the idle watcher, shutdown, and two
// threads on one sound number as the program uses it.
#include "runtime/clock.h"
#include "runtime/tests/wait_until.h"
#include "runtime/threads.h"
#include "sound/clips.h"
#include "sound_test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

class SoundDevice : public testing::Test {
  protected:
    void SetUp() override { UseOutput(SoundOutput::NullBackend); }
    void TearDown() override {
        gSoundFailDeviceStart = false;
        gSoundFailVoiceStart = false;
        gSoundFailDeviceOpen = false;
        SoundFree(AnyNumber);
    }
};

TEST_F(SoundDevice, PlayStartsTheDeviceAndTheClipEndsInRealTime) {
    ASSERT_NE(SoundLoadMemory(0, WarningBeep, sizeof WarningBeep), 0);
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(SoundPlay(0, 0, 50), 1);
    EXPECT_TRUE(SoundDeviceRunning());
    // The program's own way of waiting for the end.
    while (SoundGetState(0) == SOUND_PLAYING) SleepMs(1);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                  std::chrono::steady_clock::now() - start)
                  .count();
    EXPECT_EQ(SoundGetState(0), SOUND_STOPPED);
    EXPECT_GE(ms, 100); // 129 ms of sound
    EXPECT_LT(ms, 3000);
}

TEST_F(SoundDevice, APlayThatCannotStartTheDeviceFailsAndHoldsNoVoice) {
    StopLibrary();
    UseOutput(SoundOutput::NullBackend);
    ASSERT_NE(SoundLoadMemory(0, OnChime, sizeof OnChime), 0);
    ASSERT_FALSE(SoundDeviceRunning()) << "stopped right after the start";
    gSoundFailDeviceStart = true;
    EXPECT_EQ(SoundPlay(0, 0, 100), 0);
    EXPECT_EQ(SoundVoicesInUse(), 0);
    EXPECT_EQ(SoundGetState(0), SOUND_STOPPED) << "a waiting caller does not hang";
    gSoundFailDeviceStart = false;
    EXPECT_EQ(SoundPlay(0, 0, 100), 1);
    EXPECT_TRUE(SoundDeviceRunning());
    EXPECT_EQ(SoundGetState(0), SOUND_PLAYING);
}

TEST_F(SoundDevice, APlayWhoseVoiceCannotStartFailsAndGivesTheVoiceBack) {
    ASSERT_NE(SoundLoadMemory(0, OnChime, sizeof OnChime), 0);
    gSoundFailVoiceStart = true;
    EXPECT_EQ(SoundPlay(0, 0, 100), 0);
    EXPECT_EQ(SoundPlay(0, SF_MULTIPLE, 100), 0);
    EXPECT_EQ(SoundVoicesInUse(), 0);
    EXPECT_EQ(SoundGetState(0), SOUND_STOPPED) << "a waiting caller does not hang";
    gSoundFailVoiceStart = false;
    EXPECT_EQ(SoundPlay(0, SF_MULTIPLE, 100), 2) << "the first voice is free again";
    EXPECT_EQ(SoundGetState(0), SOUND_PLAYING);
}

// After sleep the program has the device renewed: what plays goes on to its end (a caller
// waiting for it must not wait for ever), and the next play opens a device and is heard.
TEST_F(SoundDevice, ARenewedDeviceLetsPlayingSoundsEndAndPlaysAgain) {
    ASSERT_NE(SoundLoadMemory(0, OnChime, sizeof OnChime), 0);
    ASSERT_EQ(SoundPlay(0, 0, 100), 1);
    const uint32_t opens = gSoundDeviceOpens;
    SoundDeviceRenew();
    EXPECT_TRUE(
        WaitUntil([] { return SoundGetState(0) == SOUND_STOPPED; }, std::chrono::seconds(3)));

    SoundDeviceRenew(); // idle: nothing plays
    ASSERT_EQ(SoundPlay(0, 0, 100), 1);
    EXPECT_TRUE(SoundDeviceRunning());
    EXPECT_GT(gSoundDeviceOpens, opens);
    EXPECT_TRUE(
        WaitUntil([] { return SoundGetState(0) == SOUND_STOPPED; }, std::chrono::seconds(3)));
}

// The output goes away under the program (unplugged, its service restarted, the machine
// slept): the next play must sound on a device opened afresh, and no play is lost to it.
TEST_F(SoundDevice, ALostDeviceIsOpenedAfreshByTheNextPlay) {
    struct Case {
        const char* how;
        void (*lose)();
    } cases[] = {
        {"stopped with the audio library's notice", [] { SoundTestStopDevice(true); }},
        {"stopped without a notice", [] { SoundTestStopDevice(false); }},
        {"renewed after a resume", [] { SoundDeviceRenew(); }},
        {"renewed from another thread", [] { std::thread([] { SoundDeviceRenew(); }).join(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        // A looping voice stands for a warning that is sounding when the output goes.
        ASSERT_NE(SoundLoadMemory(0, WarningBeep, sizeof WarningBeep), 0);
        ASSERT_EQ(SoundPlay(0, SF_LOOP, 10), 1);
        ASSERT_TRUE(SoundDeviceRunning());
        uint32_t opens = gSoundDeviceOpens;
        c.lose();
        if (!SoundDeviceRunning()) {
            EXPECT_EQ(SoundGetState(0), SOUND_PAUSED) << "a caller waiting for its end goes on";
        }
        ASSERT_NE(SoundLoadMemory(0, WarningBeep, sizeof WarningBeep), 0);
        EXPECT_EQ(SoundPlay(0, 0, 10), 1) << "the first play after the loss sounds";
        EXPECT_TRUE(SoundDeviceRunning());
        EXPECT_EQ(gSoundDeviceOpens, opens + 1) << "on a device opened afresh";
        EXPECT_TRUE(
            WaitUntil([] { return SoundGetState(0) == SOUND_STOPPED; }, std::chrono::seconds(3)))
            << "and the clip plays to its end";
        ASSERT_EQ(SoundPlay(0, 0, 10), 1);
        EXPECT_EQ(gSoundDeviceOpens, opens + 1) << "once";
        SoundFree(0);
    }
}

// No output to open, or one that will not start: each play tries once and gives up at once,
// nothing loops or waits, and sound comes back with the output.
TEST_F(SoundDevice, WithoutAWorkingOutputPlaysFailOnceEachAndSoundReturnsWithIt) {
    struct Case {
        const char* how;
        std::atomic<bool>& fault;
        uint32_t attemptsPerPlay;
    } cases[] = {
        // The open fails: one attempt per play.
        {"no output can be opened", gSoundFailDeviceOpen, 1},
        // The start fails: the device is opened afresh and started once more.
        {"the output will not start", gSoundFailDeviceStart, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        ASSERT_NE(SoundLoadMemory(0, WarningBeep, sizeof WarningBeep), 0);
        ASSERT_EQ(SoundPlay(0, 0, 10), 1);
        SoundTestStopDevice(false); // and the output is gone
        c.fault = true;
        uint32_t attempts = gSoundDeviceOpenAttempts;
        auto from = std::chrono::steady_clock::now();
        for (int play = 0; play < 20; ++play) {
            EXPECT_EQ(SoundPlay(0, 0, 10), 0);
            EXPECT_EQ(SoundVoicesInUse(), 0);
            EXPECT_EQ(SoundGetState(0), SOUND_STOPPED) << "a waiting caller does not hang";
        }
        EXPECT_EQ(gSoundDeviceOpenAttempts, attempts + 20 * c.attemptsPerPlay);
        EXPECT_LT(std::chrono::steady_clock::now() - from, std::chrono::seconds(5));
        SleepMs(50);
        EXPECT_EQ(gSoundDeviceOpenAttempts, attempts + 20 * c.attemptsPerPlay)
            << "nothing retries between plays";
        c.fault = false;
        EXPECT_EQ(SoundPlay(0, 0, 10), 1);
        EXPECT_TRUE(SoundDeviceRunning());
        EXPECT_TRUE(
            WaitUntil([] { return SoundGetState(0) == SOUND_STOPPED; }, std::chrono::seconds(3)));
    }
}

// The program's watcher plays while the resume handler renews and the output drops out.
TEST_F(SoundDevice, PlaysGoOnWhileTheDeviceIsRenewedAndLostFromOtherThreads) {
    std::atomic<bool> stop{false};
    std::atomic<int> plays{0}, failed{0};
    std::thread warner([&] {
        while (!stop) {
            if (SoundLoadMemory(0, WarningBeep, sizeof WarningBeep))
                (SoundPlay(0, 0, 10) ? plays : failed)++;
            SleepMs(3);
        }
    });
    std::thread breaker([&] {
        for (int i = 0; !stop; ++i) {
            if (i % 2)
                SoundDeviceRenew();
            else
                SoundTestStopDevice(i % 4 == 0);
            SleepMs(20);
        }
    });
    SleepMs(1500);
    stop = true;
    warner.join();
    breaker.join();
    EXPECT_GT(plays.load(), 50);
    EXPECT_EQ(failed.load(), 0) << "every play found a device";
    ASSERT_NE(SoundLoadMemory(0, WarningBeep, sizeof WarningBeep), 0);
    ASSERT_EQ(SoundPlay(0, 0, 10), 1);
    EXPECT_TRUE(
        WaitUntil([] { return SoundGetState(0) == SOUND_STOPPED; }, std::chrono::seconds(3)));
}

TEST(SoundIdle, TheWatcherStopsTheDeviceAfterTheIdlePeriod) {
    gSoundIdleCheckMs = 20;
    gSoundIdleLimitMs = 150;
    StopLibrary(); // a fresh start: the device stopped, no idle time counted yet
    UseOutput(SoundOutput::NullBackend);
    EXPECT_TRUE(SoundIdleWatcherRunning());
    ASSERT_NE(SoundLoadMemory(0, WarningBeep, sizeof WarningBeep), 0);

    // A looping voice keeps the device running past the idle period.
    ASSERT_EQ(SoundPlay(0, SF_LOOP, 10), 1);
    SleepMs(400);
    EXPECT_TRUE(SoundDeviceRunning());
    SoundFree(0);

    auto idleFrom = std::chrono::steady_clock::now();
    EXPECT_TRUE(SoundDeviceRunning()) << "not at once";
    ASSERT_TRUE(WaitUntil([] { return !SoundDeviceRunning(); }, std::chrono::seconds(5)));
    EXPECT_GE(std::chrono::steady_clock::now() - idleFrom, std::chrono::milliseconds(140));
    EXPECT_EQ(gSoundDeviceOpens, 2u) << "the stopped device is replaced by one never started";

    // The next play starts it again, and the clip plays to its end.
    ASSERT_NE(SoundLoadMemory(0, WarningBeep, sizeof WarningBeep), 0);
    ASSERT_EQ(SoundPlay(0, 0, 10), 1);
    EXPECT_TRUE(SoundDeviceRunning());
    EXPECT_TRUE(
        WaitUntil([] { return SoundGetState(0) == SOUND_STOPPED; }, std::chrono::seconds(3)));

    // A device that cannot be opened again (the sound server went away while idle): plays
    // fail at once, nobody waits for ever, and the first play after it is back plays.
    SoundFree(0);
    gSoundFailDeviceOpen = true;
    ASSERT_TRUE(WaitUntil([] { return !SoundDeviceRunning(); }, std::chrono::seconds(5)));
    ASSERT_NE(SoundLoadMemory(0, WarningBeep, sizeof WarningBeep), 0);
    EXPECT_EQ(SoundPlay(0, 0, 10), 0);
    EXPECT_EQ(SoundVoicesInUse(), 0);
    EXPECT_EQ(SoundGetState(0), SOUND_STOPPED);
    gSoundFailDeviceOpen = false;
    ASSERT_EQ(SoundPlay(0, 0, 10), 1);
    EXPECT_TRUE(SoundDeviceRunning());
    EXPECT_EQ(gSoundDeviceOpens, 3u);
    EXPECT_TRUE(
        WaitUntil([] { return SoundGetState(0) == SOUND_STOPPED; }, std::chrono::seconds(3)));

    gSoundIdleCheckMs = 2000;
    gSoundIdleLimitMs = 10000;
    StopLibrary();
}

// Sounds much shorter than the watcher's period, one after another: most checks find no
// voice in use, yet the device is not idle and must not be closed between them.
TEST(SoundIdle, ShortSoundsBetweenTheChecksKeepTheDeviceOpen) {
    gSoundIdleCheckMs = 100;
    gSoundIdleLimitMs = 250;
    StopLibrary();
    UseOutput(SoundOutput::NullBackend);
    std::vector<int16_t> click(2 * 480, 1000); // 10 ms at 48 kHz, stereo
    auto image = Wave16(click, 2, 48000);
    ASSERT_NE(SoundLoadMemory(0, image.data(), uint32_t(image.size())), 0);
    ASSERT_EQ(SoundPlay(0, 0, 10), 1);
    uint32_t opens = gSoundDeviceOpens;
    for (int i = 0; i < 25; ++i) {
        SleepMs(60);
        ASSERT_EQ(SoundPlay(0, 0, 10), 1);
    }
    EXPECT_EQ(gSoundDeviceOpens, opens) << "the device was closed while sounds came";
    ASSERT_TRUE(WaitUntil([] { return !SoundDeviceRunning(); }, std::chrono::seconds(5)))
        << "and still is once they stop";
    gSoundIdleCheckMs = 2000;
    gSoundIdleLimitMs = 10000;
    StopLibrary();
}

TEST(SoundLifecycle, NothingHappensBeforeTheStartOrAfterTheShutdown) {
    StopLibrary();
    auto inert = [](const char* when) {
        SCOPED_TRACE(when);
        EXPECT_EQ(SoundLoadMemory(0, OnChime, sizeof OnChime), 0);
        EXPECT_EQ(SoundPlay(0, 0, 100), 0);
        EXPECT_EQ(SoundGetState(0), SOUND_MISSING);
        EXPECT_EQ(SoundGetFrequency(0), 0);
        SoundSetFrequency(0, 22050);
        SoundDeviceRenew();
        SoundFree(0);
        SoundFree(AnyNumber);
        SoundSystemShutdown();
    };
    inert("before the start");

    ObjectTable* table = SoundSystemInitWith(SoundOutput::NullBackend, 0, 0);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(SoundSystemInitWith(SoundOutput::NoDevice, 0, 0), table) << "only once";
    ASSERT_NE(SoundLoadMemory(0, OnChime, sizeof OnChime), 0);
    ASSERT_NE(SoundLoadMemory(1, WarningBeep, sizeof WarningBeep), 0);
    ASSERT_EQ(SoundPlay(0, SF_LOOP, 10), 1);
    ASSERT_EQ(SoundPlay(1, SF_MULTIPLE, 10), 3);
    EXPECT_TRUE(SoundIdleWatcherRunning());

    // Shutting down while voices play: the watcher is joined, the voices and the engine go.
    SoundSystemShutdown();
    EXPECT_FALSE(SoundIdleWatcherRunning());
    EXPECT_FALSE(SoundDeviceRunning());
    EXPECT_EQ(SoundVoicesInUse(), 0);
    inert("after the shutdown");
    EXPECT_EQ(SoundSystemInitWith(SoundOutput::NullBackend, 0, 0), table);
    StopLibrary();
}

// Both of the program's threads play on sound 0 without a lock of their own: one loads and
// plays without waiting, the other loads, plays, waits for the end and frees.
TEST(SoundThreads, TwoThreadsOnOneSoundNumber) {
    UseOutput(SoundOutput::NullBackend);
    std::atomic<bool> stop{false};
    std::atomic<int64_t> plays{0};
    auto warner = [&] {
        while (!stop) {
            if (SoundLoadMemory(0, WarningBeep, sizeof WarningBeep)) {
                SoundSetFrequency(0, int32_t(SoundGetFrequency(0)));
                if (SoundPlay(0, 0, 50)) ++plays;
            }
            SleepMs(1);
        }
    };
    auto chimer = [&] {
        const uint8_t* clips[] = {OnChime, OffChime};
        for (int i = 0; !stop; ++i) {
            if (SoundLoadMemory(0, clips[i % 2], sizeof OnChime)) {
                SoundSetFrequency(0, int32_t(SoundGetFrequency(0) * (i % 3 ? 2.0 : 1.5)));
                if (SoundPlay(0, i % 5 ? 0 : SF_MULTIPLE, 60)) ++plays;
                for (int wait = 0; wait < 20 && SoundGetState(0) == SOUND_PLAYING; ++wait)
                    SleepMs(1);
                SoundFree(0);
            }
        }
    };
    auto tuner = [&] {
        for (int i = 0; !stop; ++i) {
            SoundSetFrequency(AnyNumber, 30000 + i % 40000);
            (void)SoundPlay(0, SF_MULTIPLE, 5);
            (void)SoundGetState(0);
            SleepMs(2);
        }
    };
    std::thread a(warner), b(chimer), c(tuner);
    SleepMs(3000);
    stop = true;
    a.join();
    b.join();
    c.join();
    EXPECT_GT(plays.load(), 100);
    SoundFree(AnyNumber);
    EXPECT_EQ(SoundVoicesInUse(), 0);
    EXPECT_EQ(SoundGetState(0), SOUND_MISSING);
}

} // namespace
