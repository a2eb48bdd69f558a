#pragma once

// Pictures for the cache tests, made with the program's own encoder or with
// cjpeg for the kinds it cannot write.

#include "app/WString.h"
#include "imaging/PixelBuffer.h"

#include <filesystem>
#include <memory>
#include <span>
#include <vector>

namespace qv::test {

// A smooth picture with detail in both directions, so that a window cut one
// place or another can be told apart after JPEG compression.
std::vector<std::uint8_t> pattern_row(int width, int y);
bool write_pattern_jpeg(std::filesystem::path const& path, int width, int height);
bool write_progressive_jpeg(std::filesystem::path const& path, int width, int height);

// The whole picture decoded at full size, in RGB565.
std::unique_ptr<PixelBuffer> decode_whole(WStringView path);

// Mean absolute difference per channel (0..255 scale) of two equally large
// regions.
double mean_difference(PixelBuffer const& a, int ax, int ay, PixelBuffer const& b, int bx, int by, int w, int h);

}
