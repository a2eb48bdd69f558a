#include "WidgetFixture.h"

#include "imaging/PixelBuffer.h"
#include "imaging/PixelOp.h"
#include "imaging/PixelRules.h"
#include "widgets/VirtualList.h"

#include <cmath>
#include <set>

using namespace qv;
using test::LoadedForm;

namespace {

// A 100 x 200 list over the whole form, and a 20-pixel row template whose
// looks are coloured so drawing can be checked.
constexpr char const* kListSkin = R"(form ListForm
    string type node
    node list
        string type vlist
        point scroll_border_min 0 8
        point scroll_border_max 0 4
form Row
    string type node
    point design_size 100 20
    node #vlist_normal
        string type color
        color color 0 0 255
    node #vlist_pressed
        string type color
        color color 255 0 0
    node #vlist_selected
        string type color
        color color 0 255 0
)";

constexpr double kRow = 20;
constexpr double kListHeight = 200;
constexpr double kBorderMin = 8;
constexpr double kBorderMax = 4;

struct Rows;

class Row : public ListItem {
public:
    Row(Rows& owner, PropertiesImpl const& store);
    ~Row() override;
    void bind(VirtualList&, bool, bool fresh) override
    {
        ++binds;
        if (fresh)
            load_form(m_store, u"Row");
    }
    Element* look(WStringView id) { return find_child(id); }
    int binds { 0 };

private:
    Rows& m_owner;
    PropertiesImpl const& m_store;
};

struct Rows : ListProvider {
    PropertiesImpl const* store { nullptr };
    std::vector<std::int32_t> clicks;
    std::set<std::int32_t> made;
    std::set<std::int32_t> refused;
    int live { 0 };
    int created { 0 };
    void on_item_clicked(VirtualList&, std::int32_t index) override { clicks.push_back(index); }
    ListItem* create_item(VirtualList&, std::int32_t index) override
    {
        // The provider drops an entry it cannot show; the next one takes its index.
        if (refused.erase(index))
            return nullptr;
        made.insert(index);
        ++created;
        return new Row(*this, *store);
    }
};

Row::Row(Rows& owner, PropertiesImpl const& store)
    : m_owner(owner)
    , m_store(store)
{
    ++m_owner.live;
}

Row::~Row() { --m_owner.live; }

struct ListFixture : LoadedForm {
    Rows rows;
    VirtualList* list { nullptr };
    std::uint32_t tick { 1000 };

    explicit ListFixture(std::int32_t count)
        : LoadedForm(kListSkin, u"ListForm", { 100, static_cast<std::int32_t>(kListHeight) })
    {
        rows.store = store.get();
        list = dynamic_cast<VirtualList*>(&child(u"list"));
        EXPECT_NE(list, nullptr);
        list->set_provider(&rows, count);
        list->advance(0.001);
    }
    // The rows count themselves out into `rows`, which goes before the form.
    ~ListFixture()
    {
        if (list)
            list->set_provider(nullptr, 0);
    }

    void press(int x, int y) { form.on_pointer_button(PointerEvent { { x, y }, tick, true, false }); }
    void move(int x, int y, std::uint32_t ms = 10)
    {
        tick += ms;
        form.on_pointer_move(PointerEvent { { x, y }, tick, false, false });
    }
    void release(int x, int y, std::uint32_t ms = 10)
    {
        tick += ms;
        form.on_pointer_button(PointerEvent { { x, y }, tick, false, false });
    }
    Row* row(std::int32_t index) { return static_cast<Row*>(list->item_at_index(index)); }
};

bool look_shown(Row* row, WStringView id) { return row && row->look(id) && row->look(id)->visible(); }

}

TEST(VirtualList, a_flick_of_five_thousand_pixels_per_second_starts_at_two_thousand)
{
    ListFixture f(1000);
    // Finger up 250 pixels in 50 ms, 5000 pixels per second.
    f.press(50, 195);
    for (int y = 145; y >= -5; y -= 50)
        f.move(50, y);
    f.release(50, -55);
    EXPECT_EQ(f.list->tracker().velocity().y, -5000);
    EXPECT_EQ(f.list->velocity(), -VirtualList::kMaxFlick);
    EXPECT_TRUE(f.rows.clicks.empty());
    f.list->advance(0.01);
    EXPECT_LT(f.list->velocity(), 0);
    EXPECT_GT(f.list->velocity(), -VirtualList::kMaxFlick) << "friction slows it";
}

