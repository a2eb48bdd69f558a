#include "skin/TextLayout.h"

#include <gtest/gtest.h>

#include <vector>

using namespace qv;

namespace {

// Every character 10 pixels wide except line feeds (no room); a '.' of the
// ellipsis is 2 wide, so "..." takes 6.
std::vector<int> advances_of(WStringView text)
{
    std::vector<int> widths;
    for (char16_t c : text)
        widths.push_back(c == u'\n' || c == u'\r' ? 0 : 10);
    return widths;
}

TextBox box(int width, int height, HAlign h = HAlign::Left, VAlign v = VAlign::Top,
    TextWrap wrap = TextWrap::SingleLine)
{
    return TextBox { width, height, 20, 2, h, v, wrap };
}

std::vector<TextLine> lay(WStringView text, TextBox const& b)
{
    std::vector<TextLine> lines;
    auto widths = advances_of(text);
    layout_text(text, widths, b, lines);
    return lines;
}

}

TEST(TextLayout, alignment_names_are_exact_and_default_to_centre)
{
    EXPECT_EQ(halign_from_name(u"LEFT"), HAlign::Left);
    EXPECT_EQ(halign_from_name(u"RIGHT"), HAlign::Right);
    EXPECT_EQ(halign_from_name(u"JUSTIFY"), HAlign::Justify);
    EXPECT_EQ(halign_from_name(u"left"), HAlign::Center);
    EXPECT_EQ(halign_from_name(u""), HAlign::Center);
    EXPECT_EQ(valign_from_name(u"TOP"), VAlign::Top);
    EXPECT_EQ(valign_from_name(u"BOTTOM"), VAlign::Bottom);
    EXPECT_EQ(valign_from_name(u"Bottom"), VAlign::VCenter);
}

TEST(TextLayout, single_line_is_placed_by_both_alignments)
{
    // "abc" is 30 wide in a 100 x 50 box, one line 20 high.
    struct Case {
        HAlign h;
        VAlign v;
        int x;
        int y;
    };
    for (Case c : { Case { HAlign::Left, VAlign::Top, 0, 0 }, Case { HAlign::Center, VAlign::VCenter, 35, 15 },
             Case { HAlign::Right, VAlign::Bottom, 70, 30 }, Case { HAlign::Justify, VAlign::Top, 0, 0 } }) {
        auto lines = lay(u"abc", box(100, 50, c.h, c.v));
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].start, 0);
        EXPECT_EQ(lines[0].end, 3);
        EXPECT_FALSE(lines[0].ellipsis);
        EXPECT_EQ(lines[0].width, 30);
        EXPECT_EQ(lines[0].x, c.x);
        EXPECT_EQ(lines[0].y, c.y);
    }
}

TEST(TextLayout, single_line_taller_than_the_box_is_centred_across_it)
{
    // 20-pixel line in a 10-pixel box: centred 5 above, bottom 10 above.
    EXPECT_EQ(lay(u"a", box(100, 10, HAlign::Left, VAlign::VCenter))[0].y, -5);
    EXPECT_EQ(lay(u"a", box(100, 10, HAlign::Left, VAlign::Bottom))[0].y, -10);
}

TEST(TextLayout, single_line_wider_than_the_box_ends_in_an_ellipsis)
{
    // 45 wide: 39 left for characters after the 6 of "...": three of them.
    auto lines = lay(u"abcdefghij", box(45, 20, HAlign::Center));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].end, 3);
    EXPECT_TRUE(lines[0].ellipsis);
    EXPECT_EQ(lines[0].width, 36);
    EXPECT_EQ(lines[0].x, (45 - 36) / 2);

    // The space before the cut is not left in front of the dots.
    lines = lay(u"ab cdef", box(45, 20));
    EXPECT_EQ(lines[0].end, 2);
    EXPECT_EQ(lines[0].width, 26);

    // Exactly as wide as the box: no cut.
    lines = lay(u"abcd", box(40, 20));
    EXPECT_EQ(lines[0].end, 4);
    EXPECT_FALSE(lines[0].ellipsis);
}

TEST(TextLayout, a_box_too_narrow_for_the_dots_keeps_what_fits_without_them)
{
    auto lines = lay(u"abc", box(15, 20));
    EXPECT_EQ(lines[0].end, 0); // 6 for the dots leaves 9: no character
    EXPECT_TRUE(lines[0].ellipsis);
    EXPECT_EQ(lines[0].width, 6);

    lines = lay(u"abc", box(5, 20));
    EXPECT_EQ(lines[0].end, 0);
    EXPECT_FALSE(lines[0].ellipsis);
    EXPECT_EQ(lines[0].width, 0);
}

