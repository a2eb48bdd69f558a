#include "WidgetFixture.h"

#include "widgets/ButtonElement.h"
#include "widgets/VirtualList.h"

#include <vector>

using namespace qv;

namespace {

// A bar of two buttons, left and right, over a list of 20-pixel rows; a
// third button sits below the list, at the left.
constexpr char const* kFocusSkin = R"(form Screen
    string type node
    node left
        string type button
        string anchor_x MIN_SIDE
        string anchor_y MIN_SIDE
        point border_min 4 4
        point design_size 40 40
    node right
        string type button
        string anchor_x MAX_SIDE
        string anchor_y MIN_SIDE
        point border_min 0 4
        point border_max 4 0
        point design_size 40 40
    node list
        string type vlist
        point border_min 0 48
        point border_max 0 48
    node bottom
        string type button
        string anchor_x MIN_SIDE
        string anchor_y MAX_SIDE
        point border_max 0 4
        point design_size 60 40
form Row
    string type node
    point design_size 100 20
)";

constexpr std::int32_t kWidth = 100;
constexpr std::int32_t kHeight = 300;
// The list spans 48 .. 252: ten whole rows and a part.
constexpr double kListHeight = kHeight - 96;
constexpr double kRow = 20;

KeyInput press(Key key, bool first = true) { return KeyInput { key, true, first }; }

struct Clicks : ButtonHandler {
    std::vector<WString> ids;
    bool on_click(Element& source, Point) override
    {
        ids.push_back(source.id());
        return true;
    }
};

struct Rows : ListProvider {
    PropertiesImpl const* store { nullptr };
    std::vector<std::int32_t> clicked;
    void on_item_clicked(VirtualList&, std::int32_t index) override { clicked.push_back(index); }
    ListItem* create_item(VirtualList&, std::int32_t) override
    {
        auto* row = new ListItem();
        row->load_form(*store, u"Row");
        return row;
    }
};

struct FocusFixture : test::LoadedForm {
    Clicks clicks;
    Rows rows;
    VirtualList* list { nullptr };

    explicit FocusFixture(std::int32_t count, bool keyboard = true)
        : LoadedForm(kFocusSkin, u"Screen", { kWidth, kHeight })
    {
        Form::set_focus_frame_mode(false);
        for (auto const* id : { u"left", u"right", u"bottom" })
            form.bind_child(id, &clicks);
        rows.store = store.get();
        list = dynamic_cast<VirtualList*>(&child(u"list"));
        EXPECT_NE(list, nullptr);
        list->set_provider(&rows, count);
        if (keyboard)
            form.enable_keyboard_focus();
        form.set_focus(list);
        list->advance(0.001);
    }
    ~FocusFixture()
    {
        if (list)
            list->set_provider(nullptr, 0);
    }

    bool key(Key key, bool first = true) { return form.on_key(press(key, first)); }
    Element* focused_child(WStringView id) { return form.find_child(id); }
    // The focused row's place in the list's window, checked to be whole.
    void expect_focus_in_view()
    {
        Rect const rect = list->focus_rect();
        ASSERT_FALSE(rect.is_empty()) << "the focused row " << list->focus_index() << " is out of view";
        EXPECT_EQ(rect.height(), kRow) << "the focused row is cut";
        EXPECT_GE(rect.top, list->position().y);
        EXPECT_LE(rect.bottom, list->position().y + list->size().height);
    }
};

}

