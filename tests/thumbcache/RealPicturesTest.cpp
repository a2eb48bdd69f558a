// Pictures as people have them: progressive, arithmetic-coded, multi-scan
// and CMYK files, phone pictures stored turned with an Exif orientation,
// and the cache files that sequential pictures had before any of this.

#include "CachePictures.h"
#include "imaging/Exif.h"
#include "imaging/JpegCodec.h"
#include "support/TestSupport.h"
#include "thumbcache/CacheBuilder.h"
#include "thumbcache/CacheFile.h"
#include "thumbcache/PieceCreator.h"
#include "thumbcache/ThumbnailReader.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace qv;
namespace fs = std::filesystem;

namespace {

class RealPicturesTest : public ::testing::Test {
protected:
    test::TempDir m_dir;

    void SetUp() override { test::make_cache_directory(root()); }

    WString root() const { return m_dir.program_path(); }
    WString picture(std::string const& name) const { return m_dir.program_path(name); }
    WString cache(std::string const& name) const { return cache_file_name(picture(name), root()); }

    std::string quoted(std::string const& name) const { return "'" + (m_dir / name).string() + "'"; }

    // The pattern in every layout that the entry points cannot describe.
    void make_multiscan_kinds(int width, int height)
    {
        ASSERT_TRUE(test::write_ppm(m_dir / "p.ppm", width, height));
        test::write_bytes(m_dir / "scans.txt", std::string("0;\n1;\n2;\n"));
        ASSERT_TRUE(test::run_tool("cjpeg -progressive -outfile " + quoted("progressive.jpg") + " " + quoted("p.ppm")));
        ASSERT_TRUE(test::run_tool("cjpeg -arithmetic -outfile " + quoted("arithmetic.jpg") + " " + quoted("p.ppm")));
        ASSERT_TRUE(test::run_tool("cjpeg -scans " + quoted("scans.txt") + " -outfile " + quoted("multiscan.jpg") + " "
            + quoted("p.ppm")));
        ASSERT_TRUE(test::run_tool("cjpeg -grayscale -progressive -outfile " + quoted("gray_progressive.jpg") + " "
            + quoted("p.ppm")));
        ASSERT_TRUE(test::run_tool("cjpeg -sample 1x1 -progressive -arithmetic -outfile " + quoted("444_both.jpg") + " "
            + quoted("p.ppm")));
    }

    // Every tile of every level of the cache against the same region of
    // `expected(level)`; `tolerance` 0 asks for equal pixels.
    template<class Expected>
    void expect_tiles(PieceCreator& creator, Expected expected, double tolerance, int levels_from_top = 99)
    {
        int const top = creator.top_level();
        for (int level = top; level >= 0 && level > top - levels_from_top; --level) {
            auto whole = expected(level);
            ASSERT_TRUE(whole) << "level " << level;
            int width = 0, height = 0;
            ASSERT_TRUE(creator.level_size(level, width, height));
            EXPECT_EQ(width, whole->width());
            EXPECT_EQ(height, whole->height());
            for (int row = 0; row * 256 < whole->height(); ++row) {
                for (int column = 0; column * 256 < whole->width(); ++column) {
                    std::unique_ptr<PixelBuffer> tile;
                    ASSERT_TRUE(creator.create_piece(level, column, row, tile)) << level << " " << column << " " << row;
                    int const w = std::min(256, whole->width() - 256 * column);
                    int const h = std::min(256, whole->height() - 256 * row);
                    if (tolerance == 0) {
                        for (int y = 0; y < h; ++y)
                            for (int x = 0; x < w; ++x)
                                ASSERT_EQ(tile->at(x, y), whole->at(256 * column + x, 256 * row + y))
                                    << "level " << level << " tile " << column << "," << row << " at " << x << "," << y;
                    } else {
                        EXPECT_LT(test::mean_difference(*tile, 0, 0, *whole, 256 * column, 256 * row, w, h), tolerance);
                    }
                }
            }
        }
    }

    // A level of the cache decoded whole from its own JPEG.
    std::unique_ptr<PixelBuffer> stored_level(std::string const& name, int record)
    {
        auto header = read_cache_header(cache(name));
        if (!header || record >= static_cast<int>(header->levels.size()))
            return nullptr;
        auto const& jpeg = header->levels[static_cast<size_t>(record)].jpeg;
        auto bytes = test::read_bytes(test::system_form(cache(name)));
        return decode_memory(std::span<std::uint8_t const>(bytes.data() + jpeg.offset, jpeg.length), Rgb565Packing::Dithered);
    }

