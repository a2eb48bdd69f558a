#pragma once

// The root element of a screen: bound to a top-level skin node, it routes
// pointer, key and text input to the interactive elements that registered
// with it, and presents itself to the application's screen stack.

#include "widgets/Screen.h"
#include "skin/Properties.h"
#include "widgets/Element.h"

#include <vector>

namespace qv {

class Form;

// The form's face on the screen stack. The stack speaks in screen terms
// (sizes, points, key inputs); this turns them into element operations.
class FormScreen final : public Screen {
public:
    explicit FormScreen(Form& form)
        : m_form(form)
    {
    }

    void set_visible(bool visible) override;
    void show(bool visible) override;
    void advance(double seconds) override;
    void draw(DrawTarget& target, Point origin) override;
    bool needs_redraw() const override;
    void on_pointer_move(Point point) override;
    void on_pointer_button(Point point, bool pressed, bool has_position, std::uint32_t tick) override;
    bool on_key(KeyInput const& key) override;
    void on_text(WStringView text) override;
    void on_wheel(Point point, double notches, bool ctrl) override;
    void on_double_click(Point point) override;
    void on_menu_click(Point point) override;
    void set_size(Size size) override;

private:
    friend class Form;
    void record_visible(bool visible) { Screen::set_visible(visible); }
    Form& m_form;
};

class Form : public Element {
public:
    Form();
    ~Form() override;

    // False, changing nothing, when the skin has no such top-level node.
    bool load_form(PropertiesImpl const& store, WStringView node_name);

    void load(PropertiesImpl const& store, SkinNode node) override;
    void set_visible(bool visible) override;
    void on_pointer_move(PointerEvent const& event) override;
    bool on_pointer_button(PointerEvent const& event) override;
    bool on_key(KeyInput const& key) override;
    bool on_text(WStringView text) override;
    // The mouse input of Screen, in screen points; true when taken. A form
    // that has no use for it leaves it.
    virtual bool on_wheel(Point point, double notches, bool ctrl) { return false; }
    virtual bool on_double_click(Point point) { return false; }
    virtual bool on_menu_click(Point point) { return false; }

    // Input elements enter when built and leave when destroyed.
    void register_interactive(Element* element);
    // Drops every reference the form keeps to the element.
    void forget(Element* element);

    // Lays the form out over (0, 0, size) when anything is pending.
    void place(Size size);

    std::vector<Element*> const& interactive() const { return m_interactive; }
    std::vector<Element*> const& captured() const { return m_captured; }
    SkinColor outside_color() const { return m_outside_color; }
    Screen& screen() { return m_screen; }

private:
    std::vector<Element*> m_interactive;
    std::vector<Element*> m_captured;
    SkinColor m_outside_color;
    FormScreen m_screen { *this };
};

}
