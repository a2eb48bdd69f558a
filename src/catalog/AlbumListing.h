#pragma once

// Which files are an album's pictures: the one rule shared by the search,
// the album's screen and the cache tool, so that they never disagree about
// what an album holds. An album is one directory; the directories inside it
// are albums of their own.
//
// Threads: any; it only reads the file system (and the list of storage
// cards).
// Failures: a directory that cannot be listed holds no pictures and no
// albums.

#include "core/WString.h"

#include <atomic>
#include <vector>

namespace qv {

// The pictures of the album `directory`: its "*.jpg" files, then its
// "*.jpeg" files (names matched without regard to case), each in name
// order, named by their full path.
std::vector<WString> album_pictures(WStringView directory);

// The pictures of every album under `root` (`root` included): a directory's
// own first, then each directory inside it in name order, descending at
// once; every "*.jpg" picture comes before every "*.jpeg" one, each in that
// order, as two walks, one per kind, would give them. False, with a part of
// them, once `stop` is seen set.
bool pictures_under(WStringView root, std::vector<WString>& pictures, std::atomic<bool> const* stop = nullptr);

// The roots a search walks, in its order: each storage card (one that holds
// My Documents is searched as My Documents), then "%my_documents%\"; each
// ends in "\". Every album belongs to one of them, as its drive path.
std::vector<WString> search_roots();

}
