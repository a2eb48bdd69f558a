#pragma once

// The text element's layout as pure functions: the text cut into runs
// (words and line ends), runs set on lines in the three ways a text element
// uses, and the share-outs of justification and side parts. Widths come
// from a caller's measure, so every rule can be checked with made-up ones.

#include "core/WString.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace qv {

struct TextRun {
    WString text;
    std::int32_t width { 0 };
    std::int32_t height { 0 };
    std::int32_t spacing { 0 }; // the white space that follows the run
    bool ends_line { false };   // a line feed follows the run
    friend bool operator==(TextRun const&, TextRun const&) = default;
};

struct FlowLine {
    std::vector<TextRun> runs;
    std::int32_t width { 0 };
    std::int32_t height { 0 };
};

struct RunSize {
    std::int32_t width { 0 };
    std::int32_t height { 0 };
};
using RunMeasure = std::function<RunSize(WStringView text)>;
// The number of leading characters that fit within limit.
using RunFit = std::function<std::int32_t(WStringView text, std::int32_t limit)>;

inline constexpr char16_t kEllipsis = u'\u2026';

// Tabs become four spaces; without wrap, line breaks become spaces.
WString prepare_text(WStringView text, bool wrap);

// Words and the white space after each; a line feed ends the run before it
// (an empty run for an empty line).
std::vector<TextRun> split_runs(WStringView text, RunMeasure const& measure);

// One line in order until the running width reaches `available`; the run
// that reaches it is kept, later ones are left out.
FlowLine flow_one_line(std::vector<TextRun> const& runs, std::int32_t available);

// One line showing the end of the text: whole when it fits, else the
// ellipsis and as much of the end as fits after it, else nothing.
FlowLine flow_right(std::vector<TextRun> const& runs, std::int32_t available, RunMeasure const& measure);

// A path-like caption ("Trips/2019/Misc") fitted into `available`: whole
// when it fits; else as much of its start as fits, the ellipsis, and its
// last part whole ("Trips/20…/Misc"), since the last part names the
// album and the start tells it from its namesakes; else the ellipsis and
// as much of the end as fits. A caption without "/" keeps its start.
WString elide_path(WStringView text, std::int32_t available, RunMeasure const& measure);

// Words flowed into lines; `available` answers the width a line starting
// at height y may take.
std::vector<FlowLine> flow_words(std::vector<TextRun> const& runs, std::function<std::int32_t(std::int32_t)> const& available,
    RunMeasure const& measure, RunFit const& fit);

// What each of the n - 1 gaps of a justified line of n runs grows by.
std::vector<std::int32_t> justify_gaps(std::int32_t runs, std::int32_t spare);

struct SideShare {
    std::int32_t left { 0 };
    std::int32_t right { 0 };
    friend bool operator==(SideShare, SideShare) = default;
};
// The widths of the left and right parts in `width`: their preferred widths
// when both fit, else shares in proportion.
SideShare share_sides(std::int32_t width, std::int32_t left, std::int32_t right);

}
