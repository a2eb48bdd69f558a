#pragma once

// Moving a directory of cache files to a new place, once: renamed whole
// when it can be; else file by file, each renamed, or copied under a
// scratch name and renamed when the two places lie on two file systems, so
// that a copy cut short never leaves half a file under a cache name. A
// file the new place holds already stays, and the old copy goes. The old
// directory is removed only once all of it has been moved; a move that
// fails leaves it as it is (less what was renamed), and the next one
// carries on. Only files proven ours move (CacheOwnership.h); the
// directory is renamed whole only when it holds nothing else, and a link
// in its place is never followed.

#include "core/WString.h"

#include <functional>

namespace qv {

struct CacheMigration {
    enum class Outcome {
        Nothing, // no old directory
        Moved,
        Failed,  // the old directory stays; `error` says why
        LeftAlone // a link or not ours: never moved nor moved from; `error` says which
    };
    Outcome outcome { Outcome::Nothing };
    int renamed { 0 }; // files, or 1 for a directory renamed whole
    int copied { 0 };
    int dropped { 0 }; // old files the new place had already, or scratch files
    int kept { 0 };    // files not proven ours, left where they are
    WString error;
};

struct MigrationOptions {
    // Copies as between two file systems, for tests.
    bool always_copy { false };
    // Copies one file to a new file; empty for the file system's copy.
    std::function<bool(WStringView from, WStringView to)> copy;
};

CacheMigration move_cache_directory(WStringView from, WStringView to, MigrationOptions const& options = {});

// What the log and the cache tool say of a migration.
WString migration_text(CacheMigration const& migration, WStringView from, WStringView to);

}
