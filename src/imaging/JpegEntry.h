#pragma once

// A decoder entry point: the whole state of the sequential Huffman decoder
// just before one MCU, so that decoding can start there without reading
// anything above or to the left. Stored in cache files as 17 little-endian
// bytes; the bit buffer itself is not stored but rebuilt from the data bytes
// in front of the position.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace qv {

inline constexpr std::size_t kJpegEntrySize = 17;

// Pending-marker code of an entry taken after the scan data ran out before
// the next restart: every MCU up to that restart decodes as zeros. No real
// marker has this code.
inline constexpr std::uint8_t kJpegDataExhausted = 0x01;

struct JpegEntry {
    std::array<std::int16_t, 3> dc_predictors {};
    std::uint8_t bits_left { 0 };         // valid bits of the rebuilt bit buffer (0..32)
    std::uint32_t restarts_to_go { 0 };   // MCUs before the next restart marker
    std::uint32_t position { 0 };         // bytes from the next unread byte to the stream's end
    std::uint8_t next_restart { 0 };      // number of the next expected RSTn
    std::uint8_t pending_marker { 0 };    // marker already read from the stream, 0 when none

    bool operator==(JpegEntry const&) const = default;
};

std::array<std::uint8_t, kJpegEntrySize> serialize_entry(JpegEntry const& entry);
JpegEntry parse_entry(std::span<std::uint8_t const, kJpegEntrySize> bytes);

// Parses a whole table; nullopt when its length is not a multiple of 17.
std::optional<std::vector<JpegEntry>> parse_entry_table(std::span<std::uint8_t const> bytes);

// The bit buffer of an entry at `position` (an index into `bytes`): the four
// data bytes before it in stream order, the earliest in the top byte.
// Stuffed zeros, fill bytes and markers are not data; missing bytes read as 0.
std::uint32_t rebuild_bit_buffer(std::span<std::uint8_t const> bytes, std::size_t position);

// How many raw bytes lie between `position` and the start of the `count`-th
// data byte before it, walking backwards by the same rules; nullopt when the
// walk runs off the front of `bytes`.
std::optional<std::size_t> walk_back_data_bytes(std::span<std::uint8_t const> bytes,
    std::size_t position, std::size_t count);

}
