#include "imaging/Rgb565Dither.h"

namespace qv {

namespace {

// Eight pixels at a time against the row's eight thresholds, which start at
// the first pixel's column: a fixed trip count over plain arrays, which the
// compiler turns into vector code.
template<int Bytes>
void dither_row(std::uint8_t const* __restrict pixels, std::size_t count, std::uint16_t* __restrict out, int x, int y)
{
    std::uint32_t t[8];
    for (int i = 0; i < 8; ++i)
        t[i] = dither_threshold(x + i, y);
    std::size_t i = 0;
    for (; i + 8 <= count; i += 8, pixels += 8 * Bytes) {
        for (int k = 0; k < 8; ++k) {
            std::uint32_t const r = pixels[Bytes * k], g = pixels[Bytes * k + 1], b = pixels[Bytes * k + 2];
            out[i + k] = static_cast<std::uint16_t>(dither_channel(r, 31, t[k]) << 11 | dither_channel(g, 63, t[k]) << 5
                | dither_channel(b, 31, t[k]));
        }
    }
    for (int k = 0; i < count; ++i, ++k, pixels += Bytes)
        out[i] = static_cast<std::uint16_t>(dither_channel(pixels[0], 31, t[k]) << 11
            | dither_channel(pixels[1], 63, t[k]) << 5 | dither_channel(pixels[2], 31, t[k]));
}

}

void dither_row_to_rgb565(std::uint8_t const* pixels, std::size_t count, int bytes_per_pixel, std::uint16_t* out,
    int x, int y)
{
    if (bytes_per_pixel == 4)
        dither_row<4>(pixels, count, out, x, y);
    else
        dither_row<3>(pixels, count, out, x, y);
}

}
