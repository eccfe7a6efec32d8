// Playing the built-in clips on sound number 0, which the menu and the watcher share.
#pragma once

#include "sound/clips.h"

#include <cstdint>

struct Clip {
    const uint8_t* image;
    uint32_t size;
};

inline constexpr Clip kWarningBeep{WarningBeep, sizeof WarningBeep};
inline constexpr Clip kReleaseChime{ReleaseChime, sizeof ReleaseChime};
inline constexpr Clip kOnChime{OnChime, sizeof OnChime};
inline constexpr Clip kOffChime{OffChime, sizeof OffChime};

// How long the clip plays at frequency Hz; 0 when the image or the frequency is unusable.
int64_t ClipLengthMs(const Clip& clip, int64_t frequency);

// The longest a waiting PlayClip waits beyond the clip's own length.
constexpr int64_t kClipWaitMarginMs = 300;

// Loads the clip into sound 0, scales its frequency by factor and plays it once at volume
// (0..100). With wait, returns once it has stopped playing, or at the latest its length plus
// kClipWaitMarginMs after the start, and frees sound 0; without, returns at once.
void PlayClip(const Clip& clip, double factor, double volume, bool wait);
