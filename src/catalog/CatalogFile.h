#pragma once

// The album list file: for album i the lines "KeyPicturePath<i>", "DrivePath<i>"
// and "FolderSize<i>", each key followed by a TAB and the value.
//
// The file is the user's to edit and may be damaged, so every album read
// from it is checked before the program believes it: its drive path decides
// where cache files are written, its size is shown as it is.

#include "core/WString.h"
#include "catalog/FolderInfo.h"

#include <map>
#include <vector>

namespace qv {

// Keys and values of the whole text. A key ends at white space or "="; the
// value runs to the line end. A later key replaces an earlier one.
std::map<WString, WString> parse_catalog_text(WStringView text);

// The most pictures an album may claim: far more than any card holds, and
// few enough that counts and sums of them stay far from overflowing.
inline constexpr std::int32_t kMaxFolderSize = 10'000'000;

// Why an album read from the file is not to be used, null when it is: its
// drive path is none of `roots`, its size is negative or beyond
// kMaxFolderSize, or its key picture (and with it its folder) does not lie
// under its drive path, or climbs out of it through "..".
char const* folder_entry_problem(FolderInfo const& folder, std::vector<WString> const& roots);

// The albums of a parsed file. The three families are paired by key order,
// so album 10 comes right after album 1. An album with a problem is left
// out, with a line in the log. A drive path matches a root as written or
// expanded ("%my_documents%\" and the folder it names are one root).
std::vector<FolderInfo> folders_from_text(WStringView text, std::vector<WString> const& roots);
// Checked against the search roots of the moment (search_roots()).
std::vector<FolderInfo> folders_from_text(WStringView text);

WString folders_to_text(std::vector<FolderInfo> const& folders);

// A decimal number with optional leading blanks and sign; 0 when there is no
// number; clamped to the 32-bit range.
std::int32_t parse_folder_size(WStringView text);

}
