#pragma once

// A lock file that goes when its holder is done with it. Its holder removes
// it before letting go, so anyone who was waiting on it holds a file no
// longer at its path: taking the lock therefore checks that the file held
// is still the one the path names, and starts again when it is not.

#include <string>

namespace qv::platform {

// The descriptor holding the lock on `path` (made 0600 when missing), or -1:
// when `wait` is false and another holds it (errno EWOULDBLOCK), or when it
// cannot be taken, with `problem` saying why when the path is not a lock of
// this user's (a link, a directory, another user's file).
int take_lock_file(std::string const& path, bool wait, std::string& problem);

// Removes the lock file, when it is still the one held, and lets go.
void release_lock_file(std::string const& path, int fd);

}
