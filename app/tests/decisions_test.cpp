#include "app/commands.h"
#include "app/watcher.h"
#include "runtime/environment.h"
#include "runtime/strings.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

std::string Narrow(const char16_t* text) {
    return std::string(text, text + StringLength(text));
}

// ---- The watcher's passes on a scripted clock ----------------------------------------------

// How the system answers the presses: a Caps Lock press toggles; where Shift ends Caps
// Lock it does not; while the user still holds the key the first press is lost; a dead
// keyboard takes nothing.
enum class Keys { Normal, ShiftEndsCapsLock, HeldDown, Dead };

struct Script {
    const char* name;
    int64_t beeptime;
    bool forceOff;
    bool capsAtStart;
    std::vector<std::pair<int64_t, bool>> capsChanges; // (time, on) made by the user
    std::vector<std::pair<int64_t, int64_t>> speedChanges;
    int64_t until;
    Keys keys = Keys::Normal;
    // (time, length): the machine sleeps; no pass runs, and the clock reads that much later
    // at the next one.
    std::vector<std::pair<int64_t, int64_t>> sleeps = {};
};

struct Step {
    int64_t at;
    WatchAction action;
};

bool operator==(const Step& a, const Step& b) {
    return a.at == b.at && a.action == b.action;
}

std::string Show(const std::vector<Step>& steps) {
    static const char* names[] = {"nothing", "warn", "release", "caps", "shift"};
    std::string out;
    for (const Step& s : steps) out += std::to_string(s.at) + " " + names[int(s.action)] + "; ";
    return out;
}

constexpr int64_t kReleaseChimeMs = 127;

// The thread starts at time 0 and passes once a millisecond; the release chime holds the
// thread for its length. Synthetic presses act on the keyboard at once.
std::vector<Step> Replay(const Script& script) {
    std::vector<Step> steps;
    WatchState state = WatchStart(0);
    bool caps = script.capsAtStart;
    int64_t beeptime = script.beeptime;
    size_t nextCaps = 0, nextSpeed = 0, nextSleep = 0;
    int heldPresses = 0;
    for (int64_t now = 1; now <= script.until; ++now) {
        if (nextSleep < script.sleeps.size() && script.sleeps[nextSleep].first <= now)
            now += script.sleeps[nextSleep++].second;
        while (nextCaps < script.capsChanges.size() && script.capsChanges[nextCaps].first <= now)
            caps = script.capsChanges[nextCaps++].second;
        while (nextSpeed < script.speedChanges.size() &&
               script.speedChanges[nextSpeed].first <= now)
            beeptime = script.speedChanges[nextSpeed++].second;
        WatchAction action = WatchDecide(&state, now, caps, beeptime, script.forceOff);
        if (action == WatchAction::Nothing) continue;
        steps.push_back({now, action});
        if (action == WatchAction::Release) now += kReleaseChimeMs;
        if (action == WatchAction::PressCaps &&
            (script.keys == Keys::Normal || (script.keys == Keys::HeldDown && ++heldPresses > 1)))
            caps = !caps;
        if (action == WatchAction::PressShift && script.keys == Keys::ShiftEndsCapsLock)
            caps = false;
    }
    return steps;
}

using A = WatchAction;

