#include "platform/FramebufferFormat.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__) && defined(__SSE2__)
#define QV_FB_VECTOR 1
#include <immintrin.h>
#endif

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

#if !defined(QV_FB_VECTOR)
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

#endif

#if defined(QV_FB_VECTOR)

// The panel's pixel as shifts of the program's channels widened to 8 bits:
// each is cut to its field's length (a right shift) and moved to the
// field's offset (a left one). 32-bit pixels whose fields all lie inside
// one 16-bit half are built as two halves and interleaved, which saves
// widening each channel on its own.
struct Placement {
    std::uint32_t bytes; // 2 or 4
    bool halves; // 32 bits, and no field crosses the middle
    std::uint32_t right[3]; // red, green, blue
    std::uint32_t offset[3];
    // The shifts into the low and the high half: 16 or more puts nothing
    // there, as the vector shifts give zero for such counts.
    std::uint32_t low[3];
    std::uint32_t high[3];
    std::uint32_t opaque;
};

Placement placement(PixelFormat const& f)
{
    Placement p {};
    p.bytes = f.bits_per_pixel / 8;
    p.halves = p.bytes == 4;
    PixelField const fields[3] = { f.red, f.green, f.blue };
    for (int c = 0; c < 3; ++c) {
        p.right[c] = 8 - fields[c].length;
        p.offset[c] = fields[c].offset;
        bool const in_high = fields[c].offset >= 16;
        if (!in_high && fields[c].offset + fields[c].length > 16)
            p.halves = false;
        p.low[c] = in_high ? 32 : fields[c].offset;
        p.high[c] = in_high ? fields[c].offset - 16 : 32;
    }
    p.opaque = field_mask(f.transparent);
    return p;
}

// One pixel the way the vector code builds eight: the tails of rows and
// the pixels around whole blocks.
std::uint32_t place_pixel(std::uint32_t p, Placement const& at)
{
    std::uint32_t const c[3] = { ((p >> 8) & 0xF8) | (p >> 13), ((p >> 3) & 0xFC) | ((p >> 9) & 0x03),
        ((p << 3) & 0xF8) | ((p >> 2) & 0x07) };
    std::uint32_t out = at.opaque;
    for (int i = 0; i < 3; ++i)
        out |= (c[i] >> at.right[i]) << at.offset[i];
    return out;
}

void store_pixel(std::uint8_t* to, std::uint32_t value, std::uint32_t bytes)
{
    if (bytes == 2) {
        auto const narrow = static_cast<std::uint16_t>(value);
        std::memcpy(to, &narrow, 2);
    } else {
        std::memcpy(to, &value, 4);
    }
}

// Eight program pixels at a time (SSE2, every x86-64), sixteen where the
// processor has AVX2 (asked at run time: the build targets the baseline).
// The same shifts as place_pixel, lane by lane, so the result is the
// same to the bit.

struct Lanes {
    __m128i right[3], low[3], high[3], offset[3], opaque;
};

Lanes lanes(Placement const& at)
{
    Lanes l {};
    for (int c = 0; c < 3; ++c) {
        l.right[c] = _mm_cvtsi32_si128(static_cast<int>(at.right[c]));
        l.low[c] = _mm_cvtsi32_si128(static_cast<int>(at.low[c]));
        l.high[c] = _mm_cvtsi32_si128(static_cast<int>(at.high[c]));
        l.offset[c] = _mm_cvtsi32_si128(static_cast<int>(at.offset[c]));
    }
    // Sixteen-bit pixels take the mask in every 16-bit lane.
    l.opaque = at.bytes == 2 ? _mm_set1_epi16(static_cast<short>(at.opaque)) : _mm_set1_epi32(static_cast<int>(at.opaque));
    return l;
}

// The three channels widened to 8 bits.
inline void channels8(__m128i p, __m128i c[3])
{
    c[0] = _mm_or_si128(_mm_and_si128(_mm_srli_epi16(p, 8), _mm_set1_epi16(0xF8)), _mm_srli_epi16(p, 13));
    c[1] = _mm_or_si128(_mm_and_si128(_mm_srli_epi16(p, 3), _mm_set1_epi16(0xFC)),
        _mm_and_si128(_mm_srli_epi16(p, 9), _mm_set1_epi16(0x03)));
    c[2] = _mm_or_si128(_mm_and_si128(_mm_slli_epi16(p, 3), _mm_set1_epi16(0xF8)),
        _mm_and_si128(_mm_srli_epi16(p, 2), _mm_set1_epi16(0x07)));
}

