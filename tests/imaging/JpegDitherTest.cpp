#include "imaging/CubicResample.h"
#include "imaging/JpegCodec.h"
#include "imaging/JpegRegion.h"
#include "imaging/JpegTestPictures.h"
#include "imaging/JpegTile.h"
#include "imaging/JpegEntry.h"
#include "imaging/PixelRules.h"
#include "imaging/Rgb565Dither.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>
#include <vector>

namespace qv {
namespace {

double expand(std::uint32_t level, std::uint32_t steps) { return level * 255.0 / steps; }

TEST(Rgb565Dither, the_bayer_matrix_uses_every_threshold_once_per_eight_by_eight_block)
{
    std::array<int, 64> seen {};
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            ++seen[static_cast<std::size_t>(bayer8(x, y))];
    EXPECT_TRUE(std::all_of(seen.begin(), seen.end(), [](int n) { return n == 1; }));
    // Neighbours across and down are far apart in the order, which is what
    // keeps the pattern fine.
    EXPECT_EQ(std::abs(bayer8(0, 0) - bayer8(1, 0)), 32);
    EXPECT_EQ(std::abs(bayer8(0, 0) - bayer8(1, 1)), 16);
}

TEST(Rgb565Dither, every_channel_value_keeps_its_mean_over_a_block_and_the_ends_stay_exact)
{
    for (std::uint32_t steps : { 31u, 63u }) {
        for (std::uint32_t v = 0; v < 256; ++v) {
            double sum = 0;
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x)
                    sum += expand(dither_channel(v, steps, dither_threshold(x, y)), steps);
            EXPECT_NEAR(sum / 64, v, 0.2) << "value " << v << " of " << steps << " steps";
        }
    }
    // Black, white and the pure primaries need no dither at all.
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            EXPECT_EQ(pack_rgb565_dithered(0, 0, 0, x, y), 0);
            EXPECT_EQ(pack_rgb565_dithered(255, 255, 255, x, y), 0xFFFF);
            EXPECT_EQ(pack_rgb565_dithered(255, 0, 0, x, y), 0xF800);
            EXPECT_EQ(pack_rgb565_dithered(0, 255, 0, x, y), 0x07E0);
        }
}

// A dusky red sky: one 8-bit step every 24 pixels, so that dropping the
// low bits leaves bands of 8 steps, 192 pixels wide. Green and blue stay at
// levels RGB565 holds exactly, so that a run of one 16-bit value is a run
// of one red.
std::vector<std::uint8_t> ramp(int width, int height)
{
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            auto* p = &rgb[(static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * 3];
            p[0] = static_cast<std::uint8_t>(60 + x / 24);
            p[1] = 0;
            p[2] = 255;
        }
    return rgb;
}

