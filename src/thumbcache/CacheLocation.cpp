#include "thumbcache/CacheLocation.h"

#include "base/Log.h"
#include "base/Paths.h"
#include "platform/Files.h"
#include "platform/System.h"
#include "thumbcache/CacheFile.h"
#include "thumbcache/CacheOwnership.h"

#include <chrono>
#include <cstdio>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <unordered_map>

namespace qv {

namespace {

using Clock = std::chrono::steady_clock;

// How long a card's answer to "can you be written?" is trusted: long
// enough that a search asks it once per card, short enough that a card
// mounted again is seen by the next search.
constexpr auto kCardAnswerLife = std::chrono::seconds(5);

// Longer folder names are cut and told apart by a hash: most file systems
// take 255 bytes a name.
constexpr std::size_t kMaxFolderName = 160;

struct Place {
    WString directory;
    bool card { false };
    Clock::time_point decided;
};

struct Places {
    std::shared_mutex mutex;
    std::unordered_map<WString, Place> by_root; // roots without their trailing separator
    std::unordered_map<WString, WString> root_by_directory;
    std::function<bool(WStringView)> card_refuses_writes;
};

Places& places()
{
    static Places instance;
    return instance;
}

using WritesCheck = std::function<bool(WStringView)>;

bool refuses_writes(WritesCheck const& check, WStringView card)
{
    if (check)
        return check(card);
    return platform::storage_fault(card) == platform::StorageFault::ReadOnly;
}

bool is_card(WStringView expanded_root)
{
    for (auto const& card : platform::storage_cards()) {
        if (strip_trailing_separator(card) == expanded_root)
            return true;
    }
    return false;
}

WString documents_root() { return strip_trailing_separator(expand_path(u"%my_documents%")); }

// A card's own directory is used only when it is a real directory of
// ours, or nothing yet: a link there would have the search delete in, and
// the builds write into, whatever folder it points at.
WString card_directory(WritesCheck const& check, WStringView card)
{
    WString const own = WString(card) + u"\\" + kCacheDirectory;
    if (!usable_cache_directory(own)) {
        Log::get() << u"not used for cache files, not a directory of ours: " << own << u"\n";
        return user_cache_directory() + u"\\cards\\" + file_name_of(card);
    }
    if (refuses_writes(check, card))
        return user_cache_directory() + u"\\cards\\" + file_name_of(card);
    return own;
}

Place decide(WritesCheck const& check, WStringView root)
{
    WString const expanded = strip_trailing_separator(expand_path(root));
    Place place;
    place.decided = Clock::now();
    // Names on Linux differ by case: "Photos" and "photos" are two folders.
    if (expanded == documents_root()) {
        place.directory = user_cache_directory() + u"\\documents";
        // Where the cache home's own directory has become a link (an old
        // move of a linked cache directory made such), the pictures folder
        // keeps its caches as any other folder.
        if (!usable_cache_directory(place.directory)) {
            Log::get() << u"not used for cache files, not a directory of ours: " << place.directory << u"\n";
            place.directory = user_cache_directory() + u"\\folders\\" + folder_cache_name(expanded);
        }
    } else if (is_card(expanded)) {
        place.card = true;
        place.directory = card_directory(check, expanded);
    } else {
        place.directory = user_cache_directory() + u"\\folders\\" + folder_cache_name(expanded);
    }
    return place;
}

std::uint64_t fnv1a(WStringView text)
{
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (char16_t c : text) {
        for (int shift : { 0, 8 }) {
            hash ^= static_cast<std::uint8_t>(c >> shift);
            hash *= 0x100000001b3ull;
        }
    }
    return hash;
}

int hex_value(char16_t c)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

}

WString user_cache_directory() { return platform::from_system_path(xdg_base_directory("XDG_CACHE_HOME", ".cache") + "/quilvane"); }

// "\home\ann\Trips\Paris" becomes "!home!ann!Trips!Paris": each separator
// a "!", and the two characters that would make it ambiguous, "!" and "%",
// written "%21" and "%25".
WString folder_cache_name(WStringView expanded_path)
{
    WString name;
    name.reserve(expanded_path.size() + 8);
    for (char16_t c : expanded_path) {
        if (c == u'\\' || c == u'/')
            name += u'!';
        else if (c == u'!')
            name += u"%21";
        else if (c == u'%')
            name += u"%25";
        else
            name += c;
    }
    if (name.size() <= kMaxFolderName)
        return name;
    // The end of the path names the folder best. "%-" never comes of the
    // encoding above: such a name reads back as no path.
    std::size_t cut = name.size() - (kMaxFolderName - 20);
    if (cut < name.size() && name[cut] >= 0xDC00 && name[cut] <= 0xDFFF)
        ++cut; // never half of a surrogate pair
    char hash[24];
    std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(fnv1a(expanded_path)));
    return from_utf8(hash) + u"%-" + name.substr(cut);
}

