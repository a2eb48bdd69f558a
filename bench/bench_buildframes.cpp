// Every frame of the album list while the catalog builds the caches of a
// library with one building thread per core, against the 40 ms a frame may
// take: no frame may go over it.
//
// The program's own frame loop, headless at 480 x 640 (192 dpi): the
// application with the real "Main" form of the default skin on its screen
// stack; each frame is one direct_frame (the form's advance, which polls
// the catalog and takes in the thumbnails of albums whose caches are
// built, the paint of the whole screen and its present), the messages
// handled between frames and the frames paced as the program paces them,
// a wait of up to 10 ms for anything posted after each. Every frame redraws
// the whole screen, as it does while the progress bar moves. From the press
// of the search button until the 300 pictures of 1600 x 1200 in 10 albums
// are built; beside them, the same screen's frames with nothing running.
//
// The skin and language files come from this build's app folder (build
// quilvane_assets first). Exits 1 when a frame goes over the budget or the
// library is not built.

#include "base/Language.h"
#include "catalog/PhotoCatalog.h"
#include "platform/Window.h"
#include "platform/WindowMessages.h"
#include "screens/AlbumForm.h"
#include "shell/Application.h"
#include "skin/Properties.h"

#include "FrameTimes.h"
#include "Library.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sched.h>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

using namespace qv;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kAlbums = 10;
constexpr int kPerAlbum = 30;
constexpr int kPictures = kAlbums * kPerAlbum;
// The program's frame loop waits this long for a message after a frame.
constexpr int kFramePaceMs = 10;
using bench::Frames;
using bench::kBudgetMs;

// Frames of the application's loop until `done` says so or `limit` passes;
// false when the limit cut it short.
template<typename Done>
bool run_frames(Application& application, Frames& frames, Done const& done, std::chrono::seconds limit)
{
    auto& queue = platform::MessageQueue::main();
    auto const start = Clock::now();
    while (!done()) {
        if (Clock::now() - start > limit)
            return false;
        platform::Message message;
        while (queue.peek(message)) {
            if (message.message == platform::WM_QUIT)
                return false;
            queue.dispatch(message);
        }
        application.request_redraw();
        auto const begin = Clock::now();
        application.direct_frame();
        frames.ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - begin).count());
        queue.wait_any(kFramePaceMs);
    }
    return true;
}

char const* policy_name(int policy, int nice)
{
    if (policy == SCHED_IDLE)
        return "SCHED_IDLE";
    if (policy < 0)
        return "unknown (nothing built)";
    return nice > 0 ? "niced" : "normal";
}

bool measure(fs::path const& dir)
{
    fs::path const library = dir / "library";
    if (!bench::make_library(library, kAlbums, kPerAlbum, 1600, 1200)) {
        std::fprintf(stderr, "bench_buildframes: cannot make the library\n");
        return false;
    }
    setenv("QUILVANE_DOCUMENTS", library.c_str(), 1);
    bench::warm_files(library);

    platform::set_display_kind(platform::DisplayKind::Headless);
    WString const app_dir = from_utf8(QUILVANE_APP_DIR);
    Application application(u"QuilvaneBench");
    Properties properties;
    if (!choose_language(properties.language(), u"QuilvaneBench", app_dir)) {
        std::fprintf(stderr, "bench_buildframes: no language files in %s: build quilvane_assets first\n", QUILVANE_APP_DIR);
        return false;
    }
    ScreenInfo const info = application.screen_info();
    if (!properties.load_skin(app_dir + u"/skins/bin/default.skin", DisplayInfo { info.width, info.height, info.dpi })) {
        std::fprintf(stderr, "bench_buildframes: no default skin in %s: build quilvane_assets first\n", QUILVANE_APP_DIR);
        return false;
    }
    application.set_direct_mode(0);
    if (!application.display()) {
        std::fprintf(stderr, "bench_buildframes: no headless display\n");
        return false;
    }

    PhotoCatalog catalog(from_utf8((dir / "folders.ini").string()), false);
    catalog.set_build_threads(0);
    std::atomic<int> built { 0 }, failed { 0 };
    std::atomic<int> policy { -1 }, nice { 0 };
    catalog.set_build_observer([&](WString const&, bool ok) {
        (ok ? built : failed) += 1;
        if (policy.load() < 0) {
            nice = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
            policy = sched_getscheduler(0);
        }
    });
    catalog.start_worker();
    bool ok = true;
    {
        AlbumForm form(properties, catalog);
        form.open();
        Frames idle, loaded;
        run_frames(application, idle, [&] { return idle.ms.size() >= 100; }, std::chrono::seconds(20));
        auto* search = form.find_child(u"btnSearch");
        if (!search) {
            std::fprintf(stderr, "bench_buildframes: the album list has no search button\n");
            form.close();
            return false;
        }
        form.on_click(*search, Point {});
        auto const start = Clock::now();
        bool const finished = run_frames(application, loaded,
            [&] {
                return catalog.searches_completed() > 0 && !form.search_running() && catalog.pending_count() == 0
                    && built + failed >= kPictures;
            },
            std::chrono::seconds(300));
        double const seconds = std::chrono::duration<double>(Clock::now() - start).count();
        int const albums = catalog.get_folders_size();
        form.close();

        bool const complete = finished && albums == kAlbums && built == kPictures;
        int const over = loaded.over_budget();
        ok = complete && over == 0;
        std::printf("buildframes: album list while %d pictures of 1600 x 1200 in %d albums are built on every core "
                    "(%d building threads, %s; %d built, %d failed, %d albums, %.1f s): %zu frames, longest %.1f ms "
                    "= %.2f x the %.0f ms budget, 99th percentile %.1f ms, median %.2f ms, %d over budget "
                    "(goal 0)%s%s\n",
            kPictures, kAlbums, catalog.build_threads(), policy_name(policy, nice), built.load(), failed.load(), albums,
            seconds, loaded.ms.size(), loaded.longest(), loaded.longest() / kBudgetMs, kBudgetMs, loaded.quantile(0.99),
            loaded.quantile(0.5), over, complete ? "" : "  (the library was not built)", ok ? "" : "  ABOVE");
        std::printf("buildframes: the same screen with nothing running: %zu frames, longest %.1f ms, 99th percentile "
                    "%.1f ms, median %.2f ms\n",
            idle.ms.size(), idle.longest(), idle.quantile(0.99), idle.quantile(0.5));
    }
    return ok;
}

}

int main()
{
    fs::path const dir = fs::temp_directory_path() / ("quilvane-bench-buildframes-" + std::to_string(getpid()));
    fs::create_directories(dir / "nocards");
    setenv("QUILVANE_CARDS", (dir / "nocards").c_str(), 1);
    setenv("QUILVANE_FOLDERS_INI", (dir / "folders.ini").c_str(), 1);
    // The program's settings stay out of the user's own.
    setenv("QUILVANE_REGISTRY", (dir / "registry.reg").c_str(), 1);
    bool const ok = measure(dir);
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    return ok ? 0 : 1;
}
