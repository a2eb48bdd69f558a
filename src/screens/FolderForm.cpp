#include "screens/FolderForm.h"

#include "widgets/ScreenHost.h"
#include "base/Log.h"
#include "catalog/AlbumListing.h"
#include "catalog/PhotoCatalog.h"
#include "platform/System.h"

#include <algorithm>

namespace qv {

int thumbnail_columns(std::int32_t screen_width, std::int32_t scale_shift)
{
    return std::clamp(((screen_width >> scale_shift) - 8) / 58, 1, kMaxColumns);
}

FolderElement::FolderElement(FolderForm& form, std::int32_t row)
    : m_form(form)
    , m_row(row)
{
}

void FolderElement::bind(VirtualList&, bool, bool fresh)
{
    if (fresh || !m_buttons[0]) {
        if (!load_form(m_form.store(), u"FolderElement"))
            throw NodeNotFoundInSkin(u"FolderElement");
        for (int i = 0; i < kMaxColumns; ++i) {
            WString const id = u"button" + to_wstring(i);
            m_buttons[i] = dynamic_cast<ButtonElement*>(find_child(id));
            if (!m_buttons[i])
                throw NodeNotFound(u"FolderElement", id);
            m_images[i] = dynamic_cast<ImageElement*>(m_buttons[i]->find_child(u"image"));
            if (!m_images[i])
                throw NodeNotFound(id, u"image");
            bind_child(id, this);
        }
    }
    auto const count = static_cast<std::int32_t>(m_form.pictures().size());
    int const columns = m_form.columns();
    for (int i = 0; i < kMaxColumns; ++i) {
        std::int32_t const index = m_row * columns + i;
        bool const used = i < columns;
        m_buttons[i]->set_visible(used);
        if (!used)
            continue;
        bool const has_picture = index < count;
        m_images[i]->set_visible(has_picture);
        m_buttons[i]->set_enabled(has_picture);
        if (has_picture)
            m_images[i]->set_picture(m_form.cell_picture(static_cast<std::size_t>(index)));
    }
}

bool FolderElement::on_click(Element& source, Point)
{
    for (int i = 0; i < kMaxColumns; ++i)
        if (&source == m_buttons[i])
            m_form.on_cell_click(m_row, i);
    return true;
}

Rect FolderElement::cell_rect(std::int32_t column) const
{
    if (column < 0 || column >= kMaxColumns || !m_buttons[column])
        return ListItem::cell_rect(column);
    auto const* button = m_buttons[column];
    return Rect { button->position().x, button->position().y, button->position().x + button->size().width,
        button->position().y + button->size().height };
}

ImageElement* FolderElement::cell_image(int column) const
{
    if (column < 0 || column >= kMaxColumns || !m_buttons[column] || !m_buttons[column]->visible()
        || !m_images[column]->visible())
        return nullptr;
    return m_images[column];
}

FolderForm::FolderForm(PropertiesImpl& store, PhotoCatalog& catalog)
    : ScreenForm(store, u"Folder")
    , m_catalog(catalog)
    , m_image_form(store, catalog)
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
        show_text(*m_title, folder_display_name(m_album.folder_path));
    auto const count = static_cast<std::int32_t>(m_pictures->size());
    m_list->set_grid(m_columns, count);
    m_list->set_provider(this, (count + m_columns - 1) / m_columns);
    set_focus(m_list);
}

