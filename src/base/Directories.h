#pragma once

#include "core/WString.h"

namespace qv {

class DirectoryVisitor {
public:
    virtual ~DirectoryVisitor() = default;
    // Returning false stops the whole walk.
    virtual bool on_file(WString const& path) { return true; }
    virtual bool on_directory(WString const& path) { return true; }
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
