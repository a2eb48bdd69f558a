#pragma once

// Where an edit field's caret stands among the laid-out lines of its text,
// as pure functions over the same runs and lines the text element draws,
// so that every rule can be checked with made-up widths.

#include "core/WString.h"
#include "widgets/TextFlow.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace qv {

struct CaretPlace {
    std::size_t line { 0 };
    std::int32_t x { 0 }; // from the line's start
    friend bool operator==(CaretPlace, CaretPlace) = default;
};

// The index in the prepared text (tabs made four spaces) of an index in
// the text as typed.
std::size_t prepared_index(WStringView text, std::size_t index);

// The place of every caret position 0 .. size of the prepared text. A
// position where one line ends and the next begins belongs to the next
// line; a position after a final line break is on a line of its own, one
// past the laid-out ones.
std::vector<CaretPlace> caret_places(WStringView prepared, std::vector<FlowLine> const& lines,
    RunMeasure const& measure);

// The typed-text caret index on `line` closest to x, none when no index
// lies on that line. `places` holds the place of each typed-text index.
std::optional<std::size_t> closest_on_line(std::vector<CaretPlace> const& places, std::size_t line, std::int32_t x);

// The horizontal scroll (0 or negative) of a one-line text `text_width`
// wide in a field `width` wide, keeping the caret at caret_x in view.
std::int32_t keep_caret_in_view(std::int32_t scroll, std::int32_t caret_x, std::int32_t text_width,
    std::int32_t width);

}
