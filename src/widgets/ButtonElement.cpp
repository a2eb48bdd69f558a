#include "widgets/ButtonElement.h"

#include "skin/SkinErrors.h"
#include "widgets/Form.h"

namespace qv {

ButtonElement::ButtonElement(Element* parent)
    : Element(parent)
{
    if (root())
        root()->register_interactive(this);
}

void ButtonElement::set_handler(ElementObserver* handler) { m_handler = dynamic_cast<ButtonHandler*>(handler); }

void ButtonElement::load(PropertiesImpl const& store, SkinNode node)
{
    Element::load(store, node);
    m_normal_look = find_child(u"#normal");
    m_pressed_look = find_child(u"#pressed");
    m_disabled_look = find_child(u"#disabled");
    for (auto* look : { m_normal_look, m_pressed_look, m_disabled_look })
        if (look)
            look->set_observer(nullptr);
    m_bind_key = Key::None;
    WString const key_name = store.get_string(node, u"bind_key", WString());
    if (!key_name.empty())
        m_bind_key = key_from_name(key_name).value_or(Key::None);
    set_caption(store.text(store.get_string(node, u"text", WString())));
    update_looks();
}

Element* ButtonElement::current_look() const
{
    // The look follows the enabled flags alone: a button in a hidden form
    // is not disabled, it is just not showing yet.
    Element* chosen = !enabled_here() ? m_disabled_look : pressed() ? m_pressed_look : m_normal_look;
    return chosen ? chosen : m_normal_look;
}

void ButtonElement::update_looks()
{
    auto* chosen = current_look();
    for (auto* look : { m_normal_look, m_pressed_look, m_disabled_look })
        if (look)
            look->set_visible(look == chosen);
    invalidate_drawing();
}

void ButtonElement::on_enabled_changed(bool usable)
{
    Element::on_enabled_changed(usable);
    if (!enabled_here() && pressed()) {
        // A disabled button lets go at once; the press cannot end in a click.
        m_pointer_down = false;
        m_key_down = false;
        press_changed(true, true, m_last_pointer);
    }
    update_looks();
}

void ButtonElement::set_caption(WStringView caption)
{
    if (caption == m_caption)
        return;
    m_caption = caption;
    deliver_text(u"#text", m_caption);
}

bool ButtonElement::press_changed(bool was_pressed, bool cancel, Point position)
{
    bool const now = pressed();
    if (now != was_pressed) {
        if (m_handler)
            m_handler->on_pressed_changed(*this, PressChange { position, !usable() || cancel });
        update_looks();
    }
    if (was_pressed && !now && usable() && !cancel && hit_test(position))
        return m_handler ? m_handler->on_click(*this, position) : true;
    return false;
}

bool ButtonElement::on_pointer_button(PointerEvent const& event)
{
    bool const was = pressed();
    m_pointer_down = event.down;
    m_last_pointer = event.position;
    if (pressed() && m_handler) {
        DragStep drag { event.position, {}, {} };
        m_handler->on_drag(*this, drag);
    }
    press_changed(was, event.position_unknown, event.position);
    return true;
}

void ButtonElement::on_pointer_move(PointerEvent const& event)
{
    if (!m_pointer_down)
        return;
    DragStep drag { event.position, { event.position.x - m_last_pointer.x, event.position.y - m_last_pointer.y }, {} };
    if (m_handler)
        m_handler->on_drag(*this, drag);
    m_last_pointer = { event.position.x - drag.used.x, event.position.y - drag.used.y };
}

bool ButtonElement::on_key(KeyInput const& key)
{
    if (m_bind_key == Key::None || key.key != m_bind_key)
        return false;
    bool const was = pressed();
    m_key_down = key.down;
    press_changed(was, false, Point { m_position.x + m_size.width / 2, m_position.y + m_size.height / 2 });
    return true;
}

bool ButtonElement::on_focus_key(KeyInput const& key)
{
    if (key.key != Key::Enter && key.key != Key::Space)
        return false;
    // A held key clicks once: repeats would run the button's action again
    // and again (an album search, a screen opened over itself).
    if (key.first && m_handler && usable())
        m_handler->on_click(*this, Point { m_position.x + m_size.width / 2, m_position.y + m_size.height / 2 });
    return true;
}

CheckboxElement::CheckboxElement(Element* parent)
    : Element(parent)
{
}

void CheckboxElement::set_handler(ElementObserver* handler) { m_handler = dynamic_cast<ButtonHandler*>(handler); }

void CheckboxElement::load(PropertiesImpl const& store, SkinNode node)
{
    Element::load(store, node);
    auto const count = store.get_integer(node, u"states", 2);
    m_caption = store.text(store.get_string(node, u"text", WString()));
    m_states.clear();
    for (std::int32_t i = 0; i < count; ++i) {
        auto name = WString(u"#state_") + to_wstring(i);
        auto* state = find_child(name);
        if (!state)
            throw NodeNotFound(m_id, name);
        bind_child(name, &m_state_handler);
        m_states.push_back(state);
        state->set_visible(i == m_state);
    }
    give_caption();
}

void CheckboxElement::give_caption()
{
    if (m_state < 0 || m_state >= static_cast<std::int32_t>(m_states.size()))
        return;
    if (auto* button = dynamic_cast<ButtonElement*>(m_states[m_state]))
        button->set_caption(m_caption);
}

void CheckboxElement::set_state(std::int32_t index)
{
    if (index < 0 || index >= static_cast<std::int32_t>(m_states.size()))
        return;
    m_state = index;
    for (std::size_t i = 0; i < m_states.size(); ++i)
        m_states[i]->set_visible(static_cast<std::int32_t>(i) == index);
    give_caption();
    invalidate_drawing();
}

bool CheckboxElement::StateHandler::on_click(Element& source, Point position)
{
    auto& box = m_owner;
    if (box.m_state < 0 || box.m_state >= static_cast<std::int32_t>(box.m_states.size())
        || box.m_states[box.m_state] != &source)
        return false;
    if (box.m_handler)
        return box.m_handler->on_click(box, position);
    box.set_state((box.m_state + 1) % static_cast<std::int32_t>(box.m_states.size()));
    return true;
}

}
