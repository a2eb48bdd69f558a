// The driver around the pixel conversion: which page of the device's
// memory frames go to and where it pans (pure arithmetic over the mode,
// as a regular file cannot pan), the window on a file standing for the
// device going quiet while another terminal has the screen and repainting
// everything when it comes back, and a flood of touches from a FIFO
// standing for the touch screen.

#include "platform/Console.h"
#include "platform/EvdevDevice.h"
#include "platform/Framebuffer.h"
#include "platform/WindowMessages.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/input.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

using namespace qv::platform;

namespace {

constexpr std::uint32_t kLine = 480 * 4, kPage = kLine * 640;

// A 480 x 640 XRGB8888 mode, with `virtual_height` lines of memory.
FramebufferLayout layout(std::uint32_t virtual_height, std::uint32_t pan_step, std::uint32_t y_offset = 0)
{
    return { 640, virtual_height, pan_step, 0, y_offset, kLine, 4, std::size_t { kLine } * virtual_height };
}

}

TEST(FramebufferPages, two_screens_of_memory_draw_behind_and_pan_in)
{
    FramePages pages(layout(1280, 1));
    ASSERT_TRUE(pages.fits());
    ASSERT_TRUE(pages.double_buffered());
    // The console shows the first page: frames go to the second ...
    EXPECT_EQ(pages.draw_offset(), kPage);
    EXPECT_EQ(pages.pan_offset(), 640u);
    pages.panned(true);
    // ... which is then shown, and the first is drawn into.
    EXPECT_EQ(pages.draw_offset(), 0u);
    EXPECT_EQ(pages.pan_offset(), 0u);
    pages.panned(true);
    EXPECT_EQ(pages.draw_offset(), kPage);

    // A console that shows the second page has the first drawn into first.
    FramePages second(layout(1280, 1, 640));
    ASSERT_TRUE(second.double_buffered());
    EXPECT_EQ(second.draw_offset(), 0u);
    EXPECT_EQ(second.pan_offset(), 0u);
}

TEST(FramebufferPages, one_page_where_panning_cannot_land_on_a_whole_screen)
{
    EXPECT_FALSE(FramePages(layout(1280, 0)).double_buffered()) << "the driver cannot pan";
    EXPECT_FALSE(FramePages(layout(1279, 1)).double_buffered()) << "less than two screens";
    EXPECT_FALSE(FramePages(layout(1280, 24)).double_buffered()) << "640 lines are not whole pan steps of 24";
    EXPECT_TRUE(FramePages(layout(1280, 16)).double_buffered());
    FramebufferLayout sideways = layout(1280, 1);
    sideways.x_offset = 8;
    FramePages const offset(sideways);
    EXPECT_FALSE(offset.double_buffered());
    // One page is the visible part, wherever the console scrolled it to.
    EXPECT_EQ(offset.draw_offset(), 8u * 4);
    FramePages const scrolled(layout(1300, 0, 100));
    EXPECT_EQ(scrolled.draw_offset(), 100u * kLine);
    EXPECT_TRUE(scrolled.fits());
}

TEST(FramebufferPages, memory_must_hold_what_is_drawn)
{
    FramebufferLayout both = layout(1280, 1);
    both.memory_length = 2 * std::size_t { kPage } - 1;
    EXPECT_FALSE(FramePages(both).fits());
    FramebufferLayout visible = layout(700, 0, 61); // lines 61 .. 700 of 700
    EXPECT_FALSE(FramePages(visible).fits());
    visible.y_offset = 60;
    EXPECT_TRUE(FramePages(visible).fits());
}

TEST(FramebufferPages, a_refused_pan_leaves_the_visible_page_to_draw_into)
{
    FramePages first(layout(1280, 1));
    first.panned(false);
    EXPECT_FALSE(first.double_buffered());
    EXPECT_EQ(first.draw_offset(), 0u) << "the console's page still shows";

    FramePages later(layout(1280, 1));
    later.panned(true);
    later.panned(false);
    EXPECT_FALSE(later.double_buffered());
    EXPECT_EQ(later.draw_offset(), kPage) << "the page last panned in still shows";
}

