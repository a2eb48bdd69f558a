#pragma once

// Writes pixel buffers as the 16-bit BMP files the skin's pictures and the
// viewer's placeholders are kept in. Any thread; false on a failed write.

#include "core/WString.h"
#include "imaging/PixelBuffer.h"

#include <cstdint>
#include <vector>

namespace qv {

// A 16-bit bottom-up BMP with 5-6-5 bit-field masks: what read_bmp_565
// takes, and what ordinary image viewers show in the right colours.
std::vector<std::uint8_t> encode_bmp_565(PixelBuffer const& buffer);
bool write_bmp_565(PixelBuffer const& buffer, WStringView path);

}
