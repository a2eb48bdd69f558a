#pragma once

// What a tiled zoom view asks of its owner: tiles it lacks, and word of the
// user's gestures on it. Called on the user-interface thread, from the
// view's drawing, advancing and pen handling, never under the view's lock.
// Nothing is reported back: a tile the owner cannot make is simply never
// delivered, and the view keeps showing its empty surface there.

#include "imaging/Rect.h"

namespace qv {

class TileView;

class TileListener {
public:
    virtual ~TileListener() = default;
    // Called from inside the view's drawing; the listener may ask the view
    // is_needed() for tiles already queued.
    virtual void add_tile(TileView& view, int level, int column, int row) = 0;
    virtual void after_draw(TileView& view) { }
};

class GestureListener {
public:
    virtual ~GestureListener() = default;
    // The pan point or the zoom moved this frame.
    virtual void on_pan_changed(TileView& view, double pan_x, double pan_y, double zoom) { }
    // A pen press and release that stayed in place.
    virtual void on_view_click(TileView& view, Point point) { }
};

}
