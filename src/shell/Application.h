#pragma once

// The application: its window (GameBase), the message loop and frame clock,
// the screen stack (ScreenStack), the toolkit's element types for the whole
// run, and the way a frame reaches the screen: through the display in
// direct mode, else through the window bitmap on the frame timer.
//
// Threads: the user-interface thread only; other threads reach it by
// posting window messages.
// Failures: a second instance is a fatal error (report_fatal). A window
// that cannot be opened leaves has_window() false, and start-up ends. A
// display that cannot be made keeps the window's own frames going.

#include "shell/GameBase.h"
#include "shell/ScreenStack.h"
#include "widgets/Screen.h"
#include "widgets/ScreenHost.h"
#include "widgets/WidgetTypes.h"
#include "core/WString.h"
#include "imaging/DrawTarget.h"
#include "skin/FontRep.h"

#include <cstdint>
#include <deque>
#include <memory>

namespace qv {

class Application final : public ScreenHost {
public:
    explicit Application(WStringView name);
    ~Application();
    Application(Application const&) = delete;
    Application& operator=(Application const&) = delete;

    static Application* instance();

    bool has_window() const { return m_game->has_window(); }
    GameBase& game() { return *m_game; }
    WString const& name() const { return m_name; }

    void set_window_mode(bool show_taskbar);
    void set_direct_mode(std::int32_t orientation);
    void set_input_grabbed(bool grabbed);
    bool window_mode() const { return m_game->m_window_mode; }
    Display* display() const { return m_game->m_display.get(); }

    // The message loop, until the quit message.
    void run();

    // Edit mode: the receiver takes keyboard text until begin_edit(nullptr).
    void begin_edit(EditReceiver* receiver) override;
    EditReceiver* edit_receiver() const override { return m_edit; }
    platform::WindowId window() const override { return m_game->window(); }

    void push_screen(Screen* screen, bool modal) override;
    bool remove_screen(Screen* screen) override;
    Screen* top_screen() const { return m_stack.top(); }
    std::size_t screen_count() const { return m_stack.size(); }
    bool has_screen(Screen const* screen) const override { return m_stack.contains(screen); }
    bool top_is_modal() const { return m_stack.top_is_modal(); }

    void minimize() override;
    void toggle_full_screen() override;
    bool full_screen() const override { return m_full_screen; }
    void ResolutionChanged();

    // A command line waiting for a listener is told to the first one set.
    void set_listener(AppListener* listener);
    // Queues a command line (see AppListener::on_command_line) for the
    // listener, from any thread: this start's own, or a second start's
    // handed over. Each is told once, in order, with the window brought to
    // the front; until a listener is set they wait.
    void queue_command_line(WString text);
    AppListener* listener() const { return m_listener; }

    ScreenInfo const& screen_info() const { return m_game->m_screen_info; }
    Rect client_area() const override;
    std::int32_t dim_level() const { return m_stack.dim_level(); }
    void request_redraw() { m_redraw = true; }

    // One direct frame: advance, and draw when something changed. True when
    // a frame was presented.
    bool direct_frame();
    // Advances the stack by `seconds`.
    void update(double seconds);
    // Draws the stack into the target; true when anything asked for it.
    bool draw(DrawTarget& target);
    // True when the next draw would change the picture.
    bool needs_redraw() const;
    bool busy() const { return m_stack.busy(); }
    // The window procedure.
    std::int64_t handle_message(platform::Message& message);

private:
    Size area_size() const;
    void layout();
    void window_paint();
    void timer_frame();
    void dispatch_key(std::uint32_t msg, std::uint64_t wparam, std::int64_t lparam);
    void on_activate(bool active);
    void on_copy_data(platform::Message& message);
    void on_command_line();
    void on_char(char16_t c);
    void on_pen(std::uint32_t msg, std::int64_t lparam);
    // The wheel, the double click and the menu buttons, to the top screen.
    void on_mouse(std::uint32_t msg, std::uint64_t wparam, std::int64_t lparam);
    void draw_overlay(DrawTarget& target, bool asked);
    bool logging_on();
    Point to_client(std::int64_t lparam) const;

    // First in, last out: every screen is built and ended with the types.
    WidgetTypes m_types;
    WString m_name;
    std::unique_ptr<GameBase> m_game;
    ScreenStack m_stack;
    FontHandle m_default_font;
    AppListener* m_listener { nullptr };
    EditReceiver* m_edit { nullptr };
    bool m_redraw { true };
    // Starts as QUILVANE_DISPLAY asks; the user may change it.
    bool m_full_screen { false };
    std::deque<std::uint32_t> m_frame_ticks;
    std::uint32_t m_log_checked { 0 };
    bool m_log_on { false };
};

}
