#include "WidgetFixture.h"

#include "skin/SkinErrors.h"
#include "widgets/EditElement.h"

using namespace qv;
using test::LoadedForm;

namespace {

// Made-up widths: every character 10 pixels, lines 12 high.
RunSize ten_each(WStringView text) { return { static_cast<std::int32_t>(10 * text.size()), 12 }; }

std::vector<FlowLine> wrapped(WStringView prepared, std::int32_t width)
{
    auto runs = split_runs(prepared, ten_each);
    return flow_words(runs, [width](std::int32_t) { return width; }, ten_each,
        [](WStringView text, std::int32_t limit) { return std::min<std::int32_t>(limit / 10, text.size()); });
}

KeyInput press(Key key) { return KeyInput { key, true, true }; }

std::string edit_source(int width, int wrap, std::string const& text = "")
{
    return "form Edit\n    string type node\n    node field\n        string type edit\n"
           "        string anchor_x MIN_SIDE\n        string anchor_y MIN_SIDE\n        point design_size "
        + std::to_string(width) + " 60\n        string halign LEFT\n        string valign TOP\n        int wrap "
        + std::to_string(wrap) + "\n        color color 255 0 0\n        color background_color 0 0 255\n"
        + (text.empty() ? "" : "        string text " + text + "\n")
        + "    node other\n        string type edit\n        string anchor_x MAX_SIDE\n"
          "        string anchor_y MIN_SIDE\n        point design_size 50 20\n";
}

struct EditForm : LoadedForm {
    EditElement& field;
    EditElement& other;
    EditForm(int width, int wrap, std::string const& text = "")
        : LoadedForm(edit_source(width, wrap, text), u"Edit", { 300, 100 })
        , field(dynamic_cast<EditElement&>(child(u"field")))
        , other(dynamic_cast<EditElement&>(child(u"other")))
    {
    }
    void tap(Point at)
    {
        form.on_pointer_button(PointerEvent { at, 0, true, false });
        form.on_pointer_button(PointerEvent { at, 0, false, false });
    }
    void type(WStringView text)
    {
        for (char16_t c : text)
            form.on_text(WStringView(&c, 1));
    }
};

std::int32_t text_width(WStringView text) { return empty_font()->measure(text).width; }

}

TEST(EditCaret, places_follow_words_spacing_and_line_ends)
{
    WString const text = u"ab cd\nef";
    auto const places = caret_places(text, wrapped(text, 1000), ten_each);
    std::vector<CaretPlace> const expected { { 0, 0 }, { 0, 10 }, { 0, 20 }, { 0, 30 }, { 0, 40 }, { 0, 50 },
        { 1, 0 }, { 1, 10 }, { 1, 20 } };
    EXPECT_EQ(places, expected);

    // Where a wrapped line ends and the next begins, the caret is on the next.
    auto const narrow = caret_places(u"ab cd", wrapped(u"ab cd", 35), ten_each);
    EXPECT_EQ(narrow[2], (CaretPlace { 0, 20 }));
    EXPECT_EQ(narrow[3], (CaretPlace { 1, 0 }));
    EXPECT_EQ(narrow[5], (CaretPlace { 1, 20 }));

    // After a final line break the caret opens a line of its own.
    auto const open = caret_places(u"ab\n", wrapped(u"ab\n", 1000), ten_each);
    EXPECT_EQ(open[2], (CaretPlace { 0, 20 }));
    EXPECT_EQ(open[3], (CaretPlace { 1, 0 }));
    EXPECT_EQ(caret_places(u"", {}, ten_each), (std::vector<CaretPlace> { { 0, 0 } }));

    // A word cut over two lines keeps its characters in order.
    auto const cut = caret_places(u"abcdef", wrapped(u"abcdef", 40), ten_each);
    EXPECT_EQ(cut[3], (CaretPlace { 0, 30 }));
    EXPECT_EQ(cut[4], (CaretPlace { 1, 0 }));
    EXPECT_EQ(cut[6], (CaretPlace { 1, 20 }));

    EXPECT_EQ(prepared_index(u"a\tb\tc", 2), 5u);
    EXPECT_EQ(prepared_index(u"a\tb\tc", 4), 10u);
    EXPECT_EQ(prepared_index(u"ab", 9), 2u);
}

