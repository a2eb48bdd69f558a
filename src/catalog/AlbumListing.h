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
#include "imaging/Exif.h"

#include <atomic>
#include <optional>
#include <vector>

namespace qv {

// Whether a file of that name is looked at as a picture: by its extension
// (JPEG, PNG, WebP, GIF, TIFF, HEIF, AVIF, JPEG XL and camera RAW), without
// regard to case. Its content says what it is when its cache is built.
bool is_picture_name(WStringView name);

// The pictures of the album `directory`: its files of picture names
// (hidden files are no pictures; a RAW beside a picture of the same name is
// that picture's and not shown again), in album order (in_album_order),
// named by their full path.
std::vector<WString> album_pictures(WStringView directory);

// The RAW file a camera saved beside the picture, which the album does
// not show on its own (its name, in the same folder); nothing when none.
std::optional<WString> raw_companion(WStringView picture);

// How many pictures album_pictures lists for `directory`, as it would list
// them now, without opening any of them.
int album_picture_count(WStringView directory);

// Pictures in the order an album shows them: by the date they were taken
// (picture_date_taken), then by file name in natural order
// (natural_compare); pictures without a date come after those with one.
// Each picture's file is opened once, to read the start of it.
std::vector<WString> in_album_order(std::vector<WString> pictures);

// When the picture was taken, from its Exif block: nothing for a file that
// cannot be read, is no JPEG, or carries no usable date. Reads the first
// 16 KiB, and more only where the Exif block runs past them without the
// date in that part.
std::optional<ExifDateTime> picture_date_taken(WStringView path);

// The pictures of every album under `root` (`root` included): a directory's
// own first, as album_pictures lists them, then each directory inside it
// in natural name order, descending at once. False, with a part of them,
// once `stop` is seen set.
bool pictures_under(WStringView root, std::vector<WString>& pictures, std::atomic<bool> const* stop = nullptr);

// The roots a search walks, in its order: each storage card (one that holds
// My Documents is searched as My Documents), then "%my_documents%\"; each
// ends in "\". Every album belongs to one of them, as its drive path.
std::vector<WString> search_roots();

}