// ... and cut to their fields' lengths.
inline void channels(__m128i p, Lanes const& l, __m128i c[3])
{
    channels8(p, c);
    for (int i = 0; i < 3; ++i)
        c[i] = _mm_srl_epi16(c[i], l.right[i]);
}

// Eight pixels of a 16-bit panel.
inline __m128i convert8_narrow(__m128i p, Lanes const& l)
{
    __m128i c[3];
    channels(p, l, c);
    __m128i const v = _mm_or_si128(_mm_or_si128(_mm_sll_epi16(c[0], l.low[0]), _mm_sll_epi16(c[1], l.low[1])),
        _mm_sll_epi16(c[2], l.low[2]));
    return _mm_or_si128(v, l.opaque);
}

// Eight pixels of a 32-bit panel, in two vectors of four.
template<bool Halves>
inline void convert8_wide(__m128i p, Lanes const& l, __m128i& first, __m128i& second)
{
    __m128i c[3];
    channels(p, l, c);
    if constexpr (Halves) {
        __m128i const lo = _mm_or_si128(_mm_or_si128(_mm_sll_epi16(c[0], l.low[0]), _mm_sll_epi16(c[1], l.low[1])),
            _mm_sll_epi16(c[2], l.low[2]));
        __m128i const hi = _mm_or_si128(_mm_or_si128(_mm_sll_epi16(c[0], l.high[0]), _mm_sll_epi16(c[1], l.high[1])),
            _mm_sll_epi16(c[2], l.high[2]));
        first = _mm_or_si128(_mm_unpacklo_epi16(lo, hi), l.opaque);
        second = _mm_or_si128(_mm_unpackhi_epi16(lo, hi), l.opaque);
    } else {
        __m128i const zero = _mm_setzero_si128();
        first = second = l.opaque;
        for (int i = 0; i < 3; ++i) {
            first = _mm_or_si128(first, _mm_sll_epi32(_mm_unpacklo_epi16(c[i], zero), l.offset[i]));
            second = _mm_or_si128(second, _mm_sll_epi32(_mm_unpackhi_epi16(c[i], zero), l.offset[i]));
        }
    }
}

// The commonest panel, red, green and blue bytes from the top down, in
// fixed shifts, which cost half the counted ones.
inline void convert8_xrgb(__m128i p, Lanes const& l, __m128i& first, __m128i& second)
{
    __m128i c[3];
    channels8(p, c);
    __m128i const low = _mm_or_si128(_mm_slli_epi16(c[1], 8), c[2]);
    first = _mm_or_si128(_mm_unpacklo_epi16(low, c[0]), l.opaque);
    second = _mm_or_si128(_mm_unpackhi_epi16(low, c[0]), l.opaque);
}

// The ways of building a panel pixel, each its own code.
enum Kind : int {
    kNarrow, // 16 bits
    kHalves, // 32 bits built as two halves
    kWidened, // 32 bits, a field across the middle
    kSame, // 16 bits laid out as the program's: a copy
    kXrgb, // 32 bits of red, green, blue bytes from the top
};

bool is_xrgb(Placement const& at)
{
    return at.bytes == 4 && at.right[0] == 0 && at.right[1] == 0 && at.right[2] == 0 && at.offset[0] == 16
        && at.offset[1] == 8 && at.offset[2] == 0;
}

// Eight program pixels to eight consecutive panel pixels at `to`.
template<int Kind>
inline void store8(__m128i p, std::uint8_t* to, Lanes const& l)
{
    if constexpr (Kind == kSame) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to), p);
    } else if constexpr (Kind == kXrgb) {
        __m128i first, second;
        convert8_xrgb(p, l, first, second);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to), first);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 16), second);
    } else if constexpr (Kind == kNarrow) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to), convert8_narrow(p, l));
    } else {
        __m128i first, second;
        convert8_wide<Kind == kHalves>(p, l, first, second);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to), first);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 16), second);
    }
}

