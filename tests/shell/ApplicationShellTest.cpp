#include "shell/Application.h"
#include "base/Log.h"
#include "base/Registry.h"
#include "imaging/PixelOp.h"
#include "platform/WindowMessages.h"
#include "HeadlessEnvironment.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <thread>
#include <vector>

using namespace qv;

namespace {

struct Press {
    Point point;
    bool pressed;
    bool has_position;
};

class RecordingScreen final : public Screen {
public:
    explicit RecordingScreen(std::uint16_t colour)
        : m_colour(colour)
    {
    }
    void draw(DrawTarget& target, Point origin) override
    {
        if (m_colour != 0xF81F)
            fill_rect(target, origin.x, origin.y, size().width, size().height, ColourFillOp(m_colour));
    }
    void on_pointer_button(Point point, bool pressed, bool has_position, std::uint32_t) override
    {
        m_presses.push_back({ point, pressed, has_position });
    }
    bool on_key(KeyInput const& key) override
    {
        m_keys.push_back(key);
        return true;
    }
    void on_text(WStringView text) override { m_text += text; }
    void on_wheel(Point point, double notches, bool ctrl) override { m_wheels.push_back({ point, notches, ctrl }); }
    void on_double_click(Point point) override { m_double_clicks.push_back(point); }
    void on_menu_click(Point point) override { m_menu_clicks.push_back(point); }

    struct Wheel {
        Point point;
        double notches;
        bool ctrl;
    };
    std::uint16_t m_colour;
    std::vector<Wheel> m_wheels;
    std::vector<Point> m_double_clicks;
    std::vector<Point> m_menu_clicks;
    std::vector<Press> m_presses;
    std::vector<KeyInput> m_keys;
    WString m_text;
};

class RecordingListener final : public AppListener {
public:
    void on_command_line(WStringView text) override { m_lines.emplace_back(text); }
    bool on_app_key(KeyInput const& key) override { return key.key == m_take; }
    void on_resize() override { ++m_resizes; }

    std::vector<WString> m_lines;
    Key m_take { Key::None };
    int m_resizes { 0 };
};

class ApplicationShellTest : public ::testing::Test {
protected:
    test::TempDir m_dir;
    test::HeadlessEnvironment m_environment { m_dir };
    test::ScopedEnv m_temp { "TMPDIR", m_dir.path().string() };

    void SetUp() override { platform::MessageQueue::main().clear(); }

    static std::int64_t handle(Application& app, std::uint32_t msg, std::uint64_t wparam, std::int64_t lparam)
    {
        platform::Message message { app.game().window(), msg, wparam, lparam, {} };
        return app.handle_message(message);
    }

    static void pump(Application& app)
    {
        auto& queue = platform::MessageQueue::main();
        platform::Message message;
        for (int i = 0; i < 100 && queue.peek(message); ++i) {
            if (message.message != platform::WM_TIMER)
                queue.dispatch(message);
        }
    }
};

}

TEST(ClientArea, pocket_pc_bars_grow_with_the_density_and_yield_to_the_input_panel)
{
    ScreenInfo info;
    info.width = 240;
    info.height = 320;
    info.dpi = 96;
    EXPECT_EQ(windowed_client_area(info, true), (Rect { 0, 26, 240, 320 - 26 }));
    info.dpi = 192;
    EXPECT_EQ(windowed_client_area(info, true), (Rect { 0, 52, 240, 320 - 52 }));
    info.dpi = 120; // 1.25: 32.5 rounds up
    EXPECT_EQ(windowed_client_area(info, true), (Rect { 0, 33, 240, 320 - 33 }));
    // A shown input panel whose visible desktop ends at 200 takes the rest.
    info.dpi = 96;
    EXPECT_EQ(bar_heights(info, 200).bottom, 120);
    EXPECT_EQ(windowed_client_area(info, true, 200), (Rect { 0, 26, 240, 200 }));
}