TEST(Focus, arrows_move_between_elements_by_where_they_lie_and_lists_give_back_keys_at_their_edges)
{
    FocusFixture f(3);
    ASSERT_EQ(f.form.focused(), f.list);
    // Up from the first row leaves the list for the button above it.
    EXPECT_TRUE(f.key(Key::Up));
    EXPECT_EQ(f.form.focused(), f.focused_child(u"left"));
    EXPECT_TRUE(f.key(Key::Right));
    EXPECT_EQ(f.form.focused(), f.focused_child(u"right"));
    // Nothing further right, and the bar does not wrap.
    EXPECT_FALSE(f.key(Key::Right));
    EXPECT_EQ(f.form.focused(), f.focused_child(u"right"));
    EXPECT_FALSE(f.key(Key::Up));
    EXPECT_TRUE(f.key(Key::Down));
    EXPECT_EQ(f.form.focused(), f.list);
    EXPECT_EQ(f.list->focus_index(), 0) << "the list keeps its row while it is left";
    // Down within the list, then out of its last row to the button below.
    EXPECT_TRUE(f.key(Key::Down));
    EXPECT_TRUE(f.key(Key::Down));
    EXPECT_EQ(f.list->focus_index(), 2);
    EXPECT_TRUE(f.key(Key::Down));
    EXPECT_EQ(f.form.focused(), f.focused_child(u"bottom"));
    EXPECT_FALSE(f.key(Key::Down));
    EXPECT_TRUE(f.key(Key::Up));
    EXPECT_EQ(f.form.focused(), f.list);
    EXPECT_EQ(f.list->focus_index(), 2);
    // A plain list has no use for Left and Right; nothing lies beside it.
    EXPECT_FALSE(f.key(Key::Left));
    EXPECT_EQ(f.form.focused(), f.list);
}

TEST(Focus, a_disabled_button_is_passed_over_and_a_form_without_keyboard_focus_leaves_the_keys)
{
    FocusFixture f(3);
    f.focused_child(u"left")->set_enabled(false);
    EXPECT_TRUE(f.key(Key::Up));
    EXPECT_EQ(f.form.focused(), f.focused_child(u"right"));

    // An empty list holds no focus: the first key finds the first button.
    FocusFixture empty(0);
    ASSERT_FALSE(empty.list->focusable());
    EXPECT_TRUE(empty.key(Key::Right));
    EXPECT_EQ(empty.form.focused(), empty.focused_child(u"left"));
    EXPECT_TRUE(empty.key(Key::Right));
    EXPECT_EQ(empty.form.focused(), empty.focused_child(u"right"));

    FocusFixture plain(3, false);
    EXPECT_FALSE(plain.key(Key::Down));
    EXPECT_FALSE(plain.key(Key::Enter));
    EXPECT_EQ(plain.list->focus_index(), 0);
    EXPECT_TRUE(plain.rows.clicked.empty());
    EXPECT_FALSE(Form::focus_frame_mode());
}

TEST(Focus, enter_and_space_use_the_focused_element_once_per_press)
{
    FocusFixture f(5);
    f.key(Key::Down);
    EXPECT_TRUE(f.key(Key::Enter));
    EXPECT_TRUE(f.key(Key::Enter, false)) << "a repeat is taken but does nothing";
    EXPECT_TRUE(f.key(Key::Space));
    EXPECT_EQ(f.rows.clicked, (std::vector<std::int32_t> { 1, 1 }));
    f.form.set_focus(f.focused_child(u"right"));
    EXPECT_TRUE(f.key(Key::Enter));
    EXPECT_TRUE(f.key(Key::Space, false));
    EXPECT_EQ(f.clicks.ids, (std::vector<WString> { u"right" }));
}

TEST(Focus, the_frame_shows_from_a_key_and_hides_when_the_pointer_is_used)
{
    FocusFixture f(5);
    EXPECT_FALSE(f.form.focus_frame_shown());
    f.key(Key::Down);
    EXPECT_TRUE(f.form.focus_frame_shown());
    // A press on a focusable element also moves the focus there.
    f.form.on_pointer_button(PointerEvent { { 20, 20 }, 10, true, false });
    f.form.on_pointer_button(PointerEvent { { 20, 20 }, 20, false, false });
    EXPECT_FALSE(f.form.focus_frame_shown());
    EXPECT_EQ(f.form.focused(), f.focused_child(u"left"));
    EXPECT_EQ(f.clicks.ids, (std::vector<WString> { u"left" }));
    f.key(Key::Down);
    EXPECT_TRUE(f.form.focus_frame_shown());
    f.form.on_wheel(Point { 50, 100 }, -1, false);
    EXPECT_FALSE(f.form.focus_frame_shown());
}

