// The frame loop in the headless driver at 480 x 640: a frame in which
// nothing changed, and a full redraw of the first screen with its present,
// against a memcpy of one 480 x 640 RGB565 frame.
//
// The skin and language files come from QUILVANE_BENCH_APP_DIR (default
// build/app, as bench/run runs from the source tree).

#include "shell/Application.h"
#include "base/Language.h"
#include "shell/FirstScreen.h"
#include "platform/Window.h"
#include "skin/Properties.h"

#include "FramePeer.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

using namespace qv;

namespace {

constexpr std::int32_t kWidth = 480;
constexpr std::int32_t kHeight = 640;
constexpr std::int64_t kPixels = std::int64_t { kWidth } * kHeight;

struct Shell {
    Properties properties;
    std::unique_ptr<Application> application;
    std::unique_ptr<FirstScreen> screen;
    bool ok { false };

    Shell()
    {
        platform::set_display_kind(platform::DisplayKind::Headless);
        char const* dir = std::getenv("QUILVANE_BENCH_APP_DIR");
        WString const app_dir = from_utf8(dir ? dir : "build/app");
        application = std::make_unique<Application>(u"QuilvaneBench");
        if (!choose_language(properties.language(), u"QuilvaneBench", app_dir))
            return;
        ScreenInfo const info = application->screen_info();
        if (info.width != kWidth || info.height != kHeight)
            return;
        if (!properties.load_skin(app_dir + u"/skins/bin/default.skin", DisplayInfo { info.width, info.height, info.dpi }))
            return;
        application->set_direct_mode(0);
        if (!application->display())
            return;
        screen = std::make_unique<FirstScreen>(properties);
        application->push_screen(screen.get(), false);
        // Settles the first frames (dimming, sizing) before measuring.
        for (int i = 0; i < 20; ++i)
            application->direct_frame();
        ok = true;
    }
    ~Shell()
    {
        if (screen)
            application->remove_screen(screen.get());
    }
};

Shell& shell()
{
    static Shell instance;
    return instance;
}

void BM_memcpy_frame(benchmark::State& state) { bench::memcpy_frame<kWidth, kHeight>(state); }

void BM_idle_frame(benchmark::State& state)
{
    Shell& s = shell();
    if (!s.ok) {
        state.SkipWithError("no skin or language under QUILVANE_BENCH_APP_DIR");
        return;
    }
    for (auto _ : state) {
        bool const drawn = s.application->direct_frame();
        benchmark::DoNotOptimize(drawn);
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
}

void BM_full_redraw(benchmark::State& state)
{
    Shell& s = shell();
    if (!s.ok) {
        state.SkipWithError("no skin or language under QUILVANE_BENCH_APP_DIR");
        return;
    }
    for (auto _ : state) {
        s.application->request_redraw();
        bool const drawn = s.application->direct_frame();
        benchmark::DoNotOptimize(drawn);
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
}

}

BENCHMARK(BM_memcpy_frame);
BENCHMARK(BM_idle_frame);
BENCHMARK(BM_full_redraw);
BENCHMARK_MAIN();
