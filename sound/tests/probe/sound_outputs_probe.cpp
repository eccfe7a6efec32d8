// Whether warnings follow the audio output when it goes away under the program.
//
//   sound_outputs_probe play MS COUNT       plays the warning every MS milliseconds, COUNT
//                                           times, as the program's watcher does, and prints
//                                           when each play began and what it returned
//   sound_outputs_probe analyse FIRST SECOND LOG
//                                           checks the recordings of the first output (the
//                                           one that went away) and the second (the one that
//                                           stayed) against the play log and the moment the
//                                           script took the first one away ("lost" line)
//
// sound/tests/outputs_test.sh sets up the two outputs, records them and takes the first away.
#include "runtime/clock.h"
#include "runtime/threads.h"
#include "sound/clips.h"
#include "sound/sound.h"
#include "sound/tests/sound_test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace {

int64_t WallMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

int PlayRepeatedly(int periodMs, int count) {
    RuntimeUse(SoundLibrary());
    RuntimeInit();
    if (!SoundSystemInit()) {
        std::printf("no sound engine\n");
        return 1;
    }
    for (int i = 0; i < count; ++i) {
        int64_t at = WallMs();
        if (!SoundLoadMemory(0, WarningBeep, sizeof WarningBeep)) return 2;
        int64_t result = SoundPlay(0, 0, 50);
        std::printf("play %lld %lld\n", (long long)at, (long long)result);
        std::fflush(stdout);
        int64_t next = at + periodMs;
        while (WallMs() < next) SleepMs(1);
    }
    SoundSystemShutdown();
    return 0;
}

// ---- Analysis ----------------------------------------------------------------------------

struct Recording {
    std::vector<float> left;
    std::vector<int64_t> onsets; // ms from the recording's start to each stretch of sound
};

Recording gFirst, gSecond;
std::vector<int64_t> gPlays; // wall clock of every play that returned success
int gFailedPlays = 0;
int64_t gLostAt = 0;

// 16-bit stereo WAVE at 48 kHz, as parec writes it (sizes possibly unwritten).
bool ReadLeft(const char* path, Recording* out) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    size_t at = 12, data = 0;
    while (at + 8 <= bytes.size()) {
        uint32_t size;
        std::memcpy(&size, bytes.data() + at + 4, 4);
        if (std::memcmp(bytes.data() + at, "data", 4) == 0) {
            data = at + 8;
            break;
        }
        at += 8 + size + (size & 1);
    }
    if (!data) return false;
    for (size_t i = data; i + 4 <= bytes.size(); i += 4) {
        int16_t l;
        std::memcpy(&l, bytes.data() + i, 2);
        out->left.push_back(float(l) / 32768.0f);
    }
    return true;
}

// The starts of stretches of sound, split by at least 60 ms of silence.
void FindOnsets(Recording* r) {
    const float threshold = 4.0f / 32768.0f;
    const size_t gap = kEngineRate * 60 / 1000;
    size_t quiet = gap + 1;
    for (size_t i = 0; i < r->left.size(); ++i) {
        if (std::fabs(r->left[i]) > threshold) {
            if (quiet > gap) r->onsets.push_back(int64_t(i) * 1000 / kEngineRate);
            quiet = 0;
        } else {
            ++quiet;
        }
    }
}

int PlaysBeforeTheLoss() {
    int before = 0;
    for (int64_t play : gPlays) before += play < gLostAt;
    return before;
}

// Its recording ends when it goes, so whatever it holds came before.
TEST(Outputs, TheWarningsPlayedOnTheFirstOutputUntilItWent) {
    int before = PlaysBeforeTheLoss();
    std::printf("first output: %zu warnings heard, %d played before it went\n",
                gFirst.onsets.size(), before);
    EXPECT_GE(before, 2) << "the output went too early to tell";
    EXPECT_GE(int(gFirst.onsets.size()), before - 1);
}

// The recorders' start on the wall clock is known only roughly, so the warnings are matched
// by count and spacing on the recording's own clock: as many on the second output as were
// played after the loss (one may be lost in the switch, and one played as the output went
// may be heard on either), one every 500 ms without a gap, so the first came within 1.5 s.
TEST(Outputs, EveryLaterWarningIsHeardOnTheSecondOutput) {
    int after = int(gPlays.size()) - PlaysBeforeTheLoss();
    int heard = int(gSecond.onsets.size());
    std::printf("second output: %d warnings heard, %d played after the first went, %d plays "
                "failed\n",
                heard, after, gFailedPlays);
    ASSERT_GT(heard, 0) << "nothing heard on the second output";
    EXPECT_GE(heard, after - 1);
    EXPECT_LE(heard, after + 1) << "nothing played there before the switch";
    for (size_t i = 1; i < gSecond.onsets.size(); ++i)
        EXPECT_NEAR(double(gSecond.onsets[i] - gSecond.onsets[i - 1]), 500, 150) << i;
}

int Analyse(int argc, char** argv, const char* first, const char* second, const char* log) {
    if (!ReadLeft(first, &gFirst) || !ReadLeft(second, &gSecond)) {
        std::printf("cannot read the recordings %s, %s\n", first, second);
        return 1;
    }
    std::ifstream in(log);
    std::string word;
    long long at, value;
    while (in >> word >> at >> value) {
        if (word == "play" && value) gPlays.push_back(at);
        if (word == "play" && !value) ++gFailedPlays;
        if (word == "lost") gLostAt = at;
    }
    if (gPlays.empty() || !gLostAt) {
        std::printf("the play log %s is incomplete\n", log);
        return 1;
    }
    FindOnsets(&gFirst);
    FindOnsets(&gSecond);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && std::string(argv[1]) == "play")
        return PlayRepeatedly(std::atoi(argv[2]), std::atoi(argv[3]));
    if (argc >= 5 && std::string(argv[1]) == "analyse") {
        int rest = 1;
        return Analyse(rest, argv, argv[2], argv[3], argv[4]);
    }
    std::printf("usage: sound_outputs_probe play MS COUNT | analyse FIRST SECOND LOG\n");
    return 2;
}
