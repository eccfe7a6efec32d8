// The three settings, their defaults and the settings file "morlett.json" in the current
// directory (start-up makes that the program's folder before the first access).
#pragma once

#include <atomic>
#include <cstdint>

constexpr int64_t kDefaultBeeptime = 3000;
// The shortest warning interval: anything below would make the warnings one long noise.
constexpr int64_t kMinimumBeeptime = 50;
constexpr char16_t kSettingsFile[] = u"morlett.json";

// The watcher thread reads beeptime and forceOff while the menu writes them, so each is an
// atomic whole 64-bit value; no ordering between them is needed.
struct Preferences {
    std::atomic<int64_t> beeptime{kDefaultBeeptime};
    std::atomic<int64_t> forceOff{0};
    std::atomic<uint8_t> runAsAdmin{0};
};

extern Preferences gPreferences;

// Puts the defaults back: 3000, 0, 0.
void PreferencesSetDefaults();

// Reads the settings file over the current values. A missing file, a folder of that name,
// text that does not parse or a root that is not an object leave them as they are, and so
// does a member that is missing. No range check: start-up applies the floor.
void LoadSettings();

// Writes the three settings, replacing the whole file. False when the file could not be
// written; the values stay in effect in memory all the same.
[[nodiscard]] bool SaveSettings();

// Raises beeptime to the floor and saves when it was below; true when it had to.
bool EnforceSpeedFloor();
