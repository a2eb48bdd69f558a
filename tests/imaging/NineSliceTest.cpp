#include "imaging/Density.h"
#include "imaging/NineSlice.h"
#include "imaging/Picture.h"
#include "imaging/PixelOp.h"
#include "imaging/Resample.h"
#include "MarkedPixels.h"

#include <gtest/gtest.h>

#include <random>

using namespace qv;

namespace {

using test::blank;
using test::kBlank;
using test::mark;

std::shared_ptr<BitmapPicture> marked_picture(int w, int h)
{
    return std::make_shared<BitmapPicture>(u"marked", test::marked_source(w, h));
}

NineSliceGrid grid_1d(int o0, int i0, int i1, int o1) { return { { o0, 0 }, { i0, 0 }, { i1, 1 }, { o1, 1 } }; }

std::vector<std::uint16_t> row_of(PixelBuffer const& b, int y)
{
    return std::vector<std::uint16_t>(b.row(y), b.row(y) + b.width());
}

std::vector<std::uint16_t> columns(std::initializer_list<int> xs)
{
    std::vector<std::uint16_t> out;
    for (int x : xs)
        out.push_back(x < 0 ? kBlank : mark(x, 0));
    return out;
}

}

TEST(NineSlice, borders_that_do_not_fit_are_shrunk_around_one_centre_pixel)
{
    // A 10-pixel region with 4-pixel borders and a 2-pixel centre.
    AxisRuns six = split_axis(0, 4, 6, 10, 6, 0, 6);
    EXPECT_EQ(six.start_length, 3);
    EXPECT_EQ(six.centre_length, 1);
    EXPECT_EQ(six.end_length, 2);
    EXPECT_EQ(six.end_source, 8);

    AxisRuns twenty = split_axis(0, 4, 6, 10, 20, 0, 20);
    EXPECT_EQ(twenty.start_length, 4);
    EXPECT_EQ(twenty.centre_length, 12);
    EXPECT_EQ(twenty.end_length, 4);
    EXPECT_EQ(twenty.end_source, 6);

    AxisRuns clipped = split_axis(0, 4, 6, 10, 20, 5, 20);
    EXPECT_EQ(clipped.start_length, 0);
    EXPECT_EQ(clipped.centre_length, 11);
    EXPECT_EQ(clipped.centre_phase, 1);
    EXPECT_EQ(clipped.end_length, 4);

    // Both borders at least half the length: L / 2 and (L - 1) / 2.
    for (int length : { 1, 2, 7, 8 }) {
        AxisRuns r = split_axis(0, 10, 10, 20, length, 0, length);
        EXPECT_EQ(r.start_length, length / 2);
        EXPECT_EQ(r.end_length, (length - 1) / 2);
        EXPECT_EQ(r.centre_length, 1);
    }
}

TEST(NineSlice, runs_cover_the_visible_part_and_stay_inside_their_borders)
{
    std::mt19937 random(7);
    for (int i = 0; i < 20000; ++i) {
        int b1 = random() % 12, centre = random() % 5, b2 = random() % 12;
        int o0 = random() % 3;
        int length = 1 + random() % 40;
        int begin = random() % length;
        int end = begin + 1 + random() % (length - begin);
        AxisRuns r = split_axis(o0, o0 + b1, o0 + b1 + centre, o0 + b1 + centre + b2, length, begin, end);
        ASSERT_GE(r.start_length, 0);
        ASSERT_GE(r.centre_length, 0);
        ASSERT_GE(r.end_length, 0);
        ASSERT_EQ(r.start_length + r.centre_length + r.end_length, end - begin);
        ASSERT_GE(r.start_source, o0);
        ASSERT_LE(r.start_source + r.start_length, o0 + b1);
        ASSERT_GE(r.end_source, o0 + b1 + centre);
        ASSERT_LE(r.end_source + r.end_length, o0 + b1 + centre + b2);
        ASSERT_TRUE(centre == 0 ? r.centre_phase == 0 : r.centre_phase < centre);
    }
}