TEST(FramebufferPages, the_hidden_page_catches_up_with_the_frame_before)
{
    FramePages pages(layout(1280, 1));
    PixelRect const a { 10, 20, 30, 40 }, b { 100, 5, 10, 10 }, c { 0, 300, 1, 1 };
    EXPECT_EQ(pages.area_to_draw(a), a) << "the first frame has no frame before";
    EXPECT_EQ(pages.area_to_draw(b), (PixelRect { 10, 5, 100, 55 }));
    // Only the one frame before: a is on both pages by now.
    EXPECT_EQ(pages.area_to_draw(c), (PixelRect { 0, 5, 110, 296 }));

    FramePages single(layout(640, 0));
    EXPECT_EQ(single.area_to_draw(a), a);
    EXPECT_EQ(single.area_to_draw(b), b);
}

namespace {

// The terminal's side of the switch, as letters: G/T graphics/text, P/A
// process/automatic switching, R/Q the acknowledgements.
class RecordingControl final : public ConsoleControl {
public:
    explicit RecordingControl(std::string* calls)
        : m_calls(calls)
    {
    }
    bool set_graphics(bool graphics) override { return put(graphics ? 'G' : 'T'); }
    bool set_process_switching(bool on) override { return put(on ? 'P' : 'A'); }
    void acknowledge_release() override { put('R'); }
    void acknowledge_acquire() override { put('Q'); }

private:
    bool put(char c)
    {
        m_calls->push_back(c);
        return true;
    }
    std::string* m_calls;
};

class FramebufferWindowTest : public ::testing::Test {
protected:
    static constexpr std::int32_t kWidth = 48, kHeight = 32;

    void SetUp() override
    {
        char pattern[] = "/tmp/qv-fb-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
        m_file = m_dir + "/fb.raw";
        setenv("QUILVANE_FBDEV", m_file.c_str(), 1);
        setenv("QUILVANE_INPUT", (m_dir + "/no-input").c_str(), 1);
        setenv("QUILVANE_PANEL_ORIENTATION", "0", 1);
        MessageQueue::main().clear();
        m_target = MessageQueue::main().create_window([](Message&) { return std::int64_t { 0 }; });
    }

    void TearDown() override
    {
        MessageQueue::main().destroy_window(m_target);
        MessageQueue::main().clear();
        for (char const* name : { "QUILVANE_FBDEV", "QUILVANE_FB_MODE", "QUILVANE_INPUT", "QUILVANE_PANEL_ORIENTATION" })
            unsetenv(name);
        unlink(m_file.c_str());
        rmdir(m_dir.c_str());
    }

    // The file standing for a 48 x 32 XRGB8888 device of one or two pages.
    void make_device(std::int32_t pages)
    {
        int const fd = open(m_file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, kWidth * kHeight * 4 * pages), 0);
        close(fd);
        setenv("QUILVANE_FB_MODE", pages == 2 ? "48x32:32/2" : "48x32:32", 1);
    }

    // A page of the device file, in the program's terms.
    std::vector<std::uint16_t> shown(std::int32_t page = 0) const
    {
        std::vector<std::uint32_t> raw(kWidth * kHeight);
        int const fd = open(m_file.c_str(), O_RDONLY | O_CLOEXEC);
        EXPECT_EQ(pread(fd, raw.data(), raw.size() * 4, static_cast<off_t>(raw.size()) * 4 * page),
            static_cast<ssize_t>(raw.size() * 4));
        close(fd);
        std::vector<std::uint16_t> pixels;
        for (std::uint32_t p : raw)
            pixels.push_back(panel_pixel_to_rgb565(p, kFormatXrgb8888));
        return pixels;
    }

    // The activation the window posted, from the queue (which pumps it).
    std::int32_t activation()
    {
        Message message;
        while (MessageQueue::main().peek(message))
            if (message.message == WM_ACTIVATE)
                return static_cast<std::int32_t>(message.wparam);
        return -1;
    }

