#pragma once

// The application: its window (GameBase), the message loop and frame clock,
// the screen stack with its animations and dimming, and the way a frame
// reaches the screen, through the display or the window bitmap.

#include "shell/GameBase.h"
#include "widgets/Screen.h"
#include "widgets/ScreenHost.h"
#include "core/WString.h"
#include "imaging/DrawTarget.h"
#include "skin/FontRep.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

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
    Screen* top_screen() const { return m_stack.empty() ? nullptr : m_stack.back().screen; }
    std::size_t screen_count() const { return m_stack.size(); }
    bool has_screen(Screen const* screen) const override
    {
        return std::any_of(m_stack.begin(), m_stack.end(), [screen](Entry const& e) { return e.screen == screen; });
    }
    bool top_is_modal() const { return !m_stack.empty() && m_stack.back().modal; }

    void minimize() override;
    void ResolutionChanged();

    void set_listener(AppListener* listener) { m_listener = listener; }
    AppListener* listener() const { return m_listener; }

    ScreenInfo const& screen_info() const { return m_game->m_screen_info; }
    Rect client_area() const override;
    std::int32_t dim_level() const { return m_dim_level; }
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
    // The window procedure.
    std::int64_t handle_message(platform::Message& message);

private:
    struct Entry {
        Screen* screen;
        bool modal;
    };

    void layout();
    void window_paint();
    void timer_frame();
    void dispatch_key(std::uint32_t msg, std::uint64_t wparam, std::int64_t lparam);
    void render_into_background(Screen& screen);
    void clear_background();
    void darken(DrawTarget& target, std::int32_t level);
    void step_dim(std::int32_t goal);
    void start_animation(Screen& screen, std::int32_t direction);
    void draw_overlay(DrawTarget& target, bool asked);
    bool logging_on();
    Point to_client(std::int64_t lparam) const;

    WString m_name;
    std::uint16_t m_background_colour { 0 };
    std::int32_t m_dim_level { 256 };
    std::unique_ptr<GameBase> m_game;
    std::vector<Entry> m_stack;
    std::unique_ptr<ScreenAnimation> m_animation;
    std::unique_ptr<PixelBuffer> m_background;
    FontHandle m_default_font;
    AppListener* m_listener { nullptr };
    EditReceiver* m_edit { nullptr };
    bool m_redraw { true };
    std::deque<std::uint32_t> m_frame_ticks;
    std::uint32_t m_log_checked { 0 };
    bool m_log_on { false };
};

// The fourteen element types the application offers, in registration order.
inline constexpr char16_t const* kElementTypes[] = { u"node", u"text", u"color", u"image", u"edit", u"htable",
    u"vtable", u"button", u"vlist", u"checkbox", u"progress", u"oldtext", u"label_edit", u"clip" };

}
