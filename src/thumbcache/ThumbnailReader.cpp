#include "thumbcache/ThumbnailReader.h"
#include "base/FileStream.h"
#include "imaging/JpegCodec.h"
#include "thumbcache/CacheFile.h"

#include <vector>

namespace qv {

namespace {

// Far more than a 64 × 64 JPEG at quality 75 ever takes.
constexpr std::uint32_t kMaxThumbnailBytes = 256 * 1024;

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

}
