#include "imaging/PixelOp.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <vector>

using namespace qv;

namespace {

// Reference rules worked channel by channel, independent of the packed
// shift-and-mask forms the operations use.
struct Channels {
    unsigned r, g, b;
};
Channels unpack(std::uint16_t p) { return { unsigned { p } >> 11, unsigned { p } >> 5 & 63u, p & 31u }; }
std::uint16_t pack(Channels c) { return static_cast<std::uint16_t>(c.r << 11 | c.g << 5 | c.b); }
std::uint16_t scaled(std::uint16_t d, unsigned shift)
{
    Channels c = unpack(d);
    return pack({ c.r >> shift, c.g >> shift, c.b >> shift });
}

using Rule = std::function<std::uint16_t(std::uint16_t s, std::uint16_t d)>;

Rule blend_rule(std::function<std::uint16_t(std::uint16_t)> background)
{
    return [background](std::uint16_t s, std::uint16_t d) -> std::uint16_t {
        if (s == 0xF81F)
            return d;
        if (s & 0x20)
            return s;
        return static_cast<std::uint16_t>(s + background(d));
    };
}

std::uint16_t reference_tint(std::uint16_t s, unsigned r, unsigned g, unsigned b)
{
    Channels c = unpack(s);
    return pack({ (c.r * r / 256) & 31u, (c.g * g / 256) & 63u, (c.b * b / 256) & 31u });
}

struct NamedRule {
    char const* name;
    PixelOp const* op;
    Rule rule;
};

std::vector<std::uint16_t> random_pixels(std::size_t n, unsigned seed)
{
    std::mt19937 random(seed);
    std::vector<std::uint16_t> pixels(n);
    for (auto& p : pixels) {
        unsigned pick = random() % 8;
        p = pick == 0 ? std::uint16_t { 0xF81F } : static_cast<std::uint16_t>(random());
    }
    return pixels;
}

// Runs `op` in all four span forms over the same source and destination
// and checks each against the rule applied pixel by pixel with the form's
// own source index mapping.
void check_all_span_forms(NamedRule const& named)
{
    SCOPED_TRACE(named.name);
    constexpr int n = 301; // not a multiple of any vector width, longer than a gather chunk
    auto source = random_pixels(2 * n + 8, 1);
    auto background = random_pixels(n, 2);
    auto expect = [&](auto source_index, char const* form, std::vector<std::uint16_t> const& got) {
        SCOPED_TRACE(form);
        for (int i = 0; i < n; ++i) {
            ASSERT_EQ(got[i], named.rule(source[source_index(i)], background[i])) << "pixel " << i;
        }
    };

    auto d = background;
    named.op->span(d.data(), d.data() + n, source.data() + 3, 7);
    expect([](int i) { return i + 3; }, "span", d);

    d = background;
    named.op->scaled_span(d.data(), d.data() + n, source.data(), 5 * 1024 + 300, 1536, 0);
    expect([](int i) { return (5 * 1024 + 300 + i * 1536) >> 10; }, "scaled_span", d);

    d = background;
    named.op->shifted_span(d.data(), source.data(), 4, n, 0);
    expect([](int i) { return 4 + i; }, "shifted_span shift 0", d);

    d = background;
    named.op->shifted_span(d.data(), source.data(), 9, n, 1);
    expect([](int i) { return (9 + i) >> 1; }, "shifted_span shift 1", d);

    d = background;
    named.op->shifted_span(d.data(), source.data(), 77, n, 40);
    expect([](int) { return 0; }, "shifted_span shift 40 acts as 31", d);

    // index starts at 12 and runs 12..16, then 10..16 over and over.
    d = background;
    named.op->wrapped_span(d.data(), source.data(), 12, n, 0, 10, 17);
    expect([](int i) { return i < 5 ? 12 + i : 10 + (i - 5) % 7; }, "wrapped_span", d);

    d = background;
    named.op->wrapped_span(d.data(), source.data(), 13, n, 1, 10, 17);
    expect([](int i) { return (i < 4 ? 13 + i : 10 + (i - 4) % 7) >> 1; }, "wrapped_span shift 1", d);

    // A wide repeat at 1:1 goes as whole runs: 30..39 once, then 20..39.
    d = background;
    named.op->wrapped_span(d.data(), source.data(), 30, n, 0, 20, 40);
    expect([](int i) { return i < 10 ? 30 + i : 20 + (i - 10) % 20; }, "wrapped_span wide", d);

    // Starting before the repeat: 5..16 once, then 10..16 over and over.
    d = background;
    named.op->wrapped_span(d.data(), source.data(), 5, n, 0, 10, 17);
    expect([](int i) { return i < 12 ? 5 + i : 10 + (i - 12) % 7; }, "wrapped_span from before the repeat", d);

    // Magnified repeat: units 20..59 read source pixels 10..29, each twice.
    d = background;
    named.op->wrapped_span(d.data(), source.data(), 25, n, 1, 20, 60);
    expect([](int i) { return (20 + (5 + i) % 40) >> 1; }, "wrapped_span magnified", d);

    auto copy = named.op->clone();
    d = background;
    copy->span(d.data(), d.data() + n, source.data(), 0);
    expect([](int i) { return i; }, "clone", d);
}

}