TEST(FrameClock, elapsed_time_is_clamped_and_survives_the_tick_wrap)
{
    EXPECT_DOUBLE_EQ(frame_seconds(1000, 1000), 0.001);
    EXPECT_DOUBLE_EQ(frame_seconds(1040, 1000), 0.04);
    EXPECT_DOUBLE_EQ(frame_seconds(6000, 1000), 0.1);
    EXPECT_DOUBLE_EQ(frame_seconds(5, 0xFFFFFFF0u), 0.021);
}

TEST_F(ApplicationShellTest, keys_carry_first_press_and_go_to_the_listener_before_the_screen)
{
    Application app(u"Quilvane");
    ASSERT_TRUE(app.has_window());
    RecordingScreen screen(0);
    RecordingListener listener;
    app.push_screen(&screen, false);
    app.set_listener(&listener);

    handle(app, platform::WM_KEYDOWN, 112, 1);
    handle(app, platform::WM_KEYDOWN, 112, 1 | platform::kKeyRepeatBit);
    handle(app, platform::WM_KEYUP, 112, 1 | platform::kKeyRepeatBit);
    ASSERT_EQ(screen.m_keys.size(), 3u);
    EXPECT_EQ(screen.m_keys[0], (KeyInput { Key::SoftLeft, true, true }));
    EXPECT_EQ(screen.m_keys[1], (KeyInput { Key::SoftLeft, true, false }));
    EXPECT_FALSE(screen.m_keys[2].down);

    listener.m_take = Key::Enter;
    handle(app, platform::WM_KEYDOWN, 13, 1);
    EXPECT_EQ(screen.m_keys.size(), 3u);

    // Characters below a blank are not text.
    handle(app, platform::WM_CHAR, u'a', 1);
    handle(app, platform::WM_CHAR, 13, 1);
    handle(app, platform::WM_CHAR, u'\u0436', 1);
    EXPECT_EQ(screen.m_text, u"a\u0436");
    app.set_listener(nullptr);
    app.remove_screen(&screen);
}

TEST_F(ApplicationShellTest, handed_over_command_lines_reach_the_listener_in_order)
{
    Application app(u"Quilvane");
    RecordingListener listener;
    app.set_listener(&listener);
    auto& queue = platform::MessageQueue::main();
    queue.post(platform::Message { app.game().window(), platform::WM_COPYDATA, 0, 0, u"one two" });
    queue.post(platform::Message { app.game().window(), platform::WM_COPYDATA, 0, 0, u"%CommandLineEmpty%" });
    queue.post(platform::Message { app.game().window(), platform::WM_COPYDATA, 5, 0, u"other identifier" });
    pump(app);
    EXPECT_EQ(listener.m_lines, (std::vector<WString> { u"one two", u"" }));
    app.set_listener(nullptr);
}

TEST_F(ApplicationShellTest, command_lines_that_come_before_the_first_screen_wait_for_it)
{
    Application app(u"Quilvane");
    auto& queue = platform::MessageQueue::main();
    // This start's own, then a second start's handed over while the first
    // screen is still being made.
    app.queue_command_line(u"own");
    queue.post(platform::Message { app.game().window(), platform::WM_COPYDATA, 0, 0, u"handed over" });
    pump(app);
    RecordingListener listener;
    app.set_listener(&listener);
    pump(app);
    EXPECT_EQ(listener.m_lines, (std::vector<WString> { u"own", u"handed over" }));
    // Told once: later messages find none waiting.
    app.queue_command_line(u"later");
    pump(app);
    EXPECT_EQ(listener.m_lines, (std::vector<WString> { u"own", u"handed over", u"later" }));
    app.set_listener(nullptr);
}

