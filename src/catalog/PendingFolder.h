#pragma once

#include "core/WString.h"

#include <vector>

namespace qv {

// A picture waiting for its cache file.
struct PendingPicture {
    int order { 0 }; // its place in the album's queue when it was added
    WString path;    // stored form, path macro unexpanded
};

// The queued pictures of one directory.
struct PendingFolder {
    WString drive_path;
    std::vector<PendingPicture> pictures;
};

}
