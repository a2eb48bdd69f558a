#pragma once

// A skin image checked once at load: afterwards every offset, bound, name
// and table index that a lookup follows is known to lie inside the image,
// so lookups need no checks of their own.

#include <cstdint>
#include <span>
#include <string>

namespace qv {

// Empty when the image is sound, else what is wrong with it.
std::string check_skin_image(std::span<std::uint8_t const> image);

}
