#pragma once

// The program's window messages. Numbers and meanings are those of the
// original window manager, so that the code above this layer reads the same
// whatever feeds it: the SDL window, the headless script, or a test.
//
// One difference: the second press of a double click still arrives as
// WM_LBUTTONDOWN, and WM_LBUTTONDBLCLK follows it. Screens that do not care
// for double clicks see two taps, as a pen gives them, and lose nothing.

#include "core/WString.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>

namespace qv::platform {

enum : std::uint32_t {
    WM_NULL = 0x0000, // does nothing: wakes the frame loop
    WM_CREATE = 0x0001,
    WM_DESTROY = 0x0002,
    WM_ACTIVATE = 0x0006,
    WM_PAINT = 0x000F,
    WM_CLOSE = 0x0010,
    WM_QUIT = 0x0012,
    WM_SETTINGCHANGE = 0x001A,
    WM_COPYDATA = 0x004A,
    WM_HELP = 0x0053,
    WM_KEYDOWN = 0x0100,
    WM_KEYUP = 0x0101,
    WM_CHAR = 0x0102,
    WM_TIMER = 0x0113,
    WM_MOUSEMOVE = 0x0200,
    WM_LBUTTONDOWN = 0x0201,
    WM_LBUTTONUP = 0x0202,
    WM_LBUTTONDBLCLK = 0x0203,
    WM_RBUTTONDOWN = 0x0204,
    WM_MBUTTONDOWN = 0x0207,
    WM_MOUSEWHEEL = 0x020A,
    WM_CAPTURECHANGED = 0x0215,
    WM_HOTKEY = 0x0312,
    WM_USER = 0x0400,
};

// Settings-change parameters that make the application re-read the screen.
inline constexpr std::uint64_t kSettingDisplayReset = 12290;
inline constexpr std::uint64_t kSettingWorkArea = 47;

// Bit 30 of a key message's data: the key was already down (auto-repeat).
inline constexpr std::int64_t kKeyRepeatBit = std::int64_t { 1 } << 30;

// Mouse messages' wparam flags: the buttons held and Ctrl.
inline constexpr std::uint64_t MK_LBUTTON = 0x0001;
inline constexpr std::uint64_t MK_RBUTTON = 0x0002;
inline constexpr std::uint64_t MK_CONTROL = 0x0008;
inline constexpr std::uint64_t MK_MBUTTON = 0x0010;

// One notch of a wheel in WM_MOUSEWHEEL's delta. Smooth wheels and touchpads
// send parts of a notch; a delta keeps them to 1/120 of one.
inline constexpr std::int32_t kWheelDelta = 120;

using WindowId = std::uint32_t;

struct Message {
    WindowId window { 0 };
    std::uint32_t message { 0 };
    std::uint64_t wparam { 0 };
    std::int64_t lparam { 0 };
    WString text; // the copy-data payload
};

// Pen points travel in lparam as on the original: x in the low word, y in
// the high word, both signed 16-bit.
constexpr std::int64_t pack_point(std::int32_t x, std::int32_t y)
{
    return static_cast<std::int64_t>((static_cast<std::uint32_t>(static_cast<std::uint16_t>(y)) << 16)
        | static_cast<std::uint16_t>(x));
}
constexpr std::int32_t point_x(std::int64_t lparam) { return static_cast<std::int16_t>(lparam & 0xFFFF); }
constexpr std::int32_t point_y(std::int64_t lparam) { return static_cast<std::int16_t>((lparam >> 16) & 0xFFFF); }

// WM_MOUSEWHEEL's wparam as on the original: the signed delta in the high
// word (positive away from the user), the MK_ flags in the low word. The
// point travels in lparam as a pen point does, in window coordinates.
// Turns beyond what the 16-bit delta holds (273 notches) are cut there.
constexpr std::uint64_t pack_wheel(double notches, bool ctrl)
{
    double const scaled = notches * kWheelDelta;
    double const clamped = scaled > 32767.0 ? 32767.0 : scaled < -32767.0 ? -32767.0 : scaled;
    auto const delta = static_cast<std::int16_t>(clamped < 0 ? clamped - 0.5 : clamped + 0.5);
    return (static_cast<std::uint64_t>(static_cast<std::uint16_t>(delta)) << 16) | (ctrl ? MK_CONTROL : 0);
}
constexpr double wheel_notches(std::uint64_t wparam)
{
    return static_cast<std::int16_t>((wparam >> 16) & 0xFFFF) / static_cast<double>(kWheelDelta);
}
constexpr bool wheel_ctrl(std::uint64_t wparam) { return (wparam & MK_CONTROL) != 0; }

// A source of native events that the queue drains before it answers.
class EventPump {
public:
    virtual ~EventPump() = default;
    // Posts (with post_input) a bounded batch of what the native side has
    // ready, leaving the rest there for the next call; never blocks. The
    // number of native events taken.
    virtual std::size_t pump() = 0;
    // Blocks for at most `milliseconds` (negative: no limit) or until wake()
    // or native events are ready; takes none of them.
    virtual void wait(std::int32_t milliseconds) = 0;
    // From any thread: ends a wait().
    virtual void wake() = 0;
};

using WindowProc = std::function<std::int64_t(Message&)>;
// Sees every message of one window before its procedure; may rewrite it.
using WindowHook = std::function<void(Message&)>;

// The main thread's message queue with its windows and their timers. Any
// thread may post; getting, dispatching and timers belong to the main thread.
//
// Native input is taken from the pump in batches, a batch when the queue
// has run dry: at most kInputPerFrame native events from one moment the
// reader runs out of messages (peek answers none, or a wait blocks) to the
// next, and none while kInputBacklog messages wait. The rest waits with
// the kernel or SDL, so a flood of input can neither grow this queue nor
// keep frames from being drawn; what is read is never dropped.
class MessageQueue {
public:
    static constexpr std::size_t kInputPerFrame = 1024;
    static constexpr std::size_t kInputBacklog = 1024;

