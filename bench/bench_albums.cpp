// One frame of the album list while it flings: the real "Main" form of the
// default skin at 480 x 640 (192 dpi) over 1,000 albums, each with a key
// picture and a complete cache file, so that every row that scrolls in
// reads, stretches and masks its thumbnail. The peer is a memcpy of one
// 480 x 640 frame; both count the frame's pixels.

#include "base/Paths.h"
#include "catalog/CatalogFile.h"
#include "catalog/PhotoCatalog.h"
#include "imaging/DrawTarget.h"
#include "imaging/JpegCodec.h"
#include "imaging/PixelBuffer.h"
#include "platform/Files.h"
#include "screens/AlbumForm.h"
#include "widgets/TileView.h"
#include "skin/ElementRegistry.h"
#include "skin/Properties.h"
#include "thumbcache/CacheBuilder.h"
#include "thumbcache/CacheFile.h"
#include "thumbcache/CacheLocation.h"
#include "shell/Application.h"
#include "widgets/WidgetTypes.h"

#include "FramePeer.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

using namespace qv;
namespace fs = std::filesystem;

constexpr int kWidth = 480;
constexpr int kHeight = 640;
constexpr std::int64_t kPixels = std::int64_t { kWidth } * kHeight;
constexpr int kAlbums = 1000;

struct TypesScope {
    std::vector<WString> registered;
    TypesScope()
    {
        for (auto const* type : kElementTypes)
            if (auto factory = widget_factory(type))
                register_element_type(type, factory), registered.emplace_back(type);
        register_element_type(u"bigpicture", [](Element* parent) -> Element* { return new TileView(parent); });
        registered.emplace_back(u"bigpicture");
    }
    ~TypesScope()
    {
        for (auto const& type : registered)
            unregister_element_type(type);
    }
};

bool write_picture(fs::path const& path, int seed)
{
    constexpr int w = 128, h = 96;
    auto encoder = JpegEncoder::open(platform::from_system_path(path.string()), w, h);
    if (!encoder)
        return false;
    std::vector<std::uint8_t> row(w * 3);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            row[3 * x] = static_cast<std::uint8_t>(x * 2 + seed * 37);
            row[3 * x + 1] = static_cast<std::uint8_t>(y * 2 + seed * 11);
            row[3 * x + 2] = static_cast<std::uint8_t>(seed * 73);
        }
        if (!encoder->write_row(row))
            return false;
    }
    return encoder->finish();
}

// 1,000 albums of one picture each under a documents root, their cache
// files built, and the album list written; made once per run.
struct Library {
    fs::path root;
    WString folders_ini;
    bool ok { false };
    bool keep { false };

    explicit Library(fs::path where = {})
        : keep(!where.empty())
    {
        root = keep ? where : fs::temp_directory_path() / ("quilvane-bench-albums-" + std::to_string(::getpid()));
        ::setenv("QUILVANE_DOCUMENTS", (root / "docs").c_str(), 1);
        ::setenv("QUILVANE_CARDS", (root / "none").c_str(), 1);
        // The caches with the library, never in the home of whoever runs it.
        ::setenv("XDG_CACHE_HOME", (root / "cache").c_str(), 1);
        WString const docs_root = platform::from_system_path((root / "docs").string()) + u"\\";
        fs::create_directories(platform::to_system_path(cache_directory_of(docs_root)));
        std::vector<FolderInfo> folders;
        for (int i = 0; i < kAlbums; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "Album %04d", i);
            fs::create_directories(root / "docs" / name);
            fs::path const picture = root / "docs" / name / "picture.jpg";
            if (!write_picture(picture, i))
                return;
            WString const program_path = platform::from_system_path(picture.string());
            if (!create_picture_cache(program_path, cache_file_name(program_path, docs_root)))
                return;
            folders.push_back(FolderInfo { docs_root, folder_of(program_path), program_path, 1 });
        }
        folders_ini = platform::from_system_path((root / "folders.ini").string());
        std::ofstream out(root / "folders.ini", std::ios::binary);
        WString const text = u"\uFEFF" + folders_to_text(folders);
        out.write(reinterpret_cast<char const*>(text.data()), static_cast<std::streamsize>(text.size() * 2));
        ok = static_cast<bool>(out);
    }
    ~Library()
    {
        if (keep)
            return;
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }
};

void BM_album_list_frame(benchmark::State& state)
{
    static Library library;
    if (!library.ok) {
        state.SkipWithError("cannot make the album library");
        return;
    }
    TypesScope types;
    Properties store;
    if (!store.load_skin(WString(from_utf8(QUILVANE_APP_DIR)) + u"\\skins\\bin\\default.skin",
            DisplayInfo { kWidth, kHeight, 192 })) {
        state.SkipWithError("no default skin: build quilvane_assets first");
        return;
    }
    PhotoCatalog catalog(library.folders_ini, false);
    if (catalog.get_folders_size() != kAlbums) {
        state.SkipWithError("album list not loaded");
        return;
    }
    AlbumForm form(store, catalog);
    form.set_visible(true);
    form.place(Size { kWidth, kHeight });
    auto frame = PixelBuffer::create(kWidth, kHeight);
    DrawTarget target(frame.get());
    VirtualList& list = form.list();
    double direction = -1;
    std::int64_t frames = 0;
    std::int64_t rows_made = 0;
    std::int32_t last_first = list.first_index();
    for (auto _ : state) {
        if (list.first_index() == -1 && list.offset() >= list.scroll_border_min())
            direction = -1;
        else if (list.end_index() >= kAlbums && list.bottom_overscroll() > 0)
            direction = 1;
        if (list.velocity() * direction < VirtualList::kMaxFlick / 2)
            list.fling(direction * VirtualList::kMaxFlick);
        form.advance(1.0 / 60);
        form.paint(target, Point {});
        benchmark::DoNotOptimize(frame->row(0));
        rows_made += std::abs(list.first_index() - last_first);
        last_first = list.first_index();
        ++frames;
    }
    state.SetItemsProcessed(frames * kPixels);
    // Rows that scrolled in per frame: shows the thumbnails really are made
    // as the list moves, not once.
    state.counters["rows_per_frame"] = frames ? static_cast<double>(rows_made) / frames : 0;
    state.counters["pending_builds"] = catalog.pending_count();
}
BENCHMARK(BM_album_list_frame)->Unit(benchmark::kMicrosecond);

void BM_memcpy_frame(benchmark::State& state) { bench::memcpy_frame<kWidth, kHeight>(state); }
BENCHMARK(BM_memcpy_frame);

}

// `bench_albums --make-library DIR` only writes the library (DIR/docs and
// DIR/folders.ini) for the start-up measurement of bench/run.
int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--make-library") == 0)
        return Library(argv[2]).ok ? 0 : 1;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
