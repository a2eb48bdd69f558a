#include "imaging/PixelOp.h"
#include "widgets/TileView.h"
#include "widgets/Form.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>
#include <tuple>
#include <vector>

namespace qv {
namespace {

using Key = std::tuple<int, int, int>;

struct RecordingListener : TileListener, GestureListener {
    std::vector<Key> asked;
    std::vector<Point> clicks;
    int pan_reports { 0 };
    void add_tile(TileView&, int level, int column, int row) override { asked.emplace_back(level, column, row); }
    void on_pan_changed(TileView&, double, double, double) override { ++pan_reports; }
    void on_view_click(TileView&, Point point) override { clicks.push_back(point); }
};

// A colour that names its tile, so a drawn pixel tells which tile it came from.
std::uint16_t tile_colour(int level, int column, int row)
{
    return static_cast<std::uint16_t>(((level * 7 + column) * 13 + row * 3 + 1) * 97) & ~0x20;
}

std::unique_ptr<RenderSurface> solid_tile(int side, std::uint16_t colour)
{
    auto surface = std::make_unique<RenderSurface>(Size { side, side });
    fill_rect(surface->target(), 0, 0, side, side, ColourFillOp(colour));
    return surface;
}

struct ViewFixture {
    Form form;
    TileView* view;
    RecordingListener listener;
    RenderSurface screen;

    explicit ViewFixture(Size size)
        : view(new TileView(&form))
        , screen(size)
    {
        view->set_horizontal(0, size.width);
        view->set_vertical(0, size.height);
        view->set_tile_listener(&listener);
        view->set_gesture_listener(&listener);
    }

    void draw() { view->draw(screen.target(), Point {}); }

    // Answers every request so far with a tile of its own colour.
    void deliver_all()
    {
        for (auto const& [level, column, row] : listener.asked)
            view->put_piece(level, column, row, solid_tile(256, tile_colour(level, column, row)));
        listener.asked.clear();
    }

    void settle(int frames = 400)
    {
        for (int i = 0; i < frames; ++i)
            view->advance(0.02);
    }

