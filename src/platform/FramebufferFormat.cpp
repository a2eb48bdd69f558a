#include "platform/FramebufferFormat.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace qv::platform {

namespace {

std::uint32_t field_mask(PixelField field)
{
    return field.length == 0 ? 0 : ((std::uint32_t { 1 } << field.length) - 1) << field.offset;
}

// An 8-bit channel value cut to the field's length and put in place.
std::uint32_t place(std::uint32_t value8, PixelField field)
{
    return field.length == 0 ? 0 : (value8 >> (8 - field.length)) << field.offset;
}

std::uint32_t expand5(std::uint32_t c) { return (c << 3) | (c >> 2); }
std::uint32_t expand6(std::uint32_t c) { return (c << 2) | (c >> 4); }

// A pixel as the OR of its two bytes' parts: every channel's widening and
// narrowing only moves bits, so each source bit lands on fixed target bits
// and the two halves never interfere.
struct ByteTables {
    std::array<std::uint32_t, 256> low;
    std::array<std::uint32_t, 256> high;
};

ByteTables make_tables(PixelFormat const& format)
{
    ByteTables tables {};
    std::uint32_t const opaque = field_mask(format.transparent);
    for (std::uint32_t b = 0; b < 256; ++b) {
        tables.low[b] = convert_pixel(static_cast<std::uint16_t>(b), format) & ~opaque;
        tables.high[b] = convert_pixel(static_cast<std::uint16_t>(b << 8), format) | opaque;
    }
    return tables;
}

bool is_plain_8888(PixelFormat const& f)
{
    return f.bits_per_pixel == 32 && f.red.length == 8 && f.green.length == 8 && f.blue.length == 8;
}

// The hot loop of the common 32-bit panel: shifts only, which the compiler
// turns into vector code for the upright case.
struct Shift8888 {
    std::uint32_t red, green, blue, opaque;
    std::uint32_t operator()(std::uint32_t p) const
    {
        std::uint32_t const r = ((p >> 8) & 0xF8) | ((p >> 13) & 0x07);
        std::uint32_t const g = ((p >> 3) & 0xFC) | ((p >> 9) & 0x03);
        std::uint32_t const b = ((p << 3) & 0xF8) | ((p >> 2) & 0x07);
        return (r << red) | (g << green) | (b << blue) | opaque;
    }
};

struct Table {
    ByteTables const* tables;
    std::uint32_t operator()(std::uint32_t p) const { return tables->low[p & 0xFF] | tables->high[p >> 8]; }
};

// The frame's one pass over every pixel: worth vector code at any build
// level (the common -O2 leaves it scalar, five times a memcpy).
#pragma GCC optimize("O3")

// One program row of `count` pixels to the panel, starting at `to` and
// moving `step` bytes per pixel.
template<typename Pixel, typename Convert>
void convert_row(std::uint16_t const* from, std::uint8_t* to, std::ptrdiff_t step, std::int32_t count,
    Convert const& convert)
{
    if (step == static_cast<std::ptrdiff_t>(sizeof(Pixel))) {
        // The panel never overlaps the picture; saying so lets the
        // compiler convert many pixels per instruction.
        Pixel* __restrict out = reinterpret_cast<Pixel*>(to);
        std::uint16_t const* __restrict in = from;
#pragma GCC ivdep
        for (std::int32_t i = 0; i < count; ++i)
            out[i] = static_cast<Pixel>(convert(in[i]));
        return;
    }
    for (std::int32_t i = 0; i < count; ++i, to += step) {
        Pixel const value = static_cast<Pixel>(convert(from[i]));
        std::memcpy(to, &value, sizeof(Pixel));
    }
}

template<typename Pixel, typename Convert>
void convert_area(Rgb565Image const& image, PixelRect const& a, PanelBuffer const& panel, std::int32_t turn,
    Convert const& convert)
{
    std::ptrdiff_t const size = sizeof(Pixel), stride = panel.stride;
    // The panel step for one pixel to the right in the program, and the
    // panel address of the area's first pixel in each program row.
    std::ptrdiff_t const step = turn == 0 ? size : turn == 1 ? -stride : turn == 2 ? -size : stride;
    for (std::int32_t y = a.y; y < a.y + a.height; ++y) {
        PanelPoint const start = program_to_panel({ a.x, y }, turn, image.width, image.height);
        auto const* from = reinterpret_cast<std::uint16_t const*>(
                               reinterpret_cast<std::uint8_t const*>(image.pixels) + static_cast<std::ptrdiff_t>(y) * image.pitch)
            + a.x;
        std::uint8_t* to = panel.bytes + start.y * stride + start.x * size;
        convert_row<Pixel>(from, to, step, a.width, convert);
    }
}

}

