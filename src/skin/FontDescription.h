#pragma once

// A font as the skin describes it: size in points, a scale factor for
// high-density screens, style flags and a face name.

#include "core/WString.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace qv {

struct FontDescription {
    std::int32_t size { 12 };
    std::int32_t scale { 1 };
    bool bold { false };
    bool italic { false };
    bool underline { false };
    WString face { u"Tahoma" };
};

// The character height to ask the font engine for: size x scale points at
// 96 dots per inch, negative (a character height, not a cell height), the
// division truncating toward zero: size 12 gives -16, size 10 gives -13.
// Kept within 32 bits for any description a skin file can hold.
constexpr std::int32_t font_request_height(std::int32_t size, std::int32_t scale)
{
    using Limits = std::numeric_limits<std::int32_t>;
    std::int64_t const bound = std::int64_t { 1 } << 40; // keeps the product below in 64 bits
    std::int64_t const points = std::clamp<std::int64_t>(std::int64_t { size } * scale, -bound, bound);
    std::int64_t const height = points * -96 / 72;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(height, Limits::min(), Limits::max()));
}

static_assert(font_request_height(12, 1) == -16);
static_assert(font_request_height(10, 1) == -13);
static_assert(font_request_height(std::numeric_limits<std::int32_t>::max(), 2) < -(1 << 30));

}
