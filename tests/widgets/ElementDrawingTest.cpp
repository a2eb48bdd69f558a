#include "WidgetFixture.h"

#include "imaging/PixelBuffer.h"

using namespace qv;
using test::LoadedForm;

namespace {

constexpr std::uint16_t kBackground = 0x1234;
constexpr std::uint16_t kKey = 0xF81F;
constexpr std::uint16_t kRed = 31 << 11;

std::string cached_source(int cache_alpha)
{
    return "form Cached\n    string type node\n    node cached\n        string type node\n"
           "        int cache 1\n        int cache_alpha "
        + std::to_string(cache_alpha)
        + "\n        node square\n            string type color\n            color color 255 0 0\n"
          "            string anchor_x MIN_SIDE\n            string anchor_y MIN_SIDE\n"
          "            point design_size 10 10\n";
}

struct Canvas {
    std::unique_ptr<PixelBuffer> buffer = PixelBuffer::create(40, 40);
    DrawTarget target { buffer.get() };
    Canvas()
    {
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 40; ++x)
                buffer->at(x, y) = kBackground;
    }
    std::uint16_t at(int x, int y) const { return buffer->at(x, y); }
};

class CountingElement : public Element {
public:
    using Element::Element;
    int draws = 0;
    void draw(DrawTarget& target, Point origin) override
    {
        ++draws;
        Element::draw(target, origin);
    }
};

}

TEST(ElementDrawing, a_cache_is_filled_with_the_key_and_copied_by_its_operation)
{
    {
        LoadedForm f(cached_source(-1), u"Cached", { 40, 40 });
        Canvas canvas;
        f.form.paint(canvas.target, { 0, 0 });
        EXPECT_EQ(canvas.at(5, 5), kRed);
        // The plain copy carries the key colour of the unpainted part along.
        EXPECT_EQ(canvas.at(20, 20), kKey);
        EXPECT_EQ(f.child(u"cached").cache_surface().size(), (Size { 40, 40 }));
    }
    {
        LoadedForm f(cached_source(0), u"Cached", { 40, 40 });
        Canvas canvas;
        f.form.paint(canvas.target, { 0, 0 });
        EXPECT_EQ(canvas.at(5, 5), kRed);
        EXPECT_EQ(canvas.at(20, 20), kBackground);
    }
}

TEST(ElementDrawing, a_cached_subtree_is_drawn_once_until_marked_and_released_when_hidden)
{
    LoadedForm f(cached_source(-1), u"Cached", { 40, 40 });
    auto& cached = f.child(u"cached");
    auto* counter = new CountingElement(&cached);
    f.form.place({ 40, 40 });
    Canvas canvas;
    f.form.paint(canvas.target, { 0, 0 });
    f.form.paint(canvas.target, { 0, 0 });
    EXPECT_EQ(counter->draws, 1);
    EXPECT_FALSE(f.form.needs_redraw());
    counter->invalidate_drawing();
    EXPECT_TRUE(f.form.needs_redraw());
    f.form.paint(canvas.target, { 0, 0 });
    EXPECT_EQ(counter->draws, 2);

    f.form.set_visible(false);
    EXPECT_EQ(cached.cache_surface().size(), (Size { 0, 0 }));
}

TEST(ElementDrawing, children_draw_relative_to_the_origin_and_clips_hold_them_in)
{
    LoadedForm f(R"(form Clip
    string type node
    node box
        string type clip
        string anchor_x MIN_SIDE
        string anchor_y MIN_SIDE
        point border_min 4 4
        point design_size 10 10
        node wide
            string type color
            color color 255 0 0
            string anchor_x MIN_SIDE_NO_SIZE
            string anchor_y MIN_SIDE_NO_SIZE
            point design_size 30 30
)",
        u"Clip", { 30, 30 });
    Canvas canvas;
    f.form.paint(canvas.target, { 5, 5 });
    EXPECT_EQ(canvas.at(5 + 4, 5 + 4), kRed);
    EXPECT_EQ(canvas.at(5 + 13, 5 + 13), kRed);
    EXPECT_EQ(canvas.at(5 + 14, 5 + 4), kBackground);
    EXPECT_EQ(canvas.at(5 + 4, 5 + 14), kBackground);
    EXPECT_EQ(canvas.at(8, 8), kBackground);
}

TEST(ElementVisibility, hiding_a_parent_keeps_each_childs_own_setting)
{
    LoadedForm f(R"(form Vis
    string type node
    node parent
        string type node
        node a
            string type node
        node b
            string type node
            node grandchild
                string type node
)",
        u"Vis", { 20, 20 });
    auto& parent = f.child(u"parent");
    auto& a = f.child(u"a");
    auto& b = f.child(u"b");
    auto& grandchild = f.child(u"grandchild");
    b.set_visible(false);
    EXPECT_FALSE(grandchild.shown());
    EXPECT_TRUE(grandchild.visible());

    parent.set_visible(false);
    EXPECT_FALSE(a.shown());
    EXPECT_TRUE(a.visible());
    EXPECT_FALSE(b.visible());

    parent.set_visible(true);
    EXPECT_TRUE(a.shown());
    EXPECT_FALSE(b.shown());
    EXPECT_FALSE(grandchild.shown());
    b.set_visible(true);
    EXPECT_TRUE(grandchild.shown());
    // A child built under a hidden parent starts hidden by inheritance.
    parent.set_visible(false);
    auto* late = new Element(&parent);
    EXPECT_TRUE(late->visible());
    EXPECT_FALSE(late->shown());
}

TEST(ElementVisibility, disabling_reaches_descendants_and_asks_for_a_redraw)
{
    LoadedForm f(R"(form En
    string type node
    node parent
        string type node
        node a
            string type node
)",
        u"En", { 20, 20 });
    Canvas canvas;
    f.form.paint(canvas.target, { 0, 0 });
    auto& a = f.child(u"a");
    EXPECT_TRUE(a.usable());
    f.child(u"parent").set_enabled(false);
    EXPECT_FALSE(a.usable());
    EXPECT_TRUE(a.enabled());
    EXPECT_TRUE(f.form.needs_redraw());
    EXPECT_FALSE(f.form.layout_pending()) << "enabling does not touch the measures";
    f.child(u"parent").set_enabled(true);
    EXPECT_TRUE(a.usable());
}

TEST(ElementDrawing, a_shade_darkens_what_lies_under_it_and_a_colour_covers_it)
{
    LoadedForm f(R"(form Shaded
    string type node
    node shade
        string type color
        string anchor_y MIN_SIDE
        point design_size 0 10
        int brightness 128
    node plain
        string type color
        string anchor_y MAX_SIDE
        point design_size 0 10
        color color 255 0 0
)",
        u"Shaded", { 40, 40 });
    Canvas canvas;
    f.form.paint(canvas.target, { 0, 0 });
    // 0x1234 is red 2, green 17, blue 20 of 31, 63, 31: halved, 1, 8, 10.
    EXPECT_EQ(canvas.at(5, 5), (1 << 11) | (8 << 5) | 10);
    EXPECT_EQ(canvas.at(5, 20), kBackground);
    EXPECT_EQ(canvas.at(5, 35), kRed);
}
