#include "imaging/PixelOp.h"
#include "MarkedPixels.h"

#include <gtest/gtest.h>

#include <vector>

using namespace qv;

namespace {

using test::blank;
using test::kBlank;
using test::mark;
using test::marked_source;

int changed_pixels(PixelBuffer const& b)
{
    int n = 0;
    for (int y = 0; y < b.height(); ++y)
        for (int x = 0; x < b.width(); ++x)
            n += b.at(x, y) != kBlank;
    return n;
}

Rect whole(PixelBuffer const& b) { return { 0, 0, b.width(), b.height() }; }

// Remembers the row index each span call was given.
class RowRecorder final : public RuleOp<rule::Copy> {
public:
    mutable std::vector<int> rows;
    void span(std::uint16_t* first, std::uint16_t* last, std::uint16_t const* source, std::int32_t row) const override
    {
        rows.push_back(row);
        RuleOp::span(first, last, source, row);
    }
};

}

TEST(PixelBuffer, rows_are_padded_to_four_bytes)
{
    auto three = PixelBuffer::create(3, 2);
    ASSERT_TRUE(three);
    EXPECT_EQ(three->pitch(), 8);
    EXPECT_TRUE(three->owns_pixels());
    EXPECT_EQ(reinterpret_cast<std::uint8_t*>(&three->at(1, 1)) - reinterpret_cast<std::uint8_t*>(three->pixels()), 8 + 2);
    EXPECT_EQ(PixelBuffer::create(4, 1)->pitch(), 8);
    EXPECT_EQ(PixelBuffer::create(1, 1)->pitch(), 4);
    EXPECT_FALSE(PixelBuffer::create(-1, 5));
    EXPECT_FALSE(PixelBuffer::create(100000, 100000));

    std::uint16_t memory[12] = {};
    auto wrapped = PixelBuffer::wrap(2, 2, 12, memory);
    EXPECT_FALSE(wrapped->owns_pixels());
    EXPECT_EQ(&wrapped->at(1, 1), memory + 7);
}

TEST(CopyRect, a_source_rectangle_leaving_the_source_is_refused_whole)
{
    auto source = marked_source(8, 4);
    auto d = blank(16, 16);
    copy_rect(*d, 0, 0, 8, 4, *source, 1, 0, whole(*d), copy_op());
    copy_rect(*d, 0, 0, 4, 4, *source, 0, 1, whole(*d), copy_op());
    copy_rect(*d, 0, 0, 4, 4, *source, -1, 0, whole(*d), copy_op());
    copy_rect(*d, 0, 0, 0, 4, *source, 0, 0, whole(*d), copy_op());
    EXPECT_EQ(changed_pixels(*d), 0);

    copy_rect(*d, 0, 0, 8, 4, *source, 0, 0, whole(*d), copy_op());
    EXPECT_EQ(changed_pixels(*d), 32);
    EXPECT_EQ(d->at(7, 3), mark(7, 3));
}

TEST(CopyRect, straddling_the_clip_draws_from_the_matching_inner_source_pixel)
{
    auto source = marked_source(6, 6);
    auto d = blank(20, 20);
    Rect clip { 5, 4, 9, 8 };
    copy_rect(*d, 3, 2, 6, 6, *source, 0, 0, clip, copy_op());
    EXPECT_EQ(changed_pixels(*d), 4 * 4);
    EXPECT_EQ(d->at(5, 4), mark(2, 2));
    EXPECT_EQ(d->at(8, 7), mark(5, 5));
    EXPECT_EQ(d->at(4, 4), kBlank);

    // Wholly left of or above the clip: nothing.
    auto e = blank(20, 20);
    copy_rect(*e, -1, 4, 6, 6, *source, 0, 0, clip, copy_op());
    copy_rect(*e, 5, -2, 6, 6, *source, 0, 0, clip, copy_op());
    EXPECT_EQ(changed_pixels(*e), 0);
}

TEST(CopyRect, the_clip_is_limited_to_the_destination_and_rows_count_from_the_clipped_top)
{
    auto source = marked_source(10, 10);
    auto d = blank(4, 3);
    RowRecorder recorder;
    copy_rect(*d, -3, -5, 10, 10, *source, 0, 0, Rect { -100, -100, 100, 100 }, recorder);
    EXPECT_EQ(changed_pixels(*d), 12);
    EXPECT_EQ(d->at(0, 0), mark(3, 5));
    EXPECT_EQ(d->at(3, 2), mark(6, 7));
    EXPECT_EQ(recorder.rows, (std::vector<int> { 0, 1, 2 }));
}

