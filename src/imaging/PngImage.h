#pragma once

// PNG files of pixel buffers: screenshots, reference pictures and the skin
// compiler's sources, through the platform's PNG rows.

#include "core/WString.h"
#include "imaging/PixelBuffer.h"
#include "platform/PngFile.h"

#include <memory>

namespace qv {

// False on any failure, leaving no partial file behind.
bool save_png(PixelBuffer const& buffer, WStringView path);
// Null when the file is missing, damaged or beyond 16384 pixels a side.
std::unique_ptr<PixelBuffer> load_png(WStringView path, platform::PngAlpha alpha = platform::PngAlpha::Ignore);

}
