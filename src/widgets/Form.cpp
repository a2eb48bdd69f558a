#include "widgets/Form.h"

#include "base/ProgramClock.h"
#include "platform/System.h"

#include <algorithm>
#include <cstdlib>
#include <optional>

namespace qv {

namespace {

bool contains(std::vector<Element*> const& list, Element const* element)
{
    return std::find(list.begin(), list.end(), element) != list.end();
}

bool is_arrow(Key key) { return key == Key::Left || key == Key::Right || key == Key::Up || key == Key::Down; }

bool is_navigation(Key key)
{
    switch (key) {
    case Key::Left:
    case Key::Right:
    case Key::Up:
    case Key::Down:
    case Key::Enter:
    case Key::Space:
    case Key::PageUp:
    case Key::PageDown:
    case Key::Home:
    case Key::End:
        return true;
    default:
        return false;
    }
}

Rect bounds(Element const& element)
{
    return Rect { element.position().x, element.position().y, element.position().x + element.size().width,
        element.position().y + element.size().height };
}

// How far `to` lies from `from` in the arrow's direction, or nothing when it
// does not lie that way. The gap across the direction weighs double, so that
// an element straight ahead beats a nearer one off to the side; the centres'
// offset across breaks ties.
std::optional<double> focus_distance(Rect const& from, Rect const& to, Key direction)
{
    bool const vertical = direction == Key::Up || direction == Key::Down;
    std::int64_t const to_centre = vertical ? std::int64_t { to.top } + to.bottom : std::int64_t { to.left } + to.right;
    // Beyond the focused element: the centre past its far edge, the near
    // edge past its near one (a wide list is not beside the button it spans).
    double along = 0;
    switch (direction) {
    case Key::Down:
        if (to_centre <= 2 * std::int64_t { from.bottom } - 2 || to.top <= from.top)
            return std::nullopt;
        along = std::max(0, to.top - from.bottom);
        break;
    case Key::Up:
        if (to_centre >= 2 * std::int64_t { from.top } + 2 || to.bottom >= from.bottom)
            return std::nullopt;
        along = std::max(0, from.top - to.bottom);
        break;
    case Key::Right:
        if (to_centre <= 2 * std::int64_t { from.right } - 2 || to.left <= from.left)
            return std::nullopt;
        along = std::max(0, to.left - from.right);
        break;
    case Key::Left:
        if (to_centre >= 2 * std::int64_t { from.left } + 2 || to.right >= from.right)
            return std::nullopt;
        along = std::max(0, from.left - to.right);
        break;
    default:
        return std::nullopt;
    }
    std::int32_t const gap = vertical ? std::max({ 0, to.left - from.right, from.left - to.right })
                                      : std::max({ 0, to.top - from.bottom, from.top - to.bottom });
    std::int64_t const across = vertical ? (std::int64_t { to.left } + to.right) - (std::int64_t { from.left } + from.right)
                                         : (std::int64_t { to.top } + to.bottom) - (std::int64_t { from.top } + from.bottom);
    return along + 2.0 * gap + std::abs(static_cast<double>(across)) / 1024.0;
}

bool g_focus_frame_mode = false;

}

Form::Form()
    : Element(nullptr)
{
    m_root = this;
    m_visible = false;
}

Form::~Form()
{
    // The children reach back into the lists while they die.
    destroy_children();
    m_interactive.clear();
    m_captured.clear();
}

bool Form::load_form(PropertiesImpl const& store, WStringView node_name)
{
    auto node = store.find_node(node_name);
    if (!node)
        return false;
    m_captured.clear();
    destroy_children();
    load(store, node);
    invalidate_layout();
    return true;
}

void Form::load(PropertiesImpl const& store, SkinNode node)
{
    Element::load(store, node);
    m_outside_color = store.get_color(node, u"outside_color", SkinColor {});
    // One frame for every form: skins style the focus in one place.
    m_focus_frame.reset();
    if (auto frame = store.find_node(u"Focus")) {
        m_focus_frame = store.get_picture(frame, u"src", PictureRef {});
        auto const alpha = store.get_integer(frame, u"alpha", -1);
        m_focus_op = alpha == -1 ? copy_op().clone() : make_alpha_op(alpha);
    }
}

void Form::set_visible(bool visible)
{
    if (!visible && !m_captured.empty()) {
        // Whoever holds the pointer must let go now: the release will never
        // reach a hidden form.
        PointerEvent cancel { Point { -1, -1 }, 0, false, true };
        auto captured = std::move(m_captured);
        m_captured.clear();
        for (auto* element : captured)
            if (contains(m_interactive, element))
                element->on_pointer_button(cancel);
    }
    Element::set_visible(visible);
    m_screen.record_visible(m_visible);
}

void Form::register_interactive(Element* element)
{
    if (!contains(m_interactive, element))
        m_interactive.push_back(element);
}

void Form::forget(Element* element)
{
    std::erase(m_interactive, element);
    std::erase(m_captured, element);
    if (m_focused == element)
        m_focused = nullptr;
}

bool Form::focus_frame_mode() { return g_focus_frame_mode; }

void Form::set_focus_frame_mode(bool shown) { g_focus_frame_mode = shown; }

void Form::set_focus(Element* element)
{
    if (element == m_focused)
        return;
    Element* const before = m_focused;
    m_focused = element;
    if (before)
        before->on_focus_changed(false);
    if (element)
        element->on_focus_changed(true);
    invalidate_drawing();
}

Element* Form::focus_neighbour(Key direction) const
{
    auto const takes_focus = [this](Element* element) {
        return element != m_focused && element->focusable() && element->usable();
    };
    if (!m_focused || !m_focused->usable() || !m_focused->focusable()) {
        auto const first = std::find_if(m_interactive.begin(), m_interactive.end(), takes_focus);
        return first == m_interactive.end() ? nullptr : *first;
    }
    Rect from = m_focused->focus_rect();
    if (from.is_empty())
        from = bounds(*m_focused);
    Element* best = nullptr;
    double best_distance = 0;
    for (auto* element : m_interactive) {
        if (!takes_focus(element))
            continue;
        auto const distance = focus_distance(from, bounds(*element), direction);
        if (distance && (!best || *distance < best_distance)) {
            best = element;
            best_distance = *distance;
        }
    }
    return best;
}

bool Form::on_navigation_key(KeyInput const& key)
{
    if (!m_keyboard_focus || !key.down || !is_navigation(key.key))
        return false;
    bool const had_frame = focus_frame_shown();
    set_focus_frame_mode(true);
    if (!had_frame)
        invalidate_drawing();
    if (!m_focused || !m_focused->usable() || !m_focused->focusable()) {
        // The first key finds the focus a place before it does anything.
        set_focus(focus_neighbour(key.key));
        return m_focused != nullptr;
    }
    if (m_focused->on_focus_key(key)) {
        invalidate_drawing();
        return true;
    }
    if (!is_arrow(key.key))
        return false;
    if (auto* next = focus_neighbour(key.key)) {
        set_focus(next);
        return true;
    }
    return false;
}

void Form::note_pointer()
{
    if (focus_frame_shown())
        invalidate_drawing();
    set_focus_frame_mode(false);
}

bool Form::on_wheel(Point point, double notches, bool ctrl)
{
    note_pointer();
    auto candidates = m_interactive;
    for (auto* element : candidates)
        if (contains(m_interactive, element) && element->usable() && element->hit_test(point)
            && element->on_wheel(point, notches, ctrl))
            return true;
    return false;
}

void Form::draw(DrawTarget& target, Point origin)
{
    Element::draw(target, origin);
    if (!focus_frame_shown() || !m_focused->shown() || m_focus_frame.is_empty() || !m_focus_op)
        return;
    Rect const rect = m_focused->focus_rect();
    if (rect.is_empty())
        return;
    m_focus_frame.draw(target, Point { origin.x + rect.left - m_position.x, origin.y + rect.top - m_position.y },
        Size { rect.width(), rect.height() }, *m_focus_op);
}

bool Form::on_pointer_button(PointerEvent const& event)
{
    if (event.down)
        note_pointer();
    bool handled = false;
    if (!m_captured.empty() && !event.down) {
        auto captured = std::move(m_captured);
        m_captured.clear();
        // An element may be destroyed by an earlier one's handler; only
        // those still registered are called.
        for (auto* element : captured)
            if (contains(m_interactive, element) && element->usable())
                handled = element->on_pointer_button(event) || handled;
    }
    if (m_captured.empty() && event.down) {
        auto candidates = m_interactive;
        for (auto* element : candidates) {
            if (!contains(m_interactive, element) || !element->hit_test(event.position) || !element->usable())
                continue;
            // The keys carry on from what was pressed last.
            if (m_keyboard_focus && element->focusable())
                set_focus(element);
            m_captured.push_back(element);
            if (element->on_pointer_button(event))
                return true;
        }
    }
    return handled;
}

void Form::on_pointer_move(PointerEvent const& event)
{
    if (!m_captured.empty()) {
        std::erase_if(m_captured, [](Element* element) { return !element->usable(); });
        auto captured = m_captured;
        for (auto* element : captured)
            if (contains(m_captured, element))
                element->on_pointer_move(event);
        return;
    }
    auto candidates = m_interactive;
    for (auto* element : candidates)
        if (contains(m_interactive, element) && element->usable() && element->hit_test(event.position))
            element->on_pointer_move(event);
}

bool Form::on_key(KeyInput const& key)
{
    auto candidates = m_interactive;
    for (auto* element : candidates)
        if (contains(m_interactive, element) && element->usable() && element->on_key(key))
            return true;
    return on_navigation_key(key);
}

bool Form::on_text(WStringView text)
{
    auto candidates = m_interactive;
    for (auto* element : candidates)
        if (contains(m_interactive, element) && element->usable() && element->on_text(text))
            return true;
    return false;
}

void Form::place(Size size)
{
    set_horizontal(0, size.width);
    set_vertical(0, size.height);
}

void FormScreen::set_visible(bool visible) { m_form.set_visible(visible); }

void FormScreen::show(bool visible) { m_form.show(visible); }

void FormScreen::advance(double seconds) { m_form.advance(seconds); }

void FormScreen::draw(DrawTarget& target, Point origin)
{
    m_form.place(size());
    // The stack also draws a screen it is about to show, into the picture
    // its animation starts from; the content is wanted then too.
    if (m_form.visible())
        m_form.paint(target, origin);
    else
        m_form.draw(target, origin);
}

bool FormScreen::needs_redraw() const { return m_form.needs_redraw() || m_form.layout_pending(); }

bool FormScreen::busy() { return m_form.busy(); }

void FormScreen::on_pointer_move(Point point)
{
    m_form.on_pointer_move(PointerEvent { point, program_ticks(), false, false });
}

void FormScreen::on_pointer_button(Point point, bool pressed, bool has_position, std::uint32_t tick)
{
    m_form.on_pointer_button(PointerEvent { has_position ? point : Point { -1, -1 }, tick, pressed, !has_position });
}

bool FormScreen::on_key(KeyInput const& key) { return m_form.on_key(key); }

void FormScreen::on_text(WStringView text) { m_form.on_text(text); }

void FormScreen::on_wheel(Point point, double notches, bool ctrl) { m_form.on_wheel(point, notches, ctrl); }

void FormScreen::on_double_click(Point point) { m_form.on_double_click(point); }

void FormScreen::on_menu_click(Point point) { m_form.on_menu_click(point); }

void FormScreen::set_size(Size size)
{
    Screen::set_size(size);
    m_form.place(size);
}

}