bool is_supported(PixelFormat const& format)
{
    if (format.bits_per_pixel != 16 && format.bits_per_pixel != 32)
        return false;
    std::uint32_t used = 0;
    for (PixelField const field : { format.red, format.green, format.blue, format.transparent }) {
        if (field.length > 8 || field.offset + field.length > format.bits_per_pixel)
            return false;
        std::uint32_t const mask = field_mask(field);
        if (used & mask)
            return false;
        used |= mask;
    }
    return format.red.length > 0 && format.green.length > 0 && format.blue.length > 0;
}

std::uint32_t convert_pixel(std::uint16_t p, PixelFormat const& format)
{
    std::uint32_t const r = expand5(p >> 11), g = expand6((p >> 5) & 0x3F), b = expand5(p & 0x1F);
    return place(r, format.red) | place(g, format.green) | place(b, format.blue) | field_mask(format.transparent);
}

std::uint16_t panel_pixel_to_rgb565(std::uint32_t pixel, PixelFormat const& format)
{
    auto const channel8 = [pixel](PixelField field) {
        if (field.length == 0)
            return std::uint32_t { 0 };
        std::uint32_t const value = (pixel >> field.offset) & ((std::uint32_t { 1 } << field.length) - 1);
        // Widened back to 8 bits by repeating, as convert_pixel does.
        std::uint32_t wide = value << (8 - field.length);
        for (std::uint32_t filled = field.length; filled < 8; filled += field.length)
            wide |= (value << (8 - field.length)) >> filled;
        return wide & 0xFF;
    };
    return static_cast<std::uint16_t>(((channel8(format.red) >> 3) << 11) | ((channel8(format.green) >> 2) << 5)
        | (channel8(format.blue) >> 3));
}

PanelPoint program_to_panel(PanelPoint p, std::int32_t turn, std::int32_t w, std::int32_t h)
{
    switch (turn & 3) {
    case 1: return { p.y, w - 1 - p.x };
    case 2: return { w - 1 - p.x, h - 1 - p.y };
    case 3: return { h - 1 - p.y, p.x };
    default: return p;
    }
}

PanelPoint panel_to_program(PanelPoint p, std::int32_t turn, std::int32_t w, std::int32_t h)
{
    switch (turn & 3) {
    case 1: return { w - 1 - p.y, p.x };
    case 2: return { w - 1 - p.x, h - 1 - p.y };
    case 3: return { p.y, h - 1 - p.x };
    default: return p;
    }
}

PixelRect panel_area(PixelRect area, std::int32_t turn, std::int32_t w, std::int32_t h)
{
    std::int32_t const left = std::max(0, area.x), top = std::max(0, area.y);
    std::int32_t const right = std::min(w, area.x + area.width), bottom = std::min(h, area.y + area.height);
    if (right <= left || bottom <= top)
        return {};
    PanelPoint const a = program_to_panel({ left, top }, turn, w, h);
    PanelPoint const b = program_to_panel({ right - 1, bottom - 1 }, turn, w, h);
    std::int32_t const x0 = std::min(a.x, b.x), y0 = std::min(a.y, b.y);
    return { x0, y0, std::max(a.x, b.x) - x0 + 1, std::max(a.y, b.y) - y0 + 1 };
}

bool present_rgb565(Rgb565Image const& image, PixelRect area, PanelBuffer const& panel, std::int32_t turn)
{
    turn &= 3;
    bool const odd = (turn & 1) != 0;
    if (!is_supported(panel.format) || !image.pixels || !panel.bytes
        || (odd ? panel.width != image.height || panel.height != image.width
                : panel.width != image.width || panel.height != image.height))
        return false;
    std::int32_t const left = std::max(0, area.x), top = std::max(0, area.y);
    std::int32_t const right = std::min(image.width, area.x + area.width);
    std::int32_t const bottom = std::min(image.height, area.y + area.height);
    if (right <= left || bottom <= top)
        return true;
    PixelRect const a { left, top, right - left, bottom - top };
    PixelFormat const& f = panel.format;
    if (f.bits_per_pixel == 16) {
        if (f == kFormatRgb565 || (f.red == kFormatRgb565.red && f.green == kFormatRgb565.green
                                      && f.blue == kFormatRgb565.blue && f.transparent.length == 0)) {
            convert_area<std::uint16_t>(image, a, panel, turn, [](std::uint32_t p) { return p; });
            return true;
        }
        ByteTables const tables = make_tables(f);
        convert_area<std::uint16_t>(image, a, panel, turn, Table { &tables });
        return true;
    }
    if (is_plain_8888(f)) {
        Shift8888 const shift { f.red.offset, f.green.offset, f.blue.offset, field_mask(f.transparent) };
        convert_area<std::uint32_t>(image, a, panel, turn, shift);
        return true;
    }
    ByteTables const tables = make_tables(f);
    convert_area<std::uint32_t>(image, a, panel, turn, Table { &tables });
    return true;
}

}
