#include "catalog/AlbumListing.h"

#include "base/Directories.h"
#include "base/Paths.h"
#include "catalog/FolderInfo.h"
#include "imaging/Exif.h"
#include "imaging/PictureFormat.h"
#include "platform/Files.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>
#include <tuple>

namespace qv {

namespace {

// Cameras write their Exif block first, and its dates within the first
// kilobyte or two: one read of this much finds them in nearly every picture.
constexpr std::size_t kPrefixSize = 16 * 1024;
// No picture carries more segments than this before its Exif block.
constexpr int kMaxSegments = 64;

// The bytes of `file` at `offset`: from `prefix` where it holds them, else
// read. False when the file ends first.
bool bytes_at(platform::File& file, std::span<std::uint8_t const> prefix, std::uint64_t offset, std::uint8_t* out,
    std::size_t count)
{
    if (offset + count <= prefix.size()) {
        std::memcpy(out, prefix.data() + offset, count);
        return true;
    }
    return file.read_at(offset, out, count) == count;
}

}

std::optional<ExifDateTime> picture_date_taken(WStringView path)
{
    platform::File file;
    if (!file.open(expand_path(path), platform::OpenMode::Read))
        return std::nullopt;
    std::vector<std::uint8_t> prefix(kPrefixSize);
    prefix.resize(file.read_at(0, prefix.data(), prefix.size()));
    if (prefix.size() < 4 || prefix[0] != 0xFF || prefix[1] != 0xD8)
        return std::nullopt;
    static constexpr std::array<std::uint8_t, 6> kSignature { 'E', 'x', 'i', 'f', 0, 0 };
    std::uint64_t at = 2;
    for (int segment = 0; segment < kMaxSegments; ++segment) {
        std::uint8_t header[4];
        if (!bytes_at(file, prefix, at, header, sizeof header) || header[0] != 0xFF)
            return std::nullopt;
        std::uint8_t const code = header[1];
        // Up to the first scan, and only segments with a length.
        if (code == 0xDA || code == 0xD9 || code == 0xFF || code == 0x00 || code == 0x01
            || (code >= 0xD0 && code <= 0xD8))
            return std::nullopt;
        std::size_t const length = std::size_t { header[2] } << 8 | header[3];
        if (length < 2)
            return std::nullopt;
        std::uint64_t const payload_at = at + 4;
        std::size_t const payload = length - 2;
        at = payload_at + payload;
        if (code != 0xE1 || payload < kSignature.size())
            continue;
        std::array<std::uint8_t, 6> signature {};
        if (!bytes_at(file, prefix, payload_at, signature.data(), signature.size()))
            return std::nullopt;
        if (signature != kSignature)
            continue; // XMP; the Exif block may follow
        // The part already read is tried first: a date that lies in it
        // needs no more; exif_date_taken refuses tables cut by its end.
        if (payload_at < prefix.size()) {
            std::size_t const held = std::min<std::size_t>(payload, prefix.size() - payload_at);
            if (auto date = exif_date_taken(std::span(prefix).subspan(payload_at, held)))
                return date;
            if (held == payload)
                return std::nullopt;
        }
        std::vector<std::uint8_t> block(payload);
        if (file.read_at(payload_at, block.data(), block.size()) != block.size())
            return std::nullopt;
        return exif_date_taken(block);
    }
    return std::nullopt;
}

bool is_picture_name(WStringView name) { return has_picture_extension(name); }

namespace {

WString lower_stem(WStringView name)
{
    WString stem(name.substr(0, name.rfind(u'.')));
    for (auto& c : stem)
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c - u'A' + u'a');
    return stem;
}

// The pictures among a directory's files. A camera that saves a RAW and a
// JPEG of each shot gives two files of one picture: the RAW beside a
// picture of the same name is not shown again.
std::vector<WString> picture_names(std::vector<platform::ListedEntry> const& entries)
{
    std::vector<WString> pictures;
    std::vector<WString> stems;
    for (auto const& entry : entries)
        if (!entry.is_directory && is_picture_name(entry.name) && !has_raw_extension(entry.name))
            stems.push_back(lower_stem(entry.name));
    std::sort(stems.begin(), stems.end());
    for (auto const& entry : entries) {
        if (entry.is_directory || !is_picture_name(entry.name))
            continue;
        if (has_raw_extension(entry.name) && std::binary_search(stems.begin(), stems.end(), lower_stem(entry.name)))
            continue;
        pictures.push_back(entry.name);
    }
    return pictures;
}

struct Listing {
    std::vector<WString> pictures;
    std::vector<WString> directories;
};

// One listing of the directory serves its pictures and the directories
// below, each in the order they are shown.
Listing list_album(WString const& directory)
{
    Listing listing;
    auto const entries = platform::list_directory(expand_path(directory));
    for (auto const& entry : entries)
        if (entry.is_directory)
            listing.directories.push_back(join_path(directory, entry.name));
    for (auto const& name : picture_names(entries))
        listing.pictures.push_back(join_path(directory, name));
    std::sort(listing.directories.begin(), listing.directories.end(),
        [](WString const& a, WString const& b) { return natural_less(a, b); });
    listing.pictures = in_album_order(std::move(listing.pictures));
    return listing;
}

bool stopped(std::atomic<bool> const* stop) { return stop && stop->load(std::memory_order_relaxed); }

bool walk(WString const& directory, std::atomic<bool> const* stop, std::vector<WString>& pictures)
{
    if (stopped(stop))
        return false;
    auto listing = list_album(directory);
    pictures.insert(pictures.end(), std::make_move_iterator(listing.pictures.begin()),
        std::make_move_iterator(listing.pictures.end()));
    for (auto const& below : listing.directories) {
        if (!walk(below, stop, pictures))
            return false;
    }
    return true;
}

}

