#include "platform/Window.h"
#include "platform/WindowMessages.h"

#include <gtest/gtest.h>

#include <chrono>
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
