#include "widgets/ClipElement.h"

namespace qv {

void ClipElement::draw(DrawTarget& target, Point origin)
{
    ClipScope clip(target, Rect { origin.x, origin.y, origin.x + m_size.width, origin.y + m_size.height });
    Element::draw(target, origin);
}

}
