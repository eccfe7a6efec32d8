#include "ui/events.h"
#include "ui/windows.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    RuntimeUse(EventQueueLibrary());
#ifdef _WIN32
    RuntimeUse(WindowLibrary());
#endif
    RuntimeInit();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
