#include "widgets/ScrollText.h"

#include "widgets/Coasting.h"
#include "widgets/Form.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace qv {

ScrollTextElement::ScrollTextElement(Element* parent)
    : TextElement(parent)
{
    if (root())
        root()->register_interactive(this);
}

void ScrollTextElement::load(PropertiesImpl const& store, SkinNode node)
{
    TextElement::load(store, node);
    m_bar_color = store.get_color(node, u"bar_color", m_color);
    if (!m_wrap) {
        // A text read by scrolling is always flowed into lines.
        m_wrap = true;
        WString const text = std::exchange(m_text, WString());
        m_runs.clear();
        set_text(text);
    }
    m_flowed_width = -1;
    scroll_to(0);
}

std::int32_t ScrollTextElement::content_height() const
{
    std::int32_t height = 0;
    for (auto const& line : m_lines)
        height += line.height;
    return height;
}

std::int32_t ScrollTextElement::max_scroll() const { return std::max(0, content_height() - m_size.height); }

double ScrollTextElement::line_step() const
{
    if (!m_lines.empty() && m_lines.front().height > 0)
        return m_lines.front().height;
    return std::max(1, m_font->line_height());
}

void ScrollTextElement::set_position(double y)
{
    m_position_y = std::clamp(y, 0.0, static_cast<double>(max_scroll()));
    auto const whole = static_cast<std::int32_t>(std::lround(m_position_y));
    if (whole != m_scroll_y) {
        m_scroll_y = whole;
        invalidate_drawing();
    }
}

void ScrollTextElement::scroll_to(double y)
{
    m_velocity = 0;
    set_position(y);
    m_target = m_position_y;
}

void ScrollTextElement::scroll_by_animated(double delta)
{
    m_velocity = 0;
    m_target = std::clamp(m_target + delta, 0.0, static_cast<double>(max_scroll()));
    invalidate_drawing();
}

void ScrollTextElement::layout_horizontal()
{
    TextElement::layout_horizontal();
    if (m_size.width == m_flowed_width)
        return;
    // New lines at the new width: the height asked for follows them.
    flow();
    m_flowed_width = m_size.width;
    invalidate_heights();
}

void ScrollTextElement::layout_vertical()
{
    TextElement::layout_vertical();
    // A taller window or a reflowed text may leave less to scroll.
    double const most = max_scroll();
    m_target = std::min(m_target, most);
    set_position(m_position_y);
}

void ScrollTextElement::measure_height(MeasurePair& pair)
{
    Element::measure_height(pair);
    if (m_size.width > 0 && m_size.width != m_flowed_width) {
        flow();
        m_flowed_width = m_size.width;
    }
    // The whole text if there is room for it; the design height at least.
    pair.preferred = std::max(pair.preferred, content_height());
}

void ScrollTextElement::advance(double seconds)
{
    TextElement::advance(seconds);
    if (m_pen_down)
        return;
    if (m_velocity != 0) {
        double const before = m_position_y;
        set_position(m_position_y + m_velocity * seconds);
        m_velocity = std::copysign(coasted_speed(std::abs(m_velocity), seconds), m_velocity);
        // An end stops a fling dead: the text has no spring to show.
        if (m_position_y == before || m_position_y <= 0 || m_position_y >= max_scroll())
            m_velocity = 0;
        m_target = m_position_y;
        invalidate_drawing();
        return;
    }
    if (m_target == m_position_y)
        return;
    double const rest = m_target - m_position_y;
    double step = rest * std::min(1.0, seconds * kScrollPace);
    if (std::abs(rest - step) < 0.5)
        step = rest;
    set_position(m_position_y + step);
    if (step == rest)
        m_target = m_position_y;
    invalidate_drawing();
}

void ScrollTextElement::draw(DrawTarget& target, Point origin)
{
    TextElement::draw(target, origin);
    std::int32_t const most = max_scroll();
    if (most <= 0 || m_size.height <= 0)
        return;
    // A thin bar at the right edge: how much of the text shows, and where.
    std::int32_t const content = content_height();
    std::int32_t const bar = std::max(2, m_font->line_height() / 6);
    std::int32_t const thumb = std::max(bar * 4, static_cast<std::int32_t>(
                                                     static_cast<std::int64_t>(m_size.height) * m_size.height / content));
    std::int32_t const top = static_cast<std::int32_t>(static_cast<std::int64_t>(m_size.height - thumb) * m_scroll_y / most);
    auto const pixel = static_cast<std::uint16_t>(
        ((m_bar_color.red >> 3) << 11) | ((m_bar_color.green >> 2) << 5) | (m_bar_color.blue >> 3));
    fill_rect(target, origin.x + m_size.width - bar, origin.y + top, bar, thumb, ColourFillOp(pixel));
}

bool ScrollTextElement::on_pointer_button(PointerEvent const& event)
{
    if (event.down) {
        if (max_scroll() <= 0)
            return false;
        // A finger on a moving text holds it where it is.
        m_pen_down = true;
        scroll_to(m_position_y);
        m_tracker.press(event.position, event.tick);
        return true;
    }
    if (!m_pen_down)
        return false;
    m_pen_down = false;
    if (!event.position_unknown)
        m_tracker.add(event.position, event.tick);
    // The pen going up throws the text on towards its end.
    m_velocity = m_tracker.is_tap() ? 0 : -m_tracker.velocity().y;
    return true;
}

void ScrollTextElement::on_pointer_move(PointerEvent const& event)
{
    if (!m_pen_down)
        return;
    if (auto const step = m_tracker.add(event.position, event.tick)) {
        set_position(m_position_y - step->y);
        m_target = m_position_y;
    }
}

bool ScrollTextElement::on_wheel(Point, double notches, bool)
{
    if (max_scroll() <= 0 || notches == 0)
        return false;
    // Away from the user brings the earlier lines back.
    scroll_by_animated(-notches * kWheelLines * line_step());
    return true;
}

bool ScrollTextElement::on_focus_key(KeyInput const& key)
{
    if (!key.down || max_scroll() <= 0)
        return false;
    double const line = line_step();
    double const page = std::max(line, m_size.height - line);
    switch (key.key) {
    case Key::Up:
        // At the start the arrow moves the focus on, to what lies above.
        if (m_target <= 0)
            return false;
        scroll_by_animated(-line);
        return true;
    case Key::Down:
        if (m_target >= max_scroll())
            return false;
        scroll_by_animated(line);
        return true;
    case Key::PageUp: scroll_by_animated(-page); return true;
    case Key::PageDown: scroll_by_animated(page); return true;
    case Key::Home: scroll_by_animated(-m_target); return true;
    case Key::End: scroll_by_animated(max_scroll() - m_target); return true;
    default: return false;
    }
}

}
