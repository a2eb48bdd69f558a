#pragma once

// Draws an element while it appears or disappears, in place of the element:
// the animation takes the element's rendered picture over and draws it
// scaled, slid or turned until it has run its course. Progress runs from 0
// (hidden) to 1 (shown); a full run lasts 0.2 s at speed 1.

#include "core/WString.h"
#include "imaging/DrawTarget.h"
#include "imaging/PixelOp.h"
#include "imaging/Rect.h"
#include "imaging/RenderSurface.h"

#include <cstdint>
#include <memory>

namespace qv {

class VisibilityAnimation {
public:
    explicit VisibilityAnimation(double speed);
    virtual ~VisibilityAnimation() = default;
    VisibilityAnimation(VisibilityAnimation const&) = delete;
    VisibilityAnimation& operator=(VisibilityAnimation const&) = delete;

    // The same kind with the same speed and drawing operation, not running.
    virtual std::unique_ptr<VisibilityAnimation> clone() const = 0;
    // Given surfaces are taken over (the caller's is left empty); a null one
    // leaves that side empty. direction +1 shows from 0, -1 hides from 1.
    virtual void start(RenderSurface* from, std::int32_t direction, RenderSurface* to);
    // The current frame with the element's top-left corner at origin.
    virtual void draw(DrawTarget& target, Point origin) = 0;

    void advance(double seconds);
    bool running() const { return m_direction != 0; }
    // Turns back from the current progress.
    void reverse() { m_direction = -m_direction; }

    std::int32_t direction() const { return m_direction; }
    double progress() const { return m_progress; }
    double speed() const { return m_speed; }
    RenderSurface const& from_surface() const { return m_from_surface; }
    RenderSurface const& to_surface() const { return m_to_surface; }
    PixelOp const& draw_op() const { return *m_draw_op; }
    void set_draw_op(std::unique_ptr<PixelOp> op);

protected:
    // Copies the settings a clone keeps.
    void copy_settings_from(VisibilityAnimation const& other);

    std::int32_t m_direction { 0 };
    double m_progress { 0.0 };
    double m_speed { 1.0 };
    RenderSurface m_from_surface;
    RenderSurface m_to_surface;
    std::unique_ptr<PixelOp> m_draw_op;
};

// Grows the picture from the centre: by progress squared, or for "pop" by a
// curve that overshoots before settling.
class ScaleAnimation final : public VisibilityAnimation {
public:
    explicit ScaleAnimation(bool pop);
    std::unique_ptr<VisibilityAnimation> clone() const override;
    void draw(DrawTarget& target, Point origin) override;
    bool pop() const { return m_pop; }

private:
    bool m_pop;
};

// The picture slides in from one edge; the old one leaves by the other.
enum class SlideSide : std::int32_t { Right = 0, Bottom = 1, Left = 2, Top = 3 };

class SlideAnimation final : public VisibilityAnimation {
public:
    explicit SlideAnimation(SlideSide side);
    std::unique_ptr<VisibilityAnimation> clone() const override;
    void draw(DrawTarget& target, Point origin) override;
    SlideSide side() const { return m_side; }

private:
    SlideSide m_side;
};

// A card turned about its vertical centre line, seen in perspective: the
// old picture turns away until edge-on, then the new one turns in.
class FlipAnimation final : public VisibilityAnimation {
public:
    FlipAnimation();
    std::unique_ptr<VisibilityAnimation> clone() const override;
    void draw(DrawTarget& target, Point origin) override;
};

// The pop curve: 0 at 0, 1 at 1, above 1 in between.
double pop_factor(double progress);

// Draws `surface` turned by `angle` radians (|angle| < pi/2, positive turns
// the right edge away) about its vertical centre line, viewed from
// `distance` pixels, as columns scaled in height; top-left at origin.
void draw_turned(DrawTarget& target, Point origin, RenderSurface const& surface, double angle, double distance,
    PixelOp const& op);

// Null for a name that gives no animation (names compare exactly).
std::unique_ptr<VisibilityAnimation> make_visibility_animation(WStringView name);

}
