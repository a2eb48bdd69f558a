#include "CachePictures.h"
#include "imaging/CubicResample.h"
#include "imaging/Exif.h"
#include "imaging/JpegCodec.h"
#include "imaging/JpegRegion.h"
#include "imaging/Rgb565Dither.h"
#include "imaging/PixelOp.h"
#include "imaging/PixelRules.h"
#include "support/TestSupport.h"
#include "thumbcache/CacheBuilder.h"
#include "thumbcache/CacheFile.h"
#include "thumbcache/ThumbnailReader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <cmath>
#include <fstream>

using namespace qv;
namespace fs = std::filesystem;

namespace {

TEST(ThumbnailSquareTest, the_smallest_level_that_holds_the_cell_at_the_smallest_scale_that_keeps_it)
{
    // Cut at level 5 (of a picture with four stored levels, its last one
    // halved once more): 128 pixels a side at level 4, 256 at 3, 512 at 2.
    ThumbnailWindow const window { 5, 10, 3 };
    std::vector<bool> const all(5, true);
    EXPECT_EQ(window.side_at(4), 128);
    EXPECT_EQ(window.left_at(3), 40);
    EXPECT_EQ(window.top_at(3), 12);
    auto pick = [](ThumbnailWindow const& w, std::vector<bool> const& available, int side) {
        auto const source = pick_square_source(w, available, side);
        return source ? std::pair { source->level, source->eighths } : std::pair { -1, -1 };
    };
    EXPECT_EQ(pick(window, all, 88), std::pair(4, 6));   // 96 of 128
    EXPECT_EQ(pick(window, all, 128), std::pair(4, 8));
    EXPECT_EQ(pick(window, all, 129), std::pair(3, 5));  // 160 of 256
    EXPECT_EQ(pick(window, all, 193), std::pair(3, 7));  // 224: 6/8 would give 192
    // Past 256 the square stays at 256 and is magnified to the cell.
    EXPECT_EQ(pick(window, all, 400), std::pair(3, 8));
    // A level that cannot be read is passed over for the next larger one.
    EXPECT_EQ(pick(window, { true, true, true, false, true }, 200), std::pair(2, 4));
    // None large enough: the largest there is, at full scale.
    EXPECT_EQ(pick(window, { false, false, false, false, true }, 200), std::pair(4, 8));
    EXPECT_EQ(pick(window, { false, false, false, false, false }, 200), std::pair(-1, -1));

    // The builder's cut: halvings until the smaller side is under 128, then
    // centred across and nearer the top of a portrait.
    ThumbnailWindow const landscape = thumbnail_window(250, 187, 4, 1);
    EXPECT_EQ(landscape.level, 5);
    EXPECT_EQ(landscape.left, (125 - 64) / 2);
    EXPECT_EQ(landscape.top, (93 - 64) / 2);
    ThumbnailWindow const portrait = thumbnail_window(250, 187, 4, 6);
    EXPECT_EQ(portrait.left, (93 - 64) / 2);
    EXPECT_EQ(portrait.top, 30 - 15);
    // A narrow strip repeats its edges: the window starts above it.
    ThumbnailWindow const strip = thumbnail_window(250, 18, 4, 1);
    EXPECT_EQ(strip.level, 4);
    EXPECT_EQ(strip.top, -23);
}

// Broad waves in proportion to the picture, a few across any thumbnail's
// square: a square cut one place or another shows it, and no detail is so
// fine that one filter's aliasing, or the thumbnail's halved chroma, tells
// it from another's.
bool write_waves_jpeg(fs::path const& path, int width, int height)
{
    auto encoder = JpegEncoder::open(test::program_form(path), width, height);
    if (!encoder)
        return false;
    int const side = std::max(std::min(width, height), std::max(width, height) / 3);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            double const u = double(x) / side, v = double(y) / side;
            row[3 * x] = static_cast<std::uint8_t>(128 + 100 * std::sin(u * 11));
            row[3 * x + 1] = static_cast<std::uint8_t>(128 + 100 * std::sin(v * 9 + 1));
            row[3 * x + 2] = static_cast<std::uint8_t>(128 + 90 * std::sin((u + 2 * v) * 7));
        }
        if (!encoder->write_row(row))
            return false;
    }
    return encoder->finish();
}

