#pragma once

// The Linux frame buffer as the program's window: the screen of a console,
// a Raspberry Pi's panel, a kiosk or photo frame with no desktop. Frames
// arrive as RGB565 rectangles (the display layer's window driver) and are
// turned into the panel's own format and orientation; with a virtual
// height of two screens they go to the hidden page, which is then panned
// in, else straight to the visible one. Touch screens and keys come from
// evdev and become the same window messages the SDL window posts; the
// console goes to graphics mode and takes part in terminal switching.
//
// Environment: QUILVANE_FBDEV (default the first /dev/fb* that opens),
// QUILVANE_INPUT (event devices or FIFOs of struct input_event separated
// by ":"; default every /dev/input/event* with keys or a touch screen),
// QUILVANE_PANEL_ORIENTATION (quarter turns of the picture on the panel;
// default from the rotation the DRM helper gave the console).
// QUILVANE_FB_MODE=WIDTHxHEIGHT:BITS (BITS 16 for RGB565, 32 for
// XRGB8888) gives the mode of a device that does not answer the mode
// ioctls: a regular file standing for one in tests; a "/2" after BITS
// gives it two screens of memory and a pan step, like a driver that
// offers panning and then refuses it.
// Main thread only.

#include "core/WString.h"
#include "platform/FramebufferFormat.h"
#include "platform/Window.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <string_view>

namespace qv::platform {

class ConsoleControl;

// How frames use the device's memory. With a virtual height of two
// screens, a driver that pans by whole screens and no horizontal offset,
// each frame is drawn into the hidden page and then panned in, so that no
// half-drawn frame is ever seen; else frames go straight to the shown
// part of memory. Only arithmetic over the mode: the driver does the pan.
struct FramebufferLayout {
    std::uint32_t height { 0 }; // the visible lines
    std::uint32_t virtual_height { 0 };
    std::uint32_t pan_step { 0 }; // lines; 0 when the driver cannot pan
    std::uint32_t x_offset { 0 }; // of the visible part, in pixels
    std::uint32_t y_offset { 0 };
    std::uint32_t line_length { 0 }; // bytes
    std::uint32_t bytes_per_pixel { 0 };
    std::size_t memory_length { 0 };
};

class FramePages {
public:
    explicit FramePages(FramebufferLayout const& layout);
    // The memory holds what is drawn into (both pages, or the visible part).
    bool fits() const;
    bool double_buffered() const { return m_pages == 2; }
    // Where the page to draw into starts, in bytes into the memory.
    std::size_t draw_offset() const;
    // The panel area to draw for a frame that changed `changed`: on two
    // pages the hidden one is a frame behind, so what changed in the frame
    // before is brought over too.
    PixelRect area_to_draw(PixelRect changed);
    // The y offset that shows the page just drawn.
    std::uint32_t pan_offset() const;
    // The pan's outcome. A refused pan leaves one page from then on: the
    // visible one, which the caller then redraws whole.
    void panned(bool shown);

private:
    FramebufferLayout m_layout;
    std::int32_t m_pages { 1 };
    std::int32_t m_shown { 0 };
    std::uint32_t m_visible_y { 0 };
    PixelRect m_previous;
};

// Whether a frame buffer device opens and has a mode the driver can use.
bool framebuffer_available();

// The window on the frame buffer; null when no device opens or its mode
// is not usable. `geometry` gives the density only.
std::unique_ptr<NativeWindow> create_framebuffer_window(ScreenGeometry const& geometry, WindowId target);
// The same over the given terminal (null: none), which the window takes
// as its Console: how tests play a terminal switch.
std::unique_ptr<NativeWindow> create_framebuffer_window(
    ScreenGeometry const& geometry, WindowId target, std::unique_ptr<ConsoleControl> console);

struct FramebufferMode {
    std::int32_t width { 0 };
    std::int32_t height { 0 };
    PixelFormat format;
    std::int32_t pages { 1 };
};
// "WIDTHxHEIGHT:16" or ":32", either followed by "/2"; none otherwise.
std::optional<FramebufferMode> parse_framebuffer_mode(std::string_view text);

// A DRM connector's panel orientation as sysfs names it ("Normal",
// "Upside Down", "Left Side Up", "Right Side Up") in the program's quarter
// turns, as the console's rotation would give them; none for anything else.
std::optional<std::int32_t> panel_turns_from_drm_name(std::string_view name);

// The panel's density from its size in pixels and in millimetres, as the
// mode reports them (0 or all ones where the driver does not know); none
// when unknown or beyond 24 .. 1200 dpi.
std::optional<std::int32_t> density_from_panel_size(std::uint32_t pixels, std::uint32_t millimetres);

}
