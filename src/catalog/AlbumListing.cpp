#include "catalog/AlbumListing.h"

#include "base/Directories.h"
#include "base/Paths.h"
#include "platform/Files.h"

#include <iterator>

namespace qv {

namespace {

struct Listing {
    std::vector<WString> jpg;
    std::vector<WString> jpeg;
    std::vector<WString> directories;
};

// One listing of the directory serves both kinds of picture and the
// directories below.
Listing list_album(WString const& directory)
{
    Listing listing;
    for (auto const& entry : platform::list_directory(expand_path(directory))) {
        WString path = join_path(directory, entry.name);
        if (entry.is_directory)
            listing.directories.push_back(std::move(path));
        else if (platform::matches_pattern(entry.name, u"*.jpg"))
            listing.jpg.push_back(std::move(path));
        else if (platform::matches_pattern(entry.name, u"*.jpeg"))
            listing.jpeg.push_back(std::move(path));
    }
    return listing;
}

bool stopped(std::atomic<bool> const* stop) { return stop && stop->load(std::memory_order_relaxed); }

bool walk(WString const& directory, std::atomic<bool> const* stop, std::vector<WString>& jpg,
    std::vector<WString>& jpeg)
{
    if (stopped(stop))
        return false;
    auto listing = list_album(directory);
    jpg.insert(jpg.end(), std::make_move_iterator(listing.jpg.begin()), std::make_move_iterator(listing.jpg.end()));
    jpeg.insert(jpeg.end(), std::make_move_iterator(listing.jpeg.begin()), std::make_move_iterator(listing.jpeg.end()));
    for (auto const& below : listing.directories) {
        if (!walk(below, stop, jpg, jpeg))
            return false;
    }
    return true;
}

}

std::vector<WString> album_pictures(WStringView directory)
{
    auto listing = list_album(WString(directory));
    listing.jpg.insert(listing.jpg.end(), std::make_move_iterator(listing.jpeg.begin()),
        std::make_move_iterator(listing.jpeg.end()));
    return std::move(listing.jpg);
}

bool pictures_under(WStringView root, std::vector<WString>& pictures, std::atomic<bool> const* stop)
{
    std::vector<WString> jpeg;
    bool const whole = walk(WString(root), stop, pictures, jpeg);
    pictures.insert(pictures.end(), std::make_move_iterator(jpeg.begin()), std::make_move_iterator(jpeg.end()));
    return whole;
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
