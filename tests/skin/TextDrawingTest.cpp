#include "FakeFontEngine.h"

#include "imaging/DrawTarget.h"
#include "imaging/PixelBuffer.h"
#include "imaging/PixelRules.h"
#include "skin/FontRep.h"
#include "skin/GlyphBlend.h"
#include "skin/TextDrawing.h"
#include "skin/TextMarkOp.h"

#include <gtest/gtest.h>

using namespace qv;
using qv::test::FakeFontEngine;

namespace {

constexpr std::uint16_t kGrey = 0x8410; // no solid flag
constexpr TextColour kWhite { 255, 255, 255 };

struct Canvas {
    std::unique_ptr<PixelBuffer> buffer;
    DrawTarget target;

    Canvas(int w, int h, std::uint16_t fill)
        : buffer(PixelBuffer::create(w, h))
        , target(buffer.get())
    {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                buffer->at(x, y) = fill;
    }
    std::uint16_t at(int x, int y) const { return buffer->at(x, y); }
};

FontDescription twelve()
{
    FontDescription d;
    d.size = 12;
    return d;
}

// The fake font's glyphs are boxes 3 wide and 8 high on a 4-pixel advance,
// the baseline 8 rows below the line's top: character k of a left-aligned
// top line inks block columns 4k..4k+2, rows 0..7.
bool inked(int block_column, int block_row, int characters)
{
    int const k = block_column / 4;
    return k < characters && block_column % 4 != 3 && block_row < 8;
}

}

TEST(TextDrawing, black_text_on_black_changes_no_pixel_and_sets_no_solid_flag)
{
    FakeFontEngine engine;
    FontRep font(twelve(), engine);
    Canvas canvas(40, 20, 0x0000);
    draw_text(font, canvas.target, TextColour { 0, 0, 0 }, u"Hello", { 2, 2 }, { 30, 12 }, HAlign::Center,
        VAlign::VCenter, TextWrap::SingleLine);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 40; ++x)
            ASSERT_EQ(canvas.at(x, y), 0x0000) << x << "," << y;
}

TEST(TextDrawing, inked_pixels_take_the_colour_and_the_solid_flag_others_stay)
{
    FakeFontEngine engine;
    FontRep font(twelve(), engine);
    Canvas canvas(40, 20, kGrey);
    draw_text(font, canvas.target, TextColour { 255, 0, 0 }, u"ab", { 3, 4 }, { 20, 10 }, HAlign::Left,
        VAlign::Top, TextWrap::SingleLine);
    for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 40; ++x) {
            bool in_block = x >= 3 && x < 23 && y >= 4 && y < 14;
            bool ink = in_block && inked(x - 3, y - 4, 2);
            ASSERT_EQ(canvas.at(x, y), ink ? (0xF800 | kSolidFlag) : kGrey) << x << "," << y;
        }
    }
}

TEST(TextDrawing, block_left_of_the_buffer_copies_back_only_its_visible_part)
{
    FakeFontEngine engine;
    FontRep font(twelve(), engine);
    Canvas canvas(40, 20, kGrey);
    // Block columns 0..19 land on buffer columns -5..14.
    draw_text(font, canvas.target, kWhite, u"abcd", { -5, 0 }, { 20, 10 }, HAlign::Left, VAlign::Top,
        TextWrap::SingleLine);
    for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 40; ++x) {
            bool ink = x < 15 && y < 10 && inked(x + 5, y, 4);
            ASSERT_EQ(canvas.at(x, y), ink ? 0xFFFF : kGrey) << x << "," << y;
        }
    }
}

TEST(TextDrawing, block_is_limited_to_the_buffer_and_the_clip_rectangles)
{
    FakeFontEngine engine;
    FontRep font(twelve(), engine);

    // A given clip: only columns 4..7 of the block.
    Canvas clipped(40, 20, kGrey);
    draw_text(font, clipped.target, kWhite, u"abcd", { 0, 0 }, { 20, 10 }, HAlign::Left, VAlign::Top,
        TextWrap::SingleLine, Point { 4, 0 }, Size { 4, 20 });
    for (int x = 0; x < 40; ++x) {
        bool ink = x >= 4 && x < 8 && inked(x, 0, 4);
        EXPECT_EQ(clipped.at(x, 0), ink ? 0xFFFF : kGrey) << x;
    }

    // The target's own clip.
    Canvas scoped(40, 20, kGrey);
    {
        ClipScope clip(scoped.target, Rect { 0, 0, 6, 20 });
        draw_text(font, scoped.target, kWhite, u"abcd", { 0, 0 }, { 20, 10 }, HAlign::Left, VAlign::Top,
            TextWrap::SingleLine);
    }
    for (int x = 0; x < 40; ++x)
        EXPECT_EQ(scoped.at(x, 0), x < 6 && inked(x, 0, 4) ? 0xFFFF : kGrey) << x;

    // Past the bottom right corner: the part inside is drawn, nothing
    // written outside the buffer (the sanitiser build would see it).
    Canvas corner(10, 10, kGrey);
    draw_text(font, corner.target, kWhite, u"abcd", { 4, 6 }, { 20, 10 }, HAlign::Left, VAlign::Top,
        TextWrap::SingleLine);
    EXPECT_EQ(corner.at(4, 6), 0xFFFF);
    EXPECT_EQ(corner.at(9, 9), 0xFFFF);
    EXPECT_EQ(corner.at(3, 6), kGrey);
}

