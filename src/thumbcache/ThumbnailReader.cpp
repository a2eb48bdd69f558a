#include "thumbcache/ThumbnailReader.h"
#include "base/FileStream.h"
#include "imaging/CubicResample.h"
#include "imaging/Exif.h"
#include "imaging/JpegCodec.h"
#include "imaging/JpegRegion.h"
#include "imaging/Rgb565Dither.h"
#include "thumbcache/CacheFile.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <vector>

namespace qv {

namespace {

// Far more than a 64 × 64 JPEG at quality 75 ever takes.
constexpr std::uint32_t kMaxThumbnailBytes = 256 * 1024;
// A level the square is cut from is read whole: the deepest levels are a
// few tens of kilobytes, the full-size picture is read only when it is at
// most 1024 pixels across (see pick_square_source), and anything beyond
// this is no picture of that kind.
constexpr std::uint64_t kMaxLevelBytes = 16u << 20;

int floor_div(int a, int b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

std::optional<std::vector<std::uint8_t>> read_range(WStringView path, std::uint64_t offset, std::uint64_t length)
{
    if (length == 0 || length > kMaxLevelBytes)
        return std::nullopt;
    FileStream file(path, OpenMode::Read);
    if (!file.is_open() || offset > file.size() || length > file.size() - offset || !file.seek(offset))
        return std::nullopt;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(length));
    if (file.read(bytes.data(), bytes.size()) != bytes.size())
        return std::nullopt;
    return bytes;
}

// The JPEG of level k: a range of the cache file, or for the full-size
// picture the stream stored in it or the picture file itself.
std::optional<std::vector<std::uint8_t>> read_level(CacheHeader const& header, WStringView cache_file,
    WStringView picture, int k)
{
    if (k > 0)
        return read_range(cache_file, header.levels[static_cast<std::size_t>(k)].jpeg.offset,
            header.levels[static_cast<std::size_t>(k)].jpeg.length);
    if (header.flags & kStoredStreamFlag)
        return read_range(cache_file, header.full_stream.offset, header.full_stream.length);
    FileStream file(picture, OpenMode::Read);
    if (!file.is_open())
        return std::nullopt;
    std::uint64_t const size = file.size();
    file.close();
    return read_range(picture, 0, size);
}

// The upright rectangle (u, v, width, height) of a stored RGB picture
// region, whose top-left pixel lies at (left, top) of the stored picture
// (stored_width × stored_height), turned upright.
RgbImage upright_part(JpegRegion const& region, StoredRect const& wanted, int orientation)
{
    RgbImage stored;
    stored.width = wanted.width;
    stored.height = wanted.height;
    stored.rgb.resize(static_cast<std::size_t>(wanted.width) * static_cast<std::size_t>(wanted.height) * 3);
    for (int y = 0; y < wanted.height; ++y) {
        std::uint8_t const* from = region.image.rgb.data()
            + (static_cast<std::size_t>(wanted.y - region.top + y) * static_cast<std::size_t>(region.image.width)
                  + static_cast<std::size_t>(wanted.x - region.left))
                * 3;
        std::copy_n(from, static_cast<std::size_t>(wanted.width) * 3,
            stored.rgb.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(y) * static_cast<std::size_t>(wanted.width) * 3));
    }
    if (orientation < 2 || orientation > 8)
        return stored;
    RgbImage upright;
    upright.width = orientation_swaps_sides(orientation) ? stored.height : stored.width;
    upright.height = orientation_swaps_sides(orientation) ? stored.width : stored.height;
    upright.rgb.resize(stored.rgb.size());
    orient_rgb(orientation, stored.rgb.data(), stored.width, stored.height, upright.rgb.data());
    return upright;
}

}

std::unique_ptr<PixelBuffer> load_thumbnail(WStringView cache_file)
{
    auto header = read_cache_header(cache_file);
    if (!header || header->thumbnail.length > kMaxThumbnailBytes)
        return nullptr;
    FileStream file(cache_file, OpenMode::Read);
    std::vector<std::uint8_t> bytes(header->thumbnail.length);
    if (!file.seek(header->thumbnail.offset) || file.read(bytes.data(), bytes.size()) != bytes.size())
        return nullptr;
    auto picture = decode_memory(bytes);
    if (!picture || picture->width() != kThumbnailSide || picture->height() != kThumbnailSide)
        return nullptr;
    return picture;
}

ThumbnailWindow thumbnail_window(int base_width, int base_height, int base_level, int orientation)
{
    // As the builder does it: halvings (each dropping an odd last row and
    // column) until the smaller side is below 128, then the window of the
    // upright picture, centred across and nearer the top for portraits.
    int const smaller = std::max(1, std::min(base_width, base_height));
    int const halvings = std::max(0, static_cast<int>(std::bit_width(static_cast<unsigned>(smaller))) - 1 - 6);
    int w = base_width >> halvings, h = base_height >> halvings;
    if (orientation_swaps_sides(orientation))
        std::swap(w, h);
    int const g = floor_div(h - kThumbnailSide, 2);
    ThumbnailWindow window;
    window.level = base_level + halvings;
    window.top = w >= h ? g : g - floor_div(g, 2);
    window.left = floor_div(w - kThumbnailSide, 2);
    return window;
}

