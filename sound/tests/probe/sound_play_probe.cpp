// What the sound library really puts out through the default playback device.
//
//   sound_play_probe play              plays a fixed programme of clips the way the program
//                                      does (load into 0, scale the frequency, play, wait
//                                      for the end) and prints when each play began
//   sound_play_probe analyse REC LOG   checks a recording of that programme (16-bit stereo
//                                      WAVE) against the log the play run printed
//
// sound/tests/record_test.sh records the device's output between the two.
#include "runtime/clock.h"
#include "runtime/threads.h"
#include "sound/clips.h"
#include "sound/sound.h"
#include "sound/tests/sound_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

namespace {

struct Play {
    SoundClipId id;
    double factor;
    double volume;
    const SoundClip& Clip() const { return SoundClips[id]; }
};

// The programme: the chimes and beeps at the factors and volumes the program uses.
const Play kProgramme[] = {
    {ClipOnChime, 1.0, 100},    {ClipOnChime, 1.0, 50},       {ClipOnChime, 2.0, 60},
    {ClipOffChime, 1.5, 60},    {ClipOffChime, 1.0, 100},     {ClipWarningBeep, 1.0, 100},
    {ClipWarningBeep, 1.0, 50}, {ClipReleaseChime, 1.0, 100},
};
constexpr size_t kPlays = std::size(kProgramme);
constexpr int kLoopMs = 400; // the looping play that SoundFree cuts off

int64_t WallMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

int PlayProgramme() {
    RuntimeUse(SoundLibrary());
    RuntimeInit();
    if (!SoundSystemInit()) {
        std::printf("no sound engine\n");
        return 1;
    }
    SleepMs(500);
    for (const Play& play : kProgramme) {
        if (!SoundLoadMemory(0, play.Clip().image, play.Clip().size)) return 2;
        SoundSetFrequency(0, int32_t(double(SoundGetFrequency(0)) * play.factor));
        int64_t at = WallMs();
        if (SoundPlay(0, 0, play.volume) != 1) return 3;
        do SleepMs(1);
        while (SoundGetState(0) == SOUND_PLAYING);
        SoundFree(0);
        std::printf("play %lld %lld\n", (long long)at, (long long)(WallMs() - at));
        SleepMs(300);
    }
    // A looping voice, then SoundFree: nothing may sound after it.
    if (!SoundLoadMemory(0, OnChime, sizeof OnChime)) return 2;
    int64_t at = WallMs();
    if (SoundPlay(0, SF_LOOP, 100) != 1) return 3;
    SleepMs(kLoopMs);
    int64_t freedAt = WallMs();
    SoundFree(0);
    std::printf("loop %lld %lld\n", (long long)at, (long long)(freedAt - at));
    std::fflush(stdout);
    SleepMs(800);
    SoundSystemShutdown();
    return 0;
}

// ---- Analysis ----------------------------------------------------------------------------

struct Recording {
    uint32_t rate = 0;
    std::vector<float> left, right;
    int64_t startMs = 0; // wall clock of the first sample, roughly
};

struct Segment {
    size_t from, to; // frames, to exclusive
};

Recording gRecording;
std::vector<int64_t> gPlayAt;
std::vector<int64_t> gPlayMs;
int64_t gLoopAt = 0, gLoopMs = 0;
std::vector<Segment> gSegments;

bool ReadRecording(const char* path, Recording* out) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    if (bytes.size() < 44 || std::memcmp(bytes.data(), "RIFF", 4) != 0) return false;
    // A recorder that was stopped may leave the sizes unwritten: take everything after the
    // data chunk's header.
    size_t at = 12, data = 0;
    while (at + 8 <= bytes.size()) {
        uint32_t size;
        std::memcpy(&size, bytes.data() + at + 4, 4);
        if (std::memcmp(bytes.data() + at, "fmt ", 4) == 0) {
            uint16_t channels, bits;
            std::memcpy(&channels, bytes.data() + at + 10, 2);
            std::memcpy(&out->rate, bytes.data() + at + 12, 4);
            std::memcpy(&bits, bytes.data() + at + 22, 2);
            if (channels != 2 || bits != 16) return false;
        }
        if (std::memcmp(bytes.data() + at, "data", 4) == 0) {
            data = at + 8;
            break;
        }
        at += 8 + size + (size & 1);
    }
    if (!data || !out->rate) return false;
    for (size_t i = data; i + 4 <= bytes.size(); i += 4) {
        int16_t l, r;
        std::memcpy(&l, bytes.data() + i, 2);
        std::memcpy(&r, bytes.data() + i + 2, 2);
        out->left.push_back(float(l) / 32768.0f);
        out->right.push_back(float(r) / 32768.0f);
    }
    return true;
}

// Stretches of sound, split by at least 60 ms of silence.
std::vector<Segment> FindSegments(const Recording& r) {
    const float threshold = 4.0f / 32768.0f;
    const size_t gap = r.rate * 60 / 1000;
    std::vector<Segment> segments;
    size_t quiet = 0;
    bool inside = false;
    for (size_t i = 0; i < r.left.size(); ++i) {
        bool loud = std::fabs(r.left[i]) > threshold || std::fabs(r.right[i]) > threshold;
        if (loud) {
            if (!inside) segments.push_back({i, i + 1});
            inside = true;
            quiet = 0;
            segments.back().to = i + 1;
        } else if (inside && ++quiet > gap) {
            inside = false;
        }
    }
    return segments;
}

double Ms(size_t frames) {
    return 1000.0 * double(frames) / gRecording.rate;
}

