// Measuring text whose characters are all known must not touch the heap:
// list rows and labels measure on every layout pass. Every allocation of
// this test program goes through the counting operator new below.

#include "skin/FontRep.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

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

using namespace qv;

TEST(MeasureAllocation, measuring_a_known_text_of_100_characters_allocates_nothing)
{
    FontDescription d;
    d.size = 12;
    FontRep font(d);
    WString text;
    for (int i = 0; i < 100; ++i)
        text.push_back(char16_t(i % 2 ? u'a' + i % 26 : 0x0410 + i % 32)); // Latin and Cyrillic
    int fit = 0;
    int descent = 0;
    Size const first = font.measure(text, 200, &fit, &descent);
    ASSERT_GT(first.width, 0);

    long const before = g_allocations.load();
    Size again {};
    for (int i = 0; i < 10; ++i)
        again = font.measure(text, 200, &fit, &descent);
    auto widths = font.char_widths(text);
    long const after = g_allocations.load();

    EXPECT_EQ(after - before, 0);
    EXPECT_EQ(again, first);
    EXPECT_EQ(widths.size(), text.size());

    // The counter itself works: a new character does allocate (a cache
    // entry), so a zero above is not for want of counting.
    long const before_new = g_allocations.load();
    font.measure(u"\u263A");
    EXPECT_GT(g_allocations.load(), before_new);
}
