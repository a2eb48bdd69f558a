#include "platform/Window.h"
#include "platform/WindowMessages.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

using namespace qv;
using namespace qv::platform;

TEST(ScreenGeometry, sizes_and_density_are_read_strictly)
{
    EXPECT_EQ(parse_screen_geometry("480x640@192"), (ScreenGeometry { 480, 640, 192 }));
    EXPECT_EQ(parse_screen_geometry("176X220@96"), (ScreenGeometry { 176, 220, 96 }));
    // Without a density the default stays.
    EXPECT_EQ(parse_screen_geometry("240x320"), (ScreenGeometry { 240, 320, ScreenGeometry {}.dpi }));
    for (char const* bad : { "", "480", "480x", "x640", "480x640@", "480x640@96x", "480 x 640", "-480x640",
             "8x640", "480x9000", "480x640@10", "99999999999x640", "480x640@192 " })
        EXPECT_FALSE(parse_screen_geometry(bad)) << bad;
}

TEST(WindowFit, a_screen_that_fits_opens_as_asked_centred_in_the_usable_area)
{
    // A panel of 40 pixels along the top: the usable area starts below it.
    DesktopArea const usable { 0, 40, 1280, 984 };
    EXPECT_EQ(fit_window({ 480, 640, 192 }, usable), (WindowPlacement { { 400, 212, 480, 640 }, 192 }));
    // Exactly the usable area is still a fit.
    EXPECT_EQ(fit_window({ 1280, 984, 96 }, usable), (WindowPlacement { { 0, 40, 1280, 984 }, 96 }));
    // No desktop known: the request as it is.
    EXPECT_EQ(fit_window({ 720, 1280, 320 }, DesktopArea {}), (WindowPlacement { { 0, 0, 720, 1280 }, 320 }));
}

TEST(WindowFit, a_screen_too_tall_too_wide_or_both_shrinks_with_its_density_in_proportion)
{
    DesktopArea const desktop { 0, 0, 1280, 1024 };
    // Too tall: the phone at four fifths, the density with it.
    EXPECT_EQ(fit_window({ 720, 1280, 320 }, desktop), (WindowPlacement { { 352, 0, 576, 1024 }, 256 }));
    // Too wide: two thirds.
    EXPECT_EQ(fit_window({ 1920, 1080, 96 }, desktop), (WindowPlacement { { 0, 152, 1280, 720 }, 64 }));
    // Both, the width the tighter: half; then the height the tighter.
    EXPECT_EQ(fit_window({ 2000, 1500, 200 }, { 0, 0, 1000, 1000 }), (WindowPlacement { { 0, 125, 1000, 750 }, 100 }));
    EXPECT_EQ(fit_window({ 1500, 2000, 200 }, { 0, 0, 1000, 1000 }), (WindowPlacement { { 125, 0, 750, 1000 }, 100 }));
    // Odd sizes round to the nearest pixel, in an area that does not start
    // at the desktop's corner: 200 / 321 of 241 is 150.2, of 97 dpi 60.4.
    EXPECT_EQ(fit_window({ 241, 321, 97 }, { 10, 30, 200, 200 }), (WindowPlacement { { 35, 30, 150, 200 }, 60 }));
    // A desktop too small for any text keeps the lowest density there is.
    EXPECT_EQ(fit_window({ 480, 640, 96 }, { 0, 0, 60, 80 }).dpi, 24);
}

TEST(WindowFit, every_shrunk_window_lies_inside_the_usable_area_and_keeps_its_proportions)
{
    for (std::int32_t w = 16; w <= 4000; w += 397) {
        for (std::int32_t h = 16; h <= 4000; h += 389) {
            for (DesktopArea const usable : { DesktopArea { 0, 0, 1280, 1024 }, DesktopArea { -1920, 24, 1920, 1056 },
                     DesktopArea { 5, 7, 333, 777 } }) {
                ScreenGeometry const asked { w, h, 160 };
                WindowPlacement const got = fit_window(asked, usable);
                SCOPED_TRACE(testing::Message() << w << "x" << h << " in " << usable.width << "x" << usable.height);
                EXPECT_GE(got.area.x, usable.x);
                EXPECT_GE(got.area.y, usable.y);
                EXPECT_LE(got.area.x + got.area.width, usable.x + usable.width);
                EXPECT_LE(got.area.y + got.area.height, usable.y + usable.height);
                bool const fits = w <= usable.width && h <= usable.height;
                if (fits) {
                    EXPECT_EQ(got.area.width, w);
                    EXPECT_EQ(got.area.height, h);
                    EXPECT_EQ(got.dpi, 160);
                    continue;
                }
                // One side meets the usable area's; the other is within a
                // pixel of the proportion asked.
                EXPECT_TRUE(got.area.width == usable.width || got.area.height == usable.height);
                double const cross = static_cast<double>(got.area.width) * h - static_cast<double>(got.area.height) * w;
                EXPECT_LE(std::abs(cross), std::max(w, h) * 1.0);
                // The density shrank by the factor of the side that met.
                double const factor = got.area.width == usable.width ? static_cast<double>(usable.width) / w
                                                                     : static_cast<double>(usable.height) / h;
                EXPECT_NEAR(got.dpi, std::max(24.0, 160 * factor), 0.51);
            }
        }
    }
}

