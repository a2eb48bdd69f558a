#pragma once

// Follows the stylus through one gesture and tells how fast it moved at the
// end. Pure: the caller passes every position with its millisecond tick, so
// tests drive it with explicit ticks.

#include "imaging/Rect.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace qv {

struct MotionSample {
    Point position;
    std::uint32_t tick { 0 };
};

class MotionTracker {
public:
    static constexpr std::size_t kMaxSamples = 25;
    // A wobble this small around the press is not a drag yet.
    static constexpr std::int32_t kDeadZone = 10;
    // Only the last quarter second counts towards the velocity, and a span
    // shorter than this is too little to tell a flick from a tap.
    static constexpr std::uint32_t kWindowMs = 250;
    static constexpr std::uint32_t kMinSpanMs = 50;

    // Starts a gesture: the press is the first sample and the dead zone begins.
    void press(Point position, std::uint32_t tick);
    // The step from the previous accepted sample, or nothing when the dead
    // zone swallows the sample.
    std::optional<Point> add(Point position, std::uint32_t tick);

    // Pixels per second, positive when moving towards smaller coordinates.
    Point velocity() const { return m_velocity; }
    bool in_dead_zone() const { return m_dead_zone; }
    Point press_position() const { return m_press; }
    std::vector<MotionSample> const& samples() const { return m_samples; }

private:
    void update_velocity();

    std::vector<MotionSample> m_samples;
    Point m_velocity;
    Point m_press;
    Point m_last;
    bool m_dead_zone { false };
    bool m_started { false };
};

}
