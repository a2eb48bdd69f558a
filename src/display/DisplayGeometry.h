#pragma once

// The pure rules of the display layer: how the update area is rounded, how
// a turned panel maps pen points and arrow keys, and how a frame is turned
// onto the panel. Kept apart from the drivers so they can be checked alone.

#include "imaging/Rect.h"

#include <cstdint>

namespace qv {

struct DisplaySurface {
    std::uint16_t* pixels { nullptr };
    std::int32_t width { 0 };
    std::int32_t height { 0 };
    std::int32_t pitch { 0 }; // bytes
};

// The area clipped to the surface with left rounded down and right rounded
// up to even columns; an empty result stands for the whole surface.
Rect normalize_update_area(Rect area, std::int32_t width, std::int32_t height);

// Quarter turns between the orientation drawn in and the panel's, 0 .. 3.
constexpr std::int32_t turn_between(std::int32_t display_orientation, std::int32_t system_orientation)
{
    return ((display_orientation - system_orientation) % 4 + 4) % 4;
}

// A panel point as the program sees it; `width` and `height` are the
// program's surface size.
Point rotate_pen_point(Point panel, std::int32_t turn, std::int32_t width, std::int32_t height);

// An arrow virtual key (37 .. 40) turned by `turn`; other keys unchanged.
std::int32_t rotate_arrow_key(std::int32_t virtual_key, std::int32_t turn);

// Copies `area` of the program's surface onto the panel turned by `turn`
// so that every program pixel lands where rotate_pen_point finds it.
void copy_turned(DisplaySurface const& program, DisplaySurface const& panel, std::int32_t turn, Rect const& area);

// Rows of `area` copied to the same place; one block when rows are whole
// and pitches equal.
void copy_area(DisplaySurface const& from, DisplaySurface const& to, Rect const& area);

}
