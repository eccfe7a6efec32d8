// libFuzzer target: arbitrary bytes as a WAVE image for SoundLoadMemory. Images that load
// are also played for a moment, so that every accepted layout goes through the engine.
#include "sound/sound.h"
#include "sound/sound_internal.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool started = [] {
        RuntimeUse(SoundLibrary());
        RuntimeInit();
        return SoundSystemInitWith(SoundOutput::NoDevice, 48000, 2) != nullptr;
    }();
    if (!started) return 0;
    if (SoundLoadMemory(0, data, static_cast<uint32_t>(size)) != 0) {
        if (SoundGetFrequency(0) <= 0) __builtin_trap();
        if (SoundPlay(0, 0, 100) == 1) {
            float out[64 * 2];
            SoundReadOutput(out, 64);
        }
        SoundFree(0);
    }
    return 0;
}
