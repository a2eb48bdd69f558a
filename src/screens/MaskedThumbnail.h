#pragma once

// The small pictures of the browsing screens: a cached thumbnail at the
// cell's size, cut to shape by a mask picture. Cells of up to 64 pixels
// stretch the stored 64 x 64 thumbnail; larger ones are cut from a stored
// level of the picture when its path is known (ThumbnailReader.h).
//
// Threads: the user-interface thread. Failures: a thumbnail that cannot be
// read or drawn makes its picture Bad; nothing is thrown.

#include "catalog/PictureStatus.h"
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

// The thumbnail of a picture the catalog reported as `status`. Ready: `out`
// holds it stretched to `size` with `mask` drawn over it. Bad: the picture
// cannot be shown (it is Bad or Missing, or its thumbnail cannot be read).
// Loading: its cache file is not built yet.
ThumbnailState load_masked_thumbnail(PictureStatus const& status, Size size, PictureRef const& mask, PictureRef& out);
// The same for `picture`: a cell larger than 64 pixels a side is drawn from
// the picture's levels, or when they cannot be read from the stretched
// 64 x 64 thumbnail.
ThumbnailState load_masked_thumbnail(WStringView picture, PictureStatus const& status, Size size,
    PictureRef const& mask, PictureRef& out);

}
