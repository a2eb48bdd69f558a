#pragma once

// What each format's own file gives the picture seam (PictureFormat.cpp):
// a sniff, a probe of its headers and a whole decode, all over the file's
// bytes in memory. An adapter only reads; turning, colour conversion and
// transparency are the seam's, the same for all.

#include "imaging/PictureFormat.h"

#include <cstdint>
#include <span>
#include <vector>

namespace qv::formats {

struct Header {
    int width { 0 };  // as stored
    int height { 0 };
    // The Exif orientation the decode does not apply itself (1 when the
    // library turns its pixels upright, as libheif and libraw do).
    int orientation { 1 };
    bool alpha { false };
    std::vector<std::uint8_t> icc; // the embedded profile, when the probe sees one
};

// 8-bit RGBA, width × 4 bytes per row, alpha 255 where opaque, as stored;
// or RGB, width × 3 bytes per row, from a decoder that knows the picture
// has no alpha: a photo then skips a fourth byte per pixel and the pass
// that drops it again.
struct Rgba {
    int width { 0 };
    int height { 0 };
    int channels { 4 }; // 3 or 4
    std::vector<std::uint8_t> pixels;
    int orientation { 1 };
    std::vector<std::uint8_t> icc;
};

struct Adapter {
    PictureFormat format;
    bool (*sniff)(std::span<std::uint8_t const> head);
    PictureProblem (*probe)(std::span<std::uint8_t const> file, Header& header);
    // Called only after a probe that passed the seam's limits.
    PictureProblem (*decode)(std::span<std::uint8_t const> file, Rgba& out);
};

// One per format, each in its own file.
extern Adapter const kPng;
extern Adapter const kGif;
extern Adapter const kWebP;
extern Adapter const kTiff;
extern Adapter const kHeif;
extern Adapter const kJxl;
extern Adapter const kRaw;

// Camera RAWs built on TIFF (NEF, ARW, DNG, ...) start as any TIFF does:
// their files tell them apart where the first bytes cannot.
bool is_camera_raw(std::span<std::uint8_t const> file);

// The 8-bit buffer for a decode (opaque where RGBA), or false when its
// size is refused.
bool allocate_rgba(Rgba& out, int width, int height, int channels = 4);

}
