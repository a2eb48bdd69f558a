// Presenting a frame to the Linux frame buffer: a whole 1080 x 1920 RGB565
// picture into a 32-bit XRGB8888 panel (the common case: a phone-sized
// panel on a Raspberry Pi or a DRM device's emulated frame buffer), against
// a memcpy of the same bytes into the same memory, the floor for any way of
// getting them there. Items are pixels. Also, for reading: the same into a
// 16-bit panel, into one whose bytes run the other way (the conversion
// that takes its shifts from the mode), and into a panel mounted turned
// each way.

#include "platform/FramebufferFormat.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

using namespace qv::platform;

namespace {

constexpr std::int32_t kWidth = 1080, kHeight = 1920;

struct Frame {
    std::vector<std::uint16_t> picture;
    std::vector<std::uint8_t> panel;
    std::vector<std::uint8_t> source32; // the 32-bit bytes memcpy copies
    Frame()
        : picture(static_cast<std::size_t>(kWidth) * kHeight)
        , panel(static_cast<std::size_t>(kWidth) * kHeight * 4)
        , source32(panel.size())
    {
        for (std::size_t i = 0; i < picture.size(); ++i)
            picture[i] = static_cast<std::uint16_t>(i * 40503u >> 3);
        std::memset(source32.data(), 0x5A, source32.size());
        std::memset(panel.data(), 0, panel.size());
    }
};

Frame& frame()
{
    static Frame f;
    return f;
}

void present(benchmark::State& state, PixelFormat const& format, std::int32_t turn)
{
    Frame& f = frame();
    bool const odd = turn & 1;
    std::int32_t const pw = odd ? kHeight : kWidth, ph = odd ? kWidth : kHeight;
    PanelBuffer const panel { f.panel.data(), pw, ph, pw * static_cast<std::int32_t>(format.bits_per_pixel / 8), format };
    Rgb565Image const image { f.picture.data(), kWidth, kHeight, kWidth * 2 };
    for (auto _ : state) {
        present_rgb565(image, { 0, 0, kWidth, kHeight }, panel, turn);
        benchmark::DoNotOptimize(f.panel.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

void BM_memcpy(benchmark::State& state)
{
    Frame& f = frame();
    for (auto _ : state) {
        std::memcpy(f.panel.data(), f.source32.data(), f.panel.size());
        benchmark::DoNotOptimize(f.panel.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}
BENCHMARK(BM_memcpy);

void BM_present_xrgb8888(benchmark::State& state) { present(state, kFormatXrgb8888, 0); }
BENCHMARK(BM_present_xrgb8888);

void BM_present_rgb565(benchmark::State& state) { present(state, kFormatRgb565, 0); }
BENCHMARK(BM_present_rgb565);

void BM_present_bgrx8888(benchmark::State& state)
{
    present(state, PixelFormat { 32, { 8, 8 }, { 16, 8 }, { 24, 8 }, { 0, 0 } }, 0);
}
BENCHMARK(BM_present_bgrx8888);

void BM_present_xrgb8888_turned(benchmark::State& state) { present(state, kFormatXrgb8888, 1); }
BENCHMARK(BM_present_xrgb8888_turned);

void BM_present_upside_down(benchmark::State& state) { present(state, kFormatXrgb8888, 2); }
BENCHMARK(BM_present_upside_down);

void BM_present_565_turned(benchmark::State& state) { present(state, kFormatRgb565, 3); }
BENCHMARK(BM_present_565_turned);

}

BENCHMARK_MAIN();
