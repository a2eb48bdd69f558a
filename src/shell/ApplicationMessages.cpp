// The window messages the application takes: keys, characters, the pen
// and the mouse, activation and a second start's command line, each turned
// into what the screen stack understands.

#include "shell/Application.h"

#include "base/Log.h"
#include "base/ProgramClock.h"
#include "platform/System.h"

#include <utility>

namespace qv {

using namespace platform;

namespace {

char16_t const* mouse_message_name(std::uint32_t msg)
{
    switch (msg) {
    case WM_MOUSEWHEEL: return u"WM_MOUSEWHEEL";
    case WM_LBUTTONDBLCLK: return u"WM_LBUTTONDBLCLK";
    case WM_RBUTTONDOWN: return u"WM_RBUTTONDOWN";
    default: return u"WM_MBUTTONDOWN";
    }
}

}

void Application::dispatch_key(std::uint32_t msg, std::uint64_t wparam, std::int64_t lparam)
{
    bool const hotkey = msg == WM_HOTKEY;
    int const vk = static_cast<int>(hotkey ? ((lparam >> 16) & 0xFFFF) : wparam);
    KeyInput key;
    key.key = key_from_virtual_key(vk);
    key.down = hotkey ? (lparam & 0x1000) == 0 : msg == WM_KEYDOWN;
    key.first = hotkey || (lparam & kKeyRepeatBit) == 0;
    Log::get() << (msg == WM_KEYDOWN ? u"WM_KEYDOWN = " : msg == WM_KEYUP ? u"WM_KEYUP = " : u"WM_HOTKEY = ")
               << static_cast<std::int32_t>(wparam) << u"(" << key_name(key.key) << u")"
               << u" lParam=" << static_cast<std::int64_t>(lparam) << u" ticks=" << tick_count() << u"\n";
    if (m_edit && !hotkey && m_edit->on_edit_key(key))
        return;
    if (!hotkey && m_listener && m_listener->on_app_key(key))
        return;
    if (Screen* top = top_screen())
        top->on_key(key);
}

void Application::on_activate(bool active)
{
    GameBase& g = *m_game;
    if (active) {
        layout();
        g.m_inactive = false;
        if (g.m_display)
            g.m_display->resume();
        m_redraw = true;
        if (m_listener)
            m_listener->on_activate();
    } else {
        g.m_inactive = true;
        if (g.m_display)
            g.m_display->suspend();
        if (m_listener)
            m_listener->on_deactivate();
    }
}

void Application::on_copy_data(Message& message)
{
    if (message.wparam != 0)
        return;
    WString text = std::move(message.text);
    if (text == u"%CommandLineEmpty%")
        text.clear();
    queue_command_line(std::move(text));
}

void Application::queue_command_line(WString text)
{
    GameBase& g = *m_game;
    {
        MutexLock lock(g.m_command_lines_mutex);
        g.m_command_lines.push_back(std::move(text));
    }
    MessageQueue::main().post(g.m_window, kCommandLineMessage);
}

void Application::set_listener(AppListener* listener)
{
    m_listener = listener;
    if (!listener)
        return;
    GameBase& g = *m_game;
    MutexLock lock(g.m_command_lines_mutex);
    if (!g.m_command_lines.empty())
        MessageQueue::main().post(g.m_window, kCommandLineMessage);
}

void Application::on_command_line()
{
    GameBase& g = *m_game;
    // One arrived while the first screen was still being made waits for it:
    // set_listener asks again.
    if (!m_listener)
        return;
    // All that waited, in order; the messages posted for them find none.
    for (;;) {
        WString text;
        {
            MutexLock lock(g.m_command_lines_mutex);
            if (g.m_command_lines.empty())
                return;
            text = std::move(g.m_command_lines.front());
            g.m_command_lines.pop_front();
        }
        if (g.m_native)
            g.m_native->raise();
        Log::get() << u"Application: command line, brought to the front\n";
        m_listener->on_command_line(text);
    }
}

void Application::on_char(char16_t c)
{
    if (c < 32)
        return;
    if (m_edit)
        m_edit->on_text(WStringView(&c, 1));
    else if (Screen* top = top_screen())
        top->on_text(WStringView(&c, 1));
}

void Application::on_pen(std::uint32_t msg, std::int64_t lparam)
{
    GameBase& g = *m_game;
    Screen* top = top_screen();
    switch (msg) {
    case WM_LBUTTONDOWN:
        g.m_last_pen = Point { kNoPen, kNoPen };
        g.m_captured = true;
        if (top)
            top->on_pointer_button(to_client(lparam), true, true, program_ticks());
        break;
    case WM_MOUSEMOVE:
        if (top)
            top->on_pointer_move(to_client(lparam));
        break;
    case WM_LBUTTONUP:
        g.m_last_pen = to_client(lparam);
        if (g.m_captured) {
            // Releasing the capture reports the change at once, as the
            // window manager does, so the release comes before later input.
            g.m_captured = false;
            on_pen(WM_CAPTURECHANGED, 0);
        }
        break;
    case WM_CAPTURECHANGED:
        if (top) {
            bool const has_position = g.m_last_pen.x != kNoPen;
            top->on_pointer_button(has_position ? g.m_last_pen : Point { 0, 0 }, false, has_position, program_ticks());
        }
        break;
    default:
        break;
    }
}

void Application::on_mouse(std::uint32_t msg, std::uint64_t wparam, std::int64_t lparam)
{
    Point const point = to_client(lparam);
    double const notches = wheel_notches(wparam);
    {
        auto log = Log::get();
        log << mouse_message_name(msg) << u" " << point.x << u" " << point.y;
        if (msg == WM_MOUSEWHEEL)
            log << u" notches=" << notches << (wheel_ctrl(wparam) ? u" ctrl" : u"");
        log << u"\n";
    }
    Screen* top = top_screen();
    if (!top)
        return;
    switch (msg) {
    case WM_MOUSEWHEEL:
        // A delta too small to count (a touchpad's last breath) moves nothing.
        if (notches != 0)
            top->on_wheel(point, notches, wheel_ctrl(wparam));
        break;
    case WM_LBUTTONDBLCLK:
        top->on_double_click(point);
        break;
    default:
        top->on_menu_click(point);
        break;
    }
}

std::int64_t Application::handle_message(Message& message)
{
    switch (message.message) {
    case WM_CREATE:
        layout();
        break;
    case WM_DESTROY:
        MessageQueue::main().post_quit();
        break;
    case WM_ACTIVATE:
        on_activate(message.wparam != 0);
        break;
    case WM_PAINT:
        window_paint();
        break;
    case WM_CLOSE:
        if (!m_listener || m_listener->can_close())
            MessageQueue::main().post(m_game->m_window, WM_DESTROY);
        return 0;
    case WM_SETTINGCHANGE:
        if (message.wparam == kSettingDisplayReset || message.wparam == kSettingWorkArea || message.wparam == 224)
            ResolutionChanged();
        break;
    case WM_COPYDATA:
        on_copy_data(message);
        break;
    case kCommandLineMessage:
        on_command_line();
        break;
    case WM_HELP:
        if (m_listener)
            m_listener->on_help();
        break;
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_HOTKEY:
        dispatch_key(message.message, message.wparam, message.lparam);
        break;
    case WM_CHAR: {
        char16_t const c = static_cast<char16_t>(message.wparam);
        Log::get() << u"WM_CHAR=" << WStringView(&c, 1) << u" lParam=" << static_cast<std::int64_t>(message.lparam)
                   << u" ticks=" << tick_count() << u"\n";
        on_char(c);
        break;
    }
    case WM_TIMER:
        if (message.wparam == kFrameTimerId)
            timer_frame();
        break;
    case WM_LBUTTONDOWN:
    case WM_MOUSEMOVE:
    case WM_LBUTTONUP:
    case WM_CAPTURECHANGED:
        on_pen(message.message, message.lparam);
        break;
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_MOUSEWHEEL:
        on_mouse(message.message, message.wparam, message.lparam);
        break;
    default:
        break;
    }
    return 0;
}

}
