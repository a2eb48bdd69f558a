#include "shell/Application.h"

#include "base/Log.h"
#include "base/ProgramClock.h"
#include "base/Registry.h"
#include "display/Script.h"
#include "base/ResolutionListener.h"
#include "imaging/PixelOp.h"
#include "imaging/RenderSurface.h"
#include "platform/System.h"
#include "skin/TextDrawing.h"

#include <cstdio>
#include <sstream>
#include <utility>

namespace qv {

using namespace platform;

namespace {

Application* g_application = nullptr;

}

Application::Application(WStringView name)
    : m_name(name)
{
    if (g_application)
        report_fatal(u"Application::Application", u"instance != 0");
    m_game = std::make_unique<GameBase>(name, [this](Message& message) { return handle_message(message); });
    g_application = this;
    m_full_screen = display_kind() == DisplayKind::Fullscreen;
    FontDescription font;
    font.size = 10;
    font.face = u"Tahoma";
    m_default_font = make_font(font);
    std::ostringstream address;
    address << static_cast<void const*>(this);
    Log::get() << u"Application::Application() this=" << address.str() << u"\n";
    // What the window came out as: a requested screen larger than the
    // desktop opens shrunk, at a density shrunk with it.
    ScreenInfo const& info = m_game->m_screen_info;
    Log::get() << u"Application: screen " << info.width << u"x" << info.height << u" at " << info.dpi << u" dpi\n";
    // A script's screens are the same at the same frame on any machine.
    if (display_kind() == DisplayKind::Headless && script_player().is_loaded()) {
        use_virtual_clock();
        Log::get() << u"Application: virtual clock, " << kVirtualFramePeriodMs << u" ms a frame\n";
    }
}

Application::~Application()
{
    Log::get() << u"Application::~Application()\n";
    m_frame_ticks.clear();
    m_default_font.reset();
    m_game.reset();
    g_application = nullptr;
}

Application* Application::instance() { return g_application; }

Rect Application::client_area() const
{
    GameBase const& g = *m_game;
    if (!g.m_window_mode && !m_edit && g.m_display)
        return Rect { 0, 0, g.m_display->width(), g.m_display->height() };
    return windowed_client_area(g.m_screen_info, g.m_show_taskbar);
}

Size Application::area_size() const
{
    Rect const area = client_area();
    return Size { area.width(), area.height() };
}

void Application::layout()
{
    GameBase& g = *m_game;
    if (!g.m_native)
        return;
    bool const full = m_full_screen && !g.m_window_mode && !m_edit;
    g.m_native->set_fullscreen(full);
}

void Application::toggle_full_screen()
{
    GameBase& g = *m_game;
    // The window's own state decides: the desktop may have changed it.
    bool const now = g.m_native && !g.m_window_mode && !m_edit ? g.m_native->is_fullscreen() : m_full_screen;
    m_full_screen = !now;
    Log::get() << u"Application::toggle_full_screen " << (m_full_screen ? u"on\n" : u"off\n");
    layout();
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
            m_stack.clear_background();
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
    program_clock_frame();
    std::uint32_t const now = program_ticks();
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

void Application::update(double seconds) { m_stack.advance(seconds, area_size()); }

bool Application::needs_redraw() const { return m_redraw || m_stack.needs_redraw(); }

bool Application::draw(DrawTarget& target)
{
    bool const redraw = std::exchange(m_redraw, false);
    bool const asked = m_stack.draw(target, area_size()) || redraw;
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
    m_frame_ticks.push_back(program_ticks());
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

void Application::push_screen(Screen* screen, bool modal)
{
    m_stack.push(screen, modal, area_size());
    if (m_listener)
        m_listener->on_screen_pushed(screen);
}

bool Application::remove_screen(Screen* screen)
{
    if (!m_stack.contains(screen))
        return false;
    if (m_listener)
        m_listener->on_screen_removed(screen);
    return m_stack.remove(screen, area_size());
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
    program_clock_frame();
    std::uint32_t const now = program_ticks();
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

}
