#include "shell/Application.h"

#include "base/Log.h"
#include "base/Registry.h"
#include "display/Script.h"
#include "base/ResolutionListener.h"
#include "imaging/PixelOp.h"
#include "imaging/RenderSurface.h"
#include "platform/System.h"
#include "skin/ElementRegistry.h"
#include "skin/SkinErrors.h"
#include "skin/TextDrawing.h"
#include "widgets/WidgetTypes.h"

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <thread>

namespace qv {

using namespace platform;

namespace {

Application* g_application = nullptr;

// A type name whose class the widget toolkit does not provide yet is held
// by a factory that refuses, so that a skin built on it fails the way an
// unknown type does.
ElementFactory element_factory_for(WString const& name)
{
    if (auto factory = widget_factory(name))
        return factory;
    return [name](Element*) -> Element* { throw NodeNotRegistered(name); };
}

std::uint16_t rgb565(std::uint8_t r, std::uint8_t g, std::uint8_t b)
{
    return static_cast<std::uint16_t>(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3));
}

}

Application::Application(WStringView name)
    : m_name(name)
{
    if (g_application)
        report_fatal(u"Application::Application", u"instance != 0");
    for (auto const* type : kElementTypes)
        register_element_type(type, element_factory_for(type));
    m_game = std::make_unique<GameBase>(name, [this](Message& message) { return handle_message(message); });
    g_application = this;
    m_background_colour = rgb565(0, 0, 0);
    FontDescription font;
    font.size = 10;
    font.face = u"Tahoma";
    m_default_font = make_font(font);
    std::ostringstream address;
    address << static_cast<void const*>(this);
    Log::get() << u"Application::Application() this=" << address.str() << u"\n";
}

Application::~Application()
{
    Log::get() << u"Application::~Application()\n";
    m_frame_ticks.clear();
    m_default_font.reset();
    m_game.reset();
    m_animation.reset();
    m_background.reset();
    m_stack.clear();
    g_application = nullptr;
    for (auto it = std::rbegin(kElementTypes); it != std::rend(kElementTypes); ++it)
        unregister_element_type(*it);
}

Application* Application::instance() { return g_application; }

Rect Application::client_area() const
{
    GameBase const& g = *m_game;
    if (!g.m_window_mode && !m_edit && g.m_display)
        return Rect { 0, 0, g.m_display->width(), g.m_display->height() };
    return windowed_client_area(g.m_screen_info, g.m_show_taskbar);
}

void Application::layout()
{
    GameBase& g = *m_game;
    if (!g.m_native)
        return;
    bool const full = display_kind() == DisplayKind::Fullscreen && !g.m_window_mode && !m_edit;
    g.m_native->set_fullscreen(full);
}

void Application::set_window_mode(bool show_taskbar)
{
    GameBase& g = *m_game;
    if (g.m_window_mode && g.m_show_taskbar == show_taskbar)
        return;
    g.m_window_mode = true;
    g.m_show_taskbar = show_taskbar;
    if (!m_edit) {
        g.m_display.reset();
        MessageQueue::main().set_timer(g.m_window, kFrameTimerId, kFrameTimerMs);
        layout();
    }
    m_redraw = true;
}

void Application::set_direct_mode(std::int32_t orientation)
{
    GameBase& g = *m_game;
    if (!g.m_window_mode && orientation == g.m_display_params.orientation)
        return;
    g.m_display_params.orientation = orientation;
    g.m_window_mode = false;
    g.m_display.reset();
    if (!m_edit) {
        DisplayHost const host { g.m_window, g.m_native.get(), g.m_screen_info.width, g.m_screen_info.height };
        g.m_display_params.width = 0;
        g.m_display_params.height = 0;
        g.m_display = Display::create(host, g.m_display_params);
        if (!g.m_display) {
            // Without a display nothing would ever draw; the window's own
            // frames go on instead.
            Log::get() << u"Application::set_direct_mode no display, staying in window mode\n";
            g.m_window_mode = true;
            layout();
            m_redraw = true;
            return;
        }
        // The desktop shows nothing worth keeping under the first frame.
        if (m_stack.empty())
            clear_background();
        MessageQueue::main().kill_timer(g.m_window, kFrameTimerId);
        if (!g.m_input_grabbed && g.m_display)
            g.m_display->close_input();
        layout();
    }
    m_redraw = true;
}

