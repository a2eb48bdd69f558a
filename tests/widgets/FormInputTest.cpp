#include "WidgetFixture.h"

using namespace qv;

namespace {

// An input element over a fixed rectangle that records what reaches it.
class Pad : public Element {
public:
    Pad(Element* parent, Rect area, bool consumes)
        : Element(parent)
        , m_consumes(consumes)
    {
        root()->register_interactive(this);
        m_area = area;
    }

    bool hit_test(Point p) const override
    {
        return p.x >= m_area.left && p.x < m_area.right && p.y >= m_area.top && p.y < m_area.bottom;
    }
    bool on_pointer_button(PointerEvent const& event) override
    {
        buttons.push_back(event);
        return m_consumes;
    }
    void on_pointer_move(PointerEvent const& event) override { moves.push_back(event); }
    bool on_key(KeyInput const& key) override
    {
        keys.push_back(key);
        return m_consumes;
    }

    std::vector<PointerEvent> buttons;
    std::vector<PointerEvent> moves;
    std::vector<KeyInput> keys;

private:
    Rect m_area;
    bool m_consumes;
};

PointerEvent press(int x, int y) { return { { x, y }, 100, true, false }; }
PointerEvent release(int x, int y) { return { { x, y }, 200, false, false }; }

struct ShownForm {
    Form form;
    ShownForm() { form.set_visible(true); }
};

}

TEST(FormInput, a_press_goes_to_overlapping_pads_in_order_until_one_takes_it)
{
    ShownForm f;
    auto* passer = new Pad(&f.form, { 0, 0, 50, 50 }, false);
    auto* taker = new Pad(&f.form, { 10, 10, 60, 60 }, true);
    auto* hidden_under = new Pad(&f.form, { 0, 0, 60, 60 }, true);

    f.form.on_pointer_button(press(20, 20));
    EXPECT_EQ(passer->buttons.size(), 1u);
    EXPECT_EQ(taker->buttons.size(), 1u);
    EXPECT_TRUE(hidden_under->buttons.empty());
    EXPECT_EQ(f.form.captured(), (std::vector<Element*> { passer, taker }));

    // Moves go to the holders only, wherever the pointer is.
    f.form.on_pointer_move({ { 500, 500 }, 150, false, false });
    EXPECT_EQ(passer->moves.size(), 1u);
    EXPECT_EQ(taker->moves.size(), 1u);
    EXPECT_TRUE(hidden_under->moves.empty());

    // The release reaches both holders even though it is off them.
    f.form.on_pointer_button(release(500, 500));
    EXPECT_EQ(passer->buttons.size(), 2u);
    EXPECT_EQ(taker->buttons.size(), 2u);
    EXPECT_FALSE(taker->buttons.back().down);
    EXPECT_TRUE(hidden_under->buttons.empty());
    EXPECT_TRUE(f.form.captured().empty());

    // Unheld moves go to every usable pad under the pointer.
    f.form.on_pointer_move({ { 55, 55 }, 300, false, false });
    EXPECT_EQ(taker->moves.size(), 2u);
    EXPECT_EQ(hidden_under->moves.size(), 1u);
    EXPECT_EQ(passer->moves.size(), 1u);
}

TEST(FormInput, hiding_the_form_cancels_a_held_press)
{
    ShownForm f;
    auto* pad = new Pad(&f.form, { 0, 0, 50, 50 }, true);
    f.form.on_pointer_button(press(5, 5));
    f.form.set_visible(false);
    ASSERT_EQ(pad->buttons.size(), 2u);
    auto const& cancel = pad->buttons.back();
    EXPECT_FALSE(cancel.down);
    EXPECT_TRUE(cancel.position_unknown);
    EXPECT_EQ(cancel.position, (Point { -1, -1 }));
    EXPECT_TRUE(f.form.captured().empty());
    EXPECT_FALSE(f.form.screen().visible());
}

TEST(FormInput, disabled_or_destroyed_pads_get_nothing)
{
    ShownForm f;
    auto* first = new Pad(&f.form, { 0, 0, 50, 50 }, true);
    auto* second = new Pad(&f.form, { 0, 0, 50, 50 }, true);
    first->set_enabled(false);
    f.form.on_pointer_button(press(5, 5));
    EXPECT_TRUE(first->buttons.empty());
    EXPECT_EQ(second->buttons.size(), 1u);

    // A holder that goes away leaves the form's lists with it.
    delete second;
    EXPECT_TRUE(f.form.captured().empty());
    EXPECT_EQ(f.form.interactive(), (std::vector<Element*> { first }));
    f.form.on_pointer_button(release(5, 5));
    EXPECT_TRUE(first->buttons.empty());
}