TEST(Focus, a_list_moves_by_rows_and_pages_and_keeps_the_focused_row_in_view)
{
    FocusFixture f(1000);
    std::int32_t const page = static_cast<std::int32_t>(kListHeight / kRow);
    EXPECT_TRUE(f.key(Key::PageDown));
    EXPECT_EQ(f.list->focus_index(), page);
    f.expect_focus_in_view();
    EXPECT_TRUE(f.key(Key::PageDown));
    EXPECT_EQ(f.list->focus_index(), 2 * page);
    f.expect_focus_in_view();
    EXPECT_TRUE(f.key(Key::PageUp));
    EXPECT_EQ(f.list->focus_index(), page);
    f.expect_focus_in_view();
    // Down one at a time through the bottom of the window: the list follows.
    for (int i = 0; i < 25; ++i)
        EXPECT_TRUE(f.key(Key::Down, i == 0));
    EXPECT_EQ(f.list->focus_index(), page + 25);
    f.expect_focus_in_view();
    EXPECT_TRUE(f.key(Key::End));
    EXPECT_EQ(f.list->focus_index(), 999);
    f.expect_focus_in_view();
    EXPECT_LE(f.list->bottom_overscroll(), 0) << "the end rests at the bottom, with no gap below";
    EXPECT_TRUE(f.key(Key::PageDown)) << "taken at the end, so the form keeps the focus";
    EXPECT_EQ(f.list->focus_index(), 999);
    EXPECT_TRUE(f.key(Key::Home));
    EXPECT_EQ(f.list->focus_index(), 0);
    f.expect_focus_in_view();
    EXPECT_EQ(f.list->top_overscroll(), 0);
    EXPECT_TRUE(f.key(Key::PageUp));
    EXPECT_EQ(f.list->focus_index(), 0);
    // Up and Down do not wrap: at the ends they leave the list.
    EXPECT_TRUE(f.key(Key::Up));
    EXPECT_NE(f.form.focused(), f.list);
}

TEST(Focus, a_new_count_keeps_the_focus_on_its_index_clamped)
{
    FocusFixture f(50);
    f.list->set_focus_index(30);
    f.list->set_provider(&f.rows, 50);
    EXPECT_EQ(f.list->focus_index(), 30);
    f.list->advance(0.001);
    f.expect_focus_in_view();
    f.list->set_provider(&f.rows, 12);
    EXPECT_EQ(f.list->focus_index(), 11);
    f.list->advance(0.001);
    f.expect_focus_in_view();
    f.list->remove_item(3);
    EXPECT_EQ(f.list->focus_index(), 10) << "the focus stays with its row";
    f.list->set_provider(&f.rows, 0);
    EXPECT_EQ(f.list->focus_index(), 0);
    EXPECT_FALSE(f.list->focusable());
    f.list->set_focus_index(7);
    EXPECT_EQ(f.list->focus_index(), 0);
}

TEST(Focus, a_grid_moves_in_two_dimensions_and_crosses_row_ends_with_left_and_right)
{
    FocusFixture f(4);
    // Ten cells, three to a row: 0 1 2 / 3 4 5 / 6 7 8 / 9.
    f.list->set_grid(3, 10);
    EXPECT_FALSE(f.key(Key::Left)) << "the first cell gives Left back";
    EXPECT_TRUE(f.key(Key::Right));
    EXPECT_TRUE(f.key(Key::Right));
    EXPECT_EQ(f.list->focus_index(), 2);
    EXPECT_TRUE(f.key(Key::Right));
    EXPECT_EQ(f.list->focus_index(), 3) << "past a row's end to the next row's first cell";
    EXPECT_TRUE(f.key(Key::Left));
    EXPECT_EQ(f.list->focus_index(), 2) << "and back to the previous row's last";
    EXPECT_TRUE(f.key(Key::Down));
    EXPECT_TRUE(f.key(Key::Down));
    EXPECT_EQ(f.list->focus_index(), 8);
    EXPECT_TRUE(f.key(Key::Down));
    EXPECT_EQ(f.list->focus_index(), 9) << "a short last row takes the focus at its last cell";
    EXPECT_FALSE(f.key(Key::Right));
    EXPECT_TRUE(f.key(Key::Up));
    EXPECT_EQ(f.list->focus_index(), 6);
    EXPECT_TRUE(f.key(Key::End));
    EXPECT_EQ(f.list->focus_index(), 9);
    EXPECT_TRUE(f.key(Key::Home));
    EXPECT_EQ(f.list->focus_index(), 0);
    EXPECT_TRUE(f.key(Key::PageDown));
    EXPECT_EQ(f.list->focus_index(), 9);
    f.key(Key::Up);
    f.key(Key::Right);
    EXPECT_EQ(f.list->focus_index(), 7);
    // Enter reports the row of the cell by default.
    f.key(Key::Enter);
    EXPECT_EQ(f.rows.clicked, (std::vector<std::int32_t> { 2 }));
}