void Application::set_input_grabbed(bool grabbed)
{
    GameBase& g = *m_game;
    if (g.m_input_grabbed == grabbed)
        return;
    g.m_input_grabbed = grabbed;
    if (g.m_display) {
        if (grabbed)
            g.m_display->open_input();
        else
            g.m_display->close_input();
    }
}

void Application::begin_edit(EditReceiver* receiver)
{
    GameBase& g = *m_game;
    if (receiver) {
        m_edit = receiver;
        g.m_display.reset();
        MessageQueue::main().set_timer(g.m_window, kFrameTimerId, kFrameTimerMs);
        layout();
    } else if (m_edit) {
        m_edit = nullptr;
        if (!g.m_window_mode) {
            g.m_window_mode = true; // makes set_direct_mode build the display again
            set_direct_mode(g.m_display_params.orientation);
        }
        layout();
        write_dword(kMakerKey, u"SIPPreference", g.m_sip_preference ? 1 : 0);
    }
    m_redraw = true;
}

void Application::run()
{
    auto& queue = MessageQueue::main();
    for (;;) {
        Message message;
        GameBase const& g = *m_game;
        if (g.m_inactive || !g.m_display) {
            message = queue.wait();
        } else if (!queue.peek(message)) {
            direct_frame();
            // The frame pace, cut short by anything posted meanwhile: input,
            // or a background thread's news (a finished tile) that the
            // next frame should show at once.
            queue.wait_any(10);
            continue;
        }
        if (message.message == WM_QUIT)
            break;
        queue.dispatch(message);
    }
}

bool Application::direct_frame()
{
    GameBase& g = *m_game;
    std::uint32_t const now = tick_count();
    double const seconds = frame_seconds(now, g.m_last_tick);
    g.m_last_tick = now;
    update(seconds);
    bool drawn = false;
    Display* display = g.m_display.get();
    if (display && needs_redraw() && display->begin_frame()) {
        DisplaySurface const* surface = display->back_buffer();
        auto buffer = PixelBuffer::wrap(surface->width, surface->height, surface->pitch, surface->pixels);
        DrawTarget target(buffer.get());
        draw(target);
        display->set_update_all();
        display->end_frame(false);
        drawn = true;
    }
    if (display)
        display->idle();
    return drawn;
}

void Application::update(double seconds)
{
    if (m_animation) {
        m_animation->advance(seconds);
        m_redraw = true;
        if (m_animation->ended())
            m_animation.reset();
        return;
    }
    if (Screen* top = top_screen()) {
        Rect const area = client_area();
        top->set_size(Size { area.width(), area.height() });
        top->advance(seconds);
    }
}

bool Application::needs_redraw() const
{
    if (m_redraw || m_animation || m_dim_level != (top_is_modal() ? 128 : 256))
        return true;
    Screen const* top = top_screen();
    return top && top->needs_redraw();
}

void Application::darken(DrawTarget& target, std::int32_t level)
{
    if (level >= 256)
        return;
    FadeOp const fade = make_fade_op(std::clamp(level, 0, 255));
    Rect const clip = target.clip();
    fill_rect(target, clip.left, clip.top, clip.width(), clip.height(), fade);
}

void Application::step_dim(std::int32_t goal)
{
    if (m_dim_level == goal)
        return;
    m_dim_level = m_dim_level < goal ? std::min(goal, m_dim_level + 16) : std::max(goal, m_dim_level - 16);
    m_redraw = true;
}

