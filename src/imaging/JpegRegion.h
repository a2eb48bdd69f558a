#pragma once

// Decodes one rectangle of a JPEG held in memory, reduced by the library's
// DCT scaling to eighths/8 of its size: columns outside the rectangle are
// cropped (the library still reads their data, but spends no IDCT or
// colour conversion on them) and rows above it are skipped. Chroma of a
// 4:2:0 picture reduced to 3, 5, 6 or 7 eighths is transformed at half size
// and doubled, as JpegTileDecoder does (JpegScaledIdct.h), so that the two
// give the same pixels.
//
// Any thread. A broken or truncated stream, or a rectangle outside the
// scaled picture, gives nothing; nothing is thrown.

#include "imaging/JpegTile.h"
#include "imaging/Rect.h"

#include <cstdint>
#include <optional>
#include <span>

namespace qv {

struct JpegScaledSize {
    int width { 0 };
    int height { 0 };
};

// The size a picture of width × height decodes to at eighths/8, as the
// library rounds it (up).
JpegScaledSize jpeg_scaled_size(int width, int height, int eighths);

struct JpegRegion {
    // Where image's top-left pixel lies in the scaled picture. The image
    // covers the asked-for rectangle and may be larger: the library crops
    // columns at its block boundaries.
    int left { 0 };
    int top { 0 };
    RgbImage image;
};

// `rect` in the coordinates of the picture scaled to eighths/8 (1 to 8);
// it must lie inside it.
std::optional<JpegRegion> decode_jpeg_region(std::span<std::uint8_t const> bytes, int eighths, Rect rect);

}
