#pragma once

// The root element of a screen: bound to a top-level skin node, it routes
// pointer, key and text input to the interactive elements that registered
// with it, and presents itself to the application's screen stack.

#include "widgets/Screen.h"
#include "skin/Properties.h"
#include "widgets/Element.h"

#include <memory>
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
    bool busy() override;
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
    // The mouse input of Screen, in screen points; true when taken. The
    // wheel goes to the usable element under the pointer that takes it; the
    // rest is left by a form that has no use for it.
    bool on_wheel(Point point, double notches, bool ctrl) override;
    virtual bool on_double_click(Point point) { return false; }
    virtual bool on_menu_click(Point point) { return false; }
    // See Screen::busy.
    virtual bool busy() { return false; }

    // Input elements enter when built and leave when destroyed.
    void register_interactive(Element* element);
    // Drops every reference the form keeps to the element.
    void forget(Element* element);

    // Lays the form out over (0, 0, size) when anything is pending.
    void place(Size size);
    // Draws the focus frame over the children.
    void draw(DrawTarget& target, Point origin) override;

    // Keyboard focus is taken up by the forms that ask for it: a screen that
    // reads the arrows itself (the viewer pans with them) would otherwise
    // lose them to its buttons.
    void enable_keyboard_focus() { m_keyboard_focus = true; }
    bool keyboard_focus() const { return m_keyboard_focus; }
    Element* focused() const { return m_focused; }
    // Null takes the focus away. The element must be one of this form's
    // interactive elements.
    void set_focus(Element* element);
    // The focusable, usable element nearest to the focused one in an
    // arrow's direction, judged by where each is on the screen; null when
    // there is none that way. Without a focus, the first focusable element.
    Element* focus_neighbour(Key direction) const;
    // The navigation keys after the elements' own key handling: the focused
    // element first, then an arrow moves the focus on.
    bool on_navigation_key(KeyInput const& key);
    // The focus frame is for keyboard users: it shows from the first key
    // that moves or uses the focus until the pointer is pressed or the wheel
    // turned. One flag for the whole program, so that a menu opened by a key
    // shows its frame at once.
    static bool focus_frame_mode();
    static void set_focus_frame_mode(bool shown);
    bool focus_frame_shown() const { return m_focused && focus_frame_mode(); }
    PictureRef const& focus_frame() const { return m_focus_frame; }

    std::vector<Element*> const& interactive() const { return m_interactive; }
    std::vector<Element*> const& captured() const { return m_captured; }
    SkinColor outside_color() const { return m_outside_color; }
    Screen& screen() { return m_screen; }

private:
    void note_pointer();

    std::vector<Element*> m_interactive;
    std::vector<Element*> m_captured;
    Element* m_focused { nullptr };
    bool m_keyboard_focus { false };
    PictureRef m_focus_frame;
    std::unique_ptr<PixelOp> m_focus_op;
    SkinColor m_outside_color;
    FormScreen m_screen { *this };
};

}
