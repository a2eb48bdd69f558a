#pragma once

// Pixel operations: what happens to each destination pixel when a row of a
// rectangle is drawn. The drivers (copy_rect, stretch_rect, fill_rect) clip
// and walk rows; each row is one virtual call, and the per-pixel loop lives
// inside the operation. Every operation applies one rule in all four span
// forms; RuleOp turns a rule (see PixelRules.h) into an operation.

#include "imaging/DrawTarget.h"
#include "imaging/PixelBuffer.h"
#include "imaging/PixelRules.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace qv {

class PixelOp {
public:
    virtual ~PixelOp() = default;

    // One source pixel per destination pixel, left to right. `row` is the
    // row within the clipped rectangle; no built-in operation uses it.
    virtual void span(std::uint16_t* first, std::uint16_t* last, std::uint16_t const* source,
        std::int32_t row) const = 0;
    // Destination pixel i takes source pixel (start + i * step) >> 10.
    virtual void scaled_span(std::uint16_t* first, std::uint16_t* last, std::uint16_t const* source_row,
        std::int32_t start, std::int32_t step, std::int32_t source_row_index) const = 0;
    // Destination pixel i takes source pixel (start + i) >> shift.
    virtual void shifted_span(std::uint16_t* destination, std::uint16_t const* source, std::int32_t start,
        std::int32_t count, std::int32_t shift) const = 0;
    // Each destination pixel takes source pixel index >> shift; index then
    // steps on, returning to wrap_to when it reaches wrap_at.
    virtual void wrapped_span(std::uint16_t* destination, std::uint16_t const* source, std::int32_t index,
        std::int32_t count, std::int32_t shift, std::int32_t wrap_to, std::int32_t wrap_at) const = 0;
    virtual std::unique_ptr<PixelOp> clone() const = 0;
};

namespace detail {

constexpr std::int32_t clamp_shift(std::int32_t shift) { return shift < 0 ? 0 : shift > 31 ? 31 : shift; }

template<std::size_t Count, typename Rule>
inline void rule_block(Rule const& rule, std::uint16_t* __restrict d, std::uint16_t const* __restrict s)
{
    for (std::size_t k = 0; k < Count; ++k)
        d[k] = rule.apply(s[k], d[k]);
}

inline constexpr std::size_t kSpanTail = 16;

// The main loop runs a count that is visibly a multiple of any vector width,
// which lets the vectoriser work without the remainder loop its cheap cost
// model refuses; the last few pixels go through one block in scratch memory,
// so that no pixel is handled alone. Kept out of line: inlined into a
// caller, the promise that d and s do not overlap gets lost and the loop
// stays scalar.
template<typename Rule>
[[gnu::noinline]] void rule_span(Rule const& rule, std::uint16_t* __restrict d, std::size_t n,
    std::uint16_t const* __restrict s)
{
    std::size_t whole = n & ~(kSpanTail - 1);
#pragma GCC unroll 4
    for (std::size_t k = 0; k < whole; ++k)
        d[k] = rule.apply(s[k], d[k]);
    if (std::size_t rest = n - whole) {
        std::uint16_t scratch_d[kSpanTail] = {};
        std::uint16_t scratch_s[kSpanTail] = {};
        std::memcpy(scratch_d, d + whole, rest * 2);
        std::memcpy(scratch_s, s + whole, rest * 2);
        rule_block<kSpanTail>(rule, scratch_d, scratch_s);
        std::memcpy(d + whole, scratch_d, rest * 2);
    }
}

}

// An operation built from a rule object with `uint16_t apply(s, d) const`.
template<typename Rule>
class RuleOp : public PixelOp {
public:
    RuleOp() = default;
    explicit RuleOp(Rule rule)
        : m_rule(rule)
    {
    }

    Rule const& rule() const { return m_rule; }

    void span(std::uint16_t* first, std::uint16_t* last, std::uint16_t const* source, std::int32_t) const override
    {
        if (last > first)
            detail::rule_span(m_rule, first, static_cast<std::size_t>(last - first), source);
    }

    void scaled_span(std::uint16_t* first, std::uint16_t* last, std::uint16_t const* source_row,
        std::int32_t start, std::int32_t step, std::int32_t) const override
    {
        std::uint32_t position = static_cast<std::uint32_t>(start);
        for (std::uint16_t* d = first; d < last; ++d, position += static_cast<std::uint32_t>(step))
            *d = m_rule.apply(source_row[position >> 10], *d);
    }

    void shifted_span(std::uint16_t* destination, std::uint16_t const* source, std::int32_t start,
        std::int32_t count, std::int32_t shift) const override
    {
        shift = detail::clamp_shift(shift);
        if (shift == 0 && count > 0) {
            detail::rule_span(m_rule, destination, static_cast<std::size_t>(count), source + start);
            return;
        }
        for (std::int32_t i = 0; i < count; ++i)
            destination[i] = m_rule.apply(source[(start + i) >> shift], destination[i]);
    }

