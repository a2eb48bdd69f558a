// Album and picture names whose bytes are not UTF-8 reach the text code
// with lone surrogates in them (core/WString.h); they are measured and
// drawn as the replacement character.

#include "FakeFontEngine.h"

#include "imaging/DrawTarget.h"
#include "imaging/PixelBuffer.h"
#include "skin/FontRep.h"
#include "skin/TextDrawing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using namespace qv;
using qv::test::FakeFontEngine;

namespace {

constexpr TextColour kWhite { 255, 255, 255 };

FontDescription twelve()
{
    FontDescription d;
    d.size = 12;
    return d;
}

// The pixels of `text` drawn left-aligned in white on black.
std::vector<std::uint16_t> drawn(FontRep& font, WStringView text, int width = 80, int height = 30)
{
    auto buffer = PixelBuffer::create(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            buffer->at(x, y) = 0;
    DrawTarget target(buffer.get());
    draw_text(font, target, kWhite, text, { 0, 0 }, { width, height }, HAlign::Left, VAlign::Top,
        TextWrap::SingleLine);
    std::vector<std::uint16_t> pixels;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            pixels.push_back(buffer->at(x, y));
    return pixels;
}

}

TEST(LoneSurrogates, are_measured_and_drawn_as_the_replacement_character)
{
    // The replacement character is wider than anything else in this font,
    // so a surrogate measured as itself would show.
    FakeFontEngine engine(4, { { u'\uFFFD', 9 } });
    FontRep font(twelve(), engine);
    WString const escaped { u'a', 0xDCFF, u'b' };
    EXPECT_EQ(font.measure(escaped).width, 4 + 9 + 4);
    EXPECT_EQ(font.measure(WString(1, char16_t(0xD800))).width, 9);
    for (auto const& text : engine.log.measured)
        EXPECT_TRUE(std::none_of(text.begin(), text.end(), [](char16_t c) { return c >= 0xD800 && c < 0xE000; }))
            << "the engine was asked to measure a surrogate";

    auto const shown = drawn(font, escaped);
    EXPECT_EQ(shown, drawn(font, u"a\uFFFDb"));
    EXPECT_NE(shown, drawn(font, u"ab"));
}

TEST(LoneSurrogates, the_system_font_draws_one_as_the_replacement_character)
{
    FontRep font(twelve());
    ASSERT_NE(font.engine_font(), nullptr);
    auto const escaped = drawn(font, WString { u'x', 0xDCE9 });
    auto const replaced = drawn(font, u"x\uFFFD");
    EXPECT_EQ(escaped, replaced);
    EXPECT_NE(replaced, drawn(font, u"x")) << "the replacement character has ink";
}
