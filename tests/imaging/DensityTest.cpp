// The screen's scale, lengths in skin units at that scale, which stored
// density a picture is read from, and how it is made smaller to fit.

#include "imaging/BmpWriter.h"
#include "imaging/Density.h"
#include "imaging/Picture.h"
#include "imaging/PixelRules.h"
#include "imaging/Resample.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <numbers>

using namespace qv;

namespace {

std::unique_ptr<PixelBuffer> uniform(int w, int h, std::uint16_t colour)
{
    auto buffer = PixelBuffer::create(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            buffer->at(x, y) = colour;
    return buffer;
}

// A disc of `colour` on the key, the way an icon's round button is drawn.
std::unique_ptr<PixelBuffer> disc(int side, std::uint16_t colour)
{
    auto buffer = uniform(side, side, kKeyColour);
    double const r = side / 2.0 - 1;
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x)
            if (std::hypot(x + 0.5 - side / 2.0, y + 0.5 - side / 2.0) <= r)
                buffer->at(x, y) = colour;
    return buffer;
}

}

TEST(ScreenScale, the_density_over_96_in_quarters_rounding_halves_up)
{
    struct Case {
        std::int32_t dpi;
        double scale;
    };
    for (auto [dpi, scale] : { Case { 96, 1.0 }, { 120, 1.25 }, { 160, 1.75 }, { 192, 2.0 }, { 240, 2.5 },
             { 320, 3.25 }, { 420, 4.5 }, { 640, 6.75 }, { 108, 1.25 }, { 107, 1.0 } })
        EXPECT_EQ(scale_quarters_for_dpi(dpi), static_cast<std::int32_t>(scale * 4)) << dpi << " dpi";
    // Screens coarser than the design screen draw at its size; nonsense is bounded.
    EXPECT_EQ(scale_quarters_for_dpi(72), 4);
    EXPECT_EQ(scale_quarters_for_dpi(0), 4);
    EXPECT_EQ(scale_quarters_for_dpi(-500), 4);
    EXPECT_EQ(scale_quarters_for_dpi(1 << 30), kMaxScaleQuarters);
}

TEST(ScreenScale, lengths_go_to_the_nearest_pixel_and_never_step_back)
{
    struct Case {
        std::int32_t units, quarters, pixels;
    };
    for (auto [units, quarters, pixels] : { Case { 44, 7, 77 }, { 26, 5, 33 }, { 45, 6, 68 }, { 1, 5, 1 },
             { 1, 6, 2 }, { 3, 18, 14 }, { 240, 13, 780 }, { -3, 7, -5 }, { -2, 5, -2 }, { 0, 18, 0 } })
        EXPECT_EQ(scale_length(units, quarters), pixels) << units << " at " << quarters / 4.0;
    for (std::int32_t quarters = 4; quarters <= 32; ++quarters) {
        for (std::int32_t units = -300; units <= 300; ++units) {
            std::int32_t const pixels = scale_length(units, quarters);
            // Within half a pixel of the exact length, whole scales exact.
            ASSERT_LE(std::abs(4 * std::int64_t { pixels } - std::int64_t { units } * quarters), 2)
                << units << " at " << quarters / 4.0;
            if (quarters % 4 == 0) {
                ASSERT_EQ(pixels, units * quarters / 4);
            }
            // Elements that meet at a skin coordinate meet at one pixel, and
            // a longer length is never shorter on the screen.
            ASSERT_GE(scale_length(units + 1, quarters), pixels);
            if (units > 0) {
                ASSERT_EQ(design_side(pixels, quarters), units) << "a stored density gives back its design size";
            }
        }
    }
    EXPECT_EQ(scale_length(1 << 30, 64), std::numeric_limits<std::int32_t>::max()) << "bounded, not wrapped";
}

