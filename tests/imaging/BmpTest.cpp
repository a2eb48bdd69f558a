#include "base/Log.h"
#include "base/Registry.h"
#include "imaging/Picture.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <vector>

using namespace qv;

namespace {

void put16(std::vector<unsigned char>& out, std::size_t at, std::uint32_t v)
{
    out[at] = static_cast<unsigned char>(v);
    out[at + 1] = static_cast<unsigned char>(v >> 8);
}

void put32(std::vector<unsigned char>& out, std::size_t at, std::uint32_t v)
{
    put16(out, at, v & 0xFFFF);
    put16(out, at + 2, v >> 16);
}

// A BMP file as the Windows format lays it out: 14-byte file header, 40-byte
// information header, `gap` bytes, then the stored rows (each padded to 4
// bytes with 0xEE filler) in the order given.
std::vector<unsigned char> bmp_file(std::int32_t width, std::int32_t height, std::uint16_t bits,
    std::vector<std::vector<std::uint16_t>> const& stored_rows, std::uint32_t gap = 0)
{
    std::vector<unsigned char> out(54 + gap, 0xAB);
    out[0] = 'B';
    out[1] = 'M';
    put32(out, 10, 54 + gap);
    put32(out, 14, 40);
    put32(out, 18, static_cast<std::uint32_t>(width));
    put32(out, 22, static_cast<std::uint32_t>(height));
    put16(out, 26, 1);
    put16(out, 28, bits);
    put32(out, 30, 0);
    for (auto const& row : stored_rows) {
        std::size_t start = out.size();
        for (std::uint16_t p : row) {
            out.push_back(static_cast<unsigned char>(p));
            out.push_back(static_cast<unsigned char>(p >> 8));
        }
        while ((out.size() - start) % 4)
            out.push_back(0xEE);
    }
    return out;
}

std::unique_ptr<PixelBuffer> read(std::vector<unsigned char> const& bytes)
{
    MemoryByteSource source(bytes);
    return read_bmp_565(source);
}

std::vector<std::uint16_t> row_of(PixelBuffer const& b, int y) { return { b.row(y), b.row(y) + b.width() }; }

}

TEST(ReadBmp565, a_positive_height_stores_the_bottom_row_first)
{
    auto buffer = read(bmp_file(2, 3, 16, { { 1, 2 }, { 3, 4 }, { 5, 6 } }));
    ASSERT_TRUE(buffer);
    EXPECT_EQ(buffer->width(), 2);
    EXPECT_EQ(buffer->height(), 3);
    EXPECT_EQ(row_of(*buffer, 0), (std::vector<std::uint16_t> { 5, 6 }));
    EXPECT_EQ(row_of(*buffer, 2), (std::vector<std::uint16_t> { 1, 2 }));
}

TEST(ReadBmp565, a_negative_height_stores_the_top_row_first)
{
    auto buffer = read(bmp_file(2, -3, 16, { { 1, 2 }, { 3, 4 }, { 5, 6 } }));
    ASSERT_TRUE(buffer);
    EXPECT_EQ(buffer->height(), 3);
    EXPECT_EQ(row_of(*buffer, 0), (std::vector<std::uint16_t> { 1, 2 }));
    EXPECT_EQ(row_of(*buffer, 2), (std::vector<std::uint16_t> { 5, 6 }));
}

TEST(ReadBmp565, odd_widths_skip_the_row_padding_and_gaps_before_the_pixels)
{
    // Width 3: 6 bytes of pixels and 2 of padding per stored row.
    auto bytes = bmp_file(3, 2, 16, { { 0x1111, 0x2222, 0x3333 }, { 0x4444, 0x5555, 0x6666 } }, 10);
    ASSERT_EQ(bytes.size(), 54u + 10 + 2 * 8);
    auto buffer = read(bytes);
    ASSERT_TRUE(buffer);
    EXPECT_EQ(buffer->pitch(), 8);
    EXPECT_EQ(row_of(*buffer, 0), (std::vector<std::uint16_t> { 0x4444, 0x5555, 0x6666 }));
    EXPECT_EQ(row_of(*buffer, 1), (std::vector<std::uint16_t> { 0x1111, 0x2222, 0x3333 }));
}

TEST(ReadBmp565, other_bit_counts_are_refused)
{
    EXPECT_FALSE(read(bmp_file(2, 2, 24, { { 1, 2, 3 }, { 4, 5, 6 } })));
    EXPECT_FALSE(read(bmp_file(4, 2, 8, { { 1, 2 }, { 3, 4 } })));
    EXPECT_FALSE(read(bmp_file(2, 2, 32, { { 1, 2, 3, 4 }, { 5, 6, 7, 8 } })));
}

