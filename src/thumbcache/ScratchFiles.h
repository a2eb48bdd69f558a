#pragma once

// The scratch files of cache builds: made beside the cache file, named
// "~build-<process id>-<build number>" with ".cache", ".thumb", ".temp" or
// ".full", so that two builders never share one and a builder's files can
// be told from everyone else's. A build removes its own when it ends; a
// process that is killed cannot, and its files are found by the process id
// in their names once that process has gone.

#include "core/WString.h"

#include <optional>

namespace qv {

// The process a leaf name (no folder) says made it: nothing for a name
// that is not a scratch file's.
std::optional<int> scratch_file_process(WStringView leaf_name);
bool is_scratch_file_name(WStringView leaf_name);

// Removes the scratch files in `cache_directory` (not below it) whose
// process no longer runs; those of running processes, this one included,
// stay. Returns how many were removed.
int remove_stale_scratch_files(WStringView cache_directory);

// From now on SIGINT and SIGTERM remove the scratch files of the builds
// under way before they end the process (see
// platform::install_removal_on_termination).
void install_scratch_cleanup_on_signals();

// One build's scratch files, registered for removal on a terminating
// signal for as long as the object lives, and removed when it goes.
class ScratchFiles {
public:
    explicit ScratchFiles(WStringView cache_file);
    ~ScratchFiles();
    ScratchFiles(ScratchFiles const&) = delete;
    ScratchFiles& operator=(ScratchFiles const&) = delete;

    WString cache; // the cache file until it is complete
    WString level; // a level too large to hold in memory
    WString next;  // the one after it while it is written
    WString full;  // a sequential copy of a picture stored otherwise

private:
    int m_tickets[4] { -1, -1, -1, -1 };
};

}