TEST(PictureDensity, densities_at_or_above_the_scale_come_first_nearest_first)
{
    using Order = std::vector<std::int32_t>;
    EXPECT_EQ(density_preference(4), (Order { 4, 6, 8, 12, 16, 24 }));
    EXPECT_EQ(density_preference(5), (Order { 6, 8, 12, 16, 24, 4 }));
    EXPECT_EQ(density_preference(6), (Order { 6, 8, 12, 16, 24, 4 }));
    EXPECT_EQ(density_preference(7), (Order { 8, 12, 16, 24, 6, 4 }));
    EXPECT_EQ(density_preference(13), (Order { 16, 24, 12, 8, 6, 4 }));
    EXPECT_EQ(density_preference(18), (Order { 24, 16, 12, 8, 6, 4 }));
    EXPECT_EQ(density_preference(27), (Order { 24, 16, 12, 8, 6, 4 }));
    EXPECT_EQ(density_suffix(4), "");
    EXPECT_EQ(density_suffix(6), "@1.5x");
    EXPECT_EQ(density_suffix(8), "@2x");
    EXPECT_EQ(density_suffix(5), "@1.25x");
    EXPECT_EQ(density_suffix(15), "@3.75x");
}

class PictureDensityFiles : public ::testing::Test {
protected:
    test::TempDir m_dir;

    // Each density in its own colour, so a loaded picture tells where it came from.
    static std::uint16_t colour_of(std::int32_t density) { return static_cast<std::uint16_t>(0x0841 * density); }

    void write(std::int32_t density, Size design = { 10, 6 })
    {
        auto buffer = uniform(scale_length(design.width, density), scale_length(design.height, density),
            colour_of(density));
        ASSERT_TRUE(write_bmp_565(*buffer, m_dir.program_path("icon" + density_suffix(density) + ".bmp")));
    }

    ScaledPicture load(std::int32_t quarters) { return load_bmp_for_scale(m_dir.program_path("icon"), quarters); }

    void expect_loaded(std::int32_t quarters, std::int32_t density, char const* note = "")
    {
        SCOPED_TRACE(note);
        auto picture = load(quarters);
        ASSERT_NE(picture.buffer, nullptr) << quarters / 4.0;
        EXPECT_EQ(picture.density, density) << "at " << quarters / 4.0;
        Size const want { scale_length(10, quarters), scale_length(6, quarters) };
        EXPECT_EQ(picture.buffer->width(), want.width) << "at " << quarters / 4.0;
        EXPECT_EQ(picture.buffer->height(), want.height) << "at " << quarters / 4.0;
        for (int y = 0; y < picture.buffer->height(); ++y)
            for (int x = 0; x < picture.buffer->width(); ++x)
                ASSERT_EQ(picture.buffer->at(x, y), colour_of(density)) << "at " << quarters / 4.0;
    }
};

TEST_F(PictureDensityFiles, each_scale_reads_the_nearest_density_at_or_above_it)
{
    for (std::int32_t density : { 4, 6, 8, 16 })
        write(density); // no 3x
    expect_loaded(4, 4);
    expect_loaded(5, 6);
    expect_loaded(6, 6);
    expect_loaded(7, 8);
    expect_loaded(8, 8);
    expect_loaded(9, 16, "3x is missing: the 4x picture, made smaller, not 2x magnified");
    expect_loaded(13, 16);
    expect_loaded(16, 16);
    expect_loaded(18, 16, "with no density at or above the scale, the finest is magnified");

    std::filesystem::remove(m_dir / "icon@2x.bmp");
    expect_loaded(7, 16, "never from 1.5x while a finer one exists");
    // A damaged file is passed over for the next density in order.
    test::write_bytes(m_dir / "icon@4x.bmp", std::string("BM not a bitmap"));
    expect_loaded(7, 6);
}

TEST_F(PictureDensityFiles, a_skin_of_plain_pictures_is_magnified_as_a_last_resort)
{
    write(4);
    expect_loaded(8, 4);
    expect_loaded(13, 4);
    EXPECT_EQ(load_bmp_for_scale(m_dir.program_path("none"), 8).buffer, nullptr);

    PictureRef ref;
    ASSERT_NE(load_565(ref, m_dir.program_path("icon"), 7), nullptr);
    EXPECT_EQ(ref.size(), (Size { 18, 11 }));
    EXPECT_EQ(ref.grid.outer_end, (Point { 18, 11 })) << "the grid covers the picture as loaded";
}

