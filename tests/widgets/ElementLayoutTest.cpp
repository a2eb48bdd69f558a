#include "WidgetFixture.h"

#include "skin/SkinErrors.h"
#include "widgets/ProgressElement.h"
#include "widgets/TableElement.h"

using namespace qv;
using test::LoadedForm;

namespace {

Rect placed(Element const& e)
{
    return { e.position().x, e.position().y, e.position().x + e.size().width, e.position().y + e.size().height };
}

constexpr char const* kAnchors = R"(form Anchors
    string type node
    node minSide
        string type node
        string anchor_x MIN_SIDE
        point border_min 10 0
        point design_size 30 5
    node minWide
        string type node
        string anchor_x MIN_SIDE
        point border_min 10 0
        point design_size 120 5
    node maxSide
        string type node
        string anchor_x MAX_SIDE
        point border_max 10 0
        point design_size 30 5
    node both
        string type color
        point border_min 10 4
        point border_max 20 6
    node centre
        string type node
        string anchor_x CENTER
        string anchor_y CENTER
        point design_size 31 10
    node noSize
        string type node
        string anchor_x MIN_SIDE_NO_SIZE
        point design_size 150 5
)";

}

TEST(ElementLayout, children_sit_in_the_form_by_their_anchor_modes)
{
    LoadedForm f(kAnchors, u"Anchors", { 100, 50 });
    // x offsets and widths from the anchor rules with a 100-pixel parent.
    EXPECT_EQ(placed(f.child(u"minSide")), (Rect { 10, 0, 40, 50 }));
    EXPECT_EQ(placed(f.child(u"minWide")).width(), 90);
    EXPECT_EQ(placed(f.child(u"maxSide")), (Rect { 60, 0, 90, 50 }));
    EXPECT_EQ(placed(f.child(u"both")), (Rect { 10, 4, 80, 44 }));
    // (100 - 0 - 0) / 2 - 31 / 2 = 35; vertically (50 / 2) - (10 / 2) = 20.
    EXPECT_EQ(placed(f.child(u"centre")), (Rect { 35, 20, 66, 30 }));
    EXPECT_EQ(placed(f.child(u"noSize")).width(), 150);
    // The form's own measure ignores the no-size child: the widest
    // contribution is minWide's 10 + 120.
    EXPECT_EQ(f.form.width_pair().preferred, 130);
}

TEST(ElementLayout, a_moved_form_moves_its_children_and_repeats_nothing_when_unchanged)
{
    LoadedForm f(kAnchors, u"Anchors", { 100, 50 });
    struct Watcher : ElementObserver {
        int widths = 0;
        void on_width_changed(Element&, std::int32_t) override { ++widths; }
    } left, right;
    f.child(u"minSide").set_observer(&left);
    f.child(u"maxSide").set_observer(&right);
    f.form.place({ 100, 50 });
    EXPECT_EQ(right.widths, 0);
    f.form.place({ 200, 50 });
    // Only the element whose slot changed hears of it.
    EXPECT_EQ(left.widths, 0);
    EXPECT_EQ(right.widths, 1);
    EXPECT_EQ(placed(f.child(u"maxSide")).left, 200 - 10 - 30);
}

namespace {

std::string table_source(int ratio_a, int ratio_b)
{
    return "form Table\n    string type node\n    node row\n        string type htable\n"
           "        node a\n            string type node\n            point design_size 40 10\n"
           "            int table_ratio "
        + std::to_string(ratio_a)
        + "\n        node b\n            string type node\n            point design_size 40 10\n"
          "            int table_ratio "
        + std::to_string(ratio_b) + "\n";
}

std::pair<int, int> table_widths(int ratio_a, int ratio_b, int width)
{
    LoadedForm f(table_source(ratio_a, ratio_b), u"Table", { width, 20 });
    auto& a = f.child(u"a");
    auto& b = f.child(u"b");
    EXPECT_EQ(b.position().x, a.position().x + a.size().width) << "cells follow each other";
    return { a.size().width, b.size().width };
}

}

