#include "catalog/FolderInfo.h"

#include "base/Paths.h"

#include <algorithm>
#include <numeric>
#include <unordered_map>

namespace qv {

WString folder_of(WStringView picture_path) { return directory_of(picture_path); }

WString folder_display_name(WStringView path)
{
    auto last = path.rfind(u'\\');
    if (last == WStringView::npos)
        last = path.size();
    auto before = last == 0 ? WStringView::npos : path.rfind(u'\\', last - 1);
    auto start = before == WStringView::npos ? 0 : before + 1;
    WString name(path.substr(start, last - start));
    if (name == u"%my_documents%")
        return u"My documents";
    return name;
}

namespace {

bool is_digit(char16_t c) { return c >= u'0' && c <= u'9'; }

}

int natural_compare(WStringView a, WStringView b)
{
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (is_digit(a[i]) && is_digit(b[j])) {
            // Numbers by value: without their leading zeros the longer run
            // is the larger, and runs of one length compare digit by digit.
            while (i < a.size() && a[i] == u'0')
                ++i;
            while (j < b.size() && b[j] == u'0')
                ++j;
            std::size_t end_a = i, end_b = j;
            while (end_a < a.size() && is_digit(a[end_a]))
                ++end_a;
            while (end_b < b.size() && is_digit(b[end_b]))
                ++end_b;
            if (end_a - i != end_b - j)
                return end_a - i < end_b - j ? -1 : 1;
            if (int const c = a.substr(i, end_a - i).compare(b.substr(j, end_b - j)); c != 0)
                return c < 0 ? -1 : 1;
            i = end_a;
            j = end_b;
            continue;
        }
        char16_t const x = to_lower(a[i]);
        char16_t const y = to_lower(b[j]);
        if (x != y)
            return x < y ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size())
        return i < a.size() ? 1 : -1;
    int const plain = a.compare(b);
    return plain < 0 ? -1 : plain > 0 ? 1 : 0;
}

void sort_albums(std::vector<FolderInfo>& albums)
{
    // By the captions the list shows, so that "Trips/Misc" sorts as it
    // reads, among the "T"s.
    auto captions = album_captions(albums);
    std::unordered_map<WString, std::size_t> root_order;
    for (auto const& album : albums)
        root_order.emplace(album.drive_path, root_order.size());
    std::vector<std::size_t> order(albums.size());
    std::iota(order.begin(), order.end(), std::size_t { 0 });
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        auto const ra = root_order[albums[a].drive_path];
        auto const rb = root_order[albums[b].drive_path];
        if (ra != rb)
            return ra < rb;
        if (int const by_name = natural_compare(captions[a], captions[b]))
            return by_name < 0;
        return natural_less(albums[a].folder_path, albums[b].folder_path);
    });
    std::vector<FolderInfo> sorted;
    sorted.reserve(albums.size());
    for (auto const i : order)
        sorted.push_back(std::move(albums[i]));
    albums = std::move(sorted);
}

namespace {

// The directories from the search root down to the album, the root's own
// caption first.
std::vector<WString> album_components(FolderInfo const& album)
{
    std::vector<WString> parts;
    WStringView rest = album.folder_path;
    if (!album.drive_path.empty() && rest.starts_with(album.drive_path)) {
        parts.push_back(folder_display_name(album.drive_path));
        rest.remove_prefix(album.drive_path.size());
    }
    while (!rest.empty()) {
        auto const end = std::min(rest.find(u'\\'), rest.size());
        if (end > 0)
            parts.emplace_back(rest.substr(0, end));
        rest.remove_prefix(std::min(end + 1, rest.size()));
    }
    return parts;
}

WString caption_of(std::vector<WString> const& parts, std::size_t count)
{
    WString caption;
    for (std::size_t i = parts.size() - std::min(count, parts.size()); i < parts.size(); ++i) {
        if (!caption.empty())
            caption += u'/';
        caption += parts[i];
    }
    return caption;
}

}

std::vector<WString> album_captions(std::vector<FolderInfo> const& albums)
{
    std::vector<std::vector<WString>> parts;
    parts.reserve(albums.size());
    for (auto const& album : albums)
        parts.push_back(album_components(album));
    std::vector<std::size_t> shown(albums.size(), 1);
    std::vector<WString> captions(albums.size());
    for (std::size_t i = 0; i < albums.size(); ++i)
        captions[i] = caption_of(parts[i], 1);
    // Every album whose caption another one shares shows one directory
    // more, until none is shared or the shared ones have no more to show.
    for (bool grew = true; grew;) {
        grew = false;
        std::unordered_map<WString, std::vector<std::size_t>> holders;
        for (std::size_t i = 0; i < captions.size(); ++i)
            holders[captions[i]].push_back(i);
        for (auto const& [caption, same] : holders) {
            if (same.size() < 2)
                continue;
            for (auto const i : same) {
                if (shown[i] < parts[i].size()) {
                    captions[i] = caption_of(parts[i], ++shown[i]);
                    grew = true;
                }
            }
        }
    }
    return captions;
}

}
