#include "thumbcache/CacheFile.h"
#include "thumbcache/CacheLocation.h"
#include "base/FileStream.h"
#include "base/Paths.h"
#include "platform/Files.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace qv {

namespace {

std::uint32_t le32(std::uint8_t const* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8
        | static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint64_t le64(std::uint8_t const* p)
{
    return le32(p) | std::uint64_t { le32(p + 4) } << 32;
}

void put64(std::vector<std::uint8_t>& out, std::uint64_t v)
{
    for (int i = 0; i < 8; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

bool fits(CacheRange range, std::uint64_t header, std::uint64_t end)
{
    return range.offset >= header && std::uint64_t { range.offset } + range.length <= end;
}

constexpr std::uint8_t kRecordVersion = 2;
constexpr std::size_t kFirstRecordFixed = 32; // version 1: no checksum
constexpr std::uint8_t kRecordMagic[4] = { 'Q', 'V', 'I', 'D' };
// The largest header: 63 levels and a stored stream.
constexpr std::size_t kMaxHeader = 21 + 16 * 63 + 8;
constexpr std::size_t kFingerprintSpan = 4096;

struct Fnv {
    std::uint64_t value { 0xcbf29ce484222325ull };
    void add(std::uint8_t const* p, std::size_t n)
    {
        for (std::size_t i = 0; i < n; ++i) {
            value ^= p[i];
            value *= 0x100000001b3ull;
        }
    }
};

std::uint64_t path_hash(WStringView path)
{
    Fnv hash;
    auto const bytes = to_utf8_escaped(path);
    hash.add(reinterpret_cast<std::uint8_t const*>(bytes.data()), bytes.size());
    return hash.value;
}

// The picture's path as recorded: from its search root, in expanded form,
// so that "%my_documents%" and its expansion record the same.
WString relative_path(WStringView picture, WStringView root)
{
    WString const full = expand_path(picture);
    if (root.empty())
        return full;
    WString const base = strip_trailing_separator(expand_path(root)) + u"\\";
    if (full.size() > base.size() && path_starts_with(full, base))
        return full.substr(base.size());
    return full;
}

struct ReadRecord {
    std::optional<CacheHeader> header;
    std::optional<IdentityRecord> record;
    bool ours { false }; // see CacheFileEnds
};

// The header of a complete file from its first bytes `head`, its ranges
// checked against `content_end`, where the record starts.
std::optional<CacheHeader> parse_header(std::span<std::uint8_t const> head, std::uint64_t content_end)
{
    std::uint8_t const flags = head[4] & ~kLevelCountMask;
    if (flags == (kStoredStreamFlag | kNoFullSizeFlag))
        return std::nullopt;
    int const levels = head[4] & kLevelCountMask;
    auto const header = header_size(levels, flags);
    if (head.size() < header)
        return std::nullopt;

    CacheHeader h;
    h.flags = flags;
    h.content_end = content_end;
    auto const* p = head.data() + 5;
    auto take = [&p] {
        CacheRange r { le32(p), le32(p + 4) };
        p += 8;
        return r;
    };
    h.levels.push_back({ take(), {} });
    for (int k = 1; k <= levels; ++k) {
        CacheLevel level;
        level.entries = take();
        level.jpeg = take();
        h.levels.push_back(level);
    }
    h.thumbnail = take();
    if (flags & kStoredStreamFlag)
        h.full_stream = take();

    // The file may come from a card written by anything: every range must
    // lie in the file, past the header and before the record.
    auto const end = h.content_end;
    for (auto const& level : h.levels) {
        bool const full = &level == &h.levels.front();
        if (full && !h.has_full_size()) {
            if (level.entries.length != 0 || levels == 0)
                return std::nullopt;
            continue;
        }
        if (!fits(level.entries, header, end) || level.entries.length % kEntrySize != 0)
            return std::nullopt;
        if (!full && (!fits(level.jpeg, header, end) || level.jpeg.length == 0))
            return std::nullopt;
    }
    if (!fits(h.thumbnail, header, end) || h.thumbnail.length == 0)
        return std::nullopt;
    if ((flags & kStoredStreamFlag) && (!fits(h.full_stream, header, end) || h.full_stream.length == 0))
        return std::nullopt;
    return h;
}

// Where a complete file's content ends, from its header: the record comes
// right after the last range.
std::optional<std::uint64_t> content_end_of(std::span<std::uint8_t const> head)
{
    int const levels = head[4] & kLevelCountMask;
    std::uint8_t const flags = head[4] & ~kLevelCountMask;
    std::size_t const fields = 2 + 4 * static_cast<std::size_t>(levels) + 2 + ((flags & kStoredStreamFlag) ? 2 : 0);
    if (head.size() < 5 + 4 * fields)
        return std::nullopt;
    std::uint64_t end = 0;
    for (std::size_t i = 0; i + 1 < fields; i += 2) {
        auto const* p = head.data() + 5 + 4 * i;
        end = std::max(end, std::uint64_t { le32(p) } + le32(p + 4));
    }
    return end;
}

void take_header(ReadRecord& result, std::span<std::uint8_t const> head, std::uint64_t content_end, std::uint64_t size)
{
    auto header = parse_header(head, content_end);
    if (!header)
        return;
    header->file_size = size;
    if (result.record) {
        header->identity = result.record->identity;
        header->body_checksum = result.record->body_checksum;
    }
    result.header = std::move(header);
}

// One open and, for nearly every file, two reads: the header, which says
// where the content ends, and the record after it. No size is asked for:
// a read past the end says where the file ends.
ReadRecord read_file_ends(platform::File& file, bool want_header)
{
    ReadRecord result;
    if (!file.is_open())
        return result;
    constexpr std::size_t kFirstRead = 512;
    std::vector<std::uint8_t> head(kFirstRead);
    head.resize(file.read_at(0, head.data(), head.size()));
    bool const complete = head.size() >= 5 && le32(head.data()) == kCacheMark;
    // Nothing is lost with an empty file, and the complete mark is ours
    // even where the rest was cut short.
    result.ours = head.empty() || (head.size() >= 4 && le32(head.data()) == kCacheMark);

    if (head.size() < kFirstRead || !complete) {
        // A marker, an unfinished file or anything else: its record, if
        // any, is at its end.
        std::uint64_t const size = head.size() < kFirstRead ? head.size() : file.size();
        std::vector<std::uint8_t> tail;
        if (size == head.size()) {
            tail = head;
        } else {
            tail.resize(static_cast<std::size_t>(std::min<std::uint64_t>(size, kIdentityRecordFixed + kMaxRecordedPath)));
            if (file.read_at(size - tail.size(), tail.data(), tail.size()) != tail.size())
                return result;
        }
        result.record = parse_identity_record(tail, size);
        result.ours = result.ours || result.record.has_value();
        if (!complete || !want_header)
            return result;
        auto const end = content_end_of(head);
        if (!end || *end > size)
            return result;
        if (result.record && result.record->offset != *end)
            result.record.reset();
        if (result.record && result.record->problem != PictureProblem::None)
            return result;
        take_header(result, head, result.record ? result.record->offset : size, size);
        return result;
    }

    if (header_size(head[4] & kLevelCountMask, head[4] & ~kLevelCountMask) > head.size()) {
        head.resize(kMaxHeader);
        head.resize(file.read_at(0, head.data(), head.size()));
    }
    auto const end = content_end_of(head);
    if (!end || *end == 0)
        return result;
    // From the content's last byte: none read means the file is shorter.
    std::vector<std::uint8_t> tail(1 + kIdentityRecordFixed + kMaxRecordedPath);
    auto const got = file.read_at(*end - 1, tail.data(), tail.size());
    if (got == 0)
        return result;
    std::uint64_t const size = *end - 1 + got;
    std::span<std::uint8_t const> const after(tail.data() + 1, got - 1);
    result.record = parse_identity_record(after, size);
    result.ours = result.ours || result.record.has_value();
    if (result.record && result.record->offset != *end)
        result.record.reset();
    if (!want_header || (result.record && result.record->problem != PictureProblem::None))
        return result;
    // Without a record, whatever follows the content is not read as one.
    take_header(result, head, *end, size);
    return result;
}

ReadRecord read_file_ends(WStringView path, bool want_header)
{
    platform::File file;
    file.open(expand_path(path), OpenMode::Read);
    return read_file_ends(file, want_header);
}

bool same_listing(PictureIdentity const& recorded, PictureIdentity const& picture)
{
    return recorded.size == picture.size && recorded.modified_ns == picture.modified_ns;
}

}

int level_count(std::int64_t side)
{
    int n = 0;
    while ((std::int64_t { 1 } << (n + 8)) < side)
        ++n;
    return n;
}

std::optional<PictureIdentity> stat_picture(WStringView picture, WStringView root)
{
    auto entry = platform::stat_path(expand_path(picture));
    if (!entry || (entry->attributes & platform::kAttributeDirectory))
        return std::nullopt;
    PictureIdentity identity;
    identity.size = entry->size;
    identity.modified_ns = entry->modified_ns;
    identity.relative_path = relative_path(picture, root);
    return identity;
}

std::optional<PictureIdentity> identify_picture(WStringView picture, WStringView root)
{
    auto identity = stat_picture(picture, root);
    if (!identity)
        return std::nullopt;
    auto fingerprint = picture_fingerprint(picture);
    if (!fingerprint)
        return std::nullopt;
    identity->fingerprint = *fingerprint;
    return identity;
}

WString root_of_cache_file(WStringView cache_file) { return root_of_cache_directory(directory_of(cache_file)); }

std::optional<std::uint64_t> picture_fingerprint(WStringView picture)
{
    FileStream file(picture, OpenMode::Read);
    if (!file.is_open())
        return std::nullopt;
    std::uint64_t const size = file.size();
    Fnv hash;
    std::uint8_t size_bytes[8];
    for (int i = 0; i < 8; ++i)
        size_bytes[i] = static_cast<std::uint8_t>(size >> (8 * i));
    hash.add(size_bytes, 8);
    std::vector<std::uint8_t> bytes(kFingerprintSpan);
    auto const first = static_cast<std::size_t>(std::min<std::uint64_t>(size, kFingerprintSpan));
    if (file.read_at(0, bytes.data(), first) != first)
        return std::nullopt;
    hash.add(bytes.data(), first);
    if (size > kFingerprintSpan) {
        auto const last = static_cast<std::size_t>(std::min<std::uint64_t>(size - kFingerprintSpan, kFingerprintSpan));
        if (file.read_at(size - last, bytes.data(), last) != last)
            return std::nullopt;
        hash.add(bytes.data(), last);
    }
    // 0 means "not read" in a PictureIdentity.
    return hash.value == 0 ? 1 : hash.value;
}

std::uint32_t body_checksum(std::span<std::uint8_t const> bytes, std::uint32_t so_far)
{
    std::uint32_t crc = so_far;
    // zlib takes at most 4 GiB a call.
    for (std::size_t at = 0; at < bytes.size();) {
        auto const n = static_cast<uInt>(std::min<std::size_t>(bytes.size() - at, 1u << 30));
        crc = static_cast<std::uint32_t>(crc32(crc, bytes.data() + at, n));
        at += n;
    }
    return crc;
}

std::vector<std::uint8_t> identity_record(PictureIdentity const& identity, PictureProblem problem,
    std::span<std::uint8_t const> body)
{
    return identity_record_with_checksum(identity, problem, body_checksum(body));
}

std::vector<std::uint8_t> identity_record_with_checksum(PictureIdentity const& identity, PictureProblem problem,
    std::uint32_t checksum)
{
    auto path = to_utf8_escaped(identity.relative_path);
    if (path.size() > kMaxRecordedPath)
        path.clear(); // then only the fingerprint can tell a renamed picture
    std::vector<std::uint8_t> out(path.begin(), path.end());
    put64(out, identity.size);
    put64(out, static_cast<std::uint64_t>(identity.modified_ns));
    put64(out, identity.fingerprint);
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(checksum >> (8 * i)));
    out.push_back(static_cast<std::uint8_t>(problem));
    out.push_back(kRecordVersion);
    out.push_back(static_cast<std::uint8_t>(path.size()));
    out.push_back(static_cast<std::uint8_t>(path.size() >> 8));
    out.insert(out.end(), std::begin(kRecordMagic), std::end(kRecordMagic));
    return out;
}

std::optional<IdentityRecord> parse_identity_record(std::span<std::uint8_t const> tail, std::uint64_t file_size)
{
    // The last eight bytes are laid out alike in both versions.
    if (tail.size() < kFirstRecordFixed || tail.size() > file_size)
        return std::nullopt;
    auto const* end = tail.data() + tail.size();
    if (!std::equal(std::begin(kRecordMagic), std::end(kRecordMagic), end - 4))
        return std::nullopt;
    std::uint8_t const version = end[-7];
    if (version != 1 && version != kRecordVersion)
        return std::nullopt;
    std::size_t const fixed_size = version == 1 ? kFirstRecordFixed : kIdentityRecordFixed;
    std::size_t const path_length = end[-6] | std::size_t { end[-5] } << 8;
    if (path_length > kMaxRecordedPath || path_length + fixed_size > tail.size())
        return std::nullopt;
    if (end[-8] > static_cast<std::uint8_t>(PictureProblem::Storage))
        return std::nullopt;
    auto const* fixed = end - fixed_size;
    IdentityRecord record;
    auto const* path = fixed - path_length;
    record.identity.relative_path = from_utf8_escaped(std::string_view(reinterpret_cast<char const*>(path), path_length));
    record.identity.size = le64(fixed);
    record.identity.modified_ns = static_cast<std::int64_t>(le64(fixed + 8));
    record.identity.fingerprint = le64(fixed + 16);
    if (version != 1)
        record.body_checksum = le32(fixed + 24);
    record.problem = static_cast<PictureProblem>(end[-8]);
    record.offset = file_size - path_length - fixed_size;
    return record;
}

WString cache_plain_name(PictureIdentity const& identity, WStringView root)
{
    auto const seconds = static_cast<std::time_t>(
        identity.modified_ns >= 0 ? identity.modified_ns / 1'000'000'000 : -((-identity.modified_ns + 999'999'999) / 1'000'000'000));
    auto const nanoseconds = identity.modified_ns - std::int64_t { seconds } * 1'000'000'000;
    struct tm t {};
    gmtime_r(&seconds, &t);
    char name[96];
    std::snprintf(name, sizeof name, "%llu-%04d%02d%02d%02d%02d%02d.%09lld", static_cast<unsigned long long>(identity.size),
        t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, static_cast<long long>(nanoseconds));
    return cache_directory_of(root) + u"\\" + from_utf8(name);
}

WString cache_collision_name(PictureIdentity const& identity, WStringView root)
{
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, "-%016llx", static_cast<unsigned long long>(path_hash(identity.relative_path)));
    return cache_plain_name(identity, root) + from_utf8(suffix);
}

