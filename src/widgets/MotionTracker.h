#pragma once

// Follows the pen through one gesture: the steps it makes, how far it ever
// strayed from the press (a tap or a drag), and how fast it moved at the end.
// Every element that is dragged and flung keeps one, set up with the
// constants that give that element its feel. Pure: the caller passes every
// position with its millisecond tick, so tests drive it with explicit ticks.
// No lock: one thread at a time, in practice the user-interface thread.
// Never fails; a velocity it cannot tell (one sample, too short a span) is
// zero.

#include "imaging/Rect.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

namespace qv {

struct MotionSample {
    Point position;
    std::uint32_t tick { 0 };
};

// Pixels per second on each axis, positive in the direction the pen went.
struct MotionVelocity {
    double x { 0 };
    double y { 0 };
    friend bool operator==(MotionVelocity, MotionVelocity) = default;
};

struct MotionSettings {
    // Moves closer to the press than this on both axes are a wobble, not a
    // drag yet: their steps are swallowed. 0 lets every move count.
    std::int32_t dead_zone { 0 };
    // A gesture that never strays farther than this from its press, on
    // either axis, is a tap.
    std::int32_t tap_slop { 0 };
    // The velocity is read over the samples of the last window_ms only, yet
    // over at least min_samples of them however old, and at most max_samples.
    std::uint32_t window_ms { 0 };
    std::size_t min_samples { 1 };
    std::size_t max_samples { std::numeric_limits<std::size_t>::max() };
    // A shorter span is too little to tell a flick from a tap.
    std::uint32_t min_span_ms { 1 };
};

// The average velocity from one sample to a later one; zero when they are
// less than min_span_ms (and always when 0 ms) apart. Ticks may wrap.
MotionVelocity average_velocity(MotionSample const& from, MotionSample const& to, std::uint32_t min_span_ms);

class MotionTracker {
public:
    explicit MotionTracker(MotionSettings const& settings);

    // Starts a gesture: the press is the first sample and the dead zone begins.
    void press(Point position, std::uint32_t tick);
    // The step from the previous accepted sample, or nothing when the dead
    // zone swallows the sample. A sample without a press starts a gesture
    // there, outside any dead zone.
    std::optional<Point> add(Point position, std::uint32_t tick);

    // Over the window, from its oldest sample to its newest.
    MotionVelocity velocity() const;
    bool in_dead_zone() const { return m_dead_zone; }
    // The farthest any sample strayed from the press, on either axis.
    std::int32_t excursion() const { return m_excursion; }
    bool is_tap() const { return m_excursion <= m_settings.tap_slop; }
    Point press_position() const { return m_press; }
    std::vector<MotionSample> const& samples() const { return m_samples; }

private:
    MotionSettings m_settings;
    std::vector<MotionSample> m_samples;
    Point m_press;
    Point m_last;
    std::int32_t m_excursion { 0 };
    bool m_dead_zone { false };
    bool m_started { false };
};

}