inline __m128i reversed(__m128i p)
{
    p = _mm_shufflelo_epi16(p, _MM_SHUFFLE(0, 1, 2, 3));
    p = _mm_shufflehi_epi16(p, _MM_SHUFFLE(0, 1, 2, 3));
    return _mm_shuffle_epi32(p, _MM_SHUFFLE(1, 0, 3, 2));
}

inline __m128i load8(std::uint16_t const* from) { return _mm_loadu_si128(reinterpret_cast<__m128i const*>(from)); }

template<int Kind>
void row_upright(std::uint16_t const* from, std::uint8_t* to, std::int32_t count, Lanes const& l, Placement const& at)
{
    std::uint32_t const bytes = at.bytes;
    std::int32_t i = 0;
    for (; i + 8 <= count; i += 8)
        store8<Kind>(load8(from + i), to + static_cast<std::ptrdiff_t>(i) * bytes, l);
    for (; i < count; ++i)
        store_pixel(to + static_cast<std::ptrdiff_t>(i) * bytes, place_pixel(from[i], at), bytes);
}

// A row upside down: `to` is where its first pixel goes, the rest going left.
template<int Kind>
void row_reversed(std::uint16_t const* from, std::uint8_t* to, std::int32_t count, Lanes const& l, Placement const& at)
{
    std::ptrdiff_t const bytes = at.bytes;
    std::int32_t i = 0;
    for (; i + 8 <= count; i += 8)
        store8<Kind>(reversed(load8(from + i)), to - (i + 7) * bytes, l);
    for (; i < count; ++i)
        store_pixel(to - i * bytes, place_pixel(from[i], at), at.bytes);
}

// The AVX2 form of a row, upright or upside down: sixteen pixels a step.
// What it calls inline carries the same target.
#define QV_AVX2 __attribute__((target("avx2")))

// Sixteen program pixels, in order, converted: for a 16-bit panel all in
// `first`; for a 32-bit one pixels 0 - 7 in `first` and 8 - 15 in `second`.
template<int Kind>
QV_AVX2 inline void convert16(__m256i p, Lanes const& l, __m256i& first, __m256i& second)
{
    __m256i const f8 = _mm256_set1_epi16(0xF8), fc = _mm256_set1_epi16(0xFC), x3 = _mm256_set1_epi16(0x03),
                  x7 = _mm256_set1_epi16(0x07);
    __m256i const opaque = _mm256_broadcastsi128_si256(l.opaque);
    if constexpr (Kind == kSame) {
        first = p;
        return;
    }
    if constexpr (Kind != kNarrow) // pixels 0-3 and 4-7 in the low halves of the two lanes
        p = _mm256_permute4x64_epi64(p, _MM_SHUFFLE(3, 1, 2, 0));
    __m256i r = _mm256_or_si256(_mm256_and_si256(_mm256_srli_epi16(p, 8), f8), _mm256_srli_epi16(p, 13));
    __m256i g = _mm256_or_si256(
        _mm256_and_si256(_mm256_srli_epi16(p, 3), fc), _mm256_and_si256(_mm256_srli_epi16(p, 9), x3));
    __m256i b = _mm256_or_si256(
        _mm256_and_si256(_mm256_slli_epi16(p, 3), f8), _mm256_and_si256(_mm256_srli_epi16(p, 2), x7));
    if constexpr (Kind == kXrgb) {
        __m256i const low = _mm256_or_si256(_mm256_slli_epi16(g, 8), b);
        first = _mm256_or_si256(_mm256_unpacklo_epi16(low, r), opaque);
        second = _mm256_or_si256(_mm256_unpackhi_epi16(low, r), opaque);
        return;
    }
    r = _mm256_srl_epi16(r, l.right[0]);
    g = _mm256_srl_epi16(g, l.right[1]);
    b = _mm256_srl_epi16(b, l.right[2]);
    if constexpr (Kind == kNarrow) {
        __m256i const v = _mm256_or_si256(
            _mm256_or_si256(_mm256_sll_epi16(r, l.low[0]), _mm256_sll_epi16(g, l.low[1])), _mm256_sll_epi16(b, l.low[2]));
        first = _mm256_or_si256(v, opaque);
    } else if constexpr (Kind == kHalves) {
        __m256i const lo = _mm256_or_si256(
            _mm256_or_si256(_mm256_sll_epi16(r, l.low[0]), _mm256_sll_epi16(g, l.low[1])), _mm256_sll_epi16(b, l.low[2]));
        __m256i const hi = _mm256_or_si256(_mm256_or_si256(_mm256_sll_epi16(r, l.high[0]), _mm256_sll_epi16(g, l.high[1])),
            _mm256_sll_epi16(b, l.high[2]));
        first = _mm256_or_si256(_mm256_unpacklo_epi16(lo, hi), opaque);
        second = _mm256_or_si256(_mm256_unpackhi_epi16(lo, hi), opaque);
    } else {
        __m256i const zero = _mm256_setzero_si256();
        __m256i const c[3] = { r, g, b };
        first = second = opaque;
        for (int k = 0; k < 3; ++k) {
            first = _mm256_or_si256(first, _mm256_sll_epi32(_mm256_unpacklo_epi16(c[k], zero), l.offset[k]));
            second = _mm256_or_si256(second, _mm256_sll_epi32(_mm256_unpackhi_epi16(c[k], zero), l.offset[k]));
        }
    }
}

