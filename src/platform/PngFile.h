#pragma once

// PNG files for screenshots and reference images: RGB565 buffers are
// written as 8-bit RGB and read back into RGB565.

#include "app/WString.h"
#include "imaging/PixelBuffer.h"

#include <memory>

namespace qv::platform {

// How an alpha channel in a loaded PNG is treated.
enum class PngAlpha {
    Ignore,          // colour channels only
    KeyTransparent,  // pixels with alpha below 128 become the key colour 0xF81F
};

// Writes `buffer` to `path` (program form); false on any failure, in which
// case no partial file is left behind.
bool save_png(PixelBuffer const& buffer, WStringView path);

// Any PNG libpng reads (palette, grey, 16-bit, interlaced) into a new owned
// buffer; null when the file is missing, damaged or beyond 16384 pixels a side.
std::unique_ptr<PixelBuffer> load_png(WStringView path, PngAlpha alpha = PngAlpha::Ignore);

}