TEST(Rgb565Dither, a_smooth_gradient_keeps_its_mean_and_shows_no_bands)
{
    int const width = 1536, height = 16;
    auto const rgb = ramp(width, height);
    std::vector<std::uint16_t> out(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        dither_row_to_rgb565(&rgb[static_cast<std::size_t>(y) * width * 3], width, 3, &out[static_cast<std::size_t>(y) * width], 0, y);

    // Over each 8 × 8 block the shown colour averages to the exact one.
    for (int bx = 0; bx < width; bx += 8) {
        for (int by = 0; by < height; by += 8) {
            double red = 0, exact = 0;
            for (int y = by; y < by + 8; ++y)
                for (int x = bx; x < bx + 8; ++x) {
                    std::uint16_t const p = out[static_cast<std::size_t>(y) * width + static_cast<std::size_t>(x)];
                    red += expand(p >> 11, 31);
                    exact += rgb[(static_cast<std::size_t>(y) * width + static_cast<std::size_t>(x)) * 3];
                    ASSERT_EQ(p & 0x7FF, 0x1F); // green and blue exact
                }
            ASSERT_NEAR(red / 64, exact / 64, 0.5) << "block at " << bx;
        }
    }
    // No band: nowhere does a stretch of columns, each eight rows high, hold
    // one value for longer than the colour itself stays on one of RGB565's
    // levels (two 8-bit steps at most). A single row may: where the colour
    // lies just above a level, the few pixels that round up are in other
    // rows of the 8 × 8 pattern.
    auto longest_band = [&](auto const& pixels) {
        int longest = 1, run = 1;
        for (int x = 1; x < width; ++x) {
            bool same = true;
            for (int y = 0; y < 8; ++y)
                same = same && pixels(x, y) == pixels(x - 1, y) && pixels(x, y) == pixels(x, 0);
            run = same ? run + 1 : 1;
            longest = std::max(longest, run);
        }
        return longest;
    };
    EXPECT_LE(longest_band([&](int x, int y) { return out[static_cast<std::size_t>(y) * width + static_cast<std::size_t>(x)]; }), 48);
    // Dropping the bits, the same ramp bands.
    std::vector<std::uint16_t> plain(static_cast<std::size_t>(width) * 8);
    for (int y = 0; y < 8; ++y)
        convert_rgb_to_rgb565(std::span(rgb).subspan(static_cast<std::size_t>(y) * width * 3, static_cast<std::size_t>(width) * 3),
            &plain[static_cast<std::size_t>(y) * width]);
    EXPECT_GE(longest_band([&](int x, int y) { return plain[static_cast<std::size_t>(y) * width + static_cast<std::size_t>(x)]; }), 160);
}

TEST(Rgb565Dither, a_region_packed_alone_equals_the_same_pixels_packed_whole)
{
    int const width = 301, height = 203;
    auto const rgb = test::test_pattern(width, height);
    std::vector<std::uint16_t> whole(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        dither_row_to_rgb565(&rgb[static_cast<std::size_t>(y) * width * 3], width, 3, &whole[static_cast<std::size_t>(y) * width], 0, y);
    // Odd offsets, offsets of whole blocks, and regions reaching each edge.
    struct Region {
        int x, y, w, h;
    };
    for (Region const r : { Region { 0, 0, 9, 9 }, Region { 17, 3, 64, 40 }, Region { 255, 129, 46, 74 },
             Region { 8, 16, 100, 1 }, Region { 300, 0, 1, 203 }, Region { 123, 202, 178, 1 }, Region { 5, 7, 3, 2 } }) {
        std::vector<std::uint16_t> part(static_cast<std::size_t>(r.w));
        // Four bytes a pixel, as the tile decoder hands them over.
        std::vector<std::uint8_t> rgbx(static_cast<std::size_t>(r.w) * 4);
        for (int y = r.y; y < r.y + r.h; ++y) {
            auto const* row = &rgb[(static_cast<std::size_t>(y) * width + static_cast<std::size_t>(r.x)) * 3];
            dither_row_to_rgb565(row, part.size(), 3, part.data(), r.x, y);
            ASSERT_TRUE(std::equal(part.begin(), part.end(), &whole[static_cast<std::size_t>(y) * width + static_cast<std::size_t>(r.x)]))
                << r.x << "," << r.y << " row " << y;
            for (int x = 0; x < r.w; ++x)
                std::copy_n(row + 3 * x, 3, rgbx.begin() + 4 * x);
            dither_row_to_rgb565(rgbx.data(), part.size(), 4, part.data(), r.x, y);
            ASSERT_TRUE(std::equal(part.begin(), part.end(), &whole[static_cast<std::size_t>(y) * width + static_cast<std::size_t>(r.x)]))
                << r.x << "," << r.y << " row " << y << " (4 bytes a pixel)";
        }
    }
}

TEST(Rgb565Dither, viewer_tiles_equal_the_whole_picture_dithered_up_to_its_edges)
{
    test::TempDir dir;
    test::PictureShape const shape { 777, 601, 2, 2 };
    auto const bytes = test::make_jpeg(shape);
    test::write_bytes(dir / "p.jpg", bytes);
    auto const whole = decode_scaled(dir.program_path("p.jpg"), 1);
    ASSERT_TRUE(whole);
    std::vector<std::uint8_t> table;
    {
        auto reader = JpegReader::open_recording(bytes, table);
        ASSERT_TRUE(reader);
        std::vector<std::uint8_t> row(static_cast<std::size_t>(shape.width) * 3);
        while (reader->read_row(row)) { }
    }
    auto const entries = parse_entry_table(table);
    ASSERT_TRUE(entries);
    std::vector<std::uint8_t> prefix(bytes.begin(), bytes.end() - static_cast<std::ptrdiff_t>(entries->front().position));
    auto decoder = JpegTileDecoder::create(prefix, *entries, memory_stream_bytes(bytes));
    ASSERT_TRUE(decoder);
    auto tile = PixelBuffer::create(256, 256);
    // Inner tiles and the partial ones at the right and bottom edges.
    for (auto const [tx, ty] : { std::pair { 0, 0 }, std::pair { 1, 1 }, std::pair { 3, 0 }, std::pair { 0, 2 }, std::pair { 3, 2 } }) {
        ASSERT_TRUE(decoder->decode_tile(tx, ty, *tile));
        int const w = std::min(256, shape.width - 256 * tx), h = std::min(256, shape.height - 256 * ty);
        for (int y = 0; y < h; ++y)
            ASSERT_TRUE(std::equal(tile->row(y), tile->row(y) + w, whole->row(256 * ty + y) + 256 * tx))
                << "tile " << tx << "," << ty << " row " << y;
    }
}

TEST(JpegRegion, a_cropped_and_skipped_region_equals_the_same_pixels_of_a_whole_decode)
{
    for (auto const& shape : { test::PictureShape { 501, 377, 2, 2 }, test::PictureShape { 333, 250, 1, 1 },
             test::PictureShape { 260, 300, 2, 1, true } }) {
        auto const bytes = test::make_jpeg(shape);
        for (int eighths : { 8, 7, 5, 4, 3 }) {
            SCOPED_TRACE(std::to_string(shape.width) + " at " + std::to_string(eighths) + "/8");
            auto const size = jpeg_scaled_size(shape.width, shape.height, eighths);
            auto const whole = decode_jpeg_region(bytes, eighths, Rect { 0, 0, size.width, size.height });
            ASSERT_TRUE(whole);
            ASSERT_EQ(whole->image.width, size.width);
            ASSERT_EQ(whole->image.height, size.height);
            if (eighths == 8 || eighths == 4) {
                auto const library = test::library_decode(bytes, 8 / eighths);
                ASSERT_TRUE(library);
                EXPECT_TRUE(library->rgb == whole->image.rgb);
            }
            int const w3 = size.width / 3 | 1, h4 = size.height / 4 | 1;
            for (Rect const rect : { Rect { w3, h4, 2 * w3 + 5, 3 * h4 }, Rect { 0, 13, 17, 14 }, Rect { size.width - 30, size.height - 19, size.width, size.height },
                     Rect { 1, 1, size.width - 1, 2 } }) {
                auto const region = decode_jpeg_region(bytes, eighths, rect);
                ASSERT_TRUE(region) << rect.left << "," << rect.top;
                ASSERT_LE(region->left, rect.left);
                ASSERT_EQ(region->top, rect.top);
                ASSERT_GE(region->left + region->image.width, rect.right);
                ASSERT_EQ(region->image.height, rect.height());
                for (int y = 0; y < region->image.height; ++y) {
                    auto const* got = &region->image.rgb[static_cast<std::size_t>(y) * static_cast<std::size_t>(region->image.width) * 3];
                    auto const* expected = &whole->image.rgb[(static_cast<std::size_t>(rect.top + y) * static_cast<std::size_t>(size.width) + static_cast<std::size_t>(region->left)) * 3];
                    ASSERT_TRUE(std::equal(got, got + region->image.width * 3, expected)) << "row " << y;
                }
            }
            EXPECT_FALSE(decode_jpeg_region(bytes, eighths, Rect { 0, 0, size.width + 1, 1 }));
            EXPECT_FALSE(decode_jpeg_region(bytes, eighths, Rect { 5, 5, 5, 9 }));
        }
    }
    auto cut = test::make_jpeg(test::PictureShape { 300, 200 });
    cut.resize(cut.size() / 2);
    EXPECT_FALSE(decode_jpeg_region(cut, 8, Rect { 0, 150, 300, 200 }));
    EXPECT_FALSE(decode_jpeg_region(std::vector<std::uint8_t>(100, 7), 8, Rect { 0, 0, 1, 1 }));
}

RgbImage flat(int width, int height, std::uint8_t value)
{
    RgbImage image { width, height, {} };
    image.rgb.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3, value);
    return image;
}

TEST(CubicResample, keeps_flat_areas_and_an_identity_window_and_moves_an_edge_with_its_window)
{
    // A flat picture stays flat at any size, edges repeating past the window.
    auto const grey = resample_cubic(flat(40, 30, 77), SourceWindow { -5, -5, 50, 40 }, 23, 17);
    ASSERT_EQ(grey.width, 23);
    EXPECT_TRUE(std::all_of(grey.rgb.begin(), grey.rgb.end(), [](std::uint8_t v) { return v == 77; }));
    // The window at the picture's own size gives the picture back.
    RgbImage const pattern { 64, 48, test::test_pattern(64, 48) };
    auto const same = resample_cubic(pattern, SourceWindow { 0, 0, 64, 48 }, 64, 48);
    EXPECT_TRUE(same.rgb == pattern.rgb);
    // A vertical edge at x = 50 of 100, shrunk to 25 from the window's left
    // half and right half: it sits at the end of one and the start of the
    // other, and both are halfway at most one pixel off the edge's place.
    RgbImage edge = flat(100, 4, 0);
    for (int y = 0; y < 4; ++y)
        for (int x = 50; x < 100; ++x)
            for (int c = 0; c < 3; ++c)
                edge.rgb[(static_cast<std::size_t>(y) * 100 + static_cast<std::size_t>(x)) * 3 + static_cast<std::size_t>(c)] = 200;
    auto const left = resample_cubic(edge, SourceWindow { 0, 0, 60, 4 }, 30, 2);
    EXPECT_LT(left.rgb[3 * 20], 5);
    EXPECT_GT(left.rgb[3 * 29], 195);
    EXPECT_NEAR(left.rgb[3 * 24] + left.rgb[3 * 25], 200, 60);
    EXPECT_TRUE(resample_cubic(edge, SourceWindow { 0, 0, 0, 4 }, 3, 3).rgb.empty());
    EXPECT_TRUE(resample_cubic(edge, SourceWindow { 0, 0, 10, 4 }, 0, 3).rgb.empty());
}

}
}
