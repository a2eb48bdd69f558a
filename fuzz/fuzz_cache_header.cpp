// Arbitrary bytes as a cache file, read by read_cache_header alone: when it
// accepts the file, every range its header gives (entry tables, level
// JPEGs, the thumbnail, a stored full-size stream) must lie inside the file
// and every entry table must hold whole entries, since the tile makers read
// them without looking again.

#include "imaging/JpegCodec.h"
#include "thumbcache/CacheBuilder.h"
#include "thumbcache/CacheFile.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

using namespace qv;
namespace fs = std::filesystem;

namespace {

struct Fixture {
    fs::path dir;
    fs::path cache;
    WString cache_name;

    Fixture()
    {
        dir = fs::temp_directory_path() / ("quilvane-fuzz-header-" + std::to_string(getpid()));
        fs::create_directories(dir / "!quilvanecache");
        cache = dir / "!quilvanecache" / "input";
        cache_name = from_utf8(cache.string());
    }
    ~Fixture()
    {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }
};

Fixture& fixture()
{
    static Fixture f;
    return f;
}

bool write_picture(fs::path const& path, int width, int height)
{
    auto encoder = JpegEncoder::open(from_utf8(path.string()), width, height);
    if (!encoder)
        return false;
    std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            row[3 * x] = static_cast<std::uint8_t>(x * 3 + y);
            row[3 * x + 1] = static_cast<std::uint8_t>(y * 5);
            row[3 * x + 2] = static_cast<std::uint8_t>(x ^ y);
        }
        if (!encoder->write_row(row))
            return false;
    }
    return encoder->finish();
}

// The file's range [offset, offset + length) within its `size` bytes.
bool inside(CacheRange const& range, std::uint64_t size)
{
    return std::uint64_t { range.offset } + range.length <= size;
}

}

// Seeds the corpus (QUILVANE_FUZZ_HEADER_SEEDS) with real cache files: one
// of a picture with entry points into itself, and one of a progressive
// picture that keeps its own sequential copy.
extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    auto& f = fixture();
    char const* seeds = std::getenv("QUILVANE_FUZZ_HEADER_SEEDS");
    if (!seeds)
        return 0;
    auto const picture = f.dir / "p.jpg";
    auto const made = f.dir / "!quilvanecache" / "seed";
    if (write_picture(picture, 700, 500) && create_picture_cache(from_utf8(picture.string()), from_utf8(made.string())))
        fs::copy_file(made, fs::path(seeds) / "valid_cache", fs::copy_options::overwrite_existing);
    auto const progressive = f.dir / "progressive.jpg";
    std::string const command = "jpegtran -progressive -outfile '" + progressive.string() + "' '" + picture.string() + "'";
    if (std::system(command.c_str()) == 0
        && create_picture_cache(from_utf8(progressive.string()), from_utf8(made.string())))
        fs::copy_file(made, fs::path(seeds) / "stored_stream_cache", fs::copy_options::overwrite_existing);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    auto& f = fixture();
    if (std::FILE* out = std::fopen(f.cache.c_str(), "wb")) {
        if (size > 0)
            std::fwrite(data, 1, size, out);
        std::fclose(out);
    } else {
        std::abort();
    }
    auto const header = read_cache_header(f.cache_name);
    if (!header)
        return 0;
    std::uint64_t const file_size = size;
    for (auto const& level : header->levels) {
        if (!inside(level.entries, file_size) || !inside(level.jpeg, file_size))
            std::abort();
        if (level.entries.length % kEntrySize != 0)
            std::abort();
    }
    if (!inside(header->thumbnail, file_size))
        std::abort();
    if ((header->flags & kStoredStreamFlag) && !inside(header->full_stream, file_size))
        std::abort();
    return 0;
}
