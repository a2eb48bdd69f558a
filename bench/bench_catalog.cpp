// The catalog's search and its cache building, each as a ratio to a peer
// measured in the same run:
//   - the search of a 20,000-file tree (2,000 pictures with valid cache
//     files) against `find ROOT -iname '*.jpg' -o -iname '*.jpeg'`;
//   - building the caches of 300 pictures of 1600 x 1200 against `djpeg`
//     decoding the same pictures.

#include "base/Paths.h"
#include "catalog/PhotoCatalog.h"
#include "imaging/JpegCodec.h"
#include "thumbcache/CacheBuilder.h"
#include "thumbcache/CacheFile.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace qv;
namespace fs = std::filesystem;

namespace {

bool make_picture(fs::path const& path, int width, int height, int seed)
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

double seconds_of(std::function<void()> const& work)
{
    auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double best_of(int runs, std::function<void()> const& work)
{
    double best = 1e30;
    for (int i = 0; i < runs; ++i)
        best = std::min(best, seconds_of(work));
    return best;
}

struct Done : CatalogListener {
    bool searched { false };
    bool complete { false };
    void on_catalog_event(CatalogEvent const& event) override
    {
        searched = searched || event.search_complete;
        complete = complete || event.cache_complete;
    }
};

// One search (and the builds it queues) as the program runs it, polled as
// a screen polls, every millisecond.
// Returns how many pictures the search queued for building.
int search_and_build(bool wait_for_builds)
{
    PhotoCatalog catalog;
    Done done;
    catalog.add_listener(&done);
    catalog.need_search();
    int queued = -1;
    while (!done.searched || (wait_for_builds && !done.complete)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        catalog.poll_events();
        if (done.searched && queued < 0)
            queued = catalog.pending_count();
    }
    catalog.remove_listener(&done);
    return queued;
}

int picture_count(fs::path const& folders_ini)
{
    PhotoCatalog catalog(from_utf8(folders_ini.string()), false);
    int total = 0;
    for (auto const& folder : catalog.get_folders())
        total += folder.folder_size;
    return total;
}

}

int main(int argc, char** argv)
{
    // "search": the first figure alone.
    bool search_only = argc > 1 && std::string(argv[1]) == "search";
    fs::path dir = fs::temp_directory_path() / ("quilvane-bench-catalog-" + std::to_string(getpid()));
    fs::path tree = dir / "tree", library = dir / "library", empty_cards = dir / "nocards";
    fs::create_directories(empty_cards);
    setenv("QUILVANE_CARDS", empty_cards.c_str(), 1);
    setenv("QUILVANE_FOLDERS_INI", (dir / "folders.ini").c_str(), 1);

    // The tree: 200 directories (some named like pictures), 2,000 pictures
    // with valid cache files, 18,000 other files (some named almost like
    // pictures).
    fs::create_directories(tree / kCacheDirectory);
    fs::path sample = dir / "sample.jpg";
    if (!make_picture(sample, 320, 240, 0)) {
        std::fprintf(stderr, "bench_catalog: cannot make the pictures\n");
        return 1;
    }
    fs::path sample_cache = dir / "sample.cache";
    create_picture_cache(from_utf8(sample.string()), from_utf8(sample_cache.string()));
    std::vector<char> sample_bytes;
    {
        auto const header = read_cache_header(from_utf8(sample_cache.string()));
        std::ifstream in(sample_cache, std::ios::binary);
        sample_bytes.assign(std::istreambuf_iterator<char>(in), {});
        sample_bytes.resize(header ? static_cast<std::size_t>(header->content_end) : 0);
    }
    // The tree is searched as My Documents: its cache names carry the macro.
    setenv("QUILVANE_DOCUMENTS", tree.c_str(), 1);
    WString root = u"%my_documents%\\";
    int files = 0;
    for (int d = 0; d < 200; ++d) {
        fs::path folder = tree / ("dir" + std::to_string(d) + (d % 20 == 0 ? ".jpg" : ""));
        fs::create_directories(folder);
        for (int f = 0; f < 99; ++f, ++files) {
            fs::path file = folder / ("f" + std::to_string(f));
            if (f < 10) {
                file += f % 3 == 0 ? ".JPEG" : ".jpg";
                fs::copy_file(sample, file);
                // Copies made at one clock tick would share a time; a
                // library's pictures have times of their own.
                struct timespec const times[2] = { { 0, UTIME_OMIT }, { 1700000000 + files, 0 } };
                utimensat(AT_FDCWD, file.c_str(), times, 0);
                auto picture = u"%my_documents%\\" + from_utf8(fs::relative(file, tree).string());
                std::string cache = to_utf8(expand_path(cache_file_name(picture, root)));
                std::replace(cache.begin(), cache.end(), '\\', '/');
                // The sample's cache with this picture's own identity
                // record, as if built for it.
                auto bytes = sample_bytes;
                auto const identity = identify_picture(picture, root);
                auto const record = identity_record(identity.value_or(PictureIdentity {}), PictureProblem::None);
                bytes.insert(bytes.end(), record.begin(), record.end());
                std::ofstream(cache, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
            } else {
                file += f % 9 == 0 ? ".jpgx" : f % 9 == 1 ? ".jpg.txt" : ".dat";
                std::ofstream(file) << "x";
            }
        }
    }

    std::string find_command = "find '" + tree.string() + "' -iname '*.jpg' -o -iname '*.jpeg' > /dev/null";
    int const queued = search_and_build(false); // also warms the file system's caches
    int found = picture_count(dir / "folders.ini");
    double find_time = best_of(5, [&] { (void)!std::system(find_command.c_str()); });
    double search_time = best_of(5, [&] { search_and_build(false); });
    std::printf("catalog: search of %d files in 200 directories (%d pictures found, 2000 expected; %d queued for "
                "building, 0 expected): %.1f ms = %.2f x find (%.1f ms; goal at most 1.5)\n",
        files + 200, found, queued, search_time * 1e3, search_time / find_time, find_time * 1e3);

    if (search_only) {
        fs::remove_all(dir);
        return 0;
    }

    // The library: 300 pictures of 1600 x 1200.
    fs::create_directories(library / "album");
    for (int i = 0; i < 300; ++i) {
        if (!make_picture(library / "album" / ("p" + std::to_string(i) + ".jpg"), 1600, 1200, i)) {
            std::fprintf(stderr, "bench_catalog: cannot make the library\n");
            return 1;
        }
    }
    setenv("QUILVANE_DOCUMENTS", library.c_str(), 1);
    std::string djpeg_command = "for f in '" + (library / "album").string() + "'/*.jpg; do djpeg -outfile /dev/null \"$f\"; done";
    double decode_time = seconds_of([&] { (void)!std::system(djpeg_command.c_str()); });
    double build_time = seconds_of([&] { search_and_build(true); });
    std::printf("catalog: cache building of 300 pictures of 1600 x 1200: %.1f pictures/s, %.1f s = %.2f x djpeg decoding them (%.1f s; goal at most 1.6)\n",
        300 / build_time, build_time, build_time / decode_time, decode_time);
    fs::remove_all(dir);
    return 0;
}
