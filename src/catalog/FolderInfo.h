#pragma once

#include "core/WString.h"

#include <cstdint>

namespace qv {

// One album: a directory holding at least one picture.
struct FolderInfo {
    WString drive_path;       // the search root, with its trailing backslash
    WString folder_path;      // the key picture's directory with its separator: the album's identity
    WString key_picture_path; // the cover picture
    std::int32_t folder_size { 0 };
};

// The text up to and including the last "\" or "/"; empty when there is none.
WString folder_of(WStringView picture_path);

// The caption of an album from its key picture path or its folder path: the
// name of the directory that holds it, "My documents" for the documents root.
WString folder_display_name(WStringView path);

}