TEST(TextLayout, single_line_does_not_break_at_line_feeds)
{
    auto lines = lay(u"a\nb", box(100, 20));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].end, 3);
    EXPECT_EQ(lines[0].width, 20);
}

TEST(TextLayout, word_break_fills_lines_and_drops_the_spaces_at_breaks)
{
    // "aa bb" is 50 and fits 55; " cc" would make 80.
    auto lines = lay(u"aa bb cc", box(55, 100, HAlign::Right, VAlign::Top, TextWrap::WordBreak));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].start, 0);
    EXPECT_EQ(lines[0].end, 5);
    EXPECT_EQ(lines[0].width, 50);
    EXPECT_EQ(lines[0].x, 5);
    EXPECT_EQ(lines[1].start, 6);
    EXPECT_EQ(lines[1].end, 8);
    EXPECT_EQ(lines[1].x, 35);
    EXPECT_EQ(lines[1].y, 20);
}

TEST(TextLayout, wrapped_block_is_aligned_as_a_whole_and_starts_at_the_top_when_too_tall)
{
    // Two lines (40 high) in 100: centred 30 down, at the bottom 60 down.
    auto lines = lay(u"aa bb cc", box(55, 100, HAlign::Left, VAlign::VCenter, TextWrap::WordBreak));
    EXPECT_EQ(lines[0].y, 30);
    lines = lay(u"aa bb cc", box(55, 100, HAlign::Left, VAlign::Bottom, TextWrap::WordBreak));
    EXPECT_EQ(lines[0].y, 60);
    EXPECT_EQ(lines[1].y, 80);
    // Three lines (60 high) in 30: top, lines below the box are clipped.
    lines = lay(u"aaaa bbbb cccc", box(45, 30, HAlign::Left, VAlign::Bottom, TextWrap::WordBreak));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].y, 0);
    EXPECT_EQ(lines[2].y, 40);
}

TEST(TextLayout, word_wider_than_the_line_is_cut_with_an_ellipsis)
{
    auto lines = lay(u"aaaaaaaaaa bb", box(45, 100, HAlign::Left, VAlign::Top, TextWrap::WordBreak));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].start, 0);
    EXPECT_EQ(lines[0].end, 3);
    EXPECT_TRUE(lines[0].ellipsis);
    EXPECT_EQ(lines[0].width, 36);
    EXPECT_EQ(lines[1].start, 11);
    EXPECT_EQ(lines[1].end, 13);
    EXPECT_FALSE(lines[1].ellipsis);
}

TEST(TextLayout, line_feeds_end_lines_and_empty_paragraphs_are_empty_lines)
{
    auto lines = lay(u"a\n\nb", box(100, 100, HAlign::Left, VAlign::Top, TextWrap::WordBreak));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1].start, lines[1].end);
    EXPECT_EQ(lines[2].start, 3);
    EXPECT_EQ(lines[2].y, 40);

    lines = lay(u"a\r\nb", box(100, 100, HAlign::Left, VAlign::Top, TextWrap::WordBreak));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].start, 3);
}

TEST(TextLayout, leading_spaces_indent_only_the_first_line_of_a_paragraph)
{
    auto lines = lay(u"  aa bb", box(55, 100, HAlign::Left, VAlign::Top, TextWrap::WordBreak));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].start, 0);
    EXPECT_EQ(lines[0].width, 40);
    EXPECT_EQ(lines[1].start, 5);
}

TEST(TextLayout, empty_text_has_no_lines_and_mismatched_widths_are_refused)
{
    std::vector<TextLine> lines(3);
    layout_text(u"", {}, box(100, 20), lines);
    EXPECT_TRUE(lines.empty());
    std::vector<int> too_few { 10 };
    layout_text(u"abc", too_few, box(100, 20), lines);
    EXPECT_TRUE(lines.empty());
}

TEST(TextLayout, block_extent_is_the_widest_line_by_the_line_count)
{
    auto widths = advances_of(u"ab\ncde");
    auto extent = block_extent(u"ab\ncde", widths, 20);
    EXPECT_EQ(extent.width, 30);
    EXPECT_EQ(extent.height, 40);

    widths = advances_of(u"abc\n");
    extent = block_extent(u"abc\n", widths, 20);
    EXPECT_EQ(extent.width, 30);
    EXPECT_EQ(extent.height, 20);

    extent = block_extent(u"", {}, 20);
    EXPECT_EQ(extent.width, 0);
    EXPECT_EQ(extent.height, 0);
}