TEST(EditElement, a_tap_focuses_one_field_and_typing_goes_to_it_at_the_caret)
{
    EditForm f(200, 0);
    EXPECT_EQ(EditElement::focused_field(), nullptr);
    f.type(u"x");
    EXPECT_EQ(f.field.text(), u"") << "an unfocused field takes no text";

    f.tap({ 5, 5 });
    EXPECT_TRUE(f.field.focused());
    f.type(u"abd");
    EXPECT_EQ(f.field.text(), u"abd");
    EXPECT_EQ(f.field.caret(), 3u);
    EXPECT_TRUE(f.form.on_key(press(Key::Left)));
    f.type(u"c");
    EXPECT_EQ(f.field.text(), u"abcd");
    EXPECT_EQ(f.field.caret(), 3u);

    // A tap lands the caret on the nearest character boundary.
    f.tap({ text_width(u"a") + 1, 5 });
    EXPECT_EQ(f.field.caret(), 1u);

    f.tap({ 280, 5 });
    EXPECT_TRUE(f.other.focused());
    EXPECT_FALSE(f.field.focused());
    f.type(u"z");
    EXPECT_EQ(f.other.text(), u"z");
    EXPECT_EQ(f.field.text(), u"abcd");

    // Hiding the focused field ends editing.
    f.other.set_visible(false);
    EXPECT_EQ(EditElement::focused_field(), nullptr);
}

TEST(EditElement, backspace_and_the_arrows_stop_at_the_ends_of_the_text)
{
    EditForm f(200, 0, "abc");
    f.field.focus();
    f.field.set_caret(0);
    EXPECT_TRUE(f.form.on_key(press(Key::Backspace)));
    EXPECT_EQ(f.field.text(), u"abc");
    EXPECT_TRUE(f.form.on_key(press(Key::Left)));
    EXPECT_EQ(f.field.caret(), 0u);
    f.field.set_caret(3);
    EXPECT_TRUE(f.form.on_key(press(Key::Right)));
    EXPECT_EQ(f.field.caret(), 3u);
    EXPECT_TRUE(f.form.on_key(press(Key::Backspace)));
    EXPECT_EQ(f.field.text(), u"ab");
    EXPECT_EQ(f.field.caret(), 2u);
    f.field.set_caret(1);
    f.form.on_key(press(Key::Backspace));
    EXPECT_EQ(f.field.text(), u"b");
    EXPECT_EQ(f.field.caret(), 0u);
    f.form.on_key(press(Key::Right));
    f.form.on_key(press(Key::Backspace));
    EXPECT_EQ(f.field.text(), u"");
    EXPECT_FALSE(f.form.on_key(press(Key::Backspace))) << "nothing to delete";
    // Releases and keys without a meaning here are left to the screen.
    EXPECT_FALSE(f.form.on_key(KeyInput { Key::Left, false, true }));
    EXPECT_FALSE(f.form.on_key(press(Key::Esc)));
    EXPECT_FALSE(f.form.on_key(press(Key::Up))) << "one-line fields have no lines to move between";

    // A character of two code units goes whole.
    f.type(u"a\U0001F600");
    EXPECT_EQ(f.field.caret(), 3u);
    f.form.on_key(press(Key::Left));
    EXPECT_EQ(f.field.caret(), 1u);
    f.form.on_key(press(Key::Right));
    f.form.on_key(press(Key::Backspace));
    EXPECT_EQ(f.field.text(), u"a");
}

