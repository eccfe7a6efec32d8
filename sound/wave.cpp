#include "wave.h"

#include <cstring>

namespace {

// Fields are read byte by byte: images may sit at any address.
uint16_t Read16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t Read32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

bool IsId(const uint8_t* p, const char (&id)[5]) {
    return std::memcmp(p, id, 4) == 0;
}

bool FormatOf(uint16_t tag, uint16_t bits, WaveSampleFormat* format) {
    if (tag == 1) {
        switch (bits) {
        case 8:
            *format = WaveSampleFormat::U8;
            return true;
        case 16:
            *format = WaveSampleFormat::S16;
            return true;
        case 24:
            *format = WaveSampleFormat::S24;
            return true;
        case 32:
            *format = WaveSampleFormat::S32;
            return true;
        default:
            return false;
        }
    }
    if (tag == 3 && bits == 32) {
        *format = WaveSampleFormat::F32;
        return true;
    }
    return false;
}

constexpr int64_t kFormatChunk = 12;  // "fmt " header, straight after the form type
constexpr int64_t kFormatBody = 20;   // its body
constexpr int64_t kFormatFields = 16; // tag, channels, rate, byte rate, alignment, bits

} // namespace

bool WaveParse(const void* image, uint32_t size, WaveInfo* info) {
    const auto* bytes = static_cast<const uint8_t*>(image);
    const int64_t end = size;
    if (!bytes || end < kFormatBody) return false;
    if (!IsId(bytes, "RIFF") || !IsId(bytes + kFormatChunk, "fmt ")) return false;

    // Chunk sizes are signed 32-bit values, and no pad byte follows an odd size.
    const int64_t formatSize = static_cast<int32_t>(Read32(bytes + kFormatChunk + 4));
    if (formatSize < kFormatFields || kFormatBody + formatSize > end) return false;
    const uint8_t* format = bytes + kFormatBody;
    const uint16_t tag = Read16(format);
    const uint16_t channels = Read16(format + 2);
    const int32_t rate = static_cast<int32_t>(Read32(format + 4));
    const uint16_t bits = Read16(format + 14);

    // Walk to the first data chunk; the walk never leaves the image.
    int64_t at = kFormatBody + formatSize;
    for (;;) {
        if (at + 8 > end) return false; // no data chunk
        const int64_t chunkSize = static_cast<int32_t>(Read32(bytes + at + 4));
        if (chunkSize < 0 || at + 8 + chunkSize > end) return false;
        if (IsId(bytes + at, "data")) break;
        at += 8 + chunkSize;
    }

    WaveSampleFormat sampleFormat;
    if (!FormatOf(tag, bits, &sampleFormat)) return false;
    if (channels == 0 || channels > WaveMaxChannels || rate <= 0) return false;
    const int32_t dataSize = static_cast<int32_t>(Read32(bytes + at + 4));
    const int32_t frameCount = dataSize / channels / (bits / 8);
    // A sound lives while it holds data; one without a single whole frame could never play.
    if (frameCount == 0) return false;

    info->format = sampleFormat;
    info->channels = channels;
    info->bitsPerSample = bits;
    info->sampleRate = rate;
    info->data = bytes + at + 8;
    info->dataSize = dataSize;
    info->frameCount = frameCount;
    return true;
}
