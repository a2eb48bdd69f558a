#pragma once

// The picture library the cache-building benchmarks build: photo-like
// JPEG pictures (smooth shading with fine grain, so that encoding and
// decoding do a photograph's work), each with a time of its own, and the
// helpers both benchmarks share.

#include "core/WString.h"
#include "imaging/JpegCodec.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>
#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>

namespace qv::bench {

inline bool make_picture(std::filesystem::path const& path, int width, int height, int seed)
{
    auto encoder = JpegEncoder::open(from_utf8(path.string()), width, height);
    if (!encoder)
        return false;
    std::vector<std::uint8_t> row(static_cast<size_t>(width) * 3);
    unsigned noise = 12345u + static_cast<unsigned>(seed);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            noise = noise * 1103515245u + 12345u;
            int grain = static_cast<int>((noise >> 16) & 15) - 8;
            row[3 * x] = static_cast<std::uint8_t>(std::clamp(128 + static_cast<int>(90 * std::sin(x * 0.003 + y * 0.001 + seed)) + grain, 0, 255));
            row[3 * x + 1] = static_cast<std::uint8_t>(std::clamp(128 + static_cast<int>(90 * std::cos(y * 0.004)) + grain, 0, 255));
            row[3 * x + 2] = static_cast<std::uint8_t>(std::clamp(100 + (x * 50 / width) + (y * 50 / height) + grain, 0, 255));
        }
        if (!encoder->write_row(row))
            return false;
    }
    return encoder->finish();
}

// `albums` folders "album<i>" under `root`, each of `per_album` pictures
// "p<j>.jpg" of width x height; the pictures are numbered through the whole
// library, which seeds their content and sets their times a second apart.
inline bool make_library(std::filesystem::path const& root, int albums, int per_album, int width, int height)
{
    int number = 0;
    for (int a = 0; a < albums; ++a) {
        auto const album = root / ("album" + std::to_string(a));
        std::filesystem::create_directories(album);
        for (int p = 0; p < per_album; ++p, ++number) {
            auto const file = album / ("p" + std::to_string(number) + ".jpg");
            if (!make_picture(file, width, height, number))
                return false;
            struct timespec const times[2] = { { 0, UTIME_OMIT }, { 1700000000 + number, 0 } };
            utimensat(AT_FDCWD, file.c_str(), times, 0);
        }
    }
    return true;
}

// Reads every file under `root` once, so that every contestant finds the
// pictures in the page cache. The bytes read.
inline std::uintmax_t warm_files(std::filesystem::path const& root)
{
    std::uintmax_t total = 0;
    std::vector<char> buffer(1 << 16);
    for (auto const& entry : std::filesystem::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file())
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0)
            total += static_cast<std::uintmax_t>(in.gcount());
    }
    return total;
}

// The processors this process may run on: what "all cores" means here.
inline int usable_processors()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0)
        return 1;
    return std::max(1, CPU_COUNT(&set));
}

}
