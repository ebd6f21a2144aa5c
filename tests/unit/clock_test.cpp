#include "frame_loop.h"

#include <gtest/gtest.h>

TEST(Clock, ConvertsMillisecondsToSeconds)
{
    EXPECT_EQ(ms2time(0), 0.0f);
    EXPECT_EQ(ms2time(1000), 1.0f);
    EXPECT_FLOAT_EQ(ms2time(16), 0.016f);
    EXPECT_FLOAT_EQ(ms2time(65500), 65.5f);
}

TEST(Clock, ShowGoesOnAtExactlyTheEndTimeAndStopsOneMillisecondLater)
{
    EXPECT_EQ(ms2time(130000), 130.0f);
    EXPECT_FALSE(demo_time_over(ms2time(130000)));
    EXPECT_TRUE(demo_time_over(ms2time(130001)));
    EXPECT_FALSE(demo_time_over(ms2time(129999)));
    EXPECT_FALSE(demo_time_over(0.0f));
}

TEST(Clock, ElapsedTimeSurvivesTheTickCounterWrapping)
{
    // The loop subtracts in unsigned 32-bit arithmetic: a start just before the
    // wrap still gives a small positive time.
    Uint32 start = 0xFFFFFF00u;
    Uint32 now = 0x00000100u;
    EXPECT_FLOAT_EQ(ms2time(now - start), 0.512f);
}
