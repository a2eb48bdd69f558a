#include "widgets/VisibilityAnimation.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace qv {

VisibilityAnimation::VisibilityAnimation(double speed)
    : m_speed(speed)
    , m_draw_op(make_alpha_op(0))
{
}

void VisibilityAnimation::set_draw_op(std::unique_ptr<PixelOp> op)
{
    // The animation always has an operation to draw with; null keeps the old.
    if (op)
        m_draw_op = std::move(op);
}

void VisibilityAnimation::copy_settings_from(VisibilityAnimation const& other)
{
    m_speed = other.m_speed;
    m_draw_op = other.m_draw_op->clone();
}

void VisibilityAnimation::start(RenderSurface* from, std::int32_t direction, RenderSurface* to)
{
    m_from_surface.recreate(Size {});
    m_to_surface.recreate(Size {});
    if (from)
        m_from_surface.adopt(from->release());
    if (to)
        m_to_surface.adopt(to->release());
    m_direction = direction;
    m_progress = direction < 1 ? 1.0 : 0.0;
}

void VisibilityAnimation::advance(double seconds)
{
    m_progress += m_direction * m_speed * seconds * 5.0;
    if (m_direction > 0 && m_progress >= 1.0) {
        m_progress = 1.0;
        m_direction = 0;
    }
    if (m_direction < 0 && m_progress <= 0.0) {
        m_progress = 0.0;
        m_direction = 0;
    }
    if (m_direction == 0) {
        m_from_surface.recreate(Size {});
        m_to_surface.recreate(Size {});
    }
}

double pop_factor(double progress)
{
    double const c = progress * 3.0 * std::numbers::pi / 2.0;
    return 1.0 - std::cos(c) / (c + 1.0);
}

ScaleAnimation::ScaleAnimation(bool pop)
    : VisibilityAnimation(pop ? 0.5 : 1.0)
    , m_pop(pop)
{
}

std::unique_ptr<VisibilityAnimation> ScaleAnimation::clone() const
{
    auto copy = std::make_unique<ScaleAnimation>(m_pop);
    copy->copy_settings_from(*this);
    return copy;
}

void ScaleAnimation::draw(DrawTarget& target, Point origin)
{
    m_from_surface.draw_onto(target, origin, copy_op());
    double const s = m_pop ? pop_factor(m_progress) : m_progress * m_progress;
    auto const size = m_to_surface.size();
    auto const w = static_cast<double>(size.width);
    auto const h = static_cast<double>(size.height);
    Point const at { origin.x + static_cast<std::int32_t>((w - w * s) * 0.5),
        origin.y + static_cast<std::int32_t>((h - h * s) * 0.5) };
    m_to_surface.draw_scaled_onto(target, at,
        Size { static_cast<std::int32_t>(w * s), static_cast<std::int32_t>(h * s) }, *m_draw_op);
}

SlideAnimation::SlideAnimation(SlideSide side)
    : VisibilityAnimation(1.0)
    , m_side(side)
{
}

std::unique_ptr<VisibilityAnimation> SlideAnimation::clone() const
{
    auto copy = std::make_unique<SlideAnimation>(m_side);
    copy->copy_settings_from(*this);
    return copy;
}

void SlideAnimation::draw(DrawTarget& target, Point origin)
{
    auto const size = m_to_surface.size();
    auto const w = size.width;
    auto const h = size.height;
    double const q = 1.0 - m_progress;
    Point offset;
    Point from_offset;
    switch (m_side) {
    case SlideSide::Right:
        offset = { static_cast<std::int32_t>(q * w), 0 };
        from_offset = { offset.x - w, 0 };
        break;
    case SlideSide::Bottom:
        offset = { 0, static_cast<std::int32_t>(q * h) };
        from_offset = { 0, offset.y - h };
        break;
    case SlideSide::Left:
        offset = { static_cast<std::int32_t>(q * -w), 0 };
        from_offset = { offset.x + w, 0 };
        break;
    case SlideSide::Top:
        offset = { 0, static_cast<std::int32_t>(q * -h) };
        from_offset = { 0, offset.y + h };
        break;
    }
    ClipScope clip(target, Rect { origin.x, origin.y, origin.x + w, origin.y + h });
    m_from_surface.draw_onto(target, Point { origin.x + from_offset.x, origin.y + from_offset.y }, copy_op());
    m_to_surface.draw_onto(target, Point { origin.x + offset.x, origin.y + offset.y }, *m_draw_op);
}

namespace {

// One screen column of a turned picture: the picture column it shows, and
// where and how tall that column stands.
struct TurnedColumn {
    std::int32_t x;      // in the target
    std::int32_t source; // picture column
    std::int32_t top;    // in the target
    std::int32_t height;
    std::uint32_t step; // picture rows per target row, 16-bit fraction
};

// A point x of the picture (from its centre line) turns to x c across and
// x s away, and is seen at x c D / (D + x s), its column scaled by
// D / (D + x s). Each screen column between `first` and `last` is mapped
// back to the picture column it shows.
std::vector<TurnedColumn> turned_columns(PixelBuffer const& source, Point origin, std::int32_t first,
    std::int32_t last, double c, double s, double distance)
{
    double const a = source.width() * 0.5;
    double const h = source.height();
    std::vector<TurnedColumn> columns;
    columns.reserve(static_cast<std::size_t>(std::max(0, last - first)));
    for (std::int32_t column = first; column < last; ++column) {
        double const xs = column + 0.5 - a;
        double const denominator = distance * c - xs * s;
        if (denominator <= 0.0)
            continue;
        double const x = xs * distance / denominator;
        auto const source_column = static_cast<std::int32_t>(std::floor(x + a));
        if (source_column < 0 || source_column >= source.width())
            continue;
        double const scale = distance / (distance + x * s);
        auto const height = static_cast<std::int32_t>(std::lround(h * scale));
        auto const top = origin.y + static_cast<std::int32_t>(std::lround((h - h * scale) * 0.5));
        if (height < 1)
            continue;
        auto const step = static_cast<std::uint32_t>((static_cast<std::int64_t>(source.height()) << 16) / height);
        columns.push_back({ origin.x + column, source_column, top, height, step });
    }
    return columns;
}

}

