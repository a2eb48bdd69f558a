#include "screens/AlbumForm.h"

#include "base/Log.h"
#include "base/Milestones.h"
#include "base/Paths.h"
#include "catalog/AlbumListing.h"
#include "catalog/PhotoCatalog.h"
#include "screens/OpenRequest.h"
#include "platform/System.h"
#include "platform/WindowMessages.h"

#include <algorithm>
#include <array>

namespace qv {

AlbumElement::AlbumElement(PropertiesImpl& store, PhotoCatalog& catalog, FolderInfo album, WString caption)
    : m_store(store)
    , m_catalog(catalog)
    , m_album(std::move(album))
    , m_caption(std::move(caption))
{
}

void AlbumElement::bind(VirtualList& list, bool, bool fresh)
{
    if (fresh || !m_image) {
        if (!load_form(m_store, u"AlbumElement"))
            throw NodeNotFoundInSkin(u"AlbumElement");
        auto find = [this](WStringView id) -> Element& {
            auto* element = find_child(id);
            if (!element)
                throw NodeNotFound(u"AlbumElement", WString(id));
            return *element;
        };
        auto image = [&](WStringView id) -> ImageElement& {
            auto* element = dynamic_cast<ImageElement*>(&find(id));
            if (!element)
                throw NodeNotFound(u"AlbumElement", WString(id));
            return *element;
        };
        m_image = &image(u"image");
        m_loading = &image(u"loading");
        m_bad = &image(u"bad");
        m_name = &find(u"name");
        m_count = &find(u"count");
        m_mask = m_image->picture();
        m_loading->set_visible(false);
        m_bad->set_visible(false);
    }
    // The thumbnail is made at the size the row gives its picture.
    set_visible(true);
    place(Size { list.size().width, height_pair().preferred });
    refresh_thumbnail();
    show_text(*m_name, m_caption);
    show_text(*m_count, to_wstring(m_album.folder_size));
}

void AlbumElement::refresh_thumbnail()
{
    PictureRef thumbnail;
    // Cells larger than the stored 64 x 64 thumbnail are cut from the key
    // picture's levels, as sharp as the screen.
    m_state = load_masked_thumbnail(m_album.key_picture_path,
        m_catalog.picture_status(m_album.key_picture_path, m_album.drive_path), m_image->size(), m_mask, thumbnail);
    switch (m_state) {
    case ThumbnailState::Ready:
        m_image->set_picture(std::move(thumbnail));
        break;
    case ThumbnailState::Bad:
        m_image->set_picture(m_bad->picture());
        break;
    case ThumbnailState::Loading:
        m_image->set_picture(m_loading->picture());
        m_catalog.add_picture(m_album.key_picture_path, m_album.drive_path);
        break;
    }
}

AlbumForm::AlbumForm(PropertiesImpl& store, PhotoCatalog& catalog)
    : ScreenForm(store, u"Main")
    , m_catalog(catalog)
    , m_folder_form(store, catalog)
    , m_menu_form(store)
{
    m_catalog.add_listener(this);
    Log::get() << u"album form\n";
    enable_keyboard_focus();
    m_folder_form.set_menu_opener([this] { m_menu_form.open(); });
    // The first start's own search shows as one the button started.
    m_search_running = m_catalog.search_under_way();
    if (m_search_running)
        Log::get() << u"album form: a search is under way\n";
    build();
    Log::get() << u"album skin load\n";
}

AlbumForm::~AlbumForm() { m_catalog.remove_listener(this); }

void AlbumForm::on_built()
{
    m_menu = &require_button(u"btnMenu");
    m_search = &require_button(u"btnSearch");
    m_list = &require<VirtualList>(u"listApps");
    m_progress = &require<ProgressElement>(u"progress");
    m_warning_image = &require(u"warning_image");
    m_warning_text = &require(u"warning_text");
    show_text(*m_warning_text, text(u"WARNING_MESSAGE"));
    m_storage_text = &require(u"storage_text");
    show_storage_problem();
    m_popup.bind(store(), u"MenuPanel");
    m_popup.set_source(this);
    m_popup.set_default_template(u"MenuElement");

    m_progress->set_visible(false);
    m_warning_image->set_visible(true);
    m_warning_text->set_visible(true);
    m_list->set_provider(this, 0);
    // A search that runs across a reload keeps its button disabled.
    m_search->set_enabled(!m_search_running);
    apply_album_count();
    // The keys start on the first album; until there is one, the first key
    // finds the buttons.
    set_focus(m_list);
}

void AlbumForm::apply_album_count(bool keep_place)
{
    auto const albums = m_catalog.get_folders();
    auto captions = album_captions(albums);
    m_captions.clear();
    for (std::size_t i = 0; i < albums.size(); ++i)
        m_captions.emplace(albums[i].folder_path, std::move(captions[i]));
    int const count = static_cast<int>(albums.size());
    // The watching may take the last album away, as a search may.
    if (count <= 0 && m_list->item_count() > 0)
        m_list->set_provider(this, 0);
    m_warning_image->set_visible(count <= 0);
    m_warning_text->set_visible(count <= 0);
    if (count <= 0)
        return;
    // A list that changed by itself stays where the user left it; a search
    // the user asked for shows its albums from the top.
    if (keep_place && m_list->item_count() > 0)
        m_list->refresh_items(count);
    else
        m_list->set_provider(this, count);
    m_list->set_visible(true);
}

void AlbumForm::advance(double seconds)
{
    ScreenForm::advance(seconds);
    m_catalog.poll_events();
}

void AlbumForm::draw(DrawTarget& target, Point origin)
{
    ScreenForm::draw(target, origin);
    log_layout();
    if (!m_drawn) {
        // The moment start-up is over for the user, for the start-up benchmark.
        m_drawn = true;
        Log::get() << platform::tick_count() << u" album form: first frame\n";
    }
}

bool AlbumForm::on_key(KeyInput const& key)
{
    if (ScreenForm::on_key(key))
        return true;
    if (key.down && key.first && key.key == Key::SoftLeft) {
        m_menu_form.open();
        return true;
    }
    if (key.down && (key.key == Key::ContextMenu || key.key == Key::SoftRight))
        return on_back();
    return false;
}

bool AlbumForm::on_wheel(Point point, double notches, bool ctrl)
{
    // The albums are all there is to scroll, wherever the pointer is.
    return ScreenForm::on_wheel(point, notches, ctrl) || m_list->on_wheel(point, notches, ctrl);
}

bool AlbumForm::on_back()
{
    // The back key at the root screen offers to leave, as does the menu key.
    m_popup.show_menu(u"MainMenu", u"", false);
    return true;
}

bool AlbumForm::on_click(Element& source, Point)
{
    Log::get() << u"album form: click " << source.id() << u"\n";
    if (source.id() == u"btnMenu") {
        m_menu_form.open();
    } else if (source.id() == u"btnSearch") {
        // Disabled from the press to the end of the search: a second press
        // would only be folded into the search already asked for.
        m_search_running = true;
        m_search->set_enabled(false);
        m_catalog.need_search();
    }
    return true;
}

void AlbumForm::on_item_clicked(VirtualList&, std::int32_t index)
{
    FolderInfo const album = m_catalog.get_folder(index);
    if (album.folder_path.empty())
        return;
    m_catalog.set_current_folder(album.folder_path);
    m_folder_form.open_album(album);
}

ListItem* AlbumForm::create_item(VirtualList&, std::int32_t index)
{
    // While a search rebuilds the list the rows stay empty.
    if (m_search_running)
        return new ListItem();
    FolderInfo album = m_catalog.get_folder(index);
    // Counted as the album would list its pictures now: the catalog's count
    // is as old as its last search, or as the album list file, and the
    // viewer counts the pictures when the album opens.
    if (!album.folder_path.empty())
        album.folder_size = album_picture_count(album.folder_path);
    // An album newer than the captions shows its plain name until the
    // change is told.
    auto const made = m_captions.find(album.folder_path);
    WString caption = made != m_captions.end() ? made->second : folder_display_name(album.folder_path);
    return new AlbumElement(store(), m_catalog, std::move(album), std::move(caption));
}

void AlbumForm::get_items(MenuScreen&, WStringView name, WString& caption, std::vector<MenuItem>& items)
{
    Log::get() << u"album form: menu " << name << u"\n";
    if (name == u"MainMenu") {
        items.push_back(menu_item(u"Back", u"MenuElementCancel"));
        items.push_back(menu_item(u"Exit"));
    } else if (name == u"Exit") {
        caption = text(u"ExitCaption");
        items.push_back(menu_item(u"ReallyExit", u"MenuElementRed"));
        items.push_back(menu_item(u"Cancel", u"MenuElementCancel"));
    } else if (name == u"ReallyExit") {
        Log::get() << u"album form: exit\n";
        platform::MessageQueue::main().post_quit();
    }
}

void AlbumForm::on_catalog_event(CatalogEvent const& event)
{
    if (event.folders_changed)
        apply_album_count(true);
    if (event.search_complete) {
        // The button follows the search alone: a search that queued nothing
        // never sees its cache building complete, and one that did may be
        // searched again while its caches are still being built.
        Log::get() << milestone::kSearchComplete << u", search enabled\n";
        m_search_running = false;
        m_search->set_enabled(true);
        apply_album_count();
    }
    if (event.storage_fault)
        show_storage_problem();
    if (event.progress) {
        m_progress->set_visible(true);
        double const value = std::clamp(event.progress_fraction, 0.0, 1.0);
        if (value != m_progress->value()) {
            Log::get() << u"album form: progress " << static_cast<std::int32_t>(value * 1000) << u"\n";
            m_progress->set_value(value);
        }
    }
    if (event.cache_complete) {
        Log::get() << milestone::kCacheComplete << u"\n";
        m_progress->set_visible(false);
        // Completions arrive one per frame at most and a later one replaces
        // an earlier: rows still waiting may have missed theirs.
        for (auto const& item : m_list->items())
            if (auto* row = dynamic_cast<AlbumElement*>(item.get());
                row && row->index() >= 0 && row->thumbnail_state() == ThumbnailState::Loading)
                m_list->rebind_item(row->index());
    }
    if (event.picture_complete) {
        int const index = m_catalog.search_folder_num(event.picture_path);
        Log::get() << event.picture_path << u" " << index << u"\n";
        if (index != -1)
            m_list->rebind_item(index);
    }
}

void AlbumForm::show_storage_problem()
{
    using platform::StorageFault;
    auto const problem = m_catalog.storage_problem();
    bool const card = !same_path(problem.drive_path, u"%my_documents%\\");
    WStringView id;
    switch (problem.fault) {
    case StorageFault::None: break;
    case StorageFault::ReadOnly: id = card ? u"StorageReadOnlyCard" : u"StorageReadOnly"; break;
    case StorageFault::Full: id = card ? u"StorageFullCard" : u"StorageFull"; break;
    case StorageFault::Other: id = u"StorageOther"; break;
    }
    if (!id.empty()) {
        Log::get() << u"album form: " << id << u"\n";
        show_text(*m_storage_text, text(id));
    }
    m_storage_text->set_visible(!id.empty());
}

void AlbumForm::on_resize() { invalidate_layout(); }

void AlbumForm::log_layout()
{
    // Where the controls came out, whenever that changes: the window tests
    // find them by it on any screen.
    std::array<Element const*, 3> const controls { m_menu, m_search, m_list };
    std::array<Rect, 3> placed;
    for (std::size_t i = 0; i < controls.size(); ++i) {
        Point const p = controls[i]->position();
        Size const s = controls[i]->size();
        placed[i] = Rect { p.x, p.y, p.x + s.width, p.y + s.height };
    }
    if (placed == m_logged_layout)
        return;
    m_logged_layout = placed;
    auto log = Log::get();
    log << u"album form: layout " << size().width << u"x" << size().height;
    for (std::size_t i = 0; i < controls.size(); ++i)
        log << u" " << controls[i]->id() << u" " << placed[i].left << u" " << placed[i].top << u" " << placed[i].width()
            << u" " << placed[i].height();
    log << u"\n";
}

void AlbumForm::on_command_line(WStringView text)
{
    // The pictures and folders of this start's command line, or of a second
    // start's, handed over; the window layer has brought this one to the
    // front already.
    auto const paths = decode_open_request(text);
    Log::get() << u"album form: command line, " << static_cast<std::int32_t>(paths.size()) << u" paths\n";
    for (auto const& path : paths)
        Log::get() << u"album form: open [" << readable_path(path) << u"]\n";
    if (paths.empty())
        return;
    // Shown over the album list, whatever was open on it.
    if (m_popup.is_open())
        m_popup.close();
    if (m_menu_form.is_open())
        m_menu_form.close();
    if (!m_folder_form.open_given(paths))
        Log::get() << u"album form: nothing to open\n";
}

}
