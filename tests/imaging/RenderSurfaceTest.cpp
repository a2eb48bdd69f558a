#include "imaging/PixelOp.h"
#include "imaging/RenderSurface.h"

#include <gtest/gtest.h>

using namespace qv;

TEST(RenderSurface, recreate_keeps_the_pixel_total_exact)
{
    std::int64_t before = render_surface_pixel_total();
    {
        RenderSurface surface({ 10, 20 });
        EXPECT_EQ(render_surface_pixel_total(), before + 200);
        EXPECT_EQ(surface.target().clip(), (Rect { 0, 0, 10, 20 }));

        EXPECT_FALSE(surface.recreate({ 10, 20 }));
        EXPECT_EQ(render_surface_pixel_total(), before + 200);

        EXPECT_TRUE(surface.recreate({ 30, 5 }));
        EXPECT_EQ(render_surface_pixel_total(), before + 150);
        EXPECT_EQ(surface.size(), (Size { 30, 5 }));
        EXPECT_EQ(surface.target().buffer(), surface.buffer());
        EXPECT_NE(surface.buffer(), nullptr);

        RenderSurface empty;
        EXPECT_FALSE(empty.recreate({ 0, 0 }));
        EXPECT_TRUE(empty.recreate({ 4, 4 }));
        EXPECT_EQ(render_surface_pixel_total(), before + 166);
    }
    EXPECT_EQ(render_surface_pixel_total(), before);
}

TEST(RenderSurface, a_failed_allocation_leaves_it_empty_with_the_requested_clip)
{
    std::int64_t before = render_surface_pixel_total();
    RenderSurface surface({ 8, 8 });
    EXPECT_TRUE(surface.recreate({ 1 << 20, 1 << 20 }));
    EXPECT_EQ(surface.buffer(), nullptr);
    EXPECT_EQ(surface.size(), (Size { 0, 0 }));
    EXPECT_EQ(surface.target().clip(), (Rect { 0, 0, 1 << 20, 1 << 20 }));
    EXPECT_EQ(render_surface_pixel_total(), before);
    fill_rect(surface.target(), 0, 0, 5, 5, ColourFillOp(0)); // must not touch anything
}

TEST(RenderSurface, release_and_adopt_move_buffers_and_their_pixels)
{
    std::int64_t before = render_surface_pixel_total();
    RenderSurface surface({ 6, 4 });
    auto taken = surface.release();
    ASSERT_TRUE(taken);
    EXPECT_EQ(taken->width(), 6);
    EXPECT_EQ(surface.buffer(), nullptr);
    EXPECT_EQ(surface.target().clip(), (Rect {}));
    EXPECT_EQ(render_surface_pixel_total(), before);

    surface.adopt(PixelBuffer::create(3, 9));
    EXPECT_EQ(surface.size(), (Size { 3, 9 }));
    EXPECT_EQ(surface.target().clip(), (Rect { 0, 0, 3, 9 }));
    EXPECT_EQ(render_surface_pixel_total(), before + 27);
}

TEST(RenderSurface, draws_itself_whole_or_stretched_into_another_target)
{
    RenderSurface source({ 2, 2 });
    fill_rect(source.target(), 0, 0, 2, 2, ColourFillOp(0x1111));
    fill_rect(source.target(), 1, 0, 1, 2, ColourFillOp(0x2222));

    RenderSurface destination({ 6, 6 });
    fill_rect(destination.target(), 0, 0, 6, 6, ColourFillOp(0));
    {
        ClipScope scope(destination.target(), { 0, 0, 6, 3 });
        source.draw_onto(destination.target(), { 4, 2 }, copy_op());
    }
    PixelBuffer const& d = *destination.buffer();
    EXPECT_EQ(d.at(4, 2), 0x1111);
    EXPECT_EQ(d.at(5, 2), 0x2222);
    EXPECT_EQ(d.at(4, 3), 0) << "below the clip";

    source.draw_scaled_onto(destination.target(), { 0, 0 }, { 4, 2 }, copy_op());
    EXPECT_EQ(d.at(1, 1), 0x1111);
    EXPECT_EQ(d.at(2, 1), 0x2222);
    EXPECT_EQ(d.at(3, 0), 0x2222);

    RenderSurface empty;
    empty.draw_onto(destination.target(), { 0, 0 }, copy_op());
    empty.draw_scaled_onto(destination.target(), { 0, 0 }, { 6, 6 }, copy_op());
    EXPECT_EQ(d.at(5, 5), 0);
}

TEST(RenderSurfaceDeath, resizing_while_a_clip_is_pushed_is_fatal)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            RenderSurface surface({ 4, 4 });
            ClipScope scope(surface.target(), { 0, 0, 2, 2 });
            surface.recreate({ 5, 5 });
        },
        ::testing::ExitedWithCode(1), "");
    EXPECT_EXIT(
        {
            RenderSurface surface({ 4, 4 });
            ClipScope scope(surface.target(), { 0, 0, 2, 2 });
            surface.release();
        },
        ::testing::ExitedWithCode(1), "");
}