void FolderForm::open_album(FolderInfo const& album)
{
    m_album = album;
    // The viewer may still hold the previous album's list.
    m_pictures = std::make_shared<std::vector<WString>>(album_pictures(m_album.folder_path));

    auto const count = static_cast<std::int32_t>(m_pictures->size());
    if (count != m_album.folder_size) {
        m_catalog.set_folder_size(m_album.key_picture_path, count);
        m_album.folder_size = count;
    }
    if (count > 0 && m_pictures->front() != m_album.key_picture_path) {
        m_catalog.set_key_picture(m_album.key_picture_path, m_pictures->front());
        m_album.key_picture_path = m_pictures->front();
    }
    show_text(*m_title, folder_display_name(m_album.folder_path));

    m_thumbnails.assign(m_pictures->size(), PictureRef {});
    m_bad.assign(m_pictures->size(), false);
    m_next_to_load = 0;
    std::int32_t width = size().width;
    if (auto* application = ScreenHost::instance())
        width = application->client_area().width();
    m_columns = thumbnail_columns(width, store().scale_shift());
    m_list->set_grid(m_columns, count);
    m_list->set_provider(this, (count + m_columns - 1) / m_columns);
    // Another album starts at its first picture.
    m_list->set_focus_index(0);
    set_focus(m_list);
    m_viewing = false;
    Log::get() << u"folder form: " << m_album.folder_path << u" " << count << u" pictures, " << m_columns
               << u" columns\n";
    open();
}

PictureRef const& FolderForm::cell_picture(std::size_t index) const
{
    if (index < m_thumbnails.size() && !m_thumbnails[index].is_empty())
        return m_thumbnails[index];
    return is_bad(index) ? m_bad_picture : m_loading_picture;
}

void FolderForm::load_thumbnail(std::size_t index)
{
    if (index >= m_pictures->size() || !m_thumbnails[index].is_empty() || m_bad[index])
        return;
    WString const& picture = (*m_pictures)[index];
    PictureRef thumbnail;
    Size const size { 44 << store().scale_shift(), 44 << store().scale_shift() };
    auto const status = m_catalog.picture_status(picture, m_album.drive_path);
    switch (load_masked_thumbnail(status, size, m_bad_picture, thumbnail)) {
    case ThumbnailState::Ready:
        m_thumbnails[index] = std::move(thumbnail);
        m_bad[index] = false;
        break;
    case ThumbnailState::Bad:
        m_bad[index] = true;
        break;
    case ThumbnailState::Loading:
        m_catalog.add_picture(picture, m_album.drive_path);
        break;
    }
}

void FolderForm::refresh_row(std::int32_t row)
{
    if (row >= 0)
        m_list->rebind_item(row);
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
    auto const count = static_cast<int>(m_pictures->size());
    if (m_next_to_load >= count)
        return;
    load_thumbnail(static_cast<std::size_t>(m_next_to_load));
    if (m_next_to_load % m_columns == 0)
        refresh_row(m_next_to_load / m_columns - 1);
    ++m_next_to_load;
    if (m_next_to_load == count) {
        refresh_row(count / m_columns);
        refresh_row(count / m_columns - 1);
    }
}

bool FolderForm::on_click(Element& source, Point)
{
    if (source.id() == u"btnBack")
        close();
    return true;
}

void FolderForm::on_cell_click(std::int32_t row, int column)
{
    std::int64_t const index = column + std::int64_t { row } * m_columns;
    if (column >= m_columns || index >= static_cast<std::int64_t>(m_pictures->size()))
        return;
    Log::get() << u"folder form: open " << (*m_pictures)[static_cast<std::size_t>(index)] << u" at "
               << platform::tick_count() << u"\n";
    m_list->set_focus_index(static_cast<std::int32_t>(index));
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
    on_cell_click(cell / m_columns, cell % m_columns);
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
    }
    if (event.picture_complete) {
        auto const found = std::find(m_pictures->begin(), m_pictures->end(), event.picture_path);
        if (found != m_pictures->end()) {
            auto const index = static_cast<std::size_t>(found - m_pictures->begin());
            m_thumbnails[index].reset();
            m_bad[index] = false;
            load_thumbnail(index);
            refresh_row(static_cast<std::int32_t>(index) / m_columns);
            Log::get() << u"refresh " << event.picture_path << u" num " << static_cast<std::int64_t>(index) << u"\n";
        }
    }
}

}
