#include "CachePictures.h"
#include "imaging/JpegCodec.h"
#include "support/TestSupport.h"
#include "thumbcache/CacheBuilder.h"
#include "thumbcache/CacheFile.h"
#include "thumbcache/HalfEncoder.h"
#include "thumbcache/ThumbnailReader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace qv;
namespace fs = std::filesystem;

namespace {

class CacheBuilderTest : public ::testing::Test {
protected:
    test::TempDir m_dir;

    void SetUp() override { fs::create_directories(m_dir / "!quilvanecache"); }

    WString picture(std::string const& name) const { return m_dir.program_path(name); }
    WString cache(std::string const& name) const { return m_dir.program_path("!quilvanecache/" + name); }

    // Builds the cache of a pattern picture and reads back its header.
    CacheHeader build(int width, int height, std::string const& name = "p.jpg")
    {
        EXPECT_TRUE(test::write_pattern_jpeg(m_dir / name, width, height));
        EXPECT_TRUE(create_picture_cache(picture(name), cache(name + ".c")));
        auto header = read_cache_header(cache(name + ".c"));
        EXPECT_TRUE(header.has_value());
        return header.value_or(CacheHeader {});
    }

    std::unique_ptr<PixelBuffer> level_picture(std::string const& cache_name, CacheLevel const& level)
    {
        auto bytes = test::read_bytes(m_dir / "!quilvanecache" / cache_name);
        std::span<std::uint8_t const> jpeg(bytes.data() + level.jpeg.offset, level.jpeg.length);
        return decode_memory(jpeg);
    }

    // Where the thumbnail was cut from `source`: the cut must match the
    // expected window better than any window a few pixels away.
    void expect_thumbnail_cut_at(std::string const& cache_name, PixelBuffer const& source, int x, int y)
    {
        auto thumbnail = load_thumbnail(cache(cache_name));
        ASSERT_TRUE(thumbnail);
        double at_place = test::mean_difference(*thumbnail, 0, 0, source, x, y, 64, 64);
        EXPECT_LT(at_place, 10.0);
        for (auto [dx, dy] : { std::pair { 4, 0 }, { -4, 0 }, { 0, 4 }, { 0, -4 } }) {
            int sx = x + dx, sy = y + dy;
            if (sx < 0 || sy < 0 || sx + 64 > source.width() || sy + 64 > source.height())
                continue;
            EXPECT_LT(at_place, test::mean_difference(*thumbnail, 0, 0, source, sx, sy, 64, 64)) << dx << "," << dy;
        }
    }

    bool scratch_left() const
    {
        for (auto const& entry : fs::directory_iterator(m_dir / "!quilvanecache")) {
            if (entry.path().filename().string().rfind("~build", 0) == 0)
                return true;
        }
        return false;
    }
};

}

TEST(HalfEncoder, averages_two_by_two_blocks_rounding_half_up)
{
    std::vector<std::uint8_t> upper { 0, 10, 255, 1, 11, 255, 7, 7, 7 };
    std::vector<std::uint8_t> lower { 0, 10, 255, 2, 13, 254, 9, 9, 9 };
    std::vector<std::uint8_t> half(3);
    HalfEncoder::average_rows(upper, lower, half);
    EXPECT_EQ(half, (std::vector<std::uint8_t> { 1, 11, 255 })); // (3+2)/4, (44+2)/4, (1019+2)/4
}

TEST_F(CacheBuilderTest, a_640_by_480_picture_gets_two_levels_and_a_top_level_thumbnail)
{
    auto header = build(640, 480);
    ASSERT_EQ(header.levels.size(), 3u);
    EXPECT_EQ(header.levels[0].entries.offset, 53u) << "entries start right after the 53-byte header";
    // 16-pixel MCUs: band starts at MCU columns 0, 16 and 32 of 40, in 30 MCU rows.
    EXPECT_EQ(header.levels[0].entries.length, 3u * 30 * 17);
    auto level1 = level_picture("p.jpg.c", header.levels[1]);
    auto level2 = level_picture("p.jpg.c", header.levels[2]);
    ASSERT_TRUE(level1 && level2);
    EXPECT_EQ(level1->width(), 320);
    EXPECT_EQ(level1->height(), 240);
    EXPECT_EQ(level2->width(), 160);
    EXPECT_EQ(level2->height(), 120);
    EXPECT_EQ(header.levels[1].entries.offset, 53u + header.levels[0].entries.length) << "no gaps";
    EXPECT_EQ(header.levels[1].jpeg.offset, header.levels[1].entries.offset + header.levels[1].entries.length);
    EXPECT_EQ(header.thumbnail.offset + header.thumbnail.length, header.content_end);
    expect_thumbnail_cut_at("p.jpg.c", *level2, 48, 28);
    EXPECT_FALSE(scratch_left());
}

