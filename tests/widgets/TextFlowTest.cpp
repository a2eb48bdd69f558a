#include "widgets/TextFlow.h"

#include <gtest/gtest.h>

using namespace qv;

namespace {

// Every character is 10 wide (the ellipsis 6), lines 12 high.
RunSize measure(WStringView text)
{
    std::int32_t width = 0;
    for (auto c : text)
        width += c == kEllipsis ? 6 : 10;
    return { width, 12 };
}

std::int32_t fit(WStringView text, std::int32_t limit)
{
    return std::min<std::int32_t>(static_cast<std::int32_t>(text.size()), limit / 10);
}

WString joined(FlowLine const& line)
{
    WString text;
    for (auto const& run : line.runs)
        text += (text.empty() ? u"" : u"|") + run.text;
    return text;
}

}

TEST(TextFlow, preparing_and_splitting_keeps_words_spacing_and_line_ends)
{
    EXPECT_EQ(prepare_text(u"a\tb\r\nc", false), u"a    b  c");
    EXPECT_EQ(prepare_text(u"a\nb", true), u"a\nb");

    auto runs = split_runs(u"\nab  c\nd", measure);
    ASSERT_EQ(runs.size(), 4u);
    EXPECT_EQ(runs[0], (TextRun { u"", 0, 12, 0, true })) << "a leading line feed is an empty line";
    EXPECT_EQ(runs[1], (TextRun { u"ab", 20, 12, 20, false }));
    EXPECT_EQ(runs[2], (TextRun { u"c", 10, 12, 0, true }));
    EXPECT_EQ(runs[3], (TextRun { u"d", 10, 12, 0, false }));
}

TEST(TextFlow, one_line_keeps_the_run_that_reaches_the_width_and_drops_the_rest)
{
    auto runs = split_runs(u"aa bb cc", measure); // 20+10, 20+10, 20
    auto line = flow_one_line(runs, 45);
    EXPECT_EQ(joined(line), u"aa|bb");
    EXPECT_EQ(line.width, 45);
    auto all = flow_one_line(runs, 200);
    EXPECT_EQ(joined(all), u"aa|bb|cc");
    EXPECT_EQ(all.width, 80);
}

TEST(TextFlow, right_alignment_shows_the_end_after_an_ellipsis)
{
    auto runs = split_runs(u"one two three", measure); // 30+10, 30+10, 50
    EXPECT_EQ(joined(flow_right(runs, 130, measure)), u"one|two|three");
    // 70 - 6 = 64 after the ellipsis: "three" (50), then 14 left, and
    // "two" + space needs 40: its tail "o" + space is 20, still too much.
    auto line = flow_right(runs, 70, measure);
    EXPECT_EQ(joined(line), u"\u2026|three");
    EXPECT_EQ(line.width, 56);
    // 6 + "wo " (30) + "three" (50) = 86.
    EXPECT_EQ(joined(flow_right(runs, 86, measure)), u"\u2026|wo|three");
    // Room for the ellipsis and part of the last word only.
    EXPECT_EQ(joined(flow_right(runs, 30, measure)), u"\u2026|ee");
    EXPECT_TRUE(flow_right(runs, 10, measure).runs.empty());
}

TEST(TextFlow, words_flow_into_lines_and_long_words_are_cut)
{
    auto runs = split_runs(u"ab cd ef abcdefgh", measure);
    auto lines = flow_words(runs, [](std::int32_t) { return 55; }, measure, fit);
    std::vector<WString> texts;
    for (auto const& line : lines)
        texts.push_back(joined(line));
    // "ab " is 30; "cd" would end at 50 (fits), "ef" at 80 does not.
    EXPECT_EQ(texts, (std::vector<WString> { u"ab|cd", u"ef", u"abcde", u"fgh" }));
    EXPECT_EQ(lines[0].height, 12);

    // A narrower band (a side part beside the first line) pushes words down.
    auto banded = flow_words(runs, [](std::int32_t y) { return y < 12 ? 25 : 200; }, measure, fit);
    ASSERT_GE(banded.size(), 2u);
    EXPECT_EQ(joined(banded[0]), u"ab");
    EXPECT_EQ(joined(banded[1]), u"cd|ef|abcdefgh");
}

