#pragma once

// Walks of directory trees, the storage cards and the few directory
// operations the program asks for by name.
//
// Threads: any; a walk calls its visitor on the caller's thread, and a
// visitor is used by one walk at a time.
// Failures: a directory that cannot be listed is walked as an empty one;
// create_directories logs each level it could not make and goes on.

#include "core/WString.h"

#include <vector>

namespace qv {

class DirectoryVisitor {
public:
    virtual ~DirectoryVisitor() = default;
    // Returning false stops the whole walk.
    virtual bool on_file(WString const& path) { return true; }
    virtual bool on_directory(WString const& path) { return true; }
};

// Gathers the paths a walk meets, in the walk's order: its files, or its
// directories. It never stops a walk.
class PathCollector final : public DirectoryVisitor {
public:
    enum class Take { Files, Directories };
    explicit PathCollector(Take take = Take::Files)
        : m_take(take)
    {
    }
    bool on_file(WString const& path) override;
    bool on_directory(WString const& path) override;

    std::vector<WString> paths;

private:
    Take m_take;
};

// Pass as the directory pattern to visit no sub-directories.
inline constexpr char16_t const* kDoNotSearch = u"do_not_search";

// Files of one directory first, then its sub-directories, depth first.
bool walk_directory(DirectoryVisitor& visitor, WStringView directory, WStringView file_pattern,
    WStringView directory_pattern, bool recursive);

// Creates every missing level, parent first, logging one line per level.
void create_directories(WStringView path);

bool execute_file(WStringView path, WStringView parameters);

// Storage cards, except one that holds My Documents (searched on its own).
bool find_drives(DirectoryVisitor& visitor);

}
