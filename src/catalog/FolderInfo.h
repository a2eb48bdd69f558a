#pragma once

#include "core/WString.h"

#include <cstdint>
#include <vector>

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

// Names as a person orders them: letters without regard to case, and runs
// of digits by their value, so that "Trip 2" comes before "Trip 10". Names
// that differ only in case or in leading zeros still get one order, by
// their plain text. Negative, zero or positive, as a comparison.
int natural_compare(WStringView a, WStringView b);
inline bool natural_less(WStringView a, WStringView b) { return natural_compare(a, b) < 0; }

// The albums of each search root in the order of their captions
// (album_captions, by natural_compare; then the whole folder path); the
// roots keep the order in which they first appear.
void sort_albums(std::vector<FolderInfo>& albums);

// The caption of each album of `albums`, in its order: its directory's name
// (folder_display_name), with as many of the directories above it before
// it, joined by "/", as make every caption in the list unique ("Trips/Misc"
// and "Work/Misc"); the root of a search root counts as one directory.
std::vector<WString> album_captions(std::vector<FolderInfo> const& albums);

}