WString folder_of_cache_name(WStringView name)
{
    WString path;
    path.reserve(name.size());
    for (std::size_t i = 0; i < name.size(); ++i) {
        char16_t const c = name[i];
        if (c == u'!') {
            path += u'\\';
        } else if (c == u'%') {
            if (i + 2 >= name.size() || hex_value(name[i + 1]) < 0 || hex_value(name[i + 2]) < 0)
                return {};
            path += static_cast<char16_t>(hex_value(name[i + 1]) * 16 + hex_value(name[i + 2]));
            i += 2;
        } else {
            path += c;
        }
    }
    return path;
}

WString cache_directory_of(WStringView root)
{
    auto& p = places();
    WString key = strip_trailing_separator(root);
    WritesCheck check;
    {
        std::shared_lock lock(p.mutex);
        auto const known = p.by_root.find(key);
        if (known != p.by_root.end() && (!known->second.card || Clock::now() - known->second.decided < kCardAnswerLife))
            return known->second.directory;
        check = p.card_refuses_writes;
    }
    // Decided without the lock: a card's answer costs a system call, and
    // two threads deciding at once decide the same.
    Place place = decide(check, key);
    std::unique_lock lock(p.mutex);
    p.root_by_directory[place.directory] = key + u"\\";
    WString directory = place.directory;
    p.by_root[std::move(key)] = std::move(place);
    return directory;
}

WString root_of_cache_directory(WStringView cache_directory)
{
    WString const directory = strip_trailing_separator(cache_directory);
    auto& p = places();
    {
        std::shared_lock lock(p.mutex);
        auto const known = p.root_by_directory.find(directory);
        if (known != p.root_by_directory.end())
            return known->second;
    }
    if (file_name_of(directory) == kCacheDirectory)
        return directory_of(directory);
    WString const home = user_cache_directory();
    if (directory == home + u"\\documents")
        return u"%my_documents%\\";
    WString const parent = strip_trailing_separator(directory_of(directory));
    WString const name = file_name_of(directory);
    if (parent == home + u"\\cards") {
        for (auto const& card : platform::storage_cards()) {
            if (file_name_of(strip_trailing_separator(card)) == name)
                return strip_trailing_separator(card) + u"\\";
        }
        return {};
    }
    if (parent == home + u"\\folders") {
        WString const folder = folder_of_cache_name(name);
        return folder.empty() ? WString() : strip_trailing_separator(folder) + u"\\";
    }
    return {};
}

namespace cache_location_seam {

void set_card_refuses_writes(std::function<bool(WStringView card)> check)
{
    auto& p = places();
    std::unique_lock lock(p.mutex);
    p.card_refuses_writes = std::move(check);
    p.by_root.clear();
    p.root_by_directory.clear();
}

void forget()
{
    auto& p = places();
    std::unique_lock lock(p.mutex);
    p.by_root.clear();
    p.root_by_directory.clear();
}

}

}