std::vector<WString> in_album_order(std::vector<WString> pictures)
{
    struct Keyed {
        std::optional<ExifDateTime> taken;
        WString path;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(pictures.size());
    for (auto& picture : pictures) {
        auto taken = picture_date_taken(picture);
        keyed.push_back({ taken, std::move(picture) });
    }
    auto const when = [](ExifDateTime const& d) { return std::tie(d.year, d.month, d.day, d.hour, d.minute, d.second); };
    std::stable_sort(keyed.begin(), keyed.end(), [&](Keyed const& a, Keyed const& b) {
        if (a.taken.has_value() != b.taken.has_value())
            return a.taken.has_value();
        if (a.taken && *a.taken != *b.taken)
            return when(*a.taken) < when(*b.taken);
        return natural_less(file_name_of(a.path), file_name_of(b.path));
    });
    pictures.clear();
    for (auto& k : keyed)
        pictures.push_back(std::move(k.path));
    return pictures;
}

std::optional<WString> raw_companion(WStringView picture)
{
    WString const name = file_name_of(picture);
    if (has_raw_extension(name))
        return std::nullopt;
    WString const stem = lower_stem(name);
    WString const folder(picture.substr(0, picture.size() - name.size()));
    for (auto const& entry : platform::list_directory(expand_path(folder)))
        if (!entry.is_directory && has_raw_extension(entry.name) && lower_stem(entry.name) == stem)
            return entry.name;
    return std::nullopt;
}

std::vector<WString> album_pictures(WStringView directory) { return list_album(WString(directory)).pictures; }

int album_picture_count(WStringView directory)
{
    return static_cast<int>(picture_names(platform::list_directory(expand_path(directory))).size());
}

bool pictures_under(WStringView root, std::vector<WString>& pictures, std::atomic<bool> const* stop)
{
    return walk(WString(root), stop, pictures);
}

std::vector<WString> search_roots()
{
    PathCollector cards(PathCollector::Take::Directories);
    find_drives(cards);
    std::vector<WString> roots;
    roots.reserve(cards.paths.size() + 1);
    for (auto const& card : cards.paths)
        roots.push_back(card + u"\\");
    roots.push_back(u"%my_documents%\\");
    return roots;
}

}
