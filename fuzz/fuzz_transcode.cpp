// Arbitrary bytes as a picture file that the cache builder has to copy:
//
//  - a picture the probe calls transcodable but not direct (progressive,
//    arithmetic, several scans) is written again as one sequential scan;
//    whenever that succeeds, the copy is a stream the entry points can
//    describe: the recording read opens it and reads every row of it. A
//    copy it refuses would leave a picture with a cache and no tiles.
//  - the whole builder over the same file (the copy, the RGB copy of a
//    CMYK picture, the Exif orientation of the thumbnail): a success leaves
//    a cache file whose header reads back, a failure names a reason and
//    leaves no file under the cache name, and no scratch file outlives a
//    build.
//
// Files live in a directory of this process under the temporary folder,
// under the same names for every input; the directory goes after each
// input (the fuzzer ends without running exit handlers), so that only an
// input that crashed leaves its files behind.

#include "imaging/JpegCodec.h"
#include "thumbcache/CacheBuilder.h"
#include "thumbcache/CacheFile.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

using namespace qv;
namespace fs = std::filesystem;

namespace {

// What the library may hold for a transcode, and the pictures the whole
// builder is run over: enough for every layout, small enough that the
// fuzzer's memory limit and speed are not spent on pictures of empty data.
constexpr std::uint64_t kFuzzCoefficientBytes = 16u << 20;
constexpr std::int64_t kMaxCachePixels = 2'000'000;

struct Files {
    fs::path dir;
    fs::path input;
    fs::path copy;
    fs::path entries;
    fs::path cache;

    Files()
    {
        dir = fs::temp_directory_path() / ("quilvane-fuzz-transcode-" + std::to_string(getpid()));
        input = dir / "input.jpg";
        copy = dir / "copy.jpg";
        entries = dir / "entries";
        cache = dir / "picture.cache";
    }

    static Files& files()
    {
        static Files f;
        return f;
    }
};

WString path_of(fs::path const& p) { return from_utf8(p.string()); }

void write_input(fs::path const& path, std::uint8_t const* data, std::size_t size)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<char const*>(data), static_cast<std::streamsize>(size));
    if (!out)
        std::abort(); // the fixture's own failure, not a finding
}

void check_transcode(Files const& f)
{
    if (transcode_sequential(path_of(f.input), path_of(f.copy)) != PictureProblem::None)
        return;
    auto reader = JpegReader::open_recording(path_of(f.copy), path_of(f.entries));
    if (!reader) {
        std::fprintf(stderr, "the recording read refuses a transcoded copy\n");
        std::abort();
    }
    std::vector<std::uint8_t> row(static_cast<std::size_t>(reader->width()) * 3);
    for (int y = 0; y < reader->height(); ++y) {
        if (!reader->read_row(row)) {
            std::fprintf(stderr, "row %d of a transcoded copy cannot be read\n", y);
            std::abort();
        }
    }
}

bool has_scratch_files(fs::path const& dir)
{
    for (auto const& entry : fs::directory_iterator(dir))
        if (entry.path().filename().string().rfind("~build-", 0) == 0)
            return true;
    return false;
}

void check_cache(Files const& f)
{
    PictureProblem problem = PictureProblem::None;
    bool const built = create_picture_cache(path_of(f.input), path_of(f.cache), nullptr, &problem);
    if (built && !read_cache_header(path_of(f.cache))) {
        std::fprintf(stderr, "a built cache file does not read back\n");
        std::abort();
    }
    if (!built && (problem == PictureProblem::None || fs::exists(f.cache))) {
        std::fprintf(stderr, "a failed build: reason %d, file left %d\n", static_cast<int>(problem),
            static_cast<int>(fs::exists(f.cache)));
        std::abort();
    }
    if (has_scratch_files(f.dir)) {
        std::fprintf(stderr, "a build left scratch files\n");
        std::abort();
    }
}

}

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    auto const& f = Files::files();
    fs::create_directories(f.dir);
    write_input(f.input, data, size);
    auto const probe = probe_jpeg(path_of(f.input));
    JpegInfo const& info = probe.info;
    if (probe.problem == PictureProblem::None) {
        if (info.transcodable && !info.direct && info.coefficient_bytes <= kFuzzCoefficientBytes)
            check_transcode(f);
        if (info.coefficient_bytes <= kFuzzCoefficientBytes
            && static_cast<std::int64_t>(info.width) * info.height <= kMaxCachePixels)
            check_cache(f);
    }
    fs::remove_all(f.dir);
    return 0;
}