TEST(PixelOp, every_operation_applies_its_rule_in_all_four_span_forms)
{
    auto tint = make_tint_op(200, 77, 256);
    auto tint_over = make_tint_over_op(13, 256, 128);
    NamedRule rules[] = {
        { "copy", &copy_op(), [](std::uint16_t s, std::uint16_t) { return s; } },
        { "key copy", &key_copy_op(), [](std::uint16_t s, std::uint16_t d) { return s == 0xF81F ? d : s; } },
        { "key blend quarter", &key_blend_quarter_op(), blend_rule([](std::uint16_t d) { return scaled(d, 2); }) },
        { "key blend half", &key_blend_half_op(), blend_rule([](std::uint16_t d) { return scaled(d, 1); }) },
        { "key blend three quarters", &key_blend_three_quarters_op(),
            blend_rule([](std::uint16_t d) { return static_cast<std::uint16_t>(scaled(d, 1) + scaled(d, 2)); }) },
        { "solid mask", &solid_mask_op(), [](std::uint16_t s, std::uint16_t d) { return (s & 0x20) ? s : d; } },
        { "tint", tint.get(), [](std::uint16_t s, std::uint16_t) { return reference_tint(s, 200, 77, 256); } },
        { "tint over", tint_over.get(),
            [](std::uint16_t s, std::uint16_t d) { return static_cast<std::uint16_t>(d | reference_tint(s, 13, 256, 128)); } },
    };
    for (auto const& named : rules)
        check_all_span_forms(named);
}

TEST(PixelOp, key_and_solid_pixels_under_the_blends)
{
    for (PixelOp const* op : { &key_blend_quarter_op(), &key_blend_half_op(), &key_blend_three_quarters_op() }) {
        std::uint16_t d[2] = { 0x1234, 0xFFFF };
        std::uint16_t s[2] = { 0xF81F, 0x0020 };
        op->span(d, d + 2, s, 0);
        EXPECT_EQ(d[0], 0x1234) << "the key leaves the destination untouched";
        EXPECT_EQ(d[1], 0x0020) << "a solid, almost black pixel replaces it";
    }
}

TEST(PixelOp, tint_factors_beyond_the_16_bit_range_are_limited)
{
    auto source = random_pixels(64, 4);
    std::vector<std::uint16_t> limited(64, 0), huge(64, 0);
    make_tint_op(kMaxTintFactor, 0, 300)->span(limited.data(), limited.data() + 64, source.data(), 0);
    make_tint_op(70000, 0, 300)->span(huge.data(), huge.data() + 64, source.data(), 0);
    EXPECT_EQ(huge, limited);
}

