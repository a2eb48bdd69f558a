#pragma once

// Area-averaging resampling of RGB565 pictures that carry the key colour
// and the solid flag: each target pixel is the mean of the source area it
// covers, the key counting as transparent area (a pixel less than half
// covered stays the key colour) and the solid flag kept by majority.
// Pure, any thread.

#include "imaging/PixelBuffer.h"
#include "imaging/Rect.h"

#include <memory>

namespace qv {

// `source` resampled to `size`; a copy when the sizes agree. Null for an
// empty source or size, or when memory is short.
std::unique_ptr<PixelBuffer> resample_keyed(PixelBuffer const& source, Size size);

}
