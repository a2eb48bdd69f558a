#pragma once

// The application's screens, bottom to top: which one is shown, the show
// and hide effects that run in their place while they last, and the dimming
// of what lies under a modal screen. A modal screen is drawn over a picture
// of the plain screen below it (kept in a background buffer), darkened to
// half brightness in steps of 16 a frame; a plain screen brings the light
// back the same way.
//
// Threads: the user-interface thread only.
// Failures: without memory for the background picture a modal screen is
// drawn over the plain background colour and effects start from nothing.
// The stack does not own its screens; each must stay alive while on it.

#include "widgets/Screen.h"
#include "imaging/DrawTarget.h"
#include "imaging/PixelBuffer.h"
#include "imaging/Rect.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace qv {

class ScreenStack {
public:
    // Full brightness, and what a modal screen dims the screen below it to.
    static constexpr std::int32_t kBright = 256;
    static constexpr std::int32_t kDimmed = 128;

    // `area` is the size every screen is given, as the window has it now.
    void push(Screen* screen, bool modal, Size area);
    // False when the screen is not on the stack.
    bool remove(Screen* screen, Size area);

    bool contains(Screen const* screen) const;
    Screen* top() const { return m_entries.empty() ? nullptr : m_entries.back().screen; }
    bool top_is_modal() const { return !m_entries.empty() && m_entries.back().modal; }
    std::size_t size() const { return m_entries.size(); }
    bool empty() const { return m_entries.empty(); }
    std::int32_t dim_level() const { return m_dim_level; }

    // Advances the running effect, else the top screen.
    void advance(double seconds, Size area);
    // True when the next draw would change the picture.
    bool needs_redraw() const;
    // The top screen busy (Screen::busy); a change of screens is the
    // screens' own time, not work to wait for.
    bool busy() const;
    // Draws the effect, else the top screen over what lies under it. True
    // when the stack or its top screen asked for the frame.
    bool draw(DrawTarget& target, Size area);
    // Forgets the picture of what lies under the top screen.
    void clear_background() { m_background.reset(); }

private:
    struct Entry {
        Screen* screen;
        bool modal;
    };

    void push_over(Screen& screen, bool modal, Size area);
    void uncover(Entry removed, Size area);
    void render_into_background(Screen& screen, Size area);
    void start_animation(Screen& screen, std::int32_t direction);
    void draw_modal_under(DrawTarget& target);
    void step_dim(std::int32_t goal);

    std::vector<Entry> m_entries;
    std::unique_ptr<ScreenAnimation> m_animation;
    std::unique_ptr<PixelBuffer> m_background;
    std::int32_t m_dim_level { kBright };
    std::uint16_t m_background_colour { 0 };
    bool m_changed { true };
};

}
