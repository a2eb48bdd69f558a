#include "widgets/ColorElement.h"

namespace qv {

void ColorElement::load(PropertiesImpl const& store, SkinNode node)
{
    Element::load(store, node);
    m_color = store.get_color(node, u"color", SkinColor {});
}

std::uint16_t ColorElement::pixel() const
{
    return static_cast<std::uint16_t>(((m_color.red >> 3) << 11) | ((m_color.green >> 2) << 5) | (m_color.blue >> 3));
}

void ColorElement::draw(DrawTarget& target, Point origin)
{
    fill_rect(target, origin.x, origin.y, m_size.width, m_size.height, ColourFillOp(pixel()));
    Element::draw(target, origin);
}

}
