#include "app/keyboard_win.h"

#include <gtest/gtest.h>

namespace {

// Wine drops keyboard records without a virtual key; Windows takes the scan code alone when
// KEYEVENTF_SCANCODE is set. Both records carry both.
TEST(KeyInputs, PressAndReleaseCarryKeyAndScanCode) {
    const struct {
        const INPUT* pair;
        WORD vk, scan;
    } cases[] = {{CapsLockInputs(), VK_CAPITAL, 0x3A}, {ShiftInputs(), VK_LSHIFT, 0x2A}};
    for (const auto& c : cases) {
        for (int i = 0; i < 2; ++i) {
            const INPUT& in = c.pair[i];
            EXPECT_EQ(in.type, DWORD(INPUT_KEYBOARD));
            EXPECT_EQ(in.ki.wVk, c.vk);
            EXPECT_EQ(in.ki.wScan, c.scan);
            EXPECT_EQ(in.ki.dwFlags, DWORD(i == 0 ? 8 : 0x0A));
            EXPECT_EQ(in.ki.time, 0u);
            EXPECT_EQ(in.ki.dwExtraInfo, 0u);
        }
    }
}

} // namespace
