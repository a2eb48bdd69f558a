#include "screens/OpenRequest.h"

#include "base/Paths.h"
#include "catalog/AlbumListing.h"
#include "platform/Files.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <unordered_set>

namespace qv {

WString encode_open_request(std::vector<WString> const& paths)
{
    WString text;
    for (auto const& path : paths) {
        text += path;
        text += u'\0';
    }
    return text;
}

std::vector<WString> decode_open_request(WStringView text)
{
    std::vector<WString> paths;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(u'\0', start);
        if (end == WStringView::npos)
            end = text.size();
        if (end > start)
            paths.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return paths;
}

WString readable_path(WStringView path, bool slashes)
{
    static constexpr char16_t kHex[] = u"0123456789ABCDEF";
    WString out;
    out.reserve(path.size());
    for (char16_t const c : path) {
        if (c == u'\\' && slashes) {
            out += u'/';
        } else if (c >= 0xDC80 && c < 0xDD00) {
            // An escaped byte (from_utf8_escaped).
            out += u"\\x";
            out += kHex[(c >> 4) & 0xF];
            out += kHex[c & 0xF];
        } else {
            out += c;
        }
    }
    return out;
}

namespace {

WString with_separator(WStringView path) { return strip_trailing_separator(path) + u"\\"; }

// The rest of `path` after the directory `base` (both ending without a
// separator), or nothing when `path` is not inside it. Names are compared
// as the file system does, byte for byte.
std::optional<WString> inside(WStringView path, WStringView base)
{
    if (path == base)
        return WString();
    if (path.size() > base.size() && path.substr(0, base.size()) == base && path[base.size()] == u'\\')
        return WString(path.substr(base.size() + 1));
    return std::nullopt;
}

// The path with every link resolved, in program form; empty when it
// cannot be resolved.
WString resolved(WStringView path)
{
    char* real = ::realpath(platform::to_system_path(path).c_str(), nullptr);
    if (!real)
        return {};
    WString out = platform::from_system_path(real);
    std::free(real);
    return strip_trailing_separator(out);
}

}

PlacedPath place_in_roots(WStringView full_path, bool is_directory, std::vector<WString> const& roots)
{
    WString const path = strip_trailing_separator(full_path);
    // A folder is named with its trailing separator, as albums are.
    auto placed = [&](WString const& root, WString const& rest) {
        WString named = with_separator(root) + rest;
        return PlacedPath { with_separator(root), is_directory ? with_separator(named) : named };
    };
    for (auto const& root : roots) {
        if (auto rest = inside(path, strip_trailing_separator(expand_path(root))))
            return placed(root, *rest);
    }
    // Through links: a pictures folder that is a link to another disk, or a
    // path given through one.
    if (WString const real = resolved(path); !real.empty()) {
        for (auto const& root : roots) {
            WString const real_root = resolved(expand_path(root));
            if (real_root.empty())
                continue;
            if (auto rest = inside(real, real_root))
                return placed(root, *rest);
        }
    }
    if (is_directory)
        return PlacedPath { with_separator(path), with_separator(path) };
    return PlacedPath { folder_of(path), path };
}

OpenPlan plan_opening(std::vector<WString> const& paths, std::vector<WString> const& roots)
{
    OpenPlan plan;
    struct Given {
        PlacedPath placed;
        bool directory;
    };
    std::vector<Given> given;
    for (auto const& path : paths) {
        auto const entry = platform::stat_path(path);
        if (!entry) {
            plan.skipped.push_back(path);
            continue;
        }
        bool const directory = (entry->attributes & platform::kAttributeDirectory) != 0;
        given.push_back({ place_in_roots(path, directory, roots), directory });
    }
    if (given.empty())
        return plan;

    if (given.size() == 1) {
        auto const& [placed, directory] = given.front();
        WString const folder = directory ? placed.path : folder_of(placed.path);
        auto pictures = album_pictures(folder);
        bool const listed = directory || std::find(pictures.begin(), pictures.end(), placed.path) != pictures.end();
        if (listed) {
            plan.kind = OpenPlan::Kind::Album;
            plan.album.drive_path = placed.root;
            plan.album.folder_path = folder;
            plan.album.key_picture_path = pictures.empty() ? WString() : pictures.front();
            plan.album.folder_size = static_cast<std::int32_t>(pictures.size());
            if (!directory)
                plan.view = placed.path;
            return plan;
        }
    }

    plan.kind = OpenPlan::Kind::Pictures;
    std::unordered_set<WString> seen;
    auto add = [&](WString const& picture, WString const& root) {
        if (seen.insert(picture).second) {
            plan.pictures.push_back(picture);
            plan.roots.push_back(root);
        }
    };
    bool only_pictures = true;
    for (auto const& [placed, directory] : given) {
        if (directory) {
            only_pictures = false;
            for (auto const& picture : album_pictures(placed.path))
                add(picture, placed.root);
        } else {
            add(placed.path, placed.root);
        }
    }
    // Titled by what was given: the names of the pictures and folders.
    for (auto const& [placed, directory] : given) {
        if (!plan.caption.empty())
            plan.caption += u", ";
        plan.caption += directory ? folder_display_name(placed.path) : file_name_of(placed.path);
    }
    if (only_pictures && !plan.pictures.empty())
        plan.view = plan.pictures.front();
    return plan;
}

}