TEST(BitmapPictureDraw, borders_stay_and_the_centre_repeats_its_source)
{
    auto picture = marked_picture(10, 1);
    auto d = blank(20, 1);
    DrawTarget target(d.get());
    picture->draw(target, { 0, 0 }, { 6, 1 }, grid_1d(0, 4, 6, 10), copy_op());
    EXPECT_EQ(row_of(*d, 0), columns({ 0, 1, 2, 4, 8, 9, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1 }));

    picture->draw(target, { 0, 0 }, { 20, 1 }, grid_1d(0, 4, 6, 10), copy_op());
    EXPECT_EQ(row_of(*d, 0), columns({ 0, 1, 2, 3, 4, 5, 4, 5, 4, 5, 4, 5, 4, 5, 4, 5, 6, 7, 8, 9 }));

    auto e = blank(20, 1);
    DrawTarget clipped(e.get());
    ClipScope scope(clipped, { 5, 0, 20, 1 });
    picture->draw(clipped, { 0, 0 }, { 20, 1 }, grid_1d(0, 4, 6, 10), copy_op());
    EXPECT_EQ(row_of(*e, 0), columns({ -1, -1, -1, -1, -1, 5, 4, 5, 4, 5, 4, 5, 4, 5, 4, 5, 6, 7, 8, 9 }));
}

TEST(BitmapPictureDraw, a_clipped_draw_is_the_unclipped_one_cut_out)
{
    auto picture = marked_picture(9, 8);
    NineSliceGrid grid { { 1, 0 }, { 3, 2 }, { 6, 5 }, { 9, 8 } };
    std::mt19937 random(11);
    for (int i = 0; i < 300; ++i) {
        int w = 1 + random() % 24, h = 1 + random() % 24;
        auto full = blank(30, 30);
        DrawTarget full_target(full.get());
        picture->draw(full_target, { 2, 3 }, { w, h }, grid, key_copy_op());

        Rect clip { static_cast<int>(random() % 30), static_cast<int>(random() % 30), 0, 0 };
        clip.right = clip.left + static_cast<int>(random() % 30);
        clip.bottom = clip.top + static_cast<int>(random() % 30);
        auto part = blank(30, 30);
        DrawTarget part_target(part.get());
        ClipScope scope(part_target, clip);
        picture->draw(part_target, { 2, 3 }, { w, h }, grid, key_copy_op());
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 30; ++x) {
                bool visible = x >= clip.left && x < clip.right && y >= clip.top && y < clip.bottom;
                ASSERT_EQ(part->at(x, y), visible ? full->at(x, y) : kBlank)
                    << "size " << w << "x" << h << " pixel " << x << "," << y;
            }
    }
}

// A 16 x 16 frame with 4-pixel borders, each of the nine parts its own
// colour, as the skin store loads it for a screen of 1.25, 1.75 or 3.25:
// resampled to scale_length of its size with the grid scaled alike. Drawn
// at any size, it fills the target exactly, with each border as wide as its
// scaled grid says and the part colours meeting with no gap or blend.
TEST(BitmapPictureDraw, a_frame_at_a_fractional_scale_covers_its_target_exactly)
{
    auto part_colour = [](int column, int row) { return static_cast<std::uint16_t>(0x0841 * 3 * (1 + column + 3 * row)); };
    auto part_of = [](int at, int border, int inner_end) { return at < border ? 0 : at < inner_end ? 1 : 2; };
    auto frame = PixelBuffer::create(16, 16);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            frame->at(x, y) = part_colour(part_of(x, 4, 12), part_of(y, 4, 12));
    for (std::int32_t quarters : { 5, 7, 13 }) {
        std::int32_t const side = scale_length(16, quarters);
        std::int32_t const border = scale_length(4, quarters);
        std::int32_t const inner_end = scale_length(12, quarters);
        PictureRef ref;
        picture_from_buffer(ref, resample_keyed(*frame, { side, side }));
        ref.grid.inner_start = { border, border };
        ref.grid.inner_end = { inner_end, inner_end };
        ASSERT_EQ(ref.size(), (Size { side, side }));
        for (Size target_size : { Size { side, side }, Size { 61, 45 }, Size { 2 * side + 3, side + 1 } }) {
            auto d = blank(80, 60);
            DrawTarget target(d.get());
            Point const at { 3, 2 };
            ref.draw(target, at, target_size, copy_op());
            std::int32_t const far_border = side - inner_end;
            for (int y = 0; y < 60; ++y) {
                for (int x = 0; x < 80; ++x) {
                    int const dx = x - at.x, dy = y - at.y;
                    bool const inside = dx >= 0 && dy >= 0 && dx < target_size.width && dy < target_size.height;
                    std::uint16_t const want = inside
                        ? part_colour(part_of(dx, border, target_size.width - far_border),
                              part_of(dy, border, target_size.height - far_border))
                        : kBlank;
                    ASSERT_EQ(d->at(x, y), want) << "scale " << quarters / 4.0 << " size " << target_size.width << "x"
                                                 << target_size.height << " pixel " << dx << "," << dy;
                }
            }
        }
    }
}

