#pragma once

// Builds a picture's cache file: the entry points of the full-size picture,
// a pyramid of halved copies with theirs, and the 64 × 64 thumbnail. It
// works row by row and never holds a whole decoded picture.

#include "core/WString.h"
#include "imaging/JpegCodec.h"

#include <atomic>

namespace qv {

// Pictures whose coefficients take more than this to hold get no stored
// full-size copy: their levels come from a scaled decode. Builds that run
// at once share it: their transcodes together hold no more (a transcode
// waits for room).
inline constexpr std::uint64_t kTranscodeLimitBytes = 192u << 20;

// False on any failure, and when `stop` was seen set (it is looked at
// every few rows); there is then no file under the cache name (the caller
// decides whether it becomes a bad-picture marker), and `problem` says what
// is wrong with the picture: None after a stop, Storage when the cache
// could not be written. The file is built beside its cache name under a
// scratch name, named for this process as the other scratch files, and
// moved there only once complete. It ends with the picture's identity
// record, taken before the picture is read; its path is recorded from the
// search root when `cache_file` lies in a cache directory.
bool create_picture_cache(WStringView picture, WStringView cache_file, std::atomic<bool> const* stop = nullptr,
    PictureProblem* problem = nullptr, std::uint64_t transcode_limit = kTranscodeLimitBytes);

// The most the transcodes under way held at once since the last call.
std::uint64_t take_transcode_peak_bytes();

}