TEST_F(CacheBuilderTest, small_pictures_have_no_levels_and_halve_for_the_thumbnail)
{
    auto header = build(200, 150);
    ASSERT_EQ(header.levels.size(), 1u);
    EXPECT_EQ(header.levels[0].entries.offset, 21u);
    // The thumbnail comes from the picture halved once: 100 × 75.
    auto whole = test::decode_whole(picture("p.jpg"));
    auto half = PixelBuffer::create(100, 75);
    for (int y = 0; y < 75; ++y) {
        for (int x = 0; x < 100; ++x) {
            auto mean = [&](int shift, int mask) {
                int sum = 0;
                for (int d = 0; d < 4; ++d)
                    sum += (whole->at(2 * x + d % 2, 2 * y + d / 2) >> shift) & mask;
                return ((sum + 2) / 4) << shift;
            };
            half->at(x, y) = static_cast<std::uint16_t>(mean(11, 31) | mean(5, 63) | mean(0, 31));
        }
    }
    expect_thumbnail_cut_at("p.jpg.c", *half, 18, 5);
}

TEST_F(CacheBuilderTest, portraits_are_cut_nearer_the_top)
{
    auto header = build(480, 640);
    ASSERT_EQ(header.levels.size(), 3u);
    auto level2 = level_picture("p.jpg.c", header.levels[2]);
    ASSERT_TRUE(level2);
    EXPECT_EQ(level2->width(), 120);
    EXPECT_EQ(level2->height(), 160);
    expect_thumbnail_cut_at("p.jpg.c", *level2, 28, 24);
}

TEST_F(CacheBuilderTest, odd_sides_lose_their_last_row_and_column_at_every_halving)
{
    auto header = build(1001, 777);
    ASSERT_EQ(header.levels.size(), 3u);
    auto level1 = level_picture("p.jpg.c", header.levels[1]);
    auto level2 = level_picture("p.jpg.c", header.levels[2]);
    ASSERT_TRUE(level1 && level2);
    EXPECT_EQ(level1->width(), 500);
    EXPECT_EQ(level1->height(), 388);
    EXPECT_EQ(level2->width(), 250);
    EXPECT_EQ(level2->height(), 194);
}

TEST_F(CacheBuilderTest, large_pictures_get_a_level_per_halving)
{
    auto header = build(2560, 1920);
    EXPECT_EQ(header.levels.size(), 5u);
    auto smallest = level_picture("p.jpg.c", header.levels[4]);
    ASSERT_TRUE(smallest);
    EXPECT_EQ(smallest->width(), 160);
}

TEST_F(CacheBuilderTest, pictures_smaller_than_the_thumbnail_still_get_one)
{
    auto header = build(40, 30);
    ASSERT_EQ(header.levels.size(), 1u);
    auto thumbnail = load_thumbnail(cache("p.jpg.c"));
    ASSERT_TRUE(thumbnail);
    EXPECT_EQ(thumbnail->width(), 64);
}

