#pragma once

// The arithmetic of a picture cut into power-of-two levels of square tiles:
// how many levels it has, which one fits a view, how many tiles a view may
// keep, where the pan point may go, and how a view turned a quarter turn
// maps its screen onto the picture. Pure functions, no view inside; any
// thread. Nothing fails: empty pictures and views give empty answers (0
// levels, 0 tiles, a zero zoom).

#include "imaging/Rect.h"

#include <cstdint>

namespace qv {

// A point in the picture's frame: full-resolution pixels for a place,
// screen pixels turned upright for a step or a velocity.
struct PicturePoint {
    double x { 0 };
    double y { 0 };
};

// The smallest k with 2^k tiles covering the picture on both axes; 0 for
// an empty picture.
int tile_top_level(int tile_width, int tile_height, int picture_width, int picture_height);

// The largest level L <= top_level at which the view is at least
// tile_width * 2^L wide and tile_height * 2^L high; 0 when none is.
int tile_fit_level(int top_level, int tile_width, int tile_height, int view_width, int view_height);

// The visible grid plus a one-tile border on each side.
int tile_budget(int tile_width, int tile_height, int view_width, int view_height);

// A picture side halved (top_level - level) times, as the decoder rounds it.
int level_extent(int full_extent, int top_level, int level);

// The tiles a level has along one side of the picture.
int level_tiles(int full_extent, int top_level, int level, int tile_extent);

// Where the pan point (full-resolution pixels) may rest on one axis.
// `displayed` is the picture's side at the current zoom in screen pixels,
// `to_full` the factor from screen to full-resolution pixels. A picture
// smaller than the view has the single value of its centre.
struct PanRange {
    double low { 0 };
    double high { 0 };
};
PanRange pan_range(double displayed, double view, double to_full);
double clamp_to(PanRange range, double value);

// The zoom at which a w x h picture (levels 0 .. top_level) fits a view:
// the smaller of the two sides' zooms, never above full size. When both
// sides need a zoom below 0 (a view smaller than the level-0 picture both
// ways) the larger is taken, so that the picture fills the view along one
// side instead of shrinking into a stamp.
double fit_zoom(int picture_width, int picture_height, int top_level, double view_width, double view_height);

// How far the pan point lies past its limit on one axis, on the side a
// drag by `delta` pushes it to: a positive delta (the pen going right or
// down) moves the pan point down towards `low`, a negative one up towards
// `high`. 0 while it is within. All in screen pixels.
double drag_overscroll(double delta, double pan, double low, double high);

// One step of at most `step` from value towards target, never past it.
double step_towards(double value, double target, double step);

// "Rounding" of the zoom buttons: the integer part, plus one when the rest
// is one half or more.
double round_zoom(double zoom);

// Orientation: 0 upright, 1 the view turned clockwise, -1 anticlockwise.
// A step or a velocity of the pen on the screen, in the picture's frame.
PicturePoint turned_to_picture(double x, double y, int orientation);
// Where a rectangle of an upright frame lies once the frame is turned: a
// rectangle of the view on the screen (`size` the view's size on the
// screen), or a part of a tile in its surface (which arrives turned).
Rect turned_rect(Rect upright, Size size, int orientation);

}
