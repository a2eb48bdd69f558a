#pragma once

// Why a picture cannot be shown, whatever its format. Every decode of the
// program ends in one of these, so that the user is told something better
// than a broken icon. The values are stored in cache files: new ones go at
// the end.

#include <cstdint>

namespace qv {

enum class PictureProblem : std::uint8_t {
    None,
    Missing,     // cannot be opened
    Empty,       // no bytes at all
    NotPicture,  // no format the program reads, whatever its name
    Damaged,     // cut short, or headers or data the library gives up on
    Precision,   // 12-bit JPEG samples: the library decodes 8-bit ones only
    Unsupported, // a kind of its format the library does not decode
    TooLarge,    // a size no decode here can afford (see the limits below)
    Storage,     // not the picture: a copy of it could not be written
};

// Beyond these a picture is refused before any decode: a header can claim
// 65500 × 65500 in a few bytes, and a multi-scan JPEG's decode holds every
// coefficient at once.
inline constexpr int kMaxPictureSide = 30'000;
inline constexpr std::uint64_t kMaxPicturePixels = 400'000'000;
inline constexpr std::uint64_t kMaxCoefficientBytes = 512u << 20;
// A picture of another format is decoded whole, as RGBA: at most this much.
inline constexpr std::uint64_t kMaxDecodeBytes = 768u << 20;
// And its file is read into memory whole: at most this much.
inline constexpr std::uint64_t kMaxPictureFileBytes = 512u << 20;

// A short English sentence for the tools and the log.
char const* problem_text(PictureProblem problem);

}
