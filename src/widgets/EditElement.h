#pragma once

// Edit fields: a text element over a background colour with a caret
// (skin "edit"), and a labelled field made of an "#edit" and a "#text"
// child (skin "label_edit"). One field at a time holds the focus; while it
// does, the window's edit mode sends it the keyboard's text.

#include "widgets/Screen.h"
#include "widgets/EditCaret.h"
#include "widgets/TextElement.h"

#include <cstddef>
#include <vector>

namespace qv {

class EditElement : public TextElement {
public:
    explicit EditElement(Element* parent);
    ~EditElement() override;

    void load(PropertiesImpl const& store, SkinNode node) override;
    void advance(double seconds) override;
    void draw(DrawTarget& target, Point origin) override;
    void on_visibility_changed(bool shown) override;
    bool on_pointer_button(PointerEvent const& event) override;
    bool on_key(KeyInput const& key) override;
    bool on_text(WStringView text) override;
    void set_handler(ElementObserver* handler) override { m_handler = handler; }

    // Takes the focus from whichever field had it and enters edit mode.
    void focus();
    // Gives the focus up and ends edit mode; nothing when not focused.
    void release_focus();
    bool focused() const;
    static EditElement* focused_field();

    // The caret is an index into text(), 0 .. its size.
    std::size_t caret() const { return m_caret; }
    void set_caret(std::size_t index);
    bool caret_visible() const { return m_caret_visible; }
    // The caret's column and line rectangle, from the element's top-left.
    Rect caret_rect() const;
    std::int32_t scroll() const { return m_scroll_x; }
    SkinColor background_color() const { return m_background_color; }
    ElementObserver* handler() const { return m_handler; }

private:
    // Edit mode's receiver; a member of its own because the element's own
    // on_text already answers the form.
    class Receiver final : public EditReceiver {
    public:
        explicit Receiver(EditElement& owner)
            : m_owner(owner)
        {
        }
        void on_text(WStringView text) override { m_owner.insert(text); }
        bool on_edit_key(KeyInput const& key) override { return m_owner.handle_key(key); }

    private:
        EditElement& m_owner;
    };

    void insert(WStringView text);
    bool handle_key(KeyInput const& key);
    void on_text_flowed() override;
    // Shows the caret, keeps it in view and asks for a redraw.
    void caret_moved();
    void update_scroll();
    // Each typed-text index's place, its x from the element's left.
    std::vector<CaretPlace> places() const;
    std::vector<std::int32_t> line_tops() const;
    std::size_t line_count() const;

    Receiver m_receiver { *this };
    ElementObserver* m_handler { nullptr };
    SkinColor m_background_color;
    std::size_t m_caret { 0 };
    bool m_caret_visible { true };
    double m_blink { 0.0 };
};

// A label and its edit field; the field reports to the label edit.
class LabelEdit : public Element, public ElementObserver {
public:
    using Element::Element;

    void load(PropertiesImpl const& store, SkinNode node) override;
    Element* edit() const { return m_edit; }
    Element* label() const { return m_label; }
    void remove_child(Element* child) override;

private:
    Element* m_edit { nullptr };
    Element* m_label { nullptr };
};

}