TEST(TextFlow, justification_and_side_parts_share_out_exactly)
{
    // 10 spare pixels over 3 gaps: 3, 3, 4 (each k-th share rounded down).
    EXPECT_EQ(justify_gaps(4, 10), (std::vector<std::int32_t> { 3, 3, 4 }));
    EXPECT_TRUE(justify_gaps(1, 10).empty());
    // 100 / 150 * 100 + 0.5 rounds to 67, and the right part takes the rest.
    EXPECT_EQ(share_sides(100, 100, 50), (SideShare { 67, 33 }));
    EXPECT_EQ(share_sides(200, 100, 50), (SideShare { 100, 50 }));
    EXPECT_EQ(share_sides(0, 0, 0), (SideShare { 0, 0 }));
}

#include "WidgetFixture.h"
#include "widgets/TextElement.h"

TEST(TextElement, side_parts_share_a_narrow_text_in_proportion)
{
    test::LoadedForm f(R"(form Sides
    string type node
    node label
        string type text
        string anchor_x MIN_SIDE
        point design_size 100 20
        node #left
            string type node
            string anchor_x MIN_SIDE
            point design_size 100 20
        node #right
            string type node
            string anchor_x MAX_SIDE
            point design_size 50 20
)",
        u"Sides", { 100, 20 });
    auto* text = dynamic_cast<TextElement*>(f.form.find_child(u"label"));
    ASSERT_NE(text, nullptr);
    ASSERT_NE(text->left_part(), nullptr);
    ASSERT_NE(text->right_part(), nullptr);
    EXPECT_EQ(text->left_part()->size().width, 67);
    EXPECT_EQ(text->right_part()->size().width, 33);
    EXPECT_EQ(text->right_part()->position().x, 67);
    // Text delivered to the label's id reaches it through its ancestors.
    f.form.deliver_text(u"label", u"hello");
    EXPECT_EQ(text->text(), u"hello");
    f.form.deliver_text(u"other", u"ignored");
    EXPECT_EQ(text->text(), u"hello");
}

#include "skin/TextDrawing.h"
#include "widgets/TextLabel.h"

TEST(TextLabel, a_growing_label_measures_its_text_and_remeasures_when_it_changes)
{
    test::LoadedForm f(R"(form Label
    string type node
    node caption
        string type oldtext
        string anchor_x MIN_SIDE
        string anchor_y MIN_SIDE
        string text "ab"
        int grow 1
        point design_size 1 1
)",
        u"Label", { 400, 100 });
    auto* label = dynamic_cast<TextLabel*>(f.form.find_child(u"caption"));
    ASSERT_NE(label, nullptr);
    auto const short_size = measure_block(*empty_font(), u"ab");
    auto const long_size = measure_block(*empty_font(), u"ab ab ab ab");
    ASSERT_GT(long_size.width, short_size.width);
    EXPECT_EQ(label->size().width, std::max(1, short_size.width));
    EXPECT_EQ(label->height_pair().minimum, std::max(1, short_size.height));
    // The caption of a surrounding button reaches the label by its id.
    f.form.deliver_text(u"caption", u"ab ab ab ab");
    EXPECT_TRUE(f.form.layout_pending());
    f.form.place({ 400, 100 });
    EXPECT_EQ(label->size().width, long_size.width);
}

TEST(TextFlow, a_path_too_long_keeps_its_start_and_its_last_part)
{
    // Fits whole: unchanged.
    EXPECT_EQ(elide_path(u"Autumn/contents", 150, measure), u"Autumn/contents");
    // "Autumn/contents/images" is 220; 150 leaves 150 - 6 - 70 ("/images")
    // = 74 for the start: 7 characters.
    EXPECT_EQ(elide_path(u"Autumn/contents/images", 150, measure), u"Autumn/\u2026/images");
    EXPECT_EQ(elide_path(u"Autumn/contents/images", 160, measure), u"Autumn/c\u2026/images");
    // Namesakes stay apart as long as their start fits.
    EXPECT_NE(elide_path(u"Autumn/contents/images", 120, measure), elide_path(u"Autumn/contents", 120, measure));
    // The last part alone does not fit: the end after the ellipsis.
    EXPECT_EQ(elide_path(u"a/abcdefghij", 66, measure), u"\u2026efghij");
    // No "/": the start, then the ellipsis.
    EXPECT_EQ(elide_path(u"Holidays in Spain", 100, measure), u"Holidays \u2026");
}
