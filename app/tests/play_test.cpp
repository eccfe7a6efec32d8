#include "app/play.h"
#include "app_test_support.h"
#include "runtime/clock.h"
#include "sound/sound.h"

#include <gtest/gtest.h>

namespace {

TEST(Clips, LengthAtAFrequency) {
    const struct {
        Clip clip;
        int64_t frequency;
        int64_t ms;
    } cases[] = {
        {kOnChime, 44100, 174},     {kOffChime, 88200, 87},      {kOffChime, 66150, 116},
        {kWarningBeep, 44100, 130}, {kReleaseChime, 44100, 128}, {kReleaseChime, 0, 0},
        {kReleaseChime, -44100, 0}, {{OnChime, 40}, 44100, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ClipLengthMs(c.clip, c.frequency), c.ms) << c.clip.size << " at " << c.frequency;
}

// An engine whose output nobody takes: a clip never gets past its first frame, as with a
// device that stalls. Waiting for it must still end.
TEST(Clips, AWaitEndsEvenWhenTheOutputStalls) {
    UseStalledSoundOutput();
    int64_t start = ElapsedMs();
    PlayClip(kOnChime, 1.0, 100, true);
    int64_t waited = ElapsedMs() - start;
    EXPECT_GE(waited, 174);
    EXPECT_LT(waited, 174 + kClipWaitMarginMs + 1500);
    EXPECT_EQ(SoundGetState(0), SOUND_MISSING) << "the slot is freed after the wait";

    // Without a wait the clip stays in the slot at its scaled frequency.
    start = ElapsedMs();
    PlayClip(kOffChime, 2.0, 60, false);
    EXPECT_LT(ElapsedMs() - start, 150);
    EXPECT_EQ(SoundGetState(0), SOUND_PLAYING);
    EXPECT_EQ(SoundGetFrequency(0), 88200);
    PlayClip(kWarningBeep, 1.5, 50, false);
    EXPECT_EQ(SoundGetFrequency(0), 66150) << "the new clip replaced the old one";
    SoundFree(0);
}

} // namespace