bool Application::draw(DrawTarget& target)
{
    Screen* top = top_screen();
    bool const asked = m_redraw || (top && top->needs_redraw());
    m_redraw = false;
    Rect const clip = target.clip();
    ColourFillOp const fill(m_background_colour);
    if (m_animation) {
        fill_rect(target, clip.left, clip.top, clip.width(), clip.height(), fill);
        m_animation->draw(target, Point { 0, 0 });
    } else if (!top) {
        fill_rect(target, clip.left, clip.top, clip.width(), clip.height(), fill);
    } else {
        Rect const area = client_area();
        top->set_size(Size { area.width(), area.height() });
        if (m_stack.back().modal) {
            if (m_background)
                copy_rect(target, 0, 0, m_background->width(), m_background->height(), *m_background, 0, 0,
                    copy_op());
            else
                fill_rect(target, clip.left, clip.top, clip.width(), clip.height(), fill);
            darken(target, m_dim_level);
            step_dim(128);
        }
        top->draw(target, Point { 0, 0 });
    }
    if (!top || !m_stack.back().modal) {
        darken(target, m_dim_level);
        step_dim(256);
    }
    if (logging_on())
        draw_overlay(target, asked);
    return asked;
}

bool Application::logging_on()
{
    std::uint32_t const now = tick_count();
    if (m_log_checked == 0 || now - m_log_checked > 1000) {
        std::uint32_t value = 0;
        m_log_on = read_dword(kMakerKey, u"Log", value) && value != 0;
        m_log_checked = now | 1;
    }
    return m_log_on;
}

void Application::draw_overlay(DrawTarget& target, bool asked)
{
    m_frame_ticks.push_back(tick_count());
    while (m_frame_ticks.size() > 20)
        m_frame_ticks.pop_front();
    fill_rect(target, 0, 0, 150, 20, make_fade_op(128));
    if (m_frame_ticks.size() >= 2 && m_default_font) {
        double const ms = static_cast<double>(m_frame_ticks.back() - m_frame_ticks.front())
            / static_cast<double>(m_frame_ticks.size() - 1);
        char text[64];
        std::snprintf(text, sizeof text, asked ? "%.1f ms %lld Kp" : "[%.1f ms] %lld Kp", ms,
            static_cast<long long>(render_surface_pixel_total() / 1000));
        std::string line = text;
        TextColour colour { 64, 255, 64 };
        if (ms >= 60) {
            colour = { 255, 64, 64 };
        } else if (ms >= 40) {
            colour = { 255, static_cast<std::uint8_t>(255 - (ms - 40) / 20 * 191), 64 };
        } else if (ms >= 20) {
            colour = { static_cast<std::uint8_t>(64 + (ms - 20) / 20 * 191), 255, 64 };
        }
        draw_text(*m_default_font, target, colour, from_utf8(line), Point { 0, 0 }, Size { 160, 20 }, HAlign::Left,
            VAlign::Top, TextWrap::SingleLine);
    }
    if (!asked)
        m_frame_ticks.clear();
}

void Application::clear_background() { m_background.reset(); }

void Application::render_into_background(Screen& screen)
{
    Rect const area = client_area();
    if (!m_background || m_background->width() != area.width() || m_background->height() != area.height())
        m_background = PixelBuffer::create(area.width(), area.height());
    if (!m_background)
        return;
    screen.set_size(Size { area.width(), area.height() });
    DrawTarget target(m_background.get());
    screen.draw(target, Point { 0, 0 });
}

void Application::start_animation(Screen& screen, std::int32_t direction)
{
    if (ScreenAnimation const* animation = screen.animation()) {
        m_animation = animation->clone();
        if (m_animation)
            m_animation->start(m_background.get(), direction);
    }
}

