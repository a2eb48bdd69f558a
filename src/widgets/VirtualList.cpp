#include "widgets/VirtualList.h"

#include "base/Log.h"
#include "widgets/Coasting.h"

#include <algorithm>
#include <cmath>

namespace qv {

namespace {

// Moves `value` toward `goal` by at most `limit`.
double approach(double value, double goal, double limit)
{
    if (value < goal)
        return std::min(value + limit, goal);
    return std::max(value - limit, goal);
}

PointerEvent cancelled_release() { return PointerEvent { Point { -1, -1 }, 0, false, true }; }

}

void ListProvider::on_item_activated(VirtualList& list, std::int32_t cell)
{
    on_item_clicked(list, cell / std::max(list.columns(), 1));
}

VirtualList::VirtualList(Element* parent)
    : Element(parent)
{
    if (root())
        root()->register_interactive(this);
}

VirtualList::~VirtualList()
{
    // Items may hold buttons that still think they are pressed.
    cancel_press();
    m_items.clear();
}

void VirtualList::load(PropertiesImpl const& store, SkinNode node)
{
    Element::load(store, node);
    m_scroll_border_min = store.get_point(node, u"scroll_border_min", Point {}).y;
    m_scroll_border_max = store.get_point(node, u"scroll_border_max", Point {}).y;
    m_grow = store.get_integer(node, u"grow", 0) != 0;
    m_offset = m_scroll_border_min;
}

void VirtualList::set_provider(ListProvider* provider, std::int32_t count)
{
    m_provider = provider;
    cancel_press();
    m_items.clear();
    m_item_count = std::max(count, 0);
    m_first_index = -1;
    m_end_index = 0;
    m_selected_index = -1;
    m_items_height = 0;
    m_offset = m_scroll_border_min;
    m_velocity = 0;
    m_wheel_pending = 0;
    m_rebuild_pending = true;
    // A refresh of the same rows keeps the focus where it was, as far as
    // the new count allows.
    m_focus_index = std::clamp(m_focus_index, 0, std::max(cell_count() - 1, 0));
    m_reveal_pending = m_focus_index > 0;
    invalidate_layout();
    invalidate_drawing();
}

void VirtualList::refresh_items(std::int32_t count)
{
    count = std::max(count, 0);
    std::int32_t const top = std::clamp(m_first_index + 1, 0, std::max(count - 1, 0));
    cancel_press();
    m_items.clear();
    m_item_count = count;
    m_first_index = top - 1;
    m_end_index = top;
    m_items_height = 0;
    m_selected_index = -1;
    // Shorter than the window now: the rows come down to fill it.
    m_rebuild_pending = true;
    m_focus_index = std::clamp(m_focus_index, 0, std::max(cell_count() - 1, 0));
    invalidate_layout();
    invalidate_drawing();
}

void VirtualList::remove_item(std::int32_t index)
{
    if (index < 0 || index >= m_item_count)
        return;
    for (auto& item : m_items) {
        if (item->m_index == index) {
            if (item.get() == m_pressed_item)
                cancel_press();
            item->m_index = -1;
        } else if (item->m_index > index) {
            --item->m_index;
        }
    }
    if (index <= m_first_index)
        --m_first_index;
    if (index < m_end_index)
        --m_end_index;
    --m_item_count;
    // The focus stays on its item; on the removed one, it takes the next.
    if (m_cells < 0 && m_focus_index > index)
        --m_focus_index;
    m_focus_index = std::clamp(m_focus_index, 0, std::max(cell_count() - 1, 0));
    invalidate_drawing();
}

void VirtualList::rebind_item(std::int32_t index)
{
    if (auto* item = item_at_index(index))
        bind_item(*item, index, false);
}

void VirtualList::fling(double velocity) { m_velocity = std::clamp(velocity, -kMaxFlick, kMaxFlick); }

ListItem* VirtualList::item_at_index(std::int32_t index) const
{
    if (index < 0)
        return nullptr;
    for (auto const& item : m_items)
        if (item->m_index == index)
            return item.get();
    return nullptr;
}

double VirtualList::window_height() const
{
    // A growing list sizes itself by its items, so its own height cannot
    // bound them: the screen does.
    if (m_grow && m_root && m_root != static_cast<Element const*>(this) && m_root->size().height > 0)
        return m_root->size().height;
    return m_size.height;
}

double VirtualList::top_overscroll() const
{
    if (m_first_index != -1)
        return 0;
    return std::max(0.0, m_offset - m_scroll_border_min);
}

double VirtualList::bottom_overscroll() const
{
    if (m_end_index < m_item_count)
        return 0;
    double rest = m_size.height - m_scroll_border_max - m_items_height;
    // Content shorter than the window rests at the top, not at the bottom.
    if (m_first_index == -1)
        rest = std::min(rest, static_cast<double>(m_scroll_border_min));
    return std::max(0.0, rest - m_offset);
}

std::int32_t VirtualList::layout_item(ListItem& item)
{
    item.set_horizontal(0, m_size.width);
    std::int32_t const height = item.height_pair().preferred;
    item.set_vertical(0, height);
    return height;
}

void VirtualList::update_look(ListItem& item)
{
    bool const pressed = &item == m_pressed_item && item.captured().empty();
    bool const selected = m_selected_index != -1 && item.m_index == m_selected_index;
    if (auto* look = item.find_child(u"#vlist_normal"))
        look->set_visible(!pressed && !selected);
    if (auto* look = item.find_child(u"#vlist_pressed"))
        look->set_visible(pressed);
    if (auto* look = item.find_child(u"#vlist_selected"))
        look->set_visible(selected && !pressed);
    item.invalidate_drawing();
    invalidate_drawing();
}

void VirtualList::bind_item(ListItem& item, std::int32_t index, bool fresh)
{
    item.m_index = index;
    item.bind(*this, m_selected_index != -1 && index == m_selected_index, fresh);
    for (auto const* id : { u"#vlist_normal", u"#vlist_pressed", u"#vlist_selected" })
        if (auto* look = item.find_child(id))
            look->set_observer(nullptr);
    item.set_visible(true);
    layout_item(item);
    update_look(item);
}

void VirtualList::cancel_press()
{
    ListItem* item = m_pressed_item;
    if (!item)
        return;
    m_pressed_item = nullptr;
    if (!item->captured().empty())
        item->on_pointer_button(cancelled_release());
    update_look(*item);
}

void VirtualList::fill_above()
{
    while (m_provider && m_first_index != -1 && m_offset > 0) {
        ListItem* made = m_provider->create_item(*this, m_first_index);
        if (!made) {
            remove_item(m_first_index);
            continue;
        }
        m_items.insert(m_items.begin(), std::unique_ptr<ListItem>(made));
        made->m_in_window = true;
        bind_item(*made, m_first_index, true);
        made->m_shown_height = made->size().height;
        m_offset -= made->m_shown_height;
        m_items_height += made->m_shown_height;
        --m_first_index;
    }
}

void VirtualList::fill_window()
{
    if (!m_provider)
        return;
    double const height = window_height();
    fill_above();
    // The last item of the list stays even when dragged wholly above the
    // window: without it the list would be empty and could not spring back.
    while (!m_items.empty() && m_items.front()->m_shown_height < -m_offset
        && !(m_items.size() == 1 && m_end_index >= m_item_count)) {
        auto& first = m_items.front();
        if (first.get() == m_pressed_item)
            cancel_press();
        m_offset += first->m_shown_height;
        m_items_height -= first->m_shown_height;
        if (first->m_index != -1)
            m_first_index = first->m_index;
        m_items.erase(m_items.begin());
    }
    while (m_end_index < m_item_count && m_items_height + m_offset < height) {
        ListItem* made = m_provider->create_item(*this, m_end_index);
        if (!made) {
            --m_item_count;
            continue;
        }
        m_items.emplace_back(made);
        made->m_in_window = true;
        bind_item(*made, m_end_index, true);
        made->m_shown_height = made->size().height;
        m_items_height += made->m_shown_height;
        ++m_end_index;
    }
    while (!m_items.empty() && m_items_height + m_offset - m_items.back()->m_shown_height > height) {
        auto& last = m_items.back();
        if (last.get() == m_pressed_item)
            cancel_press();
        m_items_height -= last->m_shown_height;
        if (last->m_index != -1)
            m_end_index = last->m_index;
        m_items.pop_back();
    }
    if (m_rebuild_pending && height > 0) {
        m_rebuild_pending = false;
        double const gap = (height - m_scroll_border_max) - (m_items_height + m_offset);
        if (gap > 0) {
            m_offset = std::min(m_offset + gap, static_cast<double>(m_scroll_border_min));
            fill_above();
        }
    }
}

void VirtualList::renormalise()
{
    if (!m_grow)
        return;
    double const bottom = m_size.height - m_scroll_border_max - m_items_height;
    if (m_end_index >= m_item_count && bottom - m_offset > 0) {
        m_offset = bottom;
        m_velocity = 0;
    }
    if (m_first_index == -1 && m_offset > m_scroll_border_min) {
        m_offset = m_scroll_border_min;
        m_velocity = 0;
    }
}

void VirtualList::measure_height(MeasurePair& pair)
{
    Element::measure_height(pair);
    if (!m_grow)
        return;
    fill_window();
    auto const content = static_cast<std::int32_t>(std::ceil(m_items_height)) + m_scroll_border_max + m_scroll_border_min;
    pair.preferred = std::max(pair.preferred, content);
    pair.minimum = std::max(pair.minimum, m_scroll_border_min + m_scroll_border_max);
    Log::get() << u"Desired size=" << pair.preferred << u"\n";
}

void VirtualList::layout_horizontal()
{
    Element::layout_horizontal();
    for (auto& item : m_items)
        layout_item(*item);
}

void VirtualList::layout_vertical()
{
    // Items are placed by the offset when drawn, not by the layout.
    Element::layout_vertical();
}

void VirtualList::on_visibility_changed(bool shown)
{
    Element::on_visibility_changed(shown);
    if (!shown) {
        cancel_press();
        m_stylus_down = false;
    }
}

ListItem* VirtualList::item_under(Point point, Point* local) const
{
    if (point.x < m_position.x || point.x >= m_position.x + m_size.width)
        return nullptr;
    double const y = point.y - m_position.y;
    if (y < 0 || y >= m_size.height)
        return nullptr;
    double top = std::floor(m_offset);
    for (auto const& item : m_items) {
        double const bottom = top + item->m_shown_height;
        if (item->m_index != -1 && y >= top && y < bottom) {
            if (local)
                *local = Point { point.x - m_position.x, static_cast<std::int32_t>(std::floor(y - top)) };
            return item.get();
        }
        top = bottom;
    }
    return nullptr;
}

void VirtualList::draw(DrawTarget& target, Point origin)
{
    fill_window();
    if (m_reveal_pending)
        reveal_focus();
    Rect const window { origin.x, origin.y, origin.x + m_size.width, origin.y + m_size.height };
    auto const t = static_cast<std::int32_t>(std::floor(m_offset));
    if (t > 0) {
        ClipScope band(target, intersect(window, Rect { window.left, window.top, window.right, window.top + t }));
        Element::draw(target, origin);
    }
    auto const below = static_cast<std::int32_t>(m_size.height - m_items_height - t);
    if (below > 0) {
        ClipScope band(target, Rect { window.left, window.bottom - below, window.right, window.bottom });
        Element::draw(target, origin);
    }
    double y = t;
    for (auto& item : m_items) {
        auto const top = static_cast<std::int32_t>(std::floor(y));
        y += item->m_shown_height;
        auto const bottom = static_cast<std::int32_t>(std::floor(y));
        if (bottom <= 0 || top >= m_size.height || bottom <= top)
            continue;
        if (item->layout_pending())
            layout_item(*item);
        ClipScope clip(target, intersect(window, Rect { window.left, origin.y + top, window.right, origin.y + bottom }));
        item->paint(target, Point { origin.x, origin.y + top });
    }
}

void VirtualList::step_heights(double seconds)
{
    std::int32_t anchor = m_first_index + 1;
    if (m_pressed_item)
        anchor = m_pressed_item->m_index;
    else if (m_selected_index != -1)
        anchor = m_selected_index;
    // Items before the anchor's place in the window are above it, removed
    // ones included, so the anchor row stays where the eye is.
    std::size_t anchor_place = m_items.size();
    for (std::size_t i = 0; i < m_items.size(); ++i) {
        if (m_items[i]->m_index != -1 && m_items[i]->m_index >= anchor) {
            anchor_place = i;
            break;
        }
    }
    double const limit = kHeightSpeed * seconds;
    for (std::size_t i = 0; i < m_items.size(); ++i) {
        auto& item = *m_items[i];
        double const target = item.m_index == -1 ? 0.0 : layout_item(item);
        double const before = item.m_shown_height;
        item.m_shown_height = approach(before, target, limit);
        double const change = item.m_shown_height - before;
        if (change == 0)
            continue;
        if (i < anchor_place)
            m_offset -= change;
        else if (i == anchor_place && item.m_index == anchor)
            m_offset -= change / 2;
    }
    std::erase_if(m_items, [this](std::unique_ptr<ListItem> const& item) {
        return item->m_index == -1 && item->m_shown_height <= 0 && item.get() != m_pressed_item;
    });
    m_items_height = 0;
    for (auto const& item : m_items)
        m_items_height += item->m_shown_height;
}

void VirtualList::apply_friction(double seconds)
{
    // A finger resting on the list while it coasts brakes it.
    double const brake = m_stylus_down && !m_pressed_item ? kHeldBrake : 1;
    if (m_velocity < 0) {
        m_velocity = -coasted_speed(-m_velocity, seconds, brake);
        if (double const u = bottom_overscroll(); u > 0)
            m_velocity = -edge_pulled_speed(-m_velocity, u, seconds);
    } else if (m_velocity > 0) {
        m_velocity = coasted_speed(m_velocity, seconds, brake);
        if (double const s = top_overscroll(); s > 0)
            m_velocity = edge_pulled_speed(m_velocity, s, seconds);
    }
}

void VirtualList::spring_back(double seconds)
{
    if (m_stylus_down || m_velocity != 0 || m_items.empty())
        return;
    double const limit = kSpringSpeed * seconds;
    if (m_first_index == -1 && m_offset > m_scroll_border_min)
        m_offset = approach(m_offset, m_scroll_border_min, limit);
    else if (double const u = bottom_overscroll(); u > 0)
        m_offset = approach(m_offset, m_offset + u, limit);
}

void VirtualList::advance(double seconds)
{
    Element::advance(seconds);
    for (auto& item : m_items)
        item->advance(seconds);
    if (!m_provider)
        return;
    double const offset_before = m_offset;
    double const height_before = m_items_height;
    step_heights(seconds);
    bool const heights_moved = m_items_height != height_before;
    if (m_reveal_pending)
        reveal_focus();
    step_wheel(seconds);
    m_offset += m_velocity * seconds;
    renormalise();
    fill_window();
    apply_friction(seconds);
    spring_back(seconds);
    if (m_stylus_down && m_pressed_item && item_under(m_pointer) != m_pressed_item)
        cancel_press();
    if (m_grow && m_items_height != height_before)
        invalidate_layout();
    if (shown() && (m_offset != offset_before || heights_moved))
        invalidate_drawing();
}

bool VirtualList::on_pointer_button(PointerEvent const& event)
{
    if (event.down) {
        m_stylus_down = true;
        m_wheel_pending = 0;
        m_pointer = event.position;
        m_last_tick = event.tick;
        m_tracker.press(event.position, event.tick);
        cancel_press();
        if (m_velocity == 0) {
            Point local;
            if (auto* item = item_under(event.position, &local)) {
                m_pressed_item = item;
                m_press_local = local;
                item->on_pointer_button(PointerEvent { local, event.tick, true, false });
                // The item's own handler may have let go of it already.
                if (m_pressed_item == item)
                    update_look(*item);
            }
        }
        invalidate_drawing();
        return true;
    }

    bool const was_down = m_stylus_down;
    m_stylus_down = false;
    invalidate_drawing();
    if (event.position_unknown) {
        // The press was taken away (the form was hidden): nothing was chosen
        // and nothing was flicked.
        cancel_press();
        return was_down;
    }
    m_pointer = event.position;
    m_last_tick = event.tick;
    m_tracker.add(event.position, event.tick);
    if (ListItem* item = m_pressed_item) {
        m_velocity = 0;
        Point local;
        ListItem* under = item_under(event.position, &local);
        if (under && under != item) {
            cancel_press();
            return true;
        }
        m_pressed_item = nullptr;
        update_look(*item);
        if (item->captured().empty()) {
            std::int32_t const index = item->m_index;
            // Last: the provider may rebuild the list and destroy the item.
            if (index != -1 && m_provider)
                m_provider->on_item_clicked(*this, index);
        } else {
            if (!under) {
                double top = std::floor(m_offset);
                for (auto const& live : m_items) {
                    if (live.get() == item)
                        break;
                    top += live->m_shown_height;
                }
                local = Point { event.position.x - m_position.x,
                    static_cast<std::int32_t>(std::floor(event.position.y - m_position.y - top)) };
            }
            item->on_pointer_button(PointerEvent { local, event.tick, false, false });
        }
        return true;
    }
    // Whole pixels per second, so that a flick carries the list exactly as
    // far as it always did.
    double const flick = std::trunc(m_tracker.velocity().y);
    if (top_overscroll() > 0 || bottom_overscroll() > 0)
        m_velocity = 0;
    else
        fling(flick);
    return true;
}

void VirtualList::on_pointer_move(PointerEvent const& event)
{
    if (!m_stylus_down)
        return;
    m_pointer = event.position;
    m_last_tick = event.tick;
    auto const step = m_tracker.add(event.position, event.tick);
    if (!step)
        return;
    double const height = std::max<double>(m_size.height, 1);
    double const past = step->y > 0 ? top_overscroll() : step->y < 0 ? bottom_overscroll() : 0;
    m_offset += resisted_step(step->y, past, height);
    renormalise();
    if (!m_tracker.in_dead_zone())
        cancel_press();
    invalidate_drawing();
}

bool VirtualList::on_key(KeyInput const& key)
{
    std::vector<ListItem*> live;
    for (auto const& item : m_items)
        if (item->m_index != -1)
            live.push_back(item.get());
    for (auto* item : live) {
        bool const still_here = std::any_of(m_items.begin(), m_items.end(),
            [item](std::unique_ptr<ListItem> const& held) { return held.get() == item; });
        if (still_here && item->on_key(key))
            return true;
    }
    return false;
}

void VirtualList::set_grid(std::int32_t columns, std::int32_t cells)
{
    m_columns = std::max(columns, 1);
    m_cells = cells;
    m_focus_index = std::clamp(m_focus_index, 0, std::max(cell_count() - 1, 0));
    invalidate_drawing();
}

double VirtualList::row_height() const
{
    double total = 0;
    int rows = 0;
    for (auto const& item : m_items) {
        if (item->m_index == -1)
            continue;
        total += item->m_shown_height;
        ++rows;
    }
    return rows ? total / rows : 0;
}

ListItem* VirtualList::live_item(std::int32_t index, double* top) const
{
    if (index < 0)
        return nullptr;
    double y = std::floor(m_offset);
    for (auto const& item : m_items) {
        if (item->m_index == index) {
            if (top)
                *top = y;
            return item.get();
        }
        y += item->m_shown_height;
    }
    return nullptr;
}

void VirtualList::jump_to(std::int32_t index)
{
    cancel_press();
    m_items.clear();
    m_items_height = 0;
    m_first_index = index - 1;
    m_end_index = index;
    m_offset = 0;
    m_velocity = 0;
    m_rebuild_pending = false;
    fill_window();
}

void VirtualList::settle()
{
    fill_window();
    if (double const past = bottom_overscroll(); past > 0) {
        m_offset += past;
        fill_window();
    }
    if (m_first_index == -1 && m_offset > m_scroll_border_min) {
        m_offset = m_scroll_border_min;
        fill_window();
    }
}

void VirtualList::reveal_focus()
{
    std::int32_t const row = focus_row();
    double const height = window_height();
    if (!m_provider || row >= m_item_count || height <= 0 || m_size.width <= 0) {
        m_reveal_pending = m_provider && row < m_item_count;
        return;
    }
    m_reveal_pending = false;
    m_velocity = 0;
    m_wheel_pending = 0;
    fill_window();
    double top = 0;
    ListItem* item = live_item(row, &top);
    if (!item) {
        // Far away: the window is built anew around the row, which comes in
        // from the side it was on.
        bool const from_below = row >= m_end_index;
        jump_to(row);
        item = live_item(row, &top);
        if (!item)
            return;
        if (from_below) {
            m_offset += height - (top + item->m_shown_height);
            fill_window();
            item = live_item(row, &top);
            if (!item)
                return;
        }
    }
    double const bottom = top + item->m_shown_height;
    if (top < 0)
        m_offset -= top;
    else if (bottom > height)
        m_offset -= std::min(bottom - height, top);
    settle();
    invalidate_drawing();
}

void VirtualList::set_focus_index(std::int32_t index)
{
    m_focus_index = std::clamp(index, 0, std::max(cell_count() - 1, 0));
    reveal_focus();
    invalidate_drawing();
}

void VirtualList::on_focus_changed(bool focused)
{
    // Focus that comes with a press stays where the list was scrolled: the
    // press is on a row in view, and scrolling first would move another
    // row under it.
    if (focused && Form::focus_frame_mode())
        reveal_focus();
    invalidate_drawing();
}

bool VirtualList::on_focus_key(KeyInput const& key)
{
    std::int32_t const cells = cell_count();
    if (!m_provider || cells <= 0)
        return false;
    std::int32_t const last = cells - 1;
    std::int32_t const columns = m_columns;
    std::int32_t index = std::clamp(m_focus_index, 0, last);
    std::int32_t const row = index / columns;
    std::int32_t const column = index % columns;
    std::int32_t const last_row = last / columns;
    double const row_pixels = row_height();
    std::int32_t const page
        = row_pixels > 0 ? std::max(1, static_cast<std::int32_t>(window_height() / row_pixels)) : 1;
    switch (key.key) {
    case Key::Up:
        if (row == 0)
            return false;
        index -= columns;
        break;
    case Key::Down:
        if (row == last_row)
            return false;
        index = std::min(index + columns, last);
        break;
    case Key::Left:
        if (columns == 1 || index == 0)
            return false;
        --index;
        break;
    case Key::Right:
        if (columns == 1 || index == last)
            return false;
        ++index;
        break;
    case Key::PageUp:
        index = std::max(row - page, 0) * columns + column;
        break;
    case Key::PageDown:
        index = std::min(std::min(row + page, last_row) * columns + column, last);
        break;
    case Key::Home:
        index = 0;
        break;
    case Key::End:
        index = last;
        break;
    case Key::Enter:
    case Key::Space:
        m_focus_index = index;
        // A held key opens once. Last: the provider may rebuild the list.
        if (key.first)
            m_provider->on_item_activated(*this, index);
        return true;
    default:
        return false;
    }
    set_focus_index(index);
    return true;
}

Rect VirtualList::focus_rect() const
{
    double top = 0;
    ListItem const* item = live_item(focus_row(), &top);
    if (!item)
        return Rect {};
    Rect const cell = item->cell_rect(m_focus_index % m_columns);
    auto const y = m_position.y + static_cast<std::int32_t>(top);
    Rect const placed { m_position.x + cell.left, y + cell.top, m_position.x + cell.right, y + cell.bottom };
    Rect const window { m_position.x, m_position.y, m_position.x + m_size.width, m_position.y + m_size.height };
    Rect const shown = intersect(placed, window);
    return shown.is_empty() ? Rect {} : shown;
}

bool VirtualList::on_wheel(Point, double notches, bool)
{
    if (!m_provider || m_item_count <= 0 || notches == 0)
        return false;
    double row = row_height();
    if (row <= 0)
        row = std::max(1.0, window_height() / 8);
    m_velocity = 0;
    m_wheel_pending += notches * kWheelRows * row;
    invalidate_drawing();
    return true;
}

void VirtualList::step_wheel(double seconds)
{
    if (m_wheel_pending == 0 || m_stylus_down)
        return;
    double step = m_wheel_pending * std::min(1.0, seconds * kWheelPace);
    if (std::abs(m_wheel_pending - step) < 0.5)
        step = m_wheel_pending;
    m_wheel_pending -= step;
    m_offset += step;
    fill_window();
    // The wheel stops at the ends: no overscroll and no spring.
    if (top_overscroll() > 0 || bottom_overscroll() > 0) {
        m_wheel_pending = 0;
        settle();
    }
}

}
