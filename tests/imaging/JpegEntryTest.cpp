#include "imaging/JpegEntry.h"

#include <gtest/gtest.h>

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

}
}
