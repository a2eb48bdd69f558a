#include "CachePictures.h"
#include "imaging/JpegCodec.h"
#include "support/TestSupport.h"
#include "thumbcache/CacheBuilder.h"
#include "thumbcache/CacheFile.h"
#include "thumbcache/PieceCreator.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

using namespace qv;
namespace fs = std::filesystem;

namespace {

class PieceCreatorTest : public ::testing::Test {
protected:
    test::TempDir m_dir;

    WString root() const { return m_dir.program_path(); }
    WString picture(std::string const& name) const { return m_dir.program_path(name); }

    void make_cached_picture(std::string const& name, int width, int height)
    {
        test::make_cache_directory(root());
        ASSERT_TRUE(test::write_pattern_jpeg(m_dir / name, width, height));
        ASSERT_TRUE(create_picture_cache(picture(name), cache_file_name(picture(name), root())));
    }

    // Level L decoded whole: the picture for the top level, else the
    // level's own JPEG inside the cache file.
    std::unique_ptr<PixelBuffer> whole_level(std::string const& name, int level)
    {
        auto path = cache_file_name(picture(name), root());
        auto header = read_cache_header(path);
        int top = static_cast<int>(header->levels.size()) - 1;
        if (level == top)
            return test::decode_whole(picture(name));
        auto const& jpeg = header->levels[static_cast<size_t>(top - level)].jpeg;
        auto bytes = test::read_bytes(test::system_form(path));
        return decode_memory(std::span<std::uint8_t const>(bytes.data() + jpeg.offset, jpeg.length), Rgb565Packing::Dithered);
    }

    // Levels `lowest` to `highest` (-1: the top level).
    void expect_tiles_match_whole_levels(std::string const& name, int lowest = 0, int highest = -1)
    {
        CachePieceCreator creator(picture(name), root());
        int top = creator.top_level();
        for (int level = lowest; level <= (highest < 0 ? top : highest); ++level) {
            auto whole = whole_level(name, level);
            ASSERT_TRUE(whole) << "level " << level;
            int columns = (whole->width() + 255) / 256, rows = (whole->height() + 255) / 256;
            for (int row = 0; row < rows; ++row) {
                for (int column = 0; column < columns; ++column) {
                    std::unique_ptr<PixelBuffer> tile;
                    ASSERT_TRUE(creator.create_piece(level, column, row, tile)) << level << " " << column << " " << row;
                    int w = std::min(256, whole->width() - 256 * column);
                    int h = std::min(256, whole->height() - 256 * row);
                    int differing = 0;
                    for (int y = 0; y < h; ++y)
                        for (int x = 0; x < w; ++x)
                            differing += tile->at(x, y) != whole->at(256 * column + x, 256 * row + y);
                    ASSERT_EQ(differing, 0) << "level " << level << " tile " << column << "," << row;
                }
            }
            std::unique_ptr<PixelBuffer> outside;
            EXPECT_FALSE(creator.create_piece(level, columns, 0, outside));
            EXPECT_FALSE(creator.create_piece(level, 0, rows, outside));
        }
        std::unique_ptr<PixelBuffer> none;
        EXPECT_FALSE(creator.create_piece(top + 1, 0, 0, none));
        EXPECT_FALSE(creator.create_piece(-1, 0, 0, none));
    }
};

}

TEST_F(PieceCreatorTest, cache_tiles_equal_whole_levels_640_by_480)
{
    make_cached_picture("a.jpg", 640, 480);
    CachePieceCreator creator(picture("a.jpg"), root());
    EXPECT_EQ(creator.width(), 640);
    EXPECT_EQ(creator.height(), 480);
    EXPECT_EQ(creator.top_level(), 2);
    expect_tiles_match_whole_levels("a.jpg");
}

TEST_F(PieceCreatorTest, cache_tiles_equal_whole_levels_at_odd_and_large_sizes)
{
    make_cached_picture("odd.jpg", 1001, 777);
    expect_tiles_match_whole_levels("odd.jpg");
    make_cached_picture("big.jpg", 2560, 1920);
    expect_tiles_match_whole_levels("big.jpg");
}

TEST_F(PieceCreatorTest, levels_too_large_for_memory_pass_through_scratch_files)
{
    // 4200 x 2000: the first halved level (2100 x 1000) is built through a
    // scratch file, the ones below it in memory.
    make_cached_picture("wide.jpg", 4200, 2000);
    CachePieceCreator creator(picture("wide.jpg"), root());
    int const top = creator.top_level();
    ASSERT_EQ(top, 5);
    auto header = read_cache_header(cache_file_name(picture("wide.jpg"), root()));
    ASSERT_TRUE(header);
    for (int k = 1; k <= top; ++k) {
        auto whole = whole_level("wide.jpg", top - k);
        ASSERT_TRUE(whole) << k;
        EXPECT_EQ(whole->width(), 4200 >> k);
        EXPECT_EQ(whole->height(), 2000 >> k);
    }
    expect_tiles_match_whole_levels("wide.jpg", top - 2, top - 1);
    for (auto const& entry : fs::directory_iterator(test::make_cache_directory(root())))
        EXPECT_EQ(entry.path().filename().string().rfind("~build", 0), std::string::npos);
}

