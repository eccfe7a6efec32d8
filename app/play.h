// Playing the built-in clips on sound number 0, which the menu and the watcher share.
#pragma once

#include "sound/clips.h"

#include <cstddef>
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

// Every sound the program makes, and how: the clip, the factor its pitch is scaled by, the
// volume (0..100), and whether the caller waits for its end.
enum class Chime {
    StartUp,
    Warning,
    Release,
    ForceOffOn,
    ForceOffOff,
    RunAsAdminOn,
    RunAsAdminOff,
    RestartConfirmed,
    Exit,
    Count
};

struct ChimeSound {
    Clip clip;
    double factor;
    double volume;
    bool wait;
};

inline constexpr ChimeSound kChimes[] = {
    {kOnChime, 1.0, 100, true},      // StartUp
    {kWarningBeep, 1.0, 50, false},  // Warning
    {kReleaseChime, 1.0, 100, true}, // Release
    {kOnChime, 2.0, 60, false},      // ForceOffOn
    {kOffChime, 2.0, 60, false},     // ForceOffOff
    {kOnChime, 1.5, 60, false},      // RunAsAdminOn
    {kOffChime, 1.5, 60, false},     // RunAsAdminOff
    {kOffChime, 1.0, 100, true},     // RestartConfirmed
    {kOffChime, 1.0, 100, true},     // Exit
};
static_assert(sizeof kChimes / sizeof kChimes[0] == size_t(Chime::Count));

// Plays the chime through PlayClip.
void PlayChime(Chime chime);

// Loads the clip into sound 0, scales its frequency by factor and plays it once at volume
// (0..100). With wait, returns once it has stopped playing, or at the latest its length plus
// kClipWaitMarginMs after the start, and frees sound 0; without, returns at once.
void PlayClip(const Clip& clip, double factor, double volume, bool wait);
