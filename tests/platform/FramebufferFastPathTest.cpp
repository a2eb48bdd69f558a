// The frame's conversion works on many pixels at a time, a block turned in
// registers where the panel is mounted a quarter turned; this compares it
// with the plainest possible converter, one pixel at a time through
// convert_pixel, over random pictures, odd sizes and update areas.

#include "platform/FramebufferFormat.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

using namespace qv::platform;

namespace {

// Every channel layout the converter handles differently: the program's
// own, 16-bit ones with other fields and a transparent bit, 32-bit ones in
// every byte order, with and without alpha, and fields that cross the
// middle of the pixel or are shorter than eight bits.
std::vector<PixelFormat> const kFormats {
    kFormatRgb565,
    { 16, { 0, 5 }, { 5, 6 }, { 11, 5 }, { 0, 0 } }, // BGR565
    { 16, { 10, 5 }, { 5, 5 }, { 0, 5 }, { 15, 1 } }, // ARGB1555
    { 16, { 11, 5 }, { 5, 6 }, { 0, 5 }, { 0, 0 } },
    { 16, { 12, 4 }, { 8, 4 }, { 4, 4 }, { 0, 4 } }, // RGBA4444
    kFormatXrgb8888,
    { 32, { 0, 8 }, { 8, 8 }, { 16, 8 }, { 0, 0 } }, // XBGR
    { 32, { 24, 8 }, { 16, 8 }, { 8, 8 }, { 0, 8 } }, // RGBA
    { 32, { 8, 8 }, { 16, 8 }, { 24, 8 }, { 0, 0 } }, // BGRX
    { 32, { 16, 8 }, { 8, 8 }, { 0, 8 }, { 24, 8 } }, // ARGB
    { 32, { 20, 6 }, { 12, 6 }, { 4, 6 }, { 0, 0 } }, // green across the middle
    { 32, { 26, 5 }, { 9, 8 }, { 1, 3 }, { 18, 2 } },
};

// The panel as a one-pixel-at-a-time converter leaves it.
void reference_present(Rgb565Image const& image, PixelRect area, PanelBuffer const& panel, std::int32_t turn)
{
    std::int32_t const bytes = static_cast<std::int32_t>(panel.format.bits_per_pixel / 8);
    for (std::int32_t y = std::max(0, area.y); y < std::min(image.height, area.y + area.height); ++y)
        for (std::int32_t x = std::max(0, area.x); x < std::min(image.width, area.x + area.width); ++x) {
            std::uint16_t source;
            std::memcpy(&source,
                reinterpret_cast<std::uint8_t const*>(image.pixels) + static_cast<std::ptrdiff_t>(y) * image.pitch + 2 * x, 2);
            std::uint32_t const value = convert_pixel(source, panel.format);
            PanelPoint const at = program_to_panel({ x, y }, turn, image.width, image.height);
            std::uint8_t* to = panel.bytes + at.y * panel.stride + at.x * bytes;
            if (bytes == 2) {
                auto const narrow = static_cast<std::uint16_t>(value);
                std::memcpy(to, &narrow, 2);
            } else {
                std::memcpy(to, &value, 4);
            }
        }
}

struct Case {
    std::int32_t width, height, area_x, area_y, area_width, area_height;
};

void compare(std::mt19937& random, PixelFormat const& format, std::int32_t turn, Case const& c)
{
    // The picture starts one pixel into its memory and its rows are
    // padded, so that nothing depends on alignment or tight rows.
    std::int32_t const pitch_pixels = c.width + 3;
    std::vector<std::uint16_t> memory(static_cast<std::size_t>(pitch_pixels) * c.height + 1);
    for (auto& p : memory)
        p = static_cast<std::uint16_t>(random());
    Rgb565Image const image { memory.data() + 1, c.width, c.height, pitch_pixels * 2 };

    bool const odd = turn & 1;
    std::int32_t const pw = odd ? c.height : c.width, ph = odd ? c.width : c.height;
    std::int32_t const bytes = static_cast<std::int32_t>(format.bits_per_pixel / 8);
    std::int32_t const stride = pw * bytes + 4 * bytes + 2;
    std::vector<std::uint8_t> fast(static_cast<std::size_t>(stride) * ph + 64);
    for (auto& b : fast)
        b = static_cast<std::uint8_t>(random());
    std::vector<std::uint8_t> expected = fast;
    // The panel starts anywhere: odd addresses, and each pixel's place in a
    // line of the vector stores.
    std::size_t const start = random() % 64;
    PanelBuffer const fast_panel { fast.data() + start, pw, ph, stride, format };
    PanelBuffer const expected_panel { expected.data() + start, pw, ph, stride, format };
    PixelRect const area { c.area_x, c.area_y, c.area_width, c.area_height };

    ASSERT_TRUE(present_rgb565(image, area, fast_panel, turn));
    reference_present(image, area, expected_panel, turn);
    for (std::size_t i = 0; i < fast.size(); ++i)
        ASSERT_EQ(fast[i], expected[i]) << "format " << format.bits_per_pixel << " red at " << format.red.offset
                                        << ", turn " << turn << ", " << c.width << " x " << c.height << ", area "
                                        << c.area_x << "," << c.area_y << " " << c.area_width << " x " << c.area_height
                                        << ": byte " << i;
}

}

TEST(FramebufferFastPath, whole_pictures_of_odd_sizes_match_the_plain_converter)
{
    std::mt19937 random(20261208);
    // Below, at and past the widths the vector code takes at a time, and
    // sizes that leave partial blocks on both sides.
    std::vector<Case> const cases { { 1, 1, 0, 0, 1, 1 }, { 7, 3, 0, 0, 7, 3 }, { 8, 8, 0, 0, 8, 8 },
        { 16, 9, 0, 0, 16, 9 }, { 17, 17, 0, 0, 17, 17 }, { 33, 21, 0, 0, 33, 21 }, { 67, 45, 0, 0, 67, 45 } };
    for (PixelFormat const& format : kFormats)
        for (std::int32_t turn = 0; turn < 4; ++turn)
            for (Case const& c : cases)
                compare(random, format, turn, c);
}

TEST(FramebufferFastPath, random_update_areas_match_the_plain_converter)
{
    std::mt19937 random(7);
    for (PixelFormat const& format : kFormats)
        for (std::int32_t turn = 0; turn < 4; ++turn)
            for (int round = 0; round < 12; ++round) {
                std::int32_t const w = 1 + static_cast<std::int32_t>(random() % 80);
                std::int32_t const h = 1 + static_cast<std::int32_t>(random() % 60);
                // Areas may reach past any side: only the picture is drawn.
                std::int32_t const x = static_cast<std::int32_t>(random() % (w + 8)) - 4;
                std::int32_t const y = static_cast<std::int32_t>(random() % (h + 8)) - 4;
                std::int32_t const aw = static_cast<std::int32_t>(random() % (w + 8));
                std::int32_t const ah = static_cast<std::int32_t>(random() % (h + 8));
                compare(random, format, turn, { w, h, x, y, aw, ah });
            }
}
