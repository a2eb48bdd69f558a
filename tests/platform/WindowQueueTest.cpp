// Native input in the message queue: a flood of pointer moves costs one
// message per run of moves, while every press, release and key stays, in
// the order it came.

#include "platform/WindowMessages.h"

#include <gtest/gtest.h>

#include <vector>

using namespace qv::platform;

namespace {

struct Seen {
    WindowId window;
    std::uint32_t message;
    std::uint64_t wparam;
    std::int64_t lparam;
    friend bool operator==(Seen const&, Seen const&) = default;
};

std::vector<Seen> drain(MessageQueue& queue)
{
    std::vector<Seen> seen;
    Message m;
    while (queue.peek(m))
        seen.push_back({ m.window, m.message, m.wparam, m.lparam });
    return seen;
}

}

TEST(InputQueue, moves_collapse_into_the_last_while_presses_and_keys_keep_their_order)
{
    MessageQueue queue;
    constexpr WindowId kWindow = 1, kOther = 2;
    constexpr int kRounds = 500, kMoves = 200;
    std::vector<Seen> expected;
    for (int round = 0; round < kRounds; ++round) {
        // A drag, a hover (no button: a run of its own), a key, a press.
        for (int i = 0; i < kMoves; ++i)
            queue.post_input({ kWindow, WM_MOUSEMOVE, MK_LBUTTON, pack_point(i, round % 300), {} });
        expected.push_back({ kWindow, WM_MOUSEMOVE, MK_LBUTTON, pack_point(kMoves - 1, round % 300) });
        queue.post_input({ kWindow, WM_LBUTTONUP, 0, pack_point(kMoves - 1, round % 300), {} });
        expected.push_back({ kWindow, WM_LBUTTONUP, 0, pack_point(kMoves - 1, round % 300) });
        for (int i = 0; i < kMoves; ++i)
            queue.post_input({ kWindow, WM_MOUSEMOVE, 0, pack_point(round % 300, i), {} });
        expected.push_back({ kWindow, WM_MOUSEMOVE, 0, pack_point(round % 300, kMoves - 1) });
        queue.post_input({ kWindow, WM_KEYDOWN, 'A', 1, {} });
        queue.post_input({ kWindow, WM_KEYUP, 'A', 1, {} });
        queue.post_input({ kWindow, WM_LBUTTONDOWN, MK_LBUTTON, pack_point(round, 0), {} });
        expected.push_back({ kWindow, WM_KEYDOWN, 'A', 1 });
        expected.push_back({ kWindow, WM_KEYUP, 'A', 1 });
        expected.push_back({ kWindow, WM_LBUTTONDOWN, MK_LBUTTON, pack_point(round, 0) });
    }
    EXPECT_EQ(queue.pending(), expected.size()) << "the queue grows with presses, not with moves";
    EXPECT_EQ(drain(queue), expected);
}

TEST(InputQueue, only_a_waiting_native_move_of_the_same_window_is_taken_over)
{
    MessageQueue queue;
    auto move = [](WindowId window, int x) { return Message { window, WM_MOUSEMOVE, 0, pack_point(x, 0), {} }; };
    queue.post_input(move(1, 1));
    queue.post_input(move(2, 2)); // another window
    queue.post_input(move(2, 3));
    queue.post(move(2, 4)); // posted, as a script does: each of its moves counts
    queue.post_input(move(2, 5));
    std::vector<Seen> const first = drain(queue);
    ASSERT_EQ(first.size(), 4u);
    EXPECT_EQ(first[0].lparam, pack_point(1, 0));
    EXPECT_EQ(first[1].lparam, pack_point(3, 0));
    EXPECT_EQ(first[2].lparam, pack_point(4, 0));
    EXPECT_EQ(first[3].lparam, pack_point(5, 0));

    // A move already taken is not written into: the next one is queued.
    queue.post_input(move(1, 6));
    Message taken;
    ASSERT_TRUE(queue.peek(taken));
    queue.post_input(move(1, 7));
    ASSERT_TRUE(queue.peek(taken));
    EXPECT_EQ(taken.lparam, pack_point(7, 0));
}
