#pragma once

// Which files in a cache directory are the program's own, and the only
// ways it removes or changes them. A directory is used for caches only when
// it is a real directory of the user's (platform/OwnFiles.h); a file in one
// is ours only when its name has a cache file's shape and its content is a
// cache file or a marker (CacheFileEnds::ours: an identity record, or the
// complete mark, or no bytes at all). Anything else found there is left alone and
// counted: people keep files where they like, and a link may have brought
// a folder of theirs here before such links were refused.

#include "core/WString.h"

#include <functional>

namespace qv::platform {
class OwnDirectory;
}

namespace qv {

// "<size>-<YYYYMMDDhhmmss>.<nanoseconds>", perhaps followed by "-" and 16
// hexadecimal digits (CacheFile.h).
bool has_cache_name_shape(WStringView leaf_name);

// Whether the file `leaf_name` of `directory` is ours by name and content.
bool is_own_cache_file(platform::OwnDirectory const& directory, WStringView leaf_name);

// Whether a cache directory may be made or used at `path`: there is
// nothing there yet, or a directory of ours that is not a link.
bool usable_cache_directory(WStringView path);

// Removes the file at `path` when it is ours by name and content, in a
// directory of ours; false when nothing was removed.
bool remove_own_cache_file(WStringView path);

// Whether a cache file may be written at `path`: nothing is there, or a
// file of ours.
bool free_for_cache_file(WStringView path);

struct CacheSweep {
    int removed { 0 };
    int kept { 0 };  // files not proven ours
    bool refused { false }; // the directory is not ours: nothing was looked at
};

// Removes the files of `cache_directory` that are ours and that `in_use`
// (given a leaf name) does not claim; scratch files and directories are
// not looked at. Logs what it kept and why.
CacheSweep remove_unused_cache_files(WStringView cache_directory, std::function<bool(WStringView leaf_name)> const& in_use);

// Damage found in a cache file of ours (a checksum or a decode that
// failed): its mark is taken off, so that every reader takes it for
// unfinished and the next build or search makes it again. False when the
// file is not ours or could not be changed.
bool mark_cache_damaged(WStringView path);

}
