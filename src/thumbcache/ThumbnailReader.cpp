#include "thumbcache/ThumbnailReader.h"
#include "base/FileStream.h"
#include "imaging/CubicResample.h"
#include "imaging/Exif.h"
#include "imaging/JpegCodec.h"
#include "imaging/JpegRegion.h"
#include "imaging/JpegTile.h"
#include "imaging/PictureFormat.h"
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
// A stream's headers before its first entry: Exif and colour profiles are
// tens of kilobytes; anything beyond this is no picture of that kind.
constexpr std::uint64_t kMaxPrefixBytes = 4u << 20;

int floor_div(int a, int b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

std::optional<std::vector<std::uint8_t>> read_range(WStringView path, std::uint64_t offset, std::uint64_t length)
{
    FileStream file(path, OpenMode::Read);
    if (!file.is_open() || offset > file.size() || length > file.size() - offset || !file.seek(offset))
        return std::nullopt;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(length));
    if (file.read(bytes.data(), bytes.size()) != bytes.size())
        return std::nullopt;
    return bytes;
}

// Where level k's JPEG lies: a range of the cache file, or for the
// full-size picture the stream stored in it or the picture file itself.
struct LevelStream {
    WString file;
    std::uint64_t offset { 0 };
    std::uint64_t length { 0 };
};

std::optional<LevelStream> level_stream(CacheHeader const& header, WStringView cache_file, WStringView picture, int k)
{
    if (k > 0)
        return LevelStream { WString(cache_file), header.levels[static_cast<std::size_t>(k)].jpeg.offset,
            header.levels[static_cast<std::size_t>(k)].jpeg.length };
    if (header.flags & kStoredStreamFlag)
        return LevelStream { WString(cache_file), header.full_stream.offset, header.full_stream.length };
    FileStream file(picture, OpenMode::Read);
    if (!file.is_open())
        return std::nullopt;
    return LevelStream { WString(picture), 0, file.size() };
}

// The first `count` entries of level k's table (all of them when count is
// 0) and the stream's headers in front of the first.
struct LevelStart {
    LevelStream stream;
    std::vector<JpegEntry> entries;
    std::vector<std::uint8_t> prefix;
};

std::optional<LevelStart> read_level_start(CacheHeader const& header, WStringView cache_file, WStringView picture,
    int k, std::size_t count)
{
    CacheRange const table = header.levels[static_cast<std::size_t>(k)].entries;
    std::uint32_t const length = count == 0 ? table.length : static_cast<std::uint32_t>(std::min<std::uint64_t>(table.length, count * kJpegEntrySize));
    if (length < kJpegEntrySize)
        return std::nullopt;
    auto const bytes = read_range(cache_file, table.offset, length);
    auto entries = bytes ? parse_entry_table(*bytes) : std::nullopt;
    auto stream = level_stream(header, cache_file, picture, k);
    if (!entries || entries->empty() || !stream)
        return std::nullopt;
    std::uint64_t const first = entries->front().position;
    if (first == 0 || first > stream->length || stream->length - first > kMaxPrefixBytes)
        return std::nullopt;
    auto prefix = read_range(stream->file, stream->offset, stream->length - first);
    if (!prefix)
        return std::nullopt;
    return LevelStart { std::move(*stream), std::move(*entries), std::move(*prefix) };
}