std::optional<SquareSource> pick_square_source(ThumbnailWindow const& window, std::vector<bool> const& available, int side)
{
    int const wanted = std::min(side, kMaxThumbnailSquare);
    if (wanted < 1)
        return std::nullopt;
    int const deepest = std::min(static_cast<int>(available.size()) - 1, window.level);
    std::optional<int> level;
    for (int k = deepest; k >= 0 && !level; --k)
        if (available[static_cast<std::size_t>(k)] && window.side_at(k) >= wanted)
            level = k;
    // No level holds that many: the largest square there is.
    for (int k = 0; k <= deepest && !level; ++k)
        if (available[static_cast<std::size_t>(k)])
            level = k;
    if (!level)
        return std::nullopt;
    int const square = window.side_at(*level);
    int const eighths = std::clamp(static_cast<int>((std::int64_t { 8 } * wanted + square - 1) / square), 1, 8);
    return SquareSource { *level, eighths };
}

std::unique_ptr<PixelBuffer> load_thumbnail_square(WStringView cache_file, WStringView picture, int side)
{
    if (side < 1 || side > 4 * kMaxThumbnailSquare)
        return nullptr;
    auto const header = read_cache_header(cache_file);
    if (!header || header->levels.empty())
        return nullptr;
    int const deepest = static_cast<int>(header->levels.size()) - 1;
    JpegProbe const picture_probe = probe_jpeg(picture);
    if (picture_probe.problem != PictureProblem::None)
        return nullptr;
    int const orientation = picture_probe.info.orientation;

    // The builder cut the thumbnail from the deepest level, or from the
    // full-size picture when there is no level.
    std::vector<bool> available(header->levels.size(), true);
    available[0] = header->has_full_size();
    auto base = read_level(*header, cache_file, picture, deepest);
    if (!base)
        return nullptr;
    JpegProbe const base_probe = probe_jpeg(*base);
    if (base_probe.problem != PictureProblem::None)
        return nullptr;
    ThumbnailWindow const window = thumbnail_window(base_probe.info.width, base_probe.info.height, deepest, orientation);
    auto const source = pick_square_source(window, available, side);
    if (!source)
        return nullptr;
    auto bytes = source->level == deepest ? std::move(base) : read_level(*header, cache_file, picture, source->level);
    if (!bytes)
        return nullptr;
    JpegProbe const level_probe = source->level == deepest ? base_probe : probe_jpeg(*bytes);
    if (level_probe.problem != PictureProblem::None)
        return nullptr;

    // The square in the scaled level, upright, and the part of the level
    // that the filter reads for it: the square and a margin for the filter's
    // reach, cut at the level's edges, where its edge pixels repeat.
    auto const scaled = jpeg_scaled_size(level_probe.info.width, level_probe.info.height, source->eighths);
    bool const swaps = orientation_swaps_sides(orientation);
    int const upright_width = swaps ? scaled.height : scaled.width;
    int const upright_height = swaps ? scaled.width : scaled.height;
    double const factor = source->eighths / 8.0;
    double const square = window.side_at(source->level) * factor;
    double const square_left = window.left_at(source->level) * factor;
    double const square_top = window.top_at(source->level) * factor;
    int const margin = static_cast<int>(std::ceil(2 * std::max(1.0, square / side))) + 2;
    Rect const part = intersect(
        Rect { static_cast<int>(std::floor(square_left)) - margin, static_cast<int>(std::floor(square_top)) - margin,
            static_cast<int>(std::ceil(square_left + square)) + margin, static_cast<int>(std::ceil(square_top + square)) + margin },
        Rect { 0, 0, upright_width, upright_height });
    if (part.is_empty())
        return nullptr;
    StoredRect const stored = stored_rect(orientation, part.left, part.top, part.width(), part.height(), scaled.width, scaled.height);
    auto const region = decode_jpeg_region(*bytes, source->eighths,
        Rect { stored.x, stored.y, stored.x + stored.width, stored.y + stored.height });
    if (!region)
        return nullptr;
    RgbImage const upright = upright_part(*region, stored, orientation);
    RgbImage const cell = resample_cubic(upright,
        SourceWindow { square_left - part.left, square_top - part.top, square, square }, side, side);
    auto buffer = PixelBuffer::create(side, side);
    if (!buffer || cell.width != side)
        return nullptr;
    for (int y = 0; y < side; ++y)
        dither_row_to_rgb565(cell.rgb.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(side) * 3,
            static_cast<std::size_t>(side), 3, buffer->row(y), 0, y);
    return buffer;
}

}