TEST_F(CacheBuilderTest, broken_pictures_fail_with_their_reason_leaving_nothing_valid)
{
    PictureProblem problem = PictureProblem::None;
    test::write_bytes(m_dir / "text.jpg", std::string("not a picture at all"));
    EXPECT_FALSE(create_picture_cache(picture("text.jpg"), cache("text"), nullptr, &problem));
    EXPECT_FALSE(is_cache_file_valid(cache("text")));
    EXPECT_EQ(problem, PictureProblem::NotPicture);

    // A header claiming 65500 × 65500 is refused before any decode, with
    // no cache of the size it claims.
    ASSERT_TRUE(test::write_pattern_jpeg(m_dir / "small.jpg", 64, 48));
    test::write_bytes(m_dir / "huge.jpg", test::with_frame_size(test::read_bytes(m_dir / "small.jpg"), 65500, 65500));
    EXPECT_FALSE(create_picture_cache(picture("huge.jpg"), cache("huge"), nullptr, &problem));
    EXPECT_EQ(problem, PictureProblem::TooLarge);
    EXPECT_FALSE(fs::exists(m_dir / "!quilvanecache" / "huge"));

    test::write_bytes(m_dir / "empty.jpg", std::string());
    EXPECT_FALSE(create_picture_cache(picture("empty.jpg"), cache("empty"), nullptr, &problem));
    EXPECT_EQ(problem, PictureProblem::Empty);

    // Cut inside the data of a sequential and of a progressive picture: the
    // headers read well, the reason comes from the decode.
    ASSERT_TRUE(test::write_pattern_jpeg(m_dir / "cut.jpg", 640, 480));
    ASSERT_TRUE(test::write_progressive_jpeg(m_dir / "cutprog.jpg", 640, 480));
    for (auto const* name : { "cut", "cutprog" }) {
        auto const file = m_dir / (std::string(name) + ".jpg");
        auto bytes = test::read_bytes(file);
        bytes.resize(bytes.size() / 2);
        test::write_bytes(file, bytes);
        problem = PictureProblem::None;
        EXPECT_FALSE(create_picture_cache(picture(std::string(name) + ".jpg"), cache(name), nullptr, &problem));
        EXPECT_EQ(problem, PictureProblem::Damaged) << name;
        EXPECT_FALSE(is_cache_file_valid(cache(name)));
    }
    EXPECT_FALSE(scratch_left());

    // Not the picture's fault: the cache cannot be written.
    EXPECT_FALSE(create_picture_cache(picture("p.jpg"), m_dir.program_path("no/such/dir/c"), nullptr, &problem));
    ASSERT_TRUE(test::write_pattern_jpeg(m_dir / "good.jpg", 64, 48));
    EXPECT_FALSE(create_picture_cache(picture("good.jpg"), m_dir.program_path("no/such/dir/c"), nullptr, &problem));
    EXPECT_EQ(problem, PictureProblem::Storage);
}

TEST_F(CacheBuilderTest, a_stopped_build_leaves_no_valid_file)
{
    ASSERT_TRUE(test::write_pattern_jpeg(m_dir / "p.jpg", 640, 480));
    std::atomic<bool> stop { true };
    EXPECT_FALSE(create_picture_cache(picture("p.jpg"), cache("p"), &stop));
    EXPECT_FALSE(is_cache_file_valid(cache("p")));
    EXPECT_FALSE(scratch_left());
}

TEST_F(CacheBuilderTest, a_file_appears_under_its_cache_name_only_when_complete)
{
    // A rebuild that fails takes the older file with it, as a build that
    // truncates its file first would.
    std::string const name = "640-20240101000000.000000000";
    ASSERT_TRUE(test::write_pattern_jpeg(m_dir / "p.jpg", 640, 480));
    ASSERT_TRUE(create_picture_cache(picture("p.jpg"), cache(name)));
    ASSERT_TRUE(is_cache_file_valid(cache(name)));
    std::atomic<bool> stop { true };
    EXPECT_FALSE(create_picture_cache(picture("p.jpg"), cache(name), &stop));
    EXPECT_FALSE(fs::exists(m_dir / "!quilvanecache" / name));

    // A successful one replaces a file of ours cut short whole and leaves
    // nothing else behind.
    test::write_bytes(m_dir / "!quilvanecache" / name, std::string("\x10\0\0\0", 4) + std::string(5000, '\0'));
    ASSERT_TRUE(create_picture_cache(picture("p.jpg"), cache(name)));
    auto const header = read_cache_header(cache(name));
    ASSERT_TRUE(header);
    EXPECT_EQ(header->levels.size(), 3u);
    ASSERT_TRUE(header->identity);
    EXPECT_EQ(header->identity->size, fs::file_size(m_dir / "p.jpg"));
    EXPECT_FALSE(scratch_left());
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir / "!quilvanecache"), fs::directory_iterator()), 1);
}

TEST_F(CacheBuilderTest, thumbnails_of_damaged_files_are_refused)
{
    build(640, 480);
    auto good = test::read_bytes(m_dir / "!quilvanecache" / "p.jpg.c");
    auto damaged = good;
    damaged[4] = 250; // thumbnail range read from far away
    test::write_bytes(m_dir / "!quilvanecache" / "d", damaged);
    EXPECT_FALSE(load_thumbnail(cache("d")));
    damaged = good;
    damaged[13 + 32 + 4] = 0xFF; // thumbnail length
    damaged[13 + 32 + 7] = 0x7F;
    test::write_bytes(m_dir / "!quilvanecache" / "d", damaged);
    EXPECT_FALSE(load_thumbnail(cache("d")));
    damaged = good;
    damaged[0] = 0;
    test::write_bytes(m_dir / "!quilvanecache" / "d", damaged);
    EXPECT_FALSE(load_thumbnail(cache("d")));
    EXPECT_TRUE(load_thumbnail(cache("p.jpg.c")));
}
