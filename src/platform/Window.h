#pragma once

// The one top-level window on the desktop, and the facts about the screen
// that the application reads. Events of the window arrive as window
// messages in MessageQueue::main() for the window id given at creation.

#include "core/WString.h"
#include "platform/WindowMessages.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv::platform {

enum class DisplayKind { Window, Fullscreen, Headless, Framebuffer };

// QUILVANE_DISPLAY: "window", "fullscreen", "headless", "framebuffer" (the
// Linux frame buffer, platform/Framebuffer.h) or "auto", unless a
// benchmark or tool has chosen with set_display_kind. "auto", and no
// choice without a desktop (neither DISPLAY nor WAYLAND_DISPLAY), take the
// frame buffer when one opens, else the window.
DisplayKind display_kind();
void set_display_kind(DisplayKind kind);

// The orientation the program asks the display for when QUILVANE_DISPLAY
// ends in ":N" (quarter turns 0 .. 3, as "headless:1"), else none: the
// panel's own. Any other orientation than the panel's turns the picture.
std::optional<std::int32_t> requested_orientation();

// SDL falls back to drivers that draw where nobody sees ("offscreen",
// "dummy") when no display answers, and the program would then run on
// unseen. Such a driver counts only when named in SDL_VIDEODRIVER
// (`requested`, null when unset); any other driver is visible.
bool visible_video_driver(char const* driver, char const* requested);

struct ScreenGeometry {
    std::int32_t width { 480 };
    std::int32_t height { 640 };
    std::int32_t dpi { 192 };
    friend bool operator==(ScreenGeometry const&, ScreenGeometry const&) = default;
};

// "WIDTHxHEIGHT@DPI" ("@DPI" optional); none for anything malformed or a
// side outside 16 .. 8192 or a dpi outside 24 .. 1200.
std::optional<ScreenGeometry> parse_screen_geometry(std::string_view text);

// QUILVANE_SCREEN, else the desktop size for a full-screen display, else
// 480 x 640 at 192 dpi. An open window's size and density override these:
// a window shrunk to fit the desktop runs at a density shrunk with it.
ScreenGeometry screen_geometry();

// A rectangle of the desktop, in desktop pixels.
struct DesktopArea {
    std::int32_t x { 0 };
    std::int32_t y { 0 };
    std::int32_t width { 0 };
    std::int32_t height { 0 };
    friend bool operator==(DesktopArea const&, DesktopArea const&) = default;
};

// Where a window for the requested screen opens and the density it runs at.
struct WindowPlacement {
    DesktopArea area;
    std::int32_t dpi { 96 };
    friend bool operator==(WindowPlacement const&, WindowPlacement const&) = default;
};

// The requested screen as a window inside the desktop's usable area: as
// asked when it fits, else shrunk to fit with its proportions kept and its
// density shrunk by the same factor, so that the window shows the very
// layout asked for, only smaller, rather than a narrower device whose
// controls crowd out the content. Centred in the usable area. An empty
// usable area (no desktop known) leaves the request as it is, at (0, 0).
WindowPlacement fit_window(ScreenGeometry const& requested, DesktopArea const& usable);

// Virtual key number of an SDL key code, 0 for keys the program ignores.
int virtual_key_from_sdl(std::int32_t sdl_key);

// The mouse as the native layer reports it, in plain numbers, and the window
// messages it becomes: kept apart from SDL so the rules can be checked
// without a display. Points are window coordinates.
enum class MouseButton { Left, Middle, Right, Other };

struct MouseButtonInput {
    MouseButton button { MouseButton::Left };
    bool pressed { true };
    // Presses in quick succession at one place, this one included.
    std::int32_t clicks { 1 };
    std::int32_t x { 0 };
    std::int32_t y { 0 };
};

// Left: down and up, and WM_LBUTTONDBLCLK after every second press in a
// row. Right and middle: their press alone, the menu gesture; releases and
// other buttons give nothing.
std::vector<Message> mouse_button_messages(WindowId target, MouseButtonInput const& input);

// The notches of a native wheel event: the precise amount when there is one
// (smooth wheels, touchpads), else the whole notches; a "natural" flipped
// direction is turned back, so positive always means away from the user.
double native_wheel_notches(float precise, std::int32_t whole, bool flipped);
Message mouse_wheel_message(WindowId target, double notches, std::int32_t x, std::int32_t y, bool ctrl);

class NativeWindow {
public:
    // Null when no display can be opened; failure() then says why.
    static std::unique_ptr<NativeWindow> create(WStringView title, ScreenGeometry const& geometry,
        bool fullscreen, WindowId target);
    static std::string const& failure();
    virtual ~NativeWindow() = default;

    virtual std::int32_t width() const = 0;
    virtual std::int32_t height() const = 0;
    // The density the window was opened at (see fit_window).
    virtual std::int32_t dpi() const = 0;
    // Copies the rectangle (x, y, w, h) of the RGB565 rows to the same place
    // of the window, offset by (to_x, to_y), and shows the result.
    virtual void present(std::uint16_t const* pixels, std::int32_t pitch, std::int32_t x, std::int32_t y,
        std::int32_t w, std::int32_t h, std::int32_t to_x, std::int32_t to_y)
        = 0;
    virtual void set_fullscreen(bool fullscreen) = 0;
    // Whether the window fills the desktop now, however it came to.
    virtual bool is_fullscreen() const = 0;
    // From a frame to the whole desktop or back; the new state.
    virtual bool toggle_fullscreen() = 0;
    virtual void minimize() = 0;
    // Restored if minimised and put in front of the other windows, as far
    // as the desktop lets a program do so; nothing where the program owns
    // the whole screen.
    virtual void raise() { }
};

// Keeps the screen from blanking or locking while something plays by
// itself (a slideshow), or lets it do so again. Otherwise the desktop's
// own screen saver rules, as for any program. The request is remembered
// for screen_saver_inhibited(); a headless run passes it on to nobody.
void inhibit_screen_saver(bool inhibit);
bool screen_saver_inhibited();

// The latest native window made, or null; the message box parents on it.
NativeWindow* current_native_window();

// A blocking message box on the desktop, or the text on standard error when
// there is no display (always so in headless runs).
void show_message_box(WStringView caption, WStringView text);

}
