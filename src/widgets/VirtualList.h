#pragma once

// A vertical list of which only the items near the visible window exist:
// a provider makes them on demand and the list destroys them as they leave.
// It scrolls by dragging, coasts after a flick with friction, springs back
// when pulled past either end, animates item heights, and shows pressed and
// selected looks through an item's "#vlist_normal", "#vlist_pressed" and
// "#vlist_selected" children. User-interface thread only. Nothing fails: an
// item the provider cannot make is dropped from the list.

#include "widgets/Element.h"
#include "widgets/Form.h"
#include "widgets/MotionTracker.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace qv {

class VirtualList;

// One row: a form of its own, laid out free-standing at the list's width.
class ListItem : public Form {
public:
    // The item's index in the list, -1 once its item was removed.
    std::int32_t index() const { return m_index; }
    // The height the list gives the item now; it follows the laid-out
    // height at a limited speed.
    double shown_height() const { return m_shown_height; }
    bool in_window() const { return m_in_window; }

    // Fills the item for index(); `fresh` is true when it was just made.
    virtual void bind(VirtualList& list, bool selected, bool fresh) { }
    // Where the cell of a grid row lies in the item; a plain row is one
    // cell, the whole item.
    virtual Rect cell_rect(std::int32_t column) const { return Rect { 0, 0, size().width, size().height }; }

private:
    friend class VirtualList;
    std::int32_t m_index { -1 };
    double m_shown_height { 0 };
    bool m_in_window { false };
};

// Given by the screen that owns the list.
class ListProvider {
public:
    virtual ~ListProvider() = default;
    virtual void on_item_clicked(VirtualList& list, std::int32_t index) = 0;
    // A new item the list will own, or null when none can be made (the
    // index is then dropped from the list).
    virtual ListItem* create_item(VirtualList& list, std::int32_t index) = 0;
    // Enter or Space on the focused cell (the row of a plain list); a tap
    // on it by default.
    virtual void on_item_activated(VirtualList& list, std::int32_t cell);
};

class VirtualList : public Element {
public:
    static constexpr double kMaxFlick = 2000;   // pixels per second
    static constexpr double kHeightSpeed = 200; // pixels per second
    static constexpr double kSpringSpeed = 400; // pixels per second
    // The stylus's feel: a wobble of less than 10 pixels is no drag yet, the
    // row stays pressed and a release there is a tap; a flick's velocity is
    // read over the last quarter second (25 samples at most), and over no
    // less than 50 ms.
    static constexpr MotionSettings kPenMotion {
        .dead_zone = 10, .tap_slop = 9, .window_ms = 250, .min_samples = 1, .max_samples = 25, .min_span_ms = 50
    };

    explicit VirtualList(Element* parent);
    ~VirtualList() override;

    void load(PropertiesImpl const& store, SkinNode node) override;
    void on_visibility_changed(bool shown) override;
    void advance(double seconds) override;
    void draw(DrawTarget& target, Point origin) override;
    void layout_horizontal() override;
    void layout_vertical() override;
    void measure_height(MeasurePair& pair) override;
    void on_pointer_move(PointerEvent const& event) override;
    bool on_pointer_button(PointerEvent const& event) override;
    // Rows may react to keys (a menu row closes its menu on Backspace).
    bool on_key(KeyInput const& key) override;

    // The keyboard focus is on one cell: a row of a plain list, a cell of
    // a grid whose rows hold `columns` cells each. Up and Down move a row,
    // Left and Right a cell in reading order (across the ends of rows, in a
    // grid only), the page keys a screenful of rows, Home and End to the
    // first and last cell. The list never wraps: an arrow that would leave
    // it is given back, and the form moves the focus to the element that
    // way. Whatever moves the focus scrolls its row wholly into view.
    static constexpr double kWheelRows = 3;  // rows scrolled per notch
    static constexpr double kWheelPace = 15; // share of the rest scrolled per second
    bool focusable() const override { return m_provider && cell_count() > 0; }
    bool on_focus_key(KeyInput const& key) override;
    void on_focus_changed(bool focused) override;
    // The focused cell on the screen, cut to the list; empty while its row
    // is scrolled away.
    Rect focus_rect() const override;
    // Scrolls, smoothly, without moving the focus.
    bool on_wheel(Point point, double notches, bool ctrl) override;

