#include "display/Display.h"
#include "display/Script.h"
#include "platform/WindowMessages.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using namespace qv;

namespace {

// A panel in memory, native orientation 0.
class MemoryDriver final : public DisplayDriver {
public:
    MemoryDriver(std::int32_t width, std::int32_t height)
        : m_pixels(static_cast<std::size_t>(width) * height, 0)
        , m_width(width)
        , m_height(height)
    {
    }
    std::int32_t width() const override { return m_width; }
    std::int32_t height() const override { return m_height; }
    bool begin(DisplaySurface& surface) override
    {
        surface = DisplaySurface { m_pixels.data(), m_width, m_height, m_width * 2 };
        return true;
    }
    void end(Rect const& area) override
    {
        ++m_ends;
        m_last_area = area;
    }
    std::uint16_t at(std::int32_t x, std::int32_t y) const { return m_pixels[static_cast<std::size_t>(y) * m_width + x]; }

    std::vector<std::uint16_t> m_pixels;
    std::int32_t m_width, m_height;
    int m_ends { 0 };
    Rect m_last_area;
};

struct Made {
    std::unique_ptr<Display> display;
    MemoryDriver* panel;
};

Made make_display(std::int32_t width, std::int32_t height, DisplayParams& params, platform::WindowId window = 0)
{
    auto driver = std::make_unique<MemoryDriver>(width, height);
    MemoryDriver* panel = driver.get();
    return { Display::create(DisplayHost { window, nullptr, width, height }, params, std::move(driver)), panel };
}

void fill(DisplaySurface const& s, std::uint16_t value)
{
    for (std::int32_t y = 0; y < s.height; ++y)
        for (std::int32_t x = 0; x < s.width; ++x)
            reinterpret_cast<std::uint16_t*>(reinterpret_cast<std::uint8_t*>(s.pixels) + y * s.pitch)[x] = value;
}

void put(DisplaySurface const& s, std::int32_t x, std::int32_t y, std::uint16_t value)
{
    reinterpret_cast<std::uint16_t*>(reinterpret_cast<std::uint8_t*>(s.pixels) + y * s.pitch)[x] = value;
}

}

TEST(DisplayGeometry, pen_points_turn_with_the_display)
{
    // The tap at the top-left corner of a panel turned a quarter reaches the
    // program at its top-right corner.
    EXPECT_EQ(rotate_pen_point({ 0, 0 }, 1, 240, 320), (Point { 239, 0 }));
    EXPECT_EQ(rotate_pen_point({ 0, 0 }, 2, 240, 320), (Point { 239, 319 }));
    EXPECT_EQ(rotate_pen_point({ 0, 0 }, 3, 240, 320), (Point { 0, 319 }));
    EXPECT_EQ(rotate_pen_point({ 17, 5 }, 0, 240, 320), (Point { 17, 5 }));
    // A half turn twice is no turn.
    Point const p = rotate_pen_point(rotate_pen_point({ 10, 20 }, 2, 240, 320), 2, 240, 320);
    EXPECT_EQ(p, (Point { 10, 20 }));
    EXPECT_EQ(turn_between(1, 0), 1);
    EXPECT_EQ(turn_between(0, 1), 3);
}

TEST(DisplayGeometry, arrow_keys_follow_the_turn_and_others_stay)
{
    EXPECT_EQ(rotate_arrow_key(39, 1), 40); // Right becomes Down
    EXPECT_EQ(rotate_arrow_key(40, 1), 37); // Down becomes Left
    EXPECT_EQ(rotate_arrow_key(37, 3), 40);
    EXPECT_EQ(rotate_arrow_key(38, 0), 38);
    EXPECT_EQ(rotate_arrow_key(13, 1), 13);
    EXPECT_EQ(rotate_arrow_key(41, 2), 41);
}

TEST(DisplayGeometry, update_area_is_clipped_and_rounded_to_even_columns)
{
    EXPECT_EQ(normalize_update_area({ 3, 1, 7, 4 }, 100, 50), (Rect { 2, 1, 8, 4 }));
    EXPECT_EQ(normalize_update_area({ 2, 0, 6, 5 }, 100, 50), (Rect { 2, 0, 6, 5 }));
    // Rounding up never leaves an odd-width surface.
    EXPECT_EQ(normalize_update_area({ 95, 0, 99, 5 }, 99, 50), (Rect { 94, 0, 99, 5 }));
    EXPECT_EQ(normalize_update_area({ -10, -10, 5, 5 }, 100, 50), (Rect { 0, 0, 6, 5 }));
    // Nothing left means everything.
    EXPECT_EQ(normalize_update_area({ 200, 0, 300, 5 }, 100, 50), (Rect { 0, 0, 100, 50 }));
    EXPECT_EQ(normalize_update_area({ 5, 5, 5, 9 }, 100, 50), (Rect { 0, 0, 100, 50 }));
}

