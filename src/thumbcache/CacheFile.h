#pragma once

// Cache files: one per picture, in "!quilvanecache" at the picture's search
// root, named after the picture's size and creation time. A complete file
// starts with the mark 16; an empty one marks a picture that cannot be read.
//
//   0   4  mark (16 when complete, 0 while building)
//   4   1  n, the number of stored levels (bits 0 to 5), and two flags:
//          0x80 the full-size stream is stored in this file (a range
//               follows the thumbnail's);
//          0x40 there is no full-size level: its entry table is empty and
//               level 1 is the deepest
//   5   8  entry table of the full-size picture: offset, length
//  13  16n per level k = 1 .. n: entry offset, entry length, JPEG offset, JPEG length
//  13+16n 8  thumbnail JPEG: offset, length
//  21+16n 8  with 0x80 only: the full-size stream, offset, length
//
// Without a flag the full-size stream is the picture file itself, as in
// every file written before the flags existed (their n never reached 0x40).
// A picture stored in a form the entry points cannot describe (progressive,
// arithmetic coding, several scans, CMYK) keeps a sequential copy of itself
// under 0x80; one too large to hold for that copy keeps its levels only.

#include "core/WString.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace qv {

inline constexpr std::uint32_t kCacheMark = 16;
inline constexpr char16_t const* kCacheDirectory = u"!quilvanecache";
inline constexpr std::size_t kEntrySize = 17;

// Levels stored for a picture whose larger side is `side` pixels: halvings
// until the larger side fits one 256-pixel tile.
int level_count(std::int64_t side);
inline constexpr std::uint8_t kStoredStreamFlag = 0x80;
inline constexpr std::uint8_t kNoFullSizeFlag = 0x40;
inline constexpr std::uint8_t kLevelCountMask = 0x3F;
inline std::uint32_t header_size(int levels, std::uint8_t flags = 0)
{
    return 21 + 16 * static_cast<std::uint32_t>(levels) + ((flags & kStoredStreamFlag) ? 8 : 0);
}

// Empty when the picture does not exist.
WString cache_file_name(WStringView picture, WStringView root);
bool is_cache_file_valid(WStringView path);
// The same for a file found in a listing of the cache directory, from its
// listed size: a build writes under a scratch name and moves the file to
// its cache name only once complete, so a file under a cache name is
// complete unless it is the empty bad-picture marker or cut shorter than
// any complete file could be. Without a size the mark is read.
bool is_listed_cache_file_valid(WStringView path, std::optional<std::uint64_t> size);
// Nothing shorter is a complete cache file: a header without levels, one
// entry and a JPEG's smallest set of segments.
inline constexpr std::uint64_t kSmallestCacheFile = 21 + kEntrySize + 100;
bool is_bad_picture(WStringView path);

struct CacheRange {
    std::uint32_t offset { 0 };
    std::uint32_t length { 0 };
};

struct CacheLevel {
    CacheRange entries;
    CacheRange jpeg; // empty for the full-size picture
};

struct CacheHeader {
    std::vector<CacheLevel> levels; // [0] the full-size picture, then 1 .. n
    CacheRange thumbnail;
    std::uint8_t flags { 0 };
    // With kStoredStreamFlag: where the full-size stream lies in this file.
    CacheRange full_stream;
    bool has_full_size() const { return !(flags & kNoFullSizeFlag); }
    std::uint64_t file_size { 0 };
};

// The header of a complete file, every range checked to lie inside the file
// and every entry table to hold whole records; nothing for anything else.
std::optional<CacheHeader> read_cache_header(WStringView path);

}
