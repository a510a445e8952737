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

TEST(TickCount, TimeSinceAnEarlierReadingAcrossTheWrapAndNoneFromALaterOne) {
    EXPECT_EQ(TicksSince(5000, 1000), 4000u);
    EXPECT_EQ(TicksSince(5, 0xFFFFFFF0u), 21u);  // across the wrap
    EXPECT_EQ(TicksSince(1000, 1000), 0u);
    // Another thread read the count after this one: the byte arrived after "now", not 49 days
    // before it (a stall limit once fired half a second into a download this way).
    EXPECT_EQ(TicksSince(1000, 1016), 0u);
    EXPECT_EQ(TicksSince(0xFFFFFFF0u, 5), 0u);
}
