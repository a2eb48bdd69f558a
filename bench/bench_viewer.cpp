// The zoom view's frame: a 480 x 640 view over a 1600 x 1200 picture whose
// visible tiles have all arrived, drawn at a whole zoom (tiles copied 1:1)
// and at a fractional one (tiles stretched). Items are screen pixels;
// bench/run divides them by one plain copy_rect of the same screen, the
// least any frame costs, and show a stretched screen without tiles beside.

#include "imaging/PixelOp.h"
#include "widgets/TileView.h"
#include "widgets/Form.h"

#include <benchmark/benchmark.h>

#include <tuple>
#include <vector>

using namespace qv;

namespace {

constexpr int kWidth = 480;
constexpr int kHeight = 640;
constexpr std::int64_t kPixels = std::int64_t { kWidth } * kHeight;

struct Collector : TileListener {
    std::vector<std::tuple<int, int, int>> asked;
    void add_tile(TileView&, int level, int column, int row) override { asked.emplace_back(level, column, row); }
};

struct Scene {
    Form form;
    TileView* view { new TileView(&form) };
    Collector collector;
    RenderSurface screen { Size { kWidth, kHeight } };

    explicit Scene(double zoom)
    {
        view->set_horizontal(0, kWidth);
        view->set_vertical(0, kHeight);
        view->set_tile_listener(&collector);
        view->set_picture(256, 256, 1600, 1200, zoom);
        view->draw(screen.target(), Point {});
        for (auto const& [level, column, row] : collector.asked) {
            auto surface = std::make_unique<RenderSurface>(Size { 256, 256 });
            fill_rect(surface->target(), 0, 0, 256, 256,
                ColourFillOp(static_cast<std::uint16_t>(level * 4099 + column * 257 + row * 31)));
            view->put_piece(level, column, row, std::move(surface));
        }
        collector.asked.clear();
    }
};

void frame_at(benchmark::State& state, double zoom)
{
    Scene scene(zoom);
    for (auto _ : state) {
        scene.view->draw(scene.screen.target(), Point {});
        benchmark::DoNotOptimize(scene.screen.buffer()->pixels());
    }
    if (!scene.collector.asked.empty())
        state.SkipWithError("the view asked for tiles while drawing a full cache");
    state.SetItemsProcessed(state.iterations() * kPixels);
}

void BM_copy_screen(benchmark::State& state)
{
    RenderSurface source { Size { kWidth, kHeight } };
    RenderSurface screen { Size { kWidth, kHeight } };
    fill_rect(source.target(), 0, 0, kWidth, kHeight, ColourFillOp(0x1234));
    for (auto _ : state) {
        copy_rect(screen.target(), 0, 0, kWidth, kHeight, *source.buffer(), 0, 0, copy_op());
        benchmark::DoNotOptimize(screen.buffer()->pixels());
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
}

// What one stretched screen costs without tiles: the floor of a frame at
// zoom 2.5, whose tiles are drawn at 2^-0.5.
void BM_stretch_screen(benchmark::State& state)
{
    Size const from { 679, 905 };
    RenderSurface source { from };
    RenderSurface screen { Size { kWidth, kHeight } };
    fill_rect(source.target(), 0, 0, from.width, from.height, ColourFillOp(0x1234));
    for (auto _ : state) {
        stretch_rect(screen.target(), 0, 0, kWidth, kHeight, *source.buffer(), 0, 0, from.width, from.height,
            copy_op());
        benchmark::DoNotOptimize(screen.buffer()->pixels());
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
}

void BM_frame_whole_zoom(benchmark::State& state) { frame_at(state, 3.0); }
void BM_frame_half_zoom(benchmark::State& state) { frame_at(state, 2.5); }

}

BENCHMARK(BM_copy_screen);
BENCHMARK(BM_stretch_screen);
BENCHMARK(BM_frame_whole_zoom);
BENCHMARK(BM_frame_half_zoom);
BENCHMARK_MAIN();
