#include "thumbcache/PieceCreator.h"
#include "app/FileInfo.h"
#include "app/FileStream.h"
#include "app/Log.h"
#include "imaging/JpegCodec.h"
#include "imaging/JpegEntry.h"
#include "imaging/JpegTile.h"
#include "imaging/PixelOp.h"

#include <algorithm>

namespace qv {

namespace {

// Stream headers (with their APP segments) larger than this are not a
// picture the viewer needs to show from entry points.
constexpr std::uint64_t kMaxPrefixBytes = 4u << 20;

std::unique_ptr<PixelBuffer> new_tile() { return PixelBuffer::create(kTileSide, kTileSide); }

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
    auto reader = JpegReader::open_file(picture);
    if (!reader)
        return;
    m_width = reader->width();
    m_height = reader->height();
    m_top_level = level_count(std::max(m_width, m_height));
    Log::get() << u"max level " << m_top_level << u"\n";
    m_valid = true;
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
        m_decoded = decode_scaled(m_picture, 1 << shift);
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
    : m_picture(picture)
    , m_cache_file(cache_file_name(picture, root))
{
    FileStream file(picture, OpenMode::Read);
    m_picture_size = file.size();
    if (!m_cache_file.empty())
        m_header = read_cache_header(m_cache_file);
    // The full-size record's entry table is by far the largest; its size is
    // read from the picture's own headers, and the table only when a tile of
    // the top level is wanted. Opening a picture shows a lower level first.
    if (m_header) {
        if (auto size = full_size()) {
            m_width = size->width;
            m_height = size->height;
        }
    }
}

std::optional<JpegFrameSize> CachePieceCreator::full_size() const
{
    // The header reader has checked the table to lie inside the file and
    // to hold whole entries.
    auto const& level = m_header->levels[0];
    if (level.entries.length < kJpegEntrySize)
        return std::nullopt;
    auto first_entry = read_range(m_cache_file, level.entries.offset, kJpegEntrySize);
    auto const entries = first_entry ? parse_entry_table(*first_entry) : std::nullopt;
    if (!entries || entries->empty())
        return std::nullopt;
    auto prefix = read_prefix(m_picture, 0, m_picture_size, entries->front().position);
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

    // The stream the entries count back from: the picture itself, or a
    // level's JPEG inside the cache file.
    WString stream_file = record == 0 ? m_picture : m_cache_file;
    std::uint64_t stream_offset = record == 0 ? 0 : level.jpeg.offset;
    std::uint64_t stream_length = record == 0 ? m_picture_size : level.jpeg.length;
    auto prefix = read_prefix(stream_file, stream_offset, stream_length, entries->front().position);
    auto stream = open_stream_bytes(stream_file, stream_offset, stream_length);
    if (!prefix || !stream)
        return false;
    m_decoder = JpegTileDecoder::create(std::move(*prefix), std::move(*entries), std::move(stream));
    if (!m_decoder)
        return false;
    m_loaded = record;
    return true;
}

bool CachePieceCreator::create_piece(int level, int column, int row, std::unique_ptr<PixelBuffer>& tile)
{
    if (!m_header)
        return false;
    int top = static_cast<int>(m_header->levels.size()) - 1;
    if (level < 0 || level > top)
        return false;
    int record = top - level;
    if (record != m_loaded && !load_record(record))
        return false;
    if (column < 0 || row < 0 || column >= m_decoder->columns() || row >= m_decoder->rows())
        return false;
    auto piece = new_tile();
    if (!piece || !m_decoder->decode_tile(column, row, *piece))
        return false;
    tile = std::move(piece);
    return true;
}

}
