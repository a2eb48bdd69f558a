#include "widgets/ProgressElement.h"

namespace qv {

void ProgressElement::load(PropertiesImpl const& store, SkinNode node)
{
    Element::load(store, node);
    m_line = find_child(u"#line");
    if (m_line)
        m_line->set_observer(nullptr);
}

void ProgressElement::remove_child(Element* child)
{
    if (child == m_line)
        m_line = nullptr;
    Element::remove_child(child);
}

void ProgressElement::set_value(double value)
{
    if (value == m_value)
        return;
    m_value = value;
    invalidate_layout();
    invalidate_drawing();
}

void ProgressElement::layout_horizontal()
{
    for (auto* child : m_children) {
        if (child == m_line) {
            AxisChild axis { child->anchor_x(), child->border_min().x, child->border_max().x, {}, 0 };
            auto placed = place_progress_line(axis, m_size.width, m_value);
            child->set_horizontal(m_position.x + placed.start, placed.size);
            continue;
        }
        auto pair = child->width_pair();
        AxisChild axis { child->anchor_x(), child->border_min().x, child->border_max().x, pair, 0 };
        auto placed = place_in_slot(axis, pair.preferred, m_size.width);
        child->set_horizontal(m_position.x + placed.start, placed.size);
    }
}

void ProgressElement::layout_vertical()
{
    for (auto* child : m_children) {
        if (child == m_line) {
            AxisChild axis { child->anchor_y(), child->border_min().y, child->border_max().y, {}, 0 };
            auto placed = place_progress_line(axis, m_size.height, m_value);
            child->set_vertical(m_position.y + placed.start, placed.size);
            continue;
        }
        auto pair = child->height_pair();
        AxisChild axis { child->anchor_y(), child->border_min().y, child->border_max().y, pair, 0 };
        auto placed = place_in_slot(axis, pair.preferred, m_size.height);
        child->set_vertical(m_position.y + placed.start, placed.size);
    }
}

}
