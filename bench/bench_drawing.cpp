// Drawing throughput for a 480 x 640 destination, one benchmark per
// operation. Each reports pixels per second (items); bench/run divides them
// by memcpy of the same bytes measured in the same run.

#include "imaging/Density.h"
#include "imaging/Picture.h"
#include "imaging/PixelOp.h"
#include "imaging/Resample.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>

using namespace qv;

namespace {

constexpr int kWidth = 480;
constexpr int kHeight = 640;
constexpr std::int64_t kPixels = std::int64_t { kWidth } * kHeight;

// Skin-like pixels: about one in eight is the key, half carry the solid flag.
std::unique_ptr<PixelBuffer> skin_pixels(int w, int h, unsigned seed)
{
    auto buffer = PixelBuffer::create(w, h);
    std::mt19937 random(seed);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            auto p = static_cast<std::uint16_t>(random());
            buffer->at(x, y) = random() % 8 == 0 ? kKeyColour : p;
        }
    return buffer;
}

struct Scene {
    std::unique_ptr<PixelBuffer> destination = skin_pixels(kWidth, kHeight, 1);
    std::unique_ptr<PixelBuffer> source = skin_pixels(kWidth, kHeight, 2);
    Rect clip { 0, 0, kWidth, kHeight };
};

void finish(benchmark::State& state)
{
    state.SetItemsProcessed(state.iterations() * kPixels);
    state.SetBytesProcessed(state.iterations() * kPixels * 2);
}

void BM_memcpy(benchmark::State& state)
{
    Scene scene;
    auto bytes = static_cast<std::size_t>(scene.destination->pitch()) * kHeight;
    for (auto _ : state) {
        std::memcpy(scene.destination->pixels(), scene.source->pixels(), bytes);
        benchmark::ClobberMemory();
    }
    finish(state);
}

void copy_with(benchmark::State& state, PixelOp const& op)
{
    Scene scene;
    for (auto _ : state) {
        copy_rect(*scene.destination, 0, 0, kWidth, kHeight, *scene.source, 0, 0, scene.clip, op);
        benchmark::ClobberMemory();
    }
    finish(state);
}

void BM_copy(benchmark::State& state) { copy_with(state, copy_op()); }
void BM_key_copy(benchmark::State& state) { copy_with(state, key_copy_op()); }
void BM_key_blend_half(benchmark::State& state) { copy_with(state, key_blend_half_op()); }
void BM_solid_mask(benchmark::State& state) { copy_with(state, solid_mask_op()); }
void BM_tint(benchmark::State& state)
{
    auto tint = make_tint_op(200, 128, 64);
    copy_with(state, *tint);
}

void BM_fade_level_8(benchmark::State& state)
{
    Scene scene;
    FadeOp fade = make_fade_op(128);
    for (auto _ : state) {
        fill_rect(*scene.destination, 0, 0, kWidth, kHeight, scene.clip, fade);
        benchmark::ClobberMemory();
    }
    finish(state);
}

void stretch_from(benchmark::State& state, int source_width, int source_height)
{
    Scene scene;
    auto source = skin_pixels(source_width, source_height, 3);
    for (auto _ : state) {
        stretch_rect(*scene.destination, 0, 0, kWidth, kHeight, *source, 0, 0, source_width, source_height,
            scene.clip, key_copy_op());
        benchmark::ClobberMemory();
    }
    finish(state);
}

void BM_stretch_x2(benchmark::State& state) { stretch_from(state, kWidth / 2, kHeight / 2); }
void BM_stretch_x0_5(benchmark::State& state) { stretch_from(state, kWidth * 2, kHeight * 2); }

// A 64 x 64 skin frame with 16-pixel borders filling the whole destination,
// as the skin store loads it at a scale given in quarters (1.75 on a 160
// dpi screen): resampled once, then drawn 1:1.
void nine_slice(benchmark::State& state, std::int32_t quarters)
{
    Scene scene;
    DrawTarget target(scene.destination.get());
    PictureRef ref;
    auto const side = scale_length(64, quarters);
    picture_from_buffer(ref, resample_keyed(*skin_pixels(64, 64, 4), { side, side }));
    ref.grid.inner_start = { scale_length(16, quarters), scale_length(16, quarters) };
    ref.grid.inner_end = { scale_length(48, quarters), scale_length(48, quarters) };
    for (auto _ : state) {
        ref.draw(target, { 0, 0 }, { kWidth, kHeight }, key_copy_op());
        benchmark::ClobberMemory();
    }
    finish(state);
}

void BM_nine_slice(benchmark::State& state) { nine_slice(state, 4); }
void BM_nine_slice_x1_75(benchmark::State& state) { nine_slice(state, 7); }

// What loading a skin picture costs per pixel: a 2x rendering made smaller
// for a 1.75x screen, the destination's worth of pixels.
void BM_resample_2x_to_1_75x(benchmark::State& state)
{
    auto source = skin_pixels(kWidth * 8 / 7, kHeight * 8 / 7, 5);
    for (auto _ : state) {
        auto result = resample_keyed(*source, { kWidth, kHeight });
        benchmark::DoNotOptimize(result);
    }
    finish(state);
}

}

BENCHMARK(BM_memcpy);
BENCHMARK(BM_copy);
BENCHMARK(BM_key_copy);
BENCHMARK(BM_key_blend_half);
BENCHMARK(BM_solid_mask);
BENCHMARK(BM_tint);
BENCHMARK(BM_fade_level_8);
BENCHMARK(BM_stretch_x2);
BENCHMARK(BM_stretch_x0_5);
BENCHMARK(BM_nine_slice);
BENCHMARK(BM_nine_slice_x1_75);
BENCHMARK(BM_resample_2x_to_1_75x);

BENCHMARK_MAIN();
