// One frame of each visibility animation over a 480 x 640 element, half way
// through its run. Each reports the element's pixels per second (items);
// bench/run divides them by the plain key copy of the same picture, which
// is what the element costs once the animation has ended.

#include "imaging/PixelOp.h"
#include "imaging/RenderSurface.h"
#include "widgets/VisibilityAnimation.h"

#include <benchmark/benchmark.h>

#include <random>

using namespace qv;

namespace {

constexpr int kWidth = 480;
constexpr int kHeight = 640;
constexpr std::int64_t kPixels = std::int64_t { kWidth } * kHeight;

void fill(RenderSurface& surface, unsigned seed)
{
    surface.recreate({ kWidth, kHeight });
    std::mt19937 random(seed);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            surface.buffer()->at(x, y) = random() % 8 == 0 ? kKeyColour : static_cast<std::uint16_t>(random());
}

struct Screen {
    RenderSurface target { Size { kWidth, kHeight } };
};

void BM_copy(benchmark::State& state)
{
    Screen screen;
    RenderSurface picture;
    fill(picture, 1);
    auto op = make_alpha_op(0);
    for (auto _ : state) {
        picture.draw_onto(screen.target.target(), {}, *op);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
}

// `with_from`: a picture underneath too (flip turns from one to the other).
void run_animation(benchmark::State& state, WStringView name, bool with_from)
{
    Screen screen;
    auto animation = make_visibility_animation(name);
    RenderSurface from;
    RenderSurface to;
    fill(to, 2);
    if (with_from)
        fill(from, 3);
    // Hiding from 1 by 0.3 of a run: progress 0.7 at speed 1, 0.85 at 0.5;
    // past the flip's edge-on moment, so the new picture is drawn.
    animation->start(with_from ? &from : nullptr, -1, &to);
    animation->advance(0.06);
    for (auto _ : state) {
        animation->draw(screen.target.target(), {});
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPixels);
}

void BM_scale(benchmark::State& state) { run_animation(state, u"scale", false); }
void BM_pop(benchmark::State& state) { run_animation(state, u"pop", false); }
void BM_slide(benchmark::State& state) { run_animation(state, u"right", true); }
void BM_flip(benchmark::State& state) { run_animation(state, u"flip", true); }

}

BENCHMARK(BM_copy);
BENCHMARK(BM_scale);
BENCHMARK(BM_pop);
BENCHMARK(BM_slide);
BENCHMARK(BM_flip);
BENCHMARK_MAIN();