// The stored picture turned upright (orientation 1 to 8; others are
// taken as upright).
RgbImage upright(RgbImage stored, int orientation)
{
    if (orientation < 2 || orientation > 8)
        return stored;
    RgbImage turned;
    turned.width = orientation_swaps_sides(orientation) ? stored.height : stored.width;
    turned.height = orientation_swaps_sides(orientation) ? stored.width : stored.height;
    turned.rgb.resize(stored.rgb.size());
    orient_rgb(orientation, stored.rgb.data(), stored.width, stored.height, turned.rgb.data());
    return turned;
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
    auto const turn = cache_orientation(picture);
    if (!turn)
        return nullptr;
    int const orientation = *turn;

    // The builder cut the thumbnail from the deepest level, or from the
    // full-size picture when there is no level; that level's size, from its
    // headers, places the square.
    std::vector<bool> available(header->levels.size(), true);
    available[0] = header->has_full_size();
    auto const base = read_level_start(*header, cache_file, picture, deepest, 1);
    auto const base_size = base ? jpeg_frame_size(base->prefix) : std::nullopt;
    if (!base_size)
        return nullptr;
    ThumbnailWindow const window = thumbnail_window(base_size->width, base_size->height, deepest, orientation);
    auto const source = pick_square_source(window, available, side);
    if (!source)
        return nullptr;
    auto level = read_level_start(*header, cache_file, picture, source->level, 0);
    if (!level)
        return nullptr;
    auto decoder = JpegTileDecoder::create(std::move(level->prefix), std::move(level->entries),
        open_stream_bytes(level->stream.file, level->stream.offset, level->stream.length));
    if (!decoder)
        return nullptr;

    // The square in the scaled level, upright. When it comes out at the
    // cell's size on whole pixels inside the level (a cell whose side is a
    // whole number of eighths of the square's), its pixels are the cell's;
    // else the filter reads the square and a margin for its reach, cut at
    // the level's edges, where its edge pixels repeat.
    auto const scaled = jpeg_scaled_size(decoder->width(), decoder->height(), source->eighths);
    bool const swaps = orientation_swaps_sides(orientation);
    int const upright_width = swaps ? scaled.height : scaled.width;
    int const upright_height = swaps ? scaled.width : scaled.height;
    int const eighths = source->eighths;
    auto const scale = [eighths](int length) { return static_cast<double>(length) * eighths / 8; };
    double const square = scale(window.side_at(source->level));
    double const square_left = scale(window.left_at(source->level));
    double const square_top = scale(window.top_at(source->level));
    Rect const bounds { 0, 0, upright_width, upright_height };
    Rect const exact { static_cast<int>(square_left), static_cast<int>(square_top),
        static_cast<int>(square_left) + side, static_cast<int>(square_top) + side };
    bool const one_to_one = square == side && std::floor(square_left) == square_left
        && std::floor(square_top) == square_top && intersect(exact, bounds) == exact;
    int const margin = static_cast<int>(std::ceil(2 * std::max(1.0, square / side))) + 2;
    Rect const part = one_to_one ? exact
                                 : intersect(Rect { static_cast<int>(std::floor(square_left)) - margin,
                                                 static_cast<int>(std::floor(square_top)) - margin,
                                                 static_cast<int>(std::ceil(square_left + square)) + margin,
                                                 static_cast<int>(std::ceil(square_top + square)) + margin },
                                       bounds);
    if (part.is_empty())
        return nullptr;
    StoredRect const stored = stored_rect(orientation, part.left, part.top, part.width(), part.height(), scaled.width, scaled.height);
    Rect const stored_part { stored.x, stored.y, stored.x + stored.width, stored.y + stored.height };
    auto buffer = PixelBuffer::create(side, side);
    if (!buffer)
        return nullptr;
    if (one_to_one) {
        // Straight to RGB565, dithered as the level's own pixels, and turned.
        if (orientation < 2 || orientation > 8)
            return decoder->decode_region(stored_part, eighths, *buffer) ? std::move(buffer) : nullptr;
        auto turned = PixelBuffer::create(side, side);
        if (!turned || !decoder->decode_region(stored_part, eighths, *turned))
            return nullptr;
        orient_pixels(orientation, turned->pixels(), turned->pitch() / 2, side, side, buffer->pixels(), buffer->pitch() / 2);
        return buffer;
    }
    auto region = decoder->decode_region_rgb(stored_part, eighths);
    if (!region)
        return nullptr;
    RgbImage const cell = resample_cubic(upright(std::move(*region), orientation),
        SourceWindow { square_left - part.left, square_top - part.top, square, square }, side, side);
    if (cell.width != side || cell.height != side)
        return nullptr;
    for (int y = 0; y < side; ++y)
        dither_row_to_rgb565(cell.rgb.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(side) * 3,
            static_cast<std::size_t>(side), 3, buffer->row(y), 0, y);
    return buffer;
}

}
