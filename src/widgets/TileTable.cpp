#include "widgets/TileTable.h"

#include "imaging/PixelOp.h"
#include "widgets/TileGeometry.h"

#include <algorithm>

namespace qv {

TileEntry* TileTable::find(int level, int column, int row)
{
    for (auto& entry : m_entries)
        if (entry->level == level && entry->column == column && entry->row == row)
            return entry.get();
    return nullptr;
}

TileEntry& TileTable::take(int level, int column, int row, int budget, int frame)
{
    TileEntry* entry = nullptr;
    if (static_cast<int>(m_entries.size()) < budget) {
        m_entries.push_back(std::make_unique<TileEntry>());
        entry = m_entries.back().get();
    } else {
        auto oldest = std::min_element(m_entries.begin(), m_entries.end(),
            [](auto const& a, auto const& b) { return a->stamp < b->stamp; });
        // A tile drawn in this very frame is never given away: a zoom drawn
        // reduced can show more tiles than the budget, and recycling one of
        // them would make the view ask for the same tiles every frame.
        if (oldest == m_entries.end() || (*oldest)->stamp == frame) {
            m_entries.push_back(std::make_unique<TileEntry>());
            entry = m_entries.back().get();
        } else {
            entry = oldest->get();
        }
    }
    entry->level = level;
    entry->column = column;
    entry->row = row;
    entry->pending = true;
    entry->requested = false;
    entry->preview = false;
    // A pending entry draws the view's empty surface, never its own: the
    // old tile goes now, and the new one brings its own surface.
    entry->surface.reset();
    return *entry;
}

PixelBuffer const* TileTable::delivered_pixels(int level, int column, int row)
{
    auto* entry = find(level, column, row);
    return entry && !entry->pending && entry->surface ? entry->surface->buffer() : nullptr;
}

bool TileTable::has_preview_source(int old_level, int new_level, int column, int row, int side)
{
    int const d = new_level - old_level;
    if (d > 0)
        return (side >> d) > 0 && delivered_pixels(old_level, column >> d, row >> d);
    if (d == 0 || -d >= 16)
        return false;
    int const n = 1 << -d;
    if (side / n == 0)
        return false;
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i)
            if (delivered_pixels(old_level, column * n + i, row * n + j))
                return true;
    return false;
}

std::unique_ptr<TileEntry> TileTable::make_preview(int old_level, int new_level, int column, int row,
    TileLook const& look)
{
    int const side = look.side;
    if (!has_preview_source(old_level, new_level, column, row, side))
        return nullptr;
    auto entry = std::make_unique<TileEntry>();
    entry->level = new_level;
    entry->column = column;
    entry->row = row;
    entry->surface = std::make_unique<RenderSurface>(Size { side, side });
    if (!entry->surface->buffer())
        return nullptr;
    auto& target = entry->surface->target();
    fill_rect(target, 0, 0, side, side, ColourFillOp(look.background));
    int const d = new_level - old_level;
    if (d > 0) {
        // A coarser tile enlarged: the part of its parent this tile covers.
        int const part = side >> d;
        int const mask = (1 << d) - 1;
        int const x = (column & mask) * part;
        int const y = (row & mask) * part;
        Rect const from = turned_rect(Rect { x, y, x + part, y + part }, Size { side, side }, look.orientation);
        stretch_rect(target, 0, 0, side, side, *delivered_pixels(old_level, column >> d, row >> d), from.left,
            from.top, from.width(), from.height(), copy_op());
    } else {
        // Finer tiles reduced: each delivered child into its part.
        int const n = 1 << -d;
        int const part = side / n;
        for (int j = 0; j < n; ++j) {
            for (int i = 0; i < n; ++i) {
                auto const* source = delivered_pixels(old_level, column * n + i, row * n + j);
                if (!source)
                    continue;
                Rect const to = turned_rect(Rect { i * part, j * part, i * part + part, j * part + part },
                    Size { side, side }, look.orientation);
                stretch_rect(target, to.left, to.top, to.width(), to.height(), *source, 0, 0, side, side, copy_op());
            }
        }
    }
    entry->pending = false;
    entry->requested = false;
    entry->preview = true;
    return entry;
}

void TileTable::add_previews(std::vector<std::unique_ptr<TileEntry>> previews, int budget)
{
    if (previews.empty())
        return;
    std::stable_sort(m_entries.begin(), m_entries.end(), [](auto const& a, auto const& b) { return a->stamp > b->stamp; });
    int const keep = std::max(0, budget - static_cast<int>(previews.size()));
    if (static_cast<int>(m_entries.size()) > keep)
        m_entries.resize(keep);
    for (auto& preview : previews)
        m_entries.push_back(std::move(preview));
}

}
