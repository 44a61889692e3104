#include "channel/Tick.h"

#include <gtest/gtest.h>

TEST(TimeoutRule, StrikesOnlyWhenStrictlyGreater) {
    EXPECT_FALSE(TimeoutPassed(1000, 4000, 3000));
    EXPECT_TRUE(TimeoutPassed(1000, 4001, 3000));
    EXPECT_FALSE(TimeoutPassed(1000, 1000, 0));
    EXPECT_TRUE(TimeoutPassed(1000, 1001, 0));
}

TEST(TimeoutRule, UsesTheAbsoluteDifference) {
    EXPECT_FALSE(TimeoutPassed(4000, 1000, 3000));
    EXPECT_TRUE(TimeoutPassed(4001, 1000, 3000));
}

TEST(TimeoutRule, TickIsMonotonic) {
    const uint64_t first = TickMs();
    EXPECT_LE(first, TickMs());
}