TEST(MessageQueue, posted_messages_come_first_and_timers_only_when_the_queue_is_empty)
{
    auto& queue = MessageQueue::main();
    queue.clear();
    std::vector<std::uint32_t> seen;
    WindowId const window = queue.create_window([&](Message& m) {
        seen.push_back(m.message);
        return 0;
    });
    queue.set_timer(window, 7, 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    queue.post(window, WM_USER + 1);
    Message message;
    ASSERT_TRUE(queue.peek(message));
    EXPECT_EQ(message.message, WM_USER + 1u);
    ASSERT_TRUE(queue.peek(message));
    EXPECT_EQ(message.message, WM_TIMER);
    EXPECT_EQ(message.wparam, 7u);
    queue.kill_timer(window, 7);
    EXPECT_FALSE(queue.peek(message));

    // A message for a window that has gone is dropped, not delivered.
    queue.post(window, WM_USER + 2);
    queue.destroy_window(window);
    ASSERT_TRUE(queue.peek(message));
    EXPECT_EQ(queue.dispatch(message), 0);
    EXPECT_TRUE(seen.empty());
}

TEST(MessageQueue, waiting_for_one_message_leaves_the_others_in_order_and_wakes_from_other_threads)
{
    auto& queue = MessageQueue::main();
    queue.clear();
    queue.post(1, WM_USER + 1);
    queue.post(2, WM_USER + 5);
    queue.post(1, WM_USER + 2);
    std::thread poster([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        queue.post(3, WM_USER + 9);
    });
    EXPECT_TRUE(queue.wait_for(3, WM_USER + 9, 5000));
    poster.join();
    EXPECT_TRUE(queue.wait_for(2, WM_USER + 5, 0));
    EXPECT_FALSE(queue.wait_for(2, WM_USER + 5, 20));
    Message message;
    ASSERT_TRUE(queue.peek(message));
    EXPECT_EQ(message.message, WM_USER + 1u);
    ASSERT_TRUE(queue.peek(message));
    EXPECT_EQ(message.message, WM_USER + 2u);
    EXPECT_FALSE(queue.peek(message));
}

TEST(MessageQueue, pen_points_keep_their_sign)
{
    std::int64_t const packed = pack_point(-5, 1234);
    EXPECT_EQ(point_x(packed), -5);
    EXPECT_EQ(point_y(packed), 1234);
    EXPECT_EQ(point_y(pack_point(3, -32768)), -32768);
}

TEST(MouseMessages, the_wheel_keeps_parts_of_a_notch_its_sign_and_ctrl)
{
    for (double notches : { 1.0, -1.0, 3.0, 0.25, -0.5, 1.0 / 120 }) {
        for (bool ctrl : { false, true }) {
            std::uint64_t const packed = pack_wheel(notches, ctrl);
            EXPECT_DOUBLE_EQ(wheel_notches(packed), notches) << notches;
            EXPECT_EQ(wheel_ctrl(packed), ctrl) << notches;
        }
    }
    // As on the original: the delta in the high word, 120 to a notch.
    EXPECT_EQ(pack_wheel(1, false), 120u << 16);
    EXPECT_EQ(pack_wheel(-1, true) & 0xFFFF, MK_CONTROL);
    // Less than half of the smallest step is nothing; what the word cannot
    // hold is cut at its end, never wrapped to the other direction.
    EXPECT_EQ(wheel_notches(pack_wheel(0.003, false)), 0.0);
    EXPECT_GT(wheel_notches(pack_wheel(1000, false)), 270.0);
    EXPECT_LT(wheel_notches(pack_wheel(-1000, false)), -270.0);

    Message const wheel = mouse_wheel_message(7, -0.5, 30, -4, true);
    EXPECT_EQ(wheel.window, 7u);
    EXPECT_EQ(wheel.message, WM_MOUSEWHEEL);
    EXPECT_DOUBLE_EQ(wheel_notches(wheel.wparam), -0.5);
    EXPECT_TRUE(wheel_ctrl(wheel.wparam));
    EXPECT_EQ(point_x(wheel.lparam), 30);
    EXPECT_EQ(point_y(wheel.lparam), -4);

    // A smooth wheel's precise amount wins over its whole notches, and a
    // flipped ("natural") direction is turned back.
    EXPECT_DOUBLE_EQ(native_wheel_notches(0.4f, 0, false), 0.4f);
    EXPECT_DOUBLE_EQ(native_wheel_notches(0, 2, false), 2.0);
    EXPECT_DOUBLE_EQ(native_wheel_notches(1.0f, 1, true), -1.0);
}

TEST(MouseMessages, buttons_become_pen_double_click_and_menu_messages)
{
    auto kinds = [](MouseButtonInput const& input) {
        std::vector<std::uint32_t> result;
        for (auto const& message : mouse_button_messages(3, input)) {
            EXPECT_EQ(message.window, 3u);
            EXPECT_EQ(point_x(message.lparam), input.x);
            EXPECT_EQ(point_y(message.lparam), input.y);
            result.push_back(message.message);
        }
        return result;
    };
    using Kinds = std::vector<std::uint32_t>;
    EXPECT_EQ(kinds({ MouseButton::Left, true, 1, 10, 20 }), (Kinds { WM_LBUTTONDOWN }));
    EXPECT_EQ(kinds({ MouseButton::Left, false, 1, 10, 20 }), (Kinds { WM_LBUTTONUP }));
    // The second press stays a press, and is announced as a double click.
    EXPECT_EQ(kinds({ MouseButton::Left, true, 2, 11, 21 }), (Kinds { WM_LBUTTONDOWN, WM_LBUTTONDBLCLK }));
    EXPECT_EQ(kinds({ MouseButton::Left, false, 2, 11, 21 }), (Kinds { WM_LBUTTONUP }));
    // A third press starts over; the fourth is a double click again.
    EXPECT_EQ(kinds({ MouseButton::Left, true, 3, 1, 1 }), (Kinds { WM_LBUTTONDOWN }));
    EXPECT_EQ(kinds({ MouseButton::Left, true, 4, 1, 1 }), (Kinds { WM_LBUTTONDOWN, WM_LBUTTONDBLCLK }));
    // Right and middle: the press alone, whatever the count.
    EXPECT_EQ(kinds({ MouseButton::Right, true, 1, 5, 6 }), (Kinds { WM_RBUTTONDOWN }));
    EXPECT_EQ(kinds({ MouseButton::Right, true, 2, 5, 6 }), (Kinds { WM_RBUTTONDOWN }));
    EXPECT_EQ(kinds({ MouseButton::Middle, true, 1, 5, 6 }), (Kinds { WM_MBUTTONDOWN }));
    EXPECT_TRUE(kinds({ MouseButton::Right, false, 1, 5, 6 }).empty());
    EXPECT_TRUE(kinds({ MouseButton::Middle, false, 1, 5, 6 }).empty());
    EXPECT_TRUE(kinds({ MouseButton::Other, true, 1, 5, 6 }).empty());
    // The left press says it holds the left button, as a move's wparam does.
    EXPECT_EQ(mouse_button_messages(3, { MouseButton::Left, true, 1, 0, 0 })[0].wparam, MK_LBUTTON);
}

TEST(MouseMessages, zoom_keys_of_every_layout_and_the_keypad_have_virtual_keys)
{
    // SDL names a printable key by its character.
    EXPECT_EQ(virtual_key_from_sdl('='), 187);
    EXPECT_EQ(virtual_key_from_sdl('+'), 187);
    EXPECT_EQ(virtual_key_from_sdl('-'), 189);
    EXPECT_EQ(virtual_key_from_sdl('0'), '0');
    EXPECT_EQ(virtual_key_from_sdl('f'), 'F');
    EXPECT_EQ(virtual_key_from_sdl(','), 0);
}

TEST(ScreenSaver, the_wish_to_keep_the_screen_awake_is_kept_until_taken_back)
{
    // Headless there is no display to tell; the wish is still what counts.
    EXPECT_FALSE(screen_saver_inhibited());
    inhibit_screen_saver(true);
    EXPECT_TRUE(screen_saver_inhibited());
    inhibit_screen_saver(true);
    inhibit_screen_saver(false);
    EXPECT_FALSE(screen_saver_inhibited()) << "asking twice is not counted twice";
}

TEST(VideoDriver, drivers_that_show_nothing_count_only_when_asked_for_by_name)
{
    EXPECT_TRUE(visible_video_driver("x11", nullptr));
    EXPECT_TRUE(visible_video_driver("wayland", "x11"));
    EXPECT_TRUE(visible_video_driver("kmsdrm", nullptr));
    // What SDL falls back to when no display answers.
    EXPECT_FALSE(visible_video_driver("offscreen", nullptr));
    EXPECT_FALSE(visible_video_driver("dummy", ""));
    EXPECT_FALSE(visible_video_driver("offscreen", "x11,wayland"));
    EXPECT_FALSE(visible_video_driver("dummy", "dumm"));
    EXPECT_FALSE(visible_video_driver(nullptr, nullptr));
    EXPECT_TRUE(visible_video_driver("offscreen", "offscreen"));
    EXPECT_TRUE(visible_video_driver("dummy", "x11,dummy"));
}