TEST(TextDrawing, a_target_without_buffer_or_an_empty_box_draws_nothing)
{
    FakeFontEngine engine;
    FontRep font(twelve(), engine);
    DrawTarget nothing;
    draw_text(font, nothing, kWhite, u"abc", { 0, 0 }, { 20, 10 }, HAlign::Left, VAlign::Top,
        TextWrap::SingleLine);
    Canvas canvas(10, 10, kGrey);
    draw_text(font, canvas.target, kWhite, u"abc", { 0, 0 }, { 0, 10 }, HAlign::Left, VAlign::Top,
        TextWrap::SingleLine);
    draw_text(font, canvas.target, kWhite, u"abc", { 12, 0 }, { 10, 10 }, HAlign::Left, VAlign::Top,
        TextWrap::SingleLine);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x)
            ASSERT_EQ(canvas.at(x, y), kGrey);
}

TEST(TextDrawing, wrapped_text_and_underline_are_drawn_where_laid_out)
{
    FakeFontEngine engine;
    auto d = twelve();
    d.underline = true;
    FontRep font(d, engine);
    Canvas canvas(20, 30, kGrey);
    // "ab cd" in 12 columns: "ab" on the first line, "cd" on the second
    // (10 rows down); each underlined one row below its baseline across
    // its width (8 columns).
    draw_text(font, canvas.target, kWhite, u"ab cd", { 0, 0 }, { 12, 30 }, HAlign::Left, VAlign::Top,
        TextWrap::WordBreak);
    for (int line = 0; line < 2; ++line) {
        int const top = line * 10;
        for (int x = 0; x < 12; ++x) {
            EXPECT_EQ(canvas.at(x, top + 2), inked(x, 2, 2) ? 0xFFFF : kGrey) << line << "," << x;
            EXPECT_EQ(canvas.at(x, top + 9), x < 8 ? 0xFFFF : kGrey) << line << "," << x;
        }
    }
}

TEST(TextDrawing, a_growing_block_replaces_a_scratch_surface_too_small_in_either_side)
{
    FakeFontEngine engine;
    FontRep font(twelve(), engine);
    Canvas canvas(200, 100, kGrey);
    draw_text(font, canvas.target, kWhite, u"a", { 0, 0 }, { 100, 10 }, HAlign::Left, VAlign::Top,
        TextWrap::SingleLine);
    draw_text(font, canvas.target, kWhite, u"a", { 0, 20 }, { 10, 60 }, HAlign::Left, VAlign::Bottom,
        TextWrap::SingleLine);
    // Bottom-aligned in 60 rows: the 10-row line starts at row 50, its
    // glyph covers the 8 rows above the 2 of the descent.
    EXPECT_EQ(canvas.at(0, 20 + 49), kGrey);
    EXPECT_EQ(canvas.at(0, 20 + 50), 0xFFFF);
    EXPECT_EQ(canvas.at(0, 20 + 57), 0xFFFF);
    EXPECT_EQ(canvas.at(0, 20 + 58), kGrey);
}

TEST(TextMarkOp, marks_changed_pixels_in_every_span_form)
{
    std::uint16_t const source[4] = { 0x1234, 0x0000, 0xFFDF, 0x8410 };
    std::uint16_t const before[4] = { 0x1234, 0x0001, 0xFFDF, 0x8400 };
    // Changed pixels (1 and 3) get the flag; unchanged ones stay exact.
    std::uint16_t const expected[4] = { 0x1234, 0x0020, 0xFFDF, 0x8430 };
    auto const& op = text_mark_op();

    std::uint16_t d[4];
    std::copy(before, before + 4, d);
    op.span(d, d + 4, source, 0);
    EXPECT_TRUE(std::equal(d, d + 4, expected));

    std::copy(before, before + 4, d);
    op.scaled_span(d, d + 4, source, 0, 1024, 0);
    EXPECT_TRUE(std::equal(d, d + 4, expected));

    std::copy(before, before + 4, d);
    op.shifted_span(d, source, 0, 4, 0);
    EXPECT_TRUE(std::equal(d, d + 4, expected));

    std::copy(before, before + 4, d);
    op.wrapped_span(d, source, 0, 4, 0, 0, 4);
    EXPECT_TRUE(std::equal(d, d + 4, expected));

    std::copy(before, before + 4, d);
    op.clone()->span(d, d + 4, source, 0);
    EXPECT_TRUE(std::equal(d, d + 4, expected));
}

TEST(GlyphBlend, coverage_moves_each_channel_toward_the_colour)
{
    EXPECT_EQ(blend_coverage(0x8410, 0xFFFF, 0), 0x8410);
    EXPECT_EQ(blend_coverage(0x8410, 0x0000, 255), 0x0000);
    EXPECT_EQ(blend_coverage(0x0000, 0xFFFF, 255), 0xFFFF);
    // Half coverage of white over black: about half of each channel
    // (31 -> 15, 63 -> 31).
    EXPECT_EQ(blend_coverage(0x0000, 0xFFFF, 128), (15 << 11) | (31 << 5) | 15);
    // Faint coverage moves nothing either way.
    EXPECT_EQ(blend_coverage(0xFFFF, 0x0000, 1), 0xFFFF);
    EXPECT_EQ(blend_coverage(0x0000, 0xFFFF, 1), 0x0000);
    // Same colour: unchanged at any coverage.
    for (int a = 0; a < 256; ++a)
        ASSERT_EQ(blend_coverage(0x8410, 0x8410, std::uint8_t(a)), 0x8410);
}