    std::string m_dir, m_file;
    WindowId m_target {};
};

}

TEST_F(FramebufferWindowTest, leaving_the_terminal_stops_drawing_and_coming_back_repaints_all)
{
    make_device(1);
    std::string calls;
    auto window = create_framebuffer_window({ kWidth, kHeight, 96 }, m_target, std::make_unique<RecordingControl>(&calls));
    ASSERT_TRUE(window);
    ASSERT_EQ(window->width(), kWidth);
    ASSERT_EQ(window->height(), kHeight);
    // Without the console's handlers the signals below would end the test.
    ASSERT_EQ(calls, "GP");

    std::vector<std::uint16_t> const a(kWidth * kHeight, 0xF800), b(kWidth * kHeight, 0x07E0),
        c(kWidth * kHeight, 0x001F);
    window->present(a.data(), kWidth * 2, 0, 0, kWidth, kHeight, 0, 0);
    EXPECT_EQ(shown(), a);

    raise(SIGUSR1); // another terminal asks for the screen
    EXPECT_EQ(activation(), 0);
    EXPECT_EQ(calls, "GPR") << "the terminal was let go";
    window->present(b.data(), kWidth * 2, 0, 0, kWidth, kHeight, 0, 0);
    EXPECT_EQ(shown(), a) << "a frame drawn while away must not reach the screen";

    raise(SIGUSR2); // and gives it back
    EXPECT_EQ(activation(), 1);
    EXPECT_EQ(calls, "GPRQ");
    // The first frame back changes one small rectangle, yet the console
    // drew over everything: all of it is repainted.
    window->present(b.data(), kWidth * 2, 5, 6, 2, 3, 0, 0);
    EXPECT_EQ(shown(), b);

    // From then on only what changed is drawn.
    window->present(c.data(), kWidth * 2, 5, 6, 2, 3, 0, 0);
    std::vector<std::uint16_t> expected = b;
    for (std::int32_t y = 6; y < 9; ++y)
        for (std::int32_t x = 5; x < 7; ++x)
            expected[y * kWidth + x] = 0x001F;
    EXPECT_EQ(shown(), expected);

    window.reset();
    EXPECT_EQ(calls, "GPRQAT") << "text mode and automatic switching come back with the window";
}

TEST_F(FramebufferWindowTest, a_refused_pan_puts_the_frame_on_the_visible_page_and_stays_there)
{
    make_device(2);
    auto window = create_framebuffer_window({ kWidth, kHeight, 96 }, m_target, nullptr);
    ASSERT_TRUE(window);
    std::vector<std::uint16_t> const a(kWidth * kHeight, 0xF800), b(kWidth * kHeight, 0x07E0);
    // A file cannot pan: the frame drawn behind never shows, so it is drawn
    // again where the screen is.
    window->present(a.data(), kWidth * 2, 0, 0, kWidth, kHeight, 0, 0);
    EXPECT_EQ(shown(1), a) << "the first frame goes to the hidden page";
    EXPECT_EQ(shown(0), a) << "and, the pan refused, to the visible one";
    // From then on frames go straight to the visible page.
    window->present(b.data(), kWidth * 2, 0, 0, kWidth, kHeight, 0, 0);
    EXPECT_EQ(shown(0), b);
    EXPECT_EQ(shown(1), a);
}