// Each 128-bit half's eight pixels in reverse order.
QV_AVX2 inline __m256i reversed_halves(__m256i p)
{
    __m256i const backwards = _mm256_setr_epi8(14, 15, 12, 13, 10, 11, 8, 9, 6, 7, 4, 5, 2, 3, 0, 1, 14, 15, 12, 13, 10,
        11, 8, 9, 6, 7, 4, 5, 2, 3, 0, 1);
    return _mm256_shuffle_epi8(p, backwards);
}

template<int Kind, bool Reverse>
QV_AVX2 void row_avx2(std::uint16_t const* from, std::uint8_t* to, std::int32_t count, Lanes const& l,
    Placement const& at)
{
    std::uint32_t const bytes = at.bytes;
    // The first pixels the narrow way, until the wide stores land on
    // whole 32 bytes: one straddling two cache lines costs two.
    auto const address = reinterpret_cast<std::uintptr_t>(to) + (Reverse ? bytes : 0);
    std::int32_t i = 0;
    if (address % bytes == 0) {
        auto const lead = static_cast<std::int32_t>((Reverse ? address % 32 : (32 - address % 32) % 32) / bytes);
        i = std::min(lead, count);
        if constexpr (Reverse)
            row_reversed<Kind>(from, to, i, l, at);
        else
            row_upright<Kind>(from, to, i, l, at);
    }
    for (; i + 16 <= count; i += 16) {
        __m256i p = _mm256_loadu_si256(reinterpret_cast<__m256i const*>(from + i));
        if constexpr (Reverse) // each half reversed, then the halves swapped
            p = _mm256_permute4x64_epi64(reversed_halves(p), _MM_SHUFFLE(1, 0, 3, 2));
        auto* out = reinterpret_cast<__m256i*>(
            Reverse ? to - static_cast<std::ptrdiff_t>(i + 15) * bytes : to + static_cast<std::ptrdiff_t>(i) * bytes);
        __m256i first, second;
        convert16<Kind>(p, l, first, second);
        _mm256_storeu_si256(out, first);
        if constexpr (Kind == kHalves || Kind == kWidened || Kind == kXrgb)
            _mm256_storeu_si256(out + 1, second);
    }
    if constexpr (Reverse)
        row_reversed<Kind>(from + i, to - static_cast<std::ptrdiff_t>(i) * bytes, count - i, l, at);
    else
        row_upright<Kind>(from + i, to + static_cast<std::ptrdiff_t>(i) * bytes, count - i, l, at);
}


