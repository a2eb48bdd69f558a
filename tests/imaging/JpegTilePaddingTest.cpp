#include "imaging/JpegCodec.h"
#include "imaging/JpegTestPictures.h"
#include "imaging/JpegTile.h"
#include "imaging/Rect.h"
#include "imaging/Rgb565Dither.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

namespace qv {
namespace {

// A colour no decode of the test pattern lands on everywhere: what a buffer
// held before the tile went in.
constexpr std::uint16_t kStale = 0xF81F;

std::unique_ptr<JpegTileDecoder> tile_decoder(std::vector<std::uint8_t> const& bytes)
{
    std::vector<std::uint8_t> table;
    auto reader = JpegReader::open_recording(bytes, table);
    if (!reader)
        return nullptr;
    std::vector<std::uint8_t> row(static_cast<std::size_t>(reader->width()) * 3);
    while (reader->read_row(row)) { }
    auto entries = parse_entry_table(table);
    if (reader->rows_read() != reader->height() || !entries || entries->empty())
        return nullptr;
    std::vector<std::uint8_t> prefix(bytes.begin(), bytes.end() - static_cast<std::ptrdiff_t>(entries->front().position));
    return JpegTileDecoder::create(std::move(prefix), std::move(*entries), memory_stream_bytes(bytes));
}

struct Padding {
    int black { 0 };
    int other { 0 };
};

// The pixels of `buffer` outside the tile's width × height.
Padding padding_of(PixelBuffer const& buffer, int width, int height)
{
    Padding p;
    for (int y = 0; y < buffer.height(); ++y)
        for (int x = 0; x < buffer.width(); ++x)
            if (x >= width || y >= height)
                ++(buffer.at(x, y) == 0 ? p.black : p.other);
    return p;
}

void fill(PixelBuffer& buffer, std::uint16_t colour)
{
    for (int y = 0; y < buffer.height(); ++y)
        std::fill_n(buffer.row(y), buffer.width(), colour);
}

// Pictures whose sides are no multiple of 256 in every sampling: the tiles
// of their last column and row cover only part of the buffer. What the
// decoder does not cover must be black, never what the buffer held, in the
// viewer's 256 × 256 buffer and in a larger one, fresh or carrying the tile
// before.
TEST(JpegTilePadding, edge_tiles_are_black_past_the_picture_whatever_the_buffer_held)
{
    struct Case {
        std::string name;
        test::PictureShape shape;
    };
    std::vector<Case> const cases {
        { "420_1001x777", { 1001, 777, 2, 2 } },
        { "422_300x513", { 300, 513, 2, 1 } },
        { "444_257x255", { 257, 255, 1, 1 } },
        { "gray_530x300", { 530, 300, 1, 1, true } },
        { "420_restart_600x70", { 600, 70, 2, 2, false, 3 } },
    };
    for (auto const& [name, shape] : cases) {
        SCOPED_TRACE(name);
        auto const bytes = test::make_jpeg(shape);
        auto decoder = tile_decoder(bytes);
        ASSERT_TRUE(decoder);
        for (auto const side : { Size { 256, 256 }, Size { 300, 280 } }) {
            auto buffer = PixelBuffer::create(side.width, side.height);
            ASSERT_TRUE(buffer);
            int edge_tiles = 0;
            for (int row = 0; row < decoder->rows(); ++row) {
                for (int column = 0; column < decoder->columns(); ++column) {
                    SCOPED_TRACE(testing::Message() << "tile " << column << "," << row << " in " << side.width);
                    int const w = std::min(256, shape.width - 256 * column);
                    int const h = std::min(256, shape.height - 256 * row);
                    int const outside = side.width * side.height - w * h;
                    for (bool fresh : { true, false }) {
                        // Fresh: a buffer of the stale colour. Not fresh: the
                        // buffer as the tile before left it.
                        if (fresh)
                            fill(*buffer, kStale);
                        ASSERT_TRUE(decoder->decode_tile(column, row, *buffer));
                        auto const p = padding_of(*buffer, w, h);
                        EXPECT_EQ(p.other, 0);
                        EXPECT_EQ(p.black, outside);
                    }
                    edge_tiles += w < 256 || h < 256;
                }
            }
            EXPECT_GT(edge_tiles, 0);
        }
    }
}

// The tile itself is untouched by the fill: it equals the tile decoded to
// RGB, packed with the dither of its place, right up to its last column and
// row.
TEST(JpegTilePadding, the_fill_stops_at_the_tile_edge)
{
    test::PictureShape const shape { 1001, 777, 2, 2 };
    auto const bytes = test::make_jpeg(shape);
    auto decoder = tile_decoder(bytes);
    ASSERT_TRUE(decoder);
    auto buffer = PixelBuffer::create(256, 256);
    int const column = decoder->columns() - 1, row = decoder->rows() - 1;
    fill(*buffer, kStale);
    ASSERT_TRUE(decoder->decode_tile(column, row, *buffer));
    auto const rgb = decoder->decode_tile_rgb(column, row);
    ASSERT_TRUE(rgb);
    ASSERT_EQ(rgb->width, shape.width - 256 * column);
    ASSERT_EQ(rgb->height, shape.height - 256 * row);
    std::vector<std::uint16_t> packed(static_cast<std::size_t>(rgb->width));
    for (int y = 0; y < rgb->height; ++y) {
        dither_row_to_rgb565(&rgb->rgb[static_cast<std::size_t>(y) * packed.size() * 3], packed.size(), 3, packed.data(),
            256 * column, 256 * row + y);
        ASSERT_TRUE(std::equal(packed.begin(), packed.end(), buffer->row(y))) << "row " << y;
    }
}

}
}