TEST(VirtualList, a_flick_coasts_at_whole_pixels_per_second_once_it_lasts_fifty_milliseconds)
{
    ListFixture f(1000);
    // 40 pixels up in 40 ms is fast, but too short to be told from a tap.
    f.press(50, 150);
    f.move(50, 130);
    f.release(50, 110, 20);
    EXPECT_EQ(f.list->velocity(), 0);
    // Coasted down the list first, so that a pull down is no overscroll.
    f.list->fling(-500);
    for (int i = 0; i < 200; ++i)
        f.list->advance(0.02);
    ASSERT_EQ(f.list->velocity(), 0);
    ASSERT_GT(f.list->first_index(), 2);
    // 100 pixels down in 67 ms is 1492.5 pixels per second: the list coasts
    // at 1492.
    f.press(50, 50);
    f.move(50, 100, 30);
    f.release(50, 150, 37);
    EXPECT_EQ(f.list->velocity(), 1492);
}

TEST(VirtualList, a_press_while_coasting_presses_nothing_and_brakes_five_times_harder)
{
    ListFixture f(1000);
    double const step = 0.01;
    double const v0 = -1000;
    f.list->fling(v0);
    f.list->advance(step);
    double const v1 = f.list->velocity();
    EXPECT_NEAR(v1, v0 + (2 * std::abs(v0) + 9) * step, 1e-9);
    f.press(50, 100);
    EXPECT_EQ(f.list->pressed_item(), nullptr);
    for (auto const& item : f.list->items())
        EXPECT_FALSE(look_shown(static_cast<Row*>(item.get()), u"#vlist_pressed"));
    f.list->advance(step);
    EXPECT_NEAR(f.list->velocity(), v1 + 5 * (2 * std::abs(v1) + 9) * step, 1e-9);
    // Lifting the stylus without a drag leaves nothing clicked.
    f.release(50, 100);
    EXPECT_TRUE(f.rows.clicks.empty());
}

TEST(VirtualList, a_press_and_release_on_one_item_clicks_it_once)
{
    ListFixture f(50);
    // Row 1 spans 28 .. 48 below the 8-pixel border.
    f.press(50, 30);
    ASSERT_EQ(f.list->pressed_item(), f.row(1));
    EXPECT_TRUE(look_shown(f.row(1), u"#vlist_pressed"));
    EXPECT_FALSE(look_shown(f.row(1), u"#vlist_normal"));
    f.move(52, 33);
    f.release(52, 33);
    ASSERT_EQ(f.rows.clicks.size(), 1u);
    EXPECT_EQ(f.rows.clicks[0], 1);
    EXPECT_EQ(f.list->pressed_item(), nullptr);
    EXPECT_TRUE(look_shown(f.row(1), u"#vlist_normal"));
    // Released over another row, the press is cancelled instead.
    f.press(50, 30);
    f.release(50, 52);
    EXPECT_EQ(f.rows.clicks.size(), 1u);
    EXPECT_TRUE(look_shown(f.row(1), u"#vlist_normal"));
}

TEST(VirtualList, a_thirty_pixel_drag_cancels_the_pressed_look_and_scrolls)
{
    ListFixture f(50);
    f.press(50, 100);
    Row* pressed = static_cast<Row*>(f.list->pressed_item());
    ASSERT_NE(pressed, nullptr);
    f.move(50, 95);
    EXPECT_EQ(f.list->pressed_item(), pressed) << "still inside the dead zone";
    EXPECT_EQ(f.list->offset(), kBorderMin);
    f.move(50, 85);
    EXPECT_EQ(f.list->pressed_item(), nullptr);
    EXPECT_TRUE(look_shown(pressed, u"#vlist_normal"));
    EXPECT_FALSE(look_shown(pressed, u"#vlist_pressed"));
    f.move(50, 70);
    EXPECT_EQ(f.list->offset(), kBorderMin - 30);
    f.release(50, 70, 300);
    EXPECT_TRUE(f.rows.clicks.empty());
}

