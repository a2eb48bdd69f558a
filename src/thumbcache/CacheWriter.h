#pragma once

// The layout of a cache file while it is built: the header's placeholder,
// then, level by level, its entry table and its JPEG, the thumbnail and the
// stored full-size stream; the header written over its placeholder at the
// end, then the identity record after everything. The builder decides what
// goes in; this says where it lies.

#include "core/WString.h"
#include "imaging/JpegEntry.h"
#include "thumbcache/CacheFile.h"

#include <cstdint>
#include <span>
#include <vector>

namespace qv {

class CacheWriter {
public:
    explicit CacheWriter(WString file)
        : m_file(std::move(file))
    {
    }

    WString const& file() const { return m_file; }
    std::uint32_t size() const;

    // An empty file, before anything is read.
    bool create();
    // The header's placeholder for `levels` levels; the first level's
    // entries follow it when `entries`.
    bool start(int levels, std::uint8_t flags, bool entries);
    // Another level, its entry table starting at the file's end.
    void begin_level();
    // The entries appended since the level began (by a recording read, or
    // by append_entries) are its table; false when there are none or they
    // are cut.
    bool end_entries();
    bool append_entries(std::vector<JpegEntry> const& entries);
    // The current level's JPEG, from memory or from a file.
    bool append_level(std::span<std::uint8_t const> jpeg);
    bool append_level(WStringView path);
    bool append_thumbnail(std::span<std::uint8_t const> jpeg);
    bool append_full_stream(std::span<std::uint8_t const> jpeg);
    bool append_full_stream(WStringView path);
    // The header, then the identity record with the checksum of all before
    // it, the mark included.
    bool finish(PictureIdentity const& identity);

private:
    struct LevelRecord {
        std::uint32_t entry_offset { 0 };
        std::uint32_t entry_length { 0 };
        std::uint32_t jpeg_offset { 0 };
        std::uint32_t jpeg_length { 0 };
    };

    bool append(std::span<std::uint8_t const> bytes, CacheRange& range);
    bool append(WStringView path, CacheRange& range);
    bool set_level_jpeg(CacheRange const& range);
    bool write_header();
    bool append_identity(PictureIdentity const& identity);

    WString m_file;
    int m_levels { 0 };
    std::uint8_t m_flags { 0 };
    std::vector<LevelRecord> m_records;
    CacheRange m_full_stream;
};

}
