#include "JpegTestPictures.h"
#include "imaging/JpegCodec.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace qv;

namespace {

// The picture with its frame marker replaced and its sample precision set.
std::vector<std::uint8_t> with_frame(std::vector<std::uint8_t> bytes, std::uint8_t marker, std::uint8_t precision)
{
    for (std::size_t i = 2; i + 4 < bytes.size(); ++i) {
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xC0) {
            bytes[i + 1] = marker;
            bytes[i + 4] = precision;
            break;
        }
    }
    return bytes;
}


}

TEST(JpegProbe, tells_the_layouts_apart_from_the_headers_alone)
{
    test::PictureShape shape;
    shape.width = 300;
    shape.height = 200;
    auto const baseline = probe_jpeg(test::make_jpeg(shape));
    ASSERT_EQ(baseline.problem, PictureProblem::None);
    EXPECT_EQ(baseline.info.width, 300);
    EXPECT_EQ(baseline.info.height, 200);
    EXPECT_EQ(baseline.info.components, 3);
    EXPECT_TRUE(baseline.info.direct);
    EXPECT_EQ(baseline.info.orientation, 1);
    // 4:2:0 in whole MCUs: 19 × 13 of them, six blocks each.
    EXPECT_EQ(baseline.info.coefficient_bytes, 19u * 13u * 6u * 128u);

    shape.progressive = true;
    auto bytes = test::make_jpeg(shape);
    auto const progressive = probe_jpeg(bytes);
    EXPECT_FALSE(progressive.info.direct);
    EXPECT_TRUE(progressive.info.transcodable);

    // Only the first scan's header is read: a picture cut right after it
    // still probes well, its damage shows in a decode.
    bytes.resize(test::scan_data_offset(bytes) + 10);
    EXPECT_EQ(probe_jpeg(bytes).problem, PictureProblem::None);

    auto const phone = probe_jpeg(test::with_segment(test::make_jpeg(shape), test::exif_segment(8)));
    EXPECT_EQ(phone.info.orientation, 8);
}

TEST(JpegProbe, names_what_is_wrong_with_pictures_that_cannot_be_shown)
{
    auto const picture = test::make_jpeg(test::PictureShape {});
    EXPECT_EQ(probe_jpeg(std::span<std::uint8_t const>()).problem, PictureProblem::Empty);
    std::string const text = "just some text";
    EXPECT_EQ(probe_jpeg(std::span(reinterpret_cast<std::uint8_t const*>(text.data()), text.size())).problem,
        PictureProblem::NotPicture);
    EXPECT_EQ(probe_jpeg(with_frame(picture, 0xC1, 12)).problem, PictureProblem::Precision);
    EXPECT_EQ(probe_jpeg(with_frame(picture, 0xC3, 8)).problem, PictureProblem::Unsupported);
    EXPECT_EQ(probe_jpeg(std::span(picture.data(), 40)).problem, PictureProblem::Damaged);

    test::TempDir dir;
    EXPECT_EQ(probe_jpeg(dir.program_path("none.jpg")).problem, PictureProblem::Missing);
    test::write_bytes(dir / "empty.jpg", std::string());
    EXPECT_EQ(diagnose_picture(dir.program_path("empty.jpg")), PictureProblem::Empty);
    auto cut = picture;
    cut.resize(cut.size() * 2 / 3);
    test::write_bytes(dir / "cut.jpg", cut);
    EXPECT_EQ(diagnose_picture(dir.program_path("cut.jpg")), PictureProblem::Damaged);
    test::write_bytes(dir / "whole.jpg", picture);
    EXPECT_EQ(diagnose_picture(dir.program_path("whole.jpg")), PictureProblem::None);
}

TEST(JpegProbe, refuses_sizes_no_decode_can_afford_before_decoding_anything)
{
    test::PictureShape shape;
    auto const baseline = test::make_jpeg(shape);
    shape.progressive = true;
    auto const progressive = test::make_jpeg(shape);

    // A few bytes can claim 4.3 gigapixels.
    EXPECT_EQ(probe_jpeg(test::with_frame_size(baseline, 65500, 65500)).problem, PictureProblem::TooLarge);
    EXPECT_EQ(probe_jpeg(test::with_frame_size(baseline, 30001, 16)).problem, PictureProblem::TooLarge);
    EXPECT_EQ(probe_jpeg(test::with_frame_size(baseline, 16, 30001)).problem, PictureProblem::TooLarge);
    EXPECT_EQ(probe_jpeg(test::with_frame_size(baseline, 30000, 13334)).problem, PictureProblem::TooLarge) << "over 400 megapixels";
    // Read row by row, a baseline picture of 400 megapixels costs a few
    // rows; read whole as coefficients, a progressive one costs 1.2 GB.
    EXPECT_EQ(probe_jpeg(test::with_frame_size(baseline, 20000, 20000)).problem, PictureProblem::None);
    EXPECT_EQ(probe_jpeg(test::with_frame_size(progressive, 20000, 20000)).problem, PictureProblem::TooLarge);
    EXPECT_EQ(probe_jpeg(test::with_frame_size(progressive, 8000, 6000)).problem, PictureProblem::None);

    test::TempDir dir;
    test::write_bytes(dir / "huge.jpg", test::with_frame_size(baseline, 65500, 65500));
    EXPECT_EQ(diagnose_picture(dir.program_path("huge.jpg")), PictureProblem::TooLarge);
}
