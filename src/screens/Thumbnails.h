#pragma once

// The small pictures of the browsing screens: a cached 64 x 64 thumbnail
// stretched to a cell and cut to shape by a mask picture.

#include "core/WString.h"
#include "imaging/Picture.h"
#include "imaging/PixelOp.h"
#include "imaging/Rect.h"

#include <cstdint>
#include <memory>

namespace qv {

namespace rule {

// Mask pixel s over thumbnail pixel d. The key colour cuts the thumbnail
// away, solid pixels let it through, and any other pixel is the mask's own
// frame colour, to which the flags add the thumbnail whole (0x100), at half
// (0x80) or at a quarter (0x40) brightness.
struct ThumbnailMask {
    std::uint16_t flags { 0 };
    constexpr std::uint16_t apply(std::uint16_t s, std::uint16_t d) const
    {
        if (s == kKeyColour)
            return kKeyColour;
        if (s & kSolidFlag)
            return static_cast<std::uint16_t>(d | kSolidFlag);
        std::uint32_t result = s;
        if (flags & 0x100)
            result += d;
        if (flags & 0x80)
            result += (d >> 1) & 0x7BEF;
        if (flags & 0x40)
            result += (d >> 2) & 0x39E7;
        return static_cast<std::uint16_t>(result);
    }
};

}

using ThumbnailMaskOp = RuleOp<rule::ThumbnailMask>;

enum class ThumbnailState { Loading, Ready, Bad };

// Looks up the cache file of `picture` under `search_root`. Ready: `out`
// holds the thumbnail stretched to `size` with `mask` drawn over it. Bad:
// the picture cannot be shown. Loading: its cache file is not built yet.
ThumbnailState load_masked_thumbnail(WStringView picture, WStringView search_root, Size size,
    PictureRef const& mask, PictureRef& out);

}
