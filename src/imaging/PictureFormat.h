#pragma once

// What a picture is, whatever its format: the one place that says which
// formats the program reads, what a file holds (by its content, never by
// its name), how large it is, which way up, and its pixels as 8-bit sRGB.
// JPEGs keep their own streaming codec (JpegCodec.h); every other format is
// decoded whole through its own library and becomes a JPEG copy in its
// cache, so that thumbnails, levels and tiles work the same for all.

#include "core/WString.h"
#include "imaging/JpegEntry.h"
#include "imaging/PictureProblem.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace qv {

enum class PictureFormat : std::uint8_t { Jpeg, Png, Gif, WebP, Tiff, Heif, Jxl, Raw };

// "JPEG", "PNG", ...: for the picture information and the tools.
char const* format_name(PictureFormat format);

// The format the first bytes of a file say it has (kSniffBytes are
// enough for every format). Nothing for anything else.
inline constexpr std::size_t kSniffBytes = 64;
std::optional<PictureFormat> sniff_picture(std::span<std::uint8_t const> head);
// The same for a file's first bytes (a TIFF-based RAW is a TIFF here).
std::optional<PictureFormat> sniff_picture_file(WStringView path);

// Whether a file of that name is looked at as a picture (by its extension,
// case-insensitively); its content decides what it is.
bool has_picture_extension(WStringView name);
// Camera RAW names (.cr2, .nef, ...): shown only when no JPEG of the same
// name sits beside them.
bool has_raw_extension(WStringView name);

struct PictureInfo {
    PictureFormat format { PictureFormat::Jpeg };
    // As decoded: a JPEG's as stored, before its turn; the others upright.
    int width { 0 };
    int height { 0 };
    // How the decoded pixels turn upright (Exif 1 to 8). Every format but
    // JPEG is decoded upright, its copy in the cache too: 1.
    int orientation { 1 };
    // An embedded colour profile that is not sRGB: its pixels are converted.
    bool foreign_profile { false };
    // What a whole decode holds (for JPEGs: the coefficients, when they
    // are read whole).
    std::uint64_t decode_bytes { 0 };
};

struct PictureProbe {
    PictureProblem problem { PictureProblem::None };
    PictureInfo info; // meaningful when there is no problem
};

// The headers only. A file too large to read or a size beyond the limits
// of PictureProblem.h is TooLarge.
PictureProbe probe_picture(WStringView path);
PictureProbe probe_picture(std::span<std::uint8_t const> bytes);

// The turn of the pixels in the picture's cache: its Exif orientation for a
// JPEG, 1 for the others, whose copy is upright. Cheap: reads headers only.
// Nothing when the picture cannot be read or is no picture.
std::optional<int> cache_orientation(WStringView path);

// A whole picture as 8-bit sRGB, upright, transparency over `background`.
struct RgbPixels {
    int width { 0 };
    int height { 0 };
    std::vector<std::uint8_t> rgb; // width × 3 bytes per row, top row first
};

struct Background {
    std::uint8_t r { 0 }, g { 0 }, b { 0 };
};

// The colour transparent parts of pictures are shown over (the skin's
// background); used by every decode after it is set.
void set_picture_background(Background colour);
Background picture_background();

// Decodes a picture that is not a JPEG (JPEGs have their own reader).
PictureProblem decode_picture(std::span<std::uint8_t const> bytes, RgbPixels& out);
PictureProblem decode_picture(WStringView path, RgbPixels& out);

// The sequential JPEG a picture's cache stores for it: a picture of another
// format upright and in sRGB; a JPEG with a foreign colour profile in sRGB,
// as it is stored (its Exif turn still applies). Quality 95 with full
// chroma, so that screenshots and line art stay sharp. A JPEG's is streamed
// into the file `out` row by row (NotPicture for other formats).
PictureProblem write_jpeg_copy(WStringView picture, WStringView out);

// A picture of another format than JPEG is decoded whole: its copy is made
// in memory, with what that decode gives besides.
struct PictureCopy {
    std::vector<std::uint8_t> jpeg;
    // Its entry points, counted while it was encoded; nothing when they
    // must be found by decoding the copy.
    std::optional<std::vector<JpegEntry>> entries;
    // Its next level: each pixel the mean of 2 × 2, a last odd row and
    // column dropped, a side of one kept.
    RgbPixels half;
};
PictureProblem make_picture_copy(WStringView picture, PictureCopy& copy);

}