void draw_turned(DrawTarget& target, Point origin, RenderSurface const& surface, double angle, double distance,
    PixelOp const& op)
{
    PixelBuffer const* source = surface.buffer();
    PixelBuffer* destination = target.buffer();
    if (!source || !destination || source->width() < 1 || source->height() < 1 || distance <= 0.0)
        return;
    double const a = source->width() * 0.5;
    double const c = std::cos(angle);
    double const s = std::sin(angle);
    // Edge-on, or an edge at or behind the eye (it would project to infinity).
    if (c <= 0.0 || distance - a * std::abs(s) <= 0.0)
        return;
    Rect const clip = intersect(target.clip(), Rect { 0, 0, destination->width(), destination->height() });
    if (clip.is_empty())
        return;

    double const left = -a * c * distance / (distance - a * s);
    double const right = a * c * distance / (distance + a * s);
    auto const first = std::max<std::int32_t>(static_cast<std::int32_t>(std::floor(a + left)), clip.left - origin.x);
    auto const last = std::min<std::int32_t>(static_cast<std::int32_t>(std::ceil(a + right)), clip.right - origin.x);
    auto const columns = turned_columns(*source, origin, first, last, c, s, distance);
    std::int32_t top_most = clip.bottom;
    std::int32_t bottom_most = clip.top;
    for (auto const& column : columns) {
        top_most = std::min(top_most, column.top);
        bottom_most = std::max(bottom_most, column.top + column.height);
    }

    // Drawn a row at a time: the pixels a row takes from its columns are
    // gathered into one span, so the operation runs once per run of
    // neighbouring columns instead of once per pixel.
    std::vector<std::uint16_t> gathered(columns.size());
    auto const source_height = static_cast<std::int64_t>(source->height());
    for (std::int32_t y = std::max(top_most, clip.top); y < std::min(bottom_most, clip.bottom); ++y) {
        std::uint16_t* row = destination->row(y);
        std::size_t k = 0;
        while (k < columns.size()) {
            auto covers = [&](TurnedColumn const& column) { return y >= column.top && y < column.top + column.height; };
            if (!covers(columns[k])) {
                ++k;
                continue;
            }
            std::size_t run = k;
            std::int32_t x = columns[k].x;
            while (run < columns.size() && covers(columns[run]) && columns[run].x == x + static_cast<std::int32_t>(run - k)) {
                auto const& column = columns[run];
                auto const source_row = static_cast<std::int32_t>(std::min<std::int64_t>(
                    source_height - 1, (static_cast<std::int64_t>(y - column.top) * column.step) >> 16));
                gathered[run - k] = source->at(column.source, source_row);
                ++run;
            }
            op.span(row + x, row + x + static_cast<std::int32_t>(run - k), gathered.data(), y - clip.top);
            k = run;
        }
    }
}

FlipAnimation::FlipAnimation()
    : VisibilityAnimation(0.5)
{
}

std::unique_ptr<VisibilityAnimation> FlipAnimation::clone() const
{
    auto copy = std::make_unique<FlipAnimation>();
    copy->copy_settings_from(*this);
    return copy;
}

void FlipAnimation::draw(DrawTarget& target, Point origin)
{
    // The ends are plain copies, so a run starts and ends on exactly the
    // pictures it was given.
    if (m_progress <= 0.0) {
        m_from_surface.draw_onto(target, origin, copy_op());
        return;
    }
    if (m_progress >= 1.0) {
        m_to_surface.draw_onto(target, origin, *m_draw_op);
        return;
    }
    // Seen from twice the picture's width: enough depth to read as a turn,
    // not so much that the near edge grows far beyond the element.
    auto const from_size = m_from_surface.size();
    if (from_size.width < 1 || from_size.height < 1) {
        // Nothing to turn away (an element appearing or vanishing): the
        // picture turns through the whole run, edge-on at 0, flat at 1.
        auto const size = m_to_surface.size();
        draw_turned(target, origin, m_to_surface, (m_progress - 1.0) * std::numbers::pi / 2.0, 2.0 * size.width,
            *m_draw_op);
        return;
    }
    if (m_progress < 0.5) {
        auto const size = m_from_surface.size();
        draw_turned(target, origin, m_from_surface, m_progress * std::numbers::pi, 2.0 * size.width, copy_op());
    } else {
        auto const size = m_to_surface.size();
        draw_turned(target, origin, m_to_surface, (m_progress - 1.0) * std::numbers::pi, 2.0 * size.width,
            *m_draw_op);
    }
}

std::unique_ptr<VisibilityAnimation> make_visibility_animation(WStringView name)
{
    if (name == u"scale")
        return std::make_unique<ScaleAnimation>(false);
    if (name == u"pop")
        return std::make_unique<ScaleAnimation>(true);
    if (name == u"right")
        return std::make_unique<SlideAnimation>(SlideSide::Right);
    if (name == u"bottom")
        return std::make_unique<SlideAnimation>(SlideSide::Bottom);
    if (name == u"left")
        return std::make_unique<SlideAnimation>(SlideSide::Left);
    if (name == u"top")
        return std::make_unique<SlideAnimation>(SlideSide::Top);
    if (name == u"flip")
        return std::make_unique<FlipAnimation>();
    return nullptr;
}

}