    std::unique_ptr<PixelBuffer> upright_decode(std::string const& name, int orientation)
    {
        auto stored = test::decode_whole(picture(name));
        if (!stored)
            return nullptr;
        bool const swap = orientation_swaps_sides(orientation);
        auto upright = PixelBuffer::create(swap ? stored->height() : stored->width(),
            swap ? stored->width() : stored->height());
        orient_pixels(orientation, stored->row(0), stored->pitch() / 2, stored->width(), stored->height(),
            upright->row(0), upright->pitch() / 2);
        return upright;
    }
};

}

TEST_F(RealPicturesTest, multiscan_pictures_get_full_size_tiles_equal_to_their_whole_decode)
{
    make_multiscan_kinds(700, 520);
    for (auto const* kind : { "progressive", "arithmetic", "multiscan", "gray_progressive", "444_both" }) {
        SCOPED_TRACE(kind);
        std::string const name = std::string(kind) + ".jpg";
        auto const probe = probe_jpeg(picture(name));
        ASSERT_EQ(probe.problem, PictureProblem::None);
        EXPECT_FALSE(probe.info.direct);
        EXPECT_TRUE(probe.info.transcodable);

        PictureProblem problem = PictureProblem::Missing;
        ASSERT_TRUE(create_picture_cache(picture(name), cache(name), nullptr, &problem));
        EXPECT_EQ(problem, PictureProblem::None);
        auto header = read_cache_header(cache(name));
        ASSERT_TRUE(header);
        EXPECT_TRUE(header->flags & kStoredStreamFlag);
        ASSERT_TRUE(load_thumbnail(cache(name)));

        // The stored copy holds the picture's own coefficients: its tiles
        // are the picture's pixels, not an approximation of them.
        CachePieceCreator creator(picture(name), root());
        EXPECT_EQ(creator.width(), 700);
        EXPECT_EQ(creator.height(), 520);
        expect_tiles(creator, [&](int) { return test::decode_whole(picture(name)); }, 0, 1);
        // The levels below come from that copy as a sequential picture's do.
        expect_tiles(creator, [&](int level) {
            return level == creator.top_level() ? test::decode_whole(picture(name))
                                                : stored_level(name, creator.top_level() - level);
        }, 0);
    }
}

TEST_F(RealPicturesTest, cmyk_and_ycck_pictures_are_shown_through_an_rgb_copy)
{
    for (bool ycck : { false, true }) {
        std::string const name = ycck ? "ycck.jpg" : "cmyk.jpg";
        SCOPED_TRACE(name);
        ASSERT_TRUE(test::write_cmyk_jpeg(m_dir / name, 600, 300, ycck));
        auto const probe = probe_jpeg(picture(name));
        EXPECT_EQ(probe.info.components, 4);
        EXPECT_FALSE(probe.info.transcodable);
        ASSERT_TRUE(create_picture_cache(picture(name), cache(name)));

        // Adobe's inverted inks with no black are the pattern's own RGB.
        CachePieceCreator creator(picture(name), root());
        ASSERT_EQ(creator.width(), 600);
        auto reference = PixelBuffer::create(600, 300);
        for (int y = 0; y < 300; ++y)
            convert_rgb_to_rgb565(test::pattern_row(600, y), reference->row(y));
        expect_tiles(creator, [&](int) { return test::decode_whole(picture(name)); }, 3.0, 1);
        std::unique_ptr<PixelBuffer> tile;
        ASSERT_TRUE(creator.create_piece(creator.top_level(), 1, 0, tile));
        EXPECT_LT(test::mean_difference(*tile, 0, 0, *reference, 256, 0, 256, 256), 4.0);
        ASSERT_TRUE(load_thumbnail(cache(name)));
    }
}

