#include "widgets/TextElement.h"

#include "skin/TextDrawing.h"

#include <algorithm>
#include <limits>

namespace qv {

void TextElement::load(PropertiesImpl const& store, SkinNode node)
{
    Element::load(store, node);
    m_font = store.get_font(node, u"font", empty_font());
    m_grow_min = store.get_integer(node, u"grow_min", 0) != 0;
    m_grow = store.get_integer(node, u"grow", 0) != 0 || m_grow_min;
    m_color = store.get_color(node, u"color", SkinColor {});
    m_halign = halign_from_name(store.get_string(node, u"halign", WString()));
    m_valign = valign_from_name(store.get_string(node, u"valign", WString()));
    m_wrap = store.get_integer(node, u"wrap", 0) != 0;
    m_elide_path = store.get_string(node, u"elide", WString()) == u"PATH";
    m_left_part = find_child(u"#left");
    m_right_part = find_child(u"#right");
    for (auto* part : { m_left_part, m_right_part })
        if (part)
            part->set_observer(nullptr);
    m_text.clear();
    set_text(store.text(store.get_string(node, u"text", WString())));
}

void TextElement::remove_child(Element* child)
{
    if (child == m_left_part)
        m_left_part = nullptr;
    if (child == m_right_part)
        m_right_part = nullptr;
    Element::remove_child(child);
}

void TextElement::deliver_text(WStringView target_id, WStringView text)
{
    if (target_id == m_id)
        set_text(text);
    Element::deliver_text(target_id, text);
}

RunSize TextElement::measure_run(WStringView text) const
{
    // An empty run is an empty line: it still takes a line's height.
    if (text.empty())
        return { 0, m_font->line_height() };
    auto size = m_font->measure(text);
    return { size.width, size.height };
}

void TextElement::set_text(WStringView text)
{
    if (text == m_text && !m_runs.empty())
        return;
    m_text = text;
    m_runs = split_runs(prepare_text(m_text, m_wrap), [this](WStringView t) { return measure_run(t); });
    flow();
    if (m_grow)
        invalidate_layout();
    invalidate_drawing();
}

std::int32_t TextElement::sides_at(std::int32_t y) const
{
    std::int32_t taken = 0;
    for (auto* part : { m_left_part, m_right_part }) {
        if (!part || !part->visible())
            continue;
        auto top = part->position().y - m_position.y;
        if (y >= top && y < top + part->size().height)
            taken += part->size().width;
    }
    return taken;
}

void TextElement::flow()
{
    m_lines.clear();
    auto const measure = [this](WStringView t) { return measure_run(t); };
    if (m_wrap) {
        m_lines = flow_words(
            m_runs, [this](std::int32_t y) { return m_size.width - sides_at(y); }, measure,
            [this](WStringView t, std::int32_t limit) {
                std::int32_t count = 0;
                m_font->measure(t, limit, &count);
                return count;
            });
    } else if (!m_runs.empty()) {
        auto const available = m_size.width - sides_at(0);
        if (m_place_all) {
            m_lines.push_back(flow_one_line(m_runs, std::numeric_limits<std::int32_t>::max()));
        } else if (m_elide_path) {
            auto const shown = elide_path(prepare_text(m_text, false), available, measure);
            m_lines.push_back(flow_one_line(split_runs(shown, measure), available));
        } else {
            m_lines.push_back(m_halign == HAlign::Right ? flow_right(m_runs, available, measure)
                                                        : flow_one_line(m_runs, available));
        }
    }
    on_text_flowed();
}

void TextElement::layout_horizontal()
{
    Element::layout_horizontal();
    auto const left = m_left_part ? m_left_part->width_pair().preferred : 0;
    auto const right = m_right_part ? m_right_part->width_pair().preferred : 0;
    if (m_size.width < left + right) {
        auto share = share_sides(m_size.width, left, right);
        if (m_left_part)
            m_left_part->set_horizontal(m_position.x, share.left);
        if (m_right_part)
            m_right_part->set_horizontal(m_position.x + m_size.width - share.right, share.right);
    }
}

void TextElement::layout_vertical()
{
    Element::layout_vertical();
    // Lines depend on where the side parts ended up, known only now.
    flow();
}

void TextElement::measure_width(MeasurePair& pair)
{
    Element::measure_width(pair);
    if (!m_grow)
        return;
    std::int32_t width = 0;
    for (auto const& run : m_runs)
        width += run.width + run.spacing;
    pair.preferred = std::max(pair.preferred, width);
    if (m_grow_min)
        pair.minimum = std::max(pair.minimum, width);
}

void TextElement::measure_height(MeasurePair& pair)
{
    Element::measure_height(pair);
    if (!m_grow)
        return;
    std::int32_t height = 0;
    for (auto const& line : m_lines)
        height += line.height;
    if (m_lines.empty() && !m_runs.empty())
        height = m_font->line_height();
    pair.preferred = std::max(pair.preferred, height);
    pair.minimum = std::max(pair.minimum, height);
}

std::int32_t TextElement::block_top() const
{
    std::int32_t block = 0;
    for (auto const& line : m_lines)
        block += line.height;
    auto const under = m_size.height - block;
    if (under <= 0)
        return -m_scroll_y;
    return (m_valign == VAlign::Bottom ? under : m_valign == VAlign::VCenter ? (under + 1) / 2 : 0) - m_scroll_y;
}

std::int32_t TextElement::line_left(FlowLine const& line, std::int32_t y) const
{
    auto const spare = m_size.width - sides_at(y) - line.width;
    // A scrolled line starts at the left edge whatever its alignment.
    if (m_place_all && spare < 0)
        return m_scroll_x;
    return (m_halign == HAlign::Center ? spare / 2 : m_halign == HAlign::Right ? spare : 0) + m_scroll_x;
}

void TextElement::draw(DrawTarget& target, Point origin)
{
    Element::draw(target, origin);
    draw_lines(target, origin);
}

void TextElement::draw_lines(DrawTarget& target, Point origin)
{
    std::int32_t y = block_top();
    TextColour const colour { m_color.red, m_color.green, m_color.blue };
    for (auto const& line : m_lines) {
        auto const spare = m_size.width - sides_at(y) - line.width;
        std::int32_t x = line_left(line, y);
        auto gaps = m_halign == HAlign::Justify && (spare >= 0 || !m_place_all)
            ? justify_gaps(static_cast<std::int32_t>(line.runs.size()), spare)
            : std::vector<std::int32_t> {};
        for (std::size_t k = 0; k < line.runs.size(); ++k) {
            auto const& run = line.runs[k];
            draw_text(*m_font, target, colour, run.text, Point { origin.x + x, origin.y + y },
                Size { run.width, line.height }, m_halign, VAlign::Bottom, TextWrap::SingleLine, origin, m_size);
            x += run.width + run.spacing + (k < gaps.size() ? gaps[k] : 0);
        }
        y += line.height;
    }
}

}
