#include "thumbcache/CacheFile.h"
#include "base/FileInfo.h"
#include "base/FileStream.h"
#include "base/Paths.h"

#include <cstdio>

namespace qv {

namespace {

std::uint32_t le32(std::uint8_t const* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8
        | static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

bool fits(CacheRange range, std::uint64_t header, std::uint64_t file_size)
{
    return range.offset >= header && std::uint64_t { range.offset } + range.length <= file_size;
}

}

int level_count(std::int64_t side)
{
    int n = 0;
    while ((std::int64_t { 1 } << (n + 8)) < side)
        ++n;
    return n;
}

WString cache_file_name(WStringView picture, WStringView root)
{
    FileInfo info(picture);
    if (!info.exists())
        return {};
    auto const& t = info.created().fields();
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%f", t.second + t.millisecond / 1000.0);
    WString name = strip_trailing_separator(root);
    name += u'\\';
    name += kCacheDirectory;
    name += u'\\';
    name += to_wstring(static_cast<std::int32_t>(info.size()));
    for (int field : { int(t.year), int(t.month), int(t.day), int(t.hour), int(t.minute) })
        name += to_wstring(field);
    name += from_utf8(seconds);
    return name;
}

bool is_cache_file_valid(WStringView path)
{
    FileStream file(path, OpenMode::Read);
    std::uint8_t mark[4];
    return file.read(mark, 4) == 4 && le32(mark) == kCacheMark;
}

bool is_listed_cache_file_valid(WStringView path, std::optional<std::uint64_t> size)
{
    if (!size)
        return is_cache_file_valid(path);
    return *size >= kSmallestCacheFile;
}

bool is_bad_picture(WStringView path)
{
    FileInfo info(path);
    return info.exists() && !info.is_directory() && info.size() == 0;
}

std::optional<CacheHeader> read_cache_header(WStringView path)
{
    FileStream file(path, OpenMode::Read);
    std::uint8_t start[5];
    if (file.read(start, 5) != 5 || le32(start) != kCacheMark)
        return std::nullopt;
    std::uint8_t const flags = start[4] & ~kLevelCountMask;
    if (flags == (kStoredStreamFlag | kNoFullSizeFlag))
        return std::nullopt;
    int levels = start[4] & kLevelCountMask;
    auto header = header_size(levels, flags);
    std::vector<std::uint8_t> bytes(header - 5);
    if (file.read(bytes.data(), bytes.size()) != bytes.size())
        return std::nullopt;

    CacheHeader result;
    result.flags = flags;
    result.file_size = file.size();
    auto const* p = bytes.data();
    auto take = [&p] {
        CacheRange r { le32(p), le32(p + 4) };
        p += 8;
        return r;
    };
    result.levels.push_back({ take(), {} });
    for (int k = 1; k <= levels; ++k) {
        CacheLevel level;
        level.entries = take();
        level.jpeg = take();
        result.levels.push_back(level);
    }
    result.thumbnail = take();
    if (flags & kStoredStreamFlag)
        result.full_stream = take();

    // The file may come from a card written by anything: every range must
    // lie in the file, past the header.
    for (auto const& level : result.levels) {
        bool const full = &level == &result.levels.front();
        if (full && !result.has_full_size()) {
            if (level.entries.length != 0 || levels == 0)
                return std::nullopt;
            continue;
        }
        if (!fits(level.entries, header, result.file_size) || level.entries.length % kEntrySize != 0)
            return std::nullopt;
        if (!full && (!fits(level.jpeg, header, result.file_size) || level.jpeg.length == 0))
            return std::nullopt;
    }
    if (!fits(result.thumbnail, header, result.file_size) || result.thumbnail.length == 0)
        return std::nullopt;
    if ((flags & kStoredStreamFlag) && (!fits(result.full_stream, header, result.file_size) || result.full_stream.length == 0))
        return std::nullopt;
    return result;
}

}
