#include "app/watcher.h"

#include "app/keyboard.h"
#include "app/play.h"
#include "app/preferences.h"
#include "runtime/clock.h"

#include <atomic>

namespace {

std::atomic<bool> gStopRequested{false};
std::atomic<int> gLoopsRunning{0};
// How often a stopped watcher looks whether it may run again.
constexpr uint32_t kParkedCheckMs = 20;

// now - then, or the largest value where that would overflow: a speed hand-edited to the
// far future puts the last warning far in the past.
int64_t Since(int64_t now, int64_t then) {
    if (then < 0 && now > INT64_MAX + then) return INT64_MAX;
    return now - then;
}

} // namespace

WatchState WatchStart(int64_t now) {
    return {now, -1, 0};
}

WatchAction WatchDecide(WatchState* state, int64_t now, bool capsOn, int64_t beeptime,
                        bool forceOff) {
    if (capsOn && forceOff) {
        // The warning time is left alone: should Caps Lock go off before a warning was due,
        // the release chime still plays, as it would without force-off.
        if (state->pressAt >= 0) {
            int32_t doublings = state->presses - 1 < 7 ? state->presses - 1 : 7;
            int64_t wait = kFirstPressWaitMs << doublings;
            if (wait > kMaximumPressWaitMs) wait = kMaximumPressWaitMs;
            if (now - state->pressAt < wait) return WatchAction::Nothing;
        }
        state->pressAt = now;
        bool shift = state->presses >= 2 && state->presses % 2 == 0;
        if (state->presses < INT32_MAX) ++state->presses;
        return shift ? WatchAction::PressShift : WatchAction::PressCaps;
    }
    state->presses = 0;
    state->pressAt = -1;
    if (capsOn) {
        if (Since(now, state->last) < beeptime) return WatchAction::Nothing;
        state->last = now;
        return WatchAction::Warn;
    }
    if (Since(now, state->last) >= beeptime) return WatchAction::Nothing;
    // The chime plays once: afterwards the last warning lies a whole interval back, so the
    // next switch-on is warned about in the first pass that sees it.
    state->last = now - beeptime;
    return WatchAction::Release;
}

namespace {

// The passes until StopCapsWatcher, carrying on from state.
void RunPasses(WatchState& state) {
    ++gLoopsRunning;
    while (!gStopRequested.load(std::memory_order_acquire)) {
        SleepMs(1);
        int64_t now = ElapsedMs();
        switch (WatchDecide(&state, now, CapsLockIsOn(),
                            gPreferences.beeptime.load(std::memory_order_relaxed),
                            gPreferences.forceOff.load(std::memory_order_relaxed) != 0)) {
        case WatchAction::Nothing:
            break;
        case WatchAction::Warn:
            PlayChime(Chime::Warning);
            break;
        case WatchAction::Release:
            PlayChime(Chime::Release);
            break;
        case WatchAction::PressCaps:
            SendCapsLockPress();
            break;
        case WatchAction::PressShift:
            SendShiftPress();
            break;
        }
    }
    --gLoopsRunning;
}

} // namespace

void CapsWatcherLoop() {
    WatchState state = WatchStart(ElapsedMs());
    RunPasses(state);
}

void CapsWatcher(intptr_t) {
    // Stopped, the thread parks until it is allowed again (a restart that did not launch)
    // and then carries on where it was (no second release chime). It never returns:
    // returning would run the thread's end clean-up on the runtime's heaps while the main
    // thread destroys them; the process exit ends this thread instead.
    WatchState state = WatchStart(ElapsedMs());
    for (;;) {
        RunPasses(state);
        while (gStopRequested.load(std::memory_order_acquire)) SleepMs(kParkedCheckMs);
    }
}

bool StopCapsWatcher(int64_t timeoutMs) {
    gStopRequested.store(true, std::memory_order_release);
    int64_t deadline = ElapsedMs() + timeoutMs;
    while (gLoopsRunning.load() > 0) {
        if (ElapsedMs() >= deadline) return false;
        SleepMs(1);
    }
    return true;
}

void AllowCapsWatcherAgain() {
    gStopRequested.store(false, std::memory_order_release);
}
