// Cache building and tiles from the cache, each as a ratio to plain
// libjpeg-turbo decoding of the same picture, measured in the same run.
//
//   bench_cache                 all figures (makes its pictures in a temp folder)
//   bench_cache --build P C     builds one cache (run as a child to measure its peak memory)

#include "imaging/JpegCodec.h"
#include "thumbcache/CacheBuilder.h"
#include "thumbcache/CacheFile.h"
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

// Mean time of one tile over the tiles of the top level's middle, from a
// warmed creator (its entry table loaded).
double tile_time(fs::path const& picture, fs::path const& root)
{
    CachePieceCreator creator(program(picture), program(root));
    int top = creator.top_level();
    std::unique_ptr<PixelBuffer> tile;
    creator.create_piece(top, 0, 0, tile);
    int columns = (creator.width() + 255) / 256, rows = (creator.height() + 255) / 256;
    int count = 0;
    double seconds = best_of(3, [&] {
        count = 0;
        for (int r = rows / 2 - 2; r < rows / 2 + 2; ++r) {
            for (int c = columns / 2 - 2; c < columns / 2 + 2; ++c) {
                if (!creator.create_piece(top, c, r, tile))
                    std::fprintf(stderr, "bench_cache: tile %d,%d failed\n", c, r);
                ++count;
            }
        }
    });
    return seconds / count;
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

}

int main(int argc, char** argv)
{
    if (argc == 4 && std::string(argv[1]) == "--build")
        return create_picture_cache(program(argv[2]), program(argv[3])) ? 0 : 1;

    fs::path dir = fs::temp_directory_path() / ("quilvane-bench-" + std::to_string(getpid()));
    fs::create_directories(dir / "!quilvanecache");
    auto cache_of = [&](fs::path const& p) { return cache_file_name(program(p), program(dir)); };

    fs::path p24 = dir / "24mp.jpg", p96 = dir / "96mp.jpg", p6 = dir / "6mp.jpg";
    if (!make_picture(p24, 6000, 4000) || !make_picture(p96, 12000, 8000) || !make_picture(p6, 3000, 2000)) {
        std::fprintf(stderr, "bench_cache: cannot make the pictures\n");
        return 1;
    }

    double decode24 = best_of(3, [&] { plain_decode(p24); });
    double build24 = best_of(3, [&] { create_picture_cache(program(p24), cache_of(p24)); });
    std::printf("cache: build of a 24 Mpixel 4:2:0 picture: %.3f s = %.2f x one plain libjpeg-turbo decode (%.3f s; goal at most 1.6)\n",
        build24, build24 / decode24, decode24);

    long peak = child_peak_kilobytes(argv[0], p96, cache_of(p96));
    double decode96 = best_of(1, [&] { plain_decode(p96); });
    create_picture_cache(program(p6), cache_of(p6));
    double tile96 = tile_time(p96, dir), tile6 = tile_time(p6, dir);
    std::printf("cache: one 256 x 256 tile of a 96 Mpixel picture: %.3f ms = 1/%.0f of decoding it whole (%.0f ms; goal at least 1000)\n",
        tile96 * 1e3, decode96 / tile96, decode96 * 1e3);
    std::printf("cache: tile of the 96 Mpixel picture = %.2f x a tile of a 6 Mpixel one (%.3f ms; goal at most 1.3)\n",
        tile96 / tile6, tile6 * 1e3);
    std::printf("cache: peak memory building the 96 Mpixel cache: %.1f MB = %.3f x the picture decoded whole (288 MB; goal under 32 MB)\n",
        peak / 1024.0, peak / 1024.0 / 288.0);
    fs::remove_all(dir);
    return 0;
}
