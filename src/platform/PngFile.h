#pragma once

// PNG files for screenshots and reference images: RGB565 pixels are
// written as 8-bit RGB and read back into RGB565. The platform knows rows
// of pixels only; imaging/PngImage.h gives the same for pixel buffers.

#include "core/WString.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace qv::platform {

// How an alpha channel in a loaded PNG is treated.
enum class PngAlpha {
    Ignore,          // colour channels only
    KeyTransparent,  // pixels with alpha below 128 become the key colour 0xF81F
};

// RGB565 pixels, `pitch` bytes from one row to the next.
struct Rgb565Rows {
    std::int32_t width { 0 };
    std::int32_t height { 0 };
    std::int32_t pitch { 0 };
    std::uint16_t const* pixels { nullptr };
};

// Writes the rows to `path` (program form); false on any failure, in which
// case no partial file is left behind.
bool save_png(Rgb565Rows rows, WStringView path);

struct Rgb565Picture {
    std::int32_t width { 0 };
    std::int32_t height { 0 };
    std::vector<std::uint16_t> pixels; // rows packed without padding
};

// Any PNG libpng reads (palette, grey, 16-bit, interlaced); nothing when the
// file is missing, damaged or beyond 16384 pixels a side.
std::optional<Rgb565Picture> load_png(WStringView path, PngAlpha alpha = PngAlpha::Ignore);

}