    std::uint16_t pixel(int x, int y) const { return screen.buffer()->at(x, y); }
};

TEST(TileGeometry, LevelsTilesAndBudgetFollowTheTileCounts)
{
    // 1600 x 1200 needs 7 x 5 tiles of 256; 2^3 = 8 is the first power to
    // cover both.
    EXPECT_EQ(tile_top_level(256, 256, 1600, 1200), 3);
    EXPECT_EQ(level_tiles(1600, 3, 3, 256), 7);
    EXPECT_EQ(level_tiles(1200, 3, 3, 256), 5);
    EXPECT_EQ(level_tiles(1600, 3, 0, 256), 1);
    EXPECT_EQ(level_tiles(1200, 3, 0, 256), 1);
    EXPECT_EQ(level_extent(1600, 3, 0), 200);
    // The placeholder fits one small tile at level 0.
    EXPECT_EQ(tile_top_level(64, 64, 45, 45), 0);
    EXPECT_EQ(level_tiles(45, 0, 0, 64), 1);
    // An empty neighbour has no tiles at all.
    EXPECT_EQ(tile_top_level(256, 256, 0, 0), 0);
    EXPECT_EQ(level_tiles(0, 0, 0, 256), 0);
    // 240 x 320: (320 / 256 + 2) rows by (240 / 256 + 2) columns.
    EXPECT_EQ(tile_budget(256, 256, 240, 320), 3 * 2);
    // The fit level needs 256 * 2^L on both sides.
    EXPECT_EQ(tile_fit_level(3, 256, 256, 600, 600), 1);
    EXPECT_EQ(tile_fit_level(3, 256, 256, 1100, 600), 1);
    EXPECT_EQ(tile_fit_level(3, 256, 256, 240, 320), 0);
}

TEST(TileGeometry, PanRangeCentresSmallPicturesAndKeepsLargeOnesOverTheView)
{
    // Displayed 200 wide in a 240 view at half scale: only the centre.
    auto small = pan_range(200, 240, 2.0);
    EXPECT_DOUBLE_EQ(small.low, 200.0);
    EXPECT_DOUBLE_EQ(small.high, 200.0);
    // Displayed 800 wide in a 240 view at scale 2: the view's half from each
    // edge, in full-resolution pixels.
    auto large = pan_range(800, 240, 2.0);
    EXPECT_DOUBLE_EQ(large.low, 240.0);
    EXPECT_DOUBLE_EQ(large.high, (800 - 120) * 2.0);
    EXPECT_DOUBLE_EQ(clamp_to(large, 0), 240.0);
}

TEST(TileGeometry, FitZoomFitsTheWholePicture)
{
    // 1600 x 1200 at zoom 0 is 200 x 150; a 240 x 320 view fits 240 / 200.
    EXPECT_NEAR(fit_zoom(1600, 1200, 3, 240, 320), std::log2(240.0 / 200.0), 1e-12);
    // A view larger than the full picture stops at full size.
    EXPECT_DOUBLE_EQ(fit_zoom(300, 200, 1, 4000, 4000), 1.0);
    EXPECT_DOUBLE_EQ(round_zoom(2.49), 2.0);
    EXPECT_DOUBLE_EQ(round_zoom(2.5), 3.0);
}

TEST(TileView, SetPictureStartsAtTheFitLevelWhenTheZoomIsBelowIt)
{
    ViewFixture f(Size { 600, 600 });
    f.view->set_picture(256, 256, 1600, 1200, 0);
    EXPECT_EQ(f.view->top_level(), 3);
    EXPECT_EQ(f.view->fit_level(), 1);
    EXPECT_DOUBLE_EQ(f.view->zoom(), 1.0);
    EXPECT_DOUBLE_EQ(f.view->target_zoom(), 1.0);
    EXPECT_EQ(f.view->tile_level(), 1);
    EXPECT_DOUBLE_EQ(f.view->pan().x, 800.0);
    EXPECT_DOUBLE_EQ(f.view->pan().y, 600.0);
    // A zoom inside the allowed range is kept.
    f.view->set_picture(256, 256, 1600, 1200, 2.5);
    EXPECT_DOUBLE_EQ(f.view->zoom(), 2.5);
    EXPECT_EQ(f.view->tile_level(), 3);
}

TEST(TileView, APictureThatFitsTheViewExactlyCoversItToTheLastColumn)
{
    // 906 x 1208 at its fit zoom is 480 x 640 to a hair more, in floating
    // point: the hair must not shift the picture by a pixel and show what
    // lies past its edge in the last column.
    ViewFixture f(Size { 480, 640 });
    f.view->set_picture(256, 256, 906, 1208, 0);
    double const fit = fit_zoom(906, 1208, f.view->top_level(), 480, 640);
    f.view->set_zoom(fit);
    f.view->set_pan(453, 604);
    f.draw();
    // Tiles as the creators cut them: the picture's own colour up to its
    // edge, something else past it.
    ASSERT_EQ(f.view->tile_level(), 3);
    for (auto const& [level, column, row] : f.listener.asked) {
        auto tile = solid_tile(256, tile_colour(level, column, row));
        int const inside_w = std::min(256, 906 - 256 * column), inside_h = std::min(256, 1208 - 256 * row);
        fill_rect(tile->target(), inside_w, 0, 256 - inside_w, 256, ColourFillOp(1));
        fill_rect(tile->target(), 0, inside_h, 256, 256 - inside_h, ColourFillOp(1));
        f.view->put_piece(level, column, row, std::move(tile));
    }
    f.listener.asked.clear();
    fill_rect(f.screen.target(), 0, 0, 480, 640, ColourFillOp(2));
    f.draw();
    for (int y = 0; y < 640; y += 8) {
        for (int x : { 0, 479 }) {
            ASSERT_NE(f.pixel(x, y), 1) << x << "," << y << ": past the picture's edge";
            ASSERT_NE(f.pixel(x, y), 2) << x << "," << y << ": not covered";
        }
    }
}

TEST(TileView, AsksOnceForEachVisibleTileAndDrawsDeliveredOnes)
{
    ViewFixture f(Size { 240, 320 });
    f.view->set_picture(256, 256, 1600, 1200, 3);
    EXPECT_EQ(f.view->tile_budget(), 6);
    f.draw();
    // Centred at (800, 600) at full size: x 680..920 is columns 2..3,
    // y 440..760 is rows 1..2.
    std::set<Key> const expected { { 3, 2, 1 }, { 3, 3, 1 }, { 3, 2, 2 }, { 3, 3, 2 } };
    EXPECT_EQ(std::set<Key>(f.listener.asked.begin(), f.listener.asked.end()), expected);
    EXPECT_EQ(f.listener.asked.size(), expected.size());
    f.deliver_all();
    f.draw();
    EXPECT_TRUE(f.listener.asked.empty());
    // Screen (0, 0) is picture (680, 440): tile (2, 1); screen (239, 319)
    // is (919, 759): tile (3, 2).
    EXPECT_EQ(f.pixel(0, 0), tile_colour(3, 2, 1));
    EXPECT_EQ(f.pixel(239, 319), tile_colour(3, 3, 2));
    // A tile for a key the view does not hold is dropped.
    f.view->put_piece(3, 6, 4, solid_tile(256, 1));
    for (auto const& tile : f.view->tiles())
        EXPECT_FALSE(tile.column == 6 && tile.row == 4);
    EXPECT_FALSE(f.view->is_needed(3, 6, 4));
    std::int64_t distance = -1;
    EXPECT_TRUE(f.view->is_needed(3, 2, 1, &distance));
    // Pan (800, 600) to the centre of tile (2, 1): (640, 384).
    EXPECT_EQ(distance, 160 * 160 + 216 * 216);
}

TEST(TileView, TilesAskedForAheadOfTheFirstFrameAreNotAskedForAgain)
{
    ViewFixture f(Size { 240, 320 });
    f.view->set_picture(256, 256, 1600, 1200, 3);
    f.view->request_visible();
    std::set<Key> const expected { { 3, 2, 1 }, { 3, 3, 1 }, { 3, 2, 2 }, { 3, 3, 2 } };
    EXPECT_EQ(std::set<Key>(f.listener.asked.begin(), f.listener.asked.end()), expected);
    EXPECT_EQ(f.listener.asked.size(), expected.size());
    for (auto const& tile : f.view->tiles())
        EXPECT_TRUE(tile.pending && tile.requested);
    f.view->request_visible();
    f.draw();
    EXPECT_EQ(f.listener.asked.size(), expected.size());
    f.deliver_all();
    f.draw();
    EXPECT_EQ(f.pixel(0, 0), tile_colour(3, 2, 1));

    // An empty neighbour has nothing to ask for.
    ViewFixture empty(Size { 240, 320 });
    empty.view->set_picture(256, 256, 0, 0, 0);
    empty.view->request_visible();
    EXPECT_TRUE(empty.listener.asked.empty());
}

TEST(TileView, ZoomToAFractionSwitchesToTheFinerLevelWithPreviews)
{
    ViewFixture f(Size { 240, 320 });
    f.view->set_picture(256, 256, 1600, 1200, 2);
    f.draw();
    f.deliver_all();
    f.draw();
    // Level 2 is 800 x 600, centred at (400, 300): screen (0, 0) is (280, 140),
    // tile (1, 0).
    EXPECT_EQ(f.pixel(0, 0), tile_colour(2, 1, 0));

    f.view->set_target_zoom(2.5);
    f.view->advance(0.1);
    ASSERT_GT(f.view->zoom(), 2.0);
    ASSERT_LT(f.view->zoom(), 2.5);
    f.draw();
    // No tiles are asked for while the zoom moves.
    EXPECT_TRUE(f.listener.asked.empty());
    EXPECT_EQ(f.view->tile_level(), 2);
    f.settle(10);
    ASSERT_DOUBLE_EQ(f.view->zoom(), 2.5);
    f.draw();
    EXPECT_EQ(f.view->tile_level(), 3);
    ASSERT_FALSE(f.listener.asked.empty());
    for (auto const& key : f.listener.asked)
        EXPECT_EQ(std::get<0>(key), 3);
    // Until the real tiles come, the level-2 tiles show enlarged: every
    // level-3 entry that is not pending holds its parent's colour.
    int previews = 0;
    for (auto const& tile : f.view->tiles()) {
        if (tile.level != 3 || !tile.preview)
            continue;
        ++previews;
    }
    EXPECT_GT(previews, 0);
    std::uint16_t const centre = f.pixel(120, 160);
    // Picture centre (800, 600) lies in level-3 tile (3, 2), whose parent is
    // level-2 tile (1, 1).
    EXPECT_EQ(centre, tile_colour(2, 1, 1));
    f.deliver_all();
    f.draw();
    EXPECT_EQ(f.pixel(120, 160), tile_colour(3, 3, 2));
}

TEST(TileView, ReducedTilesBeyondTheBudgetAreNotAskedForAgainEveryFrame)
{
    // At zoom 2.1 level-3 tiles are drawn at 0.54: more of them show than
    // the six of the budget.
    ViewFixture f(Size { 240, 320 });
    f.view->set_picture(256, 256, 1600, 1200, 2.1);
    // Tiles are 137 pixels wide: x 255..495 at this zoom meets three
    // columns, y 161..481 three rows.
    f.view->set_pan(700, 600);
    f.draw();
    auto const first = f.listener.asked.size();
    EXPECT_EQ(first, 9u);
    f.draw();
    f.draw();
    EXPECT_EQ(f.listener.asked.size(), first);
}

TEST(TileView, FlingPastAnEdgeSpringsBackInsideThePanRange)
{
    ViewFixture f(Size { 240, 320 });
    f.view->set_picture(256, 256, 1600, 1200, 3);
    // A fast drag to the right: the picture's left edge moves towards the view.
    std::uint32_t tick = 1000;
    f.view->on_pointer_button(PointerEvent { Point { 20, 100 }, tick, true });
    for (int i = 1; i <= 10; ++i)
        f.view->on_pointer_move(PointerEvent { Point { 20 + 20 * i, 100 }, tick + 10u * i, true });
    f.view->on_pointer_button(PointerEvent { Point { 220, 100 }, tick + 100, false });
    EXPECT_GT(f.view->speed(), 0);
    EXPECT_TRUE(f.listener.clicks.empty());
    // The drag itself moved the pan by at most the pen's 200 pixels.
    EXPECT_LE(800 - f.view->pan().x, 200.0);
    double lowest = f.view->pan().x;
    for (int i = 0; i < 500 && !f.view->at_rest(); ++i) {
        f.view->advance(0.02);
        lowest = std::min(lowest, f.view->pan().x);
    }
    for (int i = 0; i < 200; ++i)
        f.view->advance(0.02);
    auto range = f.view->pan_range_x();
    // The fling carried the edge into the view before it sprang back.
    EXPECT_LT(lowest, range.low);
    EXPECT_GE(f.view->pan().x, range.low - 0.5);
    EXPECT_LE(f.view->pan().x, range.high + 0.5);
    EXPECT_GT(f.listener.pan_reports, 0);
}

TEST(TileView, DragBeyondAnEdgeFollowsThePenLessAndATapIsAClick)
{
    ViewFixture f(Size { 240, 320 });
    f.view->set_picture(256, 256, 1600, 1200, 3);
    f.view->set_pan(120, 600); // left edge exactly at the view's edge
    f.view->on_pointer_button(PointerEvent { Point { 10, 100 }, 0, true });
    f.view->on_pointer_move(PointerEvent { Point { 50, 100 }, 500, true });
    f.view->on_pointer_move(PointerEvent { Point { 90, 100 }, 1000, true });
    double const moved = 120 - f.view->pan().x;
    EXPECT_GT(moved, 0);
    EXPECT_LT(moved, 80);
    f.view->on_pointer_button(PointerEvent { Point { 90, 100 }, 1500, false });
    EXPECT_TRUE(f.listener.clicks.empty());

    f.view->on_pointer_button(PointerEvent { Point { 100, 100 }, 2000, true });
    f.view->on_pointer_button(PointerEvent { Point { 103, 101 }, 2050, false });
    ASSERT_EQ(f.listener.clicks.size(), 1u);
    EXPECT_EQ(f.listener.clicks[0], (Point { 103, 101 }));
}

TEST(TileView, ThePicturePointUnderThePenStaysThereAndCoastsOnTheSameWay)
{
    for (int orientation : { 0, 1, -1 }) {
        SCOPED_TRACE(orientation);
        ViewFixture f(Size { 240, 320 });
        f.view->set_orientation(orientation);
        // At full size, far from the edges: the picture follows the pen 1:1.
        f.view->set_picture(256, 256, 1600, 1200, 3);
        Point pen { 100, 150 };
        auto const held = f.view->screen_to_picture(pen);
        std::uint32_t tick = 0;
        f.view->on_pointer_button(PointerEvent { pen, tick, true });
        for (int i = 0; i < 5; ++i) {
            pen = Point { pen.x + 7, pen.y - 4 };
            f.view->on_pointer_move(PointerEvent { pen, tick += 10, true });
            auto const under = f.view->screen_to_picture(pen);
            EXPECT_NEAR(under.x, held.x, 1e-9);
            EXPECT_NEAR(under.y, held.y, 1e-9);
        }
        f.view->on_pointer_button(PointerEvent { pen, tick += 10, false });
        ASSERT_GT(f.view->speed(), 0);
        f.view->advance(0.05);
        // The held point went on along the pen's way, (7, -4) on the screen.
        auto const now = f.view->picture_to_view(held);
        double const ahead = (now.x - pen.x) * 7 + (now.y - pen.y) * -4;
        double const aside = (now.x - pen.x) * -4 - (now.y - pen.y) * 7;
        EXPECT_GT(ahead, 0);
        EXPECT_NEAR(aside, 0, 1e-6);
    }
}

TEST(TileView, ATapNeverFlingsAndADragFlingsAtItsLastPaceUpToTheCap)
{
    ViewFixture f(Size { 240, 320 });
    f.view->set_picture(256, 256, 1600, 1200, 3);
    // A press, moves and a release, `every` milliseconds apart.
    auto const gesture = [&](std::vector<Point> const& points, std::uint32_t start, std::uint32_t every) {
        for (std::uint32_t i = 0; i < points.size(); ++i) {
            PointerEvent const event { points[i], start + i * every, i + 1 < points.size() };
            if (i == 0 || i + 1 == points.size())
                f.view->on_pointer_button(event);
            else
                f.view->on_pointer_move(event);
        }
    };
    int const slop = TileView::kPenMotion.tap_slop;
    // Out to the slop in 10 ms, quick as it is: a tap.
    gesture({ { 100, 100 }, { 100 + slop, 100 }, { 100 + slop / 2, 100 } }, 0, 10);
    ASSERT_EQ(f.listener.clicks.size(), 1u);
    EXPECT_EQ(f.view->speed(), 0);
    // A slow steady drag, 30 pixels every 300 ms: the samples older than
    // the window go, but the last two still tell its pace.
    gesture({ { 50, 100 }, { 80, 100 }, { 110, 100 }, { 140, 100 } }, 1000, 300);
    EXPECT_EQ(f.listener.clicks.size(), 1u);
    EXPECT_DOUBLE_EQ(f.view->speed(), 100);
    // 200 pixels in 20 ms would be 10,000 pixels per second.
    gesture({ { 20, 200 }, { 120, 200 }, { 220, 200 } }, 3000, 10);
    EXPECT_DOUBLE_EQ(f.view->speed(), 2000);
}

TEST(TileView, PanTargetIsReachedWithoutOvershoot)
{
    ViewFixture f(Size { 240, 320 });
    f.view->set_picture(256, 256, 1600, 1200, 3);
    f.view->set_pan_target(500, 600);
    EXPECT_TRUE(f.view->pan_animating());
    double previous = f.view->pan().x;
    for (int i = 0; i < 200 && f.view->pan_animating(); ++i) {
        f.view->advance(0.02);
        EXPECT_LE(f.view->pan().x, previous);
        EXPECT_GE(f.view->pan().x, 500);
        previous = f.view->pan().x;
    }
    EXPECT_FALSE(f.view->pan_animating());
    EXPECT_DOUBLE_EQ(f.view->pan().x, 500);
}

TEST(TileView, TurnedViewMapsScreenAndPictureBothWays)
{
    ViewFixture f(Size { 240, 320 });
    f.view->set_picture(256, 256, 1600, 1200, 3);
    for (int orientation : { 0, 1, -1 }) {
        f.view->set_orientation(orientation);
        EXPECT_DOUBLE_EQ(f.view->view_extent_x(), orientation ? 320 : 240);
        auto centre = f.view->screen_to_picture(Point { 120, 160 });
        EXPECT_DOUBLE_EQ(centre.x, 800);
        EXPECT_DOUBLE_EQ(centre.y, 600);
        for (Point p : { Point { 0, 0 }, Point { 239, 10 }, Point { 30, 300 } }) {
            auto back = f.view->picture_to_view(f.view->screen_to_picture(p));
            EXPECT_NEAR(back.x, p.x, 1e-9);
            EXPECT_NEAR(back.y, p.y, 1e-9);
        }
    }
    // Turned clockwise, the picture's top (smaller y) lies to the right.
    f.view->set_orientation(1);
    EXPECT_LT(f.view->screen_to_picture(Point { 230, 160 }).y, 600);
}

TEST(TileView, TurnedViewLaysTheColumnsDownTheScreen)
{
    // 512 x 256 is two tiles side by side; turned clockwise in a 256 x 512
    // view it fills the view at full size, its left tile on top.
    ViewFixture f(Size { 256, 512 });
    f.view->set_orientation(1);
    f.view->set_picture(256, 256, 512, 256, 1);
    ASSERT_EQ(f.view->top_level(), 1);
    f.draw();
    std::set<Key> const expected { { 1, 0, 0 }, { 1, 1, 0 } };
    EXPECT_EQ(std::set<Key>(f.listener.asked.begin(), f.listener.asked.end()), expected);
    f.deliver_all();
    f.draw();
    EXPECT_EQ(f.pixel(128, 10), tile_colour(1, 0, 0));
    EXPECT_EQ(f.pixel(128, 500), tile_colour(1, 1, 0));
    // Picture point (10, 5) near the top-left corner shows at the top right.
    auto const p = f.view->picture_to_view(PicturePoint { 10, 5 });
    EXPECT_DOUBLE_EQ(p.x, 256 - 5);
    EXPECT_DOUBLE_EQ(p.y, 10);
}

TEST(TileView, EmptyNeighbourDrawsNothingAndAsksForNothing)
{
    ViewFixture f(Size { 240, 320 });
    fill_rect(f.screen.target(), 0, 0, 240, 320, ColourFillOp(0x1234));
    f.view->set_picture(256, 256, 0, 0, 0);
    EXPECT_EQ(f.view->top_level(), 0);
    f.draw();
    EXPECT_TRUE(f.listener.asked.empty());
    EXPECT_EQ(f.pixel(120, 160), 0x1234);
}


TEST(TileView, AnAnimatedZoomArrivesInItsTimeAtAnEvenPaceAndTheOwnPaceComesBack)
{
    ViewFixture f({ 240, 320 });
    f.view->set_picture(256, 256, 1600, 1200, 1.0);
    ASSERT_DOUBLE_EQ(f.view->zoom(), 1.0);
    // A level in 0.2 s: a quarter of it every 50 ms, then exactly there.
    f.view->animate_zoom(2.0, 0.2);
    for (double expected : { 1.25, 1.5, 1.75, 2.0, 2.0 }) {
        f.view->advance(0.05);
        EXPECT_NEAR(f.view->zoom(), expected, 1e-12);
    }
    EXPECT_DOUBLE_EQ(f.view->zoom(), 2.0);
    // A new goal midway sets a new pace from where the zoom is.
    f.view->animate_zoom(3.0, 0.1);
    f.view->advance(0.05);
    f.view->animate_zoom(2.0, 0.5);
    f.view->advance(0.1);
    EXPECT_NEAR(f.view->zoom(), 2.5 - 0.1, 1e-12);
    // The view's own pace once the animation is over: two levels a second
    // within a level of the tiles drawn, not the last animation's.
    f.view->set_target_zoom(1.5);
    double const from = f.view->zoom();
    f.view->advance(0.05);
    EXPECT_NEAR(from - f.view->zoom(), 0.1, 1e-12);
    // No time at all arrives with the next frame, and going nowhere is no
    // animation.
    f.view->animate_zoom(1.0, 0);
    f.view->advance(0.02);
    EXPECT_DOUBLE_EQ(f.view->zoom(), 1.0);
    f.view->animate_zoom(1.0, 0.3);
    f.view->advance(0.02);
    EXPECT_DOUBLE_EQ(f.view->zoom(), 1.0);
    EXPECT_DOUBLE_EQ(f.view->target_zoom(), 1.0);
}

}
}
