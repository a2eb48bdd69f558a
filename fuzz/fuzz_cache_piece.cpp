// Arbitrary bytes as a picture's cache file: every tile request must fail
// or succeed cleanly, whatever the header, entry tables and streams say.

#include "imaging/JpegCodec.h"
#include "thumbcache/CacheBuilder.h"
#include "thumbcache/CacheFile.h"
#include "thumbcache/PieceCreator.h"

#include <cmath>
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
    WString picture;
    WString root;
    fs::path cache;

    Fixture()
    {
        dir = fs::temp_directory_path() / ("quilvane-fuzz-cache-" + std::to_string(getpid()));
        fs::create_directories(dir / "!quilvanecache");
        picture = from_utf8((dir / "p.jpg").string());
        root = from_utf8(dir.string());
        auto encoder = JpegEncoder::open(picture, 600, 400);
        std::vector<std::uint8_t> row(600 * 3);
        for (int y = 0; y < 400; ++y) {
            for (int x = 0; x < 600; ++x) {
                row[3 * x] = static_cast<std::uint8_t>(x);
                row[3 * x + 1] = static_cast<std::uint8_t>(y);
                row[3 * x + 2] = static_cast<std::uint8_t>(128 + 100 * std::sin(x * 0.1));
            }
            encoder->write_row(row);
        }
        encoder->finish();
        auto name = to_utf8(cache_file_name(picture, root));
        for (auto& c : name)
            c = c == '\\' ? '/' : c;
        cache = name;
    }

    // libFuzzer ends by exit(): the folder goes with the static fixture.
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

}

// Seeds the corpus with a real cache file of the fixture's picture, so the
// fuzzer starts from the structure instead of finding it.
extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    auto& f = fixture();
    if (char const* seeds = std::getenv("QUILVANE_FUZZ_SEEDS")) {
        if (create_picture_cache(f.picture, from_utf8(f.cache.string())))
            fs::copy_file(f.cache, fs::path(seeds) / "valid_cache", fs::copy_options::overwrite_existing);
        // The same picture made progressive: a cache that holds its own
        // sequential copy of the full-size picture.
        auto const progressive = f.dir / "progressive.jpg";
        auto const stored = f.dir / "stored_cache";
        std::string const command = "jpegtran -progressive -outfile '" + progressive.string() + "' '"
            + (f.dir / "p.jpg").string() + "'";
        if (std::system(command.c_str()) == 0
            && create_picture_cache(from_utf8(progressive.string()), from_utf8(stored.string())))
            fs::copy_file(stored, fs::path(seeds) / "stored_stream_cache", fs::copy_options::overwrite_existing);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    auto& fixture = ::fixture();
    if (FILE* f = std::fopen(fixture.cache.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    CachePieceCreator creator(fixture.picture, fixture.root);
    for (int level = 0; level <= 3; ++level) {
        for (int column = 0; column < 3; ++column) {
            for (int row = 0; row < 2; ++row) {
                std::unique_ptr<PixelBuffer> tile;
                creator.create_piece(level, column, row, tile);
            }
        }
    }
    return 0;
}