double SegmentRms(const Segment& s) {
    return Rms(gRecording.left.data() + s.from, s.to - s.from);
}

double Db(double v) {
    return 20 * std::log10(std::max(v, 1e-9));
}

double ToneHz(const Segment& s, double fromMs, double toMs) {
    size_t from = s.from + size_t(fromMs * gRecording.rate / 1000);
    size_t to = s.from + size_t(toMs * gRecording.rate / 1000);
    return DominantFrequency(gRecording.left.data() + from, to - from, gRecording.rate, 150, 1500,
                             2);
}

TEST(Recording, HoldsEveryPlayAndTheLoop) {
    ASSERT_EQ(gSegments.size(), kPlays + 1);
    EXPECT_EQ(gRecording.rate, 48000u);
}

TEST(Recording, EachClipStartsWhenPlayedAndLastsItsLength) {
    ASSERT_EQ(gSegments.size(), kPlays + 1);
    // "wait ms" is how long the program's wait for the end took: the voice ends when its
    // last frames went to the device, a little before they are heard.
    std::printf("%-13s %6s %6s %9s %12s %12s %10s %8s\n", "clip", "factor", "volume", "onset ms",
                "duration ms", "expected ms", "level dB", "wait ms");
    for (size_t i = 0; i < kPlays; ++i) {
        const Play& play = kProgramme[i];
        const Segment& s = gSegments[i];
        double onset = double(gRecording.startMs) + Ms(s.from) - double(gPlayAt[i]);
        double duration = Ms(s.to - s.from);
        double expected = 1000.0 * play.Clip().frames / 44100 / play.factor;
        std::printf("%-13s %6.1f %6.0f %9.0f %12.1f %12.1f %10.2f %8lld\n", play.Clip().name,
                    play.factor, play.volume, onset, duration, expected, Db(SegmentRms(s)),
                    (long long)gPlayMs[i]);
        EXPECT_NEAR(duration, expected, 15) << i << " " << play.Clip().name;
        // The recorder's clock and ours agree only roughly; this catches a play that sounds
        // late or out of order, not the exact latency.
        EXPECT_GT(onset, -100) << i;
        EXPECT_LT(onset, 400) << i;
    }
}

TEST(Recording, VolumeFiftyIsSixDecibelsDown) {
    ASSERT_EQ(gSegments.size(), kPlays + 1);
    for (auto [full, half] : {std::pair{0, 1}, std::pair{5, 6}}) {
        double ratio =
            Db(SegmentRms(gSegments[size_t(half)]) / SegmentRms(gSegments[size_t(full)]));
        std::printf("%s: volume 50 against 100: %.2f dB\n", kProgramme[full].Clip().name, ratio);
        EXPECT_NEAR(ratio, -6.02, 0.5) << kProgramme[full].Clip().name;
    }
}

TEST(Recording, OnChimeRisesFrom300To560Hz) {
    ASSERT_EQ(gSegments.size(), kPlays + 1);
    double low = ToneHz(gSegments[0], 10, 65), high = ToneHz(gSegments[0], 135, 160);
    double octave = ToneHz(gSegments[2], 5, 32);
    std::printf("OnChime: %.0f Hz at the start, %.0f Hz at the end; at factor 2: %.0f Hz\n", low,
                high, octave);
    EXPECT_NEAR(low, 300, 8);
    EXPECT_NEAR(high, 560, 15);
    EXPECT_NEAR(octave, 600, 16);
}

TEST(Recording, NothingPlaysAfterTheFree) {
    ASSERT_EQ(gSegments.size(), kPlays + 1);
    const Segment& loop = gSegments[kPlays];
    double heard = Ms(loop.to - loop.from);
    double onset = double(gRecording.startMs) + Ms(loop.from) - double(gLoopAt);
    std::printf("loop: heard for %.0f ms, freed after %lld ms\n", heard, (long long)gLoopMs);
    // It sounds until the free (give or take the output latency), then never again: the
    // segment search found no sound after it.
    EXPECT_GT(heard, double(gLoopMs) - 100);
    EXPECT_LT(heard, double(gLoopMs) + 100);
    EXPECT_GT(onset, -100);
    size_t tail = gRecording.left.size() - loop.to;
    EXPECT_GT(Ms(tail), 300) << "the recording goes on long enough to tell";
}

int Analyse(int argc, char** argv, const char* recording, const char* log) {
    if (!ReadRecording(recording, &gRecording)) {
        std::printf("cannot read the recording %s\n", recording);
        return 1;
    }
    std::ifstream in(log);
    std::string word;
    long long at, ms;
    while (in >> word >> at >> ms) {
        if (word == "play") gPlayAt.push_back(at), gPlayMs.push_back(ms);
        if (word == "loop") gLoopAt = at, gLoopMs = ms;
        if (word == "recording") gRecording.startMs = at;
    }
    if (gPlayAt.size() != kPlays || !gLoopAt) {
        std::printf("the play log %s is incomplete\n", log);
        return 1;
    }
    gSegments = FindSegments(gRecording);
    std::printf("recording: %.0f ms at %u Hz, %zu stretches of sound\n", Ms(gRecording.left.size()),
                gRecording.rate, gSegments.size());
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::string(argv[1]) == "play") return PlayProgramme();
    if (argc >= 4 && std::string(argv[1]) == "analyse") {
        int rest = 1;
        return Analyse(rest, argv, argv[2], argv[3]);
    }
    std::printf("usage: sound_play_probe play | analyse RECORDING LOG\n");
    return 2;
}
