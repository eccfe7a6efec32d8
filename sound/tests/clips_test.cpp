// The built-in clips as the program carries them: their RIFF layout and the character of
// their audio.
#include "sound/clips.h"
#include "sound/wave.h"
#include "sound_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using Clip = SoundClip;
constexpr const SoundClip (&kClips)[4] = SoundClips;

uint32_t Read32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

std::string Chunks(const Clip& clip) {
    std::string list;
    for (uint32_t at = 12; at + 8 <= clip.size;) {
        uint32_t size = Read32(clip.image + at + 4);
        list += std::string(reinterpret_cast<const char*>(clip.image + at), 4) + "@" +
                std::to_string(at) + ":" + std::to_string(size) + " ";
        at += 8 + size;
        if (at == clip.size) list += "end";
    }
    return list;
}

double Db(double rms) {
    return 20 * std::log10(std::max(rms, 1e-9));
}

// RMS in dBFS and dominant frequency of the 10 ms window starting at ms.
double WindowDb(const std::vector<float>& s, double ms, double length = 10) {
    size_t at = size_t(ms * 44.1), count = std::min(size_t(length * 44.1), s.size() - at);
    return Db(Rms(s.data() + at, count));
}
double WindowHz(const std::vector<float>& s, double ms, double length, double lo, double hi,
                double step = 5) {
    size_t at = size_t(ms * 44.1), count = std::min(size_t(length * 44.1), s.size() - at);
    return DominantFrequency(s.data() + at, count, 44100, lo, hi, step);
}

int16_t Sample(const uint8_t* image, size_t frame, int channel) {
    int16_t v;
    std::memcpy(&v, image + 44 + frame * 4 + size_t(channel) * 2, 2);
    return v;
}

std::pair<int, int> Extremes(const Clip& clip) {
    int lo = 0, hi = 0;
    for (int32_t i = 0; i < clip.frames; ++i)
        for (int c = 0; c < 2; ++c) {
            lo = std::min<int>(lo, Sample(clip.image, size_t(i), c));
            hi = std::max<int>(hi, Sample(clip.image, size_t(i), c));
        }
    return {lo, hi};
}

TEST(Clips, AreStereo16BitImagesOfTheirExactLengths) {
    for (const Clip& clip : kClips) {
        SCOPED_TRACE(clip.name);
        EXPECT_EQ(Read32(clip.image + 4), clip.size - 8);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(clip.image + 8), 4), "WAVE");
        const uint8_t expectFormat[] = {'f',  'm',  't', ' ', 16,   0,    0, 0, 1, 0, 2,  0,
                                        0x44, 0xAC, 0,   0,   0x10, 0xB1, 2, 0, 4, 0, 16, 0};
        EXPECT_EQ(std::memcmp(clip.image + 12, expectFormat, sizeof expectFormat), 0);
        EXPECT_EQ(Read32(clip.image + 40), uint32_t(clip.frames) * 4);
        WaveInfo info{};
        ASSERT_TRUE(WaveParse(clip.image, clip.size, &info));
        EXPECT_EQ(info.format, WaveSampleFormat::S16);
        EXPECT_EQ(info.frameCount, clip.frames);
        EXPECT_EQ(info.data, clip.image + 44);
    }
    EXPECT_EQ(Chunks(kClips[0]),
              "fmt @12:16 data@36:22772 LIST@22816:90 cue @22914:76 LIST@22998:46 "
              "CDif@23052:68 end");
    EXPECT_EQ(Chunks(kClips[1]), "fmt @12:16 data@36:22468 LIST@22512:70 end");
    EXPECT_EQ(Chunks(kClips[2]), "fmt @12:16 data@36:30576 end");
    EXPECT_EQ(Chunks(kClips[3]), "fmt @12:16 data@36:30576 end");
    // The warning beep's cue points: frames 5213, 5692 and 5692.
    EXPECT_EQ(Read32(WarningBeep + 22922), 3u);
    EXPECT_EQ(Read32(WarningBeep + 22922 + 4 + 20), 5213u);
    EXPECT_EQ(Read32(WarningBeep + 22922 + 28 + 20), 5692u);
    EXPECT_EQ(Read32(WarningBeep + 22922 + 52 + 20), 5692u);
}