TEST(BitmapPictureDraw, an_empty_centre_range_draws_nothing_in_the_centre)
{
    auto picture = marked_picture(4, 1);
    auto d = blank(10, 1);
    DrawTarget target(d.get());
    picture->draw(target, { 0, 0 }, { 10, 1 }, grid_1d(0, 2, 2, 4), copy_op());
    EXPECT_EQ(row_of(*d, 0), columns({ 0, 1, -1, -1, -1, -1, -1, -1, 2, 3 }));
}

TEST(BitmapPictureDraw, a_grid_reaching_outside_the_picture_draws_nothing)
{
    auto picture = marked_picture(4, 4);
    auto d = blank(10, 10);
    DrawTarget target(d.get());
    NineSliceGrid too_wide { { 0, 0 }, { 1, 1 }, { 3, 3 }, { 5, 4 } };
    NineSliceGrid out_of_order { { 0, 0 }, { 3, 1 }, { 2, 3 }, { 4, 4 } };
    NineSliceGrid negative { { -1, 0 }, { 1, 1 }, { 3, 3 }, { 4, 4 } };
    for (auto const& grid : { too_wide, out_of_order, negative })
        picture->draw(target, { 0, 0 }, { 10, 10 }, grid, copy_op());
    picture->draw(target, { 0, 0 }, { 10, 10 }, { { 0, 0 }, { 1, 1 }, { 3, 3 }, { 4, 4 } }, copy_op());
    EXPECT_EQ(d->at(9, 9), mark(3, 3)) << "a grid inside the picture draws";
    d = blank(10, 10);
    DrawTarget again(d.get());
    for (auto const& grid : { too_wide, out_of_order, negative })
        picture->draw(again, { 0, 0 }, { 10, 10 }, grid, copy_op());
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x)
            ASSERT_EQ(d->at(x, y), kBlank);
}

TEST(Picture, make_red_keeps_red_the_solid_flag_and_the_key)
{
    auto buffer = PixelBuffer::create(4, 1);
    std::uint16_t in[4] = { 0xF81F, 0xFFFF, 0x07E0, 0x1214 };
    std::copy(in, in + 4, buffer->pixels());
    BitmapPicture picture(u"p", std::move(buffer));
    picture.make_red();
    std::uint16_t const* out = picture.buffer()->pixels();
    EXPECT_EQ(out[0], 0xF81F);
    EXPECT_EQ(out[1], 0xF800 | 0x0020);
    EXPECT_EQ(out[2], 0x0020);
    EXPECT_EQ(out[3], 0x1000);
}

TEST(Picture, a_new_reference_is_empty_and_draws_nothing)
{
    PictureRef ref;
    EXPECT_TRUE(ref.is_empty());
    EXPECT_EQ(ref.size(), (Size { 0, 0 }));
    EXPECT_EQ(ref.picture->name(), u"");
    auto d = blank(4, 4);
    DrawTarget target(d.get());
    ref.draw(target, { 0, 0 }, { 4, 4 }, copy_op());
    ref.picture->make_red();
    EXPECT_EQ(d->at(0, 0), kBlank);
    EXPECT_EQ(PictureRef {}.picture, ref.picture) << "one empty picture shared by all";
}

TEST(Picture, picture_from_buffer_covers_the_whole_buffer)
{
    PictureRef ref;
    ref.grid.inner_start = { 2, 2 };
    BitmapPicture* created = picture_from_buffer(ref, PixelBuffer::create(7, 5));
    ASSERT_TRUE(created);
    EXPECT_EQ(ref.picture.get(), created);
    EXPECT_EQ(ref.size(), (Size { 7, 5 }));
    EXPECT_EQ(ref.grid.outer_start, (Point { 0, 0 }));
    EXPECT_EQ(ref.grid.inner_start, (Point { 0, 0 }));
    EXPECT_EQ(ref.grid.inner_end, (Point { 7, 5 }));
    EXPECT_EQ(ref.grid.outer_end, (Point { 7, 5 }));
    EXPECT_EQ(created->name(), u"");
}
