#include "FakeFontEngine.h"

#include "base/Log.h"
#include "base/Registry.h"
#include "base/ResolutionListener.h"
#include "skin/FontRep.h"
#include "skin/TextDrawing.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>

using namespace qv;
using qv::test::FakeFontEngine;

namespace {

FontDescription description(int size, int scale = 1, WString face = u"Tahoma")
{
    FontDescription d;
    d.size = size;
    d.scale = scale;
    d.face = std::move(face);
    return d;
}

}

TEST(FontRep, asks_for_a_negative_pixel_height_at_96_dpi_truncated)
{
    FakeFontEngine engine;
    FontRep twelve_doubled(description(12, 2), engine);
    FontRep ten(description(10), engine);
    FontRep seven(description(7), engine);
    ASSERT_EQ(engine.log.requests.size(), 3u);
    EXPECT_EQ(engine.log.requests[0].height, -32);
    EXPECT_EQ(engine.log.requests[1].height, -13); // 13.33 pixels
    EXPECT_EQ(engine.log.requests[2].height, -9);  // 9.33 pixels
}

TEST(FontRep, a_size_from_a_damaged_skin_is_bounded_without_overflow)
{
    FakeFontEngine engine;
    FontRep huge(description(INT32_MAX, 2), engine);
    FontRep negative(description(-100000), engine);
    ASSERT_EQ(engine.log.requests.size(), 2u);
    EXPECT_EQ(engine.log.requests[0].height, -2048);
    EXPECT_EQ(engine.log.requests[1].height, 2048);
    EXPECT_EQ(font_request_height(INT32_MAX, INT32_MAX), INT32_MIN);
}

TEST(FontRep, passes_style_and_at_most_31_characters_of_the_face)
{
    FakeFontEngine engine;
    auto d = description(12, 1, WString(40, u'x'));
    d.bold = true;
    d.underline = true;
    FontRep font(d, engine);
    ASSERT_EQ(engine.log.requests.size(), 1u);
    EXPECT_EQ(engine.log.requests[0].face, WString(31, u'x'));
    EXPECT_TRUE(engine.log.requests[0].bold);
    EXPECT_FALSE(engine.log.requests[0].italic);
    EXPECT_TRUE(engine.log.requests[0].underline);
    EXPECT_EQ(font.line_height(), 10);
    EXPECT_EQ(font.descent(), 2);
}

TEST(FontRep, size_zero_makes_no_engine_font_and_keeps_default_metrics)
{
    FakeFontEngine engine;
    FontRep font(description(0, 1, u"Empty"), engine);
    EXPECT_TRUE(engine.log.requests.empty());
    EXPECT_EQ(font.engine_font(), nullptr);
    EXPECT_EQ(font.line_height(), 20);
    EXPECT_EQ(font.descent(), 0);
    // Text is still measured, with the engine's default font.
    EXPECT_EQ(font.measure(u"ab").width, 8);

    EXPECT_EQ(empty_font()->description().size, 0);
    EXPECT_EQ(empty_font()->engine_font(), nullptr);
}

TEST(FontRep, a_font_that_cannot_be_made_keeps_default_metrics)
{
    FakeFontEngine engine;
    engine.fail_creation = true;
    FontRep font(description(12), engine);
    EXPECT_EQ(font.engine_font(), nullptr);
    EXPECT_EQ(font.line_height(), 20);
    EXPECT_EQ(font.descent(), 0);
}

TEST(FontRep, width_cache_asks_the_engine_once_for_characters_already_seen)
{
    FakeFontEngine engine(4, { { u'a', 3 }, { u'b', 5 } });
    FontRep font(description(12), engine);
    Size first = font.measure(u"ab");
    Size second = font.measure(u"ab");
    EXPECT_EQ(first, (Size { 8, 10 }));
    EXPECT_EQ(second, first);
    ASSERT_EQ(engine.log.measured.size(), 1u);

    // Only the new characters go to the engine, in one call.
    font.measure(u"bcaad");
    ASSERT_EQ(engine.log.measured.size(), 2u);
    EXPECT_EQ(engine.log.measured[1], u"cd");

    // A character twice in one text is asked for twice in that call.
    font.measure(u"xyx");
    EXPECT_EQ(engine.log.measured[2], u"xyx");
}

TEST(FontRep, resolution_change_empties_the_width_cache)
{
    FakeFontEngine engine;
    FontRep font(description(12), engine);
    font.measure(u"ab");
    notify_resolution_change();
    font.measure(u"ab");
    EXPECT_EQ(engine.log.measured.size(), 2u);
}

