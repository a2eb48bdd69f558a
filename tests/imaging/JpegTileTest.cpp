#include "imaging/JpegCodec.h"
#include "imaging/JpegRegion.h"
#include "imaging/JpegTestPictures.h"
#include "imaging/JpegTile.h"
#include "imaging/Rgb565Dither.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace qv {
namespace {

using test::PictureShape;

struct Recorded {
    std::vector<std::uint8_t> bytes;
    std::vector<JpegEntry> entries;
    std::vector<std::uint8_t> prefix;
};

Recorded record(std::vector<std::uint8_t> bytes)
{
    Recorded r;
    r.bytes = std::move(bytes);
    std::vector<std::uint8_t> table;
    auto reader = JpegReader::open_recording(r.bytes, table);
    if (!reader)
        return r;
    std::vector<std::uint8_t> row(static_cast<std::size_t>(reader->width()) * 3);
    while (reader->read_row(row)) { }
    if (reader->rows_read() != reader->height())
        return r;
    r.entries = *parse_entry_table(table);
    if (!r.entries.empty())
        r.prefix.assign(r.bytes.begin(), r.bytes.end() - r.entries.front().position);
    return r;
}

// Picture variants: every sampling and restart layout, and some whose scan
// ends early at an end-of-image marker.
std::vector<std::pair<std::string, std::vector<std::uint8_t>>> pictures()
{
    std::vector<std::pair<std::string, PictureShape>> const shapes {
        { "420_1001x777", { 1001, 777, 2, 2 } },
        { "422_257x255", { 257, 255, 2, 1 } },
        { "444_257x255", { 257, 255, 1, 1 } },
        { "gray_530x300", { 530, 300, 1, 1, true } },
        { "420_9x9", { 9, 9, 2, 2 } },
        { "420_50x40", { 50, 40, 2, 2 } },
        { "420_restart_1", { 530, 100, 2, 2, false, 1 } },
        { "444_restart_5", { 600, 70, 1, 1, false, 5 } },
        { "422_restart_2rows", { 530, 90, 2, 1, false, 0, 2 } },
        { "420_restart_16", { 530, 300, 2, 2, false, 16 } },
    };
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> out;
    for (auto const& [name, shape] : shapes)
        out.emplace_back(name, test::make_jpeg(shape));
    for (auto const& [name, shape] : { shapes[0], shapes[6], shapes[8] }) {
        auto bytes = test::make_jpeg(shape);
        std::size_t const scan = test::scan_data_offset(bytes);
        bytes.resize(scan + (bytes.size() - scan) * 2 / 3);
        bytes.push_back(0xFF);
        bytes.push_back(0xD9);
        out.emplace_back(name + "_ended", std::move(bytes));
    }
    return out;
}

// The chunk a viewer reads for entry e: 6 bytes before it (none for the
// first), up to 400 bytes after the next entry.
std::pair<std::vector<std::uint8_t>, std::size_t> chunk_for(Recorded const& r, std::size_t e)
{
    std::size_t const at = r.bytes.size() - r.entries[e].position;
    std::size_t const back = e == 0 ? 0 : std::min<std::size_t>(6, at);
    std::size_t const end = e + 1 < r.entries.size()
        ? std::min(r.bytes.size(), r.bytes.size() - r.entries[e + 1].position + 400)
        : r.bytes.size();
    return { std::vector<std::uint8_t>(r.bytes.begin() + static_cast<std::ptrdiff_t>(at - back), r.bytes.begin() + static_cast<std::ptrdiff_t>(end)), back };
}

TEST(JpegTile, every_entry_resumes_to_the_coefficients_of_a_straight_decode)
{
    for (auto const& [name, bytes] : pictures()) {
        SCOPED_TRACE(name);
        Recorded const r = record(bytes);
        ASSERT_FALSE(r.entries.empty());
        auto const reference = test::library_coefficients(r.bytes);
        ASSERT_FALSE(reference.empty());
        if (name.ends_with("_ended")) {
            EXPECT_TRUE(std::any_of(r.entries.begin(), r.entries.end(),
                [](JpegEntry const& e) { return e.pending_marker == kJpegDataExhausted; }));
        }
        bool const single = reference.size() == 1;
        int const mcu_w = single ? 8 : 8 * reference[0].h_sampling;
        int const band = 256 / mcu_w;
        int const across = single ? reference[0].blocks_across : reference[0].blocks_across / reference[0].h_sampling;
        int const bands = (across + band - 1) / band;
        for (std::size_t e = 0; e < r.entries.size(); ++e) {
            int const mcu_row = static_cast<int>(e) / bands;
            int const first = static_cast<int>(e) % bands * band;
            int const count = std::min(band, across - first);
            auto const [chunk, offset] = chunk_for(r, e);
            auto const got = decode_band_coefficients(r.prefix, chunk, offset, r.entries[e], count);
            ASSERT_TRUE(got) << "entry " << e;
            // Blocks in MCU order (T.81 A.2.3): each component's h × v blocks.
            std::vector<std::int16_t> expected;
            for (int m = first; m < first + count; ++m) {
                for (auto const& comp : reference) {
                    int const h = single ? 1 : comp.h_sampling;
                    int const v = single ? 1 : comp.v_sampling;
                    for (int y = 0; y < v; ++y)
                        for (int x = 0; x < h; ++x) {
                            auto const* block = comp.block(mcu_row * v + y, m * h + x);
                            expected.insert(expected.end(), block, block + 64);
                        }
                }
            }
            ASSERT_TRUE(*got == expected) << "entry " << e;
        }
    }
}

TEST(JpegTile, every_tile_equals_the_same_region_of_a_whole_decode)
{
    for (auto const& [name, bytes] : pictures()) {
        SCOPED_TRACE(name);
        Recorded const r = record(bytes);
        ASSERT_FALSE(r.entries.empty());
        auto const whole = test::library_decode(r.bytes);
        ASSERT_TRUE(whole);
        auto decoder = JpegTileDecoder::create(r.prefix, r.entries, memory_stream_bytes(r.bytes));
        ASSERT_TRUE(decoder);
        EXPECT_EQ(decoder->width(), whole->width);
        EXPECT_EQ(decoder->height(), whole->height);
        ASSERT_EQ(decoder->columns(), (whole->width + 255) / 256);
        ASSERT_EQ(decoder->rows(), (whole->height + 255) / 256);
        auto buffer = PixelBuffer::create(256, 256);
        for (int ty = 0; ty < decoder->rows(); ++ty) {
            for (int tx = 0; tx < decoder->columns(); ++tx) {
                auto const tile = decoder->decode_tile_rgb(tx, ty);
                ASSERT_TRUE(tile) << tx << "," << ty;
                ASSERT_EQ(tile->width, std::min(256, whole->width - 256 * tx));
                ASSERT_EQ(tile->height, std::min(256, whole->height - 256 * ty));
                for (int y = 0; y < tile->height; ++y) {
                    auto const* expected = &whole->rgb[(static_cast<std::size_t>(256 * ty + y) * static_cast<std::size_t>(whole->width) + static_cast<std::size_t>(256 * tx)) * 3];
                    auto const* got = &tile->rgb[static_cast<std::size_t>(y) * static_cast<std::size_t>(tile->width) * 3];
                    ASSERT_TRUE(std::equal(got, got + tile->width * 3, expected)) << "tile " << tx << "," << ty << " row " << y;
                }
                // The viewer's form: RGB565 straight into a 256 x 256 buffer,
                // dithered as the same pixels of the whole picture.
                ASSERT_TRUE(decoder->decode_tile(tx, ty, *buffer));
                std::vector<std::uint16_t> packed(static_cast<std::size_t>(tile->width));
                for (int y = 0; y < tile->height; ++y) {
                    dither_row_to_rgb565(&tile->rgb[static_cast<std::size_t>(y) * packed.size() * 3], packed.size(), 3, packed.data(), 256 * tx, 256 * ty + y);
                    ASSERT_TRUE(std::equal(packed.begin(), packed.end(), buffer->row(y))) << "tile " << tx << "," << ty << " row " << y;
                }
            }
        }
        EXPECT_FALSE(decoder->decode_tile_rgb(decoder->columns(), 0));
        EXPECT_FALSE(decoder->decode_tile_rgb(0, -1));
    }
}

// Rectangles of a scaled picture w x h: the whole, ones across band
// borders and MCU rows at odd places, ones on the right and bottom edges,
// single pixels, and one starting exactly on the second band.
std::vector<Rect> region_rects(int w, int h, int eighths)
{
    std::vector<Rect> rects { { 0, 0, w, h }, { w / 3, h / 3, w - w / 5, h - h / 4 }, { w - 1, h - 1, w, h },
        { 0, h / 2, 1, h / 2 + 1 }, { w / 2, 0, w, std::min(h, 7) }, { std::max(0, w - 37), std::max(0, h - 29), w, h } };
    int const band = 256 * eighths / 8;
    if (w > band + 3)
        rects.push_back({ band, 1, std::min(w, band + 40), h });
    if (w > band + 3 && h > 20)
        rects.push_back({ band - 3, 13, band + 3, 20 });
    return rects;
}

TEST(JpegTile, every_region_at_every_scale_equals_the_same_pixels_of_a_whole_decode)
{
    for (auto const& [name, bytes] : pictures()) {
        SCOPED_TRACE(name);
        Recorded const r = record(bytes);
        ASSERT_FALSE(r.entries.empty());
        auto decoder = JpegTileDecoder::create(r.prefix, r.entries, memory_stream_bytes(r.bytes));
        ASSERT_TRUE(decoder);
        for (int eighths = 1; eighths <= 8; ++eighths) {
            SCOPED_TRACE(eighths);
            auto const size = jpeg_scaled_size(decoder->width(), decoder->height(), eighths);
            auto const whole = decode_jpeg_region(r.bytes, eighths, Rect { 0, 0, size.width, size.height });
            ASSERT_TRUE(whole);
            ASSERT_EQ(whole->image.width, size.width);
            for (Rect const rect : region_rects(size.width, size.height, eighths)) {
                SCOPED_TRACE(testing::Message() << rect.left << "," << rect.top << " - " << rect.right << "," << rect.bottom);
                auto const region = decoder->decode_region_rgb(rect, eighths);
                ASSERT_TRUE(region);
                ASSERT_EQ(region->width, rect.width());
                ASSERT_EQ(region->height, rect.height());
                for (int y = 0; y < rect.height(); ++y) {
                    auto const* expected = &whole->image.rgb[(static_cast<std::size_t>(rect.top + y) * static_cast<std::size_t>(size.width) + static_cast<std::size_t>(rect.left)) * 3];
                    auto const* got = &region->rgb[static_cast<std::size_t>(y) * static_cast<std::size_t>(rect.width()) * 3];
                    ASSERT_TRUE(std::equal(got, got + rect.width() * 3, expected)) << "row " << y;
                }
                // In RGB565, into a larger buffer, dithered as the same
                // pixels of the whole reduced picture.
                auto buffer = PixelBuffer::create(rect.width() + 5, rect.height() + 2);
                ASSERT_TRUE(buffer);
                ASSERT_TRUE(decoder->decode_region(rect, eighths, *buffer));
                std::vector<std::uint16_t> packed(static_cast<std::size_t>(rect.width()));
                for (int y = 0; y < rect.height(); ++y) {
                    dither_row_to_rgb565(&region->rgb[static_cast<std::size_t>(y) * packed.size() * 3], packed.size(), 3,
                        packed.data(), rect.left, rect.top + y);
                    ASSERT_TRUE(std::equal(packed.begin(), packed.end(), buffer->row(y))) << "row " << y;
                }
                if (rect.height() > 1) {
                    auto small = PixelBuffer::create(rect.width(), rect.height() - 1);
                    EXPECT_FALSE(decoder->decode_region(rect, eighths, *small));
                }
            }
            EXPECT_FALSE(decoder->decode_region_rgb(Rect { 0, 0, size.width + 1, 1 }, eighths));
            EXPECT_FALSE(decoder->decode_region_rgb(Rect { 0, size.height, 1, size.height + 1 }, eighths));
            EXPECT_FALSE(decoder->decode_region_rgb(Rect { -1, 0, 1, 1 }, eighths));
            EXPECT_FALSE(decoder->decode_region_rgb(Rect { 2, 2, 2, 3 }, eighths));
        }
        EXPECT_FALSE(decoder->decode_region_rgb(Rect { 0, 0, 1, 1 }, 0));
        EXPECT_FALSE(decoder->decode_region_rgb(Rect { 0, 0, 1, 1 }, 9));
        // The decoder still serves tiles after regions of other sizes.
        auto const tile = decoder->decode_tile_rgb(0, 0);
        auto const whole = test::library_decode(r.bytes);
        ASSERT_TRUE(tile && whole);
        EXPECT_TRUE(std::equal(tile->rgb.begin(), tile->rgb.begin() + tile->width * 3, whole->rgb.begin()));
    }
}

TEST(JpegTile, tiles_come_from_a_stream_inside_a_larger_file)
{
    test::TempDir dir;
    Recorded const r = record(test::make_jpeg({ 600, 300, 2, 2 }));
    ASSERT_FALSE(r.entries.empty());
    std::vector<std::uint8_t> file(1000 + r.bytes.size() + 77, 0xAB);
    std::fill_n(file.begin(), 1000, 0xFF);
    std::copy(r.bytes.begin(), r.bytes.end(), file.begin() + 1000);
    test::write_bytes(dir / "cache", file);
    auto decoder = JpegTileDecoder::create(r.prefix, r.entries, open_stream_bytes(dir.program_path("cache"), 1000, r.bytes.size()));
    ASSERT_TRUE(decoder);
    auto const tile = decoder->decode_tile_rgb(2, 1);
    ASSERT_TRUE(tile);
    auto const whole = test::library_decode(r.bytes);
    EXPECT_TRUE(std::equal(tile->rgb.begin(), tile->rgb.begin() + tile->width * 3,
        whole->rgb.begin() + (256L * whole->width + 512) * 3));
    auto small = PixelBuffer::create(88, 43);
    EXPECT_FALSE(decoder->decode_tile(2, 1, *small));   // the tile is 88 x 44
    EXPECT_FALSE(open_stream_bytes(dir.program_path("cache"), 1000, file.size()));
}

TEST(JpegTile, wrong_or_garbled_entry_tables_fail_without_harm)
{
    Recorded const r = record(test::make_jpeg({ 530, 300, 2, 2, false, 3 }));
    ASSERT_FALSE(r.entries.empty());
    auto shorter = r.entries;
    shorter.pop_back();
    EXPECT_FALSE(JpegTileDecoder::create(r.prefix, shorter, memory_stream_bytes(r.bytes)));
    EXPECT_FALSE(JpegTileDecoder::create({ 1, 2, 3 }, r.entries, memory_stream_bytes(r.bytes)));
    EXPECT_FALSE(make_tile_header(r.prefix, 0, 10));

    std::uint32_t state = 99;
    auto next = [&] {
        state = state * 1664525u + 1013904223u;
        return state;
    };
    for (int round = 0; round < 40; ++round) {
        auto garbled = r.entries;
        for (auto& entry : garbled) {
            if (next() % 3 != 0)
                continue;
            auto bytes = serialize_entry(entry);
            bytes[next() % 17] = static_cast<std::uint8_t>(next() >> 24);
            entry = parse_entry(bytes);
        }
        auto decoder = JpegTileDecoder::create(r.prefix, garbled, memory_stream_bytes(r.bytes));
        ASSERT_TRUE(decoder);
        for (int ty = 0; ty < decoder->rows(); ++ty)
            for (int tx = 0; tx < decoder->columns(); ++tx)
                (void)decoder->decode_tile_rgb(tx, ty);
    }
}

// Garbles every byte it reads while `garble` is set.
class GarblingStream final : public JpegStreamBytes {
public:
    explicit GarblingStream(std::span<std::uint8_t const> bytes)
        : m_bytes(bytes)
    {
    }
    std::uint64_t length() const override { return m_bytes.size(); }
    bool read(std::uint64_t offset, std::span<std::uint8_t> out) override
    {
        if (offset > m_bytes.size() || out.size() > m_bytes.size() - offset)
            return false;
        std::copy_n(m_bytes.begin() + static_cast<std::ptrdiff_t>(offset), out.size(), out.begin());
        if (*garble)
            for (std::size_t i = 0; i < out.size(); ++i)
                out[i] = static_cast<std::uint8_t>(out[i] * 37u + i);
        return true;
    }
    std::shared_ptr<bool> garble { std::make_shared<bool>(false) };

private:
    std::span<std::uint8_t const> m_bytes;
};

TEST(JpegTile, one_decoder_serves_tiles_in_any_order_and_form_after_garbled_ones)
{
    for (auto const& shape : { PictureShape { 1001, 777, 2, 2 }, PictureShape { 530, 300, 2, 1, false, 3 } }) {
        Recorded const r = record(test::make_jpeg(shape));
        ASSERT_FALSE(r.entries.empty());
        auto const whole = test::library_decode(r.bytes);
        ASSERT_TRUE(whole);
        auto stream = std::make_unique<GarblingStream>(r.bytes);
        auto garble = stream->garble;
        auto decoder = JpegTileDecoder::create(r.prefix, r.entries, std::move(stream));
        ASSERT_TRUE(decoder);
        // Edge tiles (other header sizes) between inner ones, RGB and RGB565
        // alternating, and a garbled decode of a tile before its clean one.
        std::vector<std::pair<int, int>> order;
        for (int ty = decoder->rows() - 1; ty >= 0; --ty)
            for (int tx = 0; tx < decoder->columns(); ++tx)
                order.emplace_back((tx * 2 + ty) % decoder->columns(), ty);
        auto buffer = PixelBuffer::create(256, 256);
        int request = 0;
        for (auto const& [tx, ty] : order) {
            ++request;
            if (request % 2 == 0) {
                *garble = true;
                (void)decoder->decode_tile_rgb(tx, ty);
                (void)decoder->decode_tile(tx, ty, *buffer);
                *garble = false;
            }
            int const w = std::min(256, whole->width - 256 * tx), h = std::min(256, whole->height - 256 * ty);
            if (request % 3 == 0) {
                auto const tile = decoder->decode_tile_rgb(tx, ty);
                ASSERT_TRUE(tile) << tx << "," << ty;
                ASSERT_EQ(tile->width, w);
                ASSERT_EQ(tile->height, h);
                for (int y = 0; y < h; ++y) {
                    auto const* expected = &whole->rgb[(static_cast<std::size_t>(256 * ty + y) * static_cast<std::size_t>(whole->width) + static_cast<std::size_t>(256 * tx)) * 3];
                    ASSERT_TRUE(std::equal(expected, expected + w * 3, &tile->rgb[static_cast<std::size_t>(y) * static_cast<std::size_t>(w) * 3]))
                        << "tile " << tx << "," << ty << " row " << y;
                }
            } else {
                ASSERT_TRUE(decoder->decode_tile(tx, ty, *buffer)) << tx << "," << ty;
                std::vector<std::uint16_t> packed(static_cast<std::size_t>(w));
                for (int y = 0; y < h; ++y) {
                    auto const row = std::span(whole->rgb).subspan((static_cast<std::size_t>(256 * ty + y) * static_cast<std::size_t>(whole->width) + static_cast<std::size_t>(256 * tx)) * 3, packed.size() * 3);
                    dither_row_to_rgb565(row.data(), packed.size(), 3, packed.data(), 256 * tx, 256 * ty + y);
                    ASSERT_TRUE(std::equal(packed.begin(), packed.end(), buffer->row(y))) << "tile " << tx << "," << ty << " row " << y;
                }
            }
        }
    }
}

}
}
