#pragma once

// What the application needs of a screen: the narrow face that forms of the
// widget toolkit present to the screen stack, and the receiver of the
// application's notifications.

#include "base/Keys.h"
#include "core/WString.h"
#include "imaging/DrawTarget.h"
#include "imaging/PixelBuffer.h"
#include "imaging/Rect.h"

#include <cstdint>
#include <memory>

namespace qv {

// A key as the window reports it. `first` is false for auto-repeat.
struct KeyInput {
    Key key { Key::None };
    bool down { true };
    bool first { true };
    friend bool operator==(KeyInput const&, KeyInput const&) = default;
};

// A screen's show or hide effect, run by the stack in place of the screens
// while it lasts.
class ScreenAnimation {
public:
    virtual ~ScreenAnimation() = default;
    virtual std::unique_ptr<ScreenAnimation> clone() const = 0;
    // `background`: what lies under the screen; direction +1 shows, -1 hides.
    virtual void start(PixelBuffer const* background, std::int32_t direction) = 0;
    virtual void advance(double seconds) = 0;
    virtual void draw(DrawTarget& target, Point origin) = 0;
    virtual bool ended() const = 0;
};

class Screen {
public:
    virtual ~Screen() = default;

    virtual void set_visible(bool visible) { m_visible = visible; }
    // The animated show; plain screens just switch.
    virtual void show(bool visible) { set_visible(visible); }
    bool visible() const { return m_visible; }

    virtual void advance(double seconds) { }
    virtual void draw(DrawTarget& target, Point origin) = 0;
    // True when the screen changed since it was last drawn.
    virtual bool needs_redraw() const { return false; }
    // True while work it waits for is under way on another thread, or
    // left to show (tiles, thumbnails): what a script's wait_idle waits out.
    virtual bool busy() { return false; }

    virtual void on_pointer_move(Point point) { }
    // `has_position` is false for a release whose point is unknown.
    virtual void on_pointer_button(Point point, bool pressed, bool has_position, std::uint32_t tick) { }
    virtual bool on_key(KeyInput const& key) { return false; }
    virtual void on_text(WStringView text) { }
    // The mouse beyond the pen: a wheel turned over `point` by `notches`
    // (positive away from the user, parts of one from smooth wheels), the
    // second press of a double click (its presses and releases come as pen
    // input all the same), and the right or middle button, which asks for
    // the screen's menu. Screens that have no use for them ignore them.
    virtual void on_wheel(Point point, double notches, bool ctrl) { }
    virtual void on_double_click(Point point) { }
    virtual void on_menu_click(Point point) { }

    virtual void set_size(Size size) { m_size = size; }
    Size size() const { return m_size; }

    virtual ScreenAnimation const* animation() const { return nullptr; }

private:
    bool m_visible { false };
    Size m_size;
};

// An edit field taking text straight from the keyboard while edit mode lasts.
class EditReceiver {
public:
    virtual ~EditReceiver() = default;
    virtual void on_text(WStringView text) = 0;
    virtual bool on_edit_key(KeyInput const& key) { return false; }
};

// The application's notifications, received by the first screen.
class AppListener {
public:
    virtual ~AppListener() = default;
    virtual void on_command_line(WStringView text) { }
    virtual bool can_close() { return true; }
    virtual void on_screen_pushed(Screen* screen) { }
    virtual void on_screen_removed(Screen* screen) { }
    virtual void on_resize() { }
    virtual void on_help() { }
    virtual void on_deactivate() { }
    virtual void on_activate() { }
    // Offered before the top screen; true when consumed.
    virtual bool on_app_key(KeyInput const& key) { return false; }
};

// The program's first screen, made by the splash screen's loader: a screen
// that also receives the application's notifications.
class MainScreen : public AppListener {
public:
    virtual Screen& main_screen() = 0;
};

}
