#include "widgets/ImageElement.h"

#include <algorithm>

namespace qv {

void ImageElement::load(PropertiesImpl const& store, SkinNode node)
{
    Element::load(store, node);
    m_picture = store.get_picture(node, u"src", PictureRef {});
    auto alpha = store.get_integer(node, u"alpha", -1);
    m_draw_op = alpha == -1 ? copy_op().clone() : make_alpha_op(alpha);
    m_grow = store.get_integer(node, u"grow", 0) != 0;
}

void ImageElement::set_picture(PictureRef picture)
{
    m_picture = std::move(picture);
    invalidate_layout();
    invalidate_drawing();
}

void ImageElement::draw(DrawTarget& target, Point origin)
{
    m_picture.draw(target, origin, m_size, m_draw_op ? *m_draw_op : copy_op());
    Element::draw(target, origin);
}

void ImageElement::measure_width(MeasurePair& pair)
{
    Element::measure_width(pair);
    if (m_grow) {
        auto outer = m_picture.grid.outer_end.x - m_picture.grid.outer_start.x;
        pair.preferred = std::max(pair.preferred, outer);
        pair.minimum = std::max(pair.minimum, outer);
    }
}

void ImageElement::measure_height(MeasurePair& pair)
{
    Element::measure_height(pair);
    if (m_grow) {
        auto outer = m_picture.grid.outer_end.y - m_picture.grid.outer_start.y;
        pair.preferred = std::max(pair.preferred, outer);
        pair.minimum = std::max(pair.minimum, outer);
    }
}

}