TEST_F(ApplicationShellTest, pen_release_follows_the_capture_with_or_without_a_position)
{
    Application app(u"Quilvane");
    app.set_direct_mode(0);
    ASSERT_NE(app.display(), nullptr);
    RecordingScreen screen(0);
    app.push_screen(&screen, false);
    handle(app, platform::WM_LBUTTONDOWN, 1, platform::pack_point(10, 20));
    handle(app, platform::WM_LBUTTONUP, 0, platform::pack_point(30, 40));
    // The capture lost without a pen-up: a release at no position.
    handle(app, platform::WM_LBUTTONDOWN, 1, platform::pack_point(5, 6));
    handle(app, platform::WM_CAPTURECHANGED, 0, 0);
    ASSERT_EQ(screen.m_presses.size(), 4u);
    EXPECT_EQ(screen.m_presses[0].point, (Point { 10, 20 }));
    EXPECT_TRUE(screen.m_presses[0].pressed);
    EXPECT_EQ(screen.m_presses[1].point, (Point { 30, 40 }));
    EXPECT_FALSE(screen.m_presses[1].pressed);
    EXPECT_TRUE(screen.m_presses[1].has_position);
    EXPECT_FALSE(screen.m_presses[3].pressed);
    EXPECT_FALSE(screen.m_presses[3].has_position);
    app.remove_screen(&screen);
}

TEST_F(ApplicationShellTest, wheel_double_click_and_menu_buttons_reach_the_top_screen_only)
{
    Application app(u"Quilvane");
    app.set_direct_mode(0);
    ASSERT_NE(app.display(), nullptr);
    RecordingScreen below(0), top(0);
    app.push_screen(&below, false);
    app.push_screen(&top, false);
    handle(app, platform::WM_MOUSEWHEEL, platform::pack_wheel(-1.5, true), platform::pack_point(10, 20));
    handle(app, platform::WM_MOUSEWHEEL, platform::pack_wheel(0.25, false), platform::pack_point(11, 21));
    // Nothing left of a turn: nothing to tell.
    handle(app, platform::WM_MOUSEWHEEL, platform::pack_wheel(0, false), platform::pack_point(12, 22));
    handle(app, platform::WM_LBUTTONDOWN, platform::MK_LBUTTON, platform::pack_point(3, 4));
    handle(app, platform::WM_LBUTTONDBLCLK, platform::MK_LBUTTON, platform::pack_point(3, 4));
    handle(app, platform::WM_LBUTTONUP, 0, platform::pack_point(3, 4));
    handle(app, platform::WM_RBUTTONDOWN, platform::MK_RBUTTON, platform::pack_point(5, 6));
    handle(app, platform::WM_MBUTTONDOWN, platform::MK_MBUTTON, platform::pack_point(7, 8));

    ASSERT_EQ(top.m_wheels.size(), 2u);
    EXPECT_EQ(top.m_wheels[0].point, (Point { 10, 20 }));
    EXPECT_DOUBLE_EQ(top.m_wheels[0].notches, -1.5);
    EXPECT_TRUE(top.m_wheels[0].ctrl);
    EXPECT_DOUBLE_EQ(top.m_wheels[1].notches, 0.25);
    EXPECT_FALSE(top.m_wheels[1].ctrl);
    EXPECT_EQ(top.m_double_clicks, (std::vector<Point> { Point { 3, 4 } }));
    // The double click's presses are pen input as ever.
    EXPECT_EQ(top.m_presses.size(), 2u);
    EXPECT_EQ(top.m_menu_clicks, (std::vector<Point> { Point { 5, 6 }, Point { 7, 8 } }));
    EXPECT_TRUE(below.m_wheels.empty());
    EXPECT_TRUE(below.m_double_clicks.empty());
    EXPECT_TRUE(below.m_menu_clicks.empty());
    app.remove_screen(&top);
    app.remove_screen(&below);
}

TEST_F(ApplicationShellTest, full_screen_is_toggled_through_the_screen_host_even_without_a_window)
{
    Application app(u"Quilvane");
    app.set_direct_mode(0);
    // Screens reach it through the toolkit's face of the shell.
    ScreenHost* host = ScreenHost::instance();
    ASSERT_EQ(host, &app);
    EXPECT_FALSE(host->full_screen()) << "a window display starts framed";
    host->toggle_full_screen();
    EXPECT_TRUE(host->full_screen());
    host->toggle_full_screen();
    EXPECT_FALSE(host->full_screen());
}

