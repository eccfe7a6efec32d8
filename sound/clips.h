// The program's four built-in sounds: complete RIFF WAVE images (16-bit stereo PCM,
// 44100 Hz) compiled into the program from sound/clips/*.wav. Load one with
// SoundLoadMemory(number, WarningBeep, sizeof WarningBeep).
#pragma once

#include <cstdint>

// The Caps Lock warning: a bright 1.2 kHz burst with a high, fading shimmer (129 ms).
extern const uint8_t WarningBeep[23128];
// Caps Lock went off: two short pings over a lower tone (127 ms).
extern const uint8_t ReleaseChime[22590];
// Start-up and switch-on: a 300 Hz tone that steps up to 560 Hz and fades (173 ms).
extern const uint8_t OnChime[30620];
// Exit and switch-off: the on chime played backwards (173 ms).
extern const uint8_t OffChime[30620];

// The four clips by name, with their length in frames (at 44100 Hz), for the code that goes
// through all of them; the index is a SoundClipId.
struct SoundClip {
    const char* name;
    const uint8_t* image;
    uint32_t size;
    int32_t frames;
};
enum SoundClipId { ClipWarningBeep, ClipReleaseChime, ClipOnChime, ClipOffChime };
inline constexpr SoundClip SoundClips[] = {
    {"WarningBeep", WarningBeep, sizeof WarningBeep, 5693},
    {"ReleaseChime", ReleaseChime, sizeof ReleaseChime, 5617},
    {"OnChime", OnChime, sizeof OnChime, 7644},
    {"OffChime", OffChime, sizeof OffChime, 7644},
};