    void wrapped_span(std::uint16_t* destination, std::uint16_t const* source, std::int32_t index,
        std::int32_t count, std::int32_t shift, std::int32_t wrap_to, std::int32_t wrap_at) const override
    {
        shift = detail::clamp_shift(shift);
        if (shift == 0 && index < wrap_at && wrap_at - wrap_to >= 16) {
            // A wide tile at 1:1 is drawn as contiguous runs, one per repeat.
            while (count > 0) {
                std::int32_t run = std::min(count, wrap_at - index);
                detail::rule_span(m_rule, destination, static_cast<std::size_t>(run), source + index);
                destination += run;
                count -= run;
                index = wrap_to;
            }
            return;
        }
        for (std::int32_t i = 0; i < count; ++i) {
            destination[i] = m_rule.apply(source[index >> shift], destination[i]);
            index = index + 1 == wrap_at ? wrap_to : index + 1;
        }
    }

    std::unique_ptr<PixelOp> clone() const override { return std::make_unique<RuleOp>(m_rule); }

private:
    [[no_unique_address]] Rule m_rule {};
};

// The shared, stateless built-in operations.
PixelOp const& copy_op();
PixelOp const& key_copy_op();
PixelOp const& key_blend_quarter_op();
PixelOp const& key_blend_half_op();
PixelOp const& key_blend_three_quarters_op();
PixelOp const& solid_mask_op();

namespace rule {

struct Tint {
    std::uint16_t r { 256 };
    std::uint16_t g { 256 };
    std::uint16_t b { 256 };
    constexpr std::uint16_t apply(std::uint16_t s, std::uint16_t) const { return tint_pixel(s, r, g, b); }
};

struct TintOver {
    std::uint16_t r { 256 };
    std::uint16_t g { 256 };
    std::uint16_t b { 256 };
    constexpr std::uint16_t apply(std::uint16_t s, std::uint16_t d) const
    {
        return static_cast<std::uint16_t>(d | tint_pixel(s, r, g, b));
    }
};

}

// Factors out of 256 per channel; 256 keeps the channel. Factors are
// limited to kMaxTintFactor (anything above 256 overflows its channel anyway).
using TintOp = RuleOp<rule::Tint>;
using TintOverOp = RuleOp<rule::TintOver>;
std::unique_ptr<PixelOp> make_tint_op(std::uint32_t r, std::uint32_t g, std::uint32_t b);
std::unique_ptr<PixelOp> make_tint_over_op(std::uint32_t r, std::uint32_t g, std::uint32_t b);

// Transparency 0..63 draws opaque with the key, 64..127 keeps a quarter of
// the background, 128..191 half, 192..255 three quarters, 256 and more only
// the solid pixels. The result forwards to one of the shared operations.
std::unique_ptr<PixelOp> make_alpha_op(std::int32_t transparency);

// An operation on the destination alone (fades, colour fills).
class DestinationOp {
public:
    virtual ~DestinationOp() = default;
    virtual void span(std::uint16_t* first, std::uint16_t* last) const = 0;
};

// Multiplies every destination pixel by level / 16, two pixels per 32-bit word.
class FadeOp final : public DestinationOp {
public:
    using LevelRoutine = void (*)(std::uint16_t* first, std::uint16_t* last);

    explicit FadeOp(std::int32_t level);
    std::int32_t level() const { return m_level; }
    void span(std::uint16_t* first, std::uint16_t* last) const override { m_routine(first, last); }

private:
    std::int32_t m_level;
    LevelRoutine m_routine;
};

// Brightness 255 keeps the destination, 128 halves it, 0 makes it black.
FadeOp make_fade_op(std::int32_t brightness);

// Writes one colour into every destination pixel.
class ColourFillOp final : public DestinationOp {
public:
    explicit ColourFillOp(std::uint16_t colour)
        : m_colour(colour)
    {
    }
    std::uint16_t colour() const { return m_colour; }
    void span(std::uint16_t* first, std::uint16_t* last) const override;

private:
    std::uint16_t m_colour;
};

// The rectangle drivers. `clip` is the destination clip (right and bottom
// exclusive) and is further limited to the destination buffer.
void fill_rect(PixelBuffer& destination, std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
    Rect const& clip, DestinationOp const& op);
// A source rectangle that leaves the source is refused whole.
void copy_rect(PixelBuffer& destination, std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
    PixelBuffer const& source, std::int32_t sx, std::int32_t sy, Rect const& clip, PixelOp const& op);
// Nearest-lower sampling with 10-bit fixed-point steps per axis.
void stretch_rect(PixelBuffer& destination, std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
    PixelBuffer const& source, std::int32_t sx, std::int32_t sy, std::int32_t sw, std::int32_t sh,
    Rect const& clip, PixelOp const& op);

// The same drivers into a draw target, with its clip; nothing happens when
// the target has no buffer.
void fill_rect(DrawTarget& target, std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
    DestinationOp const& op);
void copy_rect(DrawTarget& target, std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
    PixelBuffer const& source, std::int32_t sx, std::int32_t sy, PixelOp const& op);
void stretch_rect(DrawTarget& target, std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h,
    PixelBuffer const& source, std::int32_t sx, std::int32_t sy, std::int32_t sw, std::int32_t sh,
    PixelOp const& op);

}
