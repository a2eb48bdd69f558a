#include "widgets/Element.h"

#include "base/Log.h"
#include "skin/ElementRegistry.h"
#include "skin/SkinFormat.h"
#include "widgets/Form.h"

#include <algorithm>

namespace qv {

namespace {

// Whether a node's table holds any record; the loader reads some groups of
// properties only from nodes that have them, leaving earlier values alone.
bool has_records(SkinNode node, skin_format::Table table)
{
    auto const index = static_cast<int>(table);
    return skin_format::read_u16(node + 2 * index) != skin_format::read_u16(node + 2 * index + 2);
}

WString point_text(std::int32_t a, std::int32_t b)
{
    std::string text = "(" + std::to_string(a) + "," + std::to_string(b) + ")";
    return from_utf8(text);
}

}

Element::Element(Element* parent)
    : m_parent(parent)
{
    if (parent) {
        m_parent_visible = parent->shown();
        m_root = parent->m_root;
        parent->add_child(this);
    }
}

Element::~Element()
{
    if (m_parent)
        m_parent->remove_child(this);
    if (m_root && static_cast<Element*>(m_root) != this)
        m_root->forget(this);
    destroy_children();
}

void Element::destroy_children()
{
    // The parent link is cut first so that a dying child does not reach
    // back into a vector being emptied.
    auto children = std::move(m_children);
    m_children.clear();
    for (auto* child : children) {
        child->m_parent = nullptr;
        delete child;
    }
}

void Element::dump(std::int32_t depth) const
{
    auto log = Log::get();
    for (std::int32_t i = 0; i < depth; ++i)
        log << u"\t";
    log << u"{" << m_id << u"} position=" << point_text(m_position.x, m_position.y)
        << u" size=" << point_text(m_size.width, m_size.height)
        << u" design_size=" << point_text(m_design_size.width, m_design_size.height)
        << u" rs.size=" << point_text(m_cache_surface.size().width, m_cache_surface.size().height) << u"\n";
    for (auto* child : m_children)
        child->dump(depth + 1);
}

void Element::deliver_text(WStringView target_id, WStringView text)
{
    for (auto* child : m_children)
        child->deliver_text(target_id, text);
}

void Element::add_child(Element* child)
{
    m_children.push_back(child);
    invalidate_layout();
}

void Element::remove_child(Element* child)
{
    std::erase(m_children, child);
    invalidate_layout();
}

void Element::load(PropertiesImpl const& store, SkinNode node)
{
    using skin_format::Table;
    m_id = store.get_string(node, u"id", WString());
    m_anchor_x = anchor_from_name(store.get_string(node, u"anchor_x", WString()));
    m_anchor_y = anchor_from_name(store.get_string(node, u"anchor_y", WString()));
    if (has_records(node, Table::Point)) {
        m_border_min = store.get_point(node, u"border_min", Point {});
        auto design = store.get_point(node, u"design_size", Point {});
        m_design_size = Size { design.x, design.y };
        m_border_max = store.get_point(node, u"border_max", Point {});
        auto const most = store.get_point(node, u"max_size", Point {});
        m_max_size = Size { std::max(0, most.x), std::max(0, most.y) };
    }
    if (has_records(node, Table::Integer) || has_records(node, Table::Font)) {
        m_table_ratio = store.get_integer(node, u"table_ratio", 0);
        m_cache = store.get_integer(node, u"cache", 0) != 0;
        if (m_cache) {
            auto alpha = store.get_integer(node, u"cache_alpha", -1);
            m_cache_op = alpha == -1 ? copy_op().clone() : make_alpha_op(alpha);
        }
    }
    auto const count = store.child_count(node);
    for (std::uint16_t i = 0; i < count; ++i) {
        auto child_node = store.child(node, i);
        auto* child = create_element(store.get_string(child_node, u"type", WString()), this);
        child->load(store, child_node);
    }
    WString const animation = store.get_string(node, u"visibility_animation", WString());
    if (!animation.empty()) {
        m_visibility_animation = make_visibility_animation(animation);
        if (m_visibility_animation && m_cache_op)
            m_visibility_animation->set_draw_op(m_cache_op->clone());
    }
    invalidate_layout();
}

void Element::set_enabled(bool enabled)
{
    if (enabled == m_enabled)
        return;
    bool const before = usable();
    m_enabled = enabled;
    if (usable() != before)
        on_enabled_changed(usable());
    invalidate_drawing();
}

void Element::on_enabled_changed(bool usable)
{
    for (auto* child : m_children) {
        bool const before = child->usable();
        child->m_parent_enabled = m_enabled && m_parent_enabled;
        if (child->usable() != before)
            child->on_enabled_changed(child->usable());
    }
    invalidate_drawing();
}

void Element::set_visible(bool visible)
{
    if (visible == m_visible)
        return;
    bool const before = shown();
    m_visible = visible;
    if (shown() != before)
        on_visibility_changed(shown());
    invalidate_layout();
}

void Element::on_visibility_changed(bool shown)
{
    for (auto* child : m_children) {
        bool const before = child->shown();
        child->m_parent_visible = m_visible && m_parent_visible;
        if (child->shown() != before)
            child->on_visibility_changed(child->shown());
    }
    invalidate_layout();
    if (!shown)
        m_cache_surface.recreate(Size {});
}

void Element::advance(double seconds)
{
    if (m_visibility_animation && m_visibility_animation->running()) {
        m_visibility_animation->advance(seconds);
        invalidate_drawing();
        return;
    }
    for (auto* child : m_children)
        child->advance(seconds);
}

void Element::draw(DrawTarget& target, Point origin)
{
    for (auto* child : m_children)
        child->paint(target,
            Point { origin.x + child->m_position.x - m_position.x, origin.y + child->m_position.y - m_position.y });
}

void Element::render_cache()
{
    m_cache_surface.recreate(m_size);
    if (!m_cache_surface.buffer())
        return;
    fill_rect(m_cache_surface.target(), 0, 0, m_size.width, m_size.height, ColourFillOp(kKeyColour));
    draw(m_cache_surface.target(), Point {});
}

void Element::paint(DrawTarget& target, Point origin)
{
    if (m_visibility_animation && m_visibility_animation->running()) {
        m_visibility_animation->draw(target, origin);
        return;
    }
    if (!m_visible)
        return;
    if (m_cache) {
        if (m_needs_redraw || m_cache_surface.size() != m_size || !m_cache_surface.buffer())
            render_cache();
        m_cache_surface.draw_onto(target, origin, m_cache_op ? *m_cache_op : copy_op());
    } else {
        draw(target, origin);
    }
    m_needs_redraw = false;
}

void Element::show(bool visible)
{
    if (visible == m_visible)
        return;
    if (visible)
        set_visible(true);
    if (m_visibility_animation) {
        if (m_visibility_animation->running()) {
            m_visibility_animation->reverse();
        } else {
            if (m_root) {
                // Both passes at the form's own slot, so the picture the
                // animation takes is the one the element would show now.
                Element& root = *m_root;
                root.set_horizontal(root.position().x, root.size().width);
                root.set_vertical(root.position().y, root.size().height);
            }
            if (m_needs_redraw || m_cache_surface.size() != m_size || !m_cache_surface.buffer())
                render_cache();
            m_visibility_animation->start(nullptr, visible ? 1 : -1, &m_cache_surface);
        }
    }
    if (!visible)
        set_visible(false);
}

void Element::invalidate_layout()
{
    for (Element* e = this; e; e = e->m_parent) {
        e->m_width_pair = MeasurePair { -1, -1 };
        e->m_height_pair = MeasurePair { -1, -1 };
        e->m_layout_pending = true;
    }
}

void Element::invalidate_heights()
{
    for (Element* e = this; e; e = e->m_parent)
        e->m_height_pair = MeasurePair { -1, -1 };
}

void Element::invalidate_drawing()
{
    for (Element* e = this; e; e = e->m_parent)
        e->m_needs_redraw = true;
}

MeasurePair Element::width_pair()
{
    if (m_width_pair.preferred == -1) {
        MeasurePair pair {};
        measure_width(pair);
        m_width_pair = pair;
    }
    return m_width_pair;
}

MeasurePair Element::height_pair()
{
    if (m_height_pair.preferred == -1) {
        MeasurePair pair {};
        measure_height(pair);
        m_height_pair = pair;
    }
    return m_height_pair;
}

AxisChild Element::horizontal_axis()
{
    return AxisChild { m_anchor_x, m_border_min.x, m_border_max.x, width_pair(), m_table_ratio };
}

AxisChild Element::vertical_axis()
{
    return AxisChild { m_anchor_y, m_border_min.y, m_border_max.y, height_pair(), m_table_ratio };
}

void Element::measure_width(MeasurePair& pair)
{
    std::vector<AxisChild> axes;
    axes.reserve(m_children.size());
    for (auto* child : m_children)
        axes.push_back(child->horizontal_axis());
    pair = measure_base(pair, m_design_size.width, axes);
}

void Element::measure_height(MeasurePair& pair)
{
    std::vector<AxisChild> axes;
    axes.reserve(m_children.size());
    for (auto* child : m_children)
        axes.push_back(child->vertical_axis());
    pair = measure_base(pair, m_design_size.height, axes);
}

namespace {

// A slot larger than the limit: the limit, centred in it.
void clamp_centred(std::int32_t& start, std::int32_t& length, std::int32_t limit)
{
    if (limit <= 0 || length <= limit)
        return;
    start += (length - limit) / 2;
    length = limit;
}

}

void Element::set_horizontal(std::int32_t x, std::int32_t width)
{
    clamp_centred(x, width, m_max_size.width);
    if (x == m_position.x && width == m_size.width && !m_layout_pending)
        return;
    m_position.x = x;
    m_size.width = width;
    m_layout_pending = true;
    m_needs_redraw = true;
    if (m_observer)
        m_observer->on_width_changed(*this, width);
    layout_horizontal();
}

void Element::set_vertical(std::int32_t y, std::int32_t height)
{
    clamp_centred(y, height, m_max_size.height);
    if (y == m_position.y && height == m_size.height && !m_layout_pending)
        return;
    m_position.y = y;
    m_size.height = height;
    m_layout_pending = false;
    m_needs_redraw = true;
    if (m_observer)
        m_observer->on_height_changed(*this, height);
    layout_vertical();
}

void Element::layout_horizontal()
{
    for (auto* child : m_children) {
        auto axis = child->horizontal_axis();
        auto placed = place_in_slot(axis, axis.pair.preferred, m_size.width);
        child->set_horizontal(m_position.x + placed.start, placed.size);
    }
}

void Element::layout_vertical()
{
    for (auto* child : m_children) {
        auto axis = child->vertical_axis();
        auto placed = place_in_slot(axis, axis.pair.preferred, m_size.height);
        child->set_vertical(m_position.y + placed.start, placed.size);
    }
}

bool Element::hit_test(Point point) const
{
    return point.x >= m_position.x && point.x < m_position.x + m_size.width && point.y >= m_position.y
        && point.y < m_position.y + m_size.height;
}

Element* Element::find_child(WStringView id) const
{
    for (auto* child : m_children)
        if (child->m_id == id)
            return child;
    for (auto* child : m_children)
        if (auto* found = child->find_child(id))
            return found;
    return nullptr;
}

bool Element::bind_child(WStringView id, ElementObserver* handler)
{
    auto* element = find_child(id);
    if (!element)
        return false;
    element->set_observer(handler);
    element->set_handler(handler);
    return true;
}

}
