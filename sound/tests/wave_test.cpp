#include "sound/wave.h"
#include "sound_test_support.h"

#include <gtest/gtest.h>

namespace {

std::vector<uint8_t> Body(size_t size) {
    std::vector<uint8_t> body(size);
    for (size_t i = 0; i < size; ++i) body[i] = uint8_t(i * 7 + 1);
    return body;
}

TEST(WaveParse, AcceptsEveryPlayableLayout) {
    struct Case {
        uint16_t tag, channels, bits;
        WaveSampleFormat format;
        size_t dataBytes;
        int32_t frames;
    } cases[] = {
        {1, 1, 8, WaveSampleFormat::U8, 100, 100},
        {1, 2, 16, WaveSampleFormat::S16, 400, 100},
        {1, 2, 24, WaveSampleFormat::S24, 600, 100},
        {1, 1, 32, WaveSampleFormat::S32, 400, 100},
        {3, 2, 32, WaveSampleFormat::F32, 800, 100},
        {1, 6, 16, WaveSampleFormat::S16, 1200, 100},
        // A trailing partial frame is kept but not counted.
        {1, 2, 16, WaveSampleFormat::S16, 403, 100},
        {1, 2, 24, WaveSampleFormat::S24, 6 + 5, 1},
    };
    for (const Case& c : cases) {
        auto body = Body(c.dataBytes);
        auto image = WaveBuilder()
                         .Riff()
                         .Format(c.tag, c.channels, 22050, c.bits)
                         .Chunk("data", body)
                         .Done();
        WaveInfo info{};
        ASSERT_TRUE(WaveParse(image.data(), uint32_t(image.size()), &info))
            << c.tag << "/" << c.bits << "/" << c.channels;
        EXPECT_EQ(info.format, c.format);
        EXPECT_EQ(info.channels, c.channels);
        EXPECT_EQ(info.bitsPerSample, c.bits);
        EXPECT_EQ(info.sampleRate, 22050);
        EXPECT_EQ(info.dataSize, int32_t(c.dataBytes));
        EXPECT_EQ(info.frameCount, c.frames);
        EXPECT_EQ(std::vector<uint8_t>(info.data, info.data + info.dataSize), body);
    }
}

TEST(WaveParse, WalksFromTheFormatChunkToTheFirstDataChunk) {
    auto body = Body(40);
    // A longer format chunk, two chunks to step over (one of odd size: no pad byte), and
    // whatever follows the data chunk.
    auto image = WaveBuilder()
                     .Riff()
                     .Format(1, 2, 44100, 16, 18)
                     .Chunk("LIST", Body(9))
                     .Chunk("fact", Body(4))
                     .Chunk("data", body)
                     .Chunk("data", Body(8))
                     .Chunk("junk", 0x7FFFFFF0, 2) // damaged, but after the data: never read
                     .Done();
    WaveInfo info{};
    ASSERT_TRUE(WaveParse(image.data(), uint32_t(image.size()), &info));
    EXPECT_EQ(info.frameCount, 10);
    EXPECT_EQ(info.data, image.data() + 12 + 26 + 17 + 12 + 8);
}

TEST(WaveParse, ReadsImagesAtAnyAddress) {
    auto image = Wave16({1, -2, 3, -4}, 2, 44100);
    for (size_t offset = 0; offset < 4; ++offset) {
        std::vector<uint8_t> buffer(offset);
        buffer.insert(buffer.end(), image.begin(), image.end());
        WaveInfo info{};
        ASSERT_TRUE(WaveParse(buffer.data() + offset, uint32_t(image.size()), &info)) << offset;
        EXPECT_EQ(info.frameCount, 2);
        EXPECT_EQ(info.sampleRate, 44100);
    }
}

TEST(WaveParse, RejectsWhatCannotBePlayedOrRunsPastTheEnd) {
    auto data = Body(16);
    auto good = [&] { return WaveBuilder().Riff().Format(1, 2, 44100, 16); };
    auto with = [](std::vector<uint8_t> image, size_t at, uint32_t value) {
        std::memcpy(image.data() + at, &value, 4);
        return image;
    };
    auto valid = good().Chunk("data", data).Done();
    auto riffx = valid;
    riffx[3] = 'X';

    struct Case {
        const char* what;
        std::vector<uint8_t> image;
        uint32_t size; // 0: the image's own length
    } cases[] = {
        {"not RIFF", riffx, 0},
        {"format chunk not first",
         WaveBuilder()
             .Riff()
             .Chunk("LIST", Body(4))
             .Format(1, 2, 44100, 16)
             .Chunk("data", data)
             .Done(),
         0},
        {"float of 64 bits",
         WaveBuilder().Riff().Format(3, 2, 44100, 64).Chunk("data", data).Done(), 0},
        {"extensible format",
         WaveBuilder().Riff().Format(0xFFFE, 2, 44100, 16, 40).Chunk("data", data).Done(), 0},
        {"PCM of 12 bits", WaveBuilder().Riff().Format(1, 2, 44100, 12).Chunk("data", data).Done(),
         0},
        {"no bits", WaveBuilder().Riff().Format(1, 2, 44100, 0).Chunk("data", data).Done(), 0},
        {"no channels", WaveBuilder().Riff().Format(1, 0, 44100, 16).Chunk("data", data).Done(), 0},
        {"too many channels",
         WaveBuilder().Riff().Format(1, 255, 44100, 8).Chunk("data", Body(510)).Done(), 0},
        {"no sample rate", WaveBuilder().Riff().Format(1, 2, 0, 16).Chunk("data", data).Done(), 0},
        {"negative sample rate",
         WaveBuilder().Riff().Format(1, 2, 0x80000000u, 16).Chunk("data", data).Done(), 0},
        {"no data chunk", good().Chunk("LIST", Body(8)).Done(), 0},
        {"empty data", good().Chunk("data", {}).Done(), 0},
        {"less than a frame", good().Chunk("data", Body(3)).Done(), 0},
        {"data past the end", good().Chunk("data", 17, 16).Done(), 0},
        {"negative data size", good().Chunk("data", 0xFFFFFFF0u, 16).Done(), 0},
        {"chunk past the end", good().Chunk("LIST", 1000, 8).Chunk("data", data).Done(), 0},
        {"chunk stepping back", good().Chunk("LIST", 0xFFFFFFE8u, 0).Chunk("data", data).Done(), 0},
        {"format chunk too short", with(valid, 16, 14), 0},
        {"format chunk past the end", with(valid, 16, 1000), 0},
        {"size cuts the data", valid, uint32_t(valid.size() - 1)},
        {"size cuts the header", valid, 19},
        {"empty", valid, 1},
    };
    for (const Case& c : cases) {
        WaveInfo info{};
        uint32_t size = c.size ? c.size : uint32_t(c.image.size());
        EXPECT_FALSE(WaveParse(c.image.data(), size, &info)) << c.what;
    }
    WaveInfo info{};
    EXPECT_TRUE(WaveParse(valid.data(), uint32_t(valid.size()), &info));
    EXPECT_FALSE(WaveParse(nullptr, 100, &info));
}

} // namespace