TEST(Clips, WarningBeepIsABright1200HzBurstWithAFadingHighTail) {
    const Clip& clip = kClips[0];
    auto left = ClipChannel(clip.image, 0), right = ClipChannel(clip.image, 1);
    EXPECT_EQ(Extremes(clip), std::make_pair(-32768, 32767));
    for (double ms : {0.0, 10.0, 20.0, 30.0})
        EXPECT_NEAR(WindowHz(left, ms, 10, 200, 15000, 20), 1200, 40) << ms;
    for (double ms : {10.0, 20.0}) EXPECT_NEAR(WindowDb(left, ms), -10, 2) << ms;
    double previous = 0;
    for (double ms = 50; ms <= 110; ms += 10) {
        EXPECT_NEAR(WindowHz(left, ms, 10, 200, 15000, 20), 10800, 100) << ms;
        double level = WindowDb(left, ms);
        EXPECT_LT(level, std::min(previous, -20.0)) << ms;
        previous = level;
    }
    EXPECT_LT(WindowDb(left, 119), -45) << "silent by the end";
    // The channels differ, slightly.
    std::vector<float> difference;
    for (size_t i = 0; i < left.size(); ++i) difference.push_back(left[i] - right[i]);
    double diff = Db(Rms(difference.data(), difference.size()));
    EXPECT_LT(diff, Db(Rms(left.data(), left.size())) - 15);
    EXPECT_GT(diff, -80);
}

TEST(Clips, ReleaseChimeIsTwoPingsOverALowerTone) {
    const Clip& clip = kClips[1];
    for (int32_t i = 0; i < clip.frames; ++i)
        ASSERT_EQ(Sample(clip.image, size_t(i), 0), Sample(clip.image, size_t(i), 1)) << i;
    for (int32_t i = 0; i < 59; ++i) ASSERT_EQ(Sample(clip.image, size_t(i), 0), 0) << i;
    EXPECT_NE(Sample(clip.image, 59, 0), 0);
    EXPECT_EQ(Extremes(clip).second, 32767);
    EXPECT_GT(Extremes(clip).first, -32768);
    auto s = ClipChannel(clip.image, 0);
    struct Window {
        double ms, lo, hi;
    } windows[] = {{1.5, 2000, 2400}, {30, 1050, 1150}, {50, 1050, 1150}, {71, 2000, 2400}};
    for (const Window& w : windows) {
        double hz = WindowHz(s, w.ms, 10, 500, 5000);
        EXPECT_GE(hz, w.lo) << w.ms;
        EXPECT_LE(hz, w.hi) << w.ms;
    }
    EXPECT_GT(WindowDb(s, 1.5), WindowDb(s, 40) + 3) << "the pings stand out";
    EXPECT_GT(WindowDb(s, 71), WindowDb(s, 40) + 3);
    EXPECT_GT(WindowDb(s, 125, 2), -30) << "no fade at the end";
}

TEST(Clips, OnChimeHoldsAt300HzThenRisesTo560HzAndFades) {
    const Clip& clip = kClips[2];
    auto left = ClipChannel(clip.image, 0), right = ClipChannel(clip.image, 1);
    struct Step {
        double ms, length, hz;
    } steps[] = {{0, 35, 300}, {35, 35, 300}, {72, 26, 390}, {102, 26, 470}, {132, 30, 560}};
    for (const Step& step : steps)
        EXPECT_NEAR(WindowHz(left, step.ms, step.length, 150, 1000, 2), step.hz, 10) << step.ms;
    double loudest = -200, at = 0;
    for (double ms = 0; ms < 170; ms += 10)
        if (WindowDb(left, ms) > loudest) loudest = WindowDb(left, ms), at = ms;
    EXPECT_NEAR(loudest, -8, 1.5);
    EXPECT_GE(at, 20);
    EXPECT_LE(at, 60);
    EXPECT_LT(WindowDb(left, 166, 7), -40) << "faded out";
    EXPECT_EQ(Sample(clip.image, size_t(clip.frames - 1), 0), 0);
    auto [lo, hi] = Extremes(clip);
    EXPECT_EQ(std::max(-lo, hi), 27118);
    EXPECT_NE(left, right);
    EXPECT_NEAR(WindowDb(right, 30), WindowDb(left, 30), 1) << "only slightly";
}

TEST(Clips, OffChimeIsTheOnChimeBackwards) {
    const uint8_t* on = OnChime + 44;
    const uint8_t* off = OffChime + 44;
    for (size_t i = 0; i < 7644; ++i)
        ASSERT_EQ(std::memcmp(off + 4 * i, on + 4 * (7643 - i), 4), 0) << i;
    EXPECT_EQ(std::memcmp(OnChime, OffChime, 44), 0);
}

} // namespace