TEST(FormInput, keys_stop_at_the_first_pad_that_takes_them)
{
    ShownForm f;
    auto* passer = new Pad(&f.form, {}, false);
    auto* taker = new Pad(&f.form, {}, true);
    auto* last = new Pad(&f.form, {}, true);
    KeyInput key { Key::Enter, true, true };
    EXPECT_TRUE(f.form.on_key(key));
    EXPECT_EQ(passer->keys.size(), 1u);
    EXPECT_EQ(taker->keys.size(), 1u);
    EXPECT_TRUE(last->keys.empty());
    taker->set_visible(false);
    EXPECT_TRUE(f.form.on_key(key));
    EXPECT_EQ(taker->keys.size(), 1u);
    EXPECT_EQ(last->keys.size(), 1u);
}

TEST(FormInput, the_screen_face_places_draws_and_forwards_input)
{
    test::WidgetTypesScope types;
    auto store = test::skin_from_source(R"(form Face
    string type node
    color outside_color 10 20 30
    node fill
        string type color
        color color 0 0 255
)");
    Form form;
    ASSERT_TRUE(form.load_form(*store, u"Face"));
    EXPECT_EQ(form.outside_color(), (SkinColor { 10, 20, 30, 255 }));
    Screen& screen = form.screen();
    EXPECT_FALSE(screen.visible());
    screen.set_visible(true);
    EXPECT_TRUE(form.visible());
    screen.set_size({ 8, 6 });
    EXPECT_EQ(form.find_child(u"fill")->size(), (Size { 8, 6 }));
    EXPECT_TRUE(screen.needs_redraw());

    auto buffer = PixelBuffer::create(8, 6);
    DrawTarget target(buffer.get());
    screen.draw(target, { 0, 0 });
    EXPECT_EQ(buffer->at(7, 5), 0x001F);
    EXPECT_FALSE(screen.needs_redraw());

    auto* pad = new Pad(&form, { 0, 0, 8, 6 }, true);
    screen.on_pointer_button({ 3, 3 }, true, true, 42);
    screen.on_pointer_button({}, false, false, 43);
    ASSERT_EQ(pad->buttons.size(), 2u);
    EXPECT_EQ(pad->buttons[0].tick, 42u);
    EXPECT_TRUE(pad->buttons[1].position_unknown);
}

namespace {

// A screen's own use of the mouse beyond the pen.
class MouseForm : public Form {
public:
    bool on_wheel(Point point, double notches, bool ctrl) override
    {
        wheels.push_back({ point, notches, ctrl });
        return true;
    }
    bool on_double_click(Point point) override
    {
        double_clicks.push_back(point);
        return true;
    }
    bool on_menu_click(Point point) override
    {
        menu_clicks.push_back(point);
        return true;
    }

    struct Wheel {
        Point point;
        double notches;
        bool ctrl;
    };
    std::vector<Wheel> wheels;
    std::vector<Point> double_clicks;
    std::vector<Point> menu_clicks;
};

}

TEST(FormInput, the_screen_face_hands_the_wheel_double_click_and_menu_click_to_its_form)
{
    MouseForm form;
    form.set_visible(true);
    auto* pad = new Pad(&form, { 0, 0, 8, 6 }, true);
    Screen& screen = form.screen();
    screen.on_wheel({ 2, 3 }, -0.75, true);
    screen.on_double_click({ 4, 5 });
    screen.on_menu_click({ 6, 1 });
    ASSERT_EQ(form.wheels.size(), 1u);
    EXPECT_EQ(form.wheels[0].point, (Point { 2, 3 }));
    EXPECT_DOUBLE_EQ(form.wheels[0].notches, -0.75);
    EXPECT_TRUE(form.wheels[0].ctrl);
    EXPECT_EQ(form.double_clicks, (std::vector<Point> { Point { 4, 5 } }));
    EXPECT_EQ(form.menu_clicks, (std::vector<Point> { Point { 6, 1 } }));
    // None of it is pen input for the elements.
    EXPECT_TRUE(pad->buttons.empty());
    EXPECT_TRUE(pad->moves.empty());

    // A plain form has no use for them and lets them pass.
    Form plain;
    EXPECT_FALSE(plain.on_wheel({ 1, 1 }, 1, false));
    EXPECT_FALSE(plain.on_double_click({ 1, 1 }));
    EXPECT_FALSE(plain.on_menu_click({ 1, 1 }));
}
