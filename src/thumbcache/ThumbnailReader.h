#pragma once

// Reads the thumbnails out of a picture's cache file, for the album and
// thumbnail screens: the stored 64 × 64 thumbnail, and for cells larger than
// that the same square cut from the smallest stored level that holds it at
// the cell's size or more. Any thread; anything but a good thumbnail is null.

#include "core/WString.h"
#include "imaging/PixelBuffer.h"

#include <memory>
#include <optional>
#include <vector>

namespace qv {

inline constexpr int kThumbnailSide = 64;
// The largest square cut from a level; larger cells are magnified from it.
inline constexpr int kMaxThumbnailSquare = 256;

// The 64 × 64 thumbnail of a complete cache file; null when the file is
// missing, unfinished, damaged, or holds anything but a 64 × 64 picture.
std::unique_ptr<PixelBuffer> load_thumbnail(WStringView cache_file);

// The thumbnail's square at side × side (1 to 4 × kMaxThumbnailSquare),
// from the smallest of the cache file's levels whose square has at least
// min(side, kMaxThumbnailSquare) pixels (the full-size picture, level 0,
// read from the cache file or from `picture`), decoded at the smallest DCT
// scale that keeps that many, then resampled to `side`, and dithered. Only
// the level's MCU rows under the square are read, from its entry points.
// A square that comes out at `side` on whole pixels (a side that is a
// whole number of eighths of the level's square) is the level's own
// pixels, unfiltered. `picture` also tells the Exif orientation. Null on
// any failure.
std::unique_ptr<PixelBuffer> load_thumbnail_square(WStringView cache_file, WStringView picture, int side);

// Where the builder cuts the 64 × 64 thumbnail: from the level it halves
// down to (`level` halvings from the full-size picture), at (left, top) of
// that level turned upright; parts past the picture's edges repeat its
// edge pixels.
struct ThumbnailWindow {
    int level { 0 };
    int left { 0 };
    int top { 0 };

    // The same square at level k <= level: 64 << (level - k) pixels a side.
    int side_at(int k) const { return kThumbnailSide << (level - k); }
    int left_at(int k) const { return left * (1 << (level - k)); }
    int top_at(int k) const { return top * (1 << (level - k)); }
};

// `base_width` × `base_height`: the stored size of the deepest stored
// level, `base_level` (the picture itself when it has no levels, 0).
ThumbnailWindow thumbnail_window(int base_width, int base_height, int base_level, int orientation);

// Which level to cut a square of `side` from, and at which DCT scale
// (eighths / 8); `available[k]` says whether level k can be read.
struct SquareSource {
    int level { 0 };
    int eighths { 8 };
};
std::optional<SquareSource> pick_square_source(ThumbnailWindow const& window, std::vector<bool> const& available, int side);

}
