#include "platform/Framebuffer.h"
#include "platform/FramebufferFormat.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace qv::platform;

namespace {

// A picture whose every pixel differs, so a misplaced one shows.
std::vector<std::uint16_t> numbered(std::int32_t w, std::int32_t h)
{
    std::vector<std::uint16_t> pixels(static_cast<std::size_t>(w) * h);
    for (std::size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<std::uint16_t>(i * 2654435761u >> 7);
    return pixels;
}

PixelFormat const kBgrx8888 { 32, { 8, 8 }, { 16, 8 }, { 24, 8 }, { 0, 0 } };
PixelFormat const kArgb8888 { 32, { 16, 8 }, { 8, 8 }, { 0, 8 }, { 24, 8 } };
PixelFormat const kBgr565 { 16, { 0, 5 }, { 5, 6 }, { 11, 5 }, { 0, 0 } };
PixelFormat const kRgb555 { 16, { 10, 5 }, { 5, 5 }, { 0, 5 }, { 0, 0 } };

std::uint32_t read_panel(PanelBuffer const& panel, std::int32_t x, std::int32_t y)
{
    std::uint8_t const* at = panel.bytes + y * panel.stride + x * static_cast<std::int32_t>(panel.format.bits_per_pixel / 8);
    if (panel.format.bits_per_pixel == 16) {
        std::uint16_t v;
        std::memcpy(&v, at, 2);
        return v;
    }
    std::uint32_t v;
    std::memcpy(&v, at, 4);
    return v;
}

}

TEST(FramebufferPixels, channels_land_where_the_bit_fields_say)
{
    EXPECT_EQ(convert_pixel(0xFFFF, kFormatXrgb8888), 0x00FFFFFFu);
    EXPECT_EQ(convert_pixel(0xF800, kFormatXrgb8888), 0x00FF0000u);
    EXPECT_EQ(convert_pixel(0x07E0, kFormatXrgb8888), 0x0000FF00u);
    EXPECT_EQ(convert_pixel(0x001F, kFormatXrgb8888), 0x000000FFu);
    EXPECT_EQ(convert_pixel(0x001F, kBgrx8888), 0xFF000000u);
    EXPECT_EQ(convert_pixel(0xF800, kBgr565), 0x001Fu);
    EXPECT_EQ(convert_pixel(0x8410, kFormatRgb565), 0x8410u);
    // A present alpha channel is made opaque, never left transparent.
    EXPECT_EQ(convert_pixel(0x0000, kArgb8888), 0xFF000000u);
    // 5-bit green keeps the top bits of the program's six.
    EXPECT_EQ(convert_pixel(0x07E0, kRgb555), 0x03E0u);
}

TEST(FramebufferPixels, every_program_pixel_survives_the_round_trip)
{
    for (PixelFormat const& f : { kFormatRgb565, kFormatXrgb8888, kBgrx8888, kArgb8888, kBgr565 }) {
        for (std::uint32_t p = 0; p < 0x10000; ++p)
            ASSERT_EQ(panel_pixel_to_rgb565(convert_pixel(static_cast<std::uint16_t>(p), f), f), p)
                << "format " << f.bits_per_pixel << " red at " << f.red.offset;
    }
}

TEST(FramebufferPixels, unusable_formats_are_refused)
{
    EXPECT_TRUE(is_supported(kFormatRgb565));
    EXPECT_TRUE(is_supported(kArgb8888));
    EXPECT_FALSE(is_supported(PixelFormat { 24, { 16, 8 }, { 8, 8 }, { 0, 8 }, {} }));
    EXPECT_FALSE(is_supported(PixelFormat { 32, { 16, 10 }, { 8, 8 }, { 0, 8 }, {} }));
    EXPECT_FALSE(is_supported(PixelFormat { 16, { 11, 5 }, { 4, 6 }, { 0, 5 }, {} })); // overlap
    EXPECT_FALSE(is_supported(PixelFormat { 16, { 12, 5 }, { 5, 6 }, { 0, 5 }, {} })); // past the pixel
    std::uint16_t pixel = 0xFFFF;
    std::uint8_t panel[3] = { 1, 2, 3 };
    EXPECT_FALSE(present_rgb565({ &pixel, 1, 1, 2 }, { 0, 0, 1, 1 },
        { panel, 1, 1, 3, PixelFormat { 24, { 16, 8 }, { 8, 8 }, { 0, 8 }, {} } }, 0));
    EXPECT_EQ(panel[0], 1);
}

TEST(FramebufferPixels, points_turn_and_turn_back)
{
    std::int32_t const w = 5, h = 3;
    for (std::int32_t turn = 0; turn < 4; ++turn)
        for (std::int32_t y = 0; y < h; ++y)
            for (std::int32_t x = 0; x < w; ++x) {
                PanelPoint const panel = program_to_panel({ x, y }, turn, w, h);
                EXPECT_EQ(panel_to_program(panel, turn, w, h), (PanelPoint { x, y }));
            }
    // A quarter turn puts the program's top-left corner at the panel's
    // bottom-left: the convention of the display layer's rotation driver.
    EXPECT_EQ(program_to_panel({ 0, 0 }, 1, w, h), (PanelPoint { 0, 4 }));
    EXPECT_EQ(panel_area({ 1, 0, 2, 1 }, 1, w, h), (PixelRect { 0, 2, 1, 2 }));
    EXPECT_EQ(panel_area({ -3, -3, 100, 100 }, 3, w, h), (PixelRect { 0, 0, 3, 5 }));
}

// Each format and turn: the area's pixels, and only they, arrive turned.
TEST(FramebufferPixels, only_the_update_area_is_copied_in_every_turn)
{
    std::int32_t const w = 13, h = 7;
    std::vector<std::uint16_t> picture = numbered(w, h);
    Rgb565Image const image { picture.data(), w, h, w * 2 };
    PixelRect const area { 3, 2, 6, 4 };
    for (PixelFormat const& f : { kFormatRgb565, kFormatXrgb8888, kBgrx8888, kBgr565 }) {
        for (std::int32_t turn = 0; turn < 4; ++turn) {
            bool const odd = turn & 1;
            std::int32_t const pw = odd ? h : w, ph = odd ? w : h, bytes = static_cast<std::int32_t>(f.bits_per_pixel / 8);
            std::int32_t const stride = pw * bytes + 8; // padded rows
            std::vector<std::uint8_t> memory(static_cast<std::size_t>(stride) * ph, 0xA5);
            PanelBuffer const panel { memory.data(), pw, ph, stride, f };
            ASSERT_TRUE(present_rgb565(image, area, panel, turn));
            std::uint32_t const untouched = bytes == 2 ? 0xA5A5u : 0xA5A5A5A5u;
            for (std::int32_t py = 0; py < ph; ++py)
                for (std::int32_t px = 0; px < pw; ++px) {
                    PanelPoint const p = panel_to_program({ px, py }, turn, w, h);
                    bool const inside = p.x >= area.x && p.x < area.x + area.width && p.y >= area.y
                        && p.y < area.y + area.height;
                    std::uint32_t const got = read_panel(panel, px, py);
                    if (inside)
                        ASSERT_EQ(panel_pixel_to_rgb565(got, f), picture[p.y * w + p.x]) << turn << " " << px << "," << py;
                    else
                        ASSERT_EQ(got, untouched) << "turn " << turn << " wrote outside at " << px << "," << py;
                }
            // The padding past each row stays as it was.
            EXPECT_EQ(memory[pw * bytes], 0xA5);
        }
    }
}

TEST(FramebufferPixels, sizes_that_do_not_fit_the_turn_are_refused)
{
    std::vector<std::uint16_t> picture = numbered(4, 2);
    std::vector<std::uint8_t> memory(64, 0);
    Rgb565Image const image { picture.data(), 4, 2, 8 };
    EXPECT_FALSE(present_rgb565(image, { 0, 0, 4, 2 }, { memory.data(), 4, 2, 8, kFormatRgb565 }, 1));
    EXPECT_TRUE(present_rgb565(image, { 0, 0, 4, 2 }, { memory.data(), 2, 4, 4, kFormatRgb565 }, 1));
}

TEST(FramebufferPixels, a_test_mode_names_size_and_depth)
{
    auto const rgb565 = parse_framebuffer_mode("480x640:16");
    ASSERT_TRUE(rgb565);
    EXPECT_EQ(rgb565->width, 480);
    EXPECT_EQ(rgb565->height, 640);
    EXPECT_EQ(rgb565->format, kFormatRgb565);
    auto const xrgb = parse_framebuffer_mode("640x480:32");
    ASSERT_TRUE(xrgb);
    EXPECT_EQ(xrgb->format, kFormatXrgb8888);
    EXPECT_EQ(xrgb->pages, 1);
    auto const paged = parse_framebuffer_mode("640x480:16/2");
    ASSERT_TRUE(paged);
    EXPECT_EQ(paged->format, kFormatRgb565);
    EXPECT_EQ(paged->pages, 2);
    EXPECT_FALSE(parse_framebuffer_mode("640x480:32/3"));
    EXPECT_FALSE(parse_framebuffer_mode("640x480:24"));
    EXPECT_FALSE(parse_framebuffer_mode("640x480"));
    EXPECT_FALSE(parse_framebuffer_mode("640x480@96:16"));
    EXPECT_FALSE(parse_framebuffer_mode("0x480:16"));
}

TEST(FramebufferPixels, the_panel_orientation_and_density_come_from_what_the_kernel_reports)
{
    // The same turns as the console's rotation for the same panel: none,
    // a half turn, and the two quarter turns, which are each other's undoing.
    EXPECT_EQ(panel_turns_from_drm_name("Normal"), 0);
    EXPECT_EQ(panel_turns_from_drm_name("Upside Down"), 2);
    auto const left = panel_turns_from_drm_name("Left Side Up");
    auto const right = panel_turns_from_drm_name("Right Side Up");
    ASSERT_TRUE(left && right);
    EXPECT_EQ((*left + *right) % 4, 0);
    EXPECT_NE(*left, 0);
    EXPECT_EQ(*left % 2, 1);
    EXPECT_FALSE(panel_turns_from_drm_name(""));
    EXPECT_FALSE(panel_turns_from_drm_name("normal"));

    // A 7-inch 800-pixel-wide panel of 154 mm; a 5.5-inch phone panel.
    EXPECT_EQ(density_from_panel_size(800, 154), 132);
    EXPECT_EQ(density_from_panel_size(1080, 68), 403);
    // Unknown sizes, as drivers report them, and nonsense.
    EXPECT_FALSE(density_from_panel_size(800, 0));
    EXPECT_FALSE(density_from_panel_size(800, ~0u));
    EXPECT_FALSE(density_from_panel_size(0, 154));
    EXPECT_FALSE(density_from_panel_size(4000, 1));
}
