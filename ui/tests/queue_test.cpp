#include "ui/events.h"
#include "ui/ui_internal.h"

#include <gtest/gtest.h>

TEST(EventQueue, EmptyQueuePollReturnsZero) {
    EXPECT_EQ(WaitEvent(0), 0);
}