TEST(WatcherPasses, ScriptedClock) {
    const struct {
        Script script;
        std::vector<Step> expect;
    } cases[] = {
        {{"start with Caps Lock off: one release chime", 3000, false, false, {}, {}, 20000},
         {{1, A::Release}}},
        {{"start with Caps Lock on: first warning a whole interval later",
          3000,
          false,
          true,
          {},
          {},
          9500},
         {{3000, A::Warn}, {6000, A::Warn}, {9000, A::Warn}}},
        {{"on after a long idle: at once, then every interval",
          500,
          false,
          false,
          {{60000, true}},
          {},
          61200},
         {{1, A::Release}, {60000, A::Warn}, {60500, A::Warn}, {61000, A::Warn}}},
        {{"off two seconds after on: one chime, nothing more",
          3000,
          false,
          false,
          {{10000, true}, {12000, false}},
          {},
          30000},
         {{1, A::Release}, {10000, A::Warn}, {12000, A::Release}}},
        {{"off just when the next warning is due: no chime",
          3000,
          false,
          false,
          {{10000, true}, {13000, false}},
          {},
          30000},
         {{1, A::Release}, {10000, A::Warn}}},
        {{"off a pass before it: the chime",
          3000,
          false,
          false,
          {{10000, true}, {12999, false}},
          {},
          30000},
         {{1, A::Release}, {10000, A::Warn}, {12999, A::Release}}},
        {{"a slower speed counts from the last warning",
          3000,
          false,
          false,
          {{10000, true}},
          {{11000, 5000}},
          20500},
         {{1, A::Release}, {10000, A::Warn}, {15000, A::Warn}, {20000, A::Warn}}},
        {{"a faster speed that is already overdue warns at once",
          3000,
          false,
          false,
          {{10000, true}},
          {{11000, 400}},
          11900},
         {{1, A::Release}, {10000, A::Warn}, {11000, A::Warn}, {11400, A::Warn}, {11800, A::Warn}}},
        {{"a speed beyond any lifetime: one warning per switch-on",
          INT64_MAX,
          false,
          false,
          {{5000, true}, {6000, false}, {7000, true}},
          {},
          9000},
         {{1, A::Release}, {5000, A::Warn}, {6000, A::Release}, {7000, A::Warn}}},
        {{"force-off: one press, no sound", 3000, true, false, {{10000, true}}, {}, 20000},
         {{1, A::Release}, {10000, A::PressCaps}}},
        {{"force-off with Caps Lock on at start: press, then the chime",
          3000,
          true,
          true,
          {},
          {},
          5000},
         {{1, A::PressCaps}, {2, A::Release}}},
        {{"force-off where Shift ends Caps Lock: Shift after a while",
          3000,
          true,
          false,
          {{10000, true}},
          {},
          20000,
          Keys::ShiftEndsCapsLock},
         {{1, A::Release}, {10000, A::PressCaps}, {10010, A::PressCaps}, {10030, A::PressShift}}},
        {{"force-off while the user still holds the key: a second press",
          3000,
          true,
          false,
          {{10000, true}},
          {},
          20000,
          Keys::HeldDown},
         {{1, A::Release}, {10000, A::PressCaps}, {10010, A::PressCaps}}},
        {{"force-off that never takes: alternating, further and further apart",
          3000,
          true,
          false,
          {{10000, true}},
          {},
          12000,
          Keys::Dead},
         {{1, A::Release},
          {10000, A::PressCaps},
          {10010, A::PressCaps},
          {10030, A::PressShift},
          {10070, A::PressCaps},
          {10150, A::PressShift},
          {10310, A::PressCaps},
          {10630, A::PressShift},
          {11270, A::PressCaps}}},
        // Sleep: the clock jumps by hours between two passes. The Caps Lock state the user left
        // (or changed while the machine slept) is what the first pass after it sees.
        {{"asleep with Caps Lock on: one warning on waking, then every interval",
          500,
          false,
          false,
          {{10000, true}},
          {},
          3600000 + 11700,
          Keys::Normal,
          {{10600, 3600000}}},
         {{1, A::Release},
          {10000, A::Warn},
          {10500, A::Warn},
          {3600000 + 10600, A::Warn},
          {3600000 + 11100, A::Warn},
          {3600000 + 11600, A::Warn}}},
        {{"asleep with Caps Lock off: nothing on waking",
          500,
          false,
          false,
          {},
          {},
          3600000 + 20000,
          Keys::Normal,
          {{10000, 3600000}}},
         {{1, A::Release}}},
        {{"switched off while asleep: no chime for a release long past",
          500,
          false,
          false,
          {{10000, true}, {3600000 + 10100, false}},
          {},
          3600000 + 20000,
          Keys::Normal,
          {{10200, 3600000}}},
         {{1, A::Release}, {10000, A::Warn}}},
        {{"switched on while asleep: warned about on waking",
          3000,
          false,
          false,
          {{3600000 + 9000, true}},
          {},
          3600000 + 16500,
          Keys::Normal,
          {{10000, 3600000}}},
         {{1, A::Release},
          {3600000 + 10000, A::Warn},
          {3600000 + 13000, A::Warn},
          {3600000 + 16000, A::Warn}}},
    };
    for (const auto& c : cases) {
        std::vector<Step> got = Replay(c.script);
        EXPECT_EQ(got, c.expect) << c.script.name << "\n  got:    " << Show(got)
                                 << "\n  wanted: " << Show(c.expect);
    }
}

TEST(WatcherPasses, ForceOffThatNeverTakesStaysRare) {
    Script script{"dead keyboard for ten minutes", 3000, true, true, {}, {}, 600000, Keys::Dead};
    std::vector<Step> got = Replay(script);
    // At most one pair a second once it has backed off, never one a millisecond.
    EXPECT_LT(got.size(), 610u);
    EXPECT_GT(got.size(), 590u);
}

// ---- Speed dialog and command line ---------------------------------------------------------

TEST(MenuEntries, SpeedDialogText) {
    ScratchMark mark;
    const struct {
        const char16_t* text;
        int64_t speed;
    } cases[] = {
        {u"250", 250},    {u"10", 50},
        {u"0", 50},       {u"-5", 50},
        {u"", 50},        {nullptr, 50},
        {u"letters", 50}, {u" 300ms", 300},
        {u"$100", 256},   {u"%101", 50},
        {u"\t 75", 75},   {u"50", 50},
        {u"49", 50},      {u"9000000000", 9000000000},
    };
    // "%101" is 5 in binary: below the floor like any other small entry.
    for (const auto& c : cases)
        EXPECT_EQ(SpeedFromEntry(c.text), c.speed) << (c.text ? Narrow(c.text) : "null");
}

TEST(MenuEntries, SwitchesTurnAnyNonzeroValueOff) {
    for (auto [from, to] : {std::pair<int64_t, int64_t>{0, 1},
                            {1, 0},
                            {2, 0},
                            {3, 0},
                            {-1, 0},
                            {255, 0},
                            {INT64_MIN, 0}})
        EXPECT_EQ(Switched(from), to) << from;
}

TEST(CommandLine, OnlyTheWholeLineSilentSilencesTheStart) {
    const struct {
        const char16_t* line;
        bool silent;
    } cases[] = {
        {u"morlett.exe /silent", true},
        {u"morlett.exe /SILENT", true},
        {u"morlett.exe /Silent   ", true},
        {u"morlett.exe \"/silent\"", true},
        {u"\"C:\\Program Files\\m\\morlett.exe\" /sIlEnT", true},
        {u"morlett.exe", false},
        {u"morlett.exe /silent x", false},
        {u"morlett.exe x /silent", false},
        {u"morlett.exe -silent", false},
        {u"morlett.exe /silentx", false},
        {u"morlett.exe \"/silent \"", true},
    };
    for (const auto& c : cases) {
        // The parameter cursor belongs to the thread: a fresh thread per line.
        bool silent = false;
        std::thread([&] {
            EnvironmentUseCommandLine(c.line);
            ScratchMark mark;
            silent = IsSilentStart(BuildParameterLine());
        }).join();
        EXPECT_EQ(silent, c.silent) << Narrow(c.line);
    }
    EnvironmentUseCommandLine(nullptr);
}

} // namespace