    static MessageQueue& main();

    WindowId create_window(WindowProc proc);
    void destroy_window(WindowId window);
    bool window_exists(WindowId window) const;
    void set_hook(WindowId window, WindowHook hook); // an empty hook removes it

    void post(Message message);
    void post(WindowId window, std::uint32_t msg, std::uint64_t wparam = 0, std::int64_t lparam = 0);
    void post_quit();
    // Native input, from the pump on the main thread. A pointer move right
    // behind a move of the same window with the same buttons held takes its
    // place: only where the pointer is now matters, and a flood of moves
    // must not queue up as work for frames to come. Presses, releases and
    // keys are kept, in order.
    void post_input(Message message);
    // How many messages wait.
    std::size_t pending() const;

    // Without waiting; a due timer yields its WM_TIMER when nothing else waits.
    bool peek(Message& message);
    // Blocks until a message is there.
    Message wait();
    // Blocks until a message is there or `timeout_ms` has passed, leaving
    // it queued; true when one is there.
    bool wait_any(std::int32_t timeout_ms);
    // Blocks until a message `msg` for `window` arrives and takes it out,
    // leaving every other message where it was; false after `timeout_ms`
    // (negative: no limit).
    bool wait_for(WindowId window, std::uint32_t msg, std::int32_t timeout_ms = -1);

    // Runs the hook and the window procedure; a message for a window that
    // no longer exists is dropped.
    std::int64_t dispatch(Message& message);

    void set_timer(WindowId window, std::uint32_t id, std::uint32_t period_ms);
    void kill_timer(WindowId window, std::uint32_t id);
    bool has_timer(WindowId window, std::uint32_t id) const;

    void set_pump(EventPump* pump);
    // Drops every message and timer (tests start from a clean queue).
    void clear();

private:
    struct Timer {
        std::uint32_t period { 0 };
        std::uint32_t due { 0 };
    };
    bool take_locked(Message& message);
    std::int32_t next_timer_wait_locked() const;
    void pump_input();

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Message> m_messages;
    std::map<WindowId, WindowProc> m_windows;
    std::map<WindowId, WindowHook> m_hooks;
    std::map<std::pair<WindowId, std::uint32_t>, Timer> m_timers;
    WindowId m_next_window { 1 };
    EventPump* m_pump { nullptr };
    std::size_t m_input_taken { 0 }; // native events since the reader last ran out
    bool m_tail_is_input_move { false };
};

}