// Eight rows of eight pixels turned into eight columns: c[j] holds
// column j, rows 0 .. 7.
inline void transpose8(__m128i const r[8], __m128i c[8])
{
    __m128i const t0 = _mm_unpacklo_epi16(r[0], r[1]), t1 = _mm_unpackhi_epi16(r[0], r[1]);
    __m128i const t2 = _mm_unpacklo_epi16(r[2], r[3]), t3 = _mm_unpackhi_epi16(r[2], r[3]);
    __m128i const t4 = _mm_unpacklo_epi16(r[4], r[5]), t5 = _mm_unpackhi_epi16(r[4], r[5]);
    __m128i const t6 = _mm_unpacklo_epi16(r[6], r[7]), t7 = _mm_unpackhi_epi16(r[6], r[7]);
    __m128i const u0 = _mm_unpacklo_epi32(t0, t2), u1 = _mm_unpackhi_epi32(t0, t2);
    __m128i const u2 = _mm_unpacklo_epi32(t1, t3), u3 = _mm_unpackhi_epi32(t1, t3);
    __m128i const u4 = _mm_unpacklo_epi32(t4, t6), u5 = _mm_unpackhi_epi32(t4, t6);
    __m128i const u6 = _mm_unpacklo_epi32(t5, t7), u7 = _mm_unpackhi_epi32(t5, t7);
    c[0] = _mm_unpacklo_epi64(u0, u4);
    c[1] = _mm_unpackhi_epi64(u0, u4);
    c[2] = _mm_unpacklo_epi64(u1, u5);
    c[3] = _mm_unpackhi_epi64(u1, u5);
    c[4] = _mm_unpacklo_epi64(u2, u6);
    c[5] = _mm_unpackhi_epi64(u2, u6);
    c[6] = _mm_unpacklo_epi64(u3, u7);
    c[7] = _mm_unpackhi_epi64(u3, u7);
}

// A quarter turn either way: a program column is a panel row. Blocks of
// eight by eight are turned in registers, so the panel is written eight
// pixels at a time instead of one a row apart.
constexpr std::int32_t kStrip = 32;

template<int Kind>
void area_turned(Rgb565Image const& image, PixelRect const& a, PanelBuffer const& panel, std::int32_t turn,
    Lanes const& l, Placement const& at)
{
    std::ptrdiff_t const bytes = at.bytes, stride = panel.stride;
    auto const row = [&](std::int32_t y) {
        return reinterpret_cast<std::uint16_t const*>(
            reinterpret_cast<std::uint8_t const*>(image.pixels) + static_cast<std::ptrdiff_t>(y) * image.pitch);
    };
    auto const panel_at = [&](std::int32_t x, std::int32_t y) {
        PanelPoint const q = program_to_panel({ x, y }, turn, image.width, image.height);
        return panel.bytes + q.y * stride + q.x * bytes;
    };
    auto const one = [&](std::int32_t x, std::int32_t y) {
        store_pixel(panel_at(x, y), place_pixel(row(y)[x], at), at.bytes);
    };
    // Column x + j of the block at (x, y) is a panel row: left to right
    // from y for a quarter turn, right to left ending at y + 7 for three.
    std::ptrdiff_t const next_column = turn == 1 ? -stride : stride;
    auto const block = [&](std::uint16_t const* const* rows, std::int32_t x, std::int32_t y) {
        __m128i r[8], c[8];
        for (int k = 0; k < 8; ++k)
            r[k] = load8(rows[k] + x);
        transpose8(r, c);
        std::uint8_t* to = panel_at(x, turn == 1 ? y : y + 7);
        for (int j = 0; j < 8; ++j, to += next_column)
            store8<Kind>(turn == 1 ? c[j] : reversed(c[j]), to, l);
    };
    std::int32_t const right = a.x + a.width, bottom = a.y + a.height;
    // Strips of program columns, so that the panel rows being written at
    // once are few and stay in the caches and the TLB.
    std::int32_t const whole = a.x + (a.width & ~7);
    for (std::int32_t strip = a.x; strip < whole; strip += kStrip) {
        std::int32_t const strip_end = std::min(whole, strip + kStrip);
        std::int32_t y = a.y;
        for (; y + 8 <= bottom; y += 8) {
            std::uint16_t const* rows[8];
            for (int k = 0; k < 8; ++k)
                rows[k] = row(y + k);
            for (std::int32_t x = strip; x < strip_end; x += 8)
                block(rows, x, y);
        }
        for (; y < bottom; ++y)
            for (std::int32_t x = strip; x < strip_end; ++x)
                one(x, y);
    }
    for (std::int32_t y = a.y; y < bottom; ++y)
        for (std::int32_t x = whole; x < right; ++x)
            one(x, y);
}

