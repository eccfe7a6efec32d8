// The sound library on an engine without a device: the tests pull its output themselves,
// so what comes out is exact and independent of the machine's timing.
#include "sound/clips.h"
#include "sound_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

class Sound : public testing::Test {
  protected:
    void SetUp() override {
        UseOutput(SoundOutput::NoDevice);
        Pull(64); // flush whatever an earlier test left in the mix
    }
    static void Load(int64_t number, const uint8_t* clip, uint32_t size) {
        ASSERT_NE(SoundLoadMemory(number, clip, size), 0);
    }
};

// Output frames at 48 kHz while a clip plays at the given frequency.
TEST_F(Sound, ClipsLastTheirFramesAtTheirFrequency) {
    struct Case {
        const char* label;
        SoundClipId clip;
        int32_t frequency; // 0: leave as loaded
        double speed;      // the expected playback speed
    } cases[] = {
        {"WarningBeep", ClipWarningBeep, 0, 1.0},
        {"ReleaseChime", ClipReleaseChime, 0, 1.0},
        {"OnChime", ClipOnChime, 0, 1.0},
        {"OffChime", ClipOffChime, 0, 1.0},
        {"OnChime x2", ClipOnChime, 88200, 2.0},
        {"OffChime x1.5", ClipOffChime, 66150, 1.5},
        {"OnChime at -5 (0)", ClipOnChime, -5, 1.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const SoundClip& clip = SoundClips[c.clip];
        Load(0, clip.image, clip.size);
        EXPECT_EQ(SoundGetFrequency(0), 44100);
        if (c.frequency) {
            SoundSetFrequency(0, c.frequency);
            EXPECT_EQ(SoundGetFrequency(0), std::max(c.frequency, 0));
        }
        ASSERT_EQ(SoundPlay(0, 0, 100), 1);
        EXPECT_EQ(SoundGetState(0), SOUND_PLAYING);
        double expected = clip.frames / c.speed * kEngineRate / 44100;
        EXPECT_NEAR(double(PullUntilStopped(0)), expected, 40);
        EXPECT_EQ(SoundGetState(0), SOUND_STOPPED);
    }
}

TEST_F(Sound, FrequencyScalesThePitch) {
    struct Case {
        int32_t frequency;
        double hz; // the on chime's opening tone
    } cases[] = {{44100, 300}, {88200, 600}, {66150, 450}, {0, 300}};
    for (const Case& c : cases) {
        Load(0, OnChime, sizeof OnChime);
        SoundSetFrequency(0, c.frequency);
        ASSERT_EQ(SoundPlay(0, 0, -1), 1);
        std::vector<float> out;
        PullUntilStopped(0, 10 * kEngineRate, &out);
        auto left = Channel(out, 0);
        // 10 to 60 ms of the clip's own time.
        double scale = c.frequency ? c.frequency / 44100.0 : 1.0;
        size_t from = size_t(0.010 * kEngineRate / scale), to = size_t(0.060 * kEngineRate / scale);
        ASSERT_GT(left.size(), to);
        EXPECT_NEAR(DominantFrequency(left.data() + from, to - from, kEngineRate, 150, 1200, 2),
                    c.hz, 8)
            << c.frequency;
    }
}

TEST_F(Sound, SettingTheFrequencyRetunesAPlayingVoice) {
    Load(0, OnChime, sizeof OnChime);
    ASSERT_EQ(SoundPlay(0, 0, 100), 1);
    Pull(2000);
    SoundSetFrequency(0, 88200);
    double rest = (7644 * kEngineRate / 44100.0 - 2000) / 2;
    EXPECT_NEAR(double(PullUntilStopped(0)), rest, 40);
}

TEST_F(Sound, VolumeIsALinearGain) {
    Load(0, OnChime, sizeof OnChime);
    auto render = [](double volume) {
        EXPECT_EQ(SoundPlay(0, 0, volume), 1);
        std::vector<float> out;
        PullUntilStopped(0, 10 * kEngineRate, &out);
        return out;
    };
    auto full = render(100), byDefault = render(-1), half = render(50), quiet = render(10);
    ASSERT_EQ(full.size(), half.size());
    ASSERT_EQ(full.size(), byDefault.size());
    double peak = 0;
    for (size_t i = 0; i < full.size(); ++i) {
        ASSERT_NEAR(byDefault[i], full[i], 1e-6) << i;
        ASSERT_NEAR(half[i], full[i] * 0.5f, 1e-5) << i;
        ASSERT_NEAR(quiet[i], full[i] * 0.1f, 1e-5) << i;
        peak = std::max(peak, double(std::fabs(full[i])));
    }
    EXPECT_NEAR(peak, 27118 / 32768.0, 0.05) << "volume 100 is the clip's own level";
}

TEST_F(Sound, VoicesWithAndWithoutMultiple) {
    Load(0, OnChime, sizeof OnChime);
    EXPECT_EQ(SoundPlay(0, 0, 100), 1);
    EXPECT_EQ(SoundPlay(0, 0, 100), 1);
    EXPECT_EQ(SoundVoicesInUse(), 1) << "the second play cut off the first";

    auto single = Pull(1000);
    SoundFree(0);
    Load(0, OnChime, sizeof OnChime);
    EXPECT_EQ(SoundPlay(0, SF_MULTIPLE, 100), 2);
    EXPECT_EQ(SoundPlay(0, SF_MULTIPLE, 100), 3);
    EXPECT_EQ(SoundVoicesInUse(), 2);
    auto both = Pull(1000);
    for (size_t i = 0; i < both.size(); ++i) ASSERT_NEAR(both[i], 2 * single[i], 1e-5) << i;

    // A play without the flag cuts off every voice of the sound.
    EXPECT_EQ(SoundPlay(0, 0, 100), 1);
    EXPECT_EQ(SoundVoicesInUse(), 1);
    SoundFree(0);
    EXPECT_EQ(SoundVoicesInUse(), 0);
}

TEST_F(Sound, SixtyFourVoicesAndNoMore) {
    Load(0, WarningBeep, sizeof WarningBeep);
    Load(1, ReleaseChime, sizeof ReleaseChime);
    for (int64_t i = 0; i < 63; ++i) ASSERT_EQ(SoundPlay(0, SF_MULTIPLE, 1), i + 2);
    EXPECT_EQ(SoundPlay(1, SF_MULTIPLE, 1), 65);
    EXPECT_EQ(SoundPlay(0, SF_MULTIPLE, 1), 0) << "65th";
    EXPECT_EQ(SoundPlay(1, 0, 1), 1) << "without the flag it frees its own voice first";
    EXPECT_EQ(SoundPlay(1, SF_MULTIPLE, 1), 0);
    // Voices that ended by themselves are taken again, lowest first.
    PullUntilStopped(0);
    PullUntilStopped(1);
    EXPECT_EQ(SoundVoicesInUse(), 0);
    EXPECT_EQ(SoundPlay(1, SF_MULTIPLE, 100), 2);
    EXPECT_EQ(SoundGetState(1), SOUND_PLAYING);
    EXPECT_NEAR(double(PullUntilStopped(1)), 5617 * kEngineRate / 44100.0, 40);
}

TEST_F(Sound, StateFollowsTheVoices) {
    EXPECT_EQ(SoundGetState(7), SOUND_MISSING) << "never loaded";
    EXPECT_EQ(SoundGetState(AnyNumber), SOUND_MISSING);
    Load(7, WarningBeep, sizeof WarningBeep);
    EXPECT_EQ(SoundGetState(7), SOUND_STOPPED);
    ASSERT_EQ(SoundPlay(7, 0, 100), 1);
    EXPECT_EQ(SoundGetState(7), SOUND_PLAYING);
    PullUntilStopped(7);
    EXPECT_EQ(SoundGetState(7), SOUND_STOPPED) << "natural end";

    ASSERT_EQ(SoundPlay(7, SF_LOOP, 100), 1);
    EXPECT_GE(PullUntilStopped(7, 5 * 6200), 5 * 6200u) << "a looping voice never ends";
    auto still = Pull(1000);
    EXPECT_GT(Rms(still.data(), still.size()), 0.01);

    SoundFree(7);
    EXPECT_EQ(SoundGetState(7), SOUND_MISSING);
    EXPECT_EQ(SoundGetFrequency(7), 0);
    EXPECT_EQ(SoundPlay(7, 0, 100), 0);
    auto after = Pull(1000);
    EXPECT_EQ(Rms(after.data(), after.size()), 0) << "nothing plays after the free";
}

TEST_F(Sound, LoadingIntoAPlayingNumberCutsItOff) {
    Load(0, OnChime, sizeof OnChime);
    ASSERT_EQ(SoundPlay(0, 0, 100), 1);
    Pull(1000);
    Load(0, WarningBeep, sizeof WarningBeep);
    EXPECT_EQ(SoundGetState(0), SOUND_STOPPED);
    EXPECT_EQ(SoundVoicesInUse(), 0);
    auto after = Pull(500);
    EXPECT_EQ(Rms(after.data(), after.size()), 0);
    // A failed load leaves the sound as it was.
    const uint8_t junk[64] = {'R', 'I', 'F', 'F'};
    EXPECT_EQ(SoundLoadMemory(0, junk, sizeof junk), 0);
    EXPECT_EQ(SoundLoadMemory(0, nullptr, 100), 0);
    EXPECT_EQ(SoundGetFrequency(0), 44100);
    EXPECT_EQ(SoundPlay(0, 0, 100), 1);
    EXPECT_NEAR(double(PullUntilStopped(0)), 5693 * kEngineRate / 44100.0, 40);
}

TEST_F(Sound, AnyNumberMakesNewSoundsAndReachesThemAll) {
    int64_t a = SoundLoadMemory(AnyNumber, OnChime, sizeof OnChime);
    int64_t b = SoundLoadMemory(AnyNumber, ReleaseChime, sizeof ReleaseChime);
    ASSERT_NE(a, 0);
    ASSERT_NE(b, 0);
    EXPECT_NE(a, b);
    Load(3, WarningBeep, sizeof WarningBeep);
    EXPECT_EQ(SoundGetFrequency(a), 44100);
    ASSERT_EQ(SoundPlay(a, 0, 100), 1);
    Pull(2000);
    SoundSetFrequency(AnyNumber, 88200);
    for (int64_t n : {a, b, int64_t{3}}) EXPECT_EQ(SoundGetFrequency(n), 88200);
    EXPECT_NEAR(double(PullUntilStopped(a)), (7644 * kEngineRate / 44100.0 - 2000) / 2, 40)
        << "the playing voice was retuned";
    SoundFree(AnyNumber);
    for (int64_t n : {a, b, int64_t{3}}) EXPECT_EQ(SoundGetState(n), SOUND_MISSING);
}

// Every accepted sample layout decodes to the same level: a constant half-scale signal.
TEST_F(Sound, EverySampleLayoutPlays) {
    auto image = [](uint16_t tag, uint16_t channels, uint16_t bits, std::vector<uint8_t> sample) {
        std::vector<uint8_t> body;
        for (int i = 0; i < 4800 * channels; ++i)
            body.insert(body.end(), sample.begin(), sample.end());
        return WaveBuilder()
            .Riff()
            .Format(tag, channels, kEngineRate, bits)
            .Chunk("data", body)
            .Done();
    };
    struct Case {
        const char* what;
        std::vector<uint8_t> image;
    } cases[] = {
        {"u8", image(1, 2, 8, {192})},
        {"s16", image(1, 2, 16, {0x00, 0x40})},
        {"s24", image(1, 2, 24, {0x00, 0x00, 0x40})},
        {"s32", image(1, 2, 32, {0x00, 0x00, 0x00, 0x40})},
        {"f32", image(3, 2, 32, {0x00, 0x00, 0x00, 0x3F})},
        {"mono s16", image(1, 1, 16, {0x00, 0x40})},
    };
    for (const Case& c : cases) {
        ASSERT_NE(SoundLoadMemory(0, c.image.data(), uint32_t(c.image.size())), 0) << c.what;
        ASSERT_EQ(SoundPlay(0, 0, 100), 1);
        auto out = Pull(3000);
        for (int channel = 0; channel < 2; ++channel) {
            auto one = Channel(out, channel);
            EXPECT_NEAR(one[2000], 0.5, 0.01) << c.what << " channel " << channel;
        }
        EXPECT_NEAR(double(3000 + PullUntilStopped(0)), 4800, 40) << c.what;
    }
}

} // namespace
