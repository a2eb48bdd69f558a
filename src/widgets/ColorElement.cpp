#include "widgets/ColorElement.h"

#include <algorithm>

namespace qv {

void ColorElement::load(PropertiesImpl const& store, SkinNode node)
{
    Element::load(store, node);
    m_color = store.get_color(node, u"color", SkinColor {});
    m_brightness = std::clamp(store.get_integer(node, u"brightness", -1), -1, 255);
}

std::uint16_t ColorElement::pixel() const
{
    return static_cast<std::uint16_t>(((m_color.red >> 3) << 11) | ((m_color.green >> 2) << 5) | (m_color.blue >> 3));
}

void ColorElement::draw(DrawTarget& target, Point origin)
{
    if (m_brightness >= 0)
        fill_rect(target, origin.x, origin.y, m_size.width, m_size.height, make_fade_op(m_brightness));
    else
        fill_rect(target, origin.x, origin.y, m_size.width, m_size.height, ColourFillOp(pixel()));
    Element::draw(target, origin);
}

}
