#include "app/preferences.h"
#include "runtime/environment.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

namespace fs = std::filesystem;

// Each test runs in a fresh folder of its own, which is the current directory meanwhile.
class SettingsFile : public testing::Test {
  protected:
    void SetUp() override {
        old_ = fs::current_path();
        folder_ = fs::temp_directory_path() /
                  ("morlett-app-test-" + std::to_string(reinterpret_cast<uintptr_t>(this)));
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        fs::current_path(folder_);
        PreferencesSetDefaults();
    }
    void TearDown() override {
        fs::current_path(old_);
        fs::remove_all(folder_);
        PreferencesSetDefaults();
    }
    static void Write(const std::string& text) {
        std::ofstream(std::string("morlett.json"), std::ios::binary) << text;
    }
    static std::string Read() {
        std::ifstream in(std::string("morlett.json"), std::ios::binary);
        if (!in) return "<missing>";
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    static std::string Values() {
        return std::to_string(gPreferences.beeptime) + "/" + std::to_string(gPreferences.forceOff) +
               "/" + std::to_string(gPreferences.runAsAdmin);
    }

  private:
    fs::path old_, folder_;
};

const char kDefaultFile[] = "{\r\n  \"forceOff\"  : 0,\r\n  \"runAsAdmin\": 0,\r\n"
                            "  \"beeptime\"  : 3000\r\n}";
const char kFloorFile[] = "{\r\n  \"forceOff\"  : 0,\r\n  \"runAsAdmin\": 0,\r\n"
                          "  \"beeptime\"  : 50\r\n}";

TEST_F(SettingsFile, WhatLoadingMakesOfTheFile) {
    const struct {
        const char* content; // null: no file
        const char* values;
    } cases[] = {
        {nullptr, "3000/0/0"},
        {R"({"forceOff":1})", "3000/1/0"},
        {R"({"beeptime":20})", "20/0/0"},
        {R"({"beeptime":-7,"forceOff":2,"runAsAdmin":1})", "-7/2/1"},
        {R"({"runAsAdmin":true,"colour":"red"})", "3000/0/1"},
        {"{}", "3000/0/0"},
        {"[1,2]", "3000/0/0"},
        {"12", "3000/0/0"},
        {"beeptime=20", "3000/0/0"},
        {R"({"beeptime":20)", "3000/0/0"},
        {"", "3000/0/0"},
    };
    for (const auto& c : cases) {
        fs::remove("morlett.json");
        if (c.content) Write(c.content);
        PreferencesSetDefaults();
        LoadSettings();
        EXPECT_EQ(Values(), c.values) << (c.content ? c.content : "no file");
        if (!c.content) {
            EXPECT_EQ(Read(), "<missing>") << "loading writes nothing";
        }
    }
}

TEST_F(SettingsFile, AFolderOfThatNameCountsAsNoFile) {
    fs::create_directory("morlett.json");
    gPreferences.beeptime = 20;
    LoadSettings();
    EXPECT_EQ(Values(), "20/0/0");
    // Saving cannot replace a folder; the value stays in effect all the same.
    EXPECT_FALSE(SaveSettings());
    EXPECT_TRUE(fs::is_directory("morlett.json"));
    EXPECT_TRUE(EnforceSpeedFloor());
    EXPECT_EQ(gPreferences.beeptime, 50);
}

TEST_F(SettingsFile, SavedBytes) {
    ASSERT_TRUE(SaveSettings());
    EXPECT_EQ(Read(), kDefaultFile);
    static_assert(sizeof kDefaultFile - 1 == 66);
    gPreferences.forceOff = 1;
    gPreferences.runAsAdmin = 1;
    gPreferences.beeptime = 250;
    ASSERT_TRUE(SaveSettings());
    EXPECT_EQ(Read(), "{\r\n  \"forceOff\"  : 1,\r\n  \"runAsAdmin\": 1,\r\n"
                      "  \"beeptime\"  : 250\r\n}");
}

TEST_F(SettingsFile, TheFloorRewritesTheFileWithTheThreeMembersOnly) {
    Write(R"({"extra":[1,2,3],"beeptime":20,"note":"mine"})");
    LoadSettings();
    EXPECT_TRUE(EnforceSpeedFloor());
    EXPECT_EQ(Values(), "50/0/0");
    EXPECT_EQ(Read(), kFloorFile);

    // At the floor nothing is written: the file keeps its own text.
    const char kOwn[] = R"({"beeptime":50,"note":"mine"})";
    Write(kOwn);
    PreferencesSetDefaults();
    LoadSettings();
    EXPECT_FALSE(EnforceSpeedFloor());
    EXPECT_EQ(Read(), kOwn);

    for (int64_t low : {int64_t{49}, int64_t{0}, int64_t{-1}, INT64_MIN}) {
        gPreferences.beeptime = low;
        EXPECT_TRUE(EnforceSpeedFloor()) << low;
        EXPECT_EQ(gPreferences.beeptime, 50) << low;
    }
}

} // namespace
