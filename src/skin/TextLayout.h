#pragma once

// Placing a text block in a box from the characters' advance widths: line
// breaking, the "..." ellipsis and alignment. Pure functions: no font and no
// pixels, so every rule can be checked with made-up widths.

#include "core/WString.h"

#include <span>
#include <vector>

namespace qv {

// Codes as the skin names them; JUSTIFY is drawn as LEFT by a text block
// (only the word-flow layout of text elements spreads lines).
enum class HAlign { Left = 0, Center = 1, Right = 2, Justify = 3 };
enum class VAlign { Top = 0, VCenter = 1, Bottom = 2 };

// "LEFT", "CENTER", "RIGHT", "JUSTIFY" / "TOP", "VCENTER", "BOTTOM", exact
// and case-sensitive; any other name gives the default (CENTER, VCENTER).
HAlign halign_from_name(WStringView name);
VAlign valign_from_name(WStringView name);

enum class TextWrap { SingleLine, WordBreak };

struct TextBox {
    int width { 0 };
    int height { 0 };
    int line_height { 0 };
    int dot_width { 0 }; // one '.' of the ellipsis
    HAlign halign { HAlign::Center };
    VAlign valign { VAlign::VCenter };
    TextWrap wrap { TextWrap::SingleLine };
};

// One line of the block: the characters [start, end) of the text, then
// "..." when ellipsis is set; (x, y) is its top-left in the box and width
// its drawn width with the ellipsis.
struct TextLine {
    int start { 0 };
    int end { 0 };
    bool ellipsis { false };
    int width { 0 };
    int x { 0 };
    int y { 0 };
};

inline constexpr int kEllipsisDots = 3;

// Lays the text out into lines (the vector is reused: cleared, not freed).
// advances holds one width per character of text. A single line that is
// wider than the box ends in "..."; with word break lines are broken at
// spaces and line feeds, and a word wider than the box is cut and ends in
// "...". Lines are not dropped at the bottom: the box clips them.
void layout_text(WStringView text, std::span<int const> advances, TextBox const& box,
    std::vector<TextLine>& lines);

struct BlockExtent {
    int width { 0 };
    int height { 0 };
};

// The size of the text set without a width limit: line feeds end lines,
// the width is the widest line; (0, 0) for an empty text.
BlockExtent block_extent(WStringView text, std::span<int const> advances, int line_height);

}
