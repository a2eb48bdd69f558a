#include "skin/Layout.h"

#include <gtest/gtest.h>

using namespace qv;

namespace {

AxisChild child(Anchor mode, std::int32_t m, std::int32_t M, std::int32_t preferred, std::int32_t minimum = -1,
    std::int32_t ratio = 0)
{
    return { mode, m, M, { preferred, minimum < 0 ? preferred : minimum }, ratio };
}

std::vector<std::int32_t> sizes(std::vector<Placement> const& placements)
{
    std::vector<std::int32_t> out;
    for (auto p : placements)
        out.push_back(p.size);
    return out;
}

}

TEST(Anchors, names_map_to_modes_and_unknown_names_stretch)
{
    EXPECT_EQ(anchor_from_name(u"MIN_SIDE"), Anchor::MinSide);
    EXPECT_EQ(anchor_from_name(u"MAX_SIDE_NO_SIZE"), Anchor::MaxSideNoSize);
    EXPECT_EQ(anchor_from_name(u"CENTER"), Anchor::Center);
    EXPECT_EQ(anchor_from_name(u"center"), Anchor::BothSide);
    EXPECT_EQ(anchor_from_name(u""), Anchor::BothSide);
}

TEST(SlotRules, min_and_max_side_keep_their_size_within_the_room)
{
    auto min_side = child(Anchor::MinSide, 10, 0, 0);
    EXPECT_EQ(place_in_slot(min_side, 30, 100), (Placement { 10, 30 }));
    EXPECT_EQ(place_in_slot(min_side, 120, 100), (Placement { 10, 90 }));
    auto max_side = child(Anchor::MaxSide, 0, 10, 0);
    EXPECT_EQ(place_in_slot(max_side, 30, 100), (Placement { 60, 30 }));
    EXPECT_EQ(place_in_slot(max_side, 200, 100), (Placement { 0, 90 }));
}

TEST(SlotRules, both_side_stretches_whatever_the_child_wants)
{
    auto both = child(Anchor::BothSide, 10, 20, 0);
    EXPECT_EQ(place_in_slot(both, 5, 100), (Placement { 10, 70 }));
    EXPECT_EQ(place_in_slot(both, 500, 100), (Placement { 10, 70 }));
    EXPECT_EQ(place_in_slot(both, 5, 25), (Placement { 10, 0 }));
}

TEST(SlotRules, center_rounds_each_half_down)
{
    auto center = child(Anchor::Center, 0, 0, 0);
    EXPECT_EQ(place_in_slot(center, 30, 100), (Placement { 35, 30 }));
    EXPECT_EQ(place_in_slot(center, 31, 100), (Placement { 35, 31 }));
    EXPECT_EQ(place_in_slot(center, 120, 100), (Placement { 0, 100 }));
}

TEST(SlotRules, no_size_modes_overflow_and_take_no_room)
{
    auto free = child(Anchor::MinSideNoSize, 0, 0, 150);
    EXPECT_EQ(place_in_slot(free, 150, 100), (Placement { 0, 150 }));
    std::vector<AxisChild> children { free, child(Anchor::MinSide, 5, 0, 20) };
    EXPECT_EQ(measure_base({}, 0, children).preferred, 25);
    EXPECT_EQ(measure_extent(Anchor::MaxSideNoSize, 3, 40, 3), 0);
    EXPECT_EQ(measure_extent(Anchor::MaxSide, 3, 40, 5), 45);
    EXPECT_EQ(border_sum(Anchor::MaxSideNoSize, 3, 5), 5);
    EXPECT_EQ(border_sum(Anchor::Ratio, 3, 5), 8);
}

TEST(Measure, design_size_and_minimums_carry_through)
{
    std::vector<AxisChild> children { child(Anchor::BothSide, 4, 6, 50, 30) };
    auto pair = measure_base({}, 20, children);
    EXPECT_EQ(pair.preferred, 60);
    EXPECT_EQ(pair.minimum, 40);
    auto table = measure_table({}, 0, std::vector<AxisChild> { child(Anchor::MinSide, 5, 0, 40, 20), child(Anchor::BothSide, 1, 1, 10, 10) });
    EXPECT_EQ(table.preferred, 57);
    EXPECT_EQ(table.minimum, 37);
}

TEST(Tables, spare_room_goes_to_ratio_children_by_count)
{
    std::vector<AxisChild> plain { child(Anchor::BothSide, 0, 0, 40, 20), child(Anchor::BothSide, 0, 0, 40, 20) };
    EXPECT_EQ(sizes(place_table(plain, 100)), (std::vector<std::int32_t> { 40, 40 }));

    auto even = plain;
    even[0].ratio = even[1].ratio = 1;
    auto placed = place_table(even, 100);
    EXPECT_EQ(placed, (std::vector<Placement> { { 0, 50 }, { 50, 50 } }));

    auto uneven = plain;
    uneven[0].ratio = 2;
    uneven[1].ratio = 1;
    EXPECT_EQ(sizes(place_table(uneven, 100)), (std::vector<std::int32_t> { 60, 50 }));
}

TEST(Tables, growth_is_shared_then_minimums_shrink_in_proportion)
{
    std::vector<AxisChild> two { child(Anchor::BothSide, 0, 0, 40, 20), child(Anchor::BothSide, 0, 0, 40, 20) };
    EXPECT_EQ(sizes(place_table(two, 50)), (std::vector<std::int32_t> { 25, 25 }));
    EXPECT_EQ(place_table(two, 30), (std::vector<Placement> { { 0, 15 }, { 15, 15 } }));
    EXPECT_EQ(sizes(place_table(two, 0)), (std::vector<std::int32_t> { 0, 0 }));
}

TEST(Tables, growth_a_child_cannot_take_goes_round_again)
{
    // 30 to share among three: the first can take only 2 more, the other
    // two split what it leaves.
    std::vector<AxisChild> three { child(Anchor::BothSide, 0, 0, 12, 10), child(Anchor::BothSide, 0, 0, 100, 10),
        child(Anchor::BothSide, 0, 0, 100, 10) };
    auto placed = sizes(place_table(three, 60));
    EXPECT_EQ(placed[0], 12);
    EXPECT_EQ(placed[0] + placed[1] + placed[2], 60);
    EXPECT_LE(std::abs(placed[1] - placed[2]), 1);
}

TEST(Tables, borders_frame_each_slot)
{
    std::vector<AxisChild> framed { child(Anchor::BothSide, 2, 3, 10), child(Anchor::MinSide, 4, 9, 10) };
    auto placed = place_table(framed, 100);
    EXPECT_EQ(placed[0], (Placement { 2, 10 }));
    EXPECT_EQ(placed[1], (Placement { 15 + 4, 10 }));
}

TEST(ProgressLine, follows_the_value_and_drops_slivers)
{
    auto line = child(Anchor::MinSide, 0, 0, 0);
    EXPECT_EQ(place_progress_line(line, 100, 0.5), (Placement { 0, 50 }));
    EXPECT_EQ(place_progress_line(line, 100, 0.004), (Placement { 0, 0 }));
    auto bordered = child(Anchor::MinSide, 5, 5, 0);
    EXPECT_EQ(place_progress_line(bordered, 100, 1.0), (Placement { 5, 95 }));
}
