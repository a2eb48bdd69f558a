#include "thumbcache/Thumbnail.h"
#include "app/FileStream.h"
#include "imaging/JpegCodec.h"
#include "thumbcache/CacheFile.h"

#include <vector>

namespace qv {

namespace {

// Far more than a 64 × 64 JPEG at quality 75 ever takes.
constexpr std::uint32_t kMaxThumbnailBytes = 256 * 1024;

std::uint32_t le32(std::uint8_t const* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8
        | static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}

std::unique_ptr<PixelBuffer> load_thumbnail(WStringView cache_file)
{
    FileStream file(cache_file, OpenMode::Read);
    std::uint8_t start[5];
    if (file.read(start, 5) != 5 || le32(start) != kCacheMark)
        return nullptr;
    std::uint8_t range[8];
    if (!file.seek(13 + 16 * std::uint64_t { start[4] }) || file.read(range, 8) != 8)
        return nullptr;
    auto offset = le32(range), length = le32(range + 4);
    if (length == 0 || length > kMaxThumbnailBytes || std::uint64_t { offset } + length > file.size())
        return nullptr;
    std::vector<std::uint8_t> bytes(length);
    if (!file.seek(offset) || file.read(bytes.data(), length) != length)
        return nullptr;
    auto picture = decode_memory(bytes);
    if (!picture || picture->width() != kThumbnailSide || picture->height() != kThumbnailSide)
        return nullptr;
    return picture;
}

}