TEST(VirtualList, pulling_past_the_top_resists_and_springs_back_at_most_400_pixels_per_second)
{
    ListFixture f(50);
    f.press(50, 50);
    f.move(50, 100);
    // The first step starts at the limit: no resistance yet.
    ASSERT_EQ(f.list->offset(), kBorderMin + 50);
    // 50 pixels past the limit in a 200-pixel list: half of the step.
    f.move(50, 110);
    EXPECT_EQ(f.list->offset(), kBorderMin + 55);
    f.move(50, 130);
    double const s = 55;
    EXPECT_NEAR(f.list->offset(), kBorderMin + 55 + 20 * (1 - 2 * s / kListHeight), 1e-9);
    f.release(50, 140);
    EXPECT_EQ(f.list->velocity(), 0) << "no flick out of an overscroll";
    double previous = f.list->offset();
    for (int i = 0; i < 100; ++i) {
        f.list->advance(0.02);
        double const now = f.list->offset();
        EXPECT_LE(now, previous);
        EXPECT_GE(now, previous - 400 * 0.02 - 1e-9);
        previous = now;
    }
    EXPECT_EQ(f.list->offset(), kBorderMin);
}

TEST(VirtualList, a_list_shorter_than_its_window_rests_at_the_top)
{
    ListFixture shortlist(3);
    shortlist.list->fling(-300);
    for (int i = 0; i < 50; ++i)
        shortlist.list->advance(0.02);
    EXPECT_EQ(shortlist.list->offset(), kBorderMin);
}

TEST(VirtualList, a_long_list_pulled_past_its_end_springs_back_to_the_bottom_limit)
{
    ListFixture f(30);
    // Drag far up, past the end, and let go.
    f.press(50, 190);
    for (int y = 170; y >= -800; y -= 20)
        f.move(50, y, 100);
    f.release(50, -800, 100);
    for (int i = 0; i < 400; ++i)
        f.list->advance(0.02);
    EXPECT_EQ(f.list->end_index(), 30);
    EXPECT_NEAR(f.list->offset() + f.list->items_height(), kListHeight - kBorderMax, 1e-6);
}

TEST(VirtualList, flinging_through_a_thousand_items_keeps_only_the_window_alive)
{
    ListFixture f(1000);
    auto const window_rows = static_cast<int>(kListHeight / kRow);
    int frames = 0;
    while (f.list->end_index() < 1000 && frames < 20000) {
        if (f.list->velocity() > -500)
            f.list->fling(-VirtualList::kMaxFlick);
        f.list->advance(1.0 / 60);
        ++frames;
        // A row may hang over each edge.
        ASSERT_LE(static_cast<int>(f.list->items().size()), window_rows + 2);
        ASSERT_EQ(f.rows.live, static_cast<int>(f.list->items().size()));
        for (std::size_t i = 1; i < f.list->items().size(); ++i)
            ASSERT_EQ(f.list->items()[i]->index(), f.list->items()[i - 1]->index() + 1);
    }
    EXPECT_EQ(f.list->end_index(), 1000);
    EXPECT_EQ(f.rows.made.size(), 1000u) << "every row was made on its way through";
    EXPECT_EQ(f.rows.created, 1000) << "and only once, scrolling one way";
}

TEST(VirtualList, an_index_the_provider_cannot_make_is_dropped)
{
    ListFixture f(0);
    f.rows.refused = { 2, 3 };
    f.list->set_provider(&f.rows, 20);
    f.list->advance(0.001);
    EXPECT_EQ(f.list->item_count(), 18);
    ASSERT_GE(f.list->items().size(), 3u);
    EXPECT_EQ(f.list->items()[2]->index(), 2);
}

TEST(VirtualList, a_removed_item_shrinks_away_and_later_items_move_up_one_index)
{
    ListFixture f(5);
    Row* third = f.row(2);
    Row* removed = f.row(1);
    f.list->remove_item(1);
    EXPECT_EQ(f.list->item_count(), 4);
    EXPECT_EQ(removed->index(), -1);
    EXPECT_EQ(third->index(), 1);
    f.list->advance(0.05);
    // 200 pixels per second.
    EXPECT_NEAR(removed->shown_height(), kRow - 10, 1e-9);
    EXPECT_EQ(f.list->offset(), kBorderMin) << "rows above it stay where they are";
    f.list->advance(0.06);
    EXPECT_EQ(f.list->items().size(), 4u);
    EXPECT_EQ(f.rows.live, 4);
    EXPECT_EQ(f.list->item_at_index(1), third);
}

