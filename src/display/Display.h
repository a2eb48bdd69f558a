#pragma once

// Exclusive access to the screen as one RGB565 surface per frame. The
// driver is picked by QUILVANE_DISPLAY: "window" and "fullscreen" present
// to the SDL window, "headless" keeps the screen in memory and plays
// QUILVANE_SCRIPT. A requested orientation other than the panel's wraps
// the driver in the rotation driver, and the window's arrow keys and pen
// points are turned to match while the display lives.

#include "display/DisplayGeometry.h"
#include "platform/WindowMessages.h"

#include <cstdint>
#include <memory>

namespace qv {

namespace platform {
class NativeWindow;
}

inline constexpr std::int32_t kSwapDiscard = 1;
inline constexpr std::int32_t kSwapCopy = 2;

struct DisplayParams {
    std::int32_t width { 0 };
    std::int32_t height { 0 };
    std::int32_t orientation { 0 }; // 4: the panel's own
    std::int32_t swap_effect { kSwapDiscard };
};

// What a display is made for: the window whose messages it turns, the
// native window (null when headless) and the panel size.
struct DisplayHost {
    platform::WindowId window { 0 };
    platform::NativeWindow* native { nullptr };
    std::int32_t width { 0 };
    std::int32_t height { 0 };
};

class DisplayDriver {
public:
    virtual ~DisplayDriver() = default;
    virtual std::int32_t width() const = 0;
    virtual std::int32_t height() const = 0;
    virtual std::int32_t native_orientation() const { return 0; }
    // The surface to draw the frame into; false when none can be had.
    virtual bool begin(DisplaySurface& surface) = 0;
    // The frame is finished; `area` changed.
    virtual void end(Rect const& area) = 0;
    // Once per frame of the loop, drawn or not.
    virtual void idle() { }
    virtual void suspend() { }
    virtual void resume() { }
};

class Display {
public:
    // Null when no driver can be opened; `params` receives what is used.
    static std::unique_ptr<Display> create(DisplayHost const& host, DisplayParams& params);
    // Over a given driver (tests and benchmarks).
    static std::unique_ptr<Display> create(DisplayHost const& host, DisplayParams& params,
        std::unique_ptr<DisplayDriver> driver);
    ~Display();
    Display(Display const&) = delete;
    Display& operator=(Display const&) = delete;

    std::int32_t width() const { return m_width; }
    std::int32_t height() const { return m_height; }
    std::int32_t orientation() const { return m_orientation; }
    bool is_active() const { return m_active; }

    bool begin_frame();
    // None outside a frame.
    DisplaySurface const* back_buffer() const { return m_in_frame ? &m_frame : nullptr; }
    void set_update_area(Rect const& area);
    void set_update_all();
    Rect const& update_area() const { return m_update; }
    bool end_frame(bool wait = false);
    void idle();

    void suspend();
    void resume();
    void open_input() { m_input_open = true; }
    void close_input() { m_input_open = false; }
    bool input_open() const { return m_input_open; }

    // The system's rotation of the screen; the desktop never turns it.
    static std::int32_t display_orientation() { return 0; }

    DisplayDriver& driver() { return *m_driver; }

private:
    Display() = default;
    void hook(platform::Message& message) const;

    platform::WindowId m_window { 0 };
    std::unique_ptr<DisplayDriver> m_driver;
    std::unique_ptr<std::uint16_t[]> m_back_storage;
    DisplaySurface m_back;
    DisplaySurface m_frame;
    std::int32_t m_width { 0 };
    std::int32_t m_height { 0 };
    std::int32_t m_orientation { 0 };
    Rect m_update;
    bool m_in_frame { false };
    bool m_active { true };
    bool m_input_open { true };
};

// The memory screen of the headless driver; the script player reads it.
class HeadlessDriver final : public DisplayDriver {
public:
    HeadlessDriver(std::int32_t width, std::int32_t height, platform::WindowId window);
    std::int32_t width() const override { return m_surface.width; }
    std::int32_t height() const override { return m_surface.height; }
    bool begin(DisplaySurface& surface) override;
    void end(Rect const& area) override;
    void idle() override;

    DisplaySurface const& surface() const { return m_surface; }
    std::uint64_t frames_presented() const { return m_presented; }

private:
    std::unique_ptr<std::uint16_t[]> m_storage;
    DisplaySurface m_surface;
    platform::WindowId m_window;
    std::uint64_t m_presented { 0 };
};

}
