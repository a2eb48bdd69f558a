#pragma once

// The peer of the frame benchmarks: a memcpy of one RGB565 frame of the
// given size, counted in pixels as the frames are.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace qv::bench {

template<int Width, int Height>
void memcpy_frame(benchmark::State& state)
{
    constexpr std::int64_t pixels = std::int64_t { Width } * Height;
    std::vector<std::uint16_t> from(pixels, 0x1234), to(pixels);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), pixels * 2);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * pixels);
}

}
