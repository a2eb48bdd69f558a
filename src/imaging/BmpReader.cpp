#include "imaging/Picture.h"

#include <climits>
#include <cstring>

namespace qv {

namespace {

std::uint32_t u32_at(std::uint8_t const* p)
{
    return std::uint32_t { p[0] } | std::uint32_t { p[1] } << 8 | std::uint32_t { p[2] } << 16
        | std::uint32_t { p[3] } << 24;
}

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kInfoHeaderSize = 40;

}

// Only 16-bit files are read, and their words are taken as RGB565 as they
// stand (no compression field, no colour masks): the skin's bitmaps are
// stored that way. Sizes and offsets come from the file and are checked
// before anything is allocated or skipped.
std::unique_ptr<PixelBuffer> read_bmp_565(ByteSource& source)
{
    std::uint8_t file_header[kFileHeaderSize] = {};
    std::uint8_t info_header[kInfoHeaderSize] = {};
    std::size_t file_header_count = source.read(file_header, sizeof file_header);
    std::size_t info_header_count = source.read(info_header, sizeof info_header);

    std::uint32_t data_offset = u32_at(file_header + 10);
    auto width = static_cast<std::int32_t>(u32_at(info_header + 4));
    auto height = static_cast<std::int32_t>(u32_at(info_header + 8));
    std::uint32_t bit_count = info_header[14] | std::uint32_t { info_header[15] } << 8;
    if (bit_count != 16)
        return nullptr;
    std::size_t headers = file_header_count + info_header_count;
    if (headers < kFileHeaderSize + kInfoHeaderSize || data_offset < headers)
        return nullptr;
    if (width < 0 || width > kMaxBmpSide || height == INT_MIN)
        return nullptr;
    std::int32_t rows = height < 0 ? -height : height;
    if (rows > kMaxBmpSide || std::int64_t { width } * rows > kMaxBmpPixels)
        return nullptr;

    source.skip(std::int64_t { data_offset } - static_cast<std::int64_t>(headers));
    auto buffer = PixelBuffer::create(width, rows);
    if (!buffer)
        return nullptr;

    auto row_bytes = static_cast<std::size_t>(width) * 2;
    auto stored_row_bytes = static_cast<std::int64_t>((16 * std::int64_t { width } + 31) / 32 * 4);
    bool short_file = false;
    for (std::int32_t i = 0; i < rows; ++i) {
        std::uint16_t* row = buffer->row(height < 0 ? i : rows - 1 - i);
        std::size_t got = short_file ? 0 : source.read(row, row_bytes);
        if (got < row_bytes) {
            // The rest of a file cut short reads as black rather than as
            // whatever the allocator left there.
            std::memset(reinterpret_cast<std::uint8_t*>(row) + got, 0, row_bytes - got);
            short_file = true;
            continue;
        }
        source.skip(stored_row_bytes - static_cast<std::int64_t>(got));
    }
    return buffer;
}

}