TEST(Display, present_copies_only_the_update_area_from_the_back_buffer)
{
    DisplayParams params { 0, 0, 0, kSwapCopy };
    auto [display, panel] = make_display(16, 8, params);
    ASSERT_TRUE(display);
    EXPECT_EQ(params.width, 16);
    EXPECT_EQ(params.height, 8);
    ASSERT_TRUE(display->begin_frame());
    DisplaySurface const* back = display->back_buffer();
    ASSERT_NE(back, nullptr);
    EXPECT_NE(back->pixels, panel->m_pixels.data());
    fill(*back, 0x1234);
    display->set_update_area({ 3, 1, 7, 4 });
    ASSERT_TRUE(display->end_frame(false));
    EXPECT_EQ(display->back_buffer(), nullptr);
    EXPECT_EQ(panel->m_ends, 1);
    for (std::int32_t y = 0; y < 8; ++y) {
        for (std::int32_t x = 0; x < 16; ++x) {
            bool const inside = x >= 2 && x < 8 && y >= 1 && y < 4;
            EXPECT_EQ(panel->at(x, y), inside ? 0x1234 : 0) << x << "," << y;
        }
    }
    // Whole rows go as one block and arrive the same.
    ASSERT_TRUE(display->begin_frame());
    fill(*display->back_buffer(), 0x0F0F);
    display->set_update_area({ 0, 5, 16, 7 });
    ASSERT_TRUE(display->end_frame(false));
    EXPECT_EQ(panel->at(0, 5), 0x0F0F);
    EXPECT_EQ(panel->at(15, 6), 0x0F0F);
    EXPECT_EQ(panel->at(0, 7), 0);
    EXPECT_EQ(panel->at(0, 4), 0);
}

TEST(Display, frames_need_an_active_display_and_an_open_frame)
{
    DisplayParams params { 0, 0, 0, 0 };
    auto [display, panel] = make_display(8, 8, params);
    ASSERT_TRUE(display);
    EXPECT_EQ(params.swap_effect, kSwapDiscard); // 0 reads as discard
    EXPECT_FALSE(display->end_frame(false));
    ASSERT_TRUE(display->begin_frame());
    // Discard draws straight into the panel.
    EXPECT_EQ(display->back_buffer()->pixels, panel->m_pixels.data());
    EXPECT_TRUE(display->begin_frame());
    display->suspend();
    EXPECT_FALSE(display->begin_frame());
    EXPECT_FALSE(display->end_frame(false));
    display->resume();
    EXPECT_TRUE(display->begin_frame());
    EXPECT_TRUE(display->end_frame(false));
}

TEST(Display, a_turned_display_draws_where_the_pen_lands)
{
    for (std::int32_t orientation = 1; orientation <= 3; ++orientation) {
        DisplayParams params { 0, 0, orientation, kSwapDiscard };
        auto [display, panel] = make_display(32, 24, params);
        ASSERT_TRUE(display);
        bool const odd = (orientation & 1) != 0;
        EXPECT_EQ(params.width, odd ? 24 : 32);
        EXPECT_EQ(params.height, odd ? 32 : 24);
        EXPECT_EQ(params.orientation, orientation);
        ASSERT_TRUE(display->begin_frame());
        DisplaySurface const* surface = display->back_buffer();
        fill(*surface, 0);
        put(*surface, 5, 7, 0xBEEF);
        put(*surface, params.width - 1, 0, 0xCAFE);
        ASSERT_TRUE(display->end_frame(false));
        int found = 0;
        std::int32_t const turn = turn_between(orientation, 0);
        for (std::int32_t y = 0; y < 24; ++y) {
            for (std::int32_t x = 0; x < 32; ++x) {
                std::uint16_t const v = panel->at(x, y);
                if (v == 0)
                    continue;
                ++found;
                Point const program = rotate_pen_point({ x, y }, turn, params.width, params.height);
                if (v == 0xBEEF)
                    EXPECT_EQ(program, (Point { 5, 7 })) << orientation;
                else
                    EXPECT_EQ(program, (Point { params.width - 1, 0 })) << orientation;
            }
        }
        EXPECT_EQ(found, 2) << orientation;
    }
}

