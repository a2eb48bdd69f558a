#include "widgets/MotionTracker.h"
#include "widgets/TileView.h"
#include "widgets/VirtualList.h"

#include <gtest/gtest.h>

using namespace qv;

TEST(MotionTracker, velocity_is_the_average_over_the_window_once_it_spans_long_enough)
{
    MotionTracker list(VirtualList::kPenMotion);
    list.press({ 0, 100 }, 1000);
    list.add({ 0, 60 }, 1040);
    EXPECT_EQ(list.velocity(), (MotionVelocity { 0, 0 })) << "40 ms is too little to tell";
    // 80 pixels up in 80 ms, negative: the pen went towards smaller y.
    list.add({ 0, 20 }, 1080);
    EXPECT_EQ(list.velocity(), (MotionVelocity { 0, -1000 }));
    // The zoom view tells a velocity from any span at all: 3 pixels in 2 ms.
    MotionTracker pen(TileView::kPenMotion);
    pen.press({ 0, 0 }, 0);
    pen.add({ 3, 0 }, 2);
    EXPECT_EQ(pen.velocity(), (MotionVelocity { 1500, 0 }));
}

TEST(MotionTracker, velocities_are_rounded_once_so_whole_ones_stay_whole)
{
    // 268 pixels in 67 ms is exactly 4000 per second; dividing by 0.067 s
    // instead comes out a hair short, and the list, which coasts at whole
    // pixels per second, would coast at 3999.
    EXPECT_EQ(average_velocity({ { 0, 0 }, 0 }, { { 268, -268 }, 67 }, 1), (MotionVelocity { 4000, -4000 }));
    // Across the wrap of the tick count: 100 pixels in 128 ms.
    EXPECT_EQ(average_velocity({ { 0, 0 }, 0xFFFFFFC0u }, { { 0, -100 }, 0x40u }, 50).y, -781.25);
    EXPECT_EQ(average_velocity({ { 0, 0 }, 5 }, { { 10, 0 }, 5 }, 0), (MotionVelocity {})) << "no time, no velocity";
}

TEST(MotionTracker, the_dead_zone_swallows_small_moves_until_the_first_one_outside)
{
    MotionTracker tracker(VirtualList::kPenMotion);
    tracker.press({ 50, 50 }, 0);
    EXPECT_FALSE(tracker.add({ 59, 41 }, 10).has_value());
    EXPECT_TRUE(tracker.in_dead_zone());
    // Ten pixels away on one axis is outside; the step counts from the press.
    EXPECT_EQ(tracker.add({ 50, 60 }, 20), (Point { 0, 10 }));
    EXPECT_FALSE(tracker.in_dead_zone());
    // From then on every move counts, however small.
    EXPECT_EQ(tracker.add({ 51, 62 }, 30), (Point { 1, 2 }));
    // A move without a press starts a gesture there, already dragging.
    MotionTracker stray(VirtualList::kPenMotion);
    EXPECT_FALSE(stray.add({ 10, 10 }, 0).has_value());
    EXPECT_EQ(stray.add({ 11, 10 }, 10), (Point { 1, 0 }));
}

TEST(MotionTracker, a_tap_is_a_gesture_that_never_strayed_past_the_slop)
{
    MotionTracker pen(TileView::kPenMotion);
    pen.press({ 100, 100 }, 0);
    pen.add({ 92, 103 }, 10);
    EXPECT_TRUE(pen.is_tap());
    // Farther on one axis only, and back to the press: the farthest counts.
    pen.add({ 100, 109 }, 20);
    pen.add({ 100, 100 }, 30);
    EXPECT_FALSE(pen.is_tap());
    // The dead zone's wobbles count too, though they make no step.
    MotionTracker list(VirtualList::kPenMotion);
    list.press({ 0, 0 }, 0);
    list.add({ 0, -9 }, 10);
    EXPECT_EQ(list.excursion(), 9);
}

TEST(MotionTracker, the_window_keeps_recent_samples_within_its_bounds)
{
    // The list's quarter second: the press is 300 ms old and dropped,
    // leaving 200 pixels down in 200 ms.
    MotionTracker list(VirtualList::kPenMotion);
    list.press({ 0, 0 }, 0);
    for (std::int32_t t = 100; t <= 300; t += 100)
        list.add({ 0, t }, t);
    EXPECT_EQ(list.velocity(), (MotionVelocity { 0, 1000 }));
    // A pause longer than the window leaves the last sample alone: no flick.
    list.add({ 0, 400 }, 700);
    EXPECT_EQ(list.velocity(), (MotionVelocity {}));
    // Its 25 samples at most, however quick.
    for (std::int32_t t = 701; t < 800; ++t)
        list.add({ 0, t }, t);
    EXPECT_EQ(list.samples().size(), 25u);

    // The zoom view keeps two samples however old: a slow steady drag still
    // flings at its last pace, 30 pixels in 300 ms.
    MotionTracker pen(TileView::kPenMotion);
    pen.press({ 0, 0 }, 0);
    pen.add({ 30, 0 }, 300);
    pen.add({ 60, 0 }, 600);
    EXPECT_EQ(pen.velocity(), (MotionVelocity { 100, 0 }));
}
