#pragma once

// Pictures and folders the program is asked to open from outside: on its
// command line, or by a second start that hands its command line over to
// the running program. The paths travel as one text and are turned into
// what the album screen shows: one folder as its album, one picture in the
// viewer within its folder's album, several as one album of their own.
//
// Threads: any; plan_opening reads the file system (the folders' listings
// and the pictures' Exif dates, for the album order).
// Failures: a path that has gone, or that is neither a folder nor a file,
// is left out and named in `skipped`; nothing is thrown.

#include "catalog/FolderInfo.h"
#include "core/WString.h"

#include <vector>

namespace qv {

// The hand-over text: each path (full, in the program's path form)
// followed by a NUL, which no path can hold, so that spaces, quotes and
// escaped bytes pass as they are. No path, an empty text.
WString encode_open_request(std::vector<WString> const& paths);
// The paths of such a text; empty pieces are no paths.
std::vector<WString> decode_open_request(WStringView text);

// A path as the log shows it: a byte that is no UTF-8 as "\xFF", so that
// the log stays text; with `slashes`, "/" separators as the system names
// it, else the program's own.
WString readable_path(WStringView path, bool slashes = true);

// Where a picture or folder given by its full path belongs: the search root
// (of `roots`, as search_roots gives them) that holds it, and the path as
// that root names it ("%my_documents%\Trip\a.jpg"), so that it is the same
// picture, with the same cache, as the search finds. A path outside every
// root is its own: the root is its folder (for a folder, the folder itself)
// with its trailing separator, and the path stays as it is.
struct PlacedPath {
    WString root;
    WString path;
};
PlacedPath place_in_roots(WStringView full_path, bool is_directory, std::vector<WString> const& roots);

// What to show for the paths of one request.
struct OpenPlan {
    enum class Kind {
        Nothing,  // no path could be opened
        Album,    // `album`, the folder of the path given
        Pictures, // an album of `pictures` alone, titled `caption`
    };
    Kind kind { Kind::Nothing };
    FolderInfo album;
    WString caption;
    std::vector<WString> pictures;
    // The search root of each of `pictures`, in their order.
    std::vector<WString> roots;
    // The picture the viewer opens on; empty for the album's thumbnails.
    WString view;
    // Paths left out, for the log.
    std::vector<WString> skipped;
};

// One folder: its album. One picture: its folder's album with the viewer
// on it (a file the album does not list, such as a JPEG under another
// extension, is an album of its own). Several paths: one album of every
// picture given and every picture of each folder given (in album order),
// in the order given, each once; the viewer opens on the first when only
// pictures are given, else the album's thumbnails show.
OpenPlan plan_opening(std::vector<WString> const& paths, std::vector<WString> const& roots);

}