TEST_F(ApplicationShellTest, a_modal_screen_dims_what_lies_under_it_in_steps_and_back)
{
    Application app(u"Quilvane");
    app.set_direct_mode(0);
    RecordingScreen below(0xFFFF), dialog(0xF81F); // the dialog draws nothing
    app.push_screen(&below, false);
    app.push_screen(&dialog, true);
    EXPECT_FALSE(below.visible());
    EXPECT_TRUE(dialog.visible());
    auto buffer = PixelBuffer::create(240, 320);
    DrawTarget target(buffer.get());
    std::vector<std::int32_t> levels;
    for (int i = 0; i < 10; ++i) {
        app.draw(target);
        levels.push_back(app.dim_level());
    }
    EXPECT_EQ(levels, (std::vector<std::int32_t> { 240, 224, 208, 192, 176, 160, 144, 128, 128, 128 }));
    EXPECT_FALSE(app.needs_redraw());
    // Half brightness: each channel of white halved.
    std::uint16_t const dimmed = buffer->at(100, 100);
    EXPECT_NEAR((dimmed >> 11) & 31, 31 / 2, 1);
    EXPECT_NEAR((dimmed >> 5) & 63, 63 / 2, 1);
    EXPECT_NEAR(dimmed & 31, 31 / 2, 1);

    EXPECT_TRUE(app.remove_screen(&dialog));
    EXPECT_FALSE(app.remove_screen(&dialog));
    EXPECT_TRUE(below.visible());
    for (int i = 0; i < 9; ++i)
        app.draw(target);
    EXPECT_EQ(app.dim_level(), 256);
    EXPECT_EQ(buffer->at(100, 100), 0xFFFF);
    app.remove_screen(&below);
}

TEST_F(ApplicationShellTest, idle_frames_present_nothing_and_a_resize_reaches_the_listener)
{
    Application app(u"Quilvane");
    app.set_direct_mode(0);
    auto* headless = dynamic_cast<HeadlessDriver*>(&app.display()->driver());
    ASSERT_NE(headless, nullptr);
    RecordingScreen screen(0x07E0);
    RecordingListener listener;
    app.set_listener(&listener);
    app.push_screen(&screen, false);
    EXPECT_TRUE(app.direct_frame());
    EXPECT_FALSE(app.direct_frame());
    EXPECT_EQ(headless->frames_presented(), 1u);
    EXPECT_EQ(headless->surface().pixels[0], 0x07E0);

    app.ResolutionChanged(); // nothing changed
    EXPECT_EQ(listener.m_resizes, 0);
    {
        test::ScopedEnv screen_size("QUILVANE_SCREEN", "320x240@96");
        app.ResolutionChanged();
        EXPECT_EQ(listener.m_resizes, 1);
        EXPECT_EQ(app.screen_info().width, 320);
        ASSERT_NE(app.display(), nullptr);
        EXPECT_EQ(app.display()->width(), 320);
        EXPECT_EQ(app.client_area(), (Rect { 0, 0, 320, 240 }));
        EXPECT_TRUE(app.direct_frame());
    }
    app.set_listener(nullptr);
    app.remove_screen(&screen);
}

TEST_F(ApplicationShellTest, a_second_application_is_a_fatal_error)
{
    GTEST_FLAG_SET(death_test_style, "fast");
    write_dword(kMakerKey, u"Log", 1);
    EXPECT_EXIT(
        {
            Application first(u"Quilvane");
            Application second(u"Quilvane");
        },
        ::testing::ExitedWithCode(1), "");
    write_dword(kMakerKey, u"Log", 0);
    Log::get();
    auto const bytes = test::read_bytes(m_dir / "test_shell.txt");
    std::u16string text;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
        text += static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8);
    EXPECT_NE(text.find(u"instance != 0"), std::u16string::npos);
}

namespace {

class RecordingEdit final : public EditReceiver {
public:
    void on_text(WStringView text) override { m_text += text; }
    WString m_text;
};

}