TEST(Display, a_turned_display_turns_the_windows_keys_and_pen_until_it_goes)
{
    auto& queue = platform::MessageQueue::main();
    std::vector<platform::Message> seen;
    platform::WindowId const window = queue.create_window([&](platform::Message& m) {
        seen.push_back(m);
        return 0;
    });
    {
        DisplayParams params { 0, 0, 1, kSwapDiscard };
        auto [display, panel] = make_display(320, 240, params, window);
        ASSERT_TRUE(display);
        ASSERT_EQ(params.width, 240);
        platform::Message key { window, platform::WM_KEYDOWN, 39, 1, {} };
        queue.dispatch(key);
        platform::Message tap { window, platform::WM_LBUTTONDOWN, 1, platform::pack_point(0, 0), {} };
        queue.dispatch(tap);
        ASSERT_EQ(seen.size(), 2u);
        EXPECT_EQ(seen[0].wparam, 40u);
        EXPECT_EQ(platform::point_x(seen[1].lparam), 239);
        EXPECT_EQ(platform::point_y(seen[1].lparam), 0);
    }
    platform::Message key { window, platform::WM_KEYDOWN, 39, 1, {} };
    queue.dispatch(key);
    EXPECT_EQ(seen.back().wparam, 39u);
    queue.destroy_window(window);
}

TEST(Script, commands_parse_and_bad_lines_are_reported_and_skipped)
{
    std::vector<std::string> errors;
    auto const commands = parse_script("# a comment\n"
                                       "tap 10 20\n"
                                       "  drag 0 0 100 50\r\n"
                                       "drag 1 2 3 4 2\n"
                                       "key SOFT_LEFT\n"
                                       "key NOT_A_KEY\n"
                                       "key Esc\n"
                                       "text hello world\n"
                                       "wait_log 5000 WinMain 14\n"
                                       "wait 3 4\n"
                                       "tap 10\n"
                                       "fly 1 2\n"
                                       "\n"
                                       "screenshot out dir/shot.png\n",
        &errors);
    ASSERT_EQ(commands.size(), 7u);
    EXPECT_EQ(commands[0].verb, "tap");
    EXPECT_EQ(commands[0].numbers, (std::vector<std::int32_t> { 10, 20 }));
    EXPECT_EQ(commands[1].numbers, (std::vector<std::int32_t> { 0, 0, 100, 50, 8 }));
    EXPECT_EQ(commands[1].line, 3);
    EXPECT_EQ(commands[2].numbers.back(), 2);
    EXPECT_EQ(commands[3].text, "SOFT_LEFT");
    EXPECT_EQ(commands[4].text, "hello world");
    EXPECT_EQ(commands[5].numbers, (std::vector<std::int32_t> { 5000 }));
    EXPECT_EQ(commands[5].text, "WinMain 14");
    EXPECT_EQ(commands[6].text, "out dir/shot.png");
    ASSERT_EQ(errors.size(), 5u);
    EXPECT_EQ(errors[0].rfind("line 6:", 0), 0u);
    EXPECT_EQ(errors[1].rfind("line 7:", 0), 0u); // no keyboard key gives Esc
    EXPECT_EQ(errors[2].rfind("line 10:", 0), 0u);
    EXPECT_EQ(errors[3].rfind("line 11:", 0), 0u);
    EXPECT_EQ(errors[4].rfind("line 12:", 0), 0u);
}

TEST(Script, waits_for_milestones_take_only_names_the_program_has)
{
    std::vector<std::string> errors;
    auto const commands = parse_script("wait_for 5000 search_complete\n"
                                       "wait_for 5000 album form: search complete\n"
                                       "wait_idle 20000\n"
                                       "wait_idle\n",
        &errors);
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0].text, "search_complete");
    EXPECT_EQ(commands[1].verb, "wait_idle");
    EXPECT_EQ(commands[1].numbers, (std::vector<std::int32_t> { 20000 }));
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0], "line 2: no such milestone");
}

