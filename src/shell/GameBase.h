#pragma once

// The window part of the application: the one instance of the program's
// window with its screen facts, presentation state, display object, timers
// and the command lines handed over by later starts, and the arithmetic of
// the client area and the frame clock.
//
// Threads: the user-interface thread, except the command lines, which the
// instance listener's thread hands over under their mutex.
// Failures: a second instance is a fatal error (report_fatal); a window that
// cannot be opened leaves has_window() false.

#include "base/Thread.h"
#include "core/WString.h"
#include "display/Display.h"
#include "imaging/PixelBuffer.h"
#include "imaging/Rect.h"
#include "platform/Window.h"

#include <cstdint>
#include <deque>
#include <memory>

namespace qv {

struct ScreenInfo {
    std::int32_t width { 0 };
    std::int32_t height { 0 };
    std::int32_t work_x { 0 };
    std::int32_t work_y { 0 };
    std::int32_t work_width { 0 };
    std::int32_t work_height { 0 };
    std::int32_t orientation { 4 }; // quarter turns; 4: unknown
    std::int32_t dpi { 96 };
    friend bool operator==(ScreenInfo const&, ScreenInfo const&) = default;
};

// The screen as it is now: QUILVANE_SCREEN (or the desktop), the open
// window's size when there is one, the display's rotation.
ScreenInfo read_screen_info(platform::NativeWindow const* native);

// The bars above and below the client area when the task bar shows. Pass
// the input panel's visible-desktop bottom when the panel is shown, else -1.
struct BarHeights {
    std::int32_t top { 0 };
    std::int32_t bottom { 0 };
};
BarHeights bar_heights(ScreenInfo const& info, std::int32_t input_panel_bottom = -1);

// The client area outside direct display: the screen less its bars.
Rect windowed_client_area(ScreenInfo const& info, bool show_taskbar, std::int32_t input_panel_bottom = -1);

// Seconds between two tick counts, clamped to 0.001 .. 0.1.
double frame_seconds(std::uint32_t now, std::uint32_t last);

inline constexpr std::int32_t kNoPen = -1000000;
inline constexpr std::uint32_t kFrameTimerId = 1;
inline constexpr std::uint32_t kFrameTimerMs = 40;
inline constexpr std::uint32_t kCommandLineMessage = 1058;

class Application;

class GameBase {
public:
    // Reports "Singleton is already instantiated" for a second one. `proc`
    // receives the window's messages.
    GameBase(WStringView name, platform::WindowProc proc);
    ~GameBase();
    GameBase(GameBase const&) = delete;
    GameBase& operator=(GameBase const&) = delete;

    static GameBase* instance();

    // False when the window could not be made; start-up then ends.
    bool has_window() const { return m_window != 0; }
    platform::WindowId window() const { return m_window; }
    platform::NativeWindow* native() const { return m_native.get(); }
    WString const& class_name() const { return m_class_name; }

private:
    friend class Application;

    WString m_name;
    WString m_class_name;
    platform::WindowId m_window { 0 };
    std::unique_ptr<platform::NativeWindow> m_native;
    bool m_sip_preference { false };
    ScreenInfo m_screen_info;
    bool m_window_mode { true };
    bool m_show_taskbar { true };
    bool m_input_grabbed { true };
    DisplayParams m_display_params { 0, 0, 0, kSwapDiscard };
    std::unique_ptr<Display> m_display;
    std::unique_ptr<PixelBuffer> m_frame_bitmap;
    std::uint32_t m_last_tick { 0 };
    bool m_inactive { false };
    Point m_last_pen { kNoPen, kNoPen };
    bool m_captured { false };
    Mutex m_command_lines_mutex;
    std::deque<WString> m_command_lines;
};

}
