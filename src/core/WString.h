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
// The UTF-8 bytes of one code point; what is no Unicode scalar value (a
// surrogate, or past U+10FFFF) is written as U+FFFD, which UTF-8 can carry.
void append_utf8(std::string& out, std::uint32_t code_point);

// File and folder names on Linux are bytes that are usually, but not
// always, UTF-8; a name must come back to the very bytes it was listed
// with, or its picture could be listed but never opened. Each byte that is
// not part of well-formed UTF-8 becomes the lone surrogate U+DC80 + (byte -
// 0x80) on the way in and that byte again on the way out ("surrogate
// escapes"); well-formed UTF-8 reads as from_utf8 reads it. Only names and
// paths cross with these; shown or written as text, an escape is a
// replacement character (to_utf8, without_lone_surrogates).
WString from_utf8_escaped(std::string_view bytes);
std::string to_utf8_escaped(WStringView text);

// The text with every surrogate that is not half of a pair replaced by
// U+FFFD: what is written to UTF-16 files meant for reading, such as the
// log, so that no reader meets ill-formed text.
WString without_lone_surrogates(WStringView text);
bool is_lone_surrogate_at(WStringView text, std::size_t index);

WString to_wstring(std::int64_t value);

// Lower-cases ASCII and Latin-1 letters; enough for file names and the
// case-insensitive comparisons the file layer needs.
char16_t to_lower(char16_t c);
WString to_lower(WStringView text);
bool equals_ignore_case(WStringView a, WStringView b);

}