// The same sixteen columns at a time: the halves of each 256-bit row are
// turned side by side, giving columns j and 8 + j in one register.
template<int Kind>
QV_AVX2 void area_turned_avx2(Rgb565Image const& image, PixelRect const& a, PanelBuffer const& panel,
    std::int32_t turn, Lanes const& l, Placement const& at)
{
    std::ptrdiff_t const bytes = at.bytes, stride = panel.stride;
    std::ptrdiff_t const next_column = turn == 1 ? -stride : stride;
    std::int32_t const whole = a.x + (a.width & ~15), full = a.y + (a.height & ~7);
    for (std::int32_t strip = a.x; strip < whole; strip += kStrip) {
        std::int32_t const strip_end = std::min(whole, strip + kStrip);
        for (std::int32_t y = a.y; y < full; y += 8) {
            std::uint16_t const* rows[8];
            for (int k = 0; k < 8; ++k)
                rows[k] = reinterpret_cast<std::uint16_t const*>(
                    reinterpret_cast<std::uint8_t const*>(image.pixels) + static_cast<std::ptrdiff_t>(y + k) * image.pitch);
            for (std::int32_t x = strip; x < strip_end; x += 16) {
                __m256i r[8];
                for (int k = 0; k < 8; ++k)
                    r[k] = _mm256_loadu_si256(reinterpret_cast<__m256i const*>(rows[k] + x));
                __m256i const t0 = _mm256_unpacklo_epi16(r[0], r[1]), t1 = _mm256_unpackhi_epi16(r[0], r[1]);
                __m256i const t2 = _mm256_unpacklo_epi16(r[2], r[3]), t3 = _mm256_unpackhi_epi16(r[2], r[3]);
                __m256i const t4 = _mm256_unpacklo_epi16(r[4], r[5]), t5 = _mm256_unpackhi_epi16(r[4], r[5]);
                __m256i const t6 = _mm256_unpacklo_epi16(r[6], r[7]), t7 = _mm256_unpackhi_epi16(r[6], r[7]);
                __m256i const u0 = _mm256_unpacklo_epi32(t0, t2), u1 = _mm256_unpackhi_epi32(t0, t2);
                __m256i const u2 = _mm256_unpacklo_epi32(t1, t3), u3 = _mm256_unpackhi_epi32(t1, t3);
                __m256i const u4 = _mm256_unpacklo_epi32(t4, t6), u5 = _mm256_unpackhi_epi32(t4, t6);
                __m256i const u6 = _mm256_unpacklo_epi32(t5, t7), u7 = _mm256_unpackhi_epi32(t5, t7);
                __m256i const c[8] = { _mm256_unpacklo_epi64(u0, u4), _mm256_unpackhi_epi64(u0, u4),
                    _mm256_unpacklo_epi64(u1, u5), _mm256_unpackhi_epi64(u1, u5), _mm256_unpacklo_epi64(u2, u6),
                    _mm256_unpackhi_epi64(u2, u6), _mm256_unpacklo_epi64(u3, u7), _mm256_unpackhi_epi64(u3, u7) };
                PanelPoint const q = program_to_panel({ x, turn == 1 ? y : y + 7 }, turn, image.width, image.height);
                std::uint8_t* to = panel.bytes + q.y * stride + q.x * bytes;
                for (int j = 0; j < 8; ++j, to += next_column) {
                    __m256i first, second;
                    convert16<Kind>(turn == 1 ? c[j] : reversed_halves(c[j]), l, first, second);
                    std::uint8_t* const eight_on = to + 8 * next_column;
                    if constexpr (Kind == kHalves || Kind == kWidened || Kind == kXrgb) {
                        // In halves: a panel row's eight pixels need not
                        // start on 32 bytes.
                        _mm_storeu_si128(reinterpret_cast<__m128i*>(to), _mm256_castsi256_si128(first));
                        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 16), _mm256_extracti128_si256(first, 1));
                        _mm_storeu_si128(reinterpret_cast<__m128i*>(eight_on), _mm256_castsi256_si128(second));
                        _mm_storeu_si128(reinterpret_cast<__m128i*>(eight_on + 16), _mm256_extracti128_si256(second, 1));
                    } else {
                        _mm_storeu_si128(reinterpret_cast<__m128i*>(to), _mm256_castsi256_si128(first));
                        _mm_storeu_si128(reinterpret_cast<__m128i*>(eight_on), _mm256_extracti128_si256(first, 1));
                    }
                }
            }
        }
    }
    // The rows below the last eight, and the columns past the last sixteen.
    if (whole > a.x && full < a.y + a.height)
        area_turned<Kind>(image, { a.x, full, whole - a.x, a.y + a.height - full }, panel, turn, l, at);
    if (whole < a.x + a.width)
        area_turned<Kind>(image, { whole, a.y, a.x + a.width - whole, a.height }, panel, turn, l, at);
}

