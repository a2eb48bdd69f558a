#include "imaging/Exif.h"

#include "imaging/ByteSource.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

namespace qv {

namespace {

constexpr std::uint8_t kExifSignature[] = { 'E', 'x', 'i', 'f', 0, 0 };
constexpr std::size_t kTiffHeaderSize = 8;
constexpr std::size_t kIfdEntrySize = 12;
constexpr std::uint16_t kTiffMagic = 42;
constexpr std::uint16_t kOrientationTag = 0x0112;
constexpr std::uint16_t kExifIfdTag = 0x8769;
constexpr std::uint16_t kDateTimeOriginalTag = 0x9003;
constexpr std::uint16_t kTypeAscii = 2;
constexpr std::uint16_t kTypeShort = 3;
constexpr std::uint16_t kTypeLong = 4;
constexpr std::uint16_t kTypeIfd = 13;
// "YYYY:MM:DD HH:MM:SS", without the NUL that ought to follow it.
constexpr std::size_t kDateLength = 19;

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

// The TIFF structure inside an Exif payload, or nothing when the signature
// or the header is wrong. Offsets in the block count from the TIFF header.
std::optional<TiffBytes> open_tiff(std::span<std::uint8_t const> app1)
{
    if (app1.size() < sizeof kExifSignature
        || !std::equal(std::begin(kExifSignature), std::end(kExifSignature), app1.begin()))
        return std::nullopt;
    auto const tiff = app1.subspan(sizeof kExifSignature);
    if (tiff.size() < kTiffHeaderSize || tiff[0] != tiff[1] || (tiff[0] != 'I' && tiff[0] != 'M'))
        return std::nullopt;
    TiffBytes const block { tiff, tiff[0] == 'M' };
    if (block.u16(2) != kTiffMagic)
        return std::nullopt;
    return block;
}

// Where the entry for `tag` starts in the IFD at `ifd`. Nothing when the
// IFD's whole entry table does not fit in the block, or no entry has the tag.
// Sizes are compared by subtracting from what is left, never by adding to an
// offset from the file, which could wrap.
std::optional<std::size_t> find_entry(TiffBytes const& block, std::uint32_t ifd, std::uint16_t tag)
{
    std::size_t const size = block.bytes.size();
    if (ifd > size || size - ifd < 2)
        return std::nullopt;
    std::size_t const count = block.u16(ifd);
    std::size_t const first_entry = std::size_t { ifd } + 2;
    if ((size - first_entry) / kIfdEntrySize < count)
        return std::nullopt;
    // Entries ought to be sorted by tag, but writers do not all sort them;
    // the scan is bounded by the entry count, which fits in the block.
    for (std::size_t i = 0; i < count; ++i) {
        std::size_t const entry = first_entry + i * kIfdEntrySize;
        if (block.u16(entry) == tag)
            return entry;
    }
    return std::nullopt;
}

int checked_orientation(int orientation) { return orientation >= 1 && orientation <= 8 ? orientation : 1; }

int days_in_month(int year, int month)
{
    constexpr int kDays[] = { 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31 };
    bool const leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

// "YYYY:MM:DD HH:MM:SS"; some programs write the date with "-" instead.
std::optional<ExifDateTime> parse_date(std::span<std::uint8_t const> text)
{
    auto number = [&](std::size_t at, std::size_t digits) -> int {
        int value = 0;
        for (std::size_t i = at; i < at + digits; ++i) {
            if (text[i] < '0' || text[i] > '9')
                return -1;
            value = value * 10 + (text[i] - '0');
        }
        return value;
    };
    bool const date_marks = (text[4] == ':' && text[7] == ':') || (text[4] == '-' && text[7] == '-');
    if (!date_marks || text[10] != ' ' || text[13] != ':' || text[16] != ':')
        return std::nullopt;
    ExifDateTime const date { number(0, 4), number(5, 2), number(8, 2), number(11, 2), number(14, 2),
        number(17, 2) };
    // A digit missing anywhere gives -1, which every range below refuses.
    if (date.year < 1 || date.month < 1 || date.month > 12 || date.day < 1
        || date.day > days_in_month(date.year, date.month) || date.hour < 0 || date.hour > 23 || date.minute < 0
        || date.minute > 59 || date.second < 0 || date.second > 60)
        return std::nullopt;
    return date;
}

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

int exif_orientation_of_block(std::span<std::uint8_t const> exif)
{
    static constexpr std::uint8_t prefix[] { 'E', 'x', 'i', 'f', 0, 0 };
    if (exif.size() >= sizeof prefix && std::equal(std::begin(prefix), std::end(prefix), exif.begin()))
        return exif_orientation(exif);
    std::vector<std::uint8_t> block(std::begin(prefix), std::end(prefix));
    block.insert(block.end(), exif.begin(), exif.end());
    return exif_orientation(block);
}

int exif_orientation(std::span<std::uint8_t const> app1)
{
    auto const block = open_tiff(app1);
    if (!block)
        return 1;
    auto const entry = find_entry(*block, block->u32(4), kOrientationTag);
    if (!entry)
        return 1;
    if (block->u16(*entry + 2) != kTypeShort || block->u32(*entry + 4) != 1)
        return 1;
    // One SHORT sits in the first two bytes of the value field in either
    // byte order; the other two are padding.
    return checked_orientation(block->u16(*entry + 8));
}

std::optional<ExifDateTime> exif_date_taken(std::span<std::uint8_t const> app1)
{
    auto const block = open_tiff(app1);
    if (!block)
        return std::nullopt;
    auto const pointer = find_entry(*block, block->u32(4), kExifIfdTag);
    if (!pointer)
        return std::nullopt;
    auto const pointer_type = block->u16(*pointer + 2);
    if ((pointer_type != kTypeLong && pointer_type != kTypeIfd) || block->u32(*pointer + 4) != 1)
        return std::nullopt;
    // Only this one step down is taken: an Exif IFD that points back at
    // IFD0 or at itself leads nowhere further.
    auto const entry = find_entry(*block, block->u32(*pointer + 8), kDateTimeOriginalTag);
    if (!entry || block->u16(*entry + 2) != kTypeAscii || block->u32(*entry + 4) < kDateLength)
        return std::nullopt;
    // Nineteen characters never fit in the entry itself: they lie at the
    // offset it holds.
    std::size_t const size = block->bytes.size();
    std::uint32_t const text = block->u32(*entry + 8);
    if (text > size || size - text < kDateLength)
        return std::nullopt;
    return parse_date(block->bytes.subspan(text, kDateLength));
}

std::vector<std::uint8_t> read_exif_block(ByteSource& source)
{
    // Pictures carry a handful of segments before the scan (JFIF, Exif,
    // XMP, ICC, tables); a stream of hundreds is not worth reading on.
    constexpr int kMaxSegments = 64;
    constexpr int kMaxFill = 64;
    constexpr std::uint8_t kExifMarker = 0xE1;
    auto byte = [&source](std::uint8_t& out) { return source.read(&out, 1) == 1; };

    std::uint8_t first = 0, second = 0;
    if (!byte(first) || !byte(second) || first != 0xFF || second != 0xD8)
        return {};
    for (int segment = 0; segment < kMaxSegments; ++segment) {
        std::uint8_t code = 0;
        if (!byte(code) || code != 0xFF)
            return {};
        // Any number of fill bytes may stand before the marker's code.
        int fill = 0;
        do {
            if (!byte(code))
                return {};
        } while (code == 0xFF && ++fill < kMaxFill);
        if (code == 0xDA || code == 0xD9 || code == 0xFF || code == 0x00)
            return {};
        // Markers that stand alone, with no length after them.
        if (code == 0x01 || (code >= 0xD0 && code <= 0xD8))
            continue;
        std::uint8_t length_bytes[2];
        if (source.read(length_bytes, 2) != 2)
            return {};
        std::size_t const length = std::size_t { length_bytes[0] } << 8 | length_bytes[1];
        if (length < 2)
            return {};
        std::size_t const payload = length - 2;
        if (code != kExifMarker || payload < sizeof kExifSignature) {
            source.skip(static_cast<std::int64_t>(payload));
            continue;
        }
        std::vector<std::uint8_t> block(payload);
        if (source.read(block.data(), payload) != payload)
            return {};
        // An APP1 may hold XMP instead; the Exif one may still follow.
        if (std::equal(std::begin(kExifSignature), std::end(kExifSignature), block.begin()))
            return block;
    }
    return {};
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
