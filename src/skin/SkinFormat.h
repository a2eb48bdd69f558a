#pragma once

// The binary skin file, shared by the loader and the skin compiler. All
// numbers are little-endian; offsets count from the first byte of the file.
//
//   0   8  magic: the UTF-16 letters of "Скин", no terminator
//   8  64  free for the writer (zero)
//  72   4  root of the top-level node search tree
//  76   4  picture count P
//  80   4  font count F
//  84   4  name block offset: P picture names, F font descriptions, S strings
//  88   4  string count S
//  92      node bodies and names
//
// Top-level node: left, right, name offset (32-bit each), then a body.
// Node body: seven 16-bit bounds (relative to the body) cutting six tables,
// a 16-bit child count, the children's body offsets (32-bit), the tables.

#include <cstdint>
#include <string_view>

namespace qv::skin_format {

inline constexpr char16_t kMagic[4] = { 0x0421, 0x043A, 0x0438, 0x043D };
inline constexpr std::size_t kHeaderSize = 92;
inline constexpr std::size_t kRootOffset = 72;
inline constexpr std::size_t kPictureCount = 76;
inline constexpr std::size_t kFontCount = 80;
inline constexpr std::size_t kNameBlock = 84;
inline constexpr std::size_t kStringCount = 88;

inline constexpr std::size_t kTopLevelHeader = 12; // left, right, name
inline constexpr std::size_t kBodyHeader = 16;     // bounds b0..b6, child count

enum class Table { Integer = 0, Font, Point, String, Picture, Color };
inline constexpr int kTableCount = 6;
inline constexpr std::size_t kRecordSize[kTableCount] = { 8, 8, 8, 4, 20, 8 };

// Property names live in the first 64 KiB: records hold 16-bit offsets.
inline constexpr std::size_t kMaxNameOffset = 0xFFFF;
inline constexpr std::size_t kMaxPictures = 256;

inline std::uint16_t read_u16(std::uint8_t const* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
inline std::int16_t read_i16(std::uint8_t const* p) { return static_cast<std::int16_t>(read_u16(p)); }
inline std::uint32_t read_u32(std::uint8_t const* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8
        | static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
inline std::int32_t read_i32(std::uint8_t const* p) { return static_cast<std::int32_t>(read_u32(p)); }

// Names order as unsigned 16-bit code units, a prefix before its extensions.
inline int compare_names(std::u16string_view a, std::u16string_view b) { return a.compare(b); }

}