bool have_avx2()
{
    static bool const yes = __builtin_cpu_supports("avx2");
    return yes;
}

template<int Kind>
void present_vector(Rgb565Image const& image, PixelRect const& a, PanelBuffer const& panel, std::int32_t turn,
    Placement const& at)
{
    Lanes const l = lanes(at);
    bool const avx2 = have_avx2();
    if (turn & 1) {
        // The commonest panel's fixed shifts are cheap enough that the
        // narrow blocks, which cross no 128-bit lanes, measure quicker.
        if (avx2 && Kind != kXrgb)
            area_turned_avx2<Kind>(image, a, panel, turn, l, at);
        else
            area_turned<Kind>(image, a, panel, turn, l, at);
        return;
    }
    for (std::int32_t y = a.y; y < a.y + a.height; ++y) {
        PanelPoint const start = program_to_panel({ a.x, y }, turn, image.width, image.height);
        auto const* from = reinterpret_cast<std::uint16_t const*>(
                               reinterpret_cast<std::uint8_t const*>(image.pixels) + static_cast<std::ptrdiff_t>(y) * image.pitch)
            + a.x;
        std::uint8_t* to = panel.bytes + static_cast<std::ptrdiff_t>(start.y) * panel.stride
            + static_cast<std::ptrdiff_t>(start.x) * at.bytes;
        if (avx2 && turn == 0)
            row_avx2<Kind, false>(from, to, a.width, l, at);
        else if (avx2)
            row_avx2<Kind, true>(from, to, a.width, l, at);
        else if (turn == 0)
            row_upright<Kind>(from, to, a.width, l, at);
        else
            row_reversed<Kind>(from, to, a.width, l, at);
    }
}

#endif

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
    bool const plain565 = f.bits_per_pixel == 16 && f.red == kFormatRgb565.red && f.green == kFormatRgb565.green
        && f.blue == kFormatRgb565.blue && f.transparent.length == 0;
#if defined(QV_FB_VECTOR)
    if (plain565 && turn == 0) {
        for (std::int32_t y = a.y; y < a.y + a.height; ++y)
            std::memcpy(panel.bytes + static_cast<std::ptrdiff_t>(y) * panel.stride + a.x * 2,
                reinterpret_cast<std::uint8_t const*>(image.pixels) + static_cast<std::ptrdiff_t>(y) * image.pitch + a.x * 2,
                static_cast<std::size_t>(a.width) * 2);
        return true;
    }
    Placement const at = placement(f);
    if (plain565)
        present_vector<kSame>(image, a, panel, turn, at);
    else if (at.bytes == 2)
        present_vector<kNarrow>(image, a, panel, turn, at);
    else if (is_xrgb(at))
        present_vector<kXrgb>(image, a, panel, turn, at);
    else if (at.halves)
        present_vector<kHalves>(image, a, panel, turn, at);
    else
        present_vector<kWidened>(image, a, panel, turn, at);
    return true;
#else
    if (plain565) {
        convert_area<std::uint16_t>(image, a, panel, turn, [](std::uint32_t p) { return p; });
        return true;
    }
    if (f.bits_per_pixel == 16) {
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
#endif
}

}
