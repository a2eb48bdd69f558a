#include "screens/FolderForm.h"

#include "widgets/ScreenHost.h"
#include "base/Log.h"
#include "base/Milestones.h"
#include "catalog/AlbumListing.h"
#include "catalog/PhotoCatalog.h"
#include "screens/OpenRequest.h"
#include "skin/ElementRegistry.h"
#include "platform/System.h"
#include "platform/Window.h"

#include <algorithm>
#include <cmath>

namespace qv {

FolderForm::FolderForm(PropertiesImpl& store, PhotoCatalog& catalog)
    : ScreenForm(store, u"Folder")
    , m_catalog(catalog)
    , m_image_form(store, catalog)
    , m_dpi(platform::screen_geometry().dpi)
{
    m_catalog.add_listener(this);
    Log::get() << u"folder form\n";
    enable_keyboard_focus();
    build();
}

FolderForm::~FolderForm() { m_catalog.remove_listener(this); }

void FolderForm::on_built()
{
    require_button(u"btnBack");
    m_list = &require<VirtualList>(u"listFolder");
    m_progress = &require<ProgressElement>(u"progress");
    m_title = &require(u"btnText");
    auto& bad = require<ImageElement>(u"bad");
    auto& loading = require<ImageElement>(u"loading");
    m_bad_picture = bad.picture();
    m_loading_picture = loading.picture();
    bad.set_visible(false);
    loading.set_visible(false);
    m_progress->set_visible(false);
    if (!m_album.folder_path.empty())
        show_text(*m_title, album_caption());
    auto const count = static_cast<std::int32_t>(m_pictures->size());
    m_list->set_grid(m_grid.columns, count);
    m_list->set_provider(this, (count + m_grid.columns - 1) / m_grid.columns);
    set_focus(m_list);
}

void FolderForm::set_dpi(std::int32_t dpi)
{
    m_dpi = dpi;
    update_grid();
}

std::int32_t FolderForm::grid_width() const
{
    if (m_list && m_list->size().width > 0)
        return m_list->size().width;
    if (auto* application = ScreenHost::instance())
        return application->client_area().width();
    return size().width;
}

void FolderForm::update_grid()
{
    ThumbnailGrid const grid = thumbnail_grid(grid_width(), m_dpi);
    if (grid.width == m_grid.width && grid.columns == m_grid.columns && grid.cell_height == m_grid.cell_height
        && grid.thumbnail_side == m_grid.thumbnail_side)
        return;
    bool const new_side = grid.thumbnail_side != m_grid.thumbnail_side;
    m_grid = grid;
    if (new_side) {
        // Thumbnails are made at the cell's size: those of another size go.
        for (auto& thumbnail : m_thumbnails)
            thumbnail.reset();
        m_held = 0;
    }
    auto const count = static_cast<std::int32_t>(m_pictures->size());
    std::int32_t const focus = m_list->focus_index();
    m_list->set_grid(m_grid.columns, count);
    m_list->set_provider(this, (count + m_grid.columns - 1) / m_grid.columns);
    m_list->set_focus_index(focus);
}

WString FolderForm::album_caption()
{
    if (!m_caption.empty())
        return m_caption;
    // As the album list names it, with the parents that tell it apart.
    auto const albums = m_catalog.get_folders();
    auto const captions = album_captions(albums);
    for (std::size_t i = 0; i < albums.size(); ++i) {
        if (albums[i].folder_path == m_album.folder_path)
            return captions[i];
    }
    return folder_display_name(m_album.folder_path);
}

WString const& FolderForm::root_of(std::size_t index) const
{
    if (m_roots && index < m_roots->size())
        return (*m_roots)[index];
    return m_album.drive_path;
}

void FolderForm::open_album(FolderInfo const& album, WStringView picture)
{
    m_album = album;
    m_roots.reset();
    m_caption.clear();
    // The viewer may still hold the previous album's list.
    m_pictures = std::make_shared<std::vector<WString>>(album_pictures(m_album.folder_path));

    auto const count = static_cast<std::int32_t>(m_pictures->size());
    // Only an album of the list is kept current there: a folder opened from
    // outside the search roots is none of its albums.
    auto const listed = m_catalog.get_folders();
    bool const in_list = std::any_of(
        listed.begin(), listed.end(), [&](FolderInfo const& f) { return f.folder_path == m_album.folder_path; });
    if (count != m_album.folder_size) {
        if (in_list)
            m_catalog.set_folder_size(m_album.key_picture_path, count);
        m_album.folder_size = count;
    }
    if (count > 0 && m_pictures->front() != m_album.key_picture_path) {
        if (in_list)
            m_catalog.set_key_picture(m_album.key_picture_path, m_pictures->front());
        m_album.key_picture_path = m_pictures->front();
    }
    show_pictures(picture);
}

void FolderForm::open_pictures(WString caption, std::vector<WString> pictures, std::vector<WString> roots,
    WStringView picture)
{
    roots.resize(pictures.size());
    m_album = FolderInfo {};
    m_album.folder_size = static_cast<std::int32_t>(pictures.size());
    if (!pictures.empty()) {
        m_album.key_picture_path = pictures.front();
        m_album.folder_path = folder_of(pictures.front());
        m_album.drive_path = roots.front();
    }
    m_caption = std::move(caption);
    m_pictures = std::make_shared<std::vector<WString>>(std::move(pictures));
    m_roots = std::make_shared<std::vector<WString> const>(std::move(roots));
    show_pictures(picture);
}

bool FolderForm::open_given(std::vector<WString> const& paths)
{
    OpenPlan const plan = plan_opening(paths, search_roots());
    for (auto const& skipped : plan.skipped)
        Log::get() << u"folder form: cannot open " << readable_path(skipped) << u"\n";
    if (plan.kind == OpenPlan::Kind::Nothing)
        return false;
    // Over whatever is shown: the viewer of another picture goes first.
    m_image_form.close();
    switch (plan.kind) {
    case OpenPlan::Kind::Album:
        m_catalog.set_current_folder(plan.album.folder_path);
        open_album(plan.album, plan.view);
        break;
    case OpenPlan::Kind::Pictures:
        if (!plan.pictures.empty())
            m_catalog.set_current_folder(folder_of(plan.view.empty() ? plan.pictures.front() : plan.view));
        open_pictures(plan.caption, plan.pictures, plan.roots, plan.view);
        break;
    case OpenPlan::Kind::Nothing:
        break;
    }
    return true;
}

void FolderForm::show_pictures(WStringView picture)
{
    auto const count = static_cast<std::int32_t>(m_pictures->size());
    show_text(*m_title, album_caption());

    m_thumbnails.assign(m_pictures->size(), PictureRef {});
    m_bad.assign(m_pictures->size(), false);
    m_asked.assign(m_pictures->size(), false);
    m_held = 0;
    m_next_to_load = 0;
    m_grid = thumbnail_grid(grid_width(), m_dpi);
    m_list->set_grid(m_grid.columns, count);
    m_list->set_provider(this, (count + m_grid.columns - 1) / m_grid.columns);
    // Another album starts at its first picture.
    m_list->set_focus_index(0);
    set_focus(m_list);
    m_viewing = false;
    WString const shown = m_caption.empty() ? readable_path(m_album.folder_path, false) : m_caption;
    Log::get() << u"folder form: " << shown << u" " << count << u" pictures, " << m_grid.columns << u" columns\n";
    open();
    if (picture.empty())
        return;
    auto const found = std::find(m_pictures->begin(), m_pictures->end(), picture);
    if (found == m_pictures->end())
        return;
    auto const index = static_cast<std::int32_t>(found - m_pictures->begin());
    on_cell_click(index / m_grid.columns, index % m_grid.columns);
}

PictureRef const& FolderForm::cell_picture(std::size_t index) const
{
    if (index < m_thumbnails.size() && !m_thumbnails[index].is_empty())
        return m_thumbnails[index];
    return is_bad(index) ? m_bad_picture : m_loading_picture;
}

void FolderForm::request_build(std::size_t index)
{
    m_asked[index] = true;
    m_catalog.add_picture((*m_pictures)[index], root_of(index));
}

void FolderForm::load_thumbnail(std::size_t index)
{
    if (index >= m_pictures->size() || !m_thumbnails[index].is_empty() || m_bad[index])
        return;
    WString const& picture = (*m_pictures)[index];
    PictureRef thumbnail;
    Size const size { m_grid.thumbnail_side, m_grid.thumbnail_side };
    auto const status = m_catalog.picture_status(picture, root_of(index));
    auto const state = m_large_thumbnails ? load_masked_thumbnail(picture, status, size, m_bad_picture, thumbnail)
                                          : load_masked_thumbnail(status, size, m_bad_picture, thumbnail);
    switch (state) {
    case ThumbnailState::Ready:
        m_thumbnails[index] = std::move(thumbnail);
        ++m_held;
        break;
    case ThumbnailState::Bad:
        m_bad[index] = true;
        break;
    case ThumbnailState::Loading:
        request_build(index);
        break;
    }
    refresh_row(static_cast<std::int32_t>(index) / m_grid.columns);
}

void FolderForm::refresh_row(std::int32_t row)
{
    if (row >= 0)
        m_list->rebind_item(row);
}

std::size_t FolderForm::max_held_thumbnails() const
{
    auto const side = static_cast<std::size_t>(std::max(m_grid.thumbnail_side, 1));
    auto const visible = visible_cells();
    // Never fewer than three screens' worth, whatever the budget says.
    return std::max(kThumbnailBudgetBytes / (side * side * 2), static_cast<std::size_t>(3 * (visible.end - visible.first)));
}

FolderForm::CellRange FolderForm::visible_cells() const
{
    int const count = static_cast<int>(m_pictures->size());
    int const columns = m_grid.columns;
    int first_row = 0, end_row = 0;
    if (m_list->first_index() != -1 || m_list->end_index() > 0) {
        first_row = std::max(m_list->first_index(), 0);
        end_row = m_list->end_index();
    } else {
        // Before the list has made its rows: as many as its window holds.
        int const height = m_list->size().height > 0 ? m_list->size().height : size().height;
        end_row = height / std::max(m_grid.cell_height, 1) + 1;
    }
    return CellRange { std::min(first_row * columns, count), std::min(end_row * columns, count) };
}

FolderForm::CellRange FolderForm::held_cells(CellRange visible) const
{
    int const count = static_cast<int>(m_pictures->size());
    int const most = static_cast<int>(std::min<std::size_t>(max_held_thumbnails(), static_cast<std::size_t>(count)));
    int const extra = std::max(0, most - (visible.end - visible.first));
    // More of the rows below than above: albums are mostly read downwards.
    int first = visible.first - extra / 3;
    int end = visible.end + (extra - extra / 3);
    if (first < 0) {
        end = std::min(count, end - first);
        first = 0;
    }
    if (end > count) {
        first = std::max(0, first - (end - count));
        end = count;
    }
    return CellRange { first, end };
}

void FolderForm::let_go_outside(CellRange held)
{
    if (m_held <= static_cast<std::size_t>(held.end - held.first))
        return;
    for (int i = 0; i < static_cast<int>(m_thumbnails.size()); ++i) {
        if ((i >= held.first && i < held.end) || m_thumbnails[static_cast<std::size_t>(i)].is_empty())
            continue;
        m_thumbnails[static_cast<std::size_t>(i)].reset();
        --m_held;
    }
}

bool FolderForm::wants_load(int index) const
{
    auto const i = static_cast<std::size_t>(index);
    return m_thumbnails[i].is_empty() && !m_bad[i] && !m_asked[i];
}

int FolderForm::next_to_load() const
{
    int const count = static_cast<int>(m_pictures->size());
    CellRange const visible = visible_cells();
    CellRange const held = held_cells(visible);
    for (int i = visible.first; i < visible.end; ++i)
        if (wants_load(i))
            return i;
    for (int i = visible.end; i < held.end; ++i)
        if (wants_load(i))
            return i;
    for (int i = visible.first - 1; i >= held.first; --i)
        if (wants_load(i))
            return i;
    for (int i = m_next_to_load; i < count; ++i)
        if ((i < held.first || i >= held.end) && wants_load(i))
            return i;
    return count;
}

void FolderForm::advance(double seconds)
{
    ScreenForm::advance(seconds);
    if (m_viewing && !viewer_open()) {
        m_viewing = false;
        m_list->set_focus_index(m_image_form.current());
        set_focus(m_list);
    }
    m_catalog.poll_events();
    update_grid();
    int const count = static_cast<int>(m_pictures->size());
    CellRange const held = held_cells(visible_cells());
    let_go_outside(held);
    int const next = next_to_load();
    if (next >= count) {
        m_next_to_load = count;
        return;
    }
    // One thumbnail a frame: those kept are decoded, the others only
    // looked at, so that the catalog builds the album's caches first.
    if (next >= held.first && next < held.end) {
        load_thumbnail(static_cast<std::size_t>(next));
        return;
    }
    m_next_to_load = next + 1;
    auto const status
        = m_catalog.picture_status((*m_pictures)[static_cast<std::size_t>(next)], root_of(static_cast<std::size_t>(next)));
    if (status.state == PictureStatus::State::Building)
        request_build(static_cast<std::size_t>(next));
}

bool FolderForm::on_click(Element& source, Point)
{
    if (source.id() == u"btnBack")
        close();
    return true;
}

void FolderForm::on_cell_click(std::int32_t row, int column)
{
    std::int64_t const index = column + std::int64_t { row } * m_grid.columns;
    if (column >= m_grid.columns || index >= static_cast<std::int64_t>(m_pictures->size()))
        return;
    Log::get() << milestone::kFolderOpen << u" " << readable_path((*m_pictures)[static_cast<std::size_t>(index)], false)
               << u" at " << platform::tick_count() << u"\n";
    m_list->set_focus_index(static_cast<std::int32_t>(index));
    if (m_roots)
        m_image_form.open(m_pictures, static_cast<std::int32_t>(index), m_roots);
    else
        m_image_form.open(m_pictures, static_cast<std::int32_t>(index), m_album.drive_path);
    m_viewing = true;
}

bool FolderForm::viewer_open()
{
    if (auto* application = ScreenHost::instance())
        return application->has_screen(&m_image_form.screen());
    return m_image_form.visible();
}

void FolderForm::on_item_activated(VirtualList&, std::int32_t cell)
{
    on_cell_click(cell / m_grid.columns, cell % m_grid.columns);
}

bool FolderForm::on_key(KeyInput const& key)
{
    if (ScreenForm::on_key(key))
        return true;
    if (key.down && key.first && (key.key == Key::SoftLeft || key.key == Key::ContextMenu) && m_open_menu) {
        m_open_menu();
        return true;
    }
    return false;
}

bool FolderForm::on_wheel(Point point, double notches, bool ctrl)
{
    // Over the title bar too: the pages are all there is to scroll.
    return ScreenForm::on_wheel(point, notches, ctrl) || m_list->on_wheel(point, notches, ctrl);
}

bool FolderForm::on_menu_click(Point)
{
    if (!m_open_menu)
        return false;
    m_open_menu();
    return true;
}

ListItem* FolderForm::create_item(VirtualList&, std::int32_t index) { return new FolderElement(*this, index); }

void FolderForm::on_catalog_event(CatalogEvent const& event)
{
    if (event.progress) {
        m_progress->set_visible(true);
        m_progress->set_value(std::clamp(event.progress_fraction, 0.0, 1.0));
    }
    if (event.cache_complete) {
        m_progress->set_visible(false);
        // A later completion replaces an earlier one that was not polled
        // yet: go over the thumbnails still loading once more.
        m_next_to_load = 0;
        m_asked.assign(m_asked.size(), false);
    }
    if (event.picture_complete) {
        auto const found = std::find(m_pictures->begin(), m_pictures->end(), event.picture_path);
        if (found != m_pictures->end()) {
            // Loaded in its turn, at most one a frame, like every other.
            auto const index = static_cast<std::size_t>(found - m_pictures->begin());
            if (!m_thumbnails[index].is_empty()) {
                m_thumbnails[index].reset();
                --m_held;
            }
            m_bad[index] = false;
            m_asked[index] = false;
            if (static_cast<int>(index) < m_next_to_load)
                m_next_to_load = static_cast<int>(index);
            refresh_row(static_cast<std::int32_t>(index) / m_grid.columns);
            Log::get() << u"refresh " << readable_path(event.picture_path, false) << u" num "
                       << static_cast<std::int64_t>(index) << u"\n";
        }
    }
}

}
