#pragma once

// Places the program may delete from, move or overwrite in: a directory is
// used that way only when it is a real directory of this user, never a
// symbolic link to one, and what is done in it is done relative to the
// handle it was opened as, so that a link put in its place meanwhile leads
// nowhere.

#include "core/WString.h"
#include "platform/Files.h"

#include <vector>

namespace qv::platform {

enum class PlaceState {
    Missing,
    OwnDirectory, // a directory, not a link, owned by this user
    Link,         // a symbolic link, to whatever
    NotOwn,       // a directory of another user
    NotDirectory  // a file, a FIFO, a device
};

// What `path` is, its last component not followed.
PlaceState place_state(WStringView path);
// For the log: "a symbolic link", "another user's directory"...
char const* place_state_text(PlaceState state);

class OwnDirectory {
public:
    OwnDirectory() = default;
    explicit OwnDirectory(WStringView path) { open(path); }
    ~OwnDirectory();
    OwnDirectory(OwnDirectory const&) = delete;
    OwnDirectory& operator=(OwnDirectory const&) = delete;

    // False, and nothing open, unless `path` is an own directory (above).
    bool open(WStringView path);
    bool is_open() const { return m_fd >= 0; }
    PlaceState state() const { return m_state; }

    // Its regular files and directories, links left out, sorted by name.
    std::vector<ListedEntry> list() const;
    // A regular file in it, for reading (or changing in place); never
    // through a link, never made.
    bool open_file(WStringView name, File& file, bool writable = false) const;
    // Removes a file (a link itself, never its target).
    bool remove_file(WStringView name) const;

private:
    int m_fd { -1 };
    PlaceState m_state { PlaceState::Missing };
};

}