class ThumbnailReaderTest : public ::testing::Test {
protected:
    test::TempDir m_dir;

    WString picture(std::string const& name) const { return m_dir.program_path(name); }
    WString cache(std::string const& name) const { return cache_file_name(picture(name), m_dir.program_path()); }

    void SetUp() override { test::make_cache_directory(m_dir.program_path()); }

    void make(std::string const& name, int width, int height, int orientation = 1, bool waves = false)
    {
        ASSERT_TRUE(waves ? write_waves_jpeg(m_dir / name, width, height) : test::write_pattern_jpeg(m_dir / name, width, height));
        if (orientation != 1)
            test::write_bytes(m_dir / name, test::with_segment(test::read_bytes(m_dir / name), test::exif_segment(orientation)));
        ASSERT_TRUE(create_picture_cache(picture(name), cache(name)));
    }
};

TEST_F(ThumbnailReaderTest, the_square_from_a_level_is_the_stored_thumbnails_square_at_any_size_and_orientation)
{
    struct Case {
        int width, height, orientation;
    };
    // Many levels, a portrait, turned pictures, one level only, no level
    // at all (the picture is read) and a strip whose window passes its edges.
    for (Case const c : { Case { 2400, 1800, 1 }, Case { 1200, 1700, 1 }, Case { 1600, 1000, 6 }, Case { 1000, 1400, 3 },
             Case { 900, 700, 8 }, Case { 400, 300, 1 }, Case { 230, 170, 1 }, Case { 2000, 150, 1 } }) {
        std::string const name = "p" + std::to_string(c.width) + "x" + std::to_string(c.height) + "_" + std::to_string(c.orientation) + ".jpg";
        SCOPED_TRACE(name);
        make(name, c.width, c.height, c.orientation, true);
        auto const stored = load_thumbnail(cache(name));
        auto const square = load_thumbnail_square(cache(name), picture(name), 64);
        ASSERT_TRUE(stored);
        ASSERT_TRUE(square);
        ASSERT_EQ(square->width(), 64);
        double const same = test::mean_difference(*square, 0, 0, *stored, 0, 0, 64, 64);
        EXPECT_LT(same, 7.0);
        // The check tells windows apart: the square moved by a quarter of
        // itself is far off.
        double const moved = test::mean_difference(*square, 16, 16, *stored, 0, 0, 48, 48);
        EXPECT_GT(moved, 2 * same + 5);

        auto const large = load_thumbnail_square(cache(name), picture(name), 150);
        ASSERT_TRUE(large);
        EXPECT_EQ(large->width(), 150);
        EXPECT_EQ(large->height(), 150);
    }
}

// The square of the original picture, `side` pixels a side, as a perfect
// thumbnail would show it: the full-size decode resampled.
std::unique_ptr<PixelBuffer> reference_square(WStringView path, int side)
{
    auto reader = JpegReader::open_file(path);
    if (!reader)
        return nullptr;
    RgbImage full { reader->width(), reader->height(), {} };
    full.rgb.resize(static_cast<std::size_t>(full.width) * static_cast<std::size_t>(full.height) * 3);
    for (int y = 0; y < full.height; ++y)
        if (!reader->read_row(std::span(full.rgb).subspan(static_cast<std::size_t>(y) * static_cast<std::size_t>(full.width) * 3)))
            return nullptr;
    ThumbnailWindow const window = thumbnail_window(full.width >> level_count(full.width), full.height >> level_count(full.width),
        level_count(full.width), 1);
    RgbImage const square = resample_cubic(full,
        SourceWindow { double(window.left_at(0)), double(window.top_at(0)), double(window.side_at(0)), double(window.side_at(0)) },
        side, side);
    auto buffer = PixelBuffer::create(side, side);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            auto const* p = &square.rgb[(static_cast<std::size_t>(y) * static_cast<std::size_t>(side) + static_cast<std::size_t>(x)) * 3];
            buffer->at(x, y) = pack_rgb565(p[0], p[1], p[2]);
        }
    return buffer;
}

