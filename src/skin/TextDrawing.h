#pragma once

// Measuring and drawing text blocks with a FontRep into RGB565 targets.

#include "core/WString.h"
#include "imaging/DrawTarget.h"
#include "imaging/Rect.h"
#include "skin/FontRep.h"
#include "skin/TextLayout.h"

#include <cstdint>

namespace qv {

struct TextColour {
    std::uint8_t red { 0 };
    std::uint8_t green { 0 };
    std::uint8_t blue { 0 };
};

// The size of the text set on one line without a width limit (line feeds
// still end lines); (0, 0) for an empty text.
Size measure_block(FontRep& font, WStringView text);

inline constexpr Point kNoClipOrigin { -1, -1 };
inline constexpr Size kNoClipSize { -1, -1 };

// Draws the text into the box (position, size): the pixels under the box
// go through a scratch surface on which the glyphs are laid, and come back
// with the solid flag set wherever the text changed them. The result is
// limited to the target buffer, the target's clip and, when given, the clip
// rectangle (clip_origin, clip_size); an absent origin or size stands for
// the box's visible position or size. Nothing happens without a buffer.
void draw_text(FontRep& font, DrawTarget& target, TextColour colour, WStringView text, Point position,
    Size size, HAlign halign, VAlign valign, TextWrap wrap, Point clip_origin = kNoClipOrigin,
    Size clip_size = kNoClipSize);

}
