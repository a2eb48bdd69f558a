#include "imaging/JpegTile.h"

#include "base/Paths.h"
#include "imaging/JpegCodec.h"
#include "imaging/JpegHuffman.h"
#include "imaging/JpegLibrary.h"
#include "imaging/JpegScaledIdct.h"
#include "imaging/Rgb565Dither.h"
#include "platform/Files.h"

#include <algorithm>
#include <cstring>

namespace qv {

using namespace jpeg;

namespace {

// Bytes the reader may look ahead past a band's last MCU.
constexpr std::size_t kChunkSlack = 400;
// Bytes kept in front of an entry for rebuilding its bit buffer.
constexpr std::size_t kChunkBackOff = 6;

class FileStreamBytes final : public JpegStreamBytes {
public:
    bool open(WStringView path, std::uint64_t offset, std::uint64_t length)
    {
        if (!m_file.open(expand_path(path), platform::OpenMode::Read) || m_file.size() < offset
            || m_file.size() - offset < length)
            return false;
        m_offset = offset;
        m_length = length;
        return true;
    }
    std::uint64_t length() const override { return m_length; }
    bool read(std::uint64_t offset, std::span<std::uint8_t> out) override
    {
        if (offset > m_length || out.size() > m_length - offset)
            return false;
        return m_file.read_at(m_offset + offset, out.data(), out.size()) == out.size();
    }

private:
    platform::File m_file;
    std::uint64_t m_offset { 0 };
    std::uint64_t m_length { 0 };
};

class MemoryStreamBytes final : public JpegStreamBytes {
public:
    explicit MemoryStreamBytes(std::span<std::uint8_t const> bytes)
        : m_bytes(bytes)
    {
    }
    std::uint64_t length() const override { return m_bytes.size(); }
    bool read(std::uint64_t offset, std::span<std::uint8_t> out) override
    {
        if (offset > m_bytes.size() || out.size() > m_bytes.size() - offset)
            return false;
        std::copy_n(m_bytes.begin() + static_cast<std::ptrdiff_t>(offset), out.size(), out.begin());
        return true;
    }

private:
    std::span<std::uint8_t const> m_bytes;
};

bool is_sof_we_decode(int marker) { return marker == 0xC0 || marker == 0xC1; }
bool is_other_sof(int marker)
{
    return marker >= 0xC2 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// A decompressor over a tile picture's header, with the program's decoder
// taking over the entropy data. Library calls follow the arming of the
// error jump, with no destructible locals in between.
struct EntryDecompressor {
    jpeg_decompress_struct cinfo {};
    ErrorManager errors;
    ChunkSource source;
    HuffmanDecoder huffman;
    ScanGeometry geometry;
    bool created { false };

    EntryDecompressor() { install_error_manager(reinterpret_cast<j_common_ptr>(&cinfo), errors); }
    ~EntryDecompressor()
    {
        if (created)
            jpeg_destroy_decompress(&cinfo);
    }

    // May be called again for the next tile: the library's object is kept
    // and only reset, which saves its creation and the Huffman tables of a
    // level whose tiles all share them. A reset also clears whatever state
    // a failed tile left. `rgbx` asks for four bytes a pixel (R, G, B and
    // one unused), for packing to RGB565.
    bool start(std::span<std::uint8_t const> header, bool rgbx = false, int eighths = 8)
    {
        if (setjmp(errors.jump))
            return false;
        if (!created) {
            jpeg_create_decompress(&cinfo);
            created = true;
            init_chunk_source(source);
            attach_source(&cinfo, source.base);
        } else {
            jpeg_abort_decompress(&cinfo);
        }
        point_chunk_source(source, header.data(), header.size());
        if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK)
            return false;
        set_output_format(&cinfo);
        cinfo.scale_num = static_cast<unsigned>(eighths);
        cinfo.scale_denom = 8;
        if (rgbx)
            cinfo.out_color_space = JCS_EXT_RGBX;
        if (cinfo.inputctl->has_multiple_scans || cinfo.arith_code)
            return false;
        if (!jpeg_start_decompress(&cinfo) || cinfo.output_components != (rgbx ? 4 : 3))
            return false;
        use_box_chroma(&cinfo);
        auto const g = entry_geometry(&cinfo);
        if (!g || !huffman.install(&cinfo, *g))
            return false;
        geometry = *g;
        return true;
    }

    // Narrows the output to at least [left, left + width), which the library
    // widens to its block boundaries. Before the first row is read.
    bool crop(JDIMENSION& left, JDIMENSION& width)
    {
        if (setjmp(errors.jump))
            return false;
        if (left != 0 || width != cinfo.output_width)
            jpeg_crop_scanline(&cinfo, &left, &width);
        return true;
    }

    // Row y is decoded to target(context, y), which must not allocate or
    // throw: a library error jumps over it.
    // Rows are asked for a tile's worth at once, so the library hands over
    // whole MCU rows per call and its merged upsampler writes both rows of a
    // pair in place instead of keeping one back.
    bool read_rows(int count, std::uint8_t* (*target)(void*, int), void* context)
    {
        if (count < 0)
            return false;
        for (int batch = 0; batch < count; batch += JpegTileDecoder::kTileSize) {
            int const rows = std::min(JpegTileDecoder::kTileSize, count - batch);
            for (int y = 0; y < rows; ++y)
                m_rows[y] = target(context, batch + y);
            if (!read_batch(rows))
                return false;
        }
        return true;
    }

    bool read_batch(int count)
    {
        if (setjmp(errors.jump))
            return false;
        int done = 0;
        while (done < count) {
            auto const got = static_cast<int>(jpeg_read_scanlines(&cinfo, m_rows + done, static_cast<JDIMENSION>(count - done)));
            if (got == 0)
                return false;
            done += got;
        }
        return true;
    }

    // Rows in RGB565 into out.row(y), dithered as the pixels at (left,
    // top) onwards of the level. The library's own RGB565 output dithers by
    // output row, which differs from tile to tile; its RGBX output is
    // vectorised, and dithering it here after each band keys the dither to
    // the level's own coordinates.
    // The band starts one byte off alignment on purpose: to aligned rows
    // the vectorised output writes with non-temporal stores, which would
    // send each band to memory just before it is read back.
    // The first `skip_rows` rows decoded are dropped and each row's pixels
    // are taken from column `skip_columns` on, `width` of them (0: the
    // rest of the row); (left, top) is where out's first pixel lies.
    static constexpr int kBandRows = 16;
    bool read_rows_rgb565(int count, std::vector<std::uint8_t>& band, PixelBuffer& out, int left, int top,
        int skip_rows = 0, int skip_columns = 0, int width = 0)
    {
        if (count < 0 || skip_rows < 0 || skip_columns < 0 || width < 0 || cinfo.output_components != 4
            || static_cast<JDIMENSION>(skip_columns + width) > cinfo.output_width)
            return false;
        std::size_t const stride = cinfo.output_width;
        std::size_t const taken = width > 0 ? static_cast<std::size_t>(width) : stride - static_cast<std::size_t>(skip_columns);
        band.resize(stride * 4 * kBandRows + 1);
        for (int y = 0; y < kBandRows; ++y)
            m_rows[y] = band.data() + 1 + stride * 4 * static_cast<std::size_t>(y);
        if (setjmp(errors.jump))
            return false;
        int done = 0;
        while (done < count) {
            auto const got = static_cast<int>(jpeg_read_scanlines(&cinfo, m_rows, static_cast<JDIMENSION>(std::min(kBandRows, count - done))));
            if (got == 0)
                return false;
            for (int y = 0; y < got; ++y) {
                int const r = done + y - skip_rows;
                if (r >= 0)
                    dither_row_to_rgb565(m_rows[y] + 4 * skip_columns, taken, 4, out.row(r), left, top + r);
            }
            done += got;
        }
        return true;
    }

    JSAMPROW m_rows[JpegTileDecoder::kTileSize] {};

    bool decode_mcus(int count, JBLOCK* blocks, ResumePoint const& point)
    {
        if (setjmp(errors.jump))
            return false;
        huffman.restore(point);
        return huffman.decode_mcus(count, blocks);
    }
};

std::uint16_t read16(std::span<std::uint8_t const> bytes, std::size_t at)
{
    return static_cast<std::uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

}

std::unique_ptr<JpegStreamBytes> open_stream_bytes(WStringView path, std::uint64_t offset, std::uint64_t length)
{
    auto stream = std::make_unique<FileStreamBytes>();
    if (!stream->open(path, offset, length))
        return nullptr;
    return stream;
}

std::unique_ptr<JpegStreamBytes> memory_stream_bytes(std::span<std::uint8_t const> bytes)
{
    return std::make_unique<MemoryStreamBytes>(bytes);
}

namespace {

struct FrameSize {
    int width { 0 };
    int height { 0 };
};

// width or height 0 keeps the frame's own size.
std::optional<std::vector<std::uint8_t>> build_tile_header(std::span<std::uint8_t const> prefix, int width, int height,
    FrameSize& original)
{
    if (prefix.size() < 4 || prefix[0] != 0xFF || prefix[1] != 0xD8 || width < 0 || height < 0 || width > 0xFFFF || height > 0xFFFF)
        return std::nullopt;
    std::vector<std::uint8_t> out { 0xFF, 0xD8 };
    bool saw_frame = false;
    std::size_t at = 2;
    // Marker segments of T.81 B.2: 0xFF, code, 2-byte length counting itself.
    for (;;) {
        while (at < prefix.size() && prefix[at] == 0xFF && at + 1 < prefix.size() && prefix[at + 1] == 0xFF)
            ++at;
        if (at + 4 > prefix.size() || prefix[at] != 0xFF)
            return std::nullopt;
        int const marker = prefix[at + 1];
        std::size_t const length = read16(prefix, at + 2);
        if (length < 2 || at + 2 + length > prefix.size())
            return std::nullopt;
        auto const segment = prefix.subspan(at, 2 + length);
        at += 2 + length;
        if (marker == 0xE1 || marker == 0xE2 || marker == 0xFE)
            continue;
        if (is_other_sof(marker))
            return std::nullopt;
        std::size_t const start = out.size();
        out.insert(out.end(), segment.begin(), segment.end());
        if (is_sof_we_decode(marker)) {
            if (length < 8 || saw_frame)
                return std::nullopt;
            original.height = read16(segment, 5);
            original.width = read16(segment, 7);
            if (width == 0 || height == 0) {
                width = original.width;
                height = original.height;
            }
            out[start + 5] = static_cast<std::uint8_t>(height >> 8);
            out[start + 6] = static_cast<std::uint8_t>(height);
            out[start + 7] = static_cast<std::uint8_t>(width >> 8);
            out[start + 8] = static_cast<std::uint8_t>(width);
            saw_frame = true;
        }
        if (marker == 0xDA)
            break;
    }
    if (!saw_frame)
        return std::nullopt;
    out.push_back(0xFF);
    out.push_back(0xD9);
    return out;
}

}

std::optional<std::vector<std::uint8_t>> make_tile_header(std::span<std::uint8_t const> prefix, int width, int height)
{
    if (width < 1 || height < 1)
        return std::nullopt;
    FrameSize original;
    return build_tile_header(prefix, width, height, original);
}

std::optional<JpegFrameSize> jpeg_frame_size(std::span<std::uint8_t const> prefix)
{
    FrameSize original;
    if (!build_tile_header(prefix, 0, 0, original) || original.width < 1 || original.height < 1)
        return std::nullopt;
    return JpegFrameSize { original.width, original.height };
}

struct JpegTileDecoder::Impl {
    std::vector<std::uint8_t> prefix;
    std::vector<JpegEntry> entries;
    std::unique_ptr<JpegStreamBytes> stream;
    int width { 0 };
    int height { 0 };
    ScanGeometry geometry;

