#pragma once

// Pictures for the cache tests, made with the program's own encoder or with
// cjpeg for the kinds it cannot write.

#include "core/WString.h"
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

// Rows of R, G, B bytes as a PPM file, for cjpeg.
bool write_ppm(std::filesystem::path const& path, int width, int height,
    std::vector<std::uint8_t> (*row)(int width, int y) = pattern_row);
// Runs a libjpeg-turbo tool (cjpeg, jpegtran) with `arguments` quoted as
// needed by the caller; true when it exits 0.
bool run_tool(std::string const& command_line);
// Written through the library as four-component Adobe files (inverted, as
// every CMYK writer in use stores them), from the pattern.
bool write_cmyk_jpeg(std::filesystem::path const& path, int width, int height, bool ycck);
// Solid 64 × 64 squares of unrelated colours: every MCU is flat down to
// the quarter-size level, so the library's lossless turns of the picture,
// and every level made from them, decode to exactly the turned pixels.
std::vector<std::uint8_t> squares_row(int width, int y);

// The cache directory of the search root `root`, made (wherever it lies:
// CacheLocation.h); its system path.
std::filesystem::path make_cache_directory(WStringView root);

// A cache file's bytes changed by a test given the checksum of what they
// are now, as if built so: for tests of what the checksum does not see.
void reseal_cache(std::vector<unsigned char>& bytes);

// The whole picture decoded at full size, in RGB565.
std::unique_ptr<PixelBuffer> decode_whole(WStringView path);

// Mean absolute difference per channel (0..255 scale) of two equally large
// regions.
double mean_difference(PixelBuffer const& a, int ax, int ay, PixelBuffer const& b, int bx, int by, int w, int h);

}
