#pragma once

// The tiles a zoom view keeps: a small table of entries keyed by level,
// column and row. Each entry is stamped with the last frame that showed it,
// so that once the view's budget is reached the least recently shown one is
// recycled; while a level's own tiles are awaited, previews for it are
// scaled from the delivered tiles of the level shown before. No lock of its
// own: the view's lock guards it. Nothing fails: a preview whose surface
// cannot be made is left out, and the view waits for the tile itself.

#include "imaging/PixelBuffer.h"
#include "imaging/RenderSurface.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace qv {

struct TileEntry {
    int level { -100 };
    int column { -1 };
    int row { -1 };
    // The last frame that showed the tile.
    int stamp { 0 };
    std::unique_ptr<RenderSurface> surface;
    // Nothing delivered yet: the view shows its empty surface instead.
    bool pending { true };
    // The listener has been asked for the tile.
    bool requested { false };
    // Scaled from another level while its own tile is awaited.
    bool preview { false };
};

// How a view's tiles look: `side` pixels square, arriving turned like the
// view (see turned_rect), `background` where no picture covers them.
struct TileLook {
    int side { 0 };
    int orientation { 0 };
    std::uint16_t background { 0 };
};

class TileTable {
public:
    std::vector<std::unique_ptr<TileEntry>> const& entries() const { return m_entries; }
    void clear() { m_entries.clear(); }
    TileEntry* find(int level, int column, int row);
    // An emptied entry for a new key: a fresh one while the table holds
    // fewer than `budget`, else the least recently shown one, unless even
    // that one was shown in `frame` itself.
    TileEntry& take(int level, int column, int row, int budget, int frame);

    // A preview of a tile of new_level scaled from the delivered tiles of
    // old_level that cover it; null when none does.
    std::unique_ptr<TileEntry> make_preview(int old_level, int new_level, int column, int row, TileLook const& look);
    // Adds the previews, dropping the least recently shown entries to keep
    // within `budget`.
    void add_previews(std::vector<std::unique_ptr<TileEntry>> previews, int budget);

private:
    // The pixels of a tile that holds its delivered picture, else null.
    PixelBuffer const* delivered_pixels(int level, int column, int row);
    // Whether any delivered tile of the old level covers part of this one.
    bool has_preview_source(int old_level, int new_level, int column, int row, int side);

    std::vector<std::unique_ptr<TileEntry>> m_entries;
};

}
