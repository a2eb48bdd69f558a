#pragma once

// The thumbnails of one album, as many to a row as cells of a fixed
// physical size fit across the screen. The screen lists the album's
// pictures by the rule the search uses, keeps the catalog's count and key
// picture of the album current, loads one thumbnail per frame as the
// catalog reports it (those on the screen first, asking the catalog to
// build those it has not), keeps only the thumbnails of the rows on and
// around the screen, and opens the viewer on the chosen picture. It also
// shows what the program is asked to open from outside (open_given): a
// folder of the list or any other, or pictures put together from anywhere,
// each with the search root its cache belongs to.
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

// The grid of thumbnails across a width: cells of kThumbnailCellMm at the
// screen's dpi (58 pixels at 96 dpi) after a margin on either side, sharing
// what is left over; the thumbnail is kThumbnailMm a side, centred in its
// cell.
inline constexpr double kThumbnailCellMm = 15.3;
inline constexpr double kThumbnailMarginMm = 1.05;
inline constexpr double kThumbnailMm = 11.6;

struct ThumbnailGrid {
    int width { 0 };
    int columns { 1 };
    int margin { 0 };
    int cell_height { 0 };
    int thumbnail_side { 0 };

    // Cells share the width between the margins to the pixel.
    int cell_left(int column) const { return margin + (width - 2 * margin) * column / columns; }
    int cell_width(int column) const { return cell_left(column + 1) - cell_left(column); }
};

// Millimetres to whole pixels at `dpi`.
int millimetres_to_pixels(double millimetres, int dpi);
ThumbnailGrid thumbnail_grid(std::int32_t width, std::int32_t dpi);
inline int thumbnail_columns(std::int32_t width, std::int32_t dpi) { return thumbnail_grid(width, dpi).columns; }

// The decoded thumbnails the screen keeps at most, beyond those on the
// screen: the rows around it, as many as fit.
inline constexpr std::size_t kThumbnailBudgetBytes = 24u << 20;

// One row of thumbnails; its buttons report to the screen.
class FolderElement final : public ListItem, public ButtonHandler {
public:
    FolderElement(FolderForm& form, std::int32_t row);

    void bind(VirtualList& list, bool selected, bool fresh) override;
    bool on_click(Element& source, Point position) override;
    Rect cell_rect(std::int32_t column) const override;
    // The cells follow the screen's grid, not the skin's places.
    void layout_horizontal() override;
    void layout_vertical() override;
    void measure_height(MeasurePair& pair) override;

    std::int32_t row() const { return m_row; }
    // The button's picture element; null when the button is hidden.
    ImageElement* cell_image(int column) const;

private:
    void make_cells();

    FolderForm& m_form;
    std::int32_t m_row;
    // The skin's buttons, then copies of its first for further columns.
    std::vector<ButtonElement*> m_buttons;
    std::vector<ImageElement*> m_images;
};

class FolderForm final : public ScreenForm, public ListProvider, public CatalogListener {
public:
    FolderForm(PropertiesImpl& store, PhotoCatalog& catalog);
    ~FolderForm() override;

    // Lists the album's pictures and shows the screen; with `picture`, one
    // of them, the viewer opens on it over the screen.
    void open_album(FolderInfo const& album, WStringView picture = {});
    // An album of the pictures given, in their order, each with its search
    // root, titled `caption`; with `picture`, the viewer opens on it.
    void open_pictures(WString caption, std::vector<WString> pictures, std::vector<WString> roots,
        WStringView picture = {});
    // Pictures and folders asked for from outside (full paths, see
    // plan_opening), shown over whatever this screen and the viewer show
    // now. False when none of them could be opened.
    bool open_given(std::vector<WString> const& paths);

    void advance(double seconds) override;
    // Thumbnails still to be looked at, one a frame.
    bool busy() override { return m_pictures && next_to_load() < static_cast<int>(m_pictures->size()); }
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
    // The search root of picture `index`: the album's, or the picture's own
    // in an album put together of pictures from anywhere.
    WString const& root_of(std::size_t index) const;
    WString const& caption() const { return m_caption; }
    std::vector<WString> const& pictures() const { return *m_pictures; }
    int columns() const { return m_grid.columns; }
    ThumbnailGrid const& grid() const { return m_grid; }
    // The cell the next frame looks at; the picture count when none is left.
    int next_to_load() const;
    // Thumbnails decoded and kept now, and the most that may be.
    std::size_t held_thumbnails() const { return m_held; }
    std::size_t max_held_thumbnails() const;
    // The dots per inch the grid is measured at; the screen's by default.
    void set_dpi(std::int32_t dpi);
    // Off: every cell stretches the stored 64 x 64 thumbnail, whatever its
    // size (cheaper to make, softer to look at). On by default.
    void set_large_thumbnails(bool on) { m_large_thumbnails = on; }
    // What cell `index` shows: the thumbnail, or the "bad" or "loading" picture.
    PictureRef const& cell_picture(std::size_t index) const;
    bool is_bad(std::size_t index) const { return index < m_bad.size() && m_bad[index]; }
    VirtualList& list() { return *m_list; }
    ImageForm& image_form() { return m_image_form; }

private:
    void on_built() override;
    // Shows the pictures now in m_pictures, starting at their first, and the
    // viewer on `picture` when it is one of them.
    void show_pictures(WStringView picture);
    void load_thumbnail(std::size_t index);
    // Asks the catalog to build the cache of a picture that has none yet.
    void request_build(std::size_t index);
    void refresh_row(std::int32_t row);
    bool viewer_open();
    std::int32_t grid_width() const;
    // A new grid when the width or dpi changed; the list starts over
    // keeping its focus.
    void update_grid();
    // The cells whose thumbnails are kept: those on the screen and the
    // rows around them. Others are let go.
    struct CellRange {
        int first { 0 };
        int end { 0 };
    };
    CellRange visible_cells() const;
    CellRange held_cells(CellRange visible) const;
    void let_go_outside(CellRange held);
    bool wants_load(int index) const;

    PhotoCatalog& m_catalog;
    ImageForm m_image_form;
    FolderInfo m_album;
    std::shared_ptr<std::vector<WString>> m_pictures { std::make_shared<std::vector<WString>>() };
    // One search root per picture, for an album put together of pictures
    // from anywhere; null for a folder's album, whose root is its own.
    std::shared_ptr<std::vector<WString> const> m_roots;
    // The title of such an album; a folder's album is titled as the list
    // names it.
    WString m_caption;
    std::vector<PictureRef> m_thumbnails;
    std::vector<bool> m_bad;
    // The catalog was asked to build it in this pass over the album.
    std::vector<bool> m_asked;
    std::size_t m_held { 0 };
    ThumbnailGrid m_grid;
    std::int32_t m_dpi { 0 };
    bool m_large_thumbnails { true };
    // Cells outside the kept ones are only looked at for building, in order.
    int m_next_to_load { 0 };
    VirtualList* m_list { nullptr };
    ProgressElement* m_progress { nullptr };
    Element* m_title { nullptr };
    WString album_caption();
    PictureRef m_bad_picture;
    PictureRef m_loading_picture;
    // Set while the viewer shows one of the album's pictures: when it is
    // left, the focus goes to the picture it ended on.
    bool m_viewing { false };
    std::function<void()> m_open_menu;
};

}
