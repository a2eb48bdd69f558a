#pragma once

// The album list file: for album i the lines "KeyPicturePath<i>", "DrivePath<i>"
// and "FolderSize<i>", each key followed by a TAB and the value.

#include "core/WString.h"
#include "catalog/FolderInfo.h"

#include <map>
#include <vector>

namespace qv {

// Keys and values of the whole text. A key ends at white space or "="; the
// value runs to the line end. A later key replaces an earlier one.
std::map<WString, WString> parse_catalog_text(WStringView text);

// The albums of a parsed file. The three families are paired by key order,
// so album 10 comes right after album 1.
std::vector<FolderInfo> folders_from_text(WStringView text);

WString folders_to_text(std::vector<FolderInfo> const& folders);

// A decimal number with optional leading blanks and sign; 0 when there is no
// number; clamped to the 32-bit range.
std::int32_t parse_folder_size(WStringView text);

}
