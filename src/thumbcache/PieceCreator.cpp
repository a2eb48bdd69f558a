#include "thumbcache/CacheOwnership.h"
#include "thumbcache/PieceCreator.h"
#include "base/FileInfo.h"
#include "base/FileStream.h"
#include "base/Log.h"
#include "imaging/Exif.h"
#include "imaging/JpegCodec.h"
#include "imaging/JpegEntry.h"
#include "imaging/JpegTile.h"
#include "imaging/PictureFormat.h"
#include "imaging/PixelOp.h"

#include <algorithm>

namespace qv {

namespace {

// Stream headers (with their APP segments) larger than this are not a
// picture the viewer needs to show from entry points.
constexpr std::uint64_t kMaxPrefixBytes = 4u << 20;

// Black past the picture's edge: a view may show a sliver of the last
// tile's outside when its edge falls inside a screen pixel.
std::unique_ptr<PixelBuffer> new_tile()
{
    auto tile = PixelBuffer::create(kTileSide, kTileSide);
    if (tile)
        std::fill_n(tile->pixels(), static_cast<std::size_t>(tile->pitch() / 2) * kTileSide, std::uint16_t { 0 });
    return tile;
}

std::optional<std::vector<std::uint8_t>> read_range(WStringView path, std::uint64_t offset, std::uint64_t length)
{
    FileStream file(path, OpenMode::Read);
    if (!file.is_open() || offset + length > file.size() || !file.seek(offset))
        return std::nullopt;
    std::vector<std::uint8_t> bytes(static_cast<size_t>(length));
    if (file.read(bytes.data(), bytes.size()) != bytes.size())
        return std::nullopt;
    return bytes;
}

// A stream's headers: its bytes before the first entry, whose position
// counts back from the stream's end. Nothing when that lies outside it.
std::optional<std::vector<std::uint8_t>> read_prefix(
    WStringView path, std::uint64_t offset, std::uint64_t length, std::uint64_t first)
{
    if (first == 0 || first > length || length - first > kMaxPrefixBytes)
        return std::nullopt;
    return read_range(path, offset, length - first);
}

}

int PieceCreator::top_level() const { return level_count(std::max(width(), height())); }

FilePieceCreator::FilePieceCreator(WStringView picture)
    : m_picture(picture)
{
    // Made on the screen's thread, from headers only. A picture of another
    // format is decoded whole, which is its cache builder's work: the viewer
    // shows it once that is done (built ahead of the others), as no picture
    // meanwhile rather than a broken one.
    if (auto const format = sniff_picture_file(picture); format && *format != PictureFormat::Jpeg)
        return;
    auto const probe = probe_jpeg(picture);
    m_problem = probe.problem;
    if (m_problem != PictureProblem::None)
        return;
    m_width = probe.info.width;
    m_height = probe.info.height;
    m_orientation = probe.info.orientation;
    m_top_level = level_count(std::max(m_width, m_height));
    Log::get() << u"max level " << m_top_level << u"\n";
    m_valid = true;
}

bool FilePieceCreator::level_size(int level, int& width, int& height)
{
    int const shift = m_top_level - level;
    if (!m_valid || level < 0 || shift < 0 || shift > 3)
        return false;
    // As the library's DCT scaling rounds.
    width = (m_width + (1 << shift) - 1) >> shift;
    height = (m_height + (1 << shift) - 1) >> shift;
    return true;
}

bool FilePieceCreator::create_piece(int level, int column, int row, std::unique_ptr<PixelBuffer>& tile)
{
    if (!m_valid || level < 0 || level > m_top_level)
        return false;
    if (level != m_decoded_level) {
        int shift = m_top_level - level;
        if (shift > 3) {
            m_valid = false; // the library scales down to 1/8 at most
            return false;
        }
        m_decoded = decode_scaled(m_picture, 1 << shift, &m_problem);
        m_decoded_level = m_decoded ? level : -1;
        if (!m_decoded) {
            m_valid = false;
            return false;
        }
    }
    int x = kTileSide * column, y = kTileSide * row;
    if (column < 0 || row < 0 || x >= m_decoded->width() || y >= m_decoded->height())
        return false;
    auto piece = new_tile();
    if (!piece)
        return false;
    int w = std::min(kTileSide, m_decoded->width() - x);
    int h = std::min(kTileSide, m_decoded->height() - y);
    copy_rect(*piece, 0, 0, w, h, *m_decoded, x, y, Rect { 0, 0, kTileSide, kTileSide }, copy_op());
    tile = std::move(piece);
    return true;
}

CachePieceCreator::CachePieceCreator(WStringView picture, WStringView root)
    : CachePieceCreator(picture, File { cache_file_name(picture, root) })
{
}

CachePieceCreator::CachePieceCreator(WStringView picture, File cache_file)
    : m_picture(picture)
    , m_cache_file(std::move(cache_file.path))
{
    FileStream file(picture, OpenMode::Read);
    m_picture_size = file.size();
    if (!m_cache_file.empty())
        m_header = read_cache_header(m_cache_file);
    // The full-size record's entry table is by far the largest; its size is
    // read from its stream's own headers, and the table only when a tile of
    // the top level is wanted. Opening a picture shows a lower level first.
    // A file without a full-size level shows its largest level as the
    // whole picture.
    if (m_header) {
        if (auto size = frame_size(m_header->has_full_size() ? 0 : 1)) {
            m_width = size->width;
            m_height = size->height;
        }
    }
}

CachePieceCreator::Stream CachePieceCreator::stream_of(int record) const
{
    if (record != 0)
        return { m_cache_file, m_header->levels[static_cast<size_t>(record)].jpeg.offset,
            m_header->levels[static_cast<size_t>(record)].jpeg.length };
    if (m_header->flags & kStoredStreamFlag)
        return { m_cache_file, m_header->full_stream.offset, m_header->full_stream.length };
    return { m_picture, 0, m_picture_size };
}

int CachePieceCreator::record_of(int level) const
{
    int const first = m_header->has_full_size() ? 0 : 1;
    int const last = static_cast<int>(m_header->levels.size()) - 1;
    int const record = last - level;
    return record >= first && record <= last && level >= 0 ? record : -1;
}

std::optional<JpegFrameSize> CachePieceCreator::frame_size(int record) const
{
    // The header reader has checked the table to lie inside the file and
    // to hold whole entries.
    if (record >= static_cast<int>(m_header->levels.size()))
        return std::nullopt;
    auto const& level = m_header->levels[static_cast<size_t>(record)];
    if (level.entries.length < kJpegEntrySize)
        return std::nullopt;
    auto first_entry = read_range(m_cache_file, level.entries.offset, kJpegEntrySize);
    auto const entries = first_entry ? parse_entry_table(*first_entry) : std::nullopt;
    if (!entries || entries->empty())
        return std::nullopt;
    auto const stream = stream_of(record);
    auto prefix = read_prefix(stream.file, stream.offset, stream.length, entries->front().position);
    return prefix ? jpeg_frame_size(*prefix) : std::nullopt;
}

CachePieceCreator::~CachePieceCreator() = default;

bool CachePieceCreator::load_record(int record)
{
    m_loaded = -1;
    m_decoder.reset();
    auto const& level = m_header->levels[static_cast<size_t>(record)];
    auto table = read_range(m_cache_file, level.entries.offset, level.entries.length);
    if (!table)
        return false;
    auto entries = parse_entry_table(*table);
    if (!entries || entries->empty())
        return false;

    // The stream the entries count back from: the picture itself, its
    // stored copy, or a level's JPEG inside the cache file.
    auto const source = stream_of(record);
    auto prefix = read_prefix(source.file, source.offset, source.length, entries->front().position);
    auto stream = open_stream_bytes(source.file, source.offset, source.length);
    if (!prefix || !stream)
        return false;
    m_decoder = JpegTileDecoder::create(std::move(*prefix), std::move(*entries), std::move(stream));
    if (!m_decoder)
        return false;
    m_loaded = record;
    return true;
}

bool CachePieceCreator::level_size(int level, int& width, int& height)
{
    if (!m_header)
        return false;
    int const record = record_of(level);
    if (record < 0 || (record != m_loaded && !load_record(record)))
        return false;
    width = m_decoder->width();
    height = m_decoder->height();
    return true;
}

bool CachePieceCreator::damaged()
{
    m_damaged = true;
    mark_cache_damaged(m_cache_file);
    return false;
}

bool CachePieceCreator::create_piece(int level, int column, int row, std::unique_ptr<PixelBuffer>& tile)
{
    if (!m_checked) {
        m_checked = true;
        if (!m_header || !cache_body_intact(m_cache_file))
            return damaged();
    }
    if (m_damaged)
        return false;
    int const record = record_of(level);
    if (record < 0)
        return false;
    if (record != m_loaded && !load_record(record))
        return damaged();
    if (column < 0 || row < 0 || column >= m_decoder->columns() || row >= m_decoder->rows())
        return false;
    auto piece = new_tile();
    if (!piece)
        return false;
    if (!m_decoder->decode_tile(column, row, *piece))
        return damaged();
    tile = std::move(piece);
    return true;
}

namespace {

// Four stored tiles cover any upright one; a row of upright tiles shares
// two of them with the row before.
constexpr std::size_t kKeptTiles = 8;

}

OrientedPieceCreator::OrientedPieceCreator(std::unique_ptr<PieceCreator> stored, int orientation)
    : m_stored(std::move(stored))
    , m_orientation(orientation)
{
}

int OrientedPieceCreator::width() const
{
    return orientation_swaps_sides(m_orientation) ? m_stored->height() : m_stored->width();
}

int OrientedPieceCreator::height() const
{
    return orientation_swaps_sides(m_orientation) ? m_stored->width() : m_stored->height();
}

bool OrientedPieceCreator::level_size(int level, int& width, int& height)
{
    if (!m_stored->level_size(level, width, height))
        return false;
    if (orientation_swaps_sides(m_orientation))
        std::swap(width, height);
    return true;
}

PixelBuffer const* OrientedPieceCreator::stored_tile(int level, int column, int row)
{
    for (auto it = m_kept.begin(); it != m_kept.end(); ++it) {
        if (it->level == level && it->column == column && it->row == row) {
            std::rotate(it, it + 1, m_kept.end());
            return m_kept.back().tile.get();
        }
    }
    Kept kept { level, column, row, nullptr };
    if (!m_stored->create_piece(level, column, row, kept.tile) || !kept.tile)
        return nullptr;
    if (m_kept.size() == kKeptTiles)
        m_kept.erase(m_kept.begin());
    m_kept.push_back(std::move(kept));
    return m_kept.back().tile.get();
}

bool OrientedPieceCreator::create_piece(int level, int column, int row, std::unique_ptr<PixelBuffer>& tile)
{
    int stored_width = 0, stored_height = 0;
    if (!m_stored->level_size(level, stored_width, stored_height))
        return false;
    bool const swap = orientation_swaps_sides(m_orientation);
    int const upright_width = swap ? stored_height : stored_width;
    int const upright_height = swap ? stored_width : stored_height;
    int const u = kTileSide * column, v = kTileSide * row;
    if (column < 0 || row < 0 || u >= upright_width || v >= upright_height)
        return false;
    int const w = std::min(kTileSide, upright_width - u), h = std::min(kTileSide, upright_height - v);
    auto const rect = stored_rect(m_orientation, u, v, w, h, stored_width, stored_height);

    // The stored rectangle gathered from its tiles; turned as a picture of
    // its own, it is exactly the upright tile.
    auto region = PixelBuffer::create(rect.width, rect.height);
    auto piece = new_tile();
    if (!region || !piece)
        return false;
    for (int r = rect.y / kTileSide; r <= (rect.y + rect.height - 1) / kTileSide; ++r) {
        for (int c = rect.x / kTileSide; c <= (rect.x + rect.width - 1) / kTileSide; ++c) {
            auto const* source = stored_tile(level, c, r);
            if (!source)
                return false;
            int const x0 = std::max(rect.x, c * kTileSide), y0 = std::max(rect.y, r * kTileSide);
            int const x1 = std::min(rect.x + rect.width, (c + 1) * kTileSide);
            int const y1 = std::min(rect.y + rect.height, (r + 1) * kTileSide);
            copy_rect(*region, x0 - rect.x, y0 - rect.y, x1 - x0, y1 - y0, *source, x0 - c * kTileSide,
                y0 - r * kTileSide, Rect { 0, 0, rect.width, rect.height }, copy_op());
        }
    }
    orient_pixels(m_orientation, region->row(0), region->pitch() / 2, rect.width, rect.height, piece->row(0),
        piece->pitch() / 2);
    tile = std::move(piece);
    return true;
}

std::unique_ptr<PieceCreator> upright_creator(std::unique_ptr<PieceCreator> stored, int orientation)
{
    if (orientation < 2 || orientation > 8)
        return stored;
    return std::make_unique<OrientedPieceCreator>(std::move(stored), orientation);
}

}
