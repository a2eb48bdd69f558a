#include "widgets/Coasting.h"

#include <algorithm>

namespace qv {

namespace {

// How hard an edge pulls, per pixel of overscroll and second.
constexpr double kEdgePull = 50;

}

double coasted_speed(double speed, double seconds, double brake)
{
    return std::max(0.0, speed - (2 * speed + 9) * brake * seconds);
}

double edge_pulled_speed(double speed, double overscroll, double seconds)
{
    return std::max(0.0, speed - (overscroll + 1) * seconds * kEdgePull);
}

double resisted_step(double step, double overscroll, double extent)
{
    if (overscroll <= 0 || extent <= 0)
        return step;
    return step * std::max(0.0, 1 - 2 * overscroll / extent);
}

}
