#pragma once

// What a dragged surface does besides following the pen: friction slows it
// once flung, an edge pulls back a surface that coasts past it, and a drag
// past an edge moves it less the deeper it goes. The list and the zoom view
// both move by these laws, so that both feel alike. Pure functions of
// speeds (pixels per second, never negative) and distances (pixels); any
// thread. Nothing fails: a speed never drops below 0, and a step with no
// edge to resist it comes back whole.

namespace qv {

// A finger resting on a coasting surface brakes it this many times harder
// than friction alone.
inline constexpr double kHeldBrake = 5;

// The speed after `seconds` of friction, which takes 2 * speed + 9 pixels
// per second off every second (`brake` times that), down to 0.
double coasted_speed(double speed, double seconds, double brake = 1);

// The speed towards the outside of a surface `overscroll` pixels past its
// edge, after `seconds` of the edge's pull, which grows with the distance.
double edge_pulled_speed(double speed, double overscroll, double seconds);

// The part of a drag's step that moves a surface already `overscroll`
// pixels past its edge, in a window `extent` pixels long: all of it at the
// edge, none from half a window past it.
double resisted_step(double step, double overscroll, double extent);

}
