// The help page shown by the program itself where no browser can be
// started: the HTML as readable text, in a screen that scrolls it.

#include "imaging/RenderSurface.h"
#include "screens/HelpText.h"
#include "screens/MenuForm.h"
#include "skin/Properties.h"
#include "support/TestSupport.h"
#include "widgets/WidgetFixture.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace qv {
namespace {

namespace fs = std::filesystem;

fs::path const kApp = fs::path(QUILVANE_APP_DIR);

TEST(HelpText, headings_paragraphs_and_rows_become_lines_and_what_a_browser_hides_goes)
{
    auto const text = to_utf8(help_text_from_html(
        "<!DOCTYPE html><html><head><title>Not shown</title><style>p { color: red; }</style></head>"
        "<body><h1>Quilvane   help</h1>\n<p>Tap an\n   album &amp; look.</p>"
        "<table><tr><td><kbd>&#8593;</kbd> <kbd>Up</kbd></td><td>the row above</td></tr>"
        "<tr><td>F1</td><td>the menu&nbsp;&lt;main&gt;</td></tr></table><p>&bogus; stays</p></body></html>"));
    EXPECT_EQ(text, "Quilvane help\n\nTap an album & look.\n\n\u2191 Up - the row above\nF1 - the menu <main>\n\n"
                    "&bogus; stays");
}

TEST(HelpText, every_help_page_reads_as_text)
{
    for (auto page : { "help_english.html", "help_german.html", "help_russian.html" }) {
        SCOPED_TRACE(page);
        auto const text = to_utf8(read_help_page(test::program_form(kApp / page)));
        ASSERT_GT(text.size(), 1000u);
        EXPECT_EQ(text.find('<'), std::string::npos) << "a tag was left";
        EXPECT_EQ(text.find("font-family"), std::string::npos) << "the style sheet was shown";
        EXPECT_NE(text.find("Quilvane"), std::string::npos);
    }
    // Cyrillic comes through as it is written.
    EXPECT_NE(to_utf8(read_help_page(test::program_form(kApp / "help_russian.html"))).find("\u0410"), std::string::npos);
    EXPECT_TRUE(read_help_page(test::program_form(kApp / "no_such_page.html")).empty());
}

TEST(HelpText, the_help_screen_scrolls_a_long_page_to_its_last_line_and_keeps_it_across_a_rebuild)
{
    test::WidgetTypesScope types;
    Properties store;
    ASSERT_TRUE(store.load_skin(test::program_form(kApp / "skins" / "bin" / "default.skin"), DisplayInfo { 240, 320, 96 }));
    HelpForm help(store);
    WString const page = read_help_page(test::program_form(kApp / "help_english.html"));
    help.show_text(page);
    help.set_visible(true);
    help.place(Size { 240, 320 });
    RenderSurface screen { Size { 240, 320 } };
    help.paint(screen.target(), Point {});
    ASSERT_NE(help.text(), nullptr);
    EXPECT_EQ(help.text()->text(), page);
    ASSERT_GT(help.text()->max_scroll(), 0) << "a whole help page fits no small screen";

    EXPECT_TRUE(help.on_key(KeyInput { Key::End }));
    for (int i = 0; i < 200 && help.text()->moving(); ++i)
        help.advance(0.04);
    EXPECT_EQ(help.text()->scroll(), help.text()->max_scroll());
    EXPECT_TRUE(help.on_key(KeyInput { Key::Home }));
    for (int i = 0; i < 200 && help.text()->moving(); ++i)
        help.advance(0.04);
    EXPECT_EQ(help.text()->scroll(), 0);
}

}
}
