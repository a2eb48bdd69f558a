#include "widgets/TextLabel.h"

#include "skin/TextDrawing.h"

#include <algorithm>

namespace qv {

void TextLabel::load(PropertiesImpl const& store, SkinNode node)
{
    Element::load(store, node);
    m_font = store.get_font(node, u"font", empty_font());
    m_text = store.text(store.get_string(node, u"text", WString()));
    m_text_size = Size { -1, -1 };
    m_grow = store.get_integer(node, u"grow", 0) != 0;
    m_color = store.get_color(node, u"color", SkinColor {});
    m_halign = halign_from_name(store.get_string(node, u"halign", WString()));
    m_valign = valign_from_name(store.get_string(node, u"valign", WString()));
    m_wrap = store.get_integer(node, u"wrap", 0) != 0;
}

void TextLabel::deliver_text(WStringView target_id, WStringView text)
{
    if (target_id == m_id)
        set_text(text);
    Element::deliver_text(target_id, text);
}

void TextLabel::set_text(WStringView text)
{
    if (text == m_text)
        return;
    m_text = text;
    m_text_size = Size { -1, -1 };
    if (m_grow)
        invalidate_layout();
    else
        invalidate_drawing();
}

Size TextLabel::text_size()
{
    if (m_text_size.width < 0)
        m_text_size = measure_block(*m_font, m_text);
    return m_text_size;
}

void TextLabel::measure_width(MeasurePair& pair)
{
    Element::measure_width(pair);
    if (m_grow)
        pair.preferred = std::max(pair.preferred, text_size().width);
}

void TextLabel::measure_height(MeasurePair& pair)
{
    Element::measure_height(pair);
    if (m_grow) {
        pair.preferred = std::max(pair.preferred, text_size().height);
        pair.minimum = std::max(pair.minimum, text_size().height);
    }
}

void TextLabel::draw(DrawTarget& target, Point origin)
{
    draw_text(*m_font, target, TextColour { m_color.red, m_color.green, m_color.blue }, m_text, origin, m_size,
        m_halign, m_valign, m_wrap ? TextWrap::WordBreak : TextWrap::SingleLine);
    Element::draw(target, origin);
}

}
