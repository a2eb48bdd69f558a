#include "widgets/TableElement.h"

namespace qv {

std::vector<Element*> TableElement::visible_children() const
{
    std::vector<Element*> result;
    for (auto* child : m_children)
        if (child->visible())
            result.push_back(child);
    return result;
}

void TableElement::measure_width(MeasurePair& pair)
{
    if (m_axis != TableAxis::Horizontal)
        return Element::measure_width(pair);
    std::vector<AxisChild> axes;
    for (auto* child : visible_children())
        axes.push_back(AxisChild { child->anchor_x(), child->border_min().x, child->border_max().x,
            child->width_pair(), child->table_ratio() });
    pair = measure_table(pair, m_design_size.width, axes);
}

void TableElement::measure_height(MeasurePair& pair)
{
    if (m_axis != TableAxis::Vertical)
        return Element::measure_height(pair);
    std::vector<AxisChild> axes;
    for (auto* child : visible_children())
        axes.push_back(AxisChild { child->anchor_y(), child->border_min().y, child->border_max().y,
            child->height_pair(), child->table_ratio() });
    pair = measure_table(pair, m_design_size.height, axes);
}

void TableElement::layout_horizontal()
{
    if (m_axis != TableAxis::Horizontal)
        return Element::layout_horizontal();
    auto children = visible_children();
    std::vector<AxisChild> axes;
    for (auto* child : children)
        axes.push_back(AxisChild { child->anchor_x(), child->border_min().x, child->border_max().x,
            child->width_pair(), child->table_ratio() });
    auto placements = place_table(axes, m_size.width);
    for (std::size_t i = 0; i < children.size() && i < placements.size(); ++i)
        children[i]->set_horizontal(m_position.x + placements[i].start, placements[i].size);
}

void TableElement::layout_vertical()
{
    if (m_axis != TableAxis::Vertical)
        return Element::layout_vertical();
    auto children = visible_children();
    std::vector<AxisChild> axes;
    for (auto* child : children)
        axes.push_back(AxisChild { child->anchor_y(), child->border_min().y, child->border_max().y,
            child->height_pair(), child->table_ratio() });
    auto placements = place_table(axes, m_size.height);
    for (std::size_t i = 0; i < children.size() && i < placements.size(); ++i)
        children[i]->set_vertical(m_position.y + placements[i].start, placements[i].size);
}

}
