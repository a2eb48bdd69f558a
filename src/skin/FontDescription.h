#pragma once

// A font as the skin describes it: size in points, the screen's scale over
// the 96-dpi design screen (a multiple of a quarter), style flags and a
// face name.

#include "core/WString.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace qv {

struct FontDescription {
    std::int32_t size { 12 };
    double scale { 1.0 };
    bool bold { false };
    bool italic { false };
    bool underline { false };
    WString face { u"Tahoma" };
};

// The character height to ask the font engine for: size x scale points at
// 96 dots per inch, negative (a character height, not a cell height), the
// division truncating toward zero: size 12 gives -16, size 10 gives -13.
// Kept within 32 bits for any description a skin file can hold.
// A fractional scale gives the same truncation: size 12 at 1.75 gives -28,
// size 10 at 1.25 gives -16.
constexpr std::int32_t font_request_height(std::int32_t size, double scale)
{
    using Limits = std::numeric_limits<std::int32_t>;
    // A scale that is not a number, or none at all, asks for the design size.
    if (!(scale > 0.0))
        scale = 1.0;
    double const bound = 0x1p40; // well inside the range of a 64-bit integer
    double const points = std::clamp(size * scale, -bound, bound);
    auto const height = static_cast<std::int64_t>(points * -96.0 / 72.0);
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(height, Limits::min(), Limits::max()));
}

static_assert(font_request_height(12, 1) == -16);
static_assert(font_request_height(10, 1) == -13);
static_assert(font_request_height(12, 1.75) == -28);
static_assert(font_request_height(10, 1.25) == -16);
static_assert(font_request_height(std::numeric_limits<std::int32_t>::max(), 2) < -(1 << 30));

}