TEST(Resample, the_key_stays_transparent_and_edges_take_no_key_colour)
{
    std::uint16_t const colour = 0x2C8A | kSolidFlag;
    auto source = disc(88, colour); // a 44-pixel button at 2x
    for (std::int32_t quarters : { 5, 6, 7 }) {
        std::int32_t const side = scale_length(44, quarters);
        auto result = resample_keyed(*source, { side, side });
        ASSERT_NE(result, nullptr);
        int opaque = 0;
        for (int y = 0; y < side; ++y) {
            for (int x = 0; x < side; ++x) {
                std::uint16_t const p = result->at(x, y);
                // Only the colour itself or the key: an edge averaged with
                // the key would be tinted toward magenta.
                ASSERT_TRUE(p == colour || p == kKeyColour) << std::hex << p << " at " << x << "," << y;
                opaque += p == colour;
            }
        }
        EXPECT_EQ(result->at(0, 0), kKeyColour) << "the corners stay transparent";
        EXPECT_EQ(result->at(side / 2, side / 2), colour);
        // The disc keeps its area within its rim of partly covered pixels.
        double const r = side / 2.0 * 43.0 / 44.0;
        EXPECT_NEAR(opaque, std::numbers::pi * r * r, std::numbers::pi * 2 * r) << quarters / 4.0;
    }
}

TEST(Resample, averages_keep_the_solid_flag_of_the_majority_and_never_become_the_key)
{
    // Stripes of two solid colours: averages lie between them and stay solid.
    auto stripes = PixelBuffer::create(8, 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 8; ++x)
            stripes->at(x, y) = x % 2 ? (0xF800 | kSolidFlag) : (0x001F | kSolidFlag);
    auto mixed = resample_keyed(*stripes, { 3, 1 });
    for (int x = 0; x < 3; ++x) {
        std::uint16_t const p = mixed->at(x, 0);
        EXPECT_TRUE(p & kSolidFlag) << std::hex << p;
        EXPECT_GT(p >> 11, 8) << "red from the red stripes";
        EXPECT_GT(p & 0x1F, 8) << "blue from the blue stripes";
    }
    // Pixels without the flag stay without it.
    auto plain = resample_keyed(*uniform(6, 6, 0x4208), { 4, 4 });
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            ASSERT_EQ(plain->at(x, y), 0x4208);
    // Two opaque near-magentas whose average is the key's word: the result
    // is a shade off it, still opaque.
    auto near_key = PixelBuffer::create(2, 1);
    near_key->at(0, 0) = 0xF85F; // red 31, green 2, blue 31
    near_key->at(1, 0) = 0xF81E; // red 31, green 0, blue 30
    auto one = resample_keyed(*near_key, { 1, 1 });
    EXPECT_NE(one->at(0, 0), kKeyColour);
    EXPECT_EQ(one->at(0, 0) >> 11, 31);
    // Half covered or more is opaque, less is the key.
    auto half = PixelBuffer::create(4, 1);
    half->at(0, 0) = half->at(1, 0) = 0x1234;
    half->at(2, 0) = half->at(3, 0) = kKeyColour;
    auto two = resample_keyed(*half, { 2, 1 });
    EXPECT_EQ(two->at(0, 0), 0x1234);
    EXPECT_EQ(two->at(1, 0), kKeyColour);
    auto quarter = PixelBuffer::create(4, 1);
    quarter->at(0, 0) = 0x1234;
    quarter->at(1, 0) = quarter->at(2, 0) = quarter->at(3, 0) = kKeyColour;
    EXPECT_EQ(resample_keyed(*quarter, { 1, 1 })->at(0, 0), kKeyColour);
    auto three = PixelBuffer::create(4, 1);
    three->at(0, 0) = three->at(1, 0) = 0x1234;
    three->at(2, 0) = 0x1234;
    three->at(3, 0) = kKeyColour;
    EXPECT_EQ(resample_keyed(*three, { 1, 1 })->at(0, 0), 0x1234);

    EXPECT_EQ(resample_keyed(*half, { 0, 1 }), nullptr);
}
