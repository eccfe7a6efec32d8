// Helpers shared by the sound library's tests: WAVE images made to order, the engine's
// output pulled into memory, and a little signal analysis.
#pragma once

#include "sound/sound.h"
#include "sound/sound_internal.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

// A RIFF WAVE image: the header, then the chunks given, in order.
struct WaveBuilder {
    std::vector<uint8_t> bytes;

    void Id(const char* id) { bytes.insert(bytes.end(), id, id + 4); }
    void U16(uint32_t v) {
        for (int i = 0; i < 2; ++i) bytes.push_back(uint8_t(v >> (8 * i)));
    }
    void U32(uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes.push_back(uint8_t(v >> (8 * i)));
    }
    WaveBuilder& Riff() {
        Id("RIFF");
        U32(0); // patched by Done()
        Id("WAVE");
        return *this;
    }
    WaveBuilder& Format(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits,
                        uint32_t chunkSize = 16) {
        Id("fmt ");
        U32(chunkSize);
        U16(tag);
        U16(channels);
        U32(rate);
        U32(rate * channels * bits / 8);
        U16(uint16_t(channels * bits / 8));
        U16(bits);
        for (uint32_t i = 16; i < chunkSize; ++i) bytes.push_back(0);
        return *this;
    }
    WaveBuilder& Chunk(const char* id, const std::vector<uint8_t>& body) {
        Id(id);
        U32(uint32_t(body.size()));
        bytes.insert(bytes.end(), body.begin(), body.end());
        return *this;
    }
    WaveBuilder& Chunk(const char* id, uint32_t declaredSize, size_t actualBytes) {
        Id(id);
        U32(declaredSize);
        bytes.insert(bytes.end(), actualBytes, 0);
        return *this;
    }
    std::vector<uint8_t> Done() {
        uint32_t riff = uint32_t(bytes.size() - 8);
        std::memcpy(bytes.data() + 4, &riff, 4);
        return bytes;
    }
};

// A standard 16-bit image of the given samples (interleaved).
std::vector<uint8_t> Wave16(const std::vector<int16_t>& samples, uint16_t channels, uint32_t rate);

// The engine of these tests: 48 kHz stereo, like the null sink the Windows tests record.
constexpr uint32_t kEngineRate = 48000;

// (Re)starts the library on output, shutting down an earlier start that used another.
void UseOutput(SoundOutput output);

// Shuts the library down (if started) and forgets it, so that the next UseOutput starts anew.
void StopLibrary();

// Pulls frames from the device-less engine; returns the interleaved stereo samples.
std::vector<float> Pull(uint64_t frames);

// Pulls until sound number is no longer playing (or limit frames): the frames pulled
// while it played, in blocks of 16 frames. The samples go to out when given.
uint64_t PullUntilStopped(int64_t number, uint64_t limit = 10 * kEngineRate,
                          std::vector<float>* out = nullptr);

// One channel of interleaved stereo.
std::vector<float> Channel(const std::vector<float>& stereo, int channel);

double Rms(const float* samples, size_t count);
// The strongest frequency between lo and hi Hz (DFT scan in steps of step Hz).
double DominantFrequency(const float* samples, size_t count, double rate, double lo, double hi,
                         double step = 5);

// The samples of a 16-bit image's data chunk as floats, one channel.
std::vector<float> ClipChannel(const uint8_t* image, int channel);