TEST(ElementLayout, a_table_shares_spare_room_by_ratio_count_and_shrinks_in_proportion)
{
    EXPECT_EQ(table_widths(0, 0, 100), std::make_pair(40, 40));
    EXPECT_EQ(table_widths(1, 1, 100), std::make_pair(50, 50));
    // Spare 20 over R = 2 ratio children: 20 * 2 / 2 and 20 * 3 / 2 - 20.
    EXPECT_EQ(table_widths(2, 1, 100), std::make_pair(60, 50));
    EXPECT_EQ(table_widths(0, 0, 30), std::make_pair(15, 15));
    EXPECT_EQ(table_widths(0, 0, 0), std::make_pair(0, 0));
}

TEST(ElementLayout, a_table_measures_the_sum_of_its_visible_children)
{
    LoadedForm f(table_source(0, 0), u"Table", { 100, 20 });
    auto& row = f.child(u"row");
    EXPECT_EQ(row.width_pair().preferred, 80);
    f.child(u"b").set_visible(false);
    EXPECT_EQ(row.width_pair().preferred, 40);
    f.form.place({ 100, 20 });
    // The hidden cell keeps its old slot; the visible one is placed alone.
    EXPECT_EQ(f.child(u"a").size().width, 40);
}

TEST(ElementLayout, a_progress_line_follows_the_value)
{
    LoadedForm f(R"(form Bar
    string type node
    node bar
        string type progress
        point border_min 0 0
        node #line
            string type color
            string anchor_x MIN_SIDE
            string anchor_y MIN_SIDE
        node frame
            string type node
)",
        u"Bar", { 100, 8 });
    auto* bar = dynamic_cast<ProgressElement*>(&f.child(u"bar"));
    ASSERT_NE(bar, nullptr);
    ASSERT_EQ(bar->line(), f.form.find_child(u"#line"));
    bar->set_value(0.5);
    f.form.place({ 100, 8 });
    EXPECT_EQ(bar->line()->size(), (Size { 50, 4 }));
    EXPECT_EQ(f.child(u"frame").size(), (Size { 100, 8 }));
    bar->set_value(0.004);
    f.form.place({ 100, 8 });
    EXPECT_EQ(bar->line()->size().width, 0);
}

namespace {

// A column that stops widening at 200 and a popup panel that stops at 120
// wide and 50 high, as the album list and the menus do; the children of the
// column keep to its edges, not the form's.
constexpr char const* kLimited = R"(form Limited
    string type node
    node header
        string type color
        string anchor_y MIN_SIDE
        point design_size 0 10
    node column
        string type node
        point max_size 200 0
        node btnMenu
            string type node
            string anchor_x MIN_SIDE
            string anchor_y MIN_SIDE
            point border_min 4 4
            point design_size 20 20
        node btnSearch
            string type node
            string anchor_x MAX_SIDE
            string anchor_y MIN_SIDE
            point border_min 0 4
            point border_max 4 0
            point design_size 20 20
        node list
            string type node
            point border_min 0 30
    node panel
        string type node
        string anchor_y MAX_SIDE
        point border_min 6 0
        point border_max 6 6
        point design_size 0 40
        point max_size 120 50
    node box
        string type node
        point max_size 0 100
    node row
        string type htable
        string anchor_y MIN_SIDE
        point design_size 0 10
        node cell
            string type node
            int table_ratio 1
            point max_size 30 0
        node other
            string type node
            int table_ratio 1
)";

}

TEST(ElementLayout, a_limited_element_takes_its_whole_slot_up_to_the_limit_and_is_centred_beyond)
{
    // Narrower than the limits: everything as without them.
    LoadedForm narrow(kLimited, u"Limited", { 130, 300 });
    EXPECT_EQ(placed(narrow.child(u"column")), (Rect { 0, 0, 130, 300 }));
    EXPECT_EQ(placed(narrow.child(u"panel")), (Rect { 6, 254, 124, 294 }));
    // Exactly at the limit.
    LoadedForm exact(kLimited, u"Limited", { 200, 300 });
    EXPECT_EQ(placed(exact.child(u"column")), (Rect { 0, 0, 200, 300 }));
    // Wider: the limit, centred; an odd spare leaves the extra pixel right.
    LoadedForm wide(kLimited, u"Limited", { 601, 300 });
    EXPECT_EQ(placed(wide.child(u"column")), (Rect { 200, 0, 400, 300 }));
    EXPECT_EQ(placed(wide.child(u"header")), (Rect { 0, 0, 601, 10 })) << "the unlimited header runs the whole width";
    // A height limit alone: the whole width, the middle 100 rows.
    EXPECT_EQ(placed(wide.child(u"box")), (Rect { 0, 100, 601, 200 }));
    // The panel's slot is the form less its borders (589 wide from 6), its
    // height is its own 40 under the limit of 50.
    EXPECT_EQ(placed(wide.child(u"panel")), (Rect { 6 + (589 - 120) / 2, 254, 6 + (589 - 120) / 2 + 120, 294 }));
}

