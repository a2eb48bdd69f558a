#pragma once

// A picture's cache as the screens and the cache tool see it: what its
// cache file holds, the tiles of the picture cut from that file or from the
// picture itself, and the building of the file. The screens learn all of it
// through PhotoCatalog, which adds what its worker remembers; only this
// file and the catalog know where cache files lie.
//
// Threads: any; each call reads or writes files of one picture only.
// Failures: never thrown; a picture that is gone is Missing, one whose cache
// file cannot be written is reported as not built, with its reason.

#include "core/WString.h"
#include "imaging/JpegCodec.h"
#include "thumbcache/PieceCreator.h"

#include <atomic>
#include <cstdint>
#include <memory>

namespace qv {

struct PictureStatus {
    enum class State : std::uint8_t {
        Ready,    // its cache file is complete
        Building, // no cache file yet: queued, or not asked for yet
        Bad,      // it cannot be shown from a cache file, for `problem`
        Missing,  // the picture itself is gone
    };
    State state { State::Missing };
    WString cache_file; // Ready only
    // Bad: why, when known (None when not); Missing: Missing.
    PictureProblem problem { PictureProblem::None };
};

// What the cache directory under the search root `root` says of `picture`:
// one look at the picture and at most a 4-byte read of its cache file. A
// picture marked bad by the empty marker is Bad without a known reason.
PictureStatus read_picture_status(WStringView picture, WStringView root);

// Tiles of `picture` as the viewer shows them, turned upright by its Exif
// orientation: cut from its cache file when `status` is Ready, else decoded
// from the picture file itself (then only its headers are read here).
std::unique_ptr<PieceCreator> open_piece_creator(WStringView picture, WStringView root, PictureStatus const& status);

// Builds `picture`'s cache file under `root`, making the cache directory
// when it is missing. On failure the empty marker takes the cache file's
// name, when it can be written, and `problem` says why (None when `stop`
// cut the build short).
bool build_picture_cache(WStringView picture, WStringView root, std::atomic<bool> const* stop, PictureProblem& problem);

}
