// Internal: ways for the sound library's tests to run it without a sound card and to look
// inside. Not for the program itself.
#pragma once

#include "runtime/objects.h"

#include <atomic>
#include <cstdint>

enum class SoundOutput {
    DefaultDevice, // what SoundSystemInit uses
    NoDevice,      // an engine without a device: nothing plays until SoundReadOutput pulls it
    NullBackend,   // the audio library's null device: real audio thread, output discarded
};

// Starts the library like SoundSystemInit, on the given output. sampleRate and channels
// set the engine's mixing format (0: the output's own).
ObjectTable* SoundSystemInitWith(SoundOutput output, uint32_t sampleRate, uint32_t channels);

// After SoundSystemShutdown: forgets that the library was started, so that a test can
// start it again. The sound table and the voice pool are reused.
void SoundTestReset();

// NoDevice engine: mixes the next frameCount frames (interleaved float, engine channels)
// into out, running the voices' end procedure on the calling thread (silence where nothing
// plays). Returns frameCount, or 0 when the library does not run on such an engine.
uint64_t SoundReadOutput(float* out, uint64_t frameCount);

// The idle watcher's period between checks and the idle time after which it stops the
// device, in milliseconds. Set before starting the library.
extern std::atomic<uint32_t> gSoundIdleCheckMs;
extern std::atomic<uint32_t> gSoundIdleLimitMs;

// Makes the next device starts fail, as when the sound card went away.
extern std::atomic<bool> gSoundFailDeviceStart;
// Makes the start of a voice's engine sound fail (the last step of SoundPlay).
extern std::atomic<bool> gSoundFailVoiceStart;

// Makes the next openings of the device fail, as when the sound server went away.
extern std::atomic<bool> gSoundFailDeviceOpen;
// How often the device was opened since the library started (the engine's own opening
// counts as the first), and how often that was tried, successfully or not.
extern std::atomic<uint32_t> gSoundDeviceOpens;
extern std::atomic<uint32_t> gSoundDeviceOpenAttempts;

// While the device sounds through the silent null backend although the default output was
// asked for, how long after its opening a play looks for a real output again.
extern std::atomic<uint32_t> gSoundFallbackRetryMs;

// Stops the playback device behind the library's back, as the audio library does when the
// output goes away: with its stop notification (notify) or, as when the output was already
// gone, without one.
void SoundTestStopDevice(bool notify);

// Whether the playback device runs (false without a device).
bool SoundDeviceRunning();
// Voices currently taken.
int32_t SoundVoicesInUse();
// Whether the idle watcher thread is alive.
bool SoundIdleWatcherRunning();
