#include "app/keyboard_win.h"
#include "app/keyboard.h"

namespace {

constexpr WORD kCapsLockScanCode = 0x3A;
constexpr WORD kLeftShiftScanCode = 0x2A;

// Touched only by the watcher thread once it runs.
INPUT gCapsInputs[2];
INPUT gShiftInputs[2];
bool gFilled = false;

// Windows takes the key from the scan code alone when KEYEVENTF_SCANCODE is set, but Wine
// ignores a record without a virtual key, so both are given.
void FillPair(INPUT* pair, WORD vk, WORD scan) {
    for (int i = 0; i < 2; ++i) {
        pair[i] = {};
        pair[i].type = INPUT_KEYBOARD;
        pair[i].ki.wVk = vk;
        pair[i].ki.wScan = scan;
        pair[i].ki.dwFlags = KEYEVENTF_SCANCODE | (i == 1 ? KEYEVENTF_KEYUP : 0);
    }
}

void Fill() {
    if (gFilled) return;
    FillPair(gCapsInputs, VK_CAPITAL, kCapsLockScanCode);
    FillPair(gShiftInputs, VK_LSHIFT, kLeftShiftScanCode);
    gFilled = true;
}

} // namespace

static_assert(sizeof(INPUT) == 40, "SendInput is handed 40-byte records");

const INPUT* CapsLockInputs() {
    Fill();
    return gCapsInputs;
}

const INPUT* ShiftInputs() {
    Fill();
    return gShiftInputs;
}

bool CapsLockIsOn() {
    return (GetKeyState(VK_CAPITAL) & 1) != 0;
}

void SendCapsLockPress() {
    // The result is not looked at: when the press goes nowhere, the watcher sees Caps Lock
    // still on and tries again later.
    SendInput(2, const_cast<INPUT*>(CapsLockInputs()), sizeof(INPUT));
}

void SendShiftPress() {
    SendInput(2, const_cast<INPUT*>(ShiftInputs()), sizeof(INPUT));
}
