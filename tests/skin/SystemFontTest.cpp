#include "platform/FontEngine.h"
#include "skin/FontRep.h"

#include <gtest/gtest.h>

#include <numeric>

using namespace qv;
using platform::FontEngine;
using platform::FontRequest;

namespace {

std::unique_ptr<platform::EngineFont> make(WString face, int height, bool bold = false, bool italic = false)
{
    FontRequest request;
    request.face = std::move(face);
    request.height = height;
    request.bold = bold;
    request.italic = italic;
    return FontEngine::system().create_font(request);
}

int width_of(platform::EngineFont& font, WStringView text)
{
    std::vector<int> extents(text.size());
    font.measure(text, extents);
    return extents.empty() ? 0 : extents.back();
}

int ink(platform::GlyphImage const* glyph)
{
    if (!glyph)
        return 0;
    return std::accumulate(glyph->coverage.begin(), glyph->coverage.end(), 0);
}

}

TEST(SystemFont, faces_that_are_not_installed_fall_back_to_the_sans_face)
{
    auto sans = make(u"sans-serif", -16);
    auto tahoma = make(u"Tahoma", -16);
    auto unknown = make(u"No Such Face 4711", -16);
    auto unnamed = make(u"", -16);
    ASSERT_TRUE(sans && tahoma && unknown && unnamed);
    EXPECT_FALSE(sans->family().empty());
    EXPECT_EQ(tahoma->family(), sans->family());
    EXPECT_EQ(unknown->family(), sans->family());
    EXPECT_EQ(unnamed->family(), sans->family());

    // An installed face is used as named, whatever its case.
    auto serif = make(u"dejavu serif", -16);
    ASSERT_TRUE(serif);
    EXPECT_EQ(serif->family(), u"DejaVu Serif");
}

TEST(SystemFont, pixel_height_sets_the_em_and_metrics_add_up)
{
    auto small = make(u"Tahoma", -16);
    auto large = make(u"Tahoma", -32);
    ASSERT_TRUE(small && large);
    auto const& m = small->metrics();
    EXPECT_EQ(m.height, m.ascent + m.descent);
    EXPECT_GE(m.height, 16);
    EXPECT_LE(m.height, 24);
    EXPECT_GT(m.descent, 0);
    // Twice the em: about twice the line and twice the text.
    EXPECT_NEAR(large->metrics().height, 2 * m.height, 2);
    EXPECT_NEAR(width_of(*large, u"Hello, world"), 2 * width_of(*small, u"Hello, world"), 12);

    // A capital stands on the baseline and reaches most of the ascent.
    auto const* h = small->glyph(u'H');
    ASSERT_NE(h, nullptr);
    EXPECT_GT(h->top, m.ascent / 2);
    EXPECT_LE(h->top, m.ascent);
    EXPECT_EQ(h->top, h->height);
    EXPECT_EQ(h->coverage.size(), std::size_t(h->width * h->height));
}

TEST(SystemFont, positive_height_is_the_cell_height)
{
    auto cell = make(u"Tahoma", 20);
    ASSERT_TRUE(cell);
    EXPECT_NEAR(cell->metrics().height, 20, 1);
}

TEST(SystemFont, bold_and_italic_change_the_glyphs)
{
    auto regular = make(u"Tahoma", -16);
    auto bold = make(u"Tahoma", -16, true);
    auto italic = make(u"Tahoma", -16, false, true);
    ASSERT_TRUE(regular && bold && italic);
    EXPECT_GT(width_of(*bold, u"Hello"), width_of(*regular, u"Hello"));
    EXPECT_GT(ink(bold->glyph(u'l')), ink(regular->glyph(u'l')));
    // A slanted upright stroke covers more columns.
    ASSERT_TRUE(italic->glyph(u'l') && regular->glyph(u'l'));
    EXPECT_GT(italic->glyph(u'l')->width, regular->glyph(u'l')->width);
}

TEST(SystemFont, cyrillic_has_its_own_glyphs_and_controls_take_no_room)
{
    auto font = make(u"Tahoma", -16);
    ASSERT_TRUE(font);
    // A code point no face has shows the missing-glyph box; Cyrillic
    // letters must not.
    auto const* missing = font->glyph(char16_t(0xE123));
    auto const* pe = font->glyph(u'П');
    auto const* el = font->glyph(u'л');
    ASSERT_NE(pe, nullptr);
    ASSERT_NE(el, nullptr);
    if (missing) {
        EXPECT_NE(pe->coverage, missing->coverage);
        EXPECT_NE(el->coverage, missing->coverage);
    }
    EXPECT_NE(pe->coverage, el->coverage);

    EXPECT_EQ(width_of(*font, u"\n"), 0);
    EXPECT_EQ(font->glyph(u'\n'), nullptr);
    EXPECT_EQ(font->glyph(u' '), nullptr);
    EXPECT_GT(width_of(*font, u" "), 0);
}

TEST(SystemFont, extents_are_running_sums_of_the_single_advances)
{
    auto font = make(u"Tahoma", -13);
    ASSERT_TRUE(font);
    WStringView text = u"Привет, мир";
    std::vector<int> extents(text.size());
    font->measure(text, extents);
    int sum = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        sum += width_of(*font, text.substr(i, 1));
        EXPECT_EQ(extents[i], sum);
    }
}

TEST(SystemFont, font_rep_takes_its_metrics_from_the_engine)
{
    FontDescription d;
    d.size = 12;
    FontRep font(d);
    ASSERT_NE(font.engine_font(), nullptr);
    EXPECT_EQ(font.line_height(), font.engine_font()->metrics().height);
    EXPECT_EQ(font.descent(), font.engine_font()->metrics().descent);
    EXPECT_EQ(font.measure(u"Hello").width, width_of(*font.engine_font(), u"Hello"));
}
