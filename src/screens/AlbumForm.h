#pragma once

// The album list, the program's main screen: one row per album with its
// key picture's thumbnail, name and picture count; the search button and
// the progress of the cache building; the warning while the catalog holds
// no album. It owns the other screens, so they live as long as it does.

#include "widgets/Screen.h"
#include "catalog/CatalogEvent.h"
#include "catalog/FolderInfo.h"
#include "screens/FolderForm.h"
#include "screens/MenuForm.h"
#include "screens/ScreenForm.h"
#include "widgets/ImageElement.h"
#include "widgets/Menu.h"
#include "widgets/ProgressElement.h"
#include "widgets/VirtualList.h"

#include <array>
#include <unordered_map>

namespace qv {

class PhotoCatalog;

// One row of the album list.
class AlbumElement final : public ListItem {
public:
    // `caption` tells the album apart from the others of the list.
    AlbumElement(PropertiesImpl& store, PhotoCatalog& catalog, FolderInfo album, WString caption);

    void bind(VirtualList& list, bool selected, bool fresh) override;

    FolderInfo const& album() const { return m_album; }
    ThumbnailState thumbnail_state() const { return m_state; }

private:
    void refresh_thumbnail();

    PropertiesImpl& m_store;
    PhotoCatalog& m_catalog;
    FolderInfo m_album;
    WString m_caption;
    ImageElement* m_image { nullptr };
    ImageElement* m_loading { nullptr };
    ImageElement* m_bad { nullptr };
    Element* m_name { nullptr };
    Element* m_count { nullptr };
    PictureRef m_mask;
    ThumbnailState m_state { ThumbnailState::Loading };
};

class AlbumForm final : public ScreenForm,
                        public MainScreen,
                        public ListProvider,
                        public MenuSource,
                        public CatalogListener {
public:
    // Throws the skin's errors when a node or element is missing.
    AlbumForm(PropertiesImpl& store, PhotoCatalog& catalog);
    ~AlbumForm() override;

    void advance(double seconds) override;
    void draw(DrawTarget& target, Point origin) override;
    bool on_key(KeyInput const& key) override;
    bool on_wheel(Point point, double notches, bool ctrl) override;
    bool on_click(Element& source, Point position) override;

    void on_item_clicked(VirtualList& list, std::int32_t index) override;
    ListItem* create_item(VirtualList& list, std::int32_t index) override;
    void get_items(MenuScreen& menu, WStringView name, WString& caption, std::vector<MenuItem>& items) override;
    void on_catalog_event(CatalogEvent const& event) override;

    Screen& main_screen() override { return screen(); }
    void on_resize() override;
    void on_command_line(WStringView text) override;

    bool search_running() const { return m_search_running; }
    VirtualList& list() { return *m_list; }
    FolderForm& folder_form() { return m_folder_form; }
    MenuForm& menu_form() { return m_menu_form; }
    MenuScreen& popup() { return m_popup; }

private:
    void on_built() override;
    bool on_back() override;
    void apply_album_count(bool keep_place = false);
    // The rows' captions by folder path, made for the whole list at once,
    // as it changes.
    std::unordered_map<WString, WString> m_captions;

    PhotoCatalog& m_catalog;
    FolderForm m_folder_form;
    MenuForm m_menu_form;
    MenuScreen m_popup;
    ButtonElement* m_menu { nullptr };
    ButtonElement* m_search { nullptr };
    VirtualList* m_list { nullptr };
    ProgressElement* m_progress { nullptr };
    Element* m_warning_image { nullptr };
    Element* m_warning_text { nullptr };
    // Why new cache files cannot be written, while a storage refuses them.
    Element* m_storage_text { nullptr };
    void show_storage_problem();
    void log_layout();
    std::array<Rect, 3> m_logged_layout {};
    bool m_search_running { false };
    bool m_drawn { false };
};

}
