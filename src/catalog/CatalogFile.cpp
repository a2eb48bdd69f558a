#include "catalog/CatalogFile.h"

#include "base/Log.h"
#include "base/Paths.h"
#include "catalog/AlbumListing.h"

#include <algorithm>
#include <cwctype>
#include <limits>
#include <map>
#include <optional>

namespace qv {

namespace {

bool is_space(char16_t c) { return std::iswspace(static_cast<wint_t>(c)) != 0; }
bool is_line_end(char16_t c) { return c == u'\r' || c == u'\n'; }
bool is_separator(char16_t c) { return c == u'\\' || c == u'/'; }

// The path as the file layer will use it: macros expanded, no trailing
// separator.
WString normal_form(WStringView path) { return strip_trailing_separator(expand_path(path)); }

bool is_root(WStringView drive, std::vector<WString> const& roots)
{
    WString const as_written = strip_trailing_separator(drive);
    WString const expanded = normal_form(drive);
    // An empty root would be the file system's own: never an album's.
    if (as_written.empty() || expanded.empty())
        return false;
    return std::any_of(roots.begin(), roots.end(), [&](WString const& root) {
        return strip_trailing_separator(root) == as_written || normal_form(root) == expanded;
    });
}

// `path` names something inside `root`: the root, a separator, then at
// least one name, and no ".." among the names.
bool lies_under(WStringView path, WStringView root)
{
    WString const base = strip_trailing_separator(root);
    if (path.size() <= base.size() + 1 || path.substr(0, base.size()) != base || !is_separator(path[base.size()]))
        return false;
    WStringView rest = path.substr(base.size() + 1);
    while (!rest.empty()) {
        auto const end = std::find_if(rest.begin(), rest.end(), is_separator);
        auto const length = static_cast<size_t>(end - rest.begin());
        if (rest.substr(0, length) == u"..")
            return false;
        rest.remove_prefix(std::min(rest.size(), length + 1));
    }
    return !is_separator(path.back());
}

}

std::map<WString, WString> parse_catalog_text(WStringView text)
{
    std::map<WString, WString> values;
    size_t i = 0;
    size_t const n = text.size();
    while (i < n) {
        while (i < n && is_space(text[i]))
            ++i;
        size_t key_start = i;
        while (i < n && !is_space(text[i]) && text[i] != u'=')
            ++i;
        WString key(text.substr(key_start, i - key_start));
        if (i < n && text[i] == u'=') {
            ++i;
        } else {
            while (i < n && is_space(text[i]) && !is_line_end(text[i]))
                ++i;
        }
        size_t value_start = i;
        while (i < n && !is_line_end(text[i]))
            ++i;
        if (!key.empty())
            values[key] = WString(text.substr(value_start, i - value_start));
    }
    return values;
}

std::int32_t parse_folder_size(WStringView text)
{
    size_t i = 0;
    while (i < text.size() && is_space(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+'))
        negative = text[i++] == u'-';
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 + (text[i] - u'0');
        if (value > std::numeric_limits<std::int32_t>::max())
            value = std::int64_t(std::numeric_limits<std::int32_t>::max()) + 1;
    }
    if (negative)
        value = -value;
    if (value > std::numeric_limits<std::int32_t>::max())
        value = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(value);
}

char const* folder_entry_problem(FolderInfo const& folder, std::vector<WString> const& roots)
{
    if (!is_root(folder.drive_path, roots))
        return "its drive path is no search root";
    if (folder.folder_size < 0)
        return "its size is negative";
    if (folder.folder_size > kMaxFolderSize)
        return "its size is beyond belief";
    if (!lies_under(folder.key_picture_path, folder.drive_path))
        return "its key picture does not lie under its drive path";
    // The folder is the key picture's; a picture at the root makes the
    // root itself the album.
    WString const album = strip_trailing_separator(folder.folder_path);
    if (album != strip_trailing_separator(folder.drive_path) && !lies_under(album, folder.drive_path))
        return "its folder does not lie under its drive path";
    return nullptr;
}

std::vector<FolderInfo> folders_from_text(WStringView text, std::vector<WString> const& roots)
{
    // The values come ordered by key, which puts "KeyPicturePath10" before
    // "KeyPicturePath2": each album is gathered under its own number and the
    // albums taken in the numbers' order, the order they were saved in.
    struct Numbered {
        std::uint64_t number { 0 };
        WString rest; // a suffix that is not a number sorts after the numbers
        bool operator<(Numbered const& other) const
        {
            return number != other.number ? number < other.number : rest < other.rest;
        }
    };
    auto const numbered = [](WStringView suffix) {
        Numbered n;
        bool const digits = !suffix.empty() && suffix.size() <= 18
            && std::all_of(suffix.begin(), suffix.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; });
        if (!digits) {
            n.number = std::numeric_limits<std::uint64_t>::max();
            n.rest = WString(suffix);
            return n;
        }
        for (auto c : suffix)
            n.number = n.number * 10 + static_cast<std::uint64_t>(c - u'0');
        return n;
    };
    struct Parts {
        std::optional<WString> key_picture;
        WString drive;
        std::int32_t size { 0 };
    };
    std::map<Numbered, Parts> entries;
    for (auto const& [key, value] : parse_catalog_text(text)) {
        if (key.starts_with(u"KeyPicturePath"))
            entries[numbered(WStringView(key).substr(14))].key_picture = value;
        else if (key.starts_with(u"FolderSize"))
            entries[numbered(WStringView(key).substr(10))].size = parse_folder_size(value);
        else if (key.starts_with(u"DrivePath"))
            entries[numbered(WStringView(key).substr(9))].drive = value;
    }
    std::vector<FolderInfo> folders;
    for (auto& [number, parts] : entries) {
        if (parts.key_picture)
            folders.push_back({ std::move(parts.drive), folder_of(*parts.key_picture), *parts.key_picture, parts.size });
    }
    std::vector<FolderInfo> usable;
    usable.reserve(folders.size());
    for (size_t i = 0; i < folders.size(); ++i) {
        auto& folder = folders[i];
        if (char const* problem = folder_entry_problem(folder, roots)) {
            Log::get() << u"album list: album " << static_cast<std::int64_t>(i) << u" left out, " << problem
                       << u": {" << folder.key_picture_path << u"} {" << folder.drive_path << u"} "
                       << folder.folder_size << u"\n";
            continue;
        }
        usable.push_back(std::move(folder));
    }
    return usable;
}

std::vector<FolderInfo> folders_from_text(WStringView text) { return folders_from_text(text, search_roots()); }

WString folders_to_text(std::vector<FolderInfo> const& folders)
{
    WString text;
    for (size_t i = 0; i < folders.size(); ++i) {
        auto number = to_wstring(static_cast<std::int64_t>(i));
        auto const& folder = folders[i];
        text += u"KeyPicturePath" + number + u"\t" + folder.key_picture_path + u"\n";
        text += u"DrivePath" + number + u"\t" + folder.drive_path + u"\n";
        text += u"FolderSize" + number + u"\t" + to_wstring(static_cast<std::int64_t>(folder.folder_size)) + u"\n";
    }
    return text;
}

}
