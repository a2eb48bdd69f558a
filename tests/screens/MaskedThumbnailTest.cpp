#include "screens/MaskedThumbnail.h"

#include "catalog/PictureStatus.h"
#include "imaging/JpegCodec.h"
#include "support/TestSupport.h"
#include "thumbcache/CacheBuilder.h"
#include "thumbcache/CacheFile.h"
#include "thumbcache/CacheLocation.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

namespace qv {
namespace {

using test::TempDir;

constexpr std::uint16_t kRed = 0xF800;
constexpr std::uint16_t kFrame = 0x4208; // a grey with the solid bit clear

TEST(ThumbnailMaskTest, key_cuts_solid_shows_and_frame_colours_mix_by_flag)
{
    rule::ThumbnailMask const plain {};
    EXPECT_EQ(plain.apply(kKeyColour, kRed), kKeyColour);
    EXPECT_EQ(plain.apply(0x07E0, kRed), kRed | kSolidFlag);
    EXPECT_EQ(plain.apply(kFrame, kRed), kFrame);

    // Each flag adds the thumbnail at its own brightness to the frame colour.
    std::uint16_t const d = 0x8410; // a mid grey: halves and quarters stay exact
    EXPECT_EQ(rule::ThumbnailMask { 0x100 }.apply(kFrame, d), static_cast<std::uint16_t>(kFrame + d));
    EXPECT_EQ(rule::ThumbnailMask { 0x80 }.apply(kFrame, d), kFrame + 0x4208);
    EXPECT_EQ(rule::ThumbnailMask { 0x40 }.apply(kFrame, d), kFrame + 0x2104);
    EXPECT_EQ(rule::ThumbnailMask { 0x1C0 }.apply(0, d), static_cast<std::uint16_t>(d + 0x4208 + 0x2104));
    // The sum is cut to 16 bits rather than clamped.
    EXPECT_EQ(rule::ThumbnailMask { 0x100 }.apply(0xFFDF, 0x0041), static_cast<std::uint16_t>(0xFFDF + 0x0041));
}

// A mask of `side` x `side`: key colour in the four corner pixels, a frame
// colour along the rest of the edge, solid inside.
PictureRef corner_mask(int side)
{
    auto buffer = PixelBuffer::create(side, side);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            bool const edge_x = x == 0 || x == side - 1, edge_y = y == 0 || y == side - 1;
            buffer->at(x, y) = edge_x && edge_y ? kKeyColour : edge_x || edge_y ? kFrame : kSolidFlag;
        }
    PictureRef ref;
    picture_from_buffer(ref, std::move(buffer));
    return ref;
}

class MaskedThumbnailTest : public ::testing::Test {
protected:
    TempDir m_dir;
    WString m_root { m_dir.program_path() + u"\\" };
    std::filesystem::path m_picture { m_dir / "red.jpg" };

    void SetUp() override
    {
        auto encoder = JpegEncoder::open(test::program_form(m_picture), 320, 240);
        ASSERT_TRUE(encoder);
        std::vector<std::uint8_t> row(320 * 3);
        for (int x = 0; x < 320; ++x)
            row[3 * x] = 255, row[3 * x + 1] = 0, row[3 * x + 2] = 0;
        for (int y = 0; y < 240; ++y)
            ASSERT_TRUE(encoder->write_row(row));
        ASSERT_TRUE(encoder->finish());
        std::filesystem::create_directories(test::system_form(cache_directory_of(m_root)));
    }

    WString cache() const { return cache_file_name(test::program_form(m_picture), m_root); }
    ThumbnailState load(WString const& picture, PictureRef const& mask, PictureRef& out) const
    {
        return load_masked_thumbnail(read_picture_status(picture, m_root), Size { 44, 44 }, mask, out);
    }
};

TEST_F(MaskedThumbnailTest, a_picture_without_cache_is_loading_until_built_then_ready_and_masked)
{
    PictureRef out;
    PictureRef const mask = corner_mask(44);
    EXPECT_EQ(load(test::program_form(m_picture), mask, out), ThumbnailState::Loading);
    EXPECT_TRUE(out.is_empty());

    ASSERT_TRUE(create_picture_cache(test::program_form(m_picture), cache()));
    ASSERT_EQ(load(test::program_form(m_picture), mask, out), ThumbnailState::Ready);
    auto const* picture = dynamic_cast<BitmapPicture const*>(out.picture.get());
    ASSERT_NE(picture, nullptr);
    ASSERT_EQ(out.size(), (Size { 44, 44 }));
    ASSERT_NE(picture->buffer(), nullptr);
    PixelBuffer const& pixels = *picture->buffer();
    EXPECT_EQ(pixels.at(0, 0), kKeyColour);
    EXPECT_EQ(pixels.at(43, 43), kKeyColour);
    EXPECT_EQ(pixels.at(20, 0), kFrame);
    std::uint16_t const inside = pixels.at(22, 22);
    EXPECT_TRUE(inside & kSolidFlag);
    EXPECT_GE(inside >> 11, 28) << "the red picture shows inside";
    EXPECT_LE((inside >> 5) & 63, 8);
}

TEST_F(MaskedThumbnailTest, a_missing_picture_or_a_bad_cache_file_is_bad)
{
    PictureRef out;
    PictureRef const mask = corner_mask(44);
    EXPECT_EQ(load(m_dir.program_path("absent.jpg"), mask, out), ThumbnailState::Bad);

    // A marker of the picture says it cannot be read; an empty file says
    // nothing of any picture, and the picture is built again.
    auto const identity = identify_picture(test::program_form(m_picture), m_root);
    ASSERT_TRUE(identity);
    test::write_bytes(test::system_form(cache()), identity_record(*identity, PictureProblem::Damaged));
    EXPECT_EQ(load(test::program_form(m_picture), mask, out), ThumbnailState::Bad);
    test::write_bytes(test::system_form(cache()), std::string());
    EXPECT_EQ(load(test::program_form(m_picture), mask, out), ThumbnailState::Loading);

    // A complete mark over a damaged body, with the picture's own record:
    // its thumbnail is never read, and the file is built again.
    auto damaged = std::vector<std::uint8_t> { 0x10, 0, 0, 0, 2, 'g', 'a', 'r', 'b', 'a', 'g', 'e' };
    auto const record = identity_record(*identity, PictureProblem::None);
    damaged.insert(damaged.end(), record.begin(), record.end());
    test::write_bytes(test::system_form(cache()), damaged);
    EXPECT_EQ(load(test::program_form(m_picture), mask, out), ThumbnailState::Loading);
    EXPECT_TRUE(out.is_empty());
}

}
}