TEST(EditElement, enter_breaks_the_line_and_up_and_down_keep_the_column)
{
    EditForm f(200, 1);
    f.field.focus();
    f.type(u"abc");
    EXPECT_TRUE(f.form.on_key(press(Key::Enter)));
    f.type(u"abc");
    EXPECT_EQ(f.field.text(), u"abc\nabc");
    ASSERT_EQ(f.field.lines().size(), 2u);
    EXPECT_EQ(f.field.caret(), 7u);
    auto const bottom = f.field.caret_rect();
    EXPECT_TRUE(f.form.on_key(press(Key::Up)));
    EXPECT_EQ(f.field.caret(), 3u);
    EXPECT_EQ(f.field.caret_rect().left, bottom.left);
    EXPECT_LT(f.field.caret_rect().top, bottom.top);
    EXPECT_TRUE(f.form.on_key(press(Key::Up)));
    EXPECT_EQ(f.field.caret(), 3u) << "the first line has nothing above";
    f.field.set_caret(1);
    f.form.on_key(press(Key::Down));
    EXPECT_EQ(f.field.caret(), 5u);
    // A final line break puts the caret at the start of a new line.
    f.field.set_caret(7);
    f.form.on_key(press(Key::Enter));
    auto const opened = f.field.caret_rect();
    EXPECT_EQ(opened.left, 0);
    EXPECT_EQ(opened.top, bottom.bottom);
    f.form.on_key(press(Key::Up));
    EXPECT_EQ(f.field.caret(), 4u);
}

TEST(EditElement, a_long_line_scrolls_to_keep_the_caret_in_view)
{
    EditForm f(40, 0);
    f.field.focus();
    WString typed;
    while (text_width(typed + u"m") <= 40) {
        f.type(u"m");
        typed += u"m";
        EXPECT_EQ(f.field.scroll(), 0) << "the text fits";
    }
    f.type(u"mm");
    typed += u"mm";
    EXPECT_EQ(f.field.scroll(), 40 - text_width(typed));
    EXPECT_EQ(f.field.caret_rect().left, 39);
    for (std::size_t i = 0; i < typed.size(); ++i)
        f.form.on_key(press(Key::Left));
    EXPECT_EQ(f.field.scroll(), 0);
    EXPECT_EQ(f.field.caret_rect().left, 0);
}

TEST(EditElement, the_caret_blinks_only_in_the_focused_field_and_keys_show_it)
{
    EditForm f(200, 0);
    f.form.advance(0.6);
    EXPECT_TRUE(f.field.caret_visible());
    f.field.focus();
    f.form.advance(0.3);
    EXPECT_TRUE(f.field.caret_visible());
    f.form.advance(0.3);
    EXPECT_FALSE(f.field.caret_visible());
    f.form.advance(0.5);
    EXPECT_TRUE(f.field.caret_visible());
    f.form.advance(0.5);
    EXPECT_FALSE(f.field.caret_visible());
    f.form.on_key(press(Key::Esc));
    EXPECT_TRUE(f.field.caret_visible()) << "any key shows the caret again";
}

TEST(LabelEdit, needs_both_children_and_binds_its_field)
{
    auto source = [](bool edit, bool text) {
        std::string s = "form LE\n    string type node\n    node le\n        string type label_edit\n"
                        ;
        if (edit)
            s += "        node #edit\n            string type edit\n";
        if (text)
            s += "        node #text\n            string type text\n";
        return s;
    };
    for (auto [edit, text] : { std::pair { false, true }, std::pair { true, false } }) {
        test::WidgetTypesScope types;
        auto store = test::skin_from_source(source(edit, text));
        Form form;
        try {
            form.load_form(*store, u"LE");
            ADD_FAILURE() << "loaded without a child";
        } catch (NodeNotFound const& error) {
            EXPECT_EQ(error.container_id(), u"le");
            EXPECT_EQ(error.child_id(), edit ? u"#text" : u"#edit");
        }
    }
    LoadedForm f(source(true, true), u"LE", { 100, 40 });
    auto& le = dynamic_cast<LabelEdit&>(f.child(u"le"));
    auto& field = dynamic_cast<EditElement&>(f.child(u"#edit"));
    EXPECT_EQ(le.edit(), &field);
    EXPECT_EQ(field.observer(), &le);
    EXPECT_EQ(field.handler(), &le);
    EXPECT_EQ(le.label(), &f.child(u"#text"));
}
