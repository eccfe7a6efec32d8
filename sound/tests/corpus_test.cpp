// Replays the fuzz target's corpus: every file loads or is refused, without a fault, and
// what loads plays.
#include "sound_test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

TEST(SoundCorpus, EveryImageLoadsOrIsRefusedSafely) {
    UseOutput(SoundOutput::NoDevice);
    int files = 0, loaded = 0;
    for (const auto& entry : std::filesystem::directory_iterator(SOUND_CORPUS_DIR)) {
        std::ifstream in(entry.path(), std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
        ++files;
        // A copy of exactly the file's length, so that a read past it is caught.
        std::vector<uint8_t> image(bytes);
        if (SoundLoadMemory(0, image.data(), uint32_t(image.size())) == 0) continue;
        ++loaded;
        EXPECT_GT(SoundGetFrequency(0), 0) << entry.path();
        EXPECT_EQ(SoundPlay(0, 0, 100), 1) << entry.path();
        Pull(64);
        SoundFree(0);
    }
    EXPECT_GE(files, 8);
    EXPECT_GE(loaded, 4) << "the clips at least";
}

} // namespace