TEST_F(ApplicationShellTest, edit_mode_takes_the_keyboard_text_and_gives_the_display_back_after)
{
    Application app(u"Quilvane");
    app.set_direct_mode(0);
    RecordingScreen screen(0);
    app.push_screen(&screen, false);
    RecordingEdit edit;
    app.begin_edit(&edit);
    EXPECT_EQ(app.display(), nullptr); // edit mode draws through the window
    handle(app, platform::WM_CHAR, u'x', 1);
    EXPECT_EQ(edit.m_text, u"x");
    EXPECT_TRUE(screen.m_text.empty());
    app.begin_edit(nullptr);
    ASSERT_NE(app.display(), nullptr);
    handle(app, platform::WM_CHAR, u'y', 1);
    EXPECT_EQ(screen.m_text, u"y");
    app.remove_screen(&screen);
}

TEST_F(ApplicationShellTest, no_frames_are_drawn_while_the_window_is_inactive)
{
    Application app(u"Quilvane");
    app.set_direct_mode(0);
    RecordingScreen screen(0x001F);
    app.push_screen(&screen, false);
    handle(app, platform::WM_ACTIVATE, 0, 0);
    EXPECT_FALSE(app.direct_frame());
    handle(app, platform::WM_ACTIVATE, 1, 0);
    EXPECT_TRUE(app.direct_frame());
    app.remove_screen(&screen);
}

namespace {

// Ends after `steps` advances; counts what the stack does with each copy.
struct AnimationLog {
    int clones { 0 };
    std::vector<std::int32_t> directions;
    int advances { 0 };
    int draws { 0 };
    bool had_background { false };
};

class StepAnimation final : public ScreenAnimation {
public:
    StepAnimation(AnimationLog& log, int steps)
        : m_log(log)
        , m_steps(steps)
    {
    }
    std::unique_ptr<ScreenAnimation> clone() const override
    {
        ++m_log.clones;
        return std::make_unique<StepAnimation>(m_log, m_steps);
    }
    void start(PixelBuffer const* background, std::int32_t direction) override
    {
        m_log.directions.push_back(direction);
        m_log.had_background = background != nullptr;
    }
    void advance(double) override
    {
        ++m_log.advances;
        --m_steps;
    }
    void draw(DrawTarget&, Point) override { ++m_log.draws; }
    bool ended() const override { return m_steps <= 0; }

private:
    AnimationLog& m_log;
    int m_steps;
};

class AnimatedScreen final : public Screen {
public:
    explicit AnimatedScreen(AnimationLog& log)
        : m_animation(log, 3)
    {
    }
    void draw(DrawTarget&, Point) override { ++m_draws; }
    void advance(double) override { ++m_advances; }
    ScreenAnimation const* animation() const override { return &m_animation; }
    int m_draws { 0 };
    int m_advances { 0 };

private:
    StepAnimation m_animation;
};

}

TEST_F(ApplicationShellTest, a_screen_animation_runs_alone_until_it_ends_on_push_and_on_removal)
{
    Application app(u"Quilvane");
    app.set_direct_mode(0);
    AnimationLog log;
    RecordingScreen first(0xFFFF);
    AnimatedScreen second(log);
    app.push_screen(&first, false);
    app.push_screen(&second, false);
    EXPECT_EQ(log.clones, 1);
    EXPECT_EQ(log.directions, (std::vector<std::int32_t> { +1 }));
    EXPECT_TRUE(log.had_background); // what lay under the pushed screen
    EXPECT_FALSE(first.visible());
    EXPECT_TRUE(second.visible());

    auto buffer = PixelBuffer::create(240, 320);
    DrawTarget target(buffer.get());
    for (int i = 0; i < 5; ++i) {
        app.update(0.04);
        app.draw(target);
    }
    // Three advances end it; the screen itself then takes over.
    EXPECT_EQ(log.advances, 3);
    EXPECT_EQ(log.draws, 2);
    EXPECT_EQ(second.m_advances, 2);
    EXPECT_EQ(second.m_draws, 3);

    EXPECT_TRUE(app.remove_screen(&second));
    EXPECT_EQ(log.directions, (std::vector<std::int32_t> { +1, -1 }));
    EXPECT_TRUE(first.visible());
    EXPECT_FALSE(second.visible());
    app.remove_screen(&first);
}
