#include "WidgetFixture.h"

#include "widgets/ScrollText.h"

#include <string>

using namespace qv;
using test::LoadedForm;

namespace {

// A page like the about screen: a back button, the title block, and the
// description between two spacers in a column.
std::string page(std::string const& text)
{
    return R"(form Page
    string type node
    node btnBack
        string type button
        string anchor_x MIN_SIDE
        string anchor_y MIN_SIDE
        point design_size 20 20
    node content
        string type vtable
        point border_min 0 24
        node
            string type node
            int table_ratio 1
        node logo
            string type node
            point design_size 0 30
        node text
            string type scrolltext
            point border_min 10 4
            point border_max 10 0
            point design_size 0 20
            font font 9 0 0 0 DejaVu Sans
            color color 142 152 164
            string text )"
        + text + R"(
        node
            string type node
            int table_ratio 1
)";
}

std::string words(int count)
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text += (i ? " " : "") + std::string("word") + std::to_string(i);
    return text;
}

struct Page {
    LoadedForm loaded;
    ScrollTextElement& text;

    Page(std::string const& source, Size size)
        : loaded(page(source), u"Page", size)
        , text(dynamic_cast<ScrollTextElement&>(loaded.child(u"text")))
    {
        loaded.form.enable_keyboard_focus();
    }

    // Long enough for any scroll in flight to come to rest.
    void settle()
    {
        for (int i = 0; i < 200; ++i)
            loaded.form.advance(0.02);
    }

    bool key(Key k) { return text.on_focus_key(KeyInput { k, true, true }); }

    void pen(bool down, std::int32_t y, std::uint32_t tick)
    {
        loaded.form.on_pointer_button(PointerEvent { Point { 60, y }, tick, down, false });
    }
    void move(std::int32_t y, std::uint32_t tick) { loaded.form.on_pointer_move(PointerEvent { Point { 60, y }, tick, true, false }); }
};

}

TEST(ScrollText, a_short_text_takes_its_whole_height_centred_and_never_scrolls)
{
    Page p("A photo album.", { 240, 320 });
    ASSERT_GT(p.text.content_height(), 0);
    EXPECT_EQ(p.text.size().height, std::max(20, p.text.content_height()));
    EXPECT_EQ(p.text.max_scroll(), 0);
    EXPECT_FALSE(p.text.focusable());
    EXPECT_FALSE(p.text.on_wheel({ 60, 150 }, -1, false));
    EXPECT_FALSE(p.key(Key::End));
    // The spacers share what is left: the block sits in the middle.
    std::int32_t const above = p.loaded.child(u"logo").position().y - 24;
    std::int32_t const below = 320 - (p.text.position().y + p.text.size().height);
    EXPECT_LE(std::abs(above - below), 1);
}

TEST(ScrollText, the_keys_reach_the_last_line_and_go_no_further)
{
    Page p(words(120), { 240, 200 });
    std::int32_t const most = p.text.max_scroll();
    ASSERT_GT(most, 0) << "120 words must overflow a 200-pixel page";
    EXPECT_EQ(most, p.text.content_height() - p.text.size().height);
    // The text gets all the room the column leaves: 200 less the header,
    // the logo and its own top border.
    EXPECT_EQ(p.text.size().height, 200 - 24 - 30 - 4);
    EXPECT_TRUE(p.text.focusable());

    // At the start Up is not the text's: the focus goes on to the button.
    EXPECT_FALSE(p.key(Key::Up));
    EXPECT_TRUE(p.key(Key::Down));
    p.settle();
    std::int32_t const line = p.text.scroll();
    EXPECT_GT(line, 0);
    EXPECT_TRUE(p.key(Key::PageDown));
    p.settle();
    EXPECT_GT(p.text.scroll(), line * 2);

    EXPECT_TRUE(p.key(Key::End));
    p.settle();
    EXPECT_EQ(p.text.scroll(), most);
    // Nothing moves it past the end.
    EXPECT_FALSE(p.key(Key::Down)) << "Down at the end goes on to the next element";
    EXPECT_TRUE(p.key(Key::PageDown));
    EXPECT_TRUE(p.text.on_wheel({ 60, 150 }, -5, false));
    p.settle();
    EXPECT_EQ(p.text.scroll(), most);

    EXPECT_TRUE(p.key(Key::Home));
    p.settle();
    EXPECT_EQ(p.text.scroll(), 0);
}

