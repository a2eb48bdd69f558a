#pragma once

// The thumbnails of one album, several to a row. The screen lists the
// album's pictures by the rule the search uses, keeps the catalog's count
// and key picture of the album current, loads one thumbnail per frame as
// the catalog reports it (asking it to build those it has not) and opens
// the viewer on the chosen picture.
//
// Threads: the user-interface thread; the catalog's events arrive from its
// poll_events, which the screen calls once a frame.
// Failures: the constructor throws the skin's lookup errors; a picture
// without a thumbnail shows the "loading" or the "bad" picture.

#include "catalog/CatalogEvent.h"
#include "catalog/FolderInfo.h"
#include "screens/ImageForm.h"
#include "screens/ScreenForm.h"
#include "screens/MaskedThumbnail.h"
#include "widgets/ImageElement.h"
#include "widgets/ProgressElement.h"
#include "widgets/VirtualList.h"

#include <functional>
#include <memory>
#include <vector>

namespace qv {

class FolderForm;
class PhotoCatalog;

inline constexpr int kMaxColumns = 6;

// One row of thumbnails; its buttons report to the screen.
class FolderElement final : public ListItem, public ButtonHandler {
public:
    FolderElement(FolderForm& form, std::int32_t row);

    void bind(VirtualList& list, bool selected, bool fresh) override;
    bool on_click(Element& source, Point position) override;
    Rect cell_rect(std::int32_t column) const override;

    std::int32_t row() const { return m_row; }
    // The button's picture element; null when the button is hidden.
    ImageElement* cell_image(int column) const;

private:
    FolderForm& m_form;
    std::int32_t m_row;
    ButtonElement* m_buttons[kMaxColumns] {};
    ImageElement* m_images[kMaxColumns] {};
};

class FolderForm final : public ScreenForm, public ListProvider, public CatalogListener {
public:
    FolderForm(PropertiesImpl& store, PhotoCatalog& catalog);
    ~FolderForm() override;

    // Lists the album's pictures and shows the screen.
    void open_album(FolderInfo const& album);

    void advance(double seconds) override;
    bool on_click(Element& source, Point position) override;
    void on_cell_click(std::int32_t row, int column);

    void on_item_clicked(VirtualList& list, std::int32_t index) override { }
    // Enter or Space on the focused thumbnail opens it.
    void on_item_activated(VirtualList& list, std::int32_t cell) override;
    // F1 opens the menu; a wheel anywhere on the screen scrolls the pages.
    bool on_key(KeyInput const& key) override;
    bool on_wheel(Point point, double notches, bool ctrl) override;
    bool on_menu_click(Point point) override;
    // What the menu key opens; the screen has no menu of its own.
    void set_menu_opener(std::function<void()> opener) { m_open_menu = std::move(opener); }
    ListItem* create_item(VirtualList& list, std::int32_t index) override;
    void on_catalog_event(CatalogEvent const& event) override;

    FolderInfo const& album() const { return m_album; }
    std::vector<WString> const& pictures() const { return *m_pictures; }
    int columns() const { return m_columns; }
    int next_to_load() const { return m_next_to_load; }
    // What cell `index` shows: the thumbnail, or the "bad" or "loading" picture.
    PictureRef const& cell_picture(std::size_t index) const;
    bool is_bad(std::size_t index) const { return index < m_bad.size() && m_bad[index]; }
    VirtualList& list() { return *m_list; }
    ImageForm& image_form() { return m_image_form; }

private:
    void on_built() override;
    void load_thumbnail(std::size_t index);
    void refresh_row(std::int32_t row);
    bool viewer_open();

    PhotoCatalog& m_catalog;
    ImageForm m_image_form;
    FolderInfo m_album;
    std::shared_ptr<std::vector<WString>> m_pictures { std::make_shared<std::vector<WString>>() };
    std::vector<PictureRef> m_thumbnails;
    std::vector<bool> m_bad;
    int m_columns { 1 };
    int m_next_to_load { 0 };
    VirtualList* m_list { nullptr };
    ProgressElement* m_progress { nullptr };
    Element* m_title { nullptr };
    PictureRef m_bad_picture;
    PictureRef m_loading_picture;
    // Set while the viewer shows one of the album's pictures: when it is
    // left, the focus goes to the picture it ended on.
    bool m_viewing { false };
    std::function<void()> m_open_menu;
};

// Thumbnails per row on a screen `screen_width` pixels wide: a margin of 8
// skin units, then 58 per cell.
int thumbnail_columns(std::int32_t screen_width, std::int32_t scale_shift);

}