TEST(Focus, the_wheel_scrolls_three_rows_a_notch_smoothly_without_moving_the_focus)
{
    FocusFixture f(1000);
    double const start = f.list->offset();
    EXPECT_TRUE(f.form.on_wheel(Point { 50, 100 }, -1, false));
    f.list->advance(0.02);
    double const part = start - f.list->offset();
    EXPECT_GT(part, 0);
    EXPECT_LT(part, 3 * kRow) << "smooth: not all in one frame";
    for (int i = 0; i < 50; ++i)
        f.list->advance(0.02);
    EXPECT_EQ(f.list->wheel_pending(), 0);
    // The offset counts from the top of the first live row.
    auto const scrolled = [&] { return (f.list->first_index() + 1) * kRow - f.list->offset(); };
    EXPECT_DOUBLE_EQ(scrolled(), 3 * kRow - start);
    f.form.on_wheel(Point { 50, 100 }, -0.5, false);
    for (int i = 0; i < 50; ++i)
        f.list->advance(0.02);
    EXPECT_DOUBLE_EQ(scrolled(), 4.5 * kRow - start);
    EXPECT_EQ(f.list->focus_index(), 0);
    // Towards the top it stops there, with no spring.
    f.form.on_wheel(Point { 50, 100 }, 10, false);
    for (int i = 0; i < 50; ++i)
        f.list->advance(0.02);
    EXPECT_DOUBLE_EQ(f.list->offset(), start);
    EXPECT_EQ(f.list->first_index(), -1);
    // Over no list, the form leaves the wheel.
    EXPECT_FALSE(f.form.on_wheel(Point { 50, 20 }, 1, false));
}

TEST(Focus, a_press_on_a_list_scrolled_by_the_wheel_picks_the_row_under_it)
{
    // The keys were last on a button; the wheel then scrolled the list far
    // from its focused row.
    FocusFixture f(1000);
    f.form.set_focus(f.focused_child(u"bottom"));
    f.key(Key::Space);
    ASSERT_EQ(f.form.focused(), f.focused_child(u"bottom"));
    ASSERT_TRUE(Form::focus_frame_mode());
    f.form.on_wheel(Point { 50, 100 }, -5, false);
    for (int i = 0; i < 50; ++i)
        f.list->advance(0.02);
    double const scrolled = f.list->offset();
    std::int32_t const first = f.list->first_index();
    ASSERT_GT(first, 10);

    Point const row_centre { 50, 48 + static_cast<std::int32_t>(kRow * 3 + kRow / 2) };
    f.form.on_pointer_button(PointerEvent { row_centre, 1000, true });
    EXPECT_EQ(f.form.focused(), f.list);
    EXPECT_DOUBLE_EQ(f.list->offset(), scrolled) << "the press must not scroll the list";
    EXPECT_EQ(f.list->first_index(), first);
    f.form.on_pointer_button(PointerEvent { row_centre, 1050, false });
    ASSERT_EQ(f.rows.clicked.size(), 1u);
    EXPECT_GT(f.rows.clicked.front(), 10) << "a row brought into view by the wheel, not one near the top";
}
