#pragma once

// The program's text: UTF-16 strings and the few conversions and
// comparisons every layer needs. Pure functions, any thread; invalid UTF-8
// becomes replacement characters, never an error.

#include <cstdint>
#include <string>
#include <string_view>

namespace qv {

// All text and all paths inside the program are UTF-16, as on the platform
// the program was first written for; UTF-8 appears only at the system edge.
using WString = std::u16string;
using WStringView = std::u16string_view;

std::string to_utf8(WStringView text);
WString from_utf8(std::string_view text);

WString to_wstring(std::int64_t value);

// Lower-cases ASCII and Latin-1 letters; enough for file names and the
// case-insensitive comparisons the file layer needs.
char16_t to_lower(char16_t c);
WString to_lower(WStringView text);
bool equals_ignore_case(WStringView a, WStringView b);

}
