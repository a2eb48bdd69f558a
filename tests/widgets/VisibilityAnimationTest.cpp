#include "WidgetFixture.h"

#include "imaging/PixelBuffer.h"
#include "widgets/VisibilityAnimation.h"

#include <cmath>

using namespace qv;
using test::LoadedForm;

namespace {

constexpr std::uint16_t kBackground = 0x1234;
constexpr std::uint16_t kKey = 0xF81F;
constexpr std::uint16_t kRed = 31 << 11;
constexpr std::uint16_t kGreen = 63 << 5;

struct Canvas {
    std::unique_ptr<PixelBuffer> buffer;
    DrawTarget target;
    explicit Canvas(int w = 80, int h = 80)
        : buffer(PixelBuffer::create(w, h))
        , target(buffer.get())
    {
        clear();
    }
    void clear()
    {
        for (int y = 0; y < buffer->height(); ++y)
            for (int x = 0; x < buffer->width(); ++x)
                buffer->at(x, y) = kBackground;
    }
    std::uint16_t at(int x, int y) const { return buffer->at(x, y); }
    // The smallest rectangle holding every pixel that is not background.
    Rect extent() const
    {
        Rect r { buffer->width(), buffer->height(), 0, 0 };
        for (int y = 0; y < buffer->height(); ++y)
            for (int x = 0; x < buffer->width(); ++x)
                if (at(x, y) != kBackground)
                    r = { std::min(r.left, x), std::min(r.top, y), std::max(r.right, x + 1), std::max(r.bottom, y + 1) };
        return r;
    }
    int column_height(int x) const
    {
        int n = 0;
        for (int y = 0; y < buffer->height(); ++y)
            n += at(x, y) != kBackground;
        return n;
    }
};

void fill(RenderSurface& surface, Size size, std::uint16_t colour)
{
    surface.recreate(size);
    for (int y = 0; y < size.height; ++y)
        for (int x = 0; x < size.width; ++x)
            surface.buffer()->at(x, y) = colour;
}

// Every pixel different, none of them the key, so a shifted or resampled
// copy cannot pass for an exact one.
void fill_pattern(RenderSurface& surface, Size size, std::uint16_t seed)
{
    surface.recreate(size);
    for (int y = 0; y < size.height; ++y)
        for (int x = 0; x < size.width; ++x)
            surface.buffer()->at(x, y) = static_cast<std::uint16_t>(seed + y * 97 + x * 3) & 0x7FDF;
}

bool same_pixels(Canvas const& a, Canvas const& b)
{
    for (int y = 0; y < a.buffer->height(); ++y)
        for (int x = 0; x < a.buffer->width(); ++x)
            if (a.at(x, y) != b.at(x, y))
                return false;
    return true;
}

std::string animated_box(std::string const& animation)
{
    return "form Anim\n    string type node\n    node box\n        string type color\n"
           "        color color 255 0 0\n        string anchor_x MIN_SIDE\n        string anchor_y MIN_SIDE\n"
           "        point border_min 8 8\n        point design_size 32 32\n        string visibility_animation "
        + animation + "\n";
}

}

TEST(VisibilityAnimation, names_choose_kinds_and_speeds_exactly)
{
    struct Case {
        char16_t const* name;
        double speed;
    };
    for (auto c : { Case { u"scale", 1.0 }, Case { u"pop", 0.5 }, Case { u"right", 1.0 }, Case { u"bottom", 1.0 },
             Case { u"left", 1.0 }, Case { u"top", 1.0 }, Case { u"flip", 0.5 } }) {
        auto animation = make_visibility_animation(c.name);
        ASSERT_NE(animation, nullptr) << to_utf8(c.name);
        EXPECT_EQ(animation->speed(), c.speed) << to_utf8(c.name);
        EXPECT_FALSE(animation->running());
        auto copy = animation->clone();
        EXPECT_EQ(copy->speed(), c.speed);
        EXPECT_EQ(typeid(*copy), typeid(*animation));
    }
    for (auto const* name : { u"", u"Scale", u"spin", u"scale " })
        EXPECT_EQ(make_visibility_animation(name), nullptr) << to_utf8(name);
}