TEST(VirtualList, selection_shows_at_the_next_bind)
{
    ListFixture f(10);
    f.list->set_selected_index(2);
    EXPECT_TRUE(look_shown(f.row(2), u"#vlist_normal"));
    f.list->rebind_item(2);
    EXPECT_TRUE(look_shown(f.row(2), u"#vlist_selected"));
    EXPECT_FALSE(look_shown(f.row(2), u"#vlist_normal"));
}

TEST(VirtualList, hiding_the_form_while_an_item_is_held_chooses_nothing)
{
    ListFixture f(10);
    f.press(50, 30);
    ASSERT_NE(f.list->pressed_item(), nullptr);
    f.form.set_visible(false);
    EXPECT_EQ(f.list->pressed_item(), nullptr);
    EXPECT_TRUE(f.rows.clicks.empty());
    EXPECT_EQ(f.list->velocity(), 0);
}

TEST(VirtualList, items_are_drawn_clipped_to_the_window_and_their_own_height)
{
    ListFixture f(1000);
    auto buffer_owner = PixelBuffer::create(100, 260);
    ASSERT_NE(buffer_owner, nullptr);
    PixelBuffer& buffer = *buffer_owner;
    DrawTarget target(&buffer);
    fill_rect(target, 0, 0, 100, 260, ColourFillOp(0x1234));
    // Scrolled so that row 0 shows only its bottom 5 pixels, and the row 1
    // held so that its pressed look shows.
    f.press(50, 60);
    f.move(50, 37);
    f.release(50, 37, 300);
    f.list->fling(0);
    ASSERT_EQ(f.list->offset(), kBorderMin - 23);
    f.press(50, 10);
    ASSERT_EQ(f.list->pressed_item(), f.row(1));
    f.list->paint(target, Point { 0, 30 });
    auto const pixel = [&](int x, int y) { return buffer.row(y)[x]; };
    std::uint16_t const blue = pack_rgb565(0, 0, 255), red = pack_rgb565(255, 0, 0);
    // The list covers rows 30 .. 229 of the buffer.
    EXPECT_EQ(pixel(50, 29), 0x1234);
    EXPECT_EQ(pixel(50, 230), 0x1234);
    // Row 0 lies at -15 .. 5, row 1 at 5 .. 25 (list coordinates).
    EXPECT_EQ(pixel(50, 30), blue);
    EXPECT_EQ(pixel(50, 34), blue);
    EXPECT_EQ(pixel(50, 35), red);
    EXPECT_EQ(pixel(50, 54), red);
    EXPECT_EQ(pixel(50, 55), blue);
    EXPECT_EQ(pixel(99, 229), blue);
}

TEST(VirtualList, rows_made_anew_for_a_changed_count_stay_where_the_user_left_them)
{
    ListFixture f(30);
    // The row shown at `y` of the window, and where its top is.
    auto const row_at = [&](double y) {
        double top = std::floor(f.list->offset());
        for (auto const& item : f.list->items()) {
            if (y >= top && y < top + item->shown_height())
                return std::pair<std::int32_t, double> { item->index(), top };
            top += item->shown_height();
        }
        return std::pair<std::int32_t, double> { -1, 0 };
    };
    // Flung some rows down and come to rest in the middle.
    f.list->fling(-600);
    for (int i = 0; i < 500 && f.list->velocity() != 0; ++i)
        f.list->advance(0.02);
    ASSERT_EQ(f.list->velocity(), 0);
    auto const shown = row_at(kListHeight / 2);
    ASSERT_GT(shown.first, 0);
    ASSERT_LT(f.list->end_index(), 30);
    int const created = f.rows.created;

    f.list->refresh_items(31);
    f.list->advance(0.001);
    EXPECT_EQ(row_at(kListHeight / 2), shown);
    EXPECT_EQ(f.list->item_count(), 31);
    EXPECT_GT(f.rows.created, created) << "the rows were made anew";
    EXPECT_EQ(f.rows.live, static_cast<int>(f.list->items().size()));

    // Fewer rows than the window holds: they come down to rest at the top.
    f.list->refresh_items(2);
    for (int i = 0; i < 100; ++i)
        f.list->advance(0.02);
    ASSERT_EQ(f.list->items().size(), 2u);
    EXPECT_EQ(f.list->items().front()->index(), 0);
    EXPECT_EQ(f.list->offset(), kBorderMin);
}
