// Prints what the sound library's operations cost on an engine without a device: loading
// each clip, the program's whole play pattern (load, retune, play, state), and mixing
// 10 ms of output with one and with 64 voices playing.
#include "runtime/runtime.h"
#include "sound/clips.h"
#include "sound/sound.h"
#include "sound/sound_internal.h"

#include "bench/timing.h"

#include <cstdio>
#include <vector>

int main() {
    RuntimeUse(SoundLibrary());
    RuntimeInit();
    if (!SoundSystemInitWith(SoundOutput::NoDevice, 48000, 2)) return 1;
    std::printf("%-40s %10s\n", "operation", "us/call");
    for (const SoundClip& clip : SoundClips) {
        double us = TimePerCall<std::micro>(2000, [&](long) {
            if (!SoundLoadMemory(0, clip.image, clip.size)) std::abort();
        });
        std::printf("load %-35s %10.2f\n", clip.name, us);
    }
    double pattern = TimePerCall<std::micro>(2000, [](long) {
        if (!SoundLoadMemory(0, WarningBeep, sizeof WarningBeep)) std::abort();
        SoundSetFrequency(0, int32_t(SoundGetFrequency(0) * 2.0));
        if (SoundPlay(0, 0, 50) != 1) std::abort();
        if (SoundGetState(0) != SOUND_PLAYING) std::abort();
    });
    std::printf("%-40s %10.2f\n", "load + retune + play + state", pattern);

    std::vector<float> out(480 * 2);
    for (int voices : {1, 64}) {
        if (!SoundLoadMemory(0, OnChime, sizeof OnChime)) return 1;
        for (int i = 0; i < voices; ++i)
            if (!SoundPlay(0, SF_MULTIPLE | SF_LOOP, 1)) return 1;
        double us = TimePerCall<std::micro>(500, [&](long) { SoundReadOutput(out.data(), 480); });
        std::printf("mix 10 ms, %2d voice(s) %-16s %10.2f\n", voices, "", us);
        SoundFree(0);
    }
    return 0;
}
