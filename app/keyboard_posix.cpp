#include "app/keyboard_posix.h"
#include "app/keyboard.h"

#include <atomic>

namespace {

std::atomic<bool> gCapsOn{false};
std::atomic<bool> gShiftLock{false};
std::atomic<int64_t> gCapsPresses{0};
std::atomic<int64_t> gShiftPresses{0};

} // namespace

void SimulatedKeyboard(bool capsOn, bool shiftLock) {
    gShiftLock = shiftLock;
    gCapsPresses = 0;
    gShiftPresses = 0;
    gCapsOn = capsOn;
}

int64_t SimulatedCapsPresses() {
    return gCapsPresses;
}

int64_t SimulatedShiftPresses() {
    return gShiftPresses;
}

bool CapsLockIsOn() {
    return gCapsOn;
}

void SendCapsLockPress() {
    ++gCapsPresses;
    if (!gShiftLock || !gCapsOn) gCapsOn = !gCapsOn;
}

void SendShiftPress() {
    ++gShiftPresses;
    if (gShiftLock) gCapsOn = false;
}