TEST_F(RealPicturesTest, pictures_too_large_to_copy_keep_their_levels_and_show_the_largest)
{
    ASSERT_TRUE(test::write_progressive_jpeg(m_dir / "big.jpg", 1100, 700));
    ASSERT_TRUE(create_picture_cache(picture("big.jpg"), cache("big.jpg"), nullptr, nullptr, 1000));
    auto header = read_cache_header(cache("big.jpg"));
    ASSERT_TRUE(header);
    EXPECT_FALSE(header->has_full_size());
    EXPECT_EQ(header->levels.size(), 4u) << "the same levels as with a copy";
    ASSERT_TRUE(load_thumbnail(cache("big.jpg")));

    CachePieceCreator creator(picture("big.jpg"), root());
    EXPECT_EQ(creator.width(), 550);
    EXPECT_EQ(creator.height(), 350);
    EXPECT_EQ(creator.top_level(), 2);
    expect_tiles(creator, [&](int level) { return stored_level("big.jpg", 3 - level); }, 0);
    std::unique_ptr<PixelBuffer> tile;
    EXPECT_FALSE(creator.create_piece(3, 0, 0, tile));

    // Its level 1 is the picture at half size, once more through JPEG.
    auto half = decode_scaled(picture("big.jpg"), 2);
    ASSERT_TRUE(creator.create_piece(2, 1, 1, tile));
    double const in_place = test::mean_difference(*tile, 0, 0, *half, 256, 256, 256, 94);
    EXPECT_LT(in_place, 8.0);
    EXPECT_LT(in_place * 2, test::mean_difference(*tile, 0, 0, *half, 240, 256, 256, 94));
}

TEST_F(RealPicturesTest, sequential_pictures_keep_their_cache_files_byte_for_byte)
{
    fs::path const data = fs::path(QUILVANE_SOURCE_DIR) / "tests/thumbcache/data";
    int compared = 0;
    for (auto const& entry : fs::directory_iterator(data)) {
        if (entry.path().extension() != ".jpg")
            continue;
        auto const name = entry.path().filename().string();
        SCOPED_TRACE(name);
        fs::copy_file(entry.path(), m_dir / name);
        ASSERT_TRUE(probe_jpeg(picture(name)).info.direct);
        ASSERT_TRUE(create_picture_cache(picture(name), cache(name)));
        auto expected = test::read_bytes(fs::path(entry.path()).replace_extension(".cache"));
        ASSERT_FALSE(expected.empty());
        // All but the identity record, which is the picture's own.
        auto const header = read_cache_header(cache(name));
        ASSERT_TRUE(header && header->identity);
        auto built = test::read_bytes(test::system_form(cache(name)));
        built.resize(static_cast<std::size_t>(header->content_end));
        EXPECT_EQ(built, expected);
        ++compared;
    }
    EXPECT_EQ(compared, 3);
}

TEST_F(RealPicturesTest, every_orientation_gives_the_upright_pictures_thumbnail_and_tiles)
{
    // Flat 64-pixel squares: the library's lossless turns of such a picture
    // decode to exactly the turned pixels, so the stored pictures below are
    // the upright one turned as a camera would have stored it.
    ASSERT_TRUE(test::write_ppm(m_dir / "up.ppm", 640, 384, test::squares_row));
    ASSERT_TRUE(test::run_tool("cjpeg -quality 90 -outfile " + quoted("upright.jpg") + " " + quoted("up.ppm")));
    ASSERT_TRUE(create_picture_cache(picture("upright.jpg"), cache("upright.jpg")));
    auto const upright_thumbnail = load_thumbnail(cache("upright.jpg"));
    ASSERT_TRUE(upright_thumbnail);
    auto const upright = test::decode_whole(picture("upright.jpg"));

    // What turns the upright picture into the stored one, by orientation.
    char const* const stored_by[9] = { nullptr, nullptr, "-flip horizontal", "-rotate 180", "-flip vertical",
        "-transpose", "-rotate 270", "-transverse", "-rotate 90" };
    for (int orientation = 2; orientation <= 8; ++orientation) {
        SCOPED_TRACE(orientation);
        std::string const turned = "turned" + std::to_string(orientation) + ".jpg";
        std::string const name = "phone" + std::to_string(orientation) + ".jpg";
        ASSERT_TRUE(test::run_tool(std::string("jpegtran -perfect ") + stored_by[orientation] + " -outfile "
            + quoted(turned) + " " + quoted("upright.jpg")));
        test::write_bytes(m_dir / name,
            test::with_segment(test::read_bytes(m_dir / turned), test::exif_segment(orientation)));
        ASSERT_EQ(probe_jpeg(picture(name)).info.orientation, orientation);
        ASSERT_TRUE(create_picture_cache(picture(name), cache(name)));

        auto thumbnail = load_thumbnail(cache(name));
        ASSERT_TRUE(thumbnail);
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x)
                ASSERT_EQ(thumbnail->at(x, y), upright_thumbnail->at(x, y)) << x << "," << y;

        // Tiles from the cache and from the file alike, at every level.
        auto from_cache = upright_creator(std::make_unique<CachePieceCreator>(picture(name), root()), orientation);
        EXPECT_EQ(from_cache->width(), 640);
        EXPECT_EQ(from_cache->height(), 384);
        expect_tiles(*from_cache, [&](int) { return upright_decode(name, orientation); }, 0, 1);
        auto from_file = std::make_unique<FilePieceCreator>(picture(name));
        EXPECT_EQ(from_file->orientation(), orientation);
        auto file_upright = upright_creator(std::move(from_file), orientation);
        expect_tiles(*file_upright, [&](int) { return upright_decode(name, orientation); }, 0, 1);
        // The same as the upright picture, but for the dither, which is
        // keyed to the places of the pixels as stored.
        expect_tiles(*file_upright, [&](int) { return test::decode_whole(picture("upright.jpg")); }, 5.0, 1);
    }
}

