#pragma once

// How one axis of a nine-slice picture is cut into runs for a destination
// of a given length: the borders are drawn 1:1 (shrunk when they do not
// fit) and the centre is tiled from its source range.

#include <cstdint>

namespace qv {

struct AxisRuns {
    std::int32_t start_length { 0 };
    std::int32_t start_source { 0 };  // first source unit of the start run
    std::int32_t centre_length { 0 };
    std::int32_t centre_phase { 0 };  // offset into the centre's source range
    std::int32_t end_length { 0 };
    std::int32_t end_source { 0 };
};

// Grid points along the axis (outer start, inner start, inner end, outer
// end), the destination length, and the visible part of the destination as
// offsets from its start [visible_begin, visible_end).
AxisRuns split_axis(std::int32_t outer_start, std::int32_t inner_start, std::int32_t inner_end,
    std::int32_t outer_end, std::int32_t length, std::int32_t visible_begin, std::int32_t visible_end);

}
