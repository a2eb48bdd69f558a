#pragma once

// Builds a picture's cache file: the entry points of the full-size picture,
// a pyramid of halved copies with theirs, and the 64 × 64 thumbnail. It
// works row by row and never holds a whole decoded picture.

#include "app/WString.h"

#include <atomic>

namespace qv {

// False on any failure, and when `stop` was seen set (it is looked at
// every few rows);
// the cache file is then left without its mark (the caller decides whether
// it becomes the empty bad-picture marker). Scratch files are made beside
// the cache file, named for this process, and removed afterwards.
bool create_picture_cache(WStringView picture, WStringView cache_file, std::atomic<bool> const* stop = nullptr);

}
