// Numbered sounds loaded from in-memory RIFF WAVE images and played through a pool of 64
// voices on the default playback device, with volume, pan and pitch.
//
// Start the library once with SoundSystemInit() before the first sound operation; the
// runtime's shutdown releases it (register SoundLibrary() with RuntimeUse). Every
// operation may be called from any thread. Before a successful start and after the
// shutdown, operations do nothing and answer 0 (SOUND_MISSING for the state).
#pragma once

#include "runtime/objects.h"
#include "runtime/runtime.h"

#include <cstdint>

// SoundPlay flags.
constexpr int32_t SF_LOOP = 1;     // repeat from the start at the end, until stopped
constexpr int32_t SF_MULTIPLE = 2; // keep the sound's playing voices; return a voice handle

// SoundGetState results.
constexpr int32_t SOUND_STOPPED = 0; // the sound exists and none of its voices is in use
constexpr int32_t SOUND_PLAYING = 1; // its first voice in use is playing
constexpr int32_t SOUND_PAUSED = 2;  // that voice is in use but not playing (also while
                                     // the output it played on is gone)
constexpr int32_t SOUND_MISSING = 3; // the number names no sound

// Starts the audio engine on the default playback device (falling back to a silent
// output) and leaves the device stopped until the first play. Only the first call acts;
// later calls return its result. Returns the sound table, or null when no engine could be
// started, in which case the library stays off for good.
ObjectTable* SoundSystemInit();

// Stops every voice, closes the device and releases all sounds. Operations called
// afterwards do nothing.
void SoundSystemShutdown();

// Forgets the audio device: it is opened afresh, on the current default output, by the next
// play (call it when the system resumes from sleep, when the old device may be dead). Safe
// from any thread; returns at once.
void SoundDeviceRenew();

inline RuntimeLibrary SoundLibrary() {
    return {RuntimeLibraryId::Sound, nullptr, SoundSystemShutdown};
}

// Loads a copy of the RIFF WAVE image (size bytes; integer PCM of 8, 16, 24 or 32 bits, or
// 32-bit float) into sound number, or into a new sound for AnyNumber. A sound that held
// the number before is stopped and released. Returns non-zero on success (for AnyNumber,
// the new sound's number), 0 on failure, when the number keeps its previous sound.
[[nodiscard]] int64_t SoundLoadMemory(int64_t number, const void* image, uint32_t size);

// Stops the sound's voices and releases it; AnyNumber releases every sound.
void SoundFree(int64_t number);

// The sound's playback frequency in Hz (its sample rate after a load); 0 for no sound.
int64_t SoundGetFrequency(int64_t number);

// Sets the playback frequency (negative values count as 0) and retunes the sound's
// playing voices at once; AnyNumber applies it to every sound. A voice sounds at
// frequency / sample rate times its normal pitch and speed; at 0 it keeps its pitch.
void SoundSetFrequency(int64_t number, int32_t frequency);

// Plays the sound at volume (0..100 scale, linear; -1 for the sound's default of 100).
// Without SF_MULTIPLE, the sound's voices that still play are cut off first. Returns 0
// on failure (no such sound, all voices busy, no audio output to start, a voice that does
// not start; the voice is then free again); otherwise 1, or
// with SF_MULTIPLE the voice handle (voice index + 2).
[[nodiscard]] int64_t SoundPlay(int64_t number, int32_t flags, double volume);

// SOUND_STOPPED, SOUND_PLAYING, SOUND_PAUSED or SOUND_MISSING.
int32_t SoundGetState(int64_t number);

// The audio device is closed now and opened afresh, on the current default output, at the
// next play (after the machine woke from sleep, the old one may be dead). Safe from any
// thread; does nothing before the start and after the shutdown.
void SoundDeviceRenew();
