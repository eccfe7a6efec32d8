#include "sound_test_support.h"

#include <gtest/gtest.h>

#include <numbers>

namespace {
SoundOutput gOutput;
bool gStarted = false;
} // namespace

std::vector<uint8_t> Wave16(const std::vector<int16_t>& samples, uint16_t channels, uint32_t rate) {
    std::vector<uint8_t> body(samples.size() * 2);
    std::memcpy(body.data(), samples.data(), body.size());
    return WaveBuilder().Riff().Format(1, channels, rate, 16).Chunk("data", body).Done();
}

void UseOutput(SoundOutput output) {
    if (gStarted && gOutput == output) {
        SoundFree(AnyNumber);
        return;
    }
    if (gStarted) {
        SoundSystemShutdown();
        SoundTestReset();
    }
    ASSERT_NE(SoundSystemInitWith(output, output == SoundOutput::NoDevice ? kEngineRate : 0,
                                  output == SoundOutput::NoDevice ? 2 : 0),
              nullptr);
    gOutput = output;
    gStarted = true;
}

void StopLibrary() {
    SoundSystemShutdown();
    SoundTestReset();
    gStarted = false;
}

std::vector<float> Pull(uint64_t frames) {
    std::vector<float> out(frames * 2);
    EXPECT_EQ(SoundReadOutput(out.data(), frames), frames);
    return out;
}

uint64_t PullUntilStopped(int64_t number, uint64_t limit, std::vector<float>* out) {
    constexpr uint64_t kBlock = 16;
    uint64_t frames = 0;
    float block[kBlock * 2];
    while (SoundGetState(number) == SOUND_PLAYING && frames < limit) {
        if (SoundReadOutput(block, kBlock) != kBlock) break;
        if (out) out->insert(out->end(), block, block + kBlock * 2);
        frames += kBlock;
    }
    return frames;
}

std::vector<float> Channel(const std::vector<float>& stereo, int channel) {
    std::vector<float> one;
    for (size_t i = size_t(channel); i < stereo.size(); i += 2) one.push_back(stereo[i]);
    return one;
}

double Rms(const float* samples, size_t count) {
    double sum = 0;
    for (size_t i = 0; i < count; ++i) sum += double(samples[i]) * samples[i];
    return count ? std::sqrt(sum / double(count)) : 0;
}

double DominantFrequency(const float* samples, size_t count, double rate, double lo, double hi,
                         double step) {
    double best = 0, bestPower = -1;
    for (double f = lo; f <= hi; f += step) {
        double w = 2 * std::numbers::pi * f / rate, re = 0, im = 0;
        for (size_t i = 0; i < count; ++i) {
            re += samples[i] * std::cos(w * double(i));
            im += samples[i] * std::sin(w * double(i));
        }
        double power = re * re + im * im;
        if (power > bestPower) {
            bestPower = power;
            best = f;
        }
    }
    return best;
}

std::vector<float> ClipChannel(const uint8_t* image, int channel) {
    uint32_t dataSize;
    std::memcpy(&dataSize, image + 40, 4);
    std::vector<float> out;
    for (uint32_t at = 44 + 2 * uint32_t(channel); at + 1 < 44 + dataSize; at += 4) {
        int16_t v;
        std::memcpy(&v, image + at, 2);
        out.push_back(float(v) / 32768.0f);
    }
    return out;
}
