// Every frame while Down is held through a list of 1,000 rows, against the
// 40 ms a frame may take and against the peer of the other frame
// benchmarks, a memcpy of one 480 x 640 RGB565 frame timed in the same run.
// The focus starts on the first row; the key goes down once and then
// repeats every 33 ms of simulated time, as a keyboard's auto-repeat does,
// each press followed by the frame it causes (the key handled, advance by
// 33 ms, paint the whole screen), until the focus is on the last row. The
// focused row is scrolled into view smoothly, so every frame moves the list
// and makes rows as they come in; nothing may make a frame wait.
//   1. A list of the toolkit over 1,000 text rows, as a menu or any long
//      list of the skin.
//   2. The album list: the real "Main" form of the default skin (192 dpi)
//      over 1,000 albums, each with a key picture and its cache file, so
//      every row that comes in reads, stretches and masks its thumbnail.
// Each is held down three times (End, Home between passes); the figures
// take in every frame of the three.

#include "base/Paths.h"
#include "catalog/CatalogFile.h"
#include "catalog/PhotoCatalog.h"
#include "imaging/DrawTarget.h"
#include "imaging/JpegCodec.h"
#include "imaging/PixelBuffer.h"
#include "platform/Files.h"
#include "screens/AlbumForm.h"
#include "skin/Properties.h"
#include "skin/SkinCompiler.h"
#include "thumbcache/CacheBuilder.h"
#include "thumbcache/CacheFile.h"
#include "thumbcache/CacheLocation.h"
#include "widgets/Form.h"
#include "widgets/VirtualList.h"
#include "widgets/WidgetTypes.h"

#include "FrameTimes.h"
#include "TextList.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

using namespace qv;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kWidth = 480;
constexpr int kHeight = 640;
constexpr int kRows = 1000;
using bench::Frames;
using bench::kBudgetMs;
constexpr double kRepeatSeconds = 0.033;
constexpr int kPasses = 3;

double elapsed_ms(Clock::time_point since)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}


// The peer, timed as the frames are: one clock reading around each copy;
// the median of many, so that a stray interruption does not make it.
double memcpy_frame_ms()
{
    constexpr size_t pixels = size_t { kWidth } * kHeight;
    std::vector<std::uint16_t> from(pixels, 0x1234), to(pixels);
    Frames copies;
    for (int i = 0; i < 2000; ++i) {
        auto const begin = Clock::now();
        std::memcpy(to.data(), from.data(), pixels * 2);
        asm volatile("" : : "r"(to.data()) : "memory");
        copies.ms.push_back(elapsed_ms(begin));
    }
    return copies.quantile(0.5);
}

// One frame: what the frame loop does after a key message.
void frame(Form& form, PixelBuffer& buffer, DrawTarget& target, KeyInput const* key, Frames* frames)
{
    auto const begin = Clock::now();
    if (key)
        form.on_key(*key);
    form.advance(kRepeatSeconds);
    form.place(Size { kWidth, kHeight });
    form.paint(target, Point {});
    asm volatile("" : : "r"(buffer.row(0)) : "memory");
    if (frames)
        frames->ms.push_back(elapsed_ms(begin));
}

// Holds Down from the first row to the last, kPasses times. False when the
// focus did not come to the last row or stopped short of it.
bool hold_down(Form& form, VirtualList& list, Frames& frames)
{
    auto buffer = PixelBuffer::create(kWidth, kHeight);
    DrawTarget target(buffer.get());
    bool reached = true;
    for (int pass = 0; pass < kPasses; ++pass) {
        KeyInput const home { Key::Home, true, true };
        frame(form, *buffer, target, &home, nullptr);
        KeyInput const home_up { Key::Home, false, true };
        frame(form, *buffer, target, &home_up, nullptr);
        // The smooth scroll back to the top settles before the key goes down.
        for (int i = 0; i < 60; ++i)
            frame(form, *buffer, target, nullptr, nullptr);
        if (list.focus_index() != 0 || &list != form.focused())
            return false;
        int presses = 0;
        for (bool first = true; list.focus_index() < kRows - 1 && presses < 2 * kRows; first = false, ++presses) {
            KeyInput const down { Key::Down, true, first };
            frame(form, *buffer, target, &down, &frames);
        }
        KeyInput const up { Key::Down, false, true };
        frame(form, *buffer, target, &up, &frames);
        reached = reached && list.focus_index() == kRows - 1 && presses == kRows - 1;
    }
    return reached;
}