void Application::push_screen(Screen* screen, bool modal)
{
    m_redraw = true;
    Rect const area = client_area();
    screen->set_size(Size { area.width(), area.height() });
    if (m_stack.empty()) {
        screen->set_visible(true);
    } else if (modal) {
        m_animation.reset();
        Entry const top = m_stack.back();
        if (!top.modal)
            render_into_background(*top.screen);
        top.screen->set_visible(false);
        screen->show(true);
    } else {
        m_animation.reset();
        Entry const top = m_stack.back();
        bool const animated = screen->animation() != nullptr;
        if (top.modal) {
            if (animated && m_background) {
                DrawTarget target(m_background.get());
                darken(target, m_dim_level);
                top.screen->draw(target, Point { 0, 0 });
            } else {
                clear_background();
            }
            top.screen->set_visible(false);
            screen->set_visible(true);
            m_dim_level = 256;
        } else {
            if (animated)
                render_into_background(*top.screen);
            top.screen->set_visible(false);
            screen->set_visible(true);
        }
        start_animation(*screen, +1);
    }
    m_stack.push_back(Entry { screen, modal });
    if (m_listener)
        m_listener->on_screen_pushed(screen);
}

bool Application::remove_screen(Screen* screen)
{
    auto const it = std::find_if(m_stack.begin(), m_stack.end(), [screen](Entry const& e) { return e.screen == screen; });
    if (it == m_stack.end())
        return false;
    m_redraw = true;
    if (m_listener)
        m_listener->on_screen_removed(screen);
    if (it + 1 != m_stack.end()) {
        screen->set_visible(false);
        m_stack.erase(it);
        return true;
    }
    Entry const removed = m_stack.back();
    m_stack.pop_back();
    if (m_stack.empty())
        return true;
    m_animation.reset();
    Entry const top = m_stack.back();
    if (removed.modal) {
        screen->set_visible(false);
        if (top.modal) {
            top.screen->show(true);
        } else {
            clear_background();
            top.screen->set_visible(true);
        }
    } else {
        bool const animated = screen->animation() != nullptr;
        if (top.modal) {
            for (auto below = m_stack.rbegin() + 1; below != m_stack.rend(); ++below) {
                if (!below->modal) {
                    render_into_background(*below->screen);
                    break;
                }
            }
            top.screen->show(true);
        } else {
            top.screen->set_visible(true);
            if (animated)
                render_into_background(*top.screen);
        }
        start_animation(*screen, -1);
        screen->set_visible(false);
    }
    Rect const area = client_area();
    top.screen->set_size(Size { area.width(), area.height() });
    return true;
}

void Application::minimize()
{
    if (m_game->m_native)
        m_game->m_native->minimize();
}

void Application::ResolutionChanged()
{
    GameBase& g = *m_game;
    ScreenInfo const info = read_screen_info(g.m_native.get());
    if (info == g.m_screen_info) {
        layout();
        return;
    }
    if (info.orientation != g.m_screen_info.orientation)
        notify_resolution_change();
    g.m_screen_info = info;
    Log::get() << u"Application::ResolutionChanged 2\n";
    // The display's surface has the old size; a new one follows the window.
    if (!g.m_window_mode && !m_edit) {
        g.m_window_mode = true;
        set_direct_mode(g.m_display_params.orientation);
    }
    if (m_listener)
        m_listener->on_resize();
    m_redraw = true;
    layout();
}

Point Application::to_client(std::int64_t lparam) const
{
    Point p { point_x(lparam), point_y(lparam) };
    if (m_game->m_window_mode || m_edit || !m_game->m_display) {
        Rect const area = client_area();
        p.x -= area.left;
        p.y -= area.top;
    }
    return p;
}

void Application::window_paint()
{
    GameBase& g = *m_game;
    if (g.m_display) {
        m_redraw = true;
        return;
    }
    Rect const area = client_area();
    if (area.is_empty())
        return;
    if (!g.m_frame_bitmap || g.m_frame_bitmap->width() != area.width() || g.m_frame_bitmap->height() != area.height())
        g.m_frame_bitmap = PixelBuffer::create(area.width(), area.height());
    if (!g.m_frame_bitmap)
        return;
    DrawTarget target(g.m_frame_bitmap.get());
    draw(target);
    if (g.m_native)
        g.m_native->present(g.m_frame_bitmap->pixels(), g.m_frame_bitmap->pitch(), 0, 0, area.width(), area.height(),
            area.left, area.top);
}