    // Makes the rows a grid; `cells` in all. One column and no cell count
    // make a plain list again. The provider's count is still of rows.
    void set_grid(std::int32_t columns, std::int32_t cells);
    std::int32_t columns() const { return m_columns; }
    std::int32_t cell_count() const { return m_cells >= 0 ? m_cells : m_item_count; }
    std::int32_t focus_index() const { return m_focus_index; }
    std::int32_t focus_row() const { return m_focus_index / m_columns; }
    // Clamped to the cells; scrolls the cell's row into view.
    void set_focus_index(std::int32_t index);
    // Scrolls so that the focused row is wholly in the window; waits for the
    // list to have a window when it has none yet.
    void reveal_focus();
    // The wheel's scrolling still to come, in pixels.
    double wheel_pending() const { return m_wheel_pending; }
    // The height of a row as the live ones have it on average; 0 when none.
    double row_height() const;

    // Starts over with `count` items from the top; all items are destroyed.
    void set_provider(ListProvider* provider, std::int32_t count);
    // The same provider with `count` items, made anew where they are shown:
    // the row at the top of the window and the focus stay, as far as the
    // new count allows (the list changed under the user, who did nothing).
    void refresh_items(std::int32_t count);
    // Later items move up one index; the removed item shrinks away.
    void remove_item(std::int32_t index);
    // Binds the item again (not fresh) when it is instantiated.
    void rebind_item(std::int32_t index);
    // The looks follow at the next bind of each item.
    void set_selected_index(std::int32_t index) { m_selected_index = index; }
    // Sets the coasting velocity as a flick would, within the flick limit.
    void fling(double velocity);

    ListProvider* provider() const { return m_provider; }
    std::int32_t item_count() const { return m_item_count; }
    std::int32_t selected_index() const { return m_selected_index; }
    std::int32_t first_index() const { return m_first_index; }
    std::int32_t end_index() const { return m_end_index; }
    // The live items, top to bottom; removed items shrinking away among them.
    std::vector<std::unique_ptr<ListItem>> const& items() const { return m_items; }
    // The live item for an index, or null.
    ListItem* item_at_index(std::int32_t index) const;
    ListItem* pressed_item() const { return m_pressed_item; }
    double offset() const { return m_offset; }
    double velocity() const { return m_velocity; }
    double items_height() const { return m_items_height; }
    std::int32_t scroll_border_min() const { return m_scroll_border_min; }
    std::int32_t scroll_border_max() const { return m_scroll_border_max; }
    bool grow() const { return m_grow; }
    bool stylus_down() const { return m_stylus_down; }
    MotionTracker const& tracker() const { return m_tracker; }

    // How far the content is pulled down past the top limit, or up past the
    // bottom limit; 0 when it is not.
    double top_overscroll() const;
    double bottom_overscroll() const;

private:
    void fill_window();
    void fill_above();
    void bind_item(ListItem& item, std::int32_t index, bool fresh);
    std::int32_t layout_item(ListItem& item);
    void update_look(ListItem& item);
    void cancel_press();
    ListItem* item_under(Point point, Point* local = nullptr) const;
    double window_height() const;
    void renormalise();
    void step_heights(double seconds);
    void apply_friction(double seconds);
    void spring_back(double seconds);
    void step_wheel(double seconds);
    // The live item of a row and its top in the window, or null.
    ListItem* live_item(std::int32_t index, double* top) const;
    // Rebuilds the window starting at `index`.
    void jump_to(std::int32_t index);
    // Closes a gap at either end left by a jump or a scroll.
    void settle();

    std::int32_t m_scroll_border_min { 0 };
    std::int32_t m_scroll_border_max { 0 };
    bool m_grow { false };
    ListProvider* m_provider { nullptr };
    std::vector<std::unique_ptr<ListItem>> m_items;
    std::int32_t m_first_index { -1 };
    std::int32_t m_end_index { 0 };
    std::int32_t m_item_count { 0 };
    ListItem* m_pressed_item { nullptr };
    std::int32_t m_selected_index { -1 };
    double m_items_height { 0 };
    double m_offset { 0 };
    double m_velocity { 0 };
    MotionTracker m_tracker { kPenMotion };
    Point m_press_local;
    Point m_pointer;
    std::uint32_t m_last_tick { 0 };
    bool m_stylus_down { false };
    bool m_rebuild_pending { false };
    std::int32_t m_columns { 1 };
    std::int32_t m_cells { -1 };
    std::int32_t m_focus_index { 0 };
    bool m_reveal_pending { false };
    double m_wheel_pending { 0 };
};

}