TEST(PixelOp, alpha_levels_follow_transparency_in_steps_of_64)
{
    // A non-solid black source over white shows exactly the background
    // fraction each level keeps.
    std::uint16_t const white = 0xFFFF;
    std::uint16_t const quarter = pack({ 31 >> 2, 63 >> 2, 31 >> 2 });
    std::uint16_t const half = pack({ 31 >> 1, 63 >> 1, 31 >> 1 });
    struct Case {
        int transparency;
        std::uint16_t expected;
    } cases[] = {
        { -1, 0x0000 }, { 0, 0x0000 }, { 63, 0x0000 }, { 64, quarter }, { 127, quarter }, { 128, half },
        { 191, half }, { 192, static_cast<std::uint16_t>(quarter + half) }, { 255, static_cast<std::uint16_t>(quarter + half) },
        { 256, white }, { 1000, white },
    };
    for (auto const& c : cases) {
        auto op = make_alpha_op(c.transparency);
        auto copy = op->clone();
        std::uint16_t s = 0x0000, d1 = white, d2 = white;
        op->span(&d1, &d1 + 1, &s, 0);
        copy->wrapped_span(&d2, &s, 0, 1, 0, 0, 1);
        EXPECT_EQ(d1, c.expected) << "transparency " << c.transparency;
        EXPECT_EQ(d2, c.expected) << "clone, transparency " << c.transparency;
    }
}

TEST(FadeOp, brightness_maps_to_sixteenths)
{
    EXPECT_EQ(make_fade_op(0).level(), 0);
    EXPECT_EQ(make_fade_op(7).level(), 0);
    EXPECT_EQ(make_fade_op(8).level(), 1);
    EXPECT_EQ(make_fade_op(128).level(), 8);
    EXPECT_EQ(make_fade_op(255).level(), 16);
    EXPECT_EQ(make_fade_op(300).level(), 16);
    EXPECT_EQ(make_fade_op(-500).level(), 0);
    EXPECT_EQ(make_fade_op(INT32_MAX).level(), 16);
}

TEST(FadeOp, every_level_scales_each_channel_by_level_over_16)
{
    // The table's shift sums approximate c * level / 16 per channel. Levels
    // 5, 9, 10 and 11 add 0x0861 even to black: one step of red and blue,
    // three of green (whose six bits keep two after >> 4). No channel may
    // spill into its neighbour.
    for (int level = 0; level <= 16; ++level) {
        FadeOp fade(level);
        for (unsigned v = 0; v < 64; ++v) {
            Channels in { v & 31u, v, 31u - (v & 31u) };
            std::uint16_t p = pack(in);
            fade.span(&p, &p + 1);
            Channels out = unpack(p);
            auto near = [level](unsigned got, unsigned c, int tolerance) {
                int exact = static_cast<int>(c) * level / 16;
                return std::abs(static_cast<int>(got) - exact) <= tolerance;
            };
            ASSERT_TRUE(near(out.r, in.r, 2) && near(out.g, in.g, 3) && near(out.b, in.b, 2))
                << "level " << level << " value " << v << " gives " << out.r << "," << out.g << "," << out.b;
        }
    }
    std::uint16_t p = 0xFFFF;
    FadeOp(0).span(&p, &p + 1);
    EXPECT_EQ(p, 0);
    p = 0xABCD;
    FadeOp(16).span(&p, &p + 1);
    EXPECT_EQ(p, 0xABCD);
    p = 0xABCD;
    FadeOp(8).span(&p, &p + 1);
    EXPECT_EQ(p, scaled(0xABCD, 1));
}

TEST(FadeOp, spans_on_odd_addresses_change_every_pixel_exactly_once)
{
    alignas(4) std::uint16_t pixels[24];
    for (int first = 0; first < 4; ++first) {
        for (int count = 0; count < 13; ++count) {
            auto original = random_pixels(24, static_cast<unsigned>(first * 100 + count));
            std::copy(original.begin(), original.end(), pixels);
            FadeOp(8).span(pixels + first, pixels + first + count);
            for (int i = 0; i < 24; ++i) {
                bool inside = i >= first && i < first + count;
                ASSERT_EQ(pixels[i], inside ? scaled(original[i], 1) : original[i])
                    << "first " << first << " count " << count << " pixel " << i;
            }
        }
    }
}