TEST_F(ThumbnailReaderTest, a_large_cell_from_a_level_is_closer_to_the_picture_than_the_stretched_thumbnail)
{
    make("big.jpg", 2400, 1800);
    for (int side : { 88, 147, 192, 256 }) {
        SCOPED_TRACE(side);
        auto const reference = reference_square(picture("big.jpg"), side);
        ASSERT_TRUE(reference);
        auto const square = load_thumbnail_square(cache("big.jpg"), picture("big.jpg"), side);
        ASSERT_TRUE(square);
        auto const thumbnail = load_thumbnail(cache("big.jpg"));
        auto stretched = PixelBuffer::create(side, side);
        stretch_rect(*stretched, 0, 0, side, side, *thumbnail, 0, 0, 64, 64, Rect { 0, 0, side, side }, copy_op());
        double const from_level = test::mean_difference(*square, 0, 0, *reference, 0, 0, side, side);
        double const from_thumbnail = test::mean_difference(*stretched, 0, 0, *reference, 0, 0, side, side);
        EXPECT_LT(from_level, from_thumbnail * 0.6) << from_level << " against " << from_thumbnail;
    }
}

TEST_F(ThumbnailReaderTest, a_cell_a_whole_number_of_eighths_of_the_square_is_the_levels_own_pixels_turned_upright)
{
    // 2400 x 1800: levels 1 to 4, the thumbnail cut at level 4, so the
    // square is 256 pixels at level 2 and 128 at level 3. Cells of 192 and
    // 256 take level 2 at 6/8 and 8/8, one of 128 level 3 whole, all on
    // whole pixels: no filter, the level's pixels themselves, dithered where
    // they lie in the level.
    for (int orientation : { 1, 6, 3, 8, 5 }) {
        std::string const name = "turned" + std::to_string(orientation) + ".jpg";
        SCOPED_TRACE(name);
        make(name, 2400, 1800, orientation);
        auto const header = read_cache_header(cache(name));
        ASSERT_TRUE(header);
        ASSERT_EQ(header->levels.size(), 5u);
        auto const file = test::read_bytes(test::system_form(cache(name)));
        auto level_bytes = [&](int k) {
            auto const& range = header->levels[static_cast<std::size_t>(k)].jpeg;
            return std::vector<std::uint8_t>(file.begin() + range.offset, file.begin() + range.offset + range.length);
        };
        JpegProbe const base = probe_jpeg(level_bytes(4));
        ASSERT_EQ(base.problem, PictureProblem::None);
        ThumbnailWindow const window = thumbnail_window(base.info.width, base.info.height, 4, orientation);
        struct Cell {
            int side, level, eighths;
        };
        for (Cell const cell : { Cell { 192, 2, 6 }, Cell { 256, 2, 8 }, Cell { 128, 3, 8 } }) {
            SCOPED_TRACE(cell.side);
            // The whole level at that scale, dithered, then turned upright.
            auto const bytes = level_bytes(cell.level);
            JpegProbe const probe = probe_jpeg(bytes);
            auto const size = jpeg_scaled_size(probe.info.width, probe.info.height, cell.eighths);
            auto const whole = decode_jpeg_region(bytes, cell.eighths, Rect { 0, 0, size.width, size.height });
            ASSERT_TRUE(whole);
            auto stored = PixelBuffer::create(size.width, size.height);
            for (int y = 0; y < size.height; ++y)
                dither_row_to_rgb565(&whole->image.rgb[static_cast<std::size_t>(y) * static_cast<std::size_t>(size.width) * 3],
                    static_cast<std::size_t>(size.width), 3, stored->row(y), 0, y);
            bool const swaps = orientation_swaps_sides(orientation);
            auto upright = PixelBuffer::create(swaps ? size.height : size.width, swaps ? size.width : size.height);
            orient_pixels(orientation, stored->pixels(), stored->pitch() / 2, size.width, size.height, upright->pixels(),
                upright->pitch() / 2);
            int const left = window.left_at(cell.level) * cell.eighths / 8;
            int const top = window.top_at(cell.level) * cell.eighths / 8;
            ASSERT_EQ(window.side_at(cell.level) * cell.eighths / 8, cell.side);

            auto const square = load_thumbnail_square(cache(name), picture(name), cell.side);
            ASSERT_TRUE(square);
            ASSERT_EQ(square->width(), cell.side);
            EXPECT_EQ(test::mean_difference(*square, 0, 0, *upright, left, top, cell.side, cell.side), 0.0);
            // A pixel off either way is far from it.
            EXPECT_GT(test::mean_difference(*square, 0, 0, *upright, left + 1, top, cell.side, cell.side), 2.0);
            EXPECT_GT(test::mean_difference(*square, 0, 0, *upright, left, top + 1, cell.side, cell.side), 2.0);
        }
    }
}

