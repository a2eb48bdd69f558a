#pragma once

// R, G, B bytes to RGB565 with an 8 × 8 ordered (Bayer) dither, for decoded
// photographs: dropping the low bits alone turns a smooth sky into bands
// 8 levels apart. The threshold of a pixel depends on its place in the
// picture (x, y of the level being decoded) and on nothing else, so a tile
// decoded on its own, a band of rows, or a whole decode give the very same
// pixels wherever they overlap, and neighbouring tiles meet without seams.
//
// Each channel is rounded to the nearest of its 32 or 64 steps across the
// whole range (0 and 255 stay exact), up or down by the threshold, so that
// the mean over a neighbourhood is the exact colour.
//
// Pure functions, any thread. The user interface's own colours and the
// 64 × 64 thumbnails are packed without dither (pack_rgb565).

#include <cstddef>
#include <cstdint>

namespace qv {

// The 8 × 8 Bayer index of a picture position, 0 to 63.
constexpr int bayer8(int x, int y)
{
    int const a = x ^ y;
    // Bit-interleaving of (x ^ y) and y, most significant from the lowest bits.
    return ((a & 1) << 5) | ((y & 1) << 4) | ((a & 2) << 2) | ((y & 2) << 1) | ((a & 4) >> 1) | ((y & 4) >> 2);
}

// The threshold added to a channel value scaled by 65536 / 255 steps:
// the middle of the index's 1/64 slot.
constexpr std::uint32_t dither_threshold(int x, int y) { return (2u * static_cast<std::uint32_t>(bayer8(x & 7, y & 7)) + 1) * 512u; }

// One channel value, 0 to 255, to `steps - 1` + 1 levels (31 or 63).
constexpr std::uint32_t dither_channel(std::uint32_t value, std::uint32_t steps, std::uint32_t threshold)
{
    return (value * steps * 257u + threshold) >> 16;
}

constexpr std::uint16_t pack_rgb565_dithered(std::uint8_t r, std::uint8_t g, std::uint8_t b, int x, int y)
{
    std::uint32_t const t = dither_threshold(x, y);
    return static_cast<std::uint16_t>(dither_channel(r, 31, t) << 11 | dither_channel(g, 63, t) << 5 | dither_channel(b, 31, t));
}

static_assert(pack_rgb565_dithered(255, 255, 255, 7, 7) == 0xFFFF);
static_assert(pack_rgb565_dithered(0, 0, 0, 3, 5) == 0);

// `count` pixels of R, G, B bytes (or R, G, B and an unused byte for
// `bytes_per_pixel` 4) to `out`; the first one lies at (x, y).
void dither_row_to_rgb565(std::uint8_t const* pixels, std::size_t count, int bytes_per_pixel, std::uint16_t* out,
    int x, int y);

}