void Application::timer_frame()
{
    GameBase& g = *m_game;
    if (g.m_inactive || g.m_display)
        return;
    std::uint32_t const now = tick_count();
    update(frame_seconds(now, g.m_last_tick));
    g.m_last_tick = now;
    if (display_kind() == DisplayKind::Headless) {
        // No display while editing: the script goes on with the window's
        // own frames and photographs the window bitmap.
        window_paint();
        if (g.m_frame_bitmap) {
            PixelBuffer const& bitmap = *g.m_frame_bitmap;
            script_player().step(g.m_window,
                DisplaySurface { bitmap.pixels(), bitmap.width(), bitmap.height(), bitmap.pitch() });
        }
        return;
    }
    MessageQueue::main().post(g.m_window, WM_PAINT);
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

std::int64_t Application::handle_message(Message& message)
{
    GameBase& g = *m_game;
    Screen* top = top_screen();
    switch (message.message) {
    case WM_CREATE:
        layout();
        break;
    case WM_DESTROY:
        MessageQueue::main().post_quit();
        break;
    case WM_ACTIVATE:
        if (message.wparam != 0) {
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
        break;
    case WM_PAINT:
        window_paint();
        break;
    case WM_CLOSE:
        if (!m_listener || m_listener->can_close())
            MessageQueue::main().post(g.m_window, WM_DESTROY);
        return 0;
    case WM_SETTINGCHANGE:
        if (message.wparam == kSettingDisplayReset || message.wparam == kSettingWorkArea || message.wparam == 224)
            ResolutionChanged();
        break;
    case WM_COPYDATA:
        if (message.wparam == 0) {
            WString text = std::move(message.text);
            if (text == u"%CommandLineEmpty%")
                text.clear();
            {
                MutexLock lock(g.m_command_lines_mutex);
                g.m_command_lines.push_back(std::move(text));
            }
            MessageQueue::main().post(g.m_window, kCommandLineMessage);
        }
        break;
    case kCommandLineMessage: {
        WString text;
        bool any = false;
        {
            MutexLock lock(g.m_command_lines_mutex);
            if (!g.m_command_lines.empty()) {
                text = std::move(g.m_command_lines.front());
                g.m_command_lines.pop_front();
                any = true;
            }
        }
        if (any && m_listener)
            m_listener->on_command_line(text);
        break;
    }
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
        if (c >= 32) {
            if (m_edit)
                m_edit->on_text(WStringView(&c, 1));
            else if (top)
                top->on_text(WStringView(&c, 1));
        }
        break;
    }
    case WM_TIMER:
        if (message.wparam == kFrameTimerId)
            timer_frame();
        break;
    case WM_LBUTTONDOWN:
        g.m_last_pen = Point { kNoPen, kNoPen };
        g.m_captured = true;
        if (top)
            top->on_pointer_button(to_client(message.lparam), true, true, tick_count());
        break;
    case WM_MOUSEMOVE:
        if (top)
            top->on_pointer_move(to_client(message.lparam));
        break;
    case WM_LBUTTONUP:
        g.m_last_pen = to_client(message.lparam);
        if (g.m_captured) {
            // Releasing the capture reports the change at once, as the
            // window manager does, so the release comes before later input.
            g.m_captured = false;
            Message changed { g.m_window, WM_CAPTURECHANGED, 0, 0, {} };
            handle_message(changed);
        }
        break;
    case WM_CAPTURECHANGED:
        if (top) {
            bool const has_position = g.m_last_pen.x != kNoPen;
            top->on_pointer_button(has_position ? g.m_last_pen : Point { 0, 0 }, false, has_position, tick_count());
        }
        break;
    default:
        break;
    }
    return 0;
}

}
