#pragma once

// Cache files: one per picture, in the cache directory of the picture's
// search root (CacheLocation.h). A complete file starts with the mark 16 and ends with the identity
// record of the picture it was built from; a file with the record alone
// marks a picture that cannot be read, and says why.
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
//
// The identity record, the last bytes of the file, after everything the
// header points at (numbers little-endian):
//
//   0   p  the picture's path from its search root, UTF-8, "\" separated
//   p   8  the picture's size in bytes
//   p+8 8  its modification time, nanoseconds since 1970 (UTC)
//  p+16 8  its fingerprint: FNV-1a 64 of its size, first 4 KiB and last 4 KiB
//  p+24 4  the body's checksum: CRC-32 (as zlib's crc32) of every byte before
//          the record, the complete mark included; 0 for a marker
//  p+28 1  0 for a cache file, else why the picture cannot be read
//  p+29 1  the record's version, 2
//  p+30 2  p (at most kMaxRecordedPath)
//  p+32 4  "QVID"
//
// Version 1 records had no checksum (28 fixed bytes before the magic,
// the problem at p+24): they still identify their picture, so that the
// file is known to be ours, but a complete file with one is built again.
// Damage that leaves the header's ranges sound shows only in the
// checksum: the cache tool's build and check, and the viewer when it
// opens a file, read the whole body; a search reads the header and the
// record only.
//
// Identity. A cache file's name comes from what a directory listing tells
// of its picture, so that a search reads no picture and a renamed picture
// keeps its file: "<size>-<YYYYMMDDhhmmss>.<nanoseconds>" of the
// modification time in UTC, every field at its full width. Pictures that
// share those (copied together, at one clock tick) are told apart by their
// records: the first one built takes the plain name, each other one the
// plain name followed by "-" and 16 hexadecimal digits of a hash of its
// path. A file is used for a picture only when its record has the
// picture's size and time and either its path or its fingerprint; the
// screens compare the fingerprint always, since only the content tells a
// picture rewritten at the same size and time. Files written before the
// record existed identify nothing and are rebuilt.

#include "core/WString.h"
#include "imaging/JpegCodec.h"
#include "platform/Files.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace qv {

inline constexpr std::uint32_t kCacheMark = 16;
// The cache directory's name where it lies in the search root itself (a
// card's, and the pictures folder's before caches moved out of it).
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

// What identifies a picture to its cache file (see above).
struct PictureIdentity {
    std::uint64_t size { 0 };
    std::int64_t modified_ns { 0 };
    WString relative_path;
    std::uint64_t fingerprint { 0 }; // 0 until the picture is read
};

inline constexpr std::size_t kMaxRecordedPath = 4096;
inline constexpr std::size_t kIdentityRecordFixed = 36;

// From a look at the picture only; nothing when it is not a regular file.
std::optional<PictureIdentity> stat_picture(WStringView picture, WStringView root);
// Reads at most 8 KiB of the picture; nothing when it cannot be read.
std::optional<std::uint64_t> picture_fingerprint(WStringView picture);
// Both: what a build records.
std::optional<PictureIdentity> identify_picture(WStringView picture, WStringView root);
// The search root of a file in a cache directory; empty for a file
// elsewhere (its picture is then recorded by its full path).
WString root_of_cache_file(WStringView cache_file);
// The record for a file whose bytes before it are `body` (nothing for a
// marker); the checksum may also be given ready made.
std::vector<std::uint8_t> identity_record(PictureIdentity const& identity, PictureProblem problem,
    std::span<std::uint8_t const> body = {});
std::vector<std::uint8_t> identity_record_with_checksum(PictureIdentity const& identity, PictureProblem problem,
    std::uint32_t body_checksum);
// CRC-32 of bytes, carried on from `so_far`.
std::uint32_t body_checksum(std::span<std::uint8_t const> bytes, std::uint32_t so_far = 0);
// The same of a file's first `length` bytes, read block by block with its
// read_at; nothing when a read falls short.
template <class File>
std::optional<std::uint32_t> body_checksum_of(File& file, std::uint64_t length)
{
    std::vector<std::uint8_t> block(1 << 16);
    std::uint32_t checksum = 0;
    for (std::uint64_t at = 0; at < length;) {
        auto const want = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), length - at));
        if (file.read_at(at, block.data(), want) != want)
            return std::nullopt;
        checksum = body_checksum({ block.data(), want }, checksum);
        at += want;
    }
    return checksum;
}

// The two names a picture's cache file can have, full paths under `root`.
WString cache_plain_name(PictureIdentity const& identity, WStringView root);
WString cache_collision_name(PictureIdentity const& identity, WStringView root);

// How closely a file must match before it is used: a search compares
// what the listing tells and reads a fingerprint only when the path
// differs; the screens read it always.
enum class IdentityCheck { Listing, Content };

struct CacheLookup {
    enum class State : std::uint8_t {
        Valid,  // a complete file built from this picture
        Bad,    // a marker of this picture, with `problem`
        Absent, // none: `path` is the name a build gives it
        Missing // the picture is not there
    };
    State state { State::Missing };
    WString path;
    PictureProblem problem { PictureProblem::None };
};

// Which file is `picture`'s. `listed`, when given, answers whether a name
// is in the cache directory, from a listing made beforehand; else the
// file system is asked.
CacheLookup find_cache_file(WStringView picture, WStringView root, IdentityCheck check,
    std::function<bool(WStringView)> const& listed = {});

// The path of `picture`'s cache file, or of the one a build would write;
// empty when the picture does not exist.
WString cache_file_name(WStringView picture, WStringView root);
// A complete file whose header and ranges check out (whatever it identifies).
bool is_cache_file_valid(WStringView path);

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
    // Where the identity record starts: the end of what the header may
    // point at. The file's size for files without one.
    std::uint64_t content_end { 0 };
    std::optional<PictureIdentity> identity;
    std::optional<std::uint32_t> body_checksum;
};

// The identity record at the end of a file of `file_size` bytes, whose
// last bytes (up to kIdentityRecordFixed + kMaxRecordedPath) are `tail`.
struct IdentityRecord {
    PictureIdentity identity;
    PictureProblem problem { PictureProblem::None };
    std::uint64_t offset { 0 };
    std::optional<std::uint32_t> body_checksum; // nothing in a version 1 record
};
std::optional<IdentityRecord> parse_identity_record(std::span<std::uint8_t const> tail, std::uint64_t file_size);

// The header of a complete file, every range checked to lie inside the file
// before its identity record and every entry table to hold whole records;
// nothing for anything else.
std::optional<CacheHeader> read_cache_header(WStringView path);

// What a file's ends say: its record, when it has one, and its header when
// it is complete. Read from a file opened by the caller (in a directory
// handle, say).
struct CacheFileEnds {
    std::optional<CacheHeader> header;
    std::optional<IdentityRecord> record;
    // Whether the file is the program's: it has a record, or the complete
    // mark (a file cut short keeps it), or no bytes at all to lose.
    bool ours { false };
};
CacheFileEnds read_cache_ends(platform::File& file);

// Whether a complete file's body still has the checksum its record gives:
// false for a file without one, or that cannot be read whole.
bool cache_body_intact(WStringView path);

}