TEST(Script, mouse_commands_parse_with_fractional_notches_and_an_optional_ctrl)
{
    std::vector<std::string> errors;
    auto const commands = parse_script("wheel 10 20 1\n"
                                       "wheel 10 20 -0.25 ctrl\n"
                                       "dblclick 5 6\n"
                                       "rclick 7 8\n"
                                       "mclick 9 10\n"
                                       "wheel 10 20\n"
                                       "wheel 10 20 x\n"
                                       "wheel 10 20 1 shift\n"
                                       "wheel 10 20 1 ctrl more\n"
                                       "wheel 10 20 1e9\n"
                                       "wheel 10 20 nan\n"
                                       "dblclick 5\n"
                                       "rclick 1 2 3\n",
        &errors);
    ASSERT_EQ(commands.size(), 5u);
    EXPECT_EQ(commands[0].verb, "wheel");
    EXPECT_EQ(commands[0].numbers, (std::vector<std::int32_t> { 10, 20 }));
    EXPECT_DOUBLE_EQ(commands[0].amount, 1.0);
    EXPECT_TRUE(commands[0].text.empty());
    EXPECT_DOUBLE_EQ(commands[1].amount, -0.25);
    EXPECT_EQ(commands[1].text, "ctrl");
    EXPECT_EQ(commands[2].verb, "dblclick");
    EXPECT_EQ(commands[3].numbers, (std::vector<std::int32_t> { 7, 8 }));
    EXPECT_EQ(commands[4].verb, "mclick");
    ASSERT_EQ(errors.size(), 8u);
    for (std::size_t i = 0; i < errors.size(); ++i)
        EXPECT_EQ(errors[i].rfind("line " + std::to_string(6 + i) + ":", 0), 0u) << errors[i];
}

TEST(Script, mouse_commands_post_what_a_mouse_gives)
{
    auto& queue = platform::MessageQueue::main();
    queue.clear();
    platform::WindowId const window = queue.create_window([](platform::Message&) { return 0; });
    ScriptPlayer player;
    player.load(parse_script("dblclick 5 6\nwheel 30 40 -0.5 ctrl\nrclick 7 8\nmclick 9 10\n"));
    std::uint16_t pixel = 0;
    player.step(window, DisplaySurface { &pixel, 1, 1, 2 });
    EXPECT_TRUE(player.finished());

    std::vector<platform::Message> posted;
    platform::Message message;
    while (queue.peek(message))
        posted.push_back(message);
    std::vector<std::uint32_t> kinds;
    for (auto const& m : posted)
        kinds.push_back(m.message);
    using namespace platform;
    EXPECT_EQ(kinds,
        (std::vector<std::uint32_t> { WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDOWN, WM_LBUTTONDBLCLK, WM_LBUTTONUP,
            WM_MOUSEWHEEL, WM_RBUTTONDOWN, WM_MBUTTONDOWN, WM_CLOSE }));
    ASSERT_EQ(posted.size(), 9u);
    EXPECT_EQ(point_x(posted[3].lparam), 5);
    EXPECT_EQ(point_y(posted[3].lparam), 6);
    EXPECT_DOUBLE_EQ(wheel_notches(posted[5].wparam), -0.5);
    EXPECT_TRUE(wheel_ctrl(posted[5].wparam));
    EXPECT_EQ(point_x(posted[5].lparam), 30);
    EXPECT_EQ(point_y(posted[5].lparam), 40);
    EXPECT_EQ(point_x(posted[6].lparam), 7);
    EXPECT_EQ(point_y(posted[7].lparam), 10);
    queue.destroy_window(window);
}

TEST(Display, a_turned_display_turns_the_wheel_double_click_and_menu_points_too)
{
    auto& queue = platform::MessageQueue::main();
    std::vector<platform::Message> seen;
    platform::WindowId const window = queue.create_window([&](platform::Message& m) {
        seen.push_back(m);
        return 0;
    });
    DisplayParams params { 0, 0, 1, kSwapDiscard };
    auto [display, panel] = make_display(320, 240, params, window);
    ASSERT_TRUE(display);
    // The panel's (0, 0) is the program's (239, 0), as for a tap.
    Point const expected = rotate_pen_point({ 0, 0 }, 1, params.width, params.height);
    for (std::uint32_t msg : { platform::WM_LBUTTONDBLCLK, platform::WM_RBUTTONDOWN, platform::WM_MBUTTONDOWN,
             platform::WM_MOUSEWHEEL }) {
        std::uint64_t const wparam = platform::pack_wheel(2, true);
        platform::Message message { window, msg, wparam, platform::pack_point(0, 0), {} };
        queue.dispatch(message);
        ASSERT_FALSE(seen.empty());
        EXPECT_EQ(platform::point_x(seen.back().lparam), expected.x) << msg;
        EXPECT_EQ(platform::point_y(seen.back().lparam), expected.y) << msg;
        EXPECT_EQ(seen.back().wparam, wparam) << "the wheel's turn and Ctrl are the user's, not the panel's";
    }
    EXPECT_EQ(expected, (Point { 239, 0 }));
    display.reset();
    queue.destroy_window(window);
}