TEST_F(PieceCreatorTest, file_tiles_equal_the_scaled_decode)
{
    ASSERT_TRUE(test::write_pattern_jpeg(m_dir / "f.jpg", 640, 480));
    FilePieceCreator creator(picture("f.jpg"));
    ASSERT_TRUE(creator.is_valid());
    EXPECT_EQ(creator.top_level(), 2);
    for (int level = 0; level <= 2; ++level) {
        auto scaled = decode_scaled(picture("f.jpg"), 1 << (2 - level));
        ASSERT_TRUE(scaled);
        std::unique_ptr<PixelBuffer> tile;
        int last_column = (scaled->width() - 1) / 256;
        ASSERT_TRUE(creator.create_piece(level, last_column, 0, tile));
        int w = scaled->width() - 256 * last_column, h = std::min(256, scaled->height());
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                ASSERT_EQ(tile->at(x, y), scaled->at(256 * last_column + x, y));
    }
}

TEST_F(PieceCreatorTest, file_creators_refuse_scales_below_an_eighth_for_good)
{
    ASSERT_TRUE(test::write_pattern_jpeg(m_dir / "big.jpg", 2560, 1920));
    FilePieceCreator creator(picture("big.jpg"));
    ASSERT_EQ(creator.top_level(), 4);
    std::unique_ptr<PixelBuffer> tile;
    EXPECT_FALSE(creator.create_piece(0, 0, 0, tile)); // 1/16
    EXPECT_FALSE(creator.is_valid());
    EXPECT_FALSE(creator.create_piece(4, 0, 0, tile));

    test::write_bytes(m_dir / "junk.jpg", std::string("junk"));
    EXPECT_FALSE(FilePieceCreator(picture("junk.jpg")).is_valid());
}

TEST_F(PieceCreatorTest, damaged_cache_files_fail_tiles_never_the_program)
{
    make_cached_picture("a.jpg", 640, 480);
    auto path = cache_file_name(picture("a.jpg"), root());
    auto system = test::system_form(path);
    auto good = test::read_bytes(system);

    auto try_all_tiles = [&](std::vector<unsigned char> const& bytes) {
        test::write_bytes(system, bytes);
        CachePieceCreator creator(picture("a.jpg"), root());
        EXPECT_TRUE(creator.is_valid());
        for (int level = 0; level <= 2; ++level) {
            for (int column = 0; column < 3; ++column) {
                for (int row = 0; row < 2; ++row) {
                    std::unique_ptr<PixelBuffer> tile;
                    creator.create_piece(level, column, row, tile);
                }
            }
        }
    };

    std::mt19937 random(11);
    for (int round = 0; round < 40; ++round) {
        auto damaged = good;
        for (int i = 0; i < 1 + round % 6; ++i)
            damaged[random() % damaged.size()] = static_cast<unsigned char>(random());
        try_all_tiles(damaged);
    }
    for (std::size_t field = 4; field < 53; ++field) {
        auto damaged = good;
        damaged[field] = 0xFF;
        try_all_tiles(damaged);
    }
    // Entry tables whose positions point past the stream.
    auto damaged = good;
    for (std::size_t at = 53 + 11; at + 4 < 53 + 17 * 90; at += 17) {
        damaged[at + 3] = 0x7F;
    }
    try_all_tiles(damaged);
    auto truncated = good;
    truncated.resize(truncated.size() / 3);
    try_all_tiles(truncated);
    std::vector<unsigned char> noise(4096);
    for (auto& b : noise)
        b = static_cast<unsigned char>(random());
    noise[0] = 16;
    noise[1] = noise[2] = noise[3] = 0;
    try_all_tiles(noise);
}

TEST_F(PieceCreatorTest, size_comes_from_the_headers_and_the_full_size_table_only_serves_its_own_tiles)
{
    make_cached_picture("a.jpg", 640, 480);
    auto const system = test::system_form(cache_file_name(picture("a.jpg"), root()));
    auto bytes = test::read_bytes(system);
    // One entry fewer in the full-size table (its length at byte 9): it no
    // longer describes the picture, so no full-size tile can be cut.
    std::uint32_t length = bytes[9] | bytes[10] << 8 | bytes[11] << 16 | std::uint32_t(bytes[12]) << 24;
    ASSERT_GT(length, 2 * kEntrySize);
    length -= kEntrySize;
    for (int i = 0; i < 4; ++i)
        bytes[9 + i] = static_cast<unsigned char>(length >> (8 * i));
    test::reseal_cache(bytes);
    test::write_bytes(system, bytes);

    CachePieceCreator creator(picture("a.jpg"), root());
    EXPECT_EQ(creator.width(), 640);
    EXPECT_EQ(creator.height(), 480);
    std::unique_ptr<PixelBuffer> tile;
    EXPECT_FALSE(creator.create_piece(2, 0, 0, tile));
    EXPECT_FALSE(tile);
    // A table that does not describe its stream is damage, whatever the
    // checksum says: the file is marked to be built again.
    EXPECT_TRUE(creator.cache_damaged());
    EXPECT_FALSE(read_cache_header(cache_file_name(picture("a.jpg"), root())));

    // Without a readable first entry the size is unknown.
    for (int i = 0; i < 4; ++i)
        bytes[9 + i] = 0;
    test::reseal_cache(bytes);
    test::write_bytes(system, bytes);
    CachePieceCreator unsized(picture("a.jpg"), root());
    EXPECT_EQ(unsized.width(), 0);
    EXPECT_EQ(unsized.height(), 0);
}