TEST(ElementLayout, the_children_of_a_limited_element_keep_to_its_edges)
{
    LoadedForm f(kLimited, u"Limited", { 1000, 400 });
    EXPECT_EQ(placed(f.child(u"btnMenu")), (Rect { 404, 4, 424, 24 }));
    EXPECT_EQ(placed(f.child(u"btnSearch")), (Rect { 576, 4, 596, 24 }));
    EXPECT_EQ(placed(f.child(u"list")), (Rect { 400, 30, 600, 400 }));
    // A table cell larger than its limit: the limit, centred in the cell.
    EXPECT_EQ(placed(f.child(u"cell")), (Rect { 235, 0, 265, 10 }));
    EXPECT_EQ(placed(f.child(u"other")), (Rect { 500, 0, 1000, 10 }));
}

TEST(ElementLayout, a_limited_element_placed_again_at_the_same_slot_is_left_alone)
{
    LoadedForm f(kLimited, u"Limited", { 1000, 400 });
    struct Watcher : ElementObserver {
        int widths = 0;
        int heights = 0;
        void on_width_changed(Element&, std::int32_t) override { ++widths; }
        void on_height_changed(Element&, std::int32_t) override { ++heights; }
    } column, button;
    f.child(u"column").set_observer(&column);
    f.child(u"btnSearch").set_observer(&button);
    f.form.place({ 1000, 400 });
    f.form.place({ 1000, 400 });
    EXPECT_EQ(column.widths + column.heights + button.widths, 0) << "an unchanged slot is laid out again";
    // A resize moves the column and its children.
    f.form.place({ 800, 400 });
    EXPECT_EQ(column.widths, 1);
    EXPECT_EQ(placed(f.child(u"btnSearch")).right, 300 + 200 - 4);
}

TEST(ElementLoading, types_build_their_classes_and_missing_types_throw_with_the_name)
{
    test::WidgetTypesScope types;
    auto store = test::skin_from_source(R"(form Good
    string type node
    node v
        string type vtable
form NoType
    string type node
    node first
        string type color
    node second
        int cache 1
form Unknown
    string type node
    node odd
        string type bogus
)");
    Form form;
    ASSERT_TRUE(form.load_form(*store, u"Good"));
    auto* table = dynamic_cast<TableElement*>(form.find_child(u"v"));
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->axis(), TableAxis::Vertical);
    EXPECT_FALSE(form.load_form(*store, u"Missing"));
    EXPECT_EQ(form.find_child(u"v"), table) << "a missing node changes nothing";

    try {
        form.load_form(*store, u"NoType");
        FAIL() << "no exception";
    } catch (NodeNotRegistered const& error) {
        EXPECT_EQ(error.type(), u"");
    }
    // What was built before the failure stays attached.
    EXPECT_NE(form.find_child(u"first"), nullptr);
    EXPECT_EQ(form.find_child(u"v"), nullptr);

    try {
        form.load_form(*store, u"Unknown");
        FAIL() << "no exception";
    } catch (NodeNotRegistered const& error) {
        EXPECT_EQ(error.type(), u"bogus");
    }
}

TEST(ElementLoading, find_child_prefers_direct_children_then_earlier_subtrees)
{
    LoadedForm f(R"(form Find
    string type node
    node first
        string type node
        node deep
            string type node
            node target
                string type node
                int marker 1
    node second
        string type node
        node deep
            string type node
            int marker 2
    node target
        string type node
        int marker 3
)",
        u"Find", { 10, 10 });
    auto const& children = f.form.children();
    ASSERT_EQ(children.size(), 3u);
    EXPECT_EQ(f.form.find_child(u"target"), children[2]);
    // Two "deep" elements: the one in the first subtree wins.
    EXPECT_EQ(f.form.find_child(u"deep"), children[0]->children()[0]);
    EXPECT_EQ(f.form.find_child(u"nothing"), nullptr);
}
