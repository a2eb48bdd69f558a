#pragma once

// Laying a glyph's anti-aliased coverage over RGB565 pixels in one colour.

#include <cstdint>

namespace qv {

// d moved toward colour by coverage / 255 in each channel; coverage 0
// leaves d exactly as it was, 255 gives exactly the colour.
// Rounds toward zero, so that faint coverage moves a channel neither way.
constexpr int scale_toward(int from, int to, int a)
{
    int const delta = (to - from) * a;
    return from + (delta >= 0 ? delta >> 8 : -((-delta) >> 8));
}

constexpr std::uint16_t blend_coverage(std::uint16_t d, std::uint16_t colour, std::uint8_t coverage)
{
    int const a = coverage + (coverage >> 7); // 0..256
    int const dr = d >> 11, dg = (d >> 5) & 0x3F, db = d & 0x1F;
    int const cr = colour >> 11, cg = (colour >> 5) & 0x3F, cb = colour & 0x1F;
    int const r = scale_toward(dr, cr, a);
    int const g = scale_toward(dg, cg, a);
    int const b = scale_toward(db, cb, a);
    return static_cast<std::uint16_t>(r << 11 | g << 5 | b);
}

}
