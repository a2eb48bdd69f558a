#pragma once

// Resampling of R, G, B pictures with a Catmull-Rom cubic, widened by the
// reduction when shrinking so that every source pixel counts: sharp without
// the moiré of point sampling or the blur of a box. Pure, any thread.

#include "imaging/JpegTile.h"

namespace qv {

struct SourceWindow {
    double x { 0 };
    double y { 0 };
    double width { 0 };
    double height { 0 };
};

// The part `window` of `source` (in its pixels; it may reach past the
// edges, where the edge pixels repeat) to out_width × out_height. An empty
// source or window, or a non-positive output size, gives an empty image.
RgbImage resample_cubic(RgbImage const& source, SourceWindow window, int out_width, int out_height);

}
