#include "widgets/MotionTracker.h"

#include <cstdlib>

namespace qv {

void MotionTracker::press(Point position, std::uint32_t tick)
{
    m_samples.clear();
    m_samples.push_back(MotionSample { position, tick });
    m_velocity = Point {};
    m_press = position;
    m_last = position;
    m_dead_zone = true;
    m_started = true;
}

std::optional<Point> MotionTracker::add(Point position, std::uint32_t tick)
{
    if (!m_started) {
        // A move without a press (the press went elsewhere): start from here.
        press(position, tick);
        m_dead_zone = false;
        return std::nullopt;
    }
    if (m_dead_zone) {
        if (std::abs(position.x - m_press.x) < kDeadZone && std::abs(position.y - m_press.y) < kDeadZone)
            return std::nullopt;
        m_dead_zone = false;
    }
    m_samples.push_back(MotionSample { position, tick });
    if (m_samples.size() > kMaxSamples)
        m_samples.erase(m_samples.begin());
    // Unsigned differences keep working across the wrap of the tick count.
    while (m_samples.size() > 1 && m_samples.back().tick - m_samples.front().tick > kWindowMs)
        m_samples.erase(m_samples.begin());
    update_velocity();
    Point const step { position.x - m_last.x, position.y - m_last.y };
    m_last = position;
    return step;
}

void MotionTracker::update_velocity()
{
    auto const& oldest = m_samples.front();
    auto const& newest = m_samples.back();
    std::uint32_t const span = newest.tick - oldest.tick;
    if (span < kMinSpanMs) {
        m_velocity = Point {};
        return;
    }
    auto const per_second = [span](std::int32_t from, std::int32_t to) {
        return static_cast<std::int32_t>((std::int64_t { from } - to) * 1000 / static_cast<std::int64_t>(span));
    };
    m_velocity = Point { per_second(oldest.position.x, newest.position.x),
        per_second(oldest.position.y, newest.position.y) };
}

}
