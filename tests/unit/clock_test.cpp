#include "frame_loop.h"

#include <gtest/gtest.h>

TEST(Clock, ShowGoesOnAtExactlyTheEndTimeAndStopsOneMillisecondLater)
{
    start_demo_clock(5000);
    EXPECT_FALSE(demo_time_over(demo_time_at(5000 + 130000)));
    EXPECT_TRUE(demo_time_over(demo_time_at(5000 + 130001)));
    EXPECT_FALSE(demo_time_over(demo_time_at(5000 + 129999)));
    EXPECT_FALSE(demo_time_over(demo_time_at(5000)));
}

TEST(Clock, TimeCountsFromTheZeroPoint)
{
    start_demo_clock(123456);
    EXPECT_EQ(demo_time_at(123456), 0.0f);
    EXPECT_FLOAT_EQ(demo_time_at(123456 + 2500), 2.5f);
}

TEST(Clock, TimeSurvivesTheTickCounterWrapping)
{
    // SDL's 32-bit millisecond count wraps after 49.7 days of uptime: a show
    // started just before the wrap still sees a small positive time after it.
    start_demo_clock(0xFFFFFF00u);
    EXPECT_FLOAT_EQ(demo_time_at(0x00000100u), 0.512f);
    EXPECT_FALSE(demo_time_over(demo_time_at(0x00000100u)));
}
