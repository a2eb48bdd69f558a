#include "imaging/JpegCodec.h"
#include "imaging/JpegEntry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace qv {
namespace {

TEST(JpegEntry, record_is_17_little_endian_bytes_in_table_order)
{
    JpegEntry entry;
    entry.dc_predictors = { -2, 0x1234, 0x7F01 };
    entry.bits_left = 5;
    entry.restarts_to_go = 0x0A0B0C0D;
    entry.position = 0x11223344;
    entry.next_restart = 6;
    entry.pending_marker = 0xD6;
    auto const bytes = serialize_entry(entry);
    std::array<std::uint8_t, 17> const expected { 0xFE, 0xFF, 0x34, 0x12, 0x01, 0x7F, 5, 0x0D, 0x0C, 0x0B, 0x0A,
        0x44, 0x33, 0x22, 0x11, 6, 0xD6 };
    EXPECT_EQ(bytes, expected);
    EXPECT_EQ(parse_entry(bytes), entry);
}

TEST(JpegEntry, table_length_must_be_a_multiple_of_17)
{
    std::vector<std::uint8_t> bytes(34, 0);
    bytes[17 + 11] = 9;
    auto const table = parse_entry_table(bytes);
    ASSERT_TRUE(table);
    ASSERT_EQ(table->size(), 2u);
    EXPECT_EQ((*table)[1].position, 9u);
    bytes.push_back(0);
    EXPECT_FALSE(parse_entry_table(bytes));
    EXPECT_TRUE(parse_entry_table({}));
}

TEST(JpegEntry, bit_buffer_is_rebuilt_from_data_bytes_only)
{
    // Data 0x12, a stuffed 0xFF, 0x34, then a restart marker and 0x56.
    std::vector<std::uint8_t> const stream { 0x99, 0x12, 0xFF, 0x00, 0x34, 0xFF, 0xD3, 0x56 };
    EXPECT_EQ(rebuild_bit_buffer(stream, stream.size()), 0x12FF3456u);
    // Just after the marker: the marker is skipped, the byte before it is the last.
    EXPECT_EQ(rebuild_bit_buffer(stream, 7), 0x9912FF34u);
    // Fill bytes before a marker are not data either.
    std::vector<std::uint8_t> const filled { 0xAB, 0xFF, 0xFF, 0xD9 };
    EXPECT_EQ(rebuild_bit_buffer(filled, filled.size()), 0xABu);
    // Missing bytes at the front read as zero.
    std::vector<std::uint8_t> const shortened { 0x77, 0x88 };
    EXPECT_EQ(rebuild_bit_buffer(shortened, 2), 0x7788u);
    EXPECT_EQ(rebuild_bit_buffer(shortened, 0), 0u);
}

TEST(JpegEntry, walking_back_counts_raw_bytes)
{
    std::vector<std::uint8_t> const stream { 0x12, 0xFF, 0x00, 0x34, 0xFF, 0xD0 };
    // Two data bytes back from the end: over the marker, 0x34 and the stuffed pair.
    EXPECT_EQ(walk_back_data_bytes(stream, stream.size(), 2), 5u);
    EXPECT_EQ(walk_back_data_bytes(stream, stream.size(), 3), 6u);
    EXPECT_FALSE(walk_back_data_bytes(stream, stream.size(), 4));
    EXPECT_EQ(walk_back_data_bytes(stream, 4, 0), 0u);
}

// The entries a copy's encoder counts are the ones a recording decode of
// that copy finds, to the byte: sizes that cut a band or an MCU short,
// and grain and sharp edges that put 0xFF bytes (stuffed) in the data.
TEST(JpegEntry, entries_counted_while_encoding_match_a_recording_decode)
{
    struct Size {
        int width;
        int height;
    };
    for (Size const size : { Size { 1, 1 }, Size { 9, 7 }, Size { 256, 8 }, Size { 257, 300 }, Size { 777, 65 } }) {
        std::vector<std::uint8_t> pixels(static_cast<std::size_t>(size.width) * static_cast<std::size_t>(size.height) * 3);
        unsigned noise = 7;
        for (std::size_t i = 0; i < pixels.size(); ++i) {
            noise = noise * 1103515245u + 12345u;
            auto const x = static_cast<int>(i / 3 % static_cast<std::size_t>(size.width));
            int const base = (x / 5) % 2 ? 250 : 4; // sharp stripes: large coefficients
            pixels[i] = static_cast<std::uint8_t>(std::clamp(base + static_cast<int>(noise >> 16 & 31) - 16, 0, 255));
        }
        std::vector<std::uint8_t> jpeg;
        auto encoder = JpegEncoder::open_copy(jpeg, size.width, size.height);
        ASSERT_TRUE(encoder);
        std::size_t const stride = static_cast<std::size_t>(size.width) * 3;
        for (int y = 0; y < size.height; ++y)
            ASSERT_TRUE(encoder->write_row({ pixels.data() + static_cast<std::size_t>(y) * stride, stride }));
        ASSERT_TRUE(encoder->finish());
        auto const counted = encoder->entries();
        ASSERT_TRUE(counted) << size.width << " x " << size.height;

        std::vector<std::uint8_t> recorded;
        auto reader = JpegReader::open_recording(jpeg, recorded);
        ASSERT_TRUE(reader);
        std::vector<std::uint8_t> row(stride);
        for (int y = 0; y < size.height; ++y)
            ASSERT_TRUE(reader->read_row(row));
        reader.reset();
        auto const decoded = parse_entry_table(recorded);
        ASSERT_TRUE(decoded);
        ASSERT_EQ(counted->size(), decoded->size());
        for (std::size_t i = 0; i < counted->size(); ++i)
            ASSERT_EQ((*counted)[i], (*decoded)[i]) << size.width << " x " << size.height << ", entry " << i;
    }
    // An encoder that counts nothing gives no entries.
    std::vector<std::uint8_t> plain;
    auto encoder = JpegEncoder::open_memory(plain, 8, 8);
    std::vector<std::uint8_t> const row(24, 128);
    for (int y = 0; y < 8; ++y)
        ASSERT_TRUE(encoder->write_row(row));
    ASSERT_TRUE(encoder->finish());
    EXPECT_FALSE(encoder->entries());
}

}
}