TEST_F(FramebufferWindowTest, a_flood_of_touches_is_read_a_batch_at_a_time_with_moves_collapsed_and_presses_kept)
{
    make_device(1);
    std::string const fifo = m_dir + "/touch";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    setenv("QUILVANE_INPUT", fifo.c_str(), 1);
    auto window = create_framebuffer_window({ kWidth, kHeight, 96 }, m_target, nullptr);
    ASSERT_TRUE(window);
    int const writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    // The whole flood is in the FIFO before the first read, as it would be
    // in the kernel's buffer: every read finds a full batch.
    int const room = fcntl(writer, F_SETPIPE_SZ, 1 << 20);
    ASSERT_GE(room, 1 << 20);

    // Touches at alternating ends (never a double tap), each dragged
    // through kMoves points, then a key pressed and released.
    constexpr int kMoves = 30;
    std::vector<input_event> records;
    auto add = [&](std::uint16_t type, std::uint16_t code, std::int32_t value) {
        input_event e {};
        e.type = type;
        e.code = code;
        e.value = value;
        records.push_back(e);
    };
    using Press = std::pair<std::uint32_t, std::uint64_t>; // message, wparam
    std::vector<Press> presses;
    std::vector<std::int64_t> lifted_at;
    constexpr std::size_t kRound = 4 + 3 * kMoves + 2 + 4;
    while ((records.size() + kRound) * sizeof(input_event) <= static_cast<std::size_t>(room)) {
        int const x0 = (lifted_at.size() % 2) * 40;
        add(EV_KEY, BTN_TOUCH, 1), add(EV_ABS, ABS_X, x0), add(EV_ABS, ABS_Y, 0), add(EV_SYN, SYN_REPORT, 0);
        for (int i = 1; i <= kMoves; ++i)
            add(EV_ABS, ABS_X, x0 + i % 7), add(EV_ABS, ABS_Y, i), add(EV_SYN, SYN_REPORT, 0);
        add(EV_KEY, BTN_TOUCH, 0), add(EV_SYN, SYN_REPORT, 0);
        add(EV_KEY, KEY_A, 1), add(EV_SYN, SYN_REPORT, 0), add(EV_KEY, KEY_A, 0), add(EV_SYN, SYN_REPORT, 0);
        presses.insert(presses.end(), { { WM_LBUTTONDOWN, 1 }, { WM_LBUTTONUP, 0 }, { WM_KEYDOWN, 'A' }, { WM_KEYUP, 'A' } });
        lifted_at.push_back(pack_point(x0 + kMoves % 7, kMoves));
    }
    std::size_t const bytes = records.size() * sizeof(input_event);
    ASSERT_EQ(write(writer, records.data(), bytes), static_cast<ssize_t>(bytes));

    // Frames as the program runs them: messages until the queue has none.
    MessageQueue& queue = MessageQueue::main();
    std::vector<Press> got;
    std::vector<std::int64_t> moved_to; // the last move before each lift
    std::size_t moves = 0, frames = 0, most_waiting = 0;
    std::int64_t last_move = -1;
    auto const give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (got.size() < presses.size() && std::chrono::steady_clock::now() < give_up) {
        ++frames;
        Message m;
        while (queue.peek(m)) {
            most_waiting = std::max(most_waiting, queue.pending() + 1);
            if (m.message == WM_MOUSEMOVE) {
                ++moves;
                last_move = m.lparam;
                continue;
            }
            if (m.message == WM_LBUTTONUP)
                moved_to.push_back(last_move);
            got.push_back({ m.message, m.wparam });
        }
    }
    EXPECT_EQ(got, presses) << "every press and release, in order";
    EXPECT_EQ(moved_to, lifted_at) << "the moves that are left end where the pen went";
    // A drag's moves come as one, or two where a batch ends inside it.
    EXPECT_LE(moves, 2 * lifted_at.size());
    EXPECT_LE(most_waiting, EvdevDevice::kRecordsPerRead) << "never more than a batch waits";
    EXPECT_GE(frames, records.size() / (MessageQueue::kInputPerFrame + EvdevDevice::kRecordsPerRead))
        << "frames go on during the flood";
    // Once it has been read, nothing is left to do.
    Message m;
    EXPECT_FALSE(queue.peek(m));
    int unread = -1;
    ASSERT_EQ(ioctl(writer, FIONREAD, &unread), 0);
    EXPECT_EQ(unread, 0);
    close(writer);
    window.reset();
    unlink(fifo.c_str());
}
