#include "widgets/MotionTracker.h"

#include <algorithm>
#include <cstdlib>

namespace qv {

MotionVelocity average_velocity(MotionSample const& from, MotionSample const& to, std::uint32_t min_span_ms)
{
    // Unsigned differences keep working across the wrap of the tick count.
    std::uint32_t const span = to.tick - from.tick;
    if (span == 0 || span < min_span_ms)
        return {};
    // One rounding only: a whole number of pixels per second comes out whole.
    auto const per_second = [span](std::int32_t start, std::int32_t end) {
        return (static_cast<double>(end) - static_cast<double>(start)) * 1000.0 / span;
    };
    return { per_second(from.position.x, to.position.x), per_second(from.position.y, to.position.y) };
}

MotionTracker::MotionTracker(MotionSettings const& settings)
    : m_settings(settings)
{
}

void MotionTracker::press(Point position, std::uint32_t tick)
{
    m_samples.clear();
    m_samples.push_back(MotionSample { position, tick });
    m_press = position;
    m_last = position;
    m_excursion = 0;
    m_dead_zone = true;
    m_started = true;
}

std::optional<Point> MotionTracker::add(Point position, std::uint32_t tick)
{
    if (!m_started) {
        // The press went elsewhere: start from here, already moving.
        press(position, tick);
        m_dead_zone = false;
        return std::nullopt;
    }
    std::int32_t const away_x = std::abs(position.x - m_press.x);
    std::int32_t const away_y = std::abs(position.y - m_press.y);
    m_excursion = std::max({ m_excursion, away_x, away_y });
    if (m_dead_zone) {
        if (away_x < m_settings.dead_zone && away_y < m_settings.dead_zone)
            return std::nullopt;
        m_dead_zone = false;
    }
    // The newest sample always stays, whatever the settings say.
    std::size_t const fewest = std::max<std::size_t>(m_settings.min_samples, 1);
    m_samples.push_back(MotionSample { position, tick });
    if (m_samples.size() > std::max(m_settings.max_samples, fewest))
        m_samples.erase(m_samples.begin());
    while (m_samples.size() > fewest && m_samples.back().tick - m_samples.front().tick > m_settings.window_ms)
        m_samples.erase(m_samples.begin());
    Point const step { position.x - m_last.x, position.y - m_last.y };
    m_last = position;
    return step;
}

MotionVelocity MotionTracker::velocity() const
{
    if (m_samples.empty())
        return {};
    return average_velocity(m_samples.front(), m_samples.back(), m_settings.min_span_ms);
}

}