TEST_F(RealPicturesTest, cut_or_hostile_exif_blocks_leave_the_picture_as_stored)
{
    ASSERT_TRUE(test::write_pattern_jpeg(m_dir / "plain.jpg", 320, 200));
    auto const plain = test::read_bytes(m_dir / "plain.jpg");
    ASSERT_TRUE(create_picture_cache(picture("plain.jpg"), cache("plain.jpg")));
    auto const plain_thumbnail = load_thumbnail(cache("plain.jpg"));

    auto cut = test::exif_segment(6);
    cut.resize(cut.size() - 8); // the entry ends past the segment
    cut[3] = static_cast<std::uint8_t>(cut.size() - 2);
    auto hostile = test::exif_segment(6);
    hostile[14] = 0xFF; // IFD0 far beyond the block
    hostile[15] = 0xFF;
    auto wrong = test::exif_segment(9);
    int k = 0;
    for (auto const& segment : { cut, hostile, wrong }) {
        std::string const name = "odd" + std::to_string(k++) + ".jpg";
        SCOPED_TRACE(name);
        test::write_bytes(m_dir / name, test::with_segment(plain, segment));
        EXPECT_EQ(probe_jpeg(picture(name)).info.orientation, 1);
        ASSERT_TRUE(create_picture_cache(picture(name), cache(name)));
        auto thumbnail = load_thumbnail(cache(name));
        ASSERT_TRUE(thumbnail);
        EXPECT_EQ(test::mean_difference(*thumbnail, 0, 0, *plain_thumbnail, 0, 0, 64, 64), 0.0);
    }
}

TEST_F(RealPicturesTest, file_creators_read_headers_only_and_learn_a_cut_picture_from_its_first_tile)
{
    ASSERT_TRUE(test::write_progressive_jpeg(m_dir / "cut.jpg", 900, 600));
    auto bytes = test::read_bytes(m_dir / "cut.jpg");
    bytes.resize(bytes.size() * 2 / 3);
    test::write_bytes(m_dir / "cut.jpg", bytes);

    FilePieceCreator creator(picture("cut.jpg"));
    EXPECT_TRUE(creator.is_valid());
    EXPECT_EQ(creator.width(), 900);
    EXPECT_EQ(creator.problem(), PictureProblem::None);
    std::unique_ptr<PixelBuffer> tile;
    EXPECT_FALSE(creator.create_piece(creator.top_level(), 0, 0, tile));
    EXPECT_FALSE(creator.is_valid());
    EXPECT_EQ(creator.problem(), PictureProblem::Damaged);

    test::write_bytes(m_dir / "text.jpg", std::string("hello"));
    FilePieceCreator text(picture("text.jpg"));
    EXPECT_FALSE(text.is_valid());
    EXPECT_EQ(text.problem(), PictureProblem::NotPicture);
}