CacheLookup find_cache_file(WStringView picture, WStringView root, IdentityCheck check,
    std::function<bool(WStringView)> const& listed)
{
    CacheLookup lookup;
    auto identity = stat_picture(picture, root);
    if (!identity)
        return lookup;
    WString const plain = cache_plain_name(*identity, root);
    auto present = [&](WString const& name) {
        return listed ? listed(name) : platform::stat_path(expand_path(name)).has_value();
    };
    auto fingerprint = [&]() -> std::uint64_t {
        if (identity->fingerprint == 0)
            identity->fingerprint = picture_fingerprint(picture).value_or(0);
        return identity->fingerprint;
    };
    auto identifies = [&](PictureIdentity const& recorded) {
        if (!same_listing(recorded, *identity))
            return false;
        if (check == IdentityCheck::Listing && recorded.relative_path == identity->relative_path)
            return true;
        return recorded.fingerprint != 0 && recorded.fingerprint == fingerprint();
    };

    // What the plain name holds, when it is another picture's: then this
    // picture takes the collision name. The plain name is looked at first:
    // it is nearly always the one.
    bool plain_taken = false;
    auto look = [&](WString const& name) {
        if (!present(name))
            return false;
        auto const ends = read_file_ends(name, true);
        if (!ends.record) {
            // A complete file from before records is ours, and rebuilt; a
            // file that is not ours (or a directory) is left alone, and
            // this picture takes the other name.
            if (&name == &plain && !ends.ours)
                plain_taken = true;
            return false;
        }
        if (identifies(ends.record->identity)) {
            if (ends.record->problem != PictureProblem::None) {
                lookup.state = CacheLookup::State::Bad;
                lookup.problem = ends.record->problem;
            } else {
                // A record whose header does not check out is a damaged
                // file of this picture, and one without a checksum is
                // older than checksums: built again under its name.
                bool const sound = ends.header && ends.record->body_checksum;
                lookup.state = sound ? CacheLookup::State::Valid : CacheLookup::State::Absent;
            }
            lookup.path = name;
            return true;
        }
        if (&name == &plain) {
            // Another picture's file only while that picture is there as
            // recorded; else it is stale and the name is free.
            auto const& recorded = ends.record->identity;
            auto const other = stat_picture(strip_trailing_separator(expand_path(root)) + u"\\" + recorded.relative_path, root);
            plain_taken = other && same_listing(recorded, *other) && recorded.relative_path != identity->relative_path;
        }
        return false;
    };
    if (look(plain))
        return lookup;
    WString const collision = cache_collision_name(*identity, root);
    if (look(collision))
        return lookup;
    lookup.state = CacheLookup::State::Absent;
    lookup.path = plain_taken ? collision : plain;
    return lookup;
}

WString cache_file_name(WStringView picture, WStringView root)
{
    return find_cache_file(picture, root, IdentityCheck::Listing).path;
}

bool is_cache_file_valid(WStringView path)
{
    return read_cache_header(path).has_value();
}

std::optional<CacheHeader> read_cache_header(WStringView path)
{
    return read_file_ends(path, true).header;
}

CacheFileEnds read_cache_ends(platform::File& file)
{
    auto ends = read_file_ends(file, true);
    return { std::move(ends.header), std::move(ends.record), ends.ours };
}

bool cache_body_intact(WStringView path)
{
    platform::File file;
    if (!file.open(expand_path(path), OpenMode::Read))
        return false;
    auto const ends = read_file_ends(file, true);
    if (!ends.header || !ends.header->body_checksum)
        return false;
    return body_checksum_of(file, ends.header->content_end) == ends.header->body_checksum;
}

}
