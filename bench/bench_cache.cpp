// Cache building and tiles from the cache, each as a ratio to plain
// libjpeg-turbo decoding of the same picture, measured in the same run; a
// progressive picture against djpeg, whose whole-picture coefficient
// buffer is the same cost its cache build has to pay.
//
//   bench_cache                 all figures (makes its pictures in a temp folder)
//   bench_cache --build P C     builds one cache (run as a child to measure its peak memory)

#include "imaging/JpegCodec.h"
#include "platform/Files.h"
#include "thumbcache/CacheBuilder.h"
#include "thumbcache/CacheFile.h"
#include "thumbcache/CacheLocation.h"
#include "thumbcache/PieceCreator.h"

#include <benchmark/benchmark.h>
#include <jpeglib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace qv;
namespace fs = std::filesystem;

namespace {

WString program(fs::path const& path) { return from_utf8(path.string()); }

// A photo-like picture: smooth shading with fine texture, so the encoder
// and decoder do realistic work.
bool make_picture(fs::path const& path, int width, int height)
{
    auto encoder = JpegEncoder::open(program(path), width, height);
    if (!encoder)
        return false;
    std::vector<std::uint8_t> row(static_cast<size_t>(width) * 3);
    unsigned noise = 12345;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            noise = noise * 1103515245u + 12345u;
            int grain = static_cast<int>((noise >> 16) & 15) - 8;
            row[3 * x] = static_cast<std::uint8_t>(std::clamp(128 + static_cast<int>(90 * std::sin(x * 0.003 + y * 0.001)) + grain, 0, 255));
            row[3 * x + 1] = static_cast<std::uint8_t>(std::clamp(128 + static_cast<int>(90 * std::cos(y * 0.004)) + grain, 0, 255));
            row[3 * x + 2] = static_cast<std::uint8_t>(std::clamp(100 + (x * 50 / width) + (y * 50 / height) + grain, 0, 255));
        }
        if (!encoder->write_row(row))
            return false;
    }
    return encoder->finish();
}

// The peer: the library's own full decode with its defaults.
void plain_decode(fs::path const& path)
{
    FILE* file = std::fopen(path.c_str(), "rb");
    jpeg_decompress_struct cinfo {};
    jpeg_error_mgr errors {};
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, file);
    jpeg_read_header(&cinfo, TRUE);
    jpeg_start_decompress(&cinfo);
    std::vector<JSAMPLE> row(static_cast<size_t>(cinfo.output_width) * cinfo.output_components);
    JSAMPROW rows[1] = { row.data() };
    while (cinfo.output_scanline < cinfo.output_height)
        jpeg_read_scanlines(&cinfo, rows, 1);
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    std::fclose(file);
}

