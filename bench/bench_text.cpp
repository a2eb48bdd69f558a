// Text drawing against its floor: draw_text of one 30-character line into a
// 480 x 640 target, in megapixels of the block per second, beside memcpy of
// the block's bytes in the same run; and measuring a 100-character text
// whose widths are all cached, with the allocations it makes (must be 0).

#include "imaging/DrawTarget.h"
#include "imaging/PixelBuffer.h"
#include "skin/FontRep.h"
#include "skin/TextDrawing.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace {

std::atomic<long> g_allocations { 0 };

}

// Every plain form is replaced, so that no allocation escapes the count and
// no block is freed by another family's delete (the sanitiser checks).
namespace {

[[gnu::noinline]] void* counted_allocation(std::size_t size) noexcept
{
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(size ? size : 1);
}

}

void* operator new(std::size_t size)
{
    if (void* p = counted_allocation(size))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, std::nothrow_t const&) noexcept { return counted_allocation(size); }
void* operator new[](std::size_t size, std::nothrow_t const&) noexcept { return counted_allocation(size); }
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { operator delete(p); }
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }
void operator delete[](void* p, std::size_t) noexcept { operator delete(p); }
void operator delete(void* p, std::nothrow_t const&) noexcept { operator delete(p); }
void operator delete[](void* p, std::nothrow_t const&) noexcept { operator delete(p); }

namespace {

using namespace qv;

constexpr int kTargetWidth = 480;
constexpr int kTargetHeight = 640;
constexpr int kBlockWidth = 460;
constexpr int kBlockHeight = 40;
constexpr char16_t const kLine[] = u"The quick brown fox jumps over"; // 30 characters
static_assert(sizeof(kLine) / sizeof(char16_t) - 1 == 30);

FontHandle bench_font()
{
    FontDescription d;
    d.size = 10;
    d.scale = 2;
    return make_font(d);
}

void set_block_rate(benchmark::State& state)
{
    state.counters["Mpix_per_s"] = benchmark::Counter(double(kBlockWidth) * kBlockHeight * 1e-6 * double(state.iterations()),
        benchmark::Counter::kIsRate);
}

void draw_text_line(benchmark::State& state)
{
    auto font = bench_font();
    auto buffer = PixelBuffer::create(kTargetWidth, kTargetHeight);
    std::memset(buffer->pixels(), 0x42, std::size_t(buffer->pitch()) * kTargetHeight);
    DrawTarget target(buffer.get());
    TextColour const white { 255, 255, 255 };
    for (auto _ : state) {
        draw_text(*font, target, white, kLine, { 10, 300 }, { kBlockWidth, kBlockHeight }, HAlign::Center,
            VAlign::VCenter, TextWrap::SingleLine);
        benchmark::ClobberMemory();
    }
    set_block_rate(state);
}
BENCHMARK(draw_text_line);

// The floor: the block's bytes copied once, row by row, as a plain copy
// of the block would.
void memcpy_block(benchmark::State& state)
{
    auto from = PixelBuffer::create(kTargetWidth, kTargetHeight);
    auto to = PixelBuffer::create(kTargetWidth, kTargetHeight);
    std::memset(from->pixels(), 0x42, std::size_t(from->pitch()) * kTargetHeight);
    for (auto _ : state) {
        for (int y = 0; y < kBlockHeight; ++y)
            std::memcpy(to->row(300 + y) + 10, from->row(300 + y) + 10, kBlockWidth * 2);
        benchmark::ClobberMemory();
    }
    set_block_rate(state);
}
BENCHMARK(memcpy_block);

void measure_cached_100(benchmark::State& state)
{
    auto font = bench_font();
    std::u16string text;
    for (int i = 0; i < 100; ++i)
        text.push_back(char16_t(i % 2 ? u'a' + i % 26 : 0x0410 + i % 32));
    int fit = 0;
    font->measure(text, 300, &fit);
    long const before = g_allocations.load();
    for (auto _ : state) {
        auto size = font->measure(text, 300, &fit);
        benchmark::DoNotOptimize(size);
    }
    state.counters["allocations"] = double(g_allocations.load() - before);
}
BENCHMARK(measure_cached_100);

// The floor of a cached measurement: the same 100 widths summed from a
// table indexed by character.
void table_sum_100(benchmark::State& state)
{
    std::vector<int> table(0x10000, 7);
    std::u16string text;
    for (int i = 0; i < 100; ++i)
        text.push_back(char16_t(i % 2 ? u'a' + i % 26 : 0x0410 + i % 32));
    for (auto _ : state) {
        benchmark::DoNotOptimize(text.data());
        int sum = 0;
        for (char16_t c : text)
            sum += table[c];
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(table_sum_100);

}

BENCHMARK_MAIN();