TEST(FontRep, measures_empty_text_as_nothing)
{
    FakeFontEngine engine;
    FontRep font(description(12), engine);
    int fit = -1;
    int descent = -1;
    std::vector<int> positions { 1, 2 };
    EXPECT_EQ(font.measure(u"", 10, &fit, &descent, &positions), (Size { 0, 0 }));
    EXPECT_EQ(fit, 0);
    EXPECT_EQ(descent, 2);
    EXPECT_TRUE(positions.empty());
    EXPECT_TRUE(engine.log.measured.empty());
}

TEST(FontRep, fit_count_stops_before_the_character_that_passes_the_limit)
{
    FakeFontEngine engine(4);
    FontRep font(description(12), engine);
    int fit = -1;
    std::vector<int> positions;
    EXPECT_EQ(font.measure(u"abc", 10, &fit, nullptr, &positions).width, 12);
    EXPECT_EQ(fit, 2);
    EXPECT_EQ(positions, (std::vector<int> { 4, 8, 12 }));

    font.measure(u"abc", 12, &fit); // reaching the limit is within it
    EXPECT_EQ(fit, 3);
    font.measure(u"abc", 3, &fit);
    EXPECT_EQ(fit, 0);
    font.measure(u"abc", 0, &fit); // no limit
    EXPECT_EQ(fit, 3);
    font.measure(u"abc", -5, &fit);
    EXPECT_EQ(fit, 3);
}

TEST(FontRep, measures_texts_longer_than_the_scratch_storage)
{
    FakeFontEngine engine(4);
    FontRep font(description(12), engine);
    WString text;
    for (int i = 0; i < 300; ++i)
        text.push_back(char16_t(u'A' + i % 50 + (i >= 150 ? 100 : 0)));
    EXPECT_EQ(font.measure(text).width, 300 * 4);
    EXPECT_EQ(font.measure(text).width, 300 * 4);
}

TEST(FontRep, measure_block_sets_lines_without_a_width_limit)
{
    FakeFontEngine engine(4);
    FontRep font(description(12), engine);
    EXPECT_EQ(measure_block(font, u"abc"), (Size { 12, 10 }));
    EXPECT_EQ(measure_block(font, u"ab\nabcde"), (Size { 20, 20 }));
    EXPECT_EQ(measure_block(font, u""), (Size { 0, 0 }));
}

namespace {

struct CountingListener final : ResolutionListener {
    void on_resolution_change() override { ++calls; }
    int calls { 0 };
};

}

TEST(ResolutionListenerList, calls_live_listeners_only)
{
    CountingListener kept;
    {
        CountingListener gone;
        notify_resolution_change();
        EXPECT_EQ(gone.calls, 1);
    }
    notify_resolution_change(); // must not reach the destroyed listener
    EXPECT_EQ(kept.calls, 2);
}

namespace {

// The log file's text (UTF-16 with its mark), read after switching the log
// off so the file is closed.
WString read_log()
{
    std::string path = to_utf8(log_file_path());
    std::replace(path.begin(), path.end(), '\\', '/');
    auto bytes = test::read_bytes(path);
    WString text;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
        text.push_back(char16_t(bytes[i] | bytes[i + 1] << 8));
    return text;
}

}

TEST(FontRep, logs_the_request_and_the_creation)
{
    test::TempDir dir;
    test::ScopedEnv registry("QUILVANE_REGISTRY", (dir / "registry.reg").string());
    test::ScopedEnv temp("TMPDIR", dir.path().string());
    ASSERT_TRUE(write_dword(kMakerKey, u"Log", 1));
    {
        FakeFontEngine engine;
        FontRep made(description(12, 2), engine);
        engine.fail_creation = true;
        FontRep failed(description(10), engine);
        FontRep empty(description(0), engine);
    }
    ASSERT_TRUE(write_dword(kMakerKey, u"Log", 0));
    Log::get(); // the switch-off closes the file

    WString const log = read_log();
    // 96 is the fake engine's screen density.
    EXPECT_NE(log.find(u"dpiy=96 log_font.lfHeight=-32}\nCreating font: {Tahoma} elapsed="), WString::npos) << to_utf8(log);
    EXPECT_NE(log.find(u"dpiy=96 log_font.lfHeight=-13}\nERROR: FontRep::FontRep() Failed to create font\n"
                       u"Creating font: {Tahoma} elapsed="),
        WString::npos)
        << to_utf8(log);
    // Size 0 makes no font and logs nothing: exactly two requests logged.
    std::size_t count = 0;
    for (std::size_t at = log.find(u"dpiy="); at != WString::npos; at = log.find(u"dpiy=", at + 1))
        ++count;
    EXPECT_EQ(count, 2u);
}