TEST_F(ThumbnailReaderTest, a_progressive_picture_is_cut_from_its_stored_sequential_copy)
{
    // 400 x 300 has one level, whose square is 128 pixels: a cell of 150
    // is cut from the full-size picture, which the decoder reads through the
    // sequential copy kept in the cache file.
    ASSERT_TRUE(test::write_progressive_jpeg(m_dir / "prog.jpg", 400, 300));
    ASSERT_TRUE(create_picture_cache(picture("prog.jpg"), cache("prog.jpg")));
    auto const header = read_cache_header(cache("prog.jpg"));
    ASSERT_TRUE(header);
    ASSERT_TRUE(header->flags & kStoredStreamFlag);
    auto const square = load_thumbnail_square(cache("prog.jpg"), picture("prog.jpg"), 150);
    auto const reference = reference_square(picture("prog.jpg"), 150);
    ASSERT_TRUE(square && reference);
    ASSERT_EQ(square->width(), 150);
    double const same = test::mean_difference(*square, 0, 0, *reference, 0, 0, 150, 150);
    EXPECT_LT(same, 3.0);
    EXPECT_GT(test::mean_difference(*square, 0, 0, *reference, 1, 0, 149, 150), same + 3);
}

TEST_F(ThumbnailReaderTest, a_damaged_level_or_a_missing_picture_gives_nothing)
{
    make("p.jpg", 1600, 1200);
    ASSERT_TRUE(load_thumbnail_square(cache("p.jpg"), picture("p.jpg"), 120));
    EXPECT_FALSE(load_thumbnail_square(cache("p.jpg"), picture("absent.jpg"), 120));
    EXPECT_FALSE(load_thumbnail_square(cache("p.jpg"), picture("p.jpg"), 0));
    EXPECT_FALSE(load_thumbnail_square(cache("absent.jpg"), picture("p.jpg"), 120));

    // The deepest level's data overwritten with noise: its decode fails or
    // the square comes out far from the thumbnail, never past the buffer.
    auto const header = read_cache_header(cache("p.jpg"));
    ASSERT_TRUE(header);
    auto bytes = test::read_bytes(test::system_form(cache("p.jpg")));
    auto const& level = header->levels.back().jpeg;
    for (std::uint32_t i = level.offset + level.length / 2; i < level.offset + level.length; ++i)
        bytes[i] = static_cast<unsigned char>(i * 7919u >> 3);
    test::write_bytes(test::system_form(cache("p.jpg")), bytes);
    (void)load_thumbnail_square(cache("p.jpg"), picture("p.jpg"), 120);
    // Its header cut: nothing at all.
    test::write_bytes(test::system_form(cache("p.jpg")), std::vector<unsigned char>(bytes.begin(), bytes.begin() + level.offset + 40));
    EXPECT_FALSE(load_thumbnail_square(cache("p.jpg"), picture("p.jpg"), 120));
}

}
