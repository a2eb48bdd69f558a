#pragma once

// The per-pixel arithmetic of every drawing operation, as pure functions on
// packed RGB565 words. Blends work by shift-and-mask: each mask keeps, per
// channel, only the bits that stay inside the channel after the shift, so
// no channel borrows from its neighbour.

#include <cstdint>

namespace qv {

inline constexpr std::uint16_t kKeyColour = 0xF81F;  // magenta: transparent
inline constexpr std::uint16_t kSolidFlag = 0x0020;  // lowest green bit

inline constexpr std::uint16_t kHalfMask = 0x7BEF;    // after >> 1
inline constexpr std::uint16_t kQuarterMask = 0x39E7; // after >> 2
inline constexpr std::uint16_t kEighthMask = 0x18E3;  // after >> 3
inline constexpr std::uint16_t kSixteenthMask = 0x0861; // after >> 4; also one in every channel

constexpr std::uint16_t pack_rgb565(std::uint8_t r, std::uint8_t g, std::uint8_t b)
{
    return static_cast<std::uint16_t>((r >> 3) << 11 | (g >> 2) << 5 | b >> 3);
}

constexpr std::uint16_t half_of(std::uint16_t d) { return static_cast<std::uint16_t>((d >> 1) & kHalfMask); }
constexpr std::uint16_t quarter_of(std::uint16_t d) { return static_cast<std::uint16_t>((d >> 2) & kQuarterMask); }

namespace rule {

// The rules are written without branches (all-ones masks instead of
// conditions) so that any pixel loop over them vectorises and no scalar
// remainder ever mispredicts on picture data.
constexpr std::uint16_t all_ones_if(bool condition) { return static_cast<std::uint16_t>(-static_cast<int>(condition)); }

constexpr std::uint16_t select(std::uint16_t mask, std::uint16_t if_set, std::uint16_t if_clear)
{
    return static_cast<std::uint16_t>((if_set & mask) | (if_clear & ~mask));
}

// Each rule maps (source, destination) to the new destination pixel.
struct Copy {
    static constexpr std::uint16_t apply(std::uint16_t s, std::uint16_t) { return s; }
};

struct KeyCopy {
    static constexpr std::uint16_t apply(std::uint16_t s, std::uint16_t d) { return select(all_ones_if(s == kKeyColour), d, s); }
};

// Non-solid source pixels are already scaled by their own opacity; the
// blend adds the fraction of the background that shows through.
constexpr std::uint16_t key_blend(std::uint16_t s, std::uint16_t d, std::uint16_t background)
{
    // A solid pixel adds nothing of the background.
    auto shown = static_cast<std::uint16_t>(background & all_ones_if((s & kSolidFlag) == 0));
    return select(all_ones_if(s == kKeyColour), d, static_cast<std::uint16_t>(s + shown));
}

struct KeyBlendQuarter {
    static constexpr std::uint16_t apply(std::uint16_t s, std::uint16_t d) { return key_blend(s, d, quarter_of(d)); }
};

struct KeyBlendHalf {
    static constexpr std::uint16_t apply(std::uint16_t s, std::uint16_t d) { return key_blend(s, d, half_of(d)); }
};

struct KeyBlendThreeQuarters {
    static constexpr std::uint16_t apply(std::uint16_t s, std::uint16_t d)
    {
        return key_blend(s, d, static_cast<std::uint16_t>(quarter_of(d) + half_of(d)));
    }
};

struct SolidMask {
    static constexpr std::uint16_t apply(std::uint16_t s, std::uint16_t d) { return select(all_ones_if(s & kSolidFlag), s, d); }
};

}

// Each channel times its factor out of 256 (256 keeps it). Factors up to
// kMaxTintFactor keep every product inside 16 bits, so the arithmetic stays
// in 16-bit lanes.
inline constexpr std::uint16_t kMaxTintFactor = 1024;

constexpr std::uint16_t tint_pixel(std::uint16_t s, std::uint16_t r, std::uint16_t g, std::uint16_t b)
{
    auto red = static_cast<std::uint16_t>(static_cast<std::uint16_t>((s >> 11) * r) >> 8);
    auto green = static_cast<std::uint16_t>((static_cast<std::uint16_t>(((s >> 5) & 0x3F) * g) >> 8) & 0x3F);
    auto blue = static_cast<std::uint16_t>(static_cast<std::uint16_t>((s & 0x1F) * b) >> 8);
    return static_cast<std::uint16_t>(red << 11 | green << 5 | blue);
}

// The destination times level / 16 for level 0..16, by the fixed table of
// shifts; exact per channel without carries between channels.
constexpr std::uint32_t fade_word(std::uint32_t x, int level, std::uint32_t m1, std::uint32_t m2,
    std::uint32_t m3, std::uint32_t m4)
{
    // m1..m4 are the masks after >> 1, 2, 3, 4 (one or two pixels wide); m4
    // doubles as the rounding term that adds one to every channel.
    switch (level) {
    case 0: return 0;
    case 1: return (x >> 4) & m4;
    case 2: return (x >> 3) & m3;
    case 3: return ((x >> 2) & m2) - ((x >> 4) & m4);
    case 4: return (x >> 2) & m2;
    case 5: return ((x >> 2) & m2) + ((x >> 4) & m4) + m4;
    case 6: return ((x >> 1) & m1) - ((x >> 3) & m3);
    case 7: return ((x >> 1) & m1) - ((x >> 4) & m4);
    case 8: return (x >> 1) & m1;
    case 9: return ((x >> 1) & m1) + ((x >> 4) & m4) + m4;
    case 10: return ((x >> 1) & m1) + ((x >> 3) & m3) + m4;
    case 11: return ((x >> 1) & m1) + ((x >> 3) & m3) + ((x >> 4) & m4) + m4;
    case 12: return x - ((x >> 2) & m2);
    case 13: return x - ((x >> 2) & m2) + ((x >> 4) & m4);
    case 14: return x - ((x >> 3) & m3);
    case 15: return x - ((x >> 4) & m4);
    default: return x;
    }
}

constexpr std::uint16_t fade_pixel(std::uint16_t x, int level)
{
    return static_cast<std::uint16_t>(fade_word(x, level, kHalfMask, kQuarterMask, kEighthMask, kSixteenthMask));
}

// make_alpha_op's choice: 0 key copy, 1 quarter, 2 half, 3 three quarters, 4 solid mask.
constexpr int alpha_index(int transparency)
{
    int index = transparency / 64;
    return index < 0 ? 0 : index > 4 ? 4 : index;
}

constexpr int fade_level(int brightness)
{
    int level = (brightness + 8) / 16;
    return level < 0 ? 0 : level > 16 ? 16 : level;
}

}
