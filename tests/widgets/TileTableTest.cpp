#include "widgets/TileGeometry.h"
#include "widgets/TileTable.h"

#include <gtest/gtest.h>

#include <functional>

namespace qv {
namespace {

constexpr int kSide = 8;
constexpr std::uint16_t kBackground = 0x0841;

// Where the upright pixel (x, y) of a tile lies in its surface, which
// arrives turned like the view.
std::uint16_t& pixel(RenderSurface const& surface, int orientation, int x, int y)
{
    Rect const at = turned_rect(Rect { x, y, x + 1, y + 1 }, Size { kSide, kSide }, orientation);
    return surface.buffer()->at(at.left, at.top);
}

void deliver(TileTable& table, int level, int column, int row, int orientation,
    std::function<std::uint16_t(int, int)> const& upright)
{
    auto* held = table.find(level, column, row);
    auto& entry = held ? *held : table.take(level, column, row, 100, 0);
    entry.surface = std::make_unique<RenderSurface>(Size { kSide, kSide });
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x)
            pixel(*entry.surface, orientation, x, y) = upright(x, y);
    entry.pending = false;
}

TEST(TileTable, RecyclesTheLeastRecentlyShownTileButNeverOneShownThisFrame)
{
    TileTable table;
    for (int stamp : { 5, 3, 7 })
        table.take(0, stamp, 0, 3, 0).stamp = stamp;
    deliver(table, 0, 3, 0, 0, [](int, int) { return std::uint16_t { 1 }; });
    // The budget is full: the entry shown longest ago takes the new key,
    // emptied, so that its old picture never shows in the new place.
    auto const& taken = table.take(0, 9, 0, 3, 8);
    EXPECT_EQ(table.find(0, 3, 0), nullptr);
    EXPECT_TRUE(taken.pending);
    EXPECT_EQ(taken.surface, nullptr);
    // All shown in this frame: the table grows past its budget instead.
    for (auto const& entry : table.entries())
        entry->stamp = 8;
    table.take(0, 4, 0, 3, 8);
    EXPECT_EQ(table.entries().size(), 4u);
}

TEST(TileTable, PreviewsShowTheirPartOfTheOtherLevelInEveryOrientation)
{
    for (int orientation : { 0, 1, -1 }) {
        SCOPED_TRACE(orientation);
        TileLook const look { kSide, orientation, kBackground };
        TileTable table;
        // Enlarged: each child of a tile with four coloured quarters shows
        // its quarter.
        deliver(table, 0, 0, 0, orientation, [](int x, int y) {
            return static_cast<std::uint16_t>(0x1000 + (x >= kSide / 2) + 2 * (y >= kSide / 2));
        });
        for (int child = 0; child < 4; ++child) {
            auto const preview = table.make_preview(0, 1, child % 2, child / 2, look);
            ASSERT_NE(preview, nullptr);
            EXPECT_EQ(pixel(*preview->surface, orientation, 1, 1), 0x1000 + child);
            EXPECT_EQ(pixel(*preview->surface, orientation, kSide - 1, kSide - 1), 0x1000 + child);
        }
        // Reduced: three delivered children of tile (0, 0) at level 0 fill
        // their quarters; the awaited one leaves the background.
        table.take(1, 0, 0, 100, 0);
        for (int child = 1; child < 4; ++child)
            deliver(table, 1, child % 2, child / 2, orientation, [=](int, int) { return 0x2000 + child; });
        auto const reduced = table.make_preview(1, 0, 0, 0, look);
        ASSERT_NE(reduced, nullptr);
        for (int child = 0; child < 4; ++child)
            EXPECT_EQ(pixel(*reduced->surface, orientation, (child % 2) * 4 + 2, (child / 2) * 4 + 1),
                child == 0 ? kBackground : 0x2000 + child)
                << child;
    }
}

TEST(TileTable, NoPreviewWithoutADeliveredSourceAndPreviewsKeepWithinTheBudget)
{
    TileTable table;
    TileLook const look { kSide, 0, kBackground };
    table.take(0, 0, 0, 100, 0);
    EXPECT_EQ(table.make_preview(0, 1, 0, 0, look), nullptr) << "its parent is still pending";
    EXPECT_EQ(table.make_preview(0, 0, 0, 0, look), nullptr) << "a level is no preview of itself";
    table.clear();
    for (int stamp : { 1, 3, 2 })
        table.take(0, stamp, 0, 100, 0).stamp = stamp;
    std::vector<std::unique_ptr<TileEntry>> previews;
    previews.push_back(std::make_unique<TileEntry>());
    previews.push_back(std::make_unique<TileEntry>());
    // Room for two previews in four: the entry shown longest ago goes.
    table.add_previews(std::move(previews), 4);
    EXPECT_EQ(table.entries().size(), 4u);
    EXPECT_EQ(table.find(0, 1, 0), nullptr);
}

}
}
