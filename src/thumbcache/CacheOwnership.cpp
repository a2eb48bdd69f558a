#include "thumbcache/CacheOwnership.h"

#include "base/Log.h"
#include "base/Paths.h"
#include "platform/Files.h"
#include "platform/OwnFiles.h"
#include "thumbcache/CacheFile.h"
#include "thumbcache/ScratchFiles.h"

namespace qv {

namespace {

bool digits(WStringView text, std::size_t from, std::size_t count, bool hex = false)
{
    if (from + count > text.size())
        return false;
    for (std::size_t i = from; i < from + count; ++i) {
        char16_t const c = text[i];
        bool const ok = (c >= u'0' && c <= u'9') || (hex && c >= u'a' && c <= u'f');
        if (!ok)
            return false;
    }
    return true;
}

bool is_ours(platform::File& file) { return read_cache_ends(file).ours; }

}

bool is_own_cache_file(platform::OwnDirectory const& directory, WStringView leaf)
{
    if (!has_cache_name_shape(leaf))
        return false;
    platform::File file;
    return directory.open_file(leaf, file) && is_ours(file);
}

bool has_cache_name_shape(WStringView name)
{
    std::size_t size_digits = 0;
    while (size_digits < name.size() && size_digits < 20 && name[size_digits] >= u'0' && name[size_digits] <= u'9')
        ++size_digits;
    if (size_digits == 0 || size_digits >= name.size() || name[size_digits] != u'-')
        return false;
    std::size_t at = size_digits + 1;
    if (!digits(name, at, 14) || at + 14 >= name.size() || name[at + 14] != u'.' || !digits(name, at + 15, 9))
        return false;
    at += 24;
    if (at == name.size())
        return true;
    return name.size() == at + 17 && name[at] == u'-' && digits(name, at + 1, 16, true);
}

bool usable_cache_directory(WStringView path)
{
    auto const state = platform::place_state(strip_trailing_separator(expand_path(path)));
    return state == platform::PlaceState::Missing || state == platform::PlaceState::OwnDirectory;
}

bool remove_own_cache_file(WStringView path)
{
    WString const full = expand_path(path);
    platform::OwnDirectory directory(strip_trailing_separator(directory_of(full)));
    WString const leaf = file_name_of(full);
    return directory.is_open() && is_own_cache_file(directory, leaf) && directory.remove_file(leaf);
}

bool free_for_cache_file(WStringView path)
{
    WString const full = expand_path(path);
    if (platform::place_state(full) == platform::PlaceState::Missing)
        return true;
    platform::OwnDirectory directory(strip_trailing_separator(directory_of(full)));
    return directory.is_open() && is_own_cache_file(directory, file_name_of(full));
}

CacheSweep remove_unused_cache_files(WStringView cache_directory, std::function<bool(WStringView leaf_name)> const& in_use)
{
    CacheSweep sweep;
    WString const path = strip_trailing_separator(expand_path(cache_directory));
    platform::OwnDirectory directory(path);
    if (!directory.is_open()) {
        sweep.refused = directory.state() != platform::PlaceState::Missing;
        if (sweep.refused)
            Log::get() << u"cache directory left alone, " << from_utf8(platform::place_state_text(directory.state()))
                       << u": " << path << u"\n";
        return sweep;
    }
    for (auto const& entry : directory.list()) {
        if (entry.is_directory || is_scratch_file_name(entry.name) || in_use(entry.name))
            continue;
        if (!is_own_cache_file(directory, entry.name))
            ++sweep.kept;
        else if (directory.remove_file(entry.name))
            ++sweep.removed;
    }
    if (sweep.kept > 0)
        Log::get() << u"cache directory " << path << u": " << sweep.kept << u" files that are not cache files left alone\n";
    return sweep;
}

bool mark_cache_damaged(WStringView path)
{
    WString const full = expand_path(path);
    platform::OwnDirectory directory(strip_trailing_separator(directory_of(full)));
    WString const leaf = file_name_of(full);
    platform::File file;
    // Only a complete file of ours has a mark to take off; the one handle
    // is read and written, so what was proven ours is what changes.
    if (!has_cache_name_shape(leaf) || !directory.open_file(leaf, file, true) || !read_cache_ends(file).header)
        return false;
    std::uint8_t const unfinished[4] = { 0, 0, 0, 0 };
    bool const ok = file.seek(0) && file.write(unfinished, sizeof unfinished) == sizeof unfinished;
    Log::get() << u"damaged cache file marked for building again: " << full << u"\n";
    return ok;
}

}
