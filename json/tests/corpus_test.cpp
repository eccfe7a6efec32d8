// Replays the fuzz target's seed corpus as an ordinary test.
#include "test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

TEST(JsonCorpusTest, EverySeedRoundTrips) {
    namespace fs = std::filesystem;
    std::error_code error;
    int replayed = 0;
    for (const fs::directory_entry& entry : fs::directory_iterator(JSON_CORPUS_DIR, error)) {
        std::ifstream in(entry.path(), std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), {});
        EXPECT_EQ(JsonRoundTrip(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), "")
            << entry.path().filename().string();
        ++replayed;
    }
    EXPECT_FALSE(error) << error.message();
    EXPECT_GT(replayed, 10);
}

} // namespace
