#pragma once

// Plain geometry records shared by all drawing code. Rectangles keep their
// right and bottom edges exclusive, so width = right - left.

#include <algorithm>
#include <cstdint>

namespace qv {

struct Point {
    std::int32_t x { 0 };
    std::int32_t y { 0 };
    friend bool operator==(Point, Point) = default;
};

struct Size {
    std::int32_t width { 0 };
    std::int32_t height { 0 };
    friend bool operator==(Size, Size) = default;
};

struct Rect {
    std::int32_t left { 0 };
    std::int32_t top { 0 };
    std::int32_t right { 0 };
    std::int32_t bottom { 0 };

    constexpr std::int32_t width() const { return right - left; }
    constexpr std::int32_t height() const { return bottom - top; }
    constexpr bool is_empty() const { return right <= left || bottom <= top; }
    friend bool operator==(Rect const&, Rect const&) = default;
};

// The overlap of two rectangles; empty rectangles may come out inverted,
// test with is_empty().
constexpr Rect intersect(Rect const& a, Rect const& b)
{
    return { std::max(a.left, b.left), std::max(a.top, b.top),
        std::min(a.right, b.right), std::min(a.bottom, b.bottom) };
}

}
