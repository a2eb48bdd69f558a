#pragma once

// Plain screens drawn straight from a skin form: its outside colour and its
// top-level colour, image and text nodes, laid out by the skin's anchor
// rules. They stand in for the toolkit's forms where the shell needs a
// screen of its own (the splash screen, the first screen until the album
// list exists).

#include "widgets/Screen.h"
#include "skin/Properties.h"

#include <vector>

namespace qv {

class SkinScreen : public Screen {
public:
    // Throws NodeNotFoundInSkin when the skin has no such form.
    SkinScreen(Properties& properties, WStringView form);

    void draw(DrawTarget& target, Point origin) override;
    void set_size(Size size) override;
    bool needs_redraw() const override { return m_dirty; }

protected:
    void mark_dirty() { m_dirty = true; }
    Properties& properties() { return m_properties; }

private:
    struct Part {
        enum class Kind { Colour, Image, Text } kind;
        SkinNode node;
        Rect box;
    };
    void place();

    Properties& m_properties;
    SkinNode m_form;
    std::vector<Part> m_parts;
    bool m_dirty { true };
};

// The first screen until the album list takes its place: the "Main" form,
// a mark where the pen last touched, and a log line for every input so that
// scripted runs can be followed.
class FirstScreen final : public SkinScreen, public MainScreen {
public:
    explicit FirstScreen(Properties& properties);

    Screen& main_screen() override { return *this; }

    void draw(DrawTarget& target, Point origin) override;
    void on_pointer_button(Point point, bool pressed, bool has_position, std::uint32_t tick) override;
    bool on_key(KeyInput const& key) override;
    void on_text(WStringView text) override;

    void on_command_line(WStringView text) override;
    void on_resize() override;

private:
    Point m_mark { -1, -1 };
};

}