TEST(VisibilityAnimation, scale_shows_in_four_frames_growing_from_the_centre)
{
    LoadedForm f(animated_box("scale"), u"Anim", { 48, 48 });
    auto& box = f.child(u"box");
    box.set_visible(false);
    box.show(true);
    auto* animation = box.visibility_animation();
    ASSERT_NE(animation, nullptr);
    ASSERT_TRUE(animation->running());
    EXPECT_EQ(box.cache_surface().size(), (Size {})) << "the animation took the picture over";
    for (int frame = 1; frame <= 3; ++frame) {
        f.form.advance(0.05);
        double const p = frame * 0.25;
        EXPECT_NEAR(animation->progress(), p, 1e-9);
        ASSERT_TRUE(animation->running());
        EXPECT_TRUE(f.form.needs_redraw());
        Canvas canvas;
        f.form.paint(canvas.target, { 0, 0 });
        // 1/16, 1/4 and 9/16 of 32 pixels, centred on the box.
        int const side = 32 * frame * frame / 16;
        int const inset = (32 - side) / 2;
        EXPECT_EQ(canvas.extent(), (Rect { 8 + inset, 8 + inset, 8 + inset + side, 8 + inset + side }))
            << "frame " << frame;
        EXPECT_EQ(canvas.at(8 + inset, 8 + inset), kRed);
    }
    f.form.advance(0.05);
    EXPECT_FALSE(animation->running());
    EXPECT_EQ(animation->progress(), 1.0);
    EXPECT_EQ(animation->to_surface().size(), (Size {}));
    Canvas canvas;
    f.form.paint(canvas.target, { 0, 0 });
    EXPECT_EQ(canvas.extent(), (Rect { 8, 8, 40, 40 })) << "finished: the element draws itself";
    // A second run takes a fresh picture of the element.
    box.show(false);
    canvas.clear();
    f.form.paint(canvas.target, { 0, 0 });
    EXPECT_EQ(canvas.extent(), (Rect { 8, 8, 40, 40 }));
    EXPECT_EQ(canvas.at(8, 8), kRed);
}

TEST(VisibilityAnimation, pop_overshoots_midway_and_hides_in_four_tenths_of_a_second)
{
    EXPECT_EQ(pop_factor(0.0), 0.0);
    EXPECT_NEAR(pop_factor(1.0), 1.0, 1e-12);
    EXPECT_NEAR(pop_factor(0.5), 1.21, 0.005);

    ScaleAnimation pop(true);
    RenderSurface image;
    fill(image, { 32, 32 }, kRed);
    pop.start(nullptr, -1, &image);
    EXPECT_EQ(image.size(), (Size {}));
    EXPECT_EQ(pop.progress(), 1.0);
    pop.advance(0.1);
    pop.advance(0.1);
    EXPECT_NEAR(pop.progress(), 0.5, 1e-9);
    Canvas canvas;
    pop.draw(canvas.target, { 20, 20 });
    // About 1.21 times 32 pixels, still centred on the element.
    auto const drawn = canvas.extent();
    EXPECT_EQ(drawn.width(), 38);
    EXPECT_EQ(drawn.left, 20 + (32 - 38) / 2);
    pop.advance(0.1);
    EXPECT_TRUE(pop.running());
    pop.advance(0.1);
    EXPECT_FALSE(pop.running());
    EXPECT_EQ(pop.progress(), 0.0);
    EXPECT_EQ(pop.direction(), 0);
}

TEST(VisibilityAnimation, slides_place_both_pictures_by_side_inside_the_element)
{
    struct Case {
        char16_t const* name;
        Point to_offset; // at progress 0.25 of a 20 x 10 picture
        Point from_offset;
    };
    for (auto c : { Case { u"right", { 15, 0 }, { -5, 0 } }, Case { u"bottom", { 0, 7 }, { 0, -3 } },
             Case { u"left", { -15, 0 }, { 5, 0 } }, Case { u"top", { 0, -7 }, { 0, 3 } } }) {
        auto slide = make_visibility_animation(c.name);
        RenderSurface from;
        RenderSurface to;
        fill(from, { 20, 10 }, kGreen);
        fill(to, { 20, 10 }, kRed);
        slide->start(&from, 1, &to);
        slide->advance(0.05);
        Canvas canvas(40, 30);
        Point const origin { 10, 10 };
        slide->draw(canvas.target, origin);
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 40; ++x) {
                int const lx = x - origin.x;
                int const ly = y - origin.y;
                bool const inside = lx >= 0 && lx < 20 && ly >= 0 && ly < 10;
                auto in = [&](Point o) { return lx - o.x >= 0 && lx - o.x < 20 && ly - o.y >= 0 && ly - o.y < 10; };
                std::uint16_t const expected = !inside ? kBackground
                    : in(c.to_offset)                  ? kRed
                    : in(c.from_offset)                ? kGreen
                                                       : kBackground;
                ASSERT_EQ(canvas.at(x, y), expected) << to_utf8(c.name) << " at " << x << "," << y;
            }
    }
}

TEST(VisibilityAnimation, a_slide_reversed_half_way_hides_from_there)
{
    LoadedForm f(animated_box("right"), u"Anim", { 48, 48 });
    auto& box = f.child(u"box");
    box.set_visible(false);
    box.show(true);
    auto* animation = box.visibility_animation();
    f.form.advance(0.05);
    f.form.advance(0.05);
    EXPECT_NEAR(animation->progress(), 0.5, 1e-9);
    box.show(false);
    EXPECT_FALSE(box.visible());
    EXPECT_EQ(animation->direction(), -1);
    EXPECT_NEAR(animation->progress(), 0.5, 1e-9);
    Canvas canvas;
    f.form.paint(canvas.target, { 0, 0 });
    EXPECT_EQ(canvas.extent(), (Rect { 8 + 16, 8, 40, 40 })) << "still drawn while hiding";
    f.form.advance(0.05);
    EXPECT_NEAR(animation->progress(), 0.25, 1e-9);
    f.form.advance(0.05);
    EXPECT_FALSE(animation->running());
    canvas.clear();
    f.form.paint(canvas.target, { 0, 0 });
    EXPECT_TRUE(canvas.extent().is_empty());
    // Shown again while hiding: turns back towards fully shown.
    box.show(true);
    f.form.advance(0.05);
    box.show(false);
    box.show(true);
    EXPECT_EQ(animation->direction(), 1);
    EXPECT_TRUE(box.visible());
}

