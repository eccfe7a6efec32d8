#include "runtime/clock.h"
#include "runtime/runtime.h"
#include "runtime/threads.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

#define RELEASE_STEP(name)                                                                         \
    [] {                                                                                           \
        std::fputs(name " ", stderr);                                                              \
        std::fflush(stderr);                                                                       \
    }

void ShutdownWithEveryLibrary() {
    // Registered in start-up order; released in the shutdown order whatever the order here.
    RuntimeUse({RuntimeLibraryId::EventQueue, nullptr, RELEASE_STEP("events")});
    RuntimeUse({RuntimeLibraryId::Images, nullptr, RELEASE_STEP("images")});
    RuntimeUse({RuntimeLibraryId::Json, nullptr, RELEASE_STEP("json")});
    RuntimeUse({RuntimeLibraryId::TrayIcons, nullptr, RELEASE_STEP("tray")});
    RuntimeUse({RuntimeLibraryId::Ole, nullptr, RELEASE_STEP("ole")});
    RuntimeUse({RuntimeLibraryId::Windows, nullptr, RELEASE_STEP("windows")});
    RuntimeUse({RuntimeLibraryId::Sound, nullptr, RELEASE_STEP("sound")});
    RuntimeUse({RuntimeLibraryId::Menus, nullptr, RELEASE_STEP("menus")}); // ends with the process
    // A thread that outlives the shutdown: it is neither waited for nor stopped.
    ThreadStart(
        [](intptr_t) {
            for (;;) SleepMs(1);
        },
        0);
    std::fputs("begin ", stderr);
    RuntimeShutdown();
}

using RuntimeShutdownDeathTest = testing::Test;

TEST_F(RuntimeShutdownDeathTest, ReleasesInOrderAndExitsWithZero) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(ShutdownWithEveryLibrary(), testing::ExitedWithCode(0),
                "^begin sound windows ole tray json images events $");
}

TEST_F(RuntimeShutdownDeathTest, ExitsWithZeroWhenLittleWasStarted) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(RuntimeShutdown(), testing::ExitedWithCode(0), "");
}

} // namespace