TEST(FillRect, fills_only_the_clipped_rectangle)
{
    auto d = blank(10, 10);
    ColourFillOp red(0xF800);
    fill_rect(*d, 2, 2, 0, 5, whole(*d), red);
    fill_rect(*d, 2, 2, 5, -1, whole(*d), red);
    EXPECT_EQ(changed_pixels(*d), 0);
    fill_rect(*d, -4, 8, 7, 7, whole(*d), red);
    EXPECT_EQ(changed_pixels(*d), 3 * 2);
    EXPECT_EQ(d->at(2, 9), 0xF800);
    EXPECT_EQ(d->at(3, 9), kBlank);
}

TEST(StretchRect, halving_takes_every_second_pixel_and_doubling_repeats_each)
{
    auto wide = marked_source(100, 1);
    auto d = blank(100, 1);
    stretch_rect(*d, 0, 0, 50, 1, *wide, 0, 0, 100, 1, whole(*d), copy_op());
    for (int x = 0; x < 50; ++x)
        ASSERT_EQ(d->at(x, 0), mark(2 * x, 0)) << x;
    EXPECT_EQ(d->at(50, 0), kBlank);

    auto narrow = marked_source(50, 1);
    stretch_rect(*d, 0, 0, 100, 1, *narrow, 0, 0, 50, 1, whole(*d), copy_op());
    for (int x = 0; x < 100; ++x)
        ASSERT_EQ(d->at(x, 0), mark(x / 2, 0)) << x;
}

TEST(StretchRect, each_axis_has_its_own_step_and_clipping_advances_the_start)
{
    auto source = marked_source(6, 2);
    auto d = blank(8, 8);
    // 6 -> 3 across (step 2048), 2 -> 6 down (step 341).
    stretch_rect(*d, 0, 0, 3, 6, *source, 0, 0, 6, 2, whole(*d), copy_op());
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 3; ++x)
            ASSERT_EQ(d->at(x, y), mark(2 * x, y * 341 >> 10)) << x << "," << y;

    auto e = blank(8, 8);
    stretch_rect(*e, -1, -2, 3, 6, *source, 0, 0, 6, 2, whole(*e), copy_op());
    EXPECT_EQ(changed_pixels(*e), 2 * 4);
    EXPECT_EQ(e->at(0, 0), mark(2, 2 * 341 >> 10));
    EXPECT_EQ(e->at(1, 3), mark(4, 5 * 341 >> 10));
}

TEST(StretchRect, refuses_sources_outside_the_source_and_empty_ones)
{
    auto source = marked_source(6, 2);
    auto d = blank(8, 8);
    stretch_rect(*d, 0, 0, 4, 4, *source, 1, 0, 6, 2, whole(*d), copy_op());
    stretch_rect(*d, 0, 0, 4, 4, *source, 6, 0, 0, 2, whole(*d), copy_op());
    stretch_rect(*d, 0, 0, 4, 4, *source, 0, 2, 6, 0, whole(*d), copy_op());
    EXPECT_EQ(changed_pixels(*d), 0);
}

TEST(DrawTarget, clip_scopes_narrow_and_restore_innermost_first)
{
    auto buffer = blank(10, 10);
    DrawTarget target(buffer.get());
    EXPECT_EQ(target.clip(), (Rect { 0, 0, 10, 10 }));
    EXPECT_FALSE(target.has_pushed_clip());
    {
        ClipScope outer(target, { 2, 2, 20, 6 });
        EXPECT_EQ(target.clip(), (Rect { 2, 2, 10, 6 }));
        {
            ClipScope inner(target, { 0, 4, 5, 5 });
            EXPECT_EQ(target.clip(), (Rect { 2, 4, 5, 5 }));
            fill_rect(target, 0, 0, 10, 10, ColourFillOp(0));
            EXPECT_EQ(changed_pixels(*buffer), 3);
        }
        EXPECT_EQ(target.clip(), (Rect { 2, 2, 10, 6 }));
        EXPECT_TRUE(target.has_pushed_clip());
    }
    EXPECT_EQ(target.clip(), (Rect { 0, 0, 10, 10 }));
    EXPECT_FALSE(target.has_pushed_clip());
}
