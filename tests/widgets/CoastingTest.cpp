#include "widgets/Coasting.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace qv;

TEST(Coasting, a_fling_at_the_cap_coasts_about_three_seconds_and_an_edge_cuts_it_short)
{
    constexpr double kFrame = 1.0 / 60;
    auto const seconds_to_stop = [](auto slow_down) {
        double speed = 2000, seconds = 0;
        for (; speed > 0 && seconds < 100; seconds += kFrame)
            speed = slow_down(speed);
        return seconds;
    };
    double const free = seconds_to_stop([](double speed) { return coasted_speed(speed, kFrame); });
    // ds/dt = -(2s + 9) stops after ln((s0 + 4.5) / 4.5) / 2 seconds: 3.05 s
    // from 2000 pixels per second. Steps of a frame stop a little sooner.
    double const exact = std::log((2000 + 4.5) / 4.5) / 2;
    EXPECT_LT(free, exact + kFrame);
    EXPECT_GT(free, exact - 0.1);
    // Right at an edge it pulls already, and harder the farther past it.
    auto const past_edge = [&](double overscroll) {
        return seconds_to_stop([=](double speed) {
            return edge_pulled_speed(coasted_speed(speed, kFrame), overscroll, kFrame);
        });
    };
    EXPECT_LT(past_edge(0), free);
    EXPECT_LT(past_edge(100), past_edge(0) / 4);
}
