// Internal: the RIFF WAVE reader behind SoundLoadMemory.
#pragma once

#include <cstdint>

// Sample layouts the loader accepts, numbered as the audio library numbers its formats.
enum class WaveSampleFormat : int32_t {
    U8 = 1,  // integer PCM, 8 bits, unsigned
    S16 = 2, // integer PCM, 16 bits
    S24 = 3, // integer PCM, 24 bits, packed
    S32 = 4, // integer PCM, 32 bits
    F32 = 5, // IEEE float, 32 bits
};

struct WaveInfo {
    WaveSampleFormat format;
    uint16_t channels;
    uint16_t bitsPerSample;
    int32_t sampleRate;
    const uint8_t* data; // the data chunk's body, inside the image
    int32_t dataSize;    // bytes, including a trailing partial frame
    int32_t frameCount;  // whole frames only
};

// The most channels a sound may have (what the audio library can mix).
constexpr uint16_t WaveMaxChannels = 254;

// Reads the format and finds the data chunk of a RIFF WAVE image of size bytes. The format
// chunk must come first; chunks between it and the data chunk are stepped over, and
// nothing after the data chunk is read. Every read stays inside the image. False for
// anything that cannot be played as it is: not RIFF, a foreign or damaged format, no data
// chunk, no whole frame, or chunk sizes that run past the end.
[[nodiscard]] bool WaveParse(const void* image, uint32_t size, WaveInfo* info);
