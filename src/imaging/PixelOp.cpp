#include "imaging/PixelOp.h"

#include <algorithm>
#include <cstring>

namespace qv {

namespace {

// Copy needs no rule: rows are moved whole.
class CopyOp final : public RuleOp<rule::Copy> {
public:
    void span(std::uint16_t* first, std::uint16_t* last, std::uint16_t const* source, std::int32_t) const override
    {
        if (last > first)
            std::memmove(first, source, static_cast<std::size_t>(last - first) * 2);
    }
    std::unique_ptr<PixelOp> clone() const override { return std::make_unique<CopyOp>(); }
};

CopyOp const g_copy;
RuleOp<rule::KeyCopy> const g_key_copy;
RuleOp<rule::KeyBlendQuarter> const g_key_blend_quarter;
RuleOp<rule::KeyBlendHalf> const g_key_blend_half;
RuleOp<rule::KeyBlendThreeQuarters> const g_key_blend_three_quarters;
RuleOp<rule::SolidMask> const g_solid_mask;

PixelOp const* const g_alpha_levels[5] = {
    &g_key_copy, &g_key_blend_quarter, &g_key_blend_half, &g_key_blend_three_quarters, &g_solid_mask
};

// The small per-use object of make_alpha_op: forwards to a shared level.
class AlphaOp final : public PixelOp {
public:
    explicit AlphaOp(PixelOp const* level)
        : m_level(level)
    {
    }
    void span(std::uint16_t* first, std::uint16_t* last, std::uint16_t const* source, std::int32_t row) const override
    {
        m_level->span(first, last, source, row);
    }
    void scaled_span(std::uint16_t* first, std::uint16_t* last, std::uint16_t const* source_row,
        std::int32_t start, std::int32_t step, std::int32_t source_row_index) const override
    {
        m_level->scaled_span(first, last, source_row, start, step, source_row_index);
    }
    void shifted_span(std::uint16_t* destination, std::uint16_t const* source, std::int32_t start,
        std::int32_t count, std::int32_t shift) const override
    {
        m_level->shifted_span(destination, source, start, count, shift);
    }
    void wrapped_span(std::uint16_t* destination, std::uint16_t const* source, std::int32_t index,
        std::int32_t count, std::int32_t shift, std::int32_t wrap_to, std::int32_t wrap_at) const override
    {
        m_level->wrapped_span(destination, source, index, count, shift, wrap_to, wrap_at);
    }
    std::unique_ptr<PixelOp> clone() const override { return std::make_unique<AlphaOp>(m_level); }

private:
    PixelOp const* m_level;
};

// Two pixels per 32-bit word; an odd first or last pixel goes alone so the
// words in between are aligned. Words are moved with memcpy so the pixel
// memory is only ever accessed as bytes or its own 16-bit type.
template<int Level>
void fade_span(std::uint16_t* first, std::uint16_t* last)
{
    if (first >= last)
        return;
    if (reinterpret_cast<std::uintptr_t>(first) & 2) {
        *first = fade_pixel(*first, Level);
        ++first;
    }
    if (first < last && (reinterpret_cast<std::uintptr_t>(last) & 2)) {
        --last;
        *last = fade_pixel(*last, Level);
    }
    auto* bytes = reinterpret_cast<unsigned char*>(first);
    std::size_t words = static_cast<std::size_t>(last - first) / 2;
    auto fade = [](unsigned char* at) {
        std::uint32_t x;
        std::memcpy(&x, at, 4);
        x = fade_word(x, Level, 0x7BEF7BEFu, 0x39E739E7u, 0x18E318E3u, 0x08610861u);
        std::memcpy(at, &x, 4);
    };
    constexpr std::size_t block = 8;
    std::size_t i = 0;
    for (; i + block <= words; i += block) {
        for (std::size_t k = 0; k < block; ++k)
            fade(bytes + 4 * (i + k));
    }
    for (; i < words; ++i)
        fade(bytes + 4 * i);
}

template<int... Levels>
constexpr FadeOp::LevelRoutine level_routine(int level, std::integer_sequence<int, Levels...>)
{
    constexpr FadeOp::LevelRoutine routines[] = { &fade_span<Levels>... };
    return routines[level];
}

struct Clipped {
    std::int64_t column;
    std::int64_t row;
    std::int64_t width;
    std::int64_t height;
    std::int64_t skipped_columns; // cut off on the left
    std::int64_t skipped_rows;    // cut off at the top
};

Rect limit_to(Rect const& clip, PixelBuffer const& buffer)
{
    return { std::max(clip.left, 0), std::max(clip.top, 0), std::min(clip.right, buffer.width()),
        std::min(clip.bottom, buffer.height()) };
}

// Steps 2 and 3 of the drivers: the visible part of (x, y, w, h).
Clipped clip_rect(Rect const& clip, std::int64_t x, std::int64_t y, std::int64_t w, std::int64_t h)
{
    Clipped c { x, y, w, h, 0, 0 };
    if (x < clip.left) {
        c.skipped_columns = clip.left - x;
        c.width -= c.skipped_columns;
        c.column = clip.left;
    }
    c.width = std::min<std::int64_t>(c.width, clip.right - c.column);
    if (y < clip.top) {
        c.skipped_rows = clip.top - y;
        c.height -= c.skipped_rows;
        c.row = clip.top;
    }
    c.height = std::min<std::int64_t>(c.height, clip.bottom - c.row);
    return c;
}

// Fixed-point positions (10 fraction bits) must fit 32 bits.
constexpr std::int64_t kMaxStretchSource = INT32_MAX / 1024;

}

PixelOp const& copy_op() { return g_copy; }
PixelOp const& key_copy_op() { return g_key_copy; }
PixelOp const& key_blend_quarter_op() { return g_key_blend_quarter; }
PixelOp const& key_blend_half_op() { return g_key_blend_half; }
PixelOp const& key_blend_three_quarters_op() { return g_key_blend_three_quarters; }
PixelOp const& solid_mask_op() { return g_solid_mask; }

namespace {

std::uint16_t tint_factor(std::uint32_t f) { return static_cast<std::uint16_t>(std::min<std::uint32_t>(f, kMaxTintFactor)); }

}

std::unique_ptr<PixelOp> make_tint_op(std::uint32_t r, std::uint32_t g, std::uint32_t b)
{
    return std::make_unique<TintOp>(rule::Tint { tint_factor(r), tint_factor(g), tint_factor(b) });
}

std::unique_ptr<PixelOp> make_tint_over_op(std::uint32_t r, std::uint32_t g, std::uint32_t b)
{
    return std::make_unique<TintOverOp>(rule::TintOver { tint_factor(r), tint_factor(g), tint_factor(b) });
}

std::unique_ptr<PixelOp> make_alpha_op(std::int32_t transparency)
{
    return std::make_unique<AlphaOp>(g_alpha_levels[alpha_index(transparency)]);
}

FadeOp::FadeOp(std::int32_t level)
    : m_level(std::clamp(level, 0, 16))
    , m_routine(level_routine(m_level, std::make_integer_sequence<int, 17> {}))
{
}

FadeOp make_fade_op(std::int32_t brightness)
{
    return FadeOp(fade_level(std::clamp(brightness, -1024, 1024)));
}

void ColourFillOp::span(std::uint16_t* first, std::uint16_t* last) const
{
    for (std::uint16_t* d = first; d < last; ++d)
        *d = m_colour;
}

void fill_rect(PixelBuffer& destination, std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
    Rect const& clip, DestinationOp const& op)
{
    if (w <= 0 || h <= 0)
        return;
    Clipped c = clip_rect(limit_to(clip, destination), x, y, w, h);
    if (c.width <= 0 || c.height <= 0)
        return;
    for (std::int64_t r = 0; r < c.height; ++r) {
        std::uint16_t* first = destination.row(static_cast<std::int32_t>(c.row + r)) + c.column;
        op.span(first, first + c.width);
    }
}

void copy_rect(PixelBuffer& destination, std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
    PixelBuffer const& source, std::int32_t sx, std::int32_t sy, Rect const& clip, PixelOp const& op)
{
    if (w < 1 || h < 1 || sx < 0 || sy < 0 || std::int64_t { sx } + w > source.width()
        || std::int64_t { sy } + h > source.height())
        return;
    Clipped c = clip_rect(limit_to(clip, destination), x, y, w, h);
    if (c.width <= 0 || c.height <= 0)
        return;
    std::int64_t source_column = sx + c.skipped_columns;
    std::int64_t source_row = sy + c.skipped_rows;
    for (std::int64_t r = 0; r < c.height; ++r) {
        std::uint16_t* first = destination.row(static_cast<std::int32_t>(c.row + r)) + c.column;
        std::uint16_t const* from = source.row(static_cast<std::int32_t>(source_row + r)) + source_column;
        op.span(first, first + c.width, from, static_cast<std::int32_t>(r));
    }
}

void stretch_rect(PixelBuffer& destination, std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
    PixelBuffer const& source, std::int32_t sx, std::int32_t sy, std::int32_t sw, std::int32_t sh,
    Rect const& clip, PixelOp const& op)
{
    // An empty source rectangle is refused too: at the source's edge its one
    // sampled pixel would lie outside the source.
    if (w < 1 || h < 1 || sx < 0 || sy < 0 || sw < 1 || sh < 1
        || std::int64_t { sx } + sw > source.width() || std::int64_t { sy } + sh > source.height()
        || std::int64_t { sx } + sw > kMaxStretchSource || std::int64_t { sy } + sh > kMaxStretchSource)
        return;
    std::int64_t step_x = std::int64_t { sw } * 1024 / w;
    std::int64_t step_y = std::int64_t { sh } * 1024 / h;
    Clipped c = clip_rect(limit_to(clip, destination), x, y, w, h);
    if (c.width <= 0 || c.height <= 0)
        return;
    auto start_x = static_cast<std::int32_t>(std::int64_t { sx } * 1024 + c.skipped_columns * step_x);
    std::int64_t position_y = std::int64_t { sy } * 1024 + c.skipped_rows * step_y;
    for (std::int64_t r = 0; r < c.height; ++r, position_y += step_y) {
        std::uint16_t* first = destination.row(static_cast<std::int32_t>(c.row + r)) + c.column;
        auto source_row = static_cast<std::int32_t>(position_y >> 10);
        op.scaled_span(first, first + c.width, source.row(source_row), start_x,
            static_cast<std::int32_t>(step_x), source_row);
    }
}

void fill_rect(DrawTarget& target, std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
    DestinationOp const& op)
{
    if (target.buffer())
        fill_rect(*target.buffer(), x, y, w, h, target.clip(), op);
}

void copy_rect(DrawTarget& target, std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
    PixelBuffer const& source, std::int32_t sx, std::int32_t sy, PixelOp const& op)
{
    if (target.buffer())
        copy_rect(*target.buffer(), x, y, w, h, source, sx, sy, target.clip(), op);
}

void stretch_rect(DrawTarget& target, std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
    PixelBuffer const& source, std::int32_t sx, std::int32_t sy, std::int32_t sw, std::int32_t sh,
    PixelOp const& op)
{
    if (target.buffer())
        stretch_rect(*target.buffer(), x, y, w, h, source, sx, sy, sw, sh, target.clip(), op);
}

}
