#include "imaging/Exif.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace qv {

namespace {

constexpr std::uint8_t kExifSignature[] = { 'E', 'x', 'i', 'f', 0, 0 };
constexpr std::size_t kTiffHeaderSize = 8;
constexpr std::size_t kIfdEntrySize = 12;
constexpr std::uint16_t kTiffMagic = 42;
constexpr std::uint16_t kOrientationTag = 0x0112;
constexpr std::uint16_t kTypeShort = 3;

// Reads in the block's byte order; every caller has checked that the bytes
// are there.
struct TiffBytes {
    std::span<std::uint8_t const> bytes;
    bool big_endian;

    std::uint16_t u16(std::size_t at) const
    {
        std::uint8_t const* p = bytes.data() + at;
        return static_cast<std::uint16_t>(big_endian ? p[0] << 8 | p[1] : p[1] << 8 | p[0]);
    }

    std::uint32_t u32(std::size_t at) const
    {
        std::uint32_t const first = u16(at);
        std::uint32_t const second = u16(at + 2);
        return big_endian ? first << 16 | second : second << 16 | first;
    }
};

int checked_orientation(int orientation) { return orientation >= 1 && orientation <= 8 ? orientation : 1; }

// The stored picture's (x, y) for upright (u, v) is affine in (u, v), so the
// element offset of the upright origin and the offsets of one step right and
// one step down describe the whole walk.
struct Walk {
    std::ptrdiff_t origin;
    std::ptrdiff_t step_u;
    std::ptrdiff_t step_v;
};

Walk make_walk(int orientation, std::ptrdiff_t row_elements, std::ptrdiff_t pixel_elements, int stored_width,
    int stored_height)
{
    auto offset = [&](int u, int v) {
        OrientedPoint const p = stored_point(orientation, u, v, stored_width, stored_height);
        return p.y * row_elements + p.x * pixel_elements;
    };
    std::ptrdiff_t const origin = offset(0, 0);
    return { origin, offset(1, 0) - origin, offset(0, 1) - origin };
}

// Writes stay sequential; reads go along a stored row or column depending on
// the orientation. Offsets are kept as integers so that nothing points
// outside the pictures, not even one step past the last pixel read.
template<int PixelElements, typename Element>
void orient(int orientation, Element const* stored, std::ptrdiff_t stored_row_elements, int stored_width,
    int stored_height, Element* upright, std::ptrdiff_t upright_row_elements)
{
    if (stored_width <= 0 || stored_height <= 0)
        return;
    bool const swaps = orientation_swaps_sides(orientation);
    int const width = swaps ? stored_height : stored_width;
    int const height = swaps ? stored_width : stored_height;
    Walk const walk = make_walk(orientation, stored_row_elements, PixelElements, stored_width, stored_height);
    auto const row_bytes = static_cast<std::size_t>(width) * PixelElements * sizeof(Element);
    for (int v = 0; v < height; ++v) {
        std::ptrdiff_t at = walk.origin + v * walk.step_v;
        Element* out = upright + v * upright_row_elements;
        if (walk.step_u == PixelElements) {
            std::memcpy(out, stored + at, row_bytes);
            continue;
        }
        for (int u = 0; u < width; ++u, at += walk.step_u, out += PixelElements) {
            for (int c = 0; c < PixelElements; ++c)
                out[c] = stored[at + c];
        }
    }
}

}

int exif_orientation(std::span<std::uint8_t const> app1)
{
    if (app1.size() < sizeof kExifSignature
        || !std::equal(std::begin(kExifSignature), std::end(kExifSignature), app1.begin()))
        return 1;
    // Offsets in the block count from the TIFF header.
    auto const tiff = app1.subspan(sizeof kExifSignature);
    if (tiff.size() < kTiffHeaderSize || tiff[0] != tiff[1] || (tiff[0] != 'I' && tiff[0] != 'M'))
        return 1;
    TiffBytes const block { tiff, tiff[0] == 'M' };
    if (block.u16(2) != kTiffMagic)
        return 1;

    // Sizes are compared by subtracting from what is left, never by adding
    // to an offset from the file, which could wrap.
    std::uint32_t const ifd0 = block.u32(4);
    if (ifd0 > tiff.size() || tiff.size() - ifd0 < 2)
        return 1;
    std::size_t const count = block.u16(ifd0);
    std::size_t const first_entry = std::size_t { ifd0 } + 2;
    if ((tiff.size() - first_entry) / kIfdEntrySize < count)
        return 1;

    // Entries ought to be sorted by tag, but writers do not all sort them;
    // the scan is bounded by the entry count, which fits in the block.
    for (std::size_t i = 0; i < count; ++i) {
        std::size_t const entry = first_entry + i * kIfdEntrySize;
        if (block.u16(entry) != kOrientationTag)
            continue;
        if (block.u16(entry + 2) != kTypeShort || block.u32(entry + 4) != 1)
            return 1;
        // One SHORT sits in the first two bytes of the value field in either
        // byte order; the other two are padding.
        return checked_orientation(block.u16(entry + 8));
    }
    return 1;
}

bool orientation_swaps_sides(int orientation) { return orientation >= 5 && orientation <= 8; }

OrientedPoint stored_point(int orientation, int u, int v, int stored_width, int stored_height)
{
    int const last_x = stored_width - 1;
    int const last_y = stored_height - 1;
    switch (checked_orientation(orientation)) {
    case 2: return { last_x - u, v };
    case 3: return { last_x - u, last_y - v };
    case 4: return { u, last_y - v };
    case 5: return { v, u };
    case 6: return { v, last_y - u };
    case 7: return { last_x - v, last_y - u };
    case 8: return { last_x - v, u };
    default: return { u, v };
    }
}

// Worked on edges rather than corners: a mirrored span [start, start + length)
// lands at [size - start - length, size - start), which stays right for
// empty spans too.
StoredRect stored_rect(int orientation, int u, int v, int width, int height, int stored_width,
    int stored_height)
{
    width = std::max(width, 0);
    height = std::max(height, 0);
    int const mirrored_u_x = stored_width - u - width;
    int const mirrored_v_x = stored_width - v - height;
    int const mirrored_u_y = stored_height - u - width;
    int const mirrored_v_y = stored_height - v - height;
    switch (checked_orientation(orientation)) {
    case 2: return { mirrored_u_x, v, width, height };
    case 3: return { mirrored_u_x, mirrored_v_y, width, height };
    case 4: return { u, mirrored_v_y, width, height };
    case 5: return { v, u, height, width };
    case 6: return { v, mirrored_u_y, height, width };
    case 7: return { mirrored_v_x, mirrored_u_y, height, width };
    case 8: return { mirrored_v_x, u, height, width };
    default: return { u, v, width, height };
    }
}

void orient_pixels(int orientation, std::uint16_t const* stored, int stored_stride, int stored_width,
    int stored_height, std::uint16_t* upright, int upright_stride)
{
    orient<1>(orientation, stored, stored_stride, stored_width, stored_height, upright, upright_stride);
}

void orient_rgb(int orientation, std::uint8_t const* stored, int stored_width, int stored_height,
    std::uint8_t* upright)
{
    int const upright_width = orientation_swaps_sides(orientation) ? stored_height : stored_width;
    orient<3>(orientation, stored, std::ptrdiff_t { stored_width } * 3, stored_width, stored_height, upright,
        std::ptrdiff_t { upright_width } * 3);
}

}
