#pragma once

// Laying a glyph's anti-aliased coverage over RGB565 pixels in one colour.

#include <cstdint>

namespace qv {

// The three channels spread apart with guard bits between them
// (green in the top half), so one multiply blends all three.
constexpr std::uint32_t spread_565(std::uint16_t p)
{
    return (p | (std::uint32_t { p } << 16)) & 0x07E0F81Fu;
}

constexpr std::uint16_t join_565(std::uint32_t x)
{
    return static_cast<std::uint16_t>((x & 0xF81Fu) | ((x >> 16) & 0x07E0u));
}

// d moved toward the colour by coverage / 255, in 32 steps: coverage below
// 4 leaves d exactly as it was, 252 and above give exactly the colour, and
// a colour equal to d changes nothing.
constexpr std::uint16_t blend_spread(std::uint16_t d, std::uint32_t colour_spread, std::uint8_t coverage)
{
    std::uint32_t const a = (coverage + 4u) >> 3; // 0..32
    std::uint32_t const back = spread_565(d);
    return join_565((((colour_spread - back) * a) >> 5) + back);
}

constexpr std::uint16_t blend_coverage(std::uint16_t d, std::uint16_t colour, std::uint8_t coverage)
{
    return blend_spread(d, spread_565(colour), coverage);
}

}
