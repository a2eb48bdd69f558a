#pragma once

// A text longer than its room (skin "scrolltext"): the text element's
// lines seen through a window of the element's height, moved by the pen (a
// drag, flung and slowed by the list's friction), by the wheel (three lines
// a notch, smoothly) and, while it holds the focus, by the keys (a line, a
// page, the ends). It stops at both ends: the last line comes to rest at
// the bottom edge and never further. Its measure asks for the whole text's
// height and takes as little as its design height, so that a table gives
// it what room there is and it scrolls the rest; a text that fits does not
// scroll, take the focus or show its bar.
//
// Threads: the user-interface thread. Failures: none; an empty text or a
// font without lines is a text that fits.

#include "widgets/MotionTracker.h"
#include "widgets/TextElement.h"

namespace qv {

class ScrollTextElement final : public TextElement {
public:
    static constexpr double kWheelLines = 3;  // lines scrolled per notch
    static constexpr double kScrollPace = 15; // share of the rest scrolled per second
    static constexpr MotionSettings kPenMotion {
        .dead_zone = 10, .tap_slop = 9, .window_ms = 250, .min_samples = 1, .max_samples = 25, .min_span_ms = 50
    };

    explicit ScrollTextElement(Element* parent);

    void load(PropertiesImpl const& store, SkinNode node) override;
    void advance(double seconds) override;
    void draw(DrawTarget& target, Point origin) override;
    void layout_horizontal() override;
    void layout_vertical() override;
    void measure_height(MeasurePair& pair) override;
    bool on_pointer_button(PointerEvent const& event) override;
    void on_pointer_move(PointerEvent const& event) override;
    bool on_wheel(Point point, double notches, bool ctrl) override;
    bool focusable() const override { return max_scroll() > 0; }
    bool on_focus_key(KeyInput const& key) override;

    // Pixels of text above the window, 0 .. max_scroll().
    std::int32_t scroll() const { return m_scroll_y; }
    // The whole text's height less the window's, or 0 when it fits.
    std::int32_t max_scroll() const;
    std::int32_t content_height() const;
    // Where the wheel and the keys are taking it (equal to scroll() at rest).
    double scroll_target() const { return m_target; }
    // At once, kept within the ends; stops any fling.
    void scroll_to(double y);
    bool moving() const { return m_target != m_position_y || m_velocity != 0; }

private:
    void scroll_by_animated(double delta);
    void set_position(double y);
    double line_step() const;

    double m_position_y { 0 };
    double m_target { 0 };
    double m_velocity { 0 }; // pixels per second, positive towards the end
    std::int32_t m_flowed_width { -1 };
    SkinColor m_bar_color;
    MotionTracker m_tracker { kPenMotion };
    bool m_pen_down { false };
};

}
