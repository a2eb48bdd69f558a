#pragma once

// A first screen of the skin's "Main" form alone, built and drawn by the
// toolkit's elements, for runs that need a screen without the album list
// (the splash screen's default, the shell's tests and benchmarks). It marks
// where the pen last went down and logs every input it is given, so that
// scripted runs can be followed.
//
// Threads: built on the splash screen's loader thread, used on the
// user-interface thread after.
// Failures: the constructor throws NodeNotFoundInSkin when the skin has no
// "Main", and the skin's own errors for elements it cannot build.

#include "widgets/Form.h"
#include "widgets/Screen.h"
#include "skin/Properties.h"

namespace qv {

class FirstScreen final : public Screen, public MainScreen {
public:
    explicit FirstScreen(PropertiesImpl const& properties);

    Screen& main_screen() override { return *this; }
    Form& form() { return m_form; }
    // Where the pen last went down; x is -1 before any press.
    Point mark() const { return m_mark; }

    void set_visible(bool visible) override;
    void show(bool visible) override;
    void advance(double seconds) override;
    void draw(DrawTarget& target, Point origin) override;
    bool needs_redraw() const override;
    void on_pointer_move(Point point) override;
    void on_pointer_button(Point point, bool pressed, bool has_position, std::uint32_t tick) override;
    bool on_key(KeyInput const& key) override;
    void on_text(WStringView text) override;
    void set_size(Size size) override;

    void on_command_line(WStringView text) override;
    void on_resize() override;

private:
    Form m_form;
    Point m_mark { -1, -1 };
    bool m_mark_moved { false };
};

}
