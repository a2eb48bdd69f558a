#pragma once

// How skin units (pixels of the 96-dpi design screen) become screen pixels,
// and which of a picture's stored densities a screen is drawn from. The
// scale is the screen's density over 96 in steps of a quarter, held as a
// whole number of quarters so that every length scales by exact integer
// arithmetic and the same length always gives the same pixels.

#include "core/WString.h"
#include "imaging/PixelBuffer.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace qv {

// 1.0: the design screen. A lower density would shrink the controls below
// what a pen or a finger can hit, so it draws at the design size.
inline constexpr std::int32_t kMinScaleQuarters = 4;
// 16.0 (1536 dpi): beyond any screen; bounds the pictures the loader makes.
inline constexpr std::int32_t kMaxScaleQuarters = 64;

// dpi / 96 to the nearest quarter, halves rounding up: 96 -> 1, 120 -> 1.25,
// 160 -> 1.75, 192 -> 2, 320 -> 3.25, 420 -> 4.5.
constexpr std::int32_t scale_quarters_for_dpi(std::int32_t dpi)
{
    // (dpi * 4 + 48) / 96 without overflow for any dpi.
    std::int64_t const quarters = (std::int64_t { dpi } + 12) / 24;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(quarters, kMinScaleQuarters, kMaxScaleQuarters));
}

// A length or position in skin units, in pixels: the nearest pixel, halves
// rounding toward +infinity for negative values too, so that a longer
// length is never shorter on the screen. It is a function of the value
// alone, so two elements that meet at a skin coordinate meet at one pixel
// when both ends are scaled as positions.
constexpr std::int32_t scale_length(std::int32_t units, std::int32_t quarters)
{
    std::int64_t const scaled = std::int64_t { units } * quarters + 2;
    std::int64_t const pixels = scaled >= 0 ? scaled / 4 : -((-scaled + 3) / 4);
    using Limits = std::numeric_limits<std::int32_t>;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(pixels, Limits::min(), Limits::max()));
}

// The densities, in quarters, that the skin compiler renders each vector
// picture at: 1, 1.5, 2, 3, 4 and 6, the last so that phones up to 576 dpi
// (420 dpi is 4.5) draw no picture magnified. A picture at density 1 is
// NAME.bmp, one at density d is NAME@dx.bmp ("@1.5x", "@2x").
inline constexpr std::array<std::int32_t, 6> kPictureDensities { 4, 6, 8, 12, 16, 24 };

// "" for density 1, else "@<density>x" with no trailing zeros.
std::string density_suffix(std::int32_t quarters);

// The order in which the stored densities are tried for a screen at
// `quarters`: those at or above it, nearest first (a picture is made smaller,
// never larger, while one exists), then those below it, nearest first.
std::vector<std::int32_t> density_preference(std::int32_t quarters);

// The size at density 1 of a picture `side` pixels long at `density`: the
// skin compiler makes density d from density 1 by scale_length, which this
// undoes exactly.
constexpr std::int32_t design_side(std::int32_t side, std::int32_t density)
{
    return static_cast<std::int32_t>((std::int64_t { side } * 4 + density / 2) / density);
}

struct ScaledPicture {
    std::unique_ptr<PixelBuffer> buffer; // null when no density could be read
    std::int32_t density { 0 };          // the density it was made from
};

// The 16-bit BMP picture NAME (without ".bmp") at the screen's scale: read
// from the first density of density_preference that reads, then resampled
// to scale_length of its design size (see Resample.h) unless it is already
// that size.
ScaledPicture load_bmp_for_scale(WStringView name, std::int32_t quarters);

static_assert(scale_quarters_for_dpi(96) == 4);
static_assert(scale_quarters_for_dpi(420) == 18);
static_assert(scale_length(-3, 8) == -6 && scale_length(7, 7) == 12);
static_assert(design_side(scale_length(45, 6), 6) == 45 && design_side(scale_length(7, 16), 16) == 7);

}
