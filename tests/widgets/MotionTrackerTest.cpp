#include "widgets/MotionTracker.h"

#include <gtest/gtest.h>

using namespace qv;

TEST(MotionTracker, samples_under_fifty_milliseconds_apart_give_no_velocity)
{
    MotionTracker tracker;
    tracker.press({ 0, 100 }, 1000);
    tracker.add({ 0, 60 }, 1040);
    EXPECT_EQ(tracker.velocity(), (Point { 0, 0 }));
    // Once the span reaches 50 ms the velocity is the whole span's average,
    // positive towards smaller coordinates: 80 pixels up in 80 ms.
    tracker.add({ 0, 20 }, 1080);
    EXPECT_EQ(tracker.velocity(), (Point { 0, 1000 }));
}

TEST(MotionTracker, the_dead_zone_swallows_small_moves_until_the_first_one_outside)
{
    MotionTracker tracker;
    tracker.press({ 50, 50 }, 0);
    EXPECT_FALSE(tracker.add({ 59, 41 }, 10).has_value());
    EXPECT_TRUE(tracker.in_dead_zone());
    // Ten pixels away on one axis is outside; the step counts from the press.
    auto step = tracker.add({ 50, 60 }, 20);
    ASSERT_TRUE(step.has_value());
    EXPECT_EQ(*step, (Point { 0, 10 }));
    EXPECT_FALSE(tracker.in_dead_zone());
    // From then on every move counts, however small.
    step = tracker.add({ 51, 62 }, 30);
    ASSERT_TRUE(step.has_value());
    EXPECT_EQ(*step, (Point { 1, 2 }));
}

TEST(MotionTracker, only_the_last_quarter_second_counts)
{
    MotionTracker tracker;
    tracker.press({ 0, 0 }, 0);
    tracker.add({ 0, 100 }, 100);
    tracker.add({ 0, 200 }, 200);
    tracker.add({ 0, 300 }, 300);
    // The press is 300 ms old and dropped: 200 pixels down in 200 ms.
    EXPECT_EQ(tracker.samples().front().tick, 100u);
    EXPECT_EQ(tracker.velocity(), (Point { 0, -1000 }));
}

TEST(MotionTracker, spans_are_measured_across_the_wrap_of_the_tick_count)
{
    MotionTracker tracker;
    tracker.press({ 0, 0 }, 0xFFFFFFC0u);
    tracker.add({ 0, -100 }, 0x40u);
    // 128 ms passed: 100 pixels up is 781 pixels per second (integer division).
    EXPECT_EQ(tracker.velocity(), (Point { 0, 100 * 1000 / 128 }));
}
