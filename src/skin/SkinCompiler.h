#pragma once

// Compiles the readable skin source into the binary skin image.
//
// Source: one node per block, properties indented below it.
//
//   # a comment
//   form Main                          a top-level node
//       string type node               string: the rest of the line, or "quoted"
//       int anchor_x 2
//       point pos 10 -4
//       color background 24 26 30
//       font font 12 1 0 0 DejaVu Sans size bold italic underline face
//       picture image icons/search     the whole picture
//       picture bg rows/row border 8   nine-slice with one border width
//       picture bg rows/row grid 0 0 8 8 56 40 64 48 [flag 1]
//       node btnSearch                 a child; a name gives it the "id"
//           string type button
//
// Pictures are named by path relative to the skin, without extension.

#include "core/WString.h"
#include "imaging/Rect.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

struct SkinCompileResult {
    std::vector<std::uint8_t> image;   // empty on error
    std::vector<std::string> pictures; // in table order
    std::string error;                 // "line N: ..." on error
};

// Answers a picture's size in pixels, or nothing when it does not exist.
using PictureSizer = std::function<std::optional<Size>(std::string const& name)>;

SkinCompileResult compile_skin(std::string_view source, PictureSizer const& picture_size);

}
