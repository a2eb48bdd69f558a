#include "widgets/Form.h"

#include "platform/System.h"

#include <algorithm>

namespace qv {

namespace {

bool contains(std::vector<Element*> const& list, Element const* element)
{
    return std::find(list.begin(), list.end(), element) != list.end();
}

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
}

bool Form::on_pointer_button(PointerEvent const& event)
{
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
    return false;
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

void FormScreen::on_pointer_move(Point point)
{
    m_form.on_pointer_move(PointerEvent { point, platform::tick_count(), false, false });
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
