#pragma once

// The base of every user-interface object: geometry and the two-pass
// layout, the visibility and enabled flags with their inherited copies, an
// optional drawing cache and visibility animation, and the owned children.
// Used from the user-interface thread only.

#include "widgets/Screen.h"
#include "core/WString.h"
#include "imaging/DrawTarget.h"
#include "imaging/PixelOp.h"
#include "imaging/Rect.h"
#include "imaging/RenderSurface.h"
#include "skin/Layout.h"
#include "skin/Properties.h"
#include "widgets/VisibilityAnimation.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace qv {

class Element;
class Form;

// A press, release or move of the pointer, in screen pixels.
struct PointerEvent {
    Point position;
    std::uint32_t tick { 0 };
    bool down { false };
    // Set on a release that has no recorded position (a cancelled press).
    bool position_unknown { false };
};

// Told by an element when its placed size changes; set by the screen that
// binds the element.
class ElementObserver {
public:
    virtual ~ElementObserver() = default;
    virtual void on_width_changed(Element& element, std::int32_t width) { }
    virtual void on_height_changed(Element& element, std::int32_t height) { }
};

class Element {
public:
    // A child joins `parent`'s children before the constructor returns; the
    // parent owns it from then on. Only a form has no parent.
    explicit Element(Element* parent);
    virtual ~Element();
    Element(Element const&) = delete;
    Element& operator=(Element const&) = delete;

    virtual void dump(std::int32_t depth) const;
    virtual void deliver_text(WStringView target_id, WStringView text);
    virtual void add_child(Element* child);
    virtual void remove_child(Element* child);
    virtual void load(PropertiesImpl const& store, SkinNode node);
    virtual void set_enabled(bool enabled);
    virtual void on_enabled_changed(bool usable);
    virtual void set_visible(bool visible);
    virtual void on_visibility_changed(bool shown);
    virtual void advance(double seconds);
    // The element's content with its top-left corner at `origin`.
    virtual void draw(DrawTarget& target, Point origin);
    virtual void layout_horizontal();
    virtual void layout_vertical();
    virtual void measure_width(MeasurePair& pair);
    virtual void measure_height(MeasurePair& pair);
    virtual bool hit_test(Point point) const;
    virtual void on_pointer_move(PointerEvent const& event) { }
    virtual bool on_pointer_button(PointerEvent const& event) { return false; }
    virtual bool on_key(KeyInput const& key) { return false; }
    virtual bool on_text(WStringView text) { return false; }
    // The mouse wheel over the element, `notches` positive away from the
    // user; true when taken.
    virtual bool on_wheel(Point point, double notches, bool ctrl) { return false; }

    // Keyboard focus. An element that can hold it gets the navigation keys
    // first while it does (arrows, Enter, Space, the page keys, Home, End)
    // and gives back what it cannot use, an arrow at its edge above all, so
    // that the form moves the focus on to the next element that way.
    virtual bool focusable() const { return false; }
    virtual bool on_focus_key(KeyInput const& key) { return false; }
    virtual void on_focus_changed(bool focused) { }
    // Where the form draws its focus frame, in the form's coordinates: the
    // whole element, or the part of it that holds the focus (a list's row).
    virtual Rect focus_rect() const
    {
        return Rect { m_position.x, m_position.y, m_position.x + m_size.width, m_position.y + m_size.height };
    }
    // Handed the handler a screen binds to this element; classes that call
    // back on clicks or selections keep it.
    virtual void set_handler(ElementObserver* handler) { }

    // The drawing entry for parents and the window: the running animation,
    // else the cache or the element itself.
    void paint(DrawTarget& target, Point origin);
    // Visibility change through the element's animation, if it has one.
    void show(bool visible);

    void set_horizontal(std::int32_t x, std::int32_t width);
    void set_vertical(std::int32_t y, std::int32_t height);
    // Measured on demand and kept until invalidated.
    MeasurePair width_pair();
    MeasurePair height_pair();
    // Marks this element and its ancestors unmeasured and layout-pending.
    void invalidate_layout();
    void invalidate_drawing();

    // A direct child first, then each child's subtree in order.
    Element* find_child(WStringView id) const;
    // Finds the element and gives it the handler as its observer and to its
    // class; false when there is none.
    bool bind_child(WStringView id, ElementObserver* handler);

    WString const& id() const { return m_id; }
    Element* parent() const { return m_parent; }
    Form* root() const { return m_root; }
    ElementObserver* observer() const { return m_observer; }
    void set_observer(ElementObserver* observer) { m_observer = observer; }
    std::vector<Element*> const& children() const { return m_children; }

    bool visible() const { return m_visible; }
    bool parent_visible() const { return m_parent_visible; }
    bool shown() const { return m_visible && m_parent_visible; }
    bool enabled() const { return m_enabled; }
    bool usable() const { return shown() && m_enabled && m_parent_enabled; }
    bool enabled_here() const { return m_enabled && m_parent_enabled; }
    bool needs_redraw() const { return m_needs_redraw; }
    bool layout_pending() const { return m_layout_pending; }

    Point position() const { return m_position; }
    Size size() const { return m_size; }
    Anchor anchor_x() const { return m_anchor_x; }
    Anchor anchor_y() const { return m_anchor_y; }
    Point border_min() const { return m_border_min; }
    Point border_max() const { return m_border_max; }
    Size design_size() const { return m_design_size; }
    // The most room the element takes (skin "max_size"; 0: no limit): a
    // wider or taller slot leaves it centred in the middle, so that a list
    // or a menu stays a readable width on a wide screen.
    Size max_size() const { return m_max_size; }
    std::int32_t table_ratio() const { return m_table_ratio; }
    bool cache() const { return m_cache; }
    PixelOp const* cache_op() const { return m_cache_op.get(); }
    RenderSurface const& cache_surface() const { return m_cache_surface; }
    VisibilityAnimation* visibility_animation() const { return m_visibility_animation.get(); }

protected:
    // How this element takes room along an axis in its parent's rules.
    AxisChild horizontal_axis();
    AxisChild vertical_axis();
    void destroy_children();
    void render_cache();
    // Forgets the measured heights of this element and its ancestors: an
    // element whose height follows its width (a text flowed anew) calls it
    // from the horizontal pass, so that the vertical pass measures again.
    void invalidate_heights();

    std::unique_ptr<VisibilityAnimation> m_visibility_animation;
    WString m_id;
    Element* m_parent { nullptr };
    ElementObserver* m_observer { nullptr };
    Anchor m_anchor_x { Anchor::BothSide };
    Anchor m_anchor_y { Anchor::BothSide };
    Point m_border_min;
    Size m_design_size;
    MeasurePair m_width_pair { -1, -1 };
    MeasurePair m_height_pair { -1, -1 };
    Point m_border_max;
    Size m_max_size;
    bool m_visible { true };
    bool m_parent_visible { true };
    bool m_enabled { true };
    bool m_parent_enabled { true };
    bool m_needs_redraw { true };
    bool m_layout_pending { true };
    Form* m_root { nullptr };
    RenderSurface m_cache_surface;
    bool m_cache { false };
    std::unique_ptr<PixelOp> m_cache_op;
    Point m_position;
    Size m_size;
    std::vector<Element*> m_children;
    std::int32_t m_table_ratio { 0 };
};

}
