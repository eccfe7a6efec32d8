// The Caps Lock watcher: a thread that looks at Caps Lock about once a millisecond and
// warns while it is on, chimes once when it goes off, or switches it off at once.
#pragma once

#include <cstdint>

enum class WatchAction {
    Nothing,
    Warn,       // play the warning beep, without waiting
    Release,    // play the release chime and wait for its end
    PressCaps,  // send a Caps Lock press and release
    PressShift, // send a Shift press and release
};

// What one pass remembers for the next.
struct WatchState {
    int64_t last;    // when the last warning was due (the clock of the passes)
    int64_t pressAt; // when the last force-off press went out; -1 when none is pending
    int32_t presses; // force-off presses sent since Caps Lock was last seen off
};

// A force-off press normally shows within a few milliseconds; until it does, the toggle
// still reads on, and another press would switch Caps Lock back on. So while Caps Lock
// stays on, each further press waits twice as long as the one before, from the first wait
// up to the maximum. The second press is Caps Lock again: the first one goes nowhere while
// the user still holds the key down. From the third on, Shift and Caps Lock take turns, for
// systems set so that Shift ends Caps Lock.
constexpr int64_t kFirstPressWaitMs = 10;
constexpr int64_t kMaximumPressWaitMs = 1000;

// The state of a watcher that starts at now: the first warning comes beeptime later, and
// Caps Lock found off at once plays the release chime.
WatchState WatchStart(int64_t now);

// One pass at now with the toggle read as capsOn; updates state and says what to do. After
// Release the next pass treats the chime as played (the chime's own time is not counted).
WatchAction WatchDecide(WatchState* state, int64_t now, bool capsOn, int64_t beeptime,
                        bool forceOff);

// The thread procedure (the argument is ignored). It runs until StopCapsWatcher and then
// parks without touching the runtime's heaps, until AllowCapsWatcherAgain lets it run on.
void CapsWatcher(intptr_t argument);

// The passes alone, until StopCapsWatcher; what CapsWatcher runs before it parks.
void CapsWatcherLoop();

// Asks the watcher to stop and waits, at most timeoutMs, until it is out of its passes.
// True when it stopped (or never ran). AllowCapsWatcherAgain lets a new loop run after it.
bool StopCapsWatcher(int64_t timeoutMs = 2000);
void AllowCapsWatcherAgain();