TEST(ReadBmp565, damaged_headers_fail_cleanly)
{
    struct Case {
        char const* what;
        std::int32_t width;
        std::int32_t height;
    } cases[] = {
        { "negative width", -2, 2 },
        { "width past the side limit", kMaxBmpSide + 1, 1 },
        { "height of INT_MIN", 2, INT_MIN },
        { "top-down height past the limit", 2, -(kMaxBmpSide + 1) },
        { "pixel count past the limit", kMaxBmpSide, kMaxBmpSide },
        { "huge width", INT_MAX, 1 },
    };
    for (auto const& c : cases)
        EXPECT_FALSE(read(bmp_file(c.width, c.height, 16, { { 1, 2 } }))) << c.what;

    auto early = bmp_file(2, 1, 16, { { 1, 2 } });
    put32(early, 10, 20); // pixel data inside the headers
    EXPECT_FALSE(read(early));

    auto whole = bmp_file(2, 1, 16, { { 1, 2 } });
    EXPECT_FALSE(read(std::vector<unsigned char>(whole.begin(), whole.begin() + 40))) << "cut inside the headers";
    EXPECT_FALSE(read({}));
}

TEST(ReadBmp565, the_largest_allowed_side_is_read)
{
    auto buffer = read(bmp_file(kMaxBmpSide, 1, 16, { std::vector<std::uint16_t>(kMaxBmpSide, 0x0F0F) }));
    ASSERT_TRUE(buffer);
    EXPECT_EQ(buffer->at(kMaxBmpSide - 1, 0), 0x0F0F);
}

TEST(ReadBmp565, rows_missing_from_a_short_file_are_black)
{
    auto bytes = bmp_file(2, 3, 16, { { 1, 2 }, { 3, 4 }, { 5, 6 } });
    bytes.resize(bytes.size() - 6); // the last stored row and half of the one before
    auto buffer = read(bytes);
    ASSERT_TRUE(buffer);
    EXPECT_EQ(row_of(*buffer, 2), (std::vector<std::uint16_t> { 1, 2 }));
    EXPECT_EQ(row_of(*buffer, 1), (std::vector<std::uint16_t> { 3, 0 }));
    EXPECT_EQ(row_of(*buffer, 0), (std::vector<std::uint16_t> { 0, 0 }));
}

class Load565 : public ::testing::Test {
protected:
    test::TempDir m_dir;
    test::ScopedEnv m_registry { "QUILVANE_REGISTRY", (m_dir / "registry.reg").string() };
    test::ScopedEnv m_temp { "TMPDIR", (m_dir / "tmp").string() };

    void SetUp() override
    {
        std::filesystem::create_directory(m_dir / "tmp");
        write_dword(kMakerKey, u"Log", 1);
    }

    void TearDown() override
    {
        write_dword(kMakerKey, u"Log", 0);
        Log::get();
    }

    std::u16string log_text() const
    {
        auto path = m_dir / "tmp" / "test_imaging.txt";
        if (!std::filesystem::exists(path))
            return {};
        auto bytes = test::read_bytes(path);
        std::u16string text;
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
            text += static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8);
        return text;
    }
};

TEST_F(Load565, a_16_bit_file_becomes_a_named_picture_covering_its_grid)
{
    test::write_bytes(m_dir / "skin.bmp", bmp_file(3, 2, 16, { { 1, 2, 3 }, { 4, 5, 6 } }));
    PictureRef ref;
    ref.grid.inner_start = { 9, 9 };
    BitmapPicture* created = load_565(ref, m_dir.program_path("skin"));
    ASSERT_TRUE(created);
    EXPECT_EQ(ref.picture.get(), created);
    EXPECT_EQ(created->name(), m_dir.program_path("skin"));
    EXPECT_EQ(ref.size(), (Size { 3, 2 }));
    EXPECT_EQ(ref.grid.inner_start, (Point { 0, 0 }));
    EXPECT_EQ(ref.grid.inner_end, (Point { 3, 2 }));
    EXPECT_EQ(ref.grid.outer_end, (Point { 3, 2 }));
    EXPECT_EQ(created->buffer()->at(0, 0), 4);
    EXPECT_EQ(log_text(), u"");
}

TEST_F(Load565, unusable_files_leave_an_empty_reference_and_a_log_line)
{
    test::write_bytes(m_dir / "deep.bmp", bmp_file(2, 2, 24, { { 1, 2, 3 }, { 4, 5, 6 } }));
    auto cut = bmp_file(2, 2, 16, { { 1, 2 } });
    cut.resize(30);
    test::write_bytes(m_dir / "cut.bmp", cut);
    test::write_bytes(m_dir / "absurd.bmp", bmp_file(40000, 40000, 16, {}));
    std::u16string expected;
    for (char const* name : { "deep", "cut", "absurd", "missing" }) {
        PictureRef ref;
        picture_from_buffer(ref, PixelBuffer::create(1, 1));
        EXPECT_FALSE(load_565(ref, m_dir.program_path(name))) << name;
        EXPECT_TRUE(ref.is_empty()) << name;
        expected += u"load_565 " + m_dir.program_path(name) + u" is not 16bit bitmap\n";
    }
    EXPECT_EQ(log_text(), expected);
}
