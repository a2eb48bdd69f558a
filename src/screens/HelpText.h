#pragma once

// The help pages are HTML for a browser; where none can be started the
// program shows them itself, as text: headings and paragraphs on lines of
// their own, table rows as "key - meaning", entities decoded.

#include "core/WString.h"

#include <string_view>

namespace qv {

WString help_text_from_html(std::string_view html);

// The page's text, or empty when it cannot be read.
WString read_help_page(WStringView path);

}
