#include "common/tick_count.h"

#include <gtest/gtest.h>

TEST(TickCount, FollowsTheCountAndCarriesEachWrapIntoTheHighHalf) {
    const uint64_t wrap = uint64_t{1} << 32;
    EXPECT_EQ(ExtendTickCount(0, 0), 0u);
    EXPECT_EQ(ExtendTickCount(0, 1234), 1234u);
    EXPECT_EQ(ExtendTickCount(1234, 1234), 1234u);  // asked twice within a millisecond
    EXPECT_EQ(ExtendTickCount(0xFFFFFF00u, 0xFFFFFFFFu), 0xFFFFFFFFu);
    EXPECT_EQ(ExtendTickCount(0xFFFFFFFFu, 0), wrap);
    EXPECT_EQ(ExtendTickCount(0xFFFFFFF0u, 5), wrap + 5);
    EXPECT_EQ(ExtendTickCount(wrap + 5, 7), wrap + 7);
    EXPECT_EQ(ExtendTickCount(3 * wrap + 0x80000000u, 0x10u), 4 * wrap + 0x10u);
}