bool report(char const* what, Frames const& frames, double peer_ms, bool reached)
{
    double const ratio = frames.longest() / kBudgetMs;
    bool const met = reached && ratio <= 1.0 && frames.over_budget() == 0;
    std::printf("keys: %s: %zu frames, longest %.2f ms = %.1f x the memcpy peer (%.3f ms a frame), 99th percentile "
                "%.2f ms, median %.2f ms, %d over budget; longest = %.3f x the %.0f ms budget (goal at most 1)%s%s\n",
        what, frames.ms.size(), frames.longest(), peer_ms > 0 ? frames.longest() / peer_ms : 0, peer_ms,
        frames.quantile(0.99), frames.quantile(0.5), frames.over_budget(), ratio, kBudgetMs, met ? "" : "  ABOVE",
        reached ? "" : " (the focus did not reach the last row)");
    return met;
}


bool text_list_part(double peer_ms)
{
    auto compiled = compile_skin(bench::kTextListSkin, [](std::string const&) { return std::optional<Size> {}; });
    if (!compiled.error.empty()) {
        std::fprintf(stderr, "bench_keys: %s\n", compiled.error.c_str());
        return false;
    }
    PropertiesImpl store(compiled.image, u".", DisplayInfo { kWidth, kHeight, 96 });
    Form form;
    if (!form.load_form(store, u"Screen"))
        return false;
    form.enable_keyboard_focus();
    form.set_visible(true);
    form.place(Size { kWidth, kHeight });
    auto* list = dynamic_cast<VirtualList*>(form.find_child(u"list"));
    if (!list)
        return false;
    bench::TextRows rows(store);
    list->set_provider(&rows, kRows);
    form.set_focus(list);
    Frames frames;
    bool const reached = hold_down(form, *list, frames);
    return report("Down held through a list of 1,000 text rows", frames, peer_ms, reached);
}

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

// 1,000 albums of one picture each under the documents root, their cache
// files built and the album list written.
bool make_library(fs::path const& root, WString& folders_ini)
{
    ::setenv("QUILVANE_DOCUMENTS", (root / "docs").c_str(), 1);
    // The caches with the library, never in the home of whoever runs it.
    ::setenv("XDG_CACHE_HOME", (root / "cache").c_str(), 1);
    WString const docs_root = platform::from_system_path((root / "docs").string()) + u"\\";
    fs::create_directories(platform::to_system_path(cache_directory_of(docs_root)));
    std::vector<FolderInfo> folders;
    for (int i = 0; i < kRows; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "Album %04d", i);
        fs::create_directories(root / "docs" / name);
        fs::path const picture = root / "docs" / name / "picture.jpg";
        if (!write_picture(picture, i))
            return false;
        WString const program_path = platform::from_system_path(picture.string());
        if (!create_picture_cache(program_path, cache_file_name(program_path, docs_root)))
            return false;
        folders.push_back(FolderInfo { docs_root, folder_of(program_path), program_path, 1 });
    }
    folders_ini = platform::from_system_path((root / "folders.ini").string());
    std::ofstream out(root / "folders.ini", std::ios::binary);
    WString const text = u"\uFEFF" + folders_to_text(folders);
    out.write(reinterpret_cast<char const*>(text.data()), static_cast<std::streamsize>(text.size() * 2));
    return static_cast<bool>(out);
}

bool album_list_part(fs::path const& dir, double peer_ms)
{
    WString folders_ini;
    if (!make_library(dir, folders_ini)) {
        std::fprintf(stderr, "bench_keys: cannot make the album library\n");
        return false;
    }
    Properties store;
    if (!store.load_skin(WString(from_utf8(QUILVANE_APP_DIR)) + u"\\skins\\bin\\default.skin",
            DisplayInfo { kWidth, kHeight, 192 })) {
        std::fprintf(stderr, "bench_keys: no default skin: build quilvane_assets first\n");
        return false;
    }
    PhotoCatalog catalog(folders_ini, false);
    if (catalog.get_folders_size() != kRows) {
        std::fprintf(stderr, "bench_keys: the album list was not loaded\n");
        return false;
    }
    AlbumForm form(store, catalog);
    form.set_visible(true);
    form.place(Size { kWidth, kHeight });
    Frames frames;
    bool const reached = hold_down(form, form.list(), frames);
    return report("Down held through the album list of 1,000 albums with thumbnails", frames, peer_ms, reached);
}

}

int main()
{
    fs::path const dir = fs::temp_directory_path() / ("quilvane-bench-keys-" + std::to_string(getpid()));
    fs::create_directories(dir / "nocards");
    setenv("QUILVANE_CARDS", (dir / "nocards").c_str(), 1);
    setenv("QUILVANE_FOLDERS_INI", (dir / "folders.ini").c_str(), 1);
    bool ok = true;
    {
        WidgetTypes types;
        double const peer_ms = memcpy_frame_ms();
        ok = text_list_part(peer_ms) && ok;
        ok = album_list_part(dir, peer_ms) && ok;
    }
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    return ok ? 0 : 1;
}
