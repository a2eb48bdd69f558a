#include "display/DisplayGeometry.h"

#include <algorithm>
#include <cstring>

namespace qv {

Rect normalize_update_area(Rect area, std::int32_t width, std::int32_t height)
{
    Rect clipped = intersect(area, Rect { 0, 0, width, height });
    if (clipped.is_empty())
        return Rect { 0, 0, width, height };
    clipped.left &= ~1;
    clipped.right = std::min(width, (clipped.right + 1) & ~1);
    return clipped;
}

Point rotate_pen_point(Point p, std::int32_t turn, std::int32_t width, std::int32_t height)
{
    switch (turn & 3) {
    case 1: return { width - 1 - p.y, p.x };
    case 2: return { width - 1 - p.x, height - 1 - p.y };
    case 3: return { p.y, height - 1 - p.x };
    default: return p;
    }
}

std::int32_t rotate_arrow_key(std::int32_t key, std::int32_t turn)
{
    static constexpr std::int32_t sequence[] = { 37, 38, 39, 40, 37, 38, 39 };
    if (key < 37 || key > 40)
        return key;
    return sequence[key - 37 + (turn & 3)];
}

namespace {

std::uint16_t* pixel(DisplaySurface const& s, std::int32_t x, std::int32_t y)
{
    return reinterpret_cast<std::uint16_t*>(reinterpret_cast<std::uint8_t*>(s.pixels)
               + static_cast<std::ptrdiff_t>(y) * s.pitch)
        + x;
}

}

void copy_area(DisplaySurface const& from, DisplaySurface const& to, Rect const& area)
{
    Rect const a = intersect(area, intersect(Rect { 0, 0, from.width, from.height }, Rect { 0, 0, to.width, to.height }));
    if (a.is_empty())
        return;
    std::size_t const row_bytes = static_cast<std::size_t>(a.width()) * 2;
    if (from.pitch == to.pitch && row_bytes == static_cast<std::size_t>(from.pitch)) {
        std::memcpy(pixel(to, 0, a.top), pixel(from, 0, a.top), row_bytes * static_cast<std::size_t>(a.height()));
        return;
    }
    for (std::int32_t y = a.top; y < a.bottom; ++y)
        std::memcpy(pixel(to, a.left, y), pixel(from, a.left, y), row_bytes);
}

void copy_turned(DisplaySurface const& program, DisplaySurface const& panel, std::int32_t turn, Rect const& area)
{
    turn &= 3;
    if (turn == 0) {
        copy_area(program, panel, area);
        return;
    }
    Rect const a = intersect(area, Rect { 0, 0, program.width, program.height });
    std::int32_t const w = program.width, h = program.height;
    for (std::int32_t y = a.top; y < a.bottom; ++y) {
        std::uint16_t const* src = pixel(program, 0, y);
        for (std::int32_t x = a.left; x < a.right; ++x) {
            // The panel point that rotate_pen_point maps onto (x, y).
            std::int32_t px, py;
            switch (turn) {
            case 1: px = y; py = w - 1 - x; break;
            case 2: px = w - 1 - x; py = h - 1 - y; break;
            default: px = h - 1 - y; py = x; break;
            }
            if (px >= 0 && py >= 0 && px < panel.width && py < panel.height)
                *pixel(panel, px, py) = src[x];
        }
    }
}

}