TEST(VisibilityAnimation, flip_starts_and_ends_exactly_on_its_pictures)
{
    Size const size { 24, 16 };
    FlipAnimation flip;
    EXPECT_EQ(flip.speed(), 0.5);
    for (int direction : { 1, -1 }) {
        RenderSurface from;
        RenderSurface to;
        fill_pattern(from, size, 1);
        fill_pattern(to, size, 5000);
        Canvas expected;
        (direction > 0 ? from : to).draw_onto(expected.target, { 7, 9 }, copy_op());
        flip.start(&from, direction, &to);
        Canvas canvas;
        flip.draw(canvas.target, { 7, 9 });
        EXPECT_TRUE(same_pixels(canvas, expected)) << "direction " << direction;
        flip.advance(0.2);
        EXPECT_TRUE(flip.running()) << "half way after 0.2 s at speed 0.5";
        flip.advance(0.2);
        EXPECT_FALSE(flip.running());
    }
}

TEST(VisibilityAnimation, flip_midway_frames_turn_in_perspective)
{
    FlipAnimation flip;
    RenderSurface from;
    RenderSurface to;
    fill(from, { 40, 30 }, kGreen);
    fill(to, { 40, 30 }, kRed);
    flip.start(&from, 1, &to);
    Canvas canvas;
    for (auto [colour, near_left] : { std::pair { kGreen, true }, std::pair { kRed, false } }) {
        flip.advance(0.1); // progress 0.25, then 0.5 (edge-on) and 0.75
        if (colour == kRed)
            flip.advance(0.1);
        canvas.clear();
        flip.draw(canvas.target, { 20, 20 });
        auto const drawn = canvas.extent();
        EXPECT_LT(drawn.width(), 40);
        EXPECT_GT(drawn.width(), 20);
        EXPECT_EQ(canvas.at(drawn.left, 35), colour);
        // The edge turned towards the viewer stands taller than the far one.
        auto const left = canvas.column_height(drawn.left);
        auto const right = canvas.column_height(drawn.right - 1);
        EXPECT_EQ(left > 30, near_left);
        EXPECT_EQ(right > 30, !near_left);
    }
    // With nothing underneath the picture turns in through the whole run.
    fill(to, { 40, 30 }, kRed);
    flip.start(nullptr, 1, &to);
    canvas.clear();
    flip.draw(canvas.target, { 20, 20 });
    EXPECT_TRUE(canvas.extent().is_empty()) << "edge-on at the start";
    flip.advance(0.1);
    canvas.clear();
    flip.draw(canvas.target, { 20, 20 });
    EXPECT_GT(canvas.extent().width(), 0);
}

TEST(VisibilityAnimation, an_element_without_an_animation_shows_and_hides_at_once)
{
    LoadedForm f(animated_box("spin"), u"Anim", { 48, 48 });
    auto& box = f.child(u"box");
    EXPECT_EQ(box.visibility_animation(), nullptr);
    box.show(false);
    EXPECT_FALSE(box.visible());
    Canvas canvas;
    f.form.paint(canvas.target, { 0, 0 });
    EXPECT_TRUE(canvas.extent().is_empty());
    box.show(true);
    f.form.paint(canvas.target, { 0, 0 });
    EXPECT_EQ(canvas.extent(), (Rect { 8, 8, 40, 40 }));
}

TEST(VisibilityAnimation, a_cached_element_lends_its_cache_operation)
{
    // A red square in a larger cached box: the rest of the cache is key.
    auto source = [](int cache_alpha) {
        return "form Anim\n    string type node\n    node box\n        string type node\n"
               "        string anchor_x MIN_SIDE\n        string anchor_y MIN_SIDE\n"
               "        point design_size 20 20\n        int cache 1\n        int cache_alpha "
            + std::to_string(cache_alpha)
            + "\n        string visibility_animation right\n        node square\n"
              "            string type color\n            color color 255 0 0\n"
              "            string anchor_x MIN_SIDE\n            string anchor_y MIN_SIDE\n"
              "            point design_size 10 10\n";
    };
    for (int alpha : { -1, 0 }) {
        LoadedForm f(source(alpha), u"Anim", { 40, 40 });
        auto& box = f.child(u"box");
        box.show(false); // starts fully shown
        Canvas canvas;
        f.form.paint(canvas.target, { 0, 0 });
        EXPECT_EQ(canvas.at(5, 5), kRed);
        EXPECT_EQ(canvas.at(15, 15), alpha == -1 ? kKey : kBackground) << "cache_alpha " << alpha;
    }
}