    // Reused from tile to tile: one decompressor for the level, the tile
    // header of the last tile size and the chunks.
    std::vector<std::vector<std::uint8_t>> chunks;
    std::vector<ResumePoint> starts;
    std::unique_ptr<EntryDecompressor> decompressor;
    std::vector<std::uint8_t> header;
    int header_width { 0 };
    int header_height { 0 };
    std::vector<std::uint8_t> band;   // RGBX rows on their way to RGB565, a region's rows

    struct TileSink {
        void* context;
        PixelBuffer* rgb565;   // where RGB565 rows go; null for RGB rows to target
        bool (*begin)(void*, int, int);   // tile width and height; false refuses
        std::uint8_t* (*target)(void*, int);   // where row y goes
    };
    bool decode(int column, int row, TileSink const& sink);

    // Into exactly one of `rgb` and `rgb565`.
    bool decode_region(Rect rect, int eighths, RgbImage* rgb, PixelBuffer* rgb565);
    // Reads the chunks of `count` MCU rows from `first_row`, each from the
    // entry of `first_band` up to the entry of `end_band` in the same row
    // (the next row's first when the row ends there), into `chunks` and
    // `starts`.
    bool read_rows_chunks(int first_row, int count, int first_band, int end_band);

    // The chunk of bytes from shortly before entry e to a little past entry
    // `end` (the stream's end when there is none).
    bool read_chunk(std::size_t e, std::size_t end, std::vector<std::uint8_t>& chunk, std::size_t& offset) const
    {
        std::uint64_t const length = stream->length();
        std::uint64_t const position = entries[e].position;
        if (position > length || end <= e || end > entries.size())
            return false;
        std::uint64_t const absolute = length - position;
        bool const last = end == entries.size();
        std::uint64_t const next = last ? 0 : entries[end].position;
        if (next > position)
            return false;
        std::uint64_t const back = e == 0 ? 0 : std::min<std::uint64_t>(kChunkBackOff, absolute);
        std::uint64_t const count = std::min(back + (position - next) + (last ? 0 : kChunkSlack), length - (absolute - back));
        chunk.resize(static_cast<std::size_t>(count));
        offset = static_cast<std::size_t>(back);
        return stream->read(absolute - back, chunk);
    }
};

JpegTileDecoder::JpegTileDecoder(std::unique_ptr<Impl> impl)
    : m_impl(std::move(impl))
{
}

JpegTileDecoder::~JpegTileDecoder() = default;

std::unique_ptr<JpegTileDecoder> JpegTileDecoder::create(std::vector<std::uint8_t> prefix,
    std::vector<JpegEntry> entries, std::unique_ptr<JpegStreamBytes> stream)
{
    if (!stream)
        return nullptr;
    auto impl = std::make_unique<Impl>();
    impl->prefix = std::move(prefix);
    impl->entries = std::move(entries);
    impl->stream = std::move(stream);
    FrameSize original;
    auto const full = build_tile_header(impl->prefix, 0, 0, original);
    auto probe = std::make_unique<EntryDecompressor>();
    if (!full || original.width < 1 || original.height < 1 || !probe->start(*full))
        return nullptr;
    impl->width = original.width;
    impl->height = original.height;
    impl->geometry = probe->geometry;
    impl->decompressor = std::move(probe);
    auto const expected = static_cast<std::size_t>(impl->geometry.bands_per_row) * static_cast<std::size_t>(impl->geometry.mcu_rows);
    if (impl->entries.size() != expected)
        return nullptr;
    return std::unique_ptr<JpegTileDecoder>(new JpegTileDecoder(std::move(impl)));
}

int JpegTileDecoder::width() const { return m_impl->width; }
int JpegTileDecoder::height() const { return m_impl->height; }
int JpegTileDecoder::columns() const { return (m_impl->width + kTileSize - 1) / kTileSize; }
int JpegTileDecoder::rows() const { return (m_impl->height + kTileSize - 1) / kTileSize; }

bool JpegTileDecoder::Impl::decode(int column, int row, TileSink const& sink)
{
    int const columns = (width + kTileSize - 1) / kTileSize;
    int const rows = (height + kTileSize - 1) / kTileSize;
    if (column < 0 || row < 0 || column >= columns || row >= rows)
        return false;
    int const tile_width = std::min(kTileSize, width - kTileSize * column);
    int const tile_height = std::min(kTileSize, height - kTileSize * row);
    if (!sink.begin(sink.context, tile_width, tile_height))
        return false;
    ScanGeometry const& g = geometry;
    int const first_row = row * (kTileSize / g.mcu_height);
    int const mcu_rows = (tile_height + g.mcu_height - 1) / g.mcu_height;
    if (first_row + mcu_rows > g.mcu_rows)
        return false;

    if (!read_rows_chunks(first_row, mcu_rows, column, column + 1))
        return false;

    if (header.empty() || header_width != tile_width || header_height != tile_height) {
        auto made = make_tile_header(prefix, tile_width, tile_height);
        if (!made)
            return false;
        header = std::move(*made);
        header_width = tile_width;
        header_height = tile_height;
    }
    if (!decompressor)
        decompressor = std::make_unique<EntryDecompressor>();
    if (!decompressor->start(header, sink.rgb565 != nullptr))
        return false;
    if (static_cast<int>(decompressor->cinfo.output_width) != tile_width
        || static_cast<int>(decompressor->cinfo.output_height) != tile_height
        || decompressor->geometry.mcu_rows != mcu_rows
        || decompressor->geometry.mcu_width != g.mcu_width || decompressor->geometry.mcu_height != g.mcu_height)
        return false;
    decompressor->huffman.set_row_starts(starts);
    if (sink.rgb565)
        return decompressor->read_rows_rgb565(tile_height, band, *sink.rgb565, column * kTileSize, row * kTileSize);
    return decompressor->read_rows(tile_height, sink.target, sink.context);
}

bool JpegTileDecoder::Impl::read_rows_chunks(int first_row, int count, int first_band, int end_band)
{
    ScanGeometry const& g = geometry;
    if (first_row < 0 || count < 1 || first_row + count > g.mcu_rows || first_band < 0 || end_band <= first_band
        || end_band > g.bands_per_row)
        return false;
    chunks.resize(static_cast<std::size_t>(count));
    starts.assign(static_cast<std::size_t>(count), ResumePoint {});
    for (int i = 0; i < count; ++i) {
        auto const row_start = static_cast<std::size_t>(g.bands_per_row) * static_cast<std::size_t>(first_row + i);
        auto const e = row_start + static_cast<std::size_t>(first_band);
        auto& point = starts[static_cast<std::size_t>(i)];
        auto& chunk = chunks[static_cast<std::size_t>(i)];
        if (!read_chunk(e, row_start + static_cast<std::size_t>(end_band), chunk, point.offset))
            return false;
        point.entry = entries[e];
        point.chunk = chunk;
    }
    return true;
}

bool JpegTileDecoder::Impl::decode_region(Rect rect, int eighths, RgbImage* rgb, PixelBuffer* rgb565)
{
    if (eighths < 1 || eighths > 8 || rect.is_empty() || rect.left < 0 || rect.top < 0)
        return false;
    if (rgb565 && (rgb565->width() < rect.width() || rgb565->height() < rect.height()))
        return false;
    auto const scaled = [eighths](int side) { return static_cast<int>((std::int64_t { side } * eighths + 7) / 8); };
    if (rect.right > scaled(width) || rect.bottom > scaled(height))
        return false;
    // An MCU scales to whole pixels (its sides are 8 or 16), so the part
    // picture's origin falls on a whole pixel of the scaled picture, and
    // blocks scale alike in the part and in the whole.
    ScanGeometry const& g = geometry;
    int const mcu_width = g.mcu_width * eighths / 8;
    int const mcu_height = g.mcu_height * eighths / 8;
    int const first_band = rect.left / (mcu_width * g.band_mcus);
    int const first_column = first_band * g.band_mcus;
    int const end_column = (rect.right - 1) / mcu_width + 1;
    int const first_row = rect.top / mcu_height;
    int const end_row = (rect.bottom - 1) / mcu_height + 1;
    int const end_band = (end_column + g.band_mcus - 1) / g.band_mcus;
    if (!read_rows_chunks(first_row, end_row - first_row, first_band, end_band))
        return false;

    // The part picture: from the band's first MCU to the one holding the
    // rectangle's right edge, over the MCU rows it covers; at the picture's
    // right and bottom edges it keeps the picture's own partial MCUs.
    int const x0 = first_column * g.mcu_width;
    int const y0 = first_row * g.mcu_height;
    int const part_width = std::min(width - x0, (end_column - first_column) * g.mcu_width);
    int const part_height = std::min(height - y0, (end_row - first_row) * g.mcu_height);
    if (header.empty() || header_width != part_width || header_height != part_height) {
        auto made = make_tile_header(prefix, part_width, part_height);
        if (!made)
            return false;
        header = std::move(*made);
        header_width = part_width;
        header_height = part_height;
    }
    if (!decompressor)
        decompressor = std::make_unique<EntryDecompressor>();
    if (!decompressor->start(header, rgb565 != nullptr, eighths) || decompressor->geometry.mcu_rows != end_row - first_row
        || decompressor->geometry.mcu_width != g.mcu_width || decompressor->geometry.mcu_height != g.mcu_height)
        return false;
    decompressor->huffman.set_row_starts(starts);
    // Columns left of the rectangle are entropy-decoded (the MCUs follow one
    // another in the stream) but neither transformed nor converted.
    int const part_left = rect.left - x0 * eighths / 8;
    int const part_top = rect.top - y0 * eighths / 8;
    auto left = static_cast<JDIMENSION>(part_left);
    auto crop_width = static_cast<JDIMENSION>(rect.width());
    if (static_cast<int>(left + crop_width) > static_cast<int>(decompressor->cinfo.output_width)
        || !decompressor->crop(left, crop_width))
        return false;
    int const skip_left = part_left - static_cast<int>(left);
    int const rows = part_top + rect.height();
    if (rows > static_cast<int>(decompressor->cinfo.output_height) || skip_left < 0
        || static_cast<int>(crop_width) < skip_left + rect.width())
        return false;

    // The rows above the rectangle in its first MCU row are decoded and
    // dropped.
    if (rgb565)
        return decompressor->read_rows_rgb565(rows, band, *rgb565, rect.left, rect.top, part_top, skip_left, rect.width());
    // Rows go to `band` as decoded and are then cut to the rectangle.
    std::size_t const stride = static_cast<std::size_t>(crop_width) * 3;
    band.resize(stride * static_cast<std::size_t>(rows));
    struct Target {
        std::uint8_t* base;
        std::size_t stride;
    } target { band.data(), stride };
    if (!decompressor->read_rows(rows, [](void* context, int y) {
            auto const& t = *static_cast<Target*>(context);
            return t.base + t.stride * static_cast<std::size_t>(y);
        }, &target))
        return false;
    RgbImage& out = *rgb;
    out.width = rect.width();
    out.height = rect.height();
    std::size_t const out_stride = static_cast<std::size_t>(out.width) * 3;
    out.rgb.resize(out_stride * static_cast<std::size_t>(out.height));
    for (int y = 0; y < out.height; ++y)
        std::memcpy(out.rgb.data() + out_stride * static_cast<std::size_t>(y),
            band.data() + stride * static_cast<std::size_t>(part_top + y) + static_cast<std::size_t>(skip_left) * 3,
            out_stride);
    return true;
}

std::optional<RgbImage> JpegTileDecoder::decode_region_rgb(Rect rect, int eighths)
{
    RgbImage region;
    if (!m_impl->decode_region(rect, eighths, &region, nullptr))
        return std::nullopt;
    return region;
}

bool JpegTileDecoder::decode_region(Rect rect, int eighths, PixelBuffer& out)
{
    return m_impl->decode_region(rect, eighths, nullptr, &out);
}

std::optional<RgbImage> JpegTileDecoder::decode_tile_rgb(int column, int row)
{
    RgbImage tile;
    Impl::TileSink const sink {
        &tile,
        nullptr,
        [](void* context, int w, int h) {
            auto& image = *static_cast<RgbImage*>(context);
            image.width = w;
            image.height = h;
            image.rgb.resize(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 3);
            return true;
        },
        [](void* context, int y) {
            auto& image = *static_cast<RgbImage*>(context);
            return image.rgb.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(image.width) * 3;
        },
    };
    if (!m_impl->decode(column, row, sink))
        return std::nullopt;
    return tile;
}

bool JpegTileDecoder::decode_tile(int column, int row, PixelBuffer& out)
{
    struct Target {
        PixelBuffer& out;
        int width { 0 };
        int height { 0 };
    } target { out };
    Impl::TileSink const sink {
        &target,
        &out,
        [](void* context, int w, int h) {
            auto& t = *static_cast<Target*>(context);
            t.width = w;
            t.height = h;
            return t.out.width() >= w && t.out.height() >= h;
        },
        nullptr,
    };
    if (!m_impl->decode(column, row, sink))
        return false;
    // A tile at the picture's right or bottom edge leaves part of the buffer
    // uncovered: whatever the buffer held there (fresh memory, or the last
    // tile it carried) would otherwise ride along into scaled and turned
    // copies and into views whose edge falls inside a screen pixel. It is
    // black, as past the edge of every other tile.
    std::size_t const right = static_cast<std::size_t>(out.width() - target.width);
    for (int y = 0; y < out.height(); ++y) {
        if (y < target.height)
            std::fill_n(out.row(y) + target.width, right, std::uint16_t { 0 });
        else
            std::fill_n(out.row(y), static_cast<std::size_t>(out.width()), std::uint16_t { 0 });
    }
    return true;
}

std::optional<std::vector<std::int16_t>> decode_band_coefficients(std::span<std::uint8_t const> prefix,
    std::span<std::uint8_t const> chunk, std::size_t entry_offset, JpegEntry const& entry, int mcu_count)
{
    if (mcu_count < 0 || mcu_count > 4096 || entry_offset > chunk.size())
        return std::nullopt;
    FrameSize original;
    auto const header = build_tile_header(prefix, 0, 0, original);
    auto decompressor = std::make_unique<EntryDecompressor>();
    if (!header || !decompressor->start(*header))
        return std::nullopt;
    int const blocks_per_mcu = decompressor->huffman.blocks_in_mcu();
    std::vector<std::int16_t> coefficients(static_cast<std::size_t>(mcu_count) * static_cast<std::size_t>(blocks_per_mcu) * DCTSIZE2);
    static_assert(sizeof(JCOEF) == sizeof(std::int16_t));
    ResumePoint point { entry, chunk, entry_offset };
    if (!decompressor->decode_mcus(mcu_count, reinterpret_cast<JBLOCK*>(coefficients.data()), point))
        return std::nullopt;
    return coefficients;
}

}
