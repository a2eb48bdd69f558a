#pragma once

// The copy-back of a text block: every pixel takes the text surface's
// value, and a pixel that the text changed gets the solid flag, so that
// the text stays opaque when the surface is later blended.

#include "imaging/PixelOp.h"
#include "imaging/PixelRules.h"

#include <cstdint>

namespace qv {

namespace rule {

struct TextMark {
    static constexpr std::uint16_t apply(std::uint16_t s, std::uint16_t d)
    {
        return s != d ? static_cast<std::uint16_t>(s | kSolidFlag) : s;
    }
};

}

using TextMarkOp = RuleOp<rule::TextMark>;

PixelOp const& text_mark_op();

}