TEST(ScrollText, the_wheel_scrolls_three_lines_a_notch_smoothly)
{
    Page p(words(120), { 240, 200 });
    ASSERT_TRUE(p.key(Key::Down));
    p.settle();
    std::int32_t const line = p.text.scroll();
    p.text.scroll_to(0);
    // Towards the user: on into the text, over several frames.
    EXPECT_TRUE(p.loaded.form.on_wheel({ 60, 150 }, -1, false));
    p.loaded.form.advance(0.02);
    EXPECT_GT(p.text.scroll(), 0);
    EXPECT_LT(p.text.scroll(), 3 * line);
    p.settle();
    EXPECT_EQ(p.text.scroll(), 3 * line);
    // Away: back, and no further than the start.
    EXPECT_TRUE(p.loaded.form.on_wheel({ 60, 150 }, 2, false));
    p.settle();
    EXPECT_EQ(p.text.scroll(), 0);
}

TEST(ScrollText, the_pen_drags_the_text_within_its_ends_and_flings_it)
{
    Page p(words(200), { 240, 200 });
    std::int32_t const most = p.text.max_scroll();
    ASSERT_GT(most, 100);
    // A slow drag up by 60 pixels moves the text up by as much, less the
    // dead zone the first move leaves.
    p.pen(true, 150, 1000);
    p.move(140, 1100);
    p.move(120, 1200);
    p.move(90, 1300);
    std::int32_t const dragged = p.text.scroll();
    EXPECT_GE(dragged, 40);
    EXPECT_LE(dragged, 60);
    // Held still before the release: no fling.
    p.move(90, 1700);
    p.pen(false, 90, 1710);
    p.settle();
    EXPECT_EQ(p.text.scroll(), dragged);

    // A drag far past the start stops at the start.
    p.pen(true, 60, 2000);
    for (int i = 1; i <= 10; ++i)
        p.move(60 + 40 * i, 2000 + 100 * i);
    EXPECT_EQ(p.text.scroll(), 0);
    p.move(460, 3500);
    p.pen(false, 460, 3510);

    // A quick flick up throws the text on after the release, up to its end
    // at most.
    p.pen(true, 180, 4000);
    p.move(170, 4010);
    p.move(130, 4030);
    p.move(80, 4050);
    p.pen(false, 60, 4060);
    std::int32_t const released = p.text.scroll();
    p.settle();
    EXPECT_GT(p.text.scroll(), released);
    EXPECT_LE(p.text.scroll(), most);
}

TEST(ScrollText, a_new_width_reflows_the_lines_and_a_taller_page_scrolls_less)
{
    Page p(words(80), { 240, 200 });
    std::int32_t const wide_content = p.text.content_height();
    p.loaded.form.place({ 160, 200 });
    EXPECT_GT(p.text.content_height(), wide_content) << "narrower lines, more of them";
    ASSERT_TRUE(p.key(Key::End));
    p.settle();
    std::int32_t const most = p.text.max_scroll();
    EXPECT_EQ(p.text.scroll(), most);
    // Taller: less hidden, and the scroll never points past the new end.
    p.loaded.form.place({ 160, 260 });
    EXPECT_LT(p.text.max_scroll(), most);
    EXPECT_EQ(p.text.scroll(), p.text.max_scroll());
    // Tall enough for all of it: nothing to scroll, the text at its start.
    p.loaded.form.place({ 160, 2000 });
    EXPECT_EQ(p.text.max_scroll(), 0);
    EXPECT_EQ(p.text.scroll(), 0);
    EXPECT_EQ(p.text.size().height, p.text.content_height());
}
