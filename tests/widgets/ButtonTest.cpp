#include "WidgetFixture.h"

#include "skin/SkinErrors.h"
#include "widgets/ButtonElement.h"

using namespace qv;
using test::LoadedForm;

namespace {

constexpr char const* kButtons = R"(form Buttons
    string type node
    node ok
        string type button
        string anchor_x MIN_SIDE
        string anchor_y MIN_SIDE
        point border_min 10 10
        point design_size 40 20
        string bind_key Enter
        node #normal
            string type color
        node #pressed
            string type color
        node #disabled
            string type color
    node plain
        string type button
        string anchor_x MIN_SIDE
        string anchor_y MIN_SIDE
        point border_min 60 10
        point design_size 20 20
        node #normal
            string type color
    node box
        string type checkbox
        int states 3
        string anchor_x MIN_SIDE
        string anchor_y MIN_SIDE
        point border_min 0 50
        point design_size 20 20
        node #state_0
            string type button
        node #state_1
            string type button
        node #state_2
            string type button
)";

struct Recorder : ButtonHandler {
    std::vector<Point> clicks;
    std::vector<PressChange> changes;
    std::vector<Point> steps;
    bool on_click(Element&, Point position) override
    {
        clicks.push_back(position);
        return true;
    }
    void on_pressed_changed(Element&, PressChange const& change) override { changes.push_back(change); }
    void on_drag(Element&, DragStep& drag) override { steps.push_back(drag.step); }
};

PointerEvent pointer(int x, int y, bool down) { return { { x, y }, 0, down, false }; }

struct ButtonForm : LoadedForm {
    Recorder recorder;
    ButtonElement* ok = nullptr;
    ButtonForm()
        : LoadedForm(kButtons, u"Buttons", { 100, 100 })
    {
        EXPECT_TRUE(form.bind_child(u"ok", &recorder));
        ok = dynamic_cast<ButtonElement*>(&child(u"ok"));
    }
};

}

TEST(Button, a_press_and_release_inside_clicks_and_changes_the_look_twice)
{
    ButtonForm f;
    ASSERT_NE(f.ok, nullptr);
    EXPECT_EQ(f.ok->current_look(), f.form.find_child(u"#normal"));
    f.form.on_pointer_button(pointer(15, 15, true));
    EXPECT_TRUE(f.ok->pressed());
    EXPECT_EQ(f.ok->current_look(), f.form.find_child(u"#pressed"));
    EXPECT_TRUE(f.ok->current_look()->visible());
    EXPECT_FALSE(f.form.find_child(u"#normal")->visible());
    f.form.on_pointer_button(pointer(20, 20, false));
    ASSERT_EQ(f.recorder.clicks.size(), 1u);
    EXPECT_EQ(f.recorder.clicks[0], (Point { 20, 20 }));
    EXPECT_EQ(f.recorder.changes.size(), 2u);
    EXPECT_TRUE(f.form.find_child(u"#normal")->visible());
}

TEST(Button, moving_off_before_the_release_gives_no_click)
{
    ButtonForm f;
    f.form.on_pointer_button(pointer(15, 15, true));
    f.form.on_pointer_move(pointer(30, 18, false));
    f.form.on_pointer_move(pointer(90, 90, false));
    f.form.on_pointer_button(pointer(90, 90, false));
    EXPECT_TRUE(f.recorder.clicks.empty());
    EXPECT_EQ(f.recorder.changes.size(), 2u);
    EXPECT_FALSE(f.recorder.changes.back().cancelled);
    // A zero step on the press, then each move's difference.
    ASSERT_EQ(f.recorder.steps.size(), 3u);
    EXPECT_EQ(f.recorder.steps[0], (Point { 0, 0 }));
    EXPECT_EQ(f.recorder.steps[1], (Point { 15, 3 }));
    EXPECT_EQ(f.recorder.steps[2], (Point { 60, 72 }));
}

