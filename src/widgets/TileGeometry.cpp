#include "widgets/TileGeometry.h"

#include <algorithm>
#include <cmath>

namespace qv {

namespace {

int ceil_div(int a, int b) { return b > 0 ? (a + b - 1) / b : 0; }

}

int tile_top_level(int tile_width, int tile_height, int picture_width, int picture_height)
{
    if (tile_width <= 0 || tile_height <= 0 || picture_width <= 0 || picture_height <= 0)
        return 0;
    int const columns = ceil_div(picture_width, tile_width);
    int const rows = ceil_div(picture_height, tile_height);
    int k = 0;
    while (k < 30 && ((1 << k) < columns || (1 << k) < rows))
        ++k;
    return k;
}

int tile_fit_level(int top_level, int tile_width, int tile_height, int view_width, int view_height)
{
    for (int level = top_level; level >= 0; --level) {
        auto const need_w = static_cast<std::int64_t>(tile_width) << level;
        auto const need_h = static_cast<std::int64_t>(tile_height) << level;
        if (view_width >= need_w && view_height >= need_h)
            return level;
    }
    return 0;
}

int tile_budget(int tile_width, int tile_height, int view_width, int view_height)
{
    if (tile_width <= 0 || tile_height <= 0)
        return 0;
    return (std::max(view_height, 0) / tile_height + 2) * (std::max(view_width, 0) / tile_width + 2);
}

int level_extent(int full_extent, int top_level, int level)
{
    int const shift = std::clamp(top_level - level, 0, 30);
    return static_cast<int>((static_cast<std::int64_t>(full_extent) + (std::int64_t { 1 } << shift) - 1) >> shift);
}

int level_tiles(int full_extent, int top_level, int level, int tile_extent)
{
    return ceil_div(level_extent(full_extent, top_level, level), tile_extent);
}

PanRange pan_range(double displayed, double view, double to_full)
{
    if (displayed < view)
        return PanRange { displayed * to_full / 2, displayed * to_full / 2 };
    return PanRange { view / 2 * to_full, (displayed - view / 2) * to_full };
}

double clamp_to(PanRange range, double value) { return std::clamp(value, range.low, range.high); }

double fit_zoom(int picture_width, int picture_height, int top_level, double view_width, double view_height)
{
    if (picture_width <= 0 || picture_height <= 0 || view_width <= 0 || view_height <= 0)
        return 0;
    double const scale = std::ldexp(1.0, -top_level);
    double const zx = std::log2(view_width / (picture_width * scale));
    double const zy = std::log2(view_height / (picture_height * scale));
    double const zoom = zx < 0 && zy < 0 ? std::max(zx, zy) : std::min(zx, zy);
    return std::min(zoom, static_cast<double>(top_level));
}

double drag_overscroll(double delta, double pan, double low, double high)
{
    if (delta > 0)
        return std::max(0.0, low - pan);
    if (delta < 0)
        return std::max(0.0, pan - high);
    return 0;
}

double step_towards(double value, double target, double step)
{
    if (value < target)
        return std::min(target, value + step);
    return std::max(target, value - step);
}

double round_zoom(double zoom)
{
    double const whole = std::trunc(zoom);
    return zoom - whole >= 0.5 ? whole + 1 : whole;
}

PicturePoint turned_to_picture(double x, double y, int orientation)
{
    if (orientation == 1)
        return { y, -x };
    if (orientation == -1)
        return { -y, x };
    return { x, y };
}

Rect turned_rect(Rect v, Size size, int orientation)
{
    if (orientation == 1)
        return Rect { size.width - v.bottom, v.left, size.width - v.top, v.right };
    if (orientation == -1)
        return Rect { v.top, size.height - v.right, v.bottom, size.height - v.left };
    return v;
}

}
