#include "skin/TextDrawing.h"

#include "imaging/PixelOp.h"
#include "imaging/PixelRules.h"
#include "imaging/RenderSurface.h"
#include "platform/FontEngine.h"
#include "skin/GlyphBlend.h"
#include "skin/TextMarkOp.h"

#include <algorithm>
#include <vector>

namespace qv {

PixelOp const& text_mark_op()
{
    static TextMarkOp const op;
    return op;
}

namespace {

// Shared by every text block and only ever grown: text is drawn on the
// user-interface thread alone.
RenderSurface& scratch_surface()
{
    static RenderSurface surface;
    return surface;
}

std::vector<TextLine>& scratch_lines()
{
    static std::vector<TextLine> lines;
    return lines;
}

void blend_glyph(PixelBuffer& surface, Rect const& visible, platform::GlyphImage const& glyph, int x, int y,
    std::uint16_t colour)
{
    Rect const area = intersect(visible, Rect { x, y, x + glyph.width, y + glyph.height });
    if (area.is_empty())
        return;
    for (int row = area.top; row < area.bottom; ++row) {
        std::uint8_t const* coverage = glyph.coverage.data() + std::size_t(row - y) * glyph.width - x;
        std::uint16_t* pixels = surface.row(row);
        for (int column = area.left; column < area.right; ++column) {
            std::uint8_t const a = coverage[column];
            if (a == 255)
                pixels[column] = colour;
            else if (a != 0)
                pixels[column] = blend_coverage(pixels[column], colour, a);
        }
    }
}

void fill_line(PixelBuffer& surface, Rect const& visible, Rect const& line, std::uint16_t colour)
{
    Rect const area = intersect(visible, line);
    if (area.is_empty())
        return;
    for (int row = area.top; row < area.bottom; ++row)
        std::fill(surface.row(row) + area.left, surface.row(row) + area.right, colour);
}

void lay_text(FontRep& font, PixelBuffer& surface, Rect const& visible, TextColour colour, WStringView text,
    Size size, HAlign halign, VAlign valign, TextWrap wrap)
{
    platform::EngineFont* engine_font = font.drawing_font();
    if (!engine_font || text.empty())
        return;
    std::int32_t const dot_width = font.measure(u".").width;
    std::span<std::int32_t const> const widths = font.char_widths(text);

    TextBox const box { size.width, size.height, font.line_height(), dot_width, halign, valign, wrap };
    auto& lines = scratch_lines();
    layout_text(text, widths, box, lines);

    std::uint16_t const pixel = pack_rgb565(colour.red, colour.green, colour.blue);
    auto const& metrics = engine_font->metrics();
    for (auto const& line : lines) {
        int const baseline = line.y + metrics.ascent;
        int pen = line.x;
        for (int i = line.start; i < line.end; ++i) {
            if (auto const* glyph = engine_font->glyph(text[std::size_t(i)]))
                blend_glyph(surface, visible, *glyph, pen + glyph->left, baseline - glyph->top, pixel);
            pen += widths[std::size_t(i)];
        }
        if (line.ellipsis) {
            auto const* dot = engine_font->glyph(u'.');
            for (int k = 0; k < kEllipsisDots; ++k, pen += dot_width) {
                if (dot)
                    blend_glyph(surface, visible, *dot, pen + dot->left, baseline - dot->top, pixel);
            }
        }
        if (font.description().underline && line.width > 0) {
            int const top = baseline + metrics.underline_offset;
            fill_line(surface, visible,
                Rect { line.x, top, line.x + line.width, top + metrics.underline_thickness }, pixel);
        }
    }
}

}

Size measure_block(FontRep& font, WStringView text)
{
    auto const extent = block_extent(text, font.char_widths(text), font.line_height());
    return { extent.width, extent.height };
}

void draw_text(FontRep& font, DrawTarget& target, TextColour colour, WStringView text, Point position,
    Size size, HAlign halign, VAlign valign, TextWrap wrap, Point clip_origin, Size clip_size)
{
    PixelBuffer* const buffer = target.buffer();
    if (!buffer || size.width <= 0 || size.height <= 0)
        return;

    // The block limited to the buffer; (offset_x, offset_y) is where the
    // visible part starts inside the block.
    int x = position.x;
    int y = position.y;
    int w = size.width;
    int h = size.height;
    int offset_x = 0;
    int offset_y = 0;
    if (x < 0) {
        offset_x = -x;
        w += x;
        x = 0;
    }
    if (y < 0) {
        offset_y = -y;
        h += y;
        y = 0;
    }
    w = std::min(w, buffer->width() - x);
    h = std::min(h, buffer->height() - y);
    if (w <= 0 || h <= 0)
        return;

    auto& scratch = scratch_surface();
    Size const have = scratch.size();
    if (!scratch.buffer() || have.width < size.width || have.height < size.height)
        scratch.recreate(size);
    PixelBuffer* const surface = scratch.buffer();
    if (!surface)
        return;

    Rect const visible { offset_x, offset_y, offset_x + w, offset_y + h };
    copy_rect(*surface, offset_x, offset_y, w, h, *buffer, x, y, visible, copy_op());
    lay_text(font, *surface, visible, colour, text, size, halign, valign, wrap);

    Point const origin = clip_origin == kNoClipOrigin ? Point { x, y } : clip_origin;
    Size const extent = clip_size == kNoClipSize ? Size { w, h } : clip_size;
    Rect const clip = intersect(target.clip(),
        Rect { origin.x, origin.y, origin.x + extent.width, origin.y + extent.height });
    if (clip.is_empty())
        return;
    copy_rect(*buffer, x, y, w, h, *surface, offset_x, offset_y, clip, text_mark_op());
}

}