TEST(Button, the_bound_key_clicks_at_the_centre_and_other_keys_pass)
{
    ButtonForm f;
    EXPECT_FALSE(f.form.on_key({ Key::Space, true, true }));
    EXPECT_TRUE(f.form.on_key({ Key::Enter, true, true }));
    EXPECT_TRUE(f.recorder.clicks.empty());
    EXPECT_TRUE(f.form.on_key({ Key::Enter, false, true }));
    ASSERT_EQ(f.recorder.clicks.size(), 1u);
    // The button sits at (10, 10), 40 by 20.
    EXPECT_EQ(f.recorder.clicks[0], (Point { 30, 20 }));
}

TEST(Button, a_disabled_button_shows_its_disabled_look_and_a_held_one_lets_go)
{
    ButtonForm f;
    f.form.on_pointer_button(pointer(15, 15, true));
    f.ok->set_enabled(false);
    EXPECT_FALSE(f.ok->pressed());
    EXPECT_EQ(f.ok->current_look(), f.form.find_child(u"#disabled"));
    EXPECT_FALSE(f.form.find_child(u"#normal")->visible());
    ASSERT_EQ(f.recorder.changes.size(), 2u);
    EXPECT_TRUE(f.recorder.changes[1].cancelled);
    f.form.on_pointer_button(pointer(15, 15, false));
    EXPECT_TRUE(f.recorder.clicks.empty());

    // A button with no disabled look keeps its normal one.
    auto* plain = dynamic_cast<ButtonElement*>(f.form.find_child(u"plain"));
    ASSERT_NE(plain, nullptr);
    plain->set_enabled(false);
    EXPECT_EQ(plain->current_look(), plain->find_child(u"#normal"));
    EXPECT_TRUE(plain->current_look()->visible());
}

TEST(Button, hiding_the_form_cancels_the_press)
{
    ButtonForm f;
    f.form.on_pointer_button(pointer(15, 15, true));
    f.form.set_visible(false);
    EXPECT_FALSE(f.ok->pressed());
    ASSERT_EQ(f.recorder.changes.size(), 2u);
    EXPECT_TRUE(f.recorder.changes[1].cancelled);
    EXPECT_TRUE(f.recorder.clicks.empty());
}

TEST(Checkbox, a_three_state_box_cycles_and_hands_clicks_to_its_handler)
{
    ButtonForm f;
    auto* box = dynamic_cast<CheckboxElement*>(f.form.find_child(u"box"));
    ASSERT_NE(box, nullptr);
    ASSERT_EQ(box->states().size(), 3u);
    auto click = [&] {
        f.form.on_pointer_button(pointer(5, 55, true));
        f.form.on_pointer_button(pointer(5, 55, false));
    };
    std::vector<int> seen;
    for (int i = 0; i < 4; ++i) {
        seen.push_back(box->state());
        for (int s = 0; s < 3; ++s)
            EXPECT_EQ(box->states()[s]->visible(), s == box->state());
        click();
    }
    EXPECT_EQ(seen, (std::vector<int> { 0, 1, 2, 0 }));

    Recorder handler;
    ASSERT_TRUE(f.form.bind_child(u"box", &handler));
    int const before = box->state();
    click();
    EXPECT_EQ(handler.clicks.size(), 1u);
    EXPECT_EQ(box->state(), before) << "a handler decides the state itself";
    box->set_state(7);
    EXPECT_EQ(box->state(), before);
}

TEST(Checkbox, a_missing_state_child_is_reported_by_name)
{
    test::WidgetTypesScope types;
    auto store = test::skin_from_source(R"(form Short
    string type node
    node box
        string type checkbox
        node #state_0
            string type button
)");
    Form form;
    try {
        form.load_form(*store, u"Short");
        FAIL() << "no exception";
    } catch (NodeNotFound const& error) {
        EXPECT_EQ(error.container_id(), u"box");
        EXPECT_EQ(error.child_id(), u"#state_1");
    }
}