// The best of `runs` timings, in seconds.
double best_of(int runs, std::function<void()> const& work)
{
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
        auto start = std::chrono::steady_clock::now();
        work();
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

// The tiles of the top level's middle, from a warmed creator (its entry
// table loaded).
class MiddleTiles {
public:
    MiddleTiles(fs::path const& picture, fs::path const& root)
        : m_creator(program(picture), program(root))
        , m_top(m_creator.top_level())
    {
        m_creator.create_piece(m_top, 0, 0, m_tile);
    }

    // Seconds per tile, from one pass over them.
    double pass()
    {
        int columns = (m_creator.width() + 255) / 256, rows = (m_creator.height() + 255) / 256;
        int count = 0;
        auto start = std::chrono::steady_clock::now();
        for (int r = rows / 2 - 2; r < rows / 2 + 2; ++r) {
            for (int c = columns / 2 - 2; c < columns / 2 + 2; ++c) {
                if (!m_creator.create_piece(m_top, c, r, m_tile))
                    std::fprintf(stderr, "bench_cache: tile %d,%d failed\n", c, r);
                ++count;
            }
        }
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / count;
    }

private:
    CachePieceCreator m_creator;
    int m_top;
    std::unique_ptr<PixelBuffer> m_tile;
};

// Mean time of one tile over the tiles of the top level's middle.
double tile_time(fs::path const& picture, fs::path const& root)
{
    MiddleTiles tiles(picture, root);
    double best = 1e30;
    for (int i = 0; i < 3; ++i)
        best = std::min(best, tiles.pass());
    return best;
}

long child_peak_kilobytes(char const* self, fs::path const& picture, fs::path const& cache)
{
    pid_t pid = fork();
    if (pid == 0) {
        execl(self, self, "--build", picture.c_str(), cache.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage {};
    wait4(pid, &status, 0, &usage);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? usage.ru_maxrss : -1;
}

// A peer program run to its end with its output thrown away: its wall time
// and peak memory in kilobytes; a peak of -1 when it failed.
struct ChildRun {
    double seconds { 0 };
    long peak_kilobytes { -1 };
};

ChildRun run_program(std::vector<std::string> const& args)
{
    std::vector<char*> argv;
    for (auto const& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage {};
    wait4(pid, &status, 0, &usage);
    ChildRun run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        run.peak_kilobytes = usage.ru_maxrss;
    return run;
}

// A figure that misses its goal is marked and fails the run, as bench/run
// does with its own figures.
char const* mark_above(bool missed, bool& any_missed)
{
    any_missed = any_missed || missed;
    return missed ? "  ABOVE" : "";
}

}

int main(int argc, char** argv)
{
    if (argc == 4 && std::string(argv[1]) == "--build")
        return create_picture_cache(program(argv[2]), program(argv[3])) ? 0 : 1;

    fs::path dir = fs::temp_directory_path() / ("quilvane-bench-" + std::to_string(getpid()));
    // The caches with the pictures, never in the home of whoever runs it.
    setenv("XDG_CACHE_HOME", (dir / "cache").c_str(), 1);
    fs::create_directories(platform::to_system_path(cache_directory_of(program(dir))));
    auto cache_of = [&](fs::path const& p) { return cache_file_name(program(p), program(dir)); };

    fs::path p24 = dir / "24mp.jpg", p96 = dir / "96mp.jpg", p6 = dir / "6mp.jpg";
    if (!make_picture(p24, 6000, 4000) || !make_picture(p96, 12000, 8000) || !make_picture(p6, 3000, 2000)) {
        std::fprintf(stderr, "bench_cache: cannot make the pictures\n");
        return 1;
    }

    bool missed = false;
    double decode24 = best_of(3, [&] { plain_decode(p24); });
    double build24 = best_of(3, [&] { create_picture_cache(program(p24), cache_of(p24)); });
    std::printf("cache: build of a 24 Mpixel 4:2:0 picture: %.3f s = %.2f x one plain libjpeg-turbo decode (%.3f s; goal at most 1.6)%s\n",
        build24, build24 / decode24, decode24, mark_above(build24 / decode24 > 1.6, missed));

    long peak = child_peak_kilobytes(argv[0], p96, cache_of(p96));
    double decode96 = best_of(1, [&] { plain_decode(p96); });
    create_picture_cache(program(p6), cache_of(p6));
    double tile96 = tile_time(p96, dir), tile6 = tile_time(p6, dir);
    std::printf("cache: one 256 x 256 tile of a 96 Mpixel picture: %.3f ms = 1/%.0f of decoding it whole (%.0f ms; goal at least 1000)%s\n",
        tile96 * 1e3, decode96 / tile96, decode96 * 1e3, mark_above(decode96 / tile96 < 1000, missed));
    std::printf("cache: tile of the 96 Mpixel picture = %.2f x a tile of a 6 Mpixel one (%.3f ms; goal at most 1.3)%s\n",
        tile96 / tile6, tile6 * 1e3, mark_above(tile96 / tile6 > 1.3, missed));
    std::printf("cache: peak memory building the 96 Mpixel cache: %.1f MB = %.3f x the picture decoded whole (288 MB; goal under 32 MB)%s\n",
        peak / 1024.0, peak / 1024.0 / 288.0, mark_above(peak < 0 || peak >= 32 * 1024, missed));

    // The same coefficients as the 24 Mpixel picture, made progressive
    // without loss: its cache's sequential copy decodes to the same pixels,
    // so its tiles compare with the sequential picture's one for one.
    fs::path p24p = dir / "24mp-progressive.jpg";
    if (run_program({ "jpegtran", "-progressive", "-outfile", p24p.string(), p24.string() }).peak_kilobytes < 0) {
        std::fprintf(stderr, "bench_cache: jpegtran cannot make the progressive picture\n");
        fs::remove_all(dir);
        return 1;
    }
    // Peer and build take turns, so that a busy spell of the machine
    // (others build on it too) weighs on both alike; the best of each.
    ChildRun djpeg { 1e30, -1 };
    double build_progressive = 1e30, transcode = 1e30;
    // The part of the build no sequential picture has: its coefficients
    // read whole and written again as one scan.
    fs::path copy = dir / "24mp-sequential-copy.jpg";
    for (int i = 0; i < 5; ++i) {
        auto run = run_program({ "djpeg", "-outfile", "/dev/null", p24p.string() });
        djpeg.seconds = std::min(djpeg.seconds, run.seconds);
        djpeg.peak_kilobytes = std::max(djpeg.peak_kilobytes, run.peak_kilobytes);
        build_progressive = std::min(build_progressive, best_of(1, [&] { create_picture_cache(program(p24p), cache_of(p24p)); }));
        transcode = std::min(transcode, best_of(1, [&] { transcode_sequential(program(p24p), program(copy)); }));
    }
    if (djpeg.peak_kilobytes < 0) {
        std::fprintf(stderr, "bench_cache: djpeg cannot decode the progressive picture\n");
        fs::remove_all(dir);
        return 1;
    }
    long peak_progressive = child_peak_kilobytes(argv[0], p24p, cache_of(p24p));
    double ratio = build_progressive / djpeg.seconds;
    std::printf("cache: build of a 24 Mpixel progressive 4:2:0 picture: %.3f s = %.2f x djpeg decoding it (%.3f s; goal at most 1.6)%s\n",
        build_progressive, ratio, djpeg.seconds, mark_above(ratio > 1.6, missed));
    std::printf("cache:   of which its sequential copy (transcode_sequential): %.3f s = %.2f x djpeg decoding it\n",
        transcode, transcode / djpeg.seconds);
    // Both hold every coefficient of the picture at once, which the library
    // needs before a progressive picture's first row (some 69 MB here); all
    // else either holds is rows. A quarter over djpeg leaves room for the
    // builder's row buffers and level encoders, and none for a second
    // whole-picture buffer.
    ratio = peak_progressive < 0 ? 1e30 : static_cast<double>(peak_progressive) / djpeg.peak_kilobytes;
    std::printf("cache: peak memory building the 24 Mpixel progressive cache: %.1f MB = %.2f x djpeg decoding it (%.1f MB; goal at most 1.25)%s\n",
        peak_progressive / 1024.0, ratio, djpeg.peak_kilobytes / 1024.0, mark_above(ratio > 1.25, missed));
    MiddleTiles progressive_tiles(p24p, dir), sequential_tiles(p24, dir);
    double tile_progressive = 1e30, tile_sequential = 1e30;
    for (int i = 0; i < 10; ++i) {
        tile_progressive = std::min(tile_progressive, progressive_tiles.pass());
        tile_sequential = std::min(tile_sequential, sequential_tiles.pass());
    }
    ratio = tile_progressive / tile_sequential;
    std::printf("cache: tile of the progressive 24 Mpixel picture = %.2f x a tile of its sequential original (%.3f ms, %.3f ms; goal at most 1.3)%s\n",
        ratio, tile_progressive * 1e3, tile_sequential * 1e3, mark_above(ratio > 1.3, missed));
    fs::remove_all(dir);
    return missed ? 1 : 0;
}
