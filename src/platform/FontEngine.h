#pragma once

// The font engine seam: faces resolved by name, their metrics, per-character
// advances and anti-aliased glyph coverage. Text layout and the blending of
// glyphs into RGB565 pixels belong to the caller; this layer only answers
// what a character looks like and how wide it is.

#include "core/WString.h"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace qv::platform {

struct FontRequest {
    WString face;
    // Negative: the character (em) height in pixels; positive: the cell
    // height (ascent + descent); 0: a default height.
    int height { 0 };
    bool bold { false };
    bool italic { false };
    bool underline { false };
};

struct FontMetrics {
    int height { 0 }; // ascent + descent: the distance from one line to the next
    int ascent { 0 };
    int descent { 0 };
    int underline_offset { 0 }; // rows below the baseline to the underline's top row
    int underline_thickness { 1 };
};

// A glyph's coverage, 0 (untouched) to 255 (full ink), one byte per pixel,
// placed relative to the pen: columns from pen x + left, rows from
// baseline - top.
struct GlyphImage {
    int left { 0 };
    int top { 0 };
    int width { 0 };
    int height { 0 };
    std::vector<std::uint8_t> coverage;
};

class EngineFont {
public:
    virtual ~EngineFont() = default;

    virtual FontMetrics const& metrics() const = 0;
    // The family the request resolved to ("DejaVu Sans" for a face that is
    // not installed).
    virtual WString const& family() const = 0;

    // Writes the running advance after each character of text into extents
    // (at least text.size() entries); one UTF-16 unit is one character.
    virtual void measure(WStringView text, std::span<int> extents) = 0;

    // The rendered glyph, made on first use and kept for the font's life;
    // null for characters without ink (space, control characters).
    virtual GlyphImage const* glyph(char16_t c) = 0;
};

class FontEngine {
public:
    virtual ~FontEngine() = default;

    // Never null for a sound request: a face that is not installed falls
    // back to the installed sans face. Null only when no face can be loaded.
    virtual std::unique_ptr<EngineFont> create_font(FontRequest const& request) = 0;

    // What text is set in when no font is selected: the sans face, 16
    // pixels high. Owned by the engine; null only when no face can be loaded.
    virtual EngineFont* default_font() = 0;

    // Vertical dots per inch of the screen the text is drawn for.
    virtual int screen_dpi_y() = 0;

    // FreeType with faces found through fontconfig.
    static FontEngine& system();
};

}
