#pragma once

// The layout rules along one axis, as pure functions: how a child sits in
// its slot by its anchor mode and borders, what room it takes in its
// parent's measure, how a table shares its length, where a progress line
// ends. Elements call these; nothing here knows about elements.

#include "core/WString.h"

#include <cstdint>
#include <span>
#include <vector>

namespace qv {

enum class Anchor : std::int32_t {
    MinSide = 0,
    BothSide = 1,
    MaxSide = 2,
    Ratio = 3,
    Center = 4,
    MinSideNoSize = 5,
    MaxSideNoSize = 6,
};

// Unknown or empty names give BothSide.
Anchor anchor_from_name(WStringView name);

std::int32_t slot_size(Anchor mode, std::int32_t border_min, std::int32_t wanted, std::int32_t border_max,
    std::int32_t slot);
std::int32_t slot_offset(Anchor mode, std::int32_t border_min, std::int32_t size, std::int32_t border_max,
    std::int32_t slot);
std::int32_t measure_extent(Anchor mode, std::int32_t border_min, std::int32_t size, std::int32_t border_max);
std::int32_t border_sum(Anchor mode, std::int32_t border_min, std::int32_t border_max);

// A measured pair: what the element would like, and the least it can take.
struct MeasurePair {
    std::int32_t preferred { 0 };
    std::int32_t minimum { 0 };
};

struct AxisChild {
    Anchor mode { Anchor::BothSide };
    std::int32_t border_min { 0 };
    std::int32_t border_max { 0 };
    MeasurePair pair;
    std::int32_t ratio { 0 }; // share of a table's spare room
};

// Start (relative to the parent) and length given to a child.
struct Placement {
    std::int32_t start { 0 };
    std::int32_t size { 0 };
    friend bool operator==(Placement, Placement) = default;
};

// The base measure: `pair` raised by the design size and every child.
MeasurePair measure_base(MeasurePair pair, std::int32_t design, std::span<AxisChild const> children);
// A table along its own axis; `children` are its visible ones.
MeasurePair measure_table(MeasurePair pair, std::int32_t design, std::span<AxisChild const> children);

// The base child layout: each child by its own mode within the whole parent.
Placement place_in_slot(AxisChild const& child, std::int32_t wanted, std::int32_t slot);

// A table's share-out of `length` among its visible children, in order.
// An empty result size with start 0 for all means the table has no room.
std::vector<Placement> place_table(std::span<AxisChild const> children, std::int32_t length);

// The line of a progress bar `length` long filled to `value` (0 .. 1).
Placement place_progress_line(AxisChild const& line, std::int32_t length, double value);

}
