#pragma once

// Reads the 64 × 64 thumbnail out of a picture's cache file, for the album
// and thumbnail screens. Any thread; anything but a good thumbnail is null.

#include "core/WString.h"
#include "imaging/PixelBuffer.h"

#include <memory>

namespace qv {

inline constexpr int kThumbnailSide = 64;

// The 64 × 64 thumbnail of a complete cache file; null when the file is
// missing, unfinished, damaged, or holds anything but a 64 × 64 picture.
std::unique_ptr<PixelBuffer> load_thumbnail(WStringView cache_file);

}
