#pragma once

// A font as the skin describes it: size in points, a scale factor for
// high-density screens, style flags and a face name.

#include "app/WString.h"

#include <algorithm>
#include <cstdint>

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
    std::int64_t height = std::int64_t { size } * scale * -96 / 72;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(height, INT32_MIN, INT32_MAX));
}

static_assert(font_request_height(12, 1) == -16);
static_assert(font_request_height(10, 1) == -13);

}
