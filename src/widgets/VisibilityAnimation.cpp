#include "widgets/VisibilityAnimation.h"

#include <cmath>
#include <numbers>

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

void draw_turned(DrawTarget& target, Point origin, RenderSurface const& surface, double angle, double distance,
    PixelOp const& op)
{
    PixelBuffer const* source = surface.buffer();
    if (!source || source->width() < 1 || source->height() < 1 || distance <= 0.0)
        return;
    double const a = source->width() * 0.5;
    double const h = source->height();
    double const c = std::cos(angle);
    double const s = std::sin(angle);
    if (c <= 0.0)
        return;
    // A point x of the picture (from its centre line) turns to x c across
    // and x s away, and is seen at x c D / (D + x s); each screen column is
    // mapped back to the picture column it shows.
    double const left = -a * c * distance / (distance - a * s);
    double const right = a * c * distance / (distance + a * s);
    if (!(distance - a * s > 0.0))
        return;
    auto const first = static_cast<std::int32_t>(std::floor(a + left));
    auto const last = static_cast<std::int32_t>(std::ceil(a + right));
    for (std::int32_t column = first; column < last; ++column) {
        double const xs = column + 0.5 - a;
        double const denominator = distance * c - xs * s;
        if (denominator <= 0.0)
            continue;
        double const x = xs * distance / denominator;
        auto const source_column = static_cast<std::int32_t>(std::floor(x + a));
        if (source_column < 0 || source_column >= source->width())
            continue;
        double const scale = distance / (distance + x * s);
        auto const height = static_cast<std::int32_t>(std::lround(h * scale));
        auto const top = static_cast<std::int32_t>(std::lround((h - h * scale) * 0.5));
        stretch_rect(target, origin.x + column, origin.y + top, 1, height, *source, source_column, 0, 1,
            source->height(), op);
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
    if (!m_from_surface.buffer()) {
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
