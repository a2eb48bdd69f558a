#pragma once

// Moving files between places that may lie on two file systems, never over
// something that is there already: what moves a directory of files that
// others may be writing into meanwhile.

#include "core/WString.h"

#include <string>

namespace qv::platform {

enum class MoveOutcome {
    Moved,
    TargetExists,    // `to` is there (an empty directory too): nothing moved
    OtherFileSystem, // a rename cannot cross file systems: copy instead
    Failed           // see last_move_error()
};

// Renames the file or directory `from` to `to`, atomically, unless `to`
// exists.
MoveOutcome rename_without_replacing(WStringView from, WStringView to);

// Copies the regular file `from` to the new file `to` (refused when `to`
// exists), its bytes and modification time; flushed to the disk before it
// returns true, so that a rename after it never names half a file.
bool copy_file(WStringView from, WStringView to);

// The system's error number of this thread's last failed call above, and
// what it means in words.
int last_move_error();
std::string error_text(int error);

}
