#pragma once

// A button: child elements "#normal", "#pressed" and "#disabled" give its
// looks; a stylus press and release inside it, or its bound key, clicks it.
// A check box is a row of such buttons, one per state, showing one at a time.

#include "base/Keys.h"
#include "widgets/Element.h"

#include <vector>

namespace qv {

struct PressChange {
    Point position;
    bool cancelled { false };
};

struct DragStep {
    Point position;
    Point step;
    // How much of the step the handler used; the rest stays for next time.
    Point used;
};

// Given by the screen that binds a button or check box.
class ButtonHandler : public ElementObserver {
public:
    // The result is the button's result.
    virtual bool on_click(Element& source, Point position) { return true; }
    virtual void on_pressed_changed(Element& source, PressChange const& change) { }
    virtual void on_drag(Element& source, DragStep& drag) { }
};

class ButtonElement : public Element {
public:
    explicit ButtonElement(Element* parent);

    void load(PropertiesImpl const& store, SkinNode node) override;
    void on_enabled_changed(bool usable) override;
    void on_pointer_move(PointerEvent const& event) override;
    bool on_pointer_button(PointerEvent const& event) override;
    bool on_key(KeyInput const& key) override;
    void set_handler(ElementObserver* handler) override;
    // A button that reports somewhere can be reached by the keys; Enter or
    // Space clicks it.
    bool focusable() const override { return m_handler != nullptr; }
    bool on_focus_key(KeyInput const& key) override;

    void set_caption(WStringView caption);
    WString const& caption() const { return m_caption; }
    bool pressed() const { return m_pointer_down || m_key_down; }
    Key bind_key() const { return m_bind_key; }
    ButtonHandler* handler() const { return m_handler; }
    // The look showing now, or null when the button has none.
    Element* current_look() const;

private:
    bool press_changed(bool was_pressed, bool cancel, Point position);
    void update_looks();

    ButtonHandler* m_handler { nullptr };
    Element* m_normal_look { nullptr };
    Element* m_pressed_look { nullptr };
    Element* m_disabled_look { nullptr };
    Key m_bind_key { Key::None };
    WString m_caption;
    bool m_pointer_down { false };
    bool m_key_down { false };
    Point m_last_pointer;
};

class CheckboxElement : public Element {
public:
    explicit CheckboxElement(Element* parent);

    void load(PropertiesImpl const& store, SkinNode node) override;
    void set_handler(ElementObserver* handler) override;

    // Indexes outside the states are ignored.
    void set_state(std::int32_t index);
    std::int32_t state() const { return m_state; }
    std::vector<Element*> const& states() const { return m_states; }

private:
    // The state buttons report here; only the showing one counts.
    class StateHandler : public ButtonHandler {
    public:
        explicit StateHandler(CheckboxElement& owner)
            : m_owner(owner)
        {
        }
        bool on_click(Element& source, Point position) override;

    private:
        CheckboxElement& m_owner;
    };

    void give_caption();

    std::vector<Element*> m_states;
    std::int32_t m_state { 0 };
    WString m_caption;
    ButtonHandler* m_handler { nullptr };
    StateHandler m_state_handler { *this };
};

}
