#include "thumbcache/CacheWriter.h"

#include "base/FileStream.h"

namespace qv {

namespace {

// Stream copies are long: copied in large blocks.
constexpr std::size_t kCopyBlock = 1 << 16;

void put32(std::uint8_t* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}

std::uint32_t CacheWriter::size() const
{
    FileStream cache(m_file, OpenMode::Read);
    return static_cast<std::uint32_t>(cache.size());
}

bool CacheWriter::create()
{
    FileStream cache(m_file, OpenMode::Write);
    return cache.is_open();
}

bool CacheWriter::start(int levels, std::uint8_t flags, bool entries)
{
    m_levels = levels;
    m_flags = flags;
    std::vector<std::uint8_t> placeholder(header_size(levels, flags), 0);
    placeholder[4] = static_cast<std::uint8_t>(levels | flags);
    FileStream cache(m_file, OpenMode::Write);
    if (cache.write(placeholder.data(), placeholder.size()) != placeholder.size())
        return false;
    m_records.clear();
    m_records.push_back({ entries ? header_size(levels, flags) : 0, 0, 0, 0 });
    return true;
}

void CacheWriter::begin_level() { m_records.push_back({ size(), 0, 0, 0 }); }

bool CacheWriter::end_entries()
{
    // Count what reached the file, not what was meant to.
    auto const appended = size() - m_records.back().entry_offset;
    if (appended % kEntrySize != 0 || appended == 0)
        return false;
    m_records.back().entry_length = appended;
    return true;
}

bool CacheWriter::append_entries(std::vector<JpegEntry> const& entries)
{
    std::vector<std::uint8_t> table;
    table.reserve(entries.size() * kEntrySize);
    for (auto const& entry : entries) {
        auto const bytes = serialize_entry(entry);
        table.insert(table.end(), bytes.begin(), bytes.end());
    }
    FileStream cache(m_file, OpenMode::Append);
    return cache.is_open() && cache.write(table.data(), table.size()) == table.size() && end_entries();
}

bool CacheWriter::append_level(std::span<std::uint8_t const> jpeg)
{
    CacheRange range;
    return append(jpeg, range) && set_level_jpeg(range);
}

bool CacheWriter::append_level(WStringView path)
{
    CacheRange range;
    return append(path, range) && set_level_jpeg(range);
}

bool CacheWriter::set_level_jpeg(CacheRange const& range)
{
    m_records.back().jpeg_offset = range.offset;
    m_records.back().jpeg_length = range.length;
    return true;
}

bool CacheWriter::append_thumbnail(std::span<std::uint8_t const> jpeg)
{
    m_records.push_back({});
    return append_level(jpeg);
}

bool CacheWriter::append_full_stream(std::span<std::uint8_t const> jpeg) { return append(jpeg, m_full_stream); }
bool CacheWriter::append_full_stream(WStringView path) { return append(path, m_full_stream); }

bool CacheWriter::append(std::span<std::uint8_t const> bytes, CacheRange& range)
{
    FileStream cache(m_file, OpenMode::Append);
    if (!cache.is_open())
        return false;
    range.offset = static_cast<std::uint32_t>(cache.size());
    range.length = static_cast<std::uint32_t>(bytes.size());
    return cache.write(bytes.data(), bytes.size()) == bytes.size()
        && cache.size() == std::uint64_t { range.offset } + range.length;
}

bool CacheWriter::append(WStringView path, CacheRange& range)
{
    FileStream cache(m_file, OpenMode::Append);
    FileStream in(path, OpenMode::Read);
    if (!cache.is_open() || !in.is_open())
        return false;
    range.offset = static_cast<std::uint32_t>(cache.size());
    range.length = static_cast<std::uint32_t>(in.size());
    std::vector<std::uint8_t> block(kCopyBlock);
    for (;;) {
        auto const n = in.read(block.data(), block.size());
        if (n == 0)
            break;
        if (cache.write(block.data(), n) != n)
            return false;
    }
    return cache.size() == std::uint64_t { range.offset } + range.length;
}

bool CacheWriter::finish(PictureIdentity const& identity) { return write_header() && append_identity(identity); }

bool CacheWriter::write_header()
{
    std::vector<std::uint8_t> header(header_size(m_levels, m_flags), 0);
    put32(header.data(), kCacheMark);
    header[4] = static_cast<std::uint8_t>(m_levels | m_flags);
    put32(header.data() + 5, m_records.front().entry_offset);
    put32(header.data() + 9, m_records.front().entry_length);
    for (int k = 1; k <= m_levels; ++k) {
        auto const& r = m_records[static_cast<std::size_t>(k)];
        auto* p = header.data() + 13 + 16 * (k - 1);
        put32(p, r.entry_offset);
        put32(p + 4, r.entry_length);
        put32(p + 8, r.jpeg_offset);
        put32(p + 12, r.jpeg_length);
    }
    put32(header.data() + 13 + 16 * m_levels, m_records.back().jpeg_offset);
    put32(header.data() + 17 + 16 * m_levels, m_records.back().jpeg_length);
    if (m_flags & kStoredStreamFlag) {
        put32(header.data() + 21 + 16 * m_levels, m_full_stream.offset);
        put32(header.data() + 25 + 16 * m_levels, m_full_stream.length);
    }
    // Written last and in place: the mark is what makes the file valid.
    FileStream cache(m_file, OpenMode::ReadWrite);
    return cache.is_open() && cache.write(header.data(), header.size()) == header.size();
}

// After everything the header points at: what tells this picture's file
// from another's.
bool CacheWriter::append_identity(PictureIdentity const& identity)
{
    FileStream cache(m_file, OpenMode::ReadWrite);
    if (!cache.is_open())
        return false;
    std::uint64_t const body = cache.size();
    auto const checksum = body_checksum_of(cache, body);
    if (!checksum)
        return false;
    auto const record = identity_record_with_checksum(identity, PictureProblem::None, *checksum);
    return cache.seek(body) && cache.write(record.data(), record.size()) == record.size();
}

}
