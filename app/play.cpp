#include "app/play.h"

#include "runtime/clock.h"
#include "runtime/strings.h"
#include "sound/sound.h"
#include "sound/wave.h"

int64_t ClipLengthMs(const Clip& clip, int64_t frequency) {
    WaveInfo info;
    if (frequency <= 0 || !WaveParse(clip.image, clip.size, &info)) return 0;
    return (int64_t{info.frameCount} * 1000 + frequency - 1) / frequency;
}

void PlayChime(Chime chime) {
    const ChimeSound& sound = kChimes[size_t(chime)];
    PlayClip(sound.clip, sound.factor, sound.volume, sound.wait);
}

void PlayClip(const Clip& clip, double factor, double volume, bool wait) {
    // A failed load keeps whatever sound 0 held; the calls below then act on that, as the
    // shared slot would anyway when the other thread loads in between.
    (void)SoundLoadMemory(0, clip.image, clip.size);
    SoundSetFrequency(0, int32_t(DoubleToInteger(double(SoundGetFrequency(0)) * factor)));
    (void)SoundPlay(0, 0, volume);
    if (!wait) return;
    // A device that stalls must not hold this thread: the wait ends with the clip's length
    // and a margin for the output's latency, whatever the sound reports.
    int64_t deadline = ElapsedMs() + ClipLengthMs(clip, SoundGetFrequency(0)) + kClipWaitMarginMs;
    do SleepMs(1);
    while (SoundGetState(0) == SOUND_PLAYING && ElapsedMs() < deadline);
    SoundFree(0);
}
