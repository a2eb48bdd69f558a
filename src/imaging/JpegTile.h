#pragma once

// Tiles and bands decoded from entry points: only the compressed bytes of
// the MCUs a tile covers are read. The stream's own headers, with the frame
// size set to the tile's, make a small picture whose MCUs the program's
// decoder takes from consecutive entries; the library does the rest, with
// the same upsampling as every other decode, so a tile equals the same
// region of a whole decode exactly.

#include "core/WString.h"
#include "imaging/JpegEntry.h"
#include "imaging/PixelBuffer.h"
#include "imaging/Rect.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace qv {

// The compressed stream that entry positions count back from.
class JpegStreamBytes {
public:
    virtual ~JpegStreamBytes() = default;
    virtual std::uint64_t length() const = 0;
    // Reads out.size() bytes from `offset`; false when any is missing.
    virtual bool read(std::uint64_t offset, std::span<std::uint8_t> out) = 0;
};

// `length` bytes of a file from `offset` (a level stream inside a cache
// file, or a whole picture file). Null when the file cannot be opened or is
// shorter than the range.
std::unique_ptr<JpegStreamBytes> open_stream_bytes(WStringView path, std::uint64_t offset, std::uint64_t length);
// Bytes in memory; they must outlive the result.
std::unique_ptr<JpegStreamBytes> memory_stream_bytes(std::span<std::uint8_t const> bytes);

// The frame size that a stream's headers (a prefix as JpegTileDecoder takes)
// declare, read without preparing a decoder; nullopt when they hold no frame
// of a kind the decoder takes.
struct JpegFrameSize {
    int width { 0 };
    int height { 0 };
};
std::optional<JpegFrameSize> jpeg_frame_size(std::span<std::uint8_t const> prefix);

struct RgbImage {
    int width { 0 };
    int height { 0 };
    std::vector<std::uint8_t> rgb;   // width × 3 bytes per row, top row first
};

class JpegTileDecoder {
public:
    static constexpr int kTileSize = 256;

    // `prefix` holds the stream from its first byte up to its first entry
    // point (all its headers); `entries` is its whole entry table. Null when
    // they do not describe a picture with entry points.
    static std::unique_ptr<JpegTileDecoder> create(std::vector<std::uint8_t> prefix,
        std::vector<JpegEntry> entries, std::unique_ptr<JpegStreamBytes> stream);
    ~JpegTileDecoder();
    JpegTileDecoder(JpegTileDecoder const&) = delete;
    JpegTileDecoder& operator=(JpegTileDecoder const&) = delete;

    int width() const;
    int height() const;
    int columns() const;   // tiles across
    int rows() const;      // tiles down

    // The tile's pixels (up to 256 × 256, cut at the picture's edges).
    std::optional<RgbImage> decode_tile_rgb(int column, int row);
    // The same in RGB565 into the top-left corner of `out`, which must be at
    // least as large as the tile.
    bool decode_tile(int column, int row, PixelBuffer& out);

    // Any rectangle of the picture reduced to eighths/8 of its size (1 to
    // 8; rounded up as the library rounds it), in the reduced picture's
    // pixels; nothing unless it lies inside. Only the MCU rows it covers
    // are read, each from the entry of the 256-pixel band holding its left
    // edge to the MCU holding its right edge, and only its columns are
    // transformed: the pixels equal the same rectangle of a whole decode at
    // that scale (decode_jpeg_region; chroma as JpegScaledIdct.h tells).
    std::optional<RgbImage> decode_region_rgb(Rect rect, int eighths);
    // The same in RGB565 into the top-left corner of `out`, which must be at
    // least as large, dithered as the same pixels of the reduced picture.
    bool decode_region(Rect rect, int eighths, PixelBuffer& out);

    struct Impl;

private:
    explicit JpegTileDecoder(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};

// Resumes at `entry`, which lies `entry_offset` bytes into `chunk`, and
// decodes `mcu_count` MCUs: the 64 coefficients of every block in natural
// order, blocks in MCU order. `prefix` is as for JpegTileDecoder. The
// chunk's end reads as the end of the data.
std::optional<std::vector<std::int16_t>> decode_band_coefficients(std::span<std::uint8_t const> prefix,
    std::span<std::uint8_t const> chunk, std::size_t entry_offset, JpegEntry const& entry, int mcu_count);

// The header bytes of a tile picture: `prefix` without APP1, APP2 and COM
// segments, the frame size set to width × height, an end-of-image marker
// after the scan header. Nullopt unless `prefix` is a sequential Huffman
// header that ends with its scan header.
std::optional<std::vector<std::uint8_t>> make_tile_header(std::span<std::uint8_t const> prefix, int width, int height);

}
