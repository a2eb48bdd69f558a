#include "imaging/JpegRegion.h"
#include "imaging/JpegTestPictures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <memory>
#include <optional>

#include <jpeglib.h>

namespace qv {
namespace {

struct Errors {
    jpeg_error_mgr pub {};
    std::jmp_buf jump {};
};

// The library's own reduction to eighths/8, with the program's output
// settings and nothing replaced.
std::optional<test::Decoded> library_reduction(std::vector<std::uint8_t> const& bytes, int eighths)
{
    auto cinfo = std::make_unique<jpeg_decompress_struct>();
    auto errors = std::make_unique<Errors>();
    cinfo->err = jpeg_std_error(&errors->pub);
    errors->pub.error_exit = [](j_common_ptr c) { std::longjmp(reinterpret_cast<Errors*>(c->err)->jump, 1); };
    errors->pub.output_message = [](j_common_ptr) { };
    test::Decoded decoded;
    if (setjmp(errors->jump)) {
        jpeg_destroy_decompress(cinfo.get());
        return std::nullopt;
    }
    jpeg_create_decompress(cinfo.get());
    jpeg_mem_src(cinfo.get(), bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(cinfo.get(), TRUE);
    cinfo->out_color_space = JCS_RGB;
    cinfo->do_fancy_upsampling = FALSE;
    cinfo->scale_num = static_cast<unsigned>(eighths);
    cinfo->scale_denom = 8;
    jpeg_start_decompress(cinfo.get());
    decoded.width = static_cast<int>(cinfo->output_width);
    decoded.height = static_cast<int>(cinfo->output_height);
    decoded.rgb.resize(static_cast<std::size_t>(decoded.width) * static_cast<std::size_t>(decoded.height) * 3);
    while (cinfo->output_scanline < cinfo->output_height) {
        JSAMPROW rows[1] = { decoded.rgb.data() + static_cast<std::size_t>(cinfo->output_scanline) * static_cast<std::size_t>(decoded.width) * 3 };
        jpeg_read_scanlines(cinfo.get(), rows, 1);
    }
    jpeg_destroy_decompress(cinfo.get());
    return decoded;
}

std::optional<JpegRegion> whole(std::vector<std::uint8_t> const& bytes, int width, int height, int eighths)
{
    auto const size = jpeg_scaled_size(width, height, eighths);
    return decode_jpeg_region(bytes, eighths, Rect { 0, 0, size.width, size.height });
}

double luma(std::uint8_t const* p) { return 0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2]; }
double blue_difference(std::uint8_t const* p) { return -0.168736 * p[0] - 0.331264 * p[1] + 0.5 * p[2]; }
double red_difference(std::uint8_t const* p) { return 0.5 * p[0] - 0.418688 * p[1] - 0.081312 * p[2]; }

// The largest spread of either colour difference within the 2 x 2 squares
// at even places, leaving out squares where a channel was clamped (the
// clamp moves the colour differences).
double chroma_spread_in_pairs(std::vector<std::uint8_t> const& rgb, int width, int height)
{
    double spread = 0;
    for (int y = 0; y + 1 < height; y += 2)
        for (int x = 0; x + 1 < width; x += 2) {
            std::uint8_t const* p[4];
            bool clamped = false;
            for (int k = 0; k < 4; ++k) {
                p[k] = &rgb[(static_cast<std::size_t>(y + k / 2) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x + k % 2)) * 3];
                for (int c = 0; c < 3; ++c)
                    clamped = clamped || p[k][c] == 0 || p[k][c] == 255;
            }
            if (clamped)
                continue;
            for (auto difference : { blue_difference, red_difference }) {
                double low = 1e9, high = -1e9;
                for (auto const* pixel : p) {
                    low = std::min(low, difference(pixel));
                    high = std::max(high, difference(pixel));
                }
                spread = std::max(spread, high - low);
            }
        }
    return spread;
}

TEST(JpegScaledIdct, reduced_4_2_0_pictures_keep_the_librarys_luma_with_chroma_at_half_size_doubled)
{
    test::PictureShape const shape { 301, 203, 2, 2 };
    auto const bytes = test::make_jpeg(shape);
    for (int eighths : { 3, 5, 6, 7 }) {
        SCOPED_TRACE(eighths);
        auto const ours = whole(bytes, shape.width, shape.height, eighths);
        auto const library = library_reduction(bytes, eighths);
        ASSERT_TRUE(ours && library);
        ASSERT_EQ(ours->image.width, library->width);
        ASSERT_EQ(ours->image.height, library->height);
        int const width = library->width, height = library->height;
        // Luma is the library's own transform: only the colour conversion's
        // rounding stands between the two where neither is clamped.
        double worst = 0;
        int compared = 0;
        for (std::size_t i = 0; i < library->rgb.size(); i += 3) {
            auto clamped = [](std::uint8_t const* p) { return std::min({ p[0], p[1], p[2] }) == 0 || std::max({ p[0], p[1], p[2] }) == 255; };
            if (clamped(&ours->image.rgb[i]) || clamped(&library->rgb[i]))
                continue;
            worst = std::max(worst, std::fabs(luma(&ours->image.rgb[i]) - luma(&library->rgb[i])));
            ++compared;
        }
        EXPECT_GT(compared, width * height / 3);
        EXPECT_LT(worst, 2.0);
        // Chroma holds still over every 2 x 2 square, where the library's
        // larger transform lets it vary.
        EXPECT_LT(chroma_spread_in_pairs(ours->image.rgb, width, height), 4.0);
        EXPECT_GT(chroma_spread_in_pairs(library->rgb, width, height), 8.0);
    }
}

TEST(JpegScaledIdct, nothing_changes_where_the_library_needs_no_larger_chroma_transform)
{
    struct Case {
        test::PictureShape shape;
        int eighths;
    };
    // Full chroma, no chroma, chroma halved across only, and the scales whose
    // chroma transforms are the fast ones.
    for (Case const c : { Case { { 301, 203, 1, 1 }, 6 }, Case { { 301, 203, 1, 1, true }, 5 }, Case { { 301, 203, 2, 1 }, 6 },
             Case { { 301, 203, 2, 2 }, 1 }, Case { { 301, 203, 2, 2 }, 2 }, Case { { 301, 203, 2, 2 }, 4 },
             Case { { 301, 203, 2, 2 }, 8 } }) {
        SCOPED_TRACE(testing::Message() << c.shape.h_sampling << "x" << c.shape.v_sampling << (c.shape.grayscale ? " gray" : "") << " at " << c.eighths);
        auto const bytes = test::make_jpeg(c.shape);
        auto const ours = whole(bytes, c.shape.width, c.shape.height, c.eighths);
        auto const library = library_reduction(bytes, c.eighths);
        ASSERT_TRUE(ours && library);
        EXPECT_EQ(ours->image.rgb, library->rgb);
    }
}

}
}
