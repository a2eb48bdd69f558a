#pragma once

// The image viewer screen: one picture of an album full-screen with its two
// neighbours loaded beside it, each shown by a TileView whose tile requests
// go to the tile worker, which cuts them with the picture's piece creator.
// What a picture's cache holds, and the requests to build it, go through
// the catalog only.
//
// Threads: everything here runs on the user-interface thread; the tile
// worker's thread is TileWorker's own. The catalog's events arrive from its
// poll_events, which this screen calls once a frame.
// Failures: the constructor throws the skin's lookup errors; a picture that
// cannot be shown is shown as one broken-picture icon with its reason.
//
// Input: the pen and the mouse drag, fling, swipe and double-tap as on a
// handheld; keys, the wheel and the double click zoom and page as on a
// desktop (README.md lists them); the soft key, the menu key, the right
// and the middle button open the viewer's menu. A slideshow stops at any
// key, press or turn of the wheel, and keeps the screen awake meanwhile.

#include "catalog/CatalogEvent.h"
#include "core/WString.h"
#include "imaging/JpegCodec.h"
#include "screens/PictureInfo.h"
#include "screens/TileWorker.h"
#include "widgets/ButtonElement.h"
#include "widgets/Form.h"
#include "widgets/Menu.h"
#include "widgets/TileListener.h"
#include "widgets/TileView.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <unordered_set>
#include <vector>

namespace qv {

class PhotoCatalog;
class TextElement;

// A language file's text, or `fallback` where it has none.
WString language_text(PropertiesImpl const& store, WStringView key, WStringView fallback);

class ImageForm final : public Form,
                        public TileListener,
                        public GestureListener,
                        public CatalogListener,
                        public ButtonHandler,
                        public MenuSource {
public:
    // The slideshow's pace when the settings name none, and the paces the
    // menu offers.
    static constexpr std::uint32_t kDefaultSlideshowSeconds = 5;
    static constexpr std::uint32_t kSlideshowChoices[] = { 3, 5, 10, 30 };
    // Where the pace is kept: a dword of seconds under the program's key.
    static constexpr char16_t const* kSlideshowSetting = u"SlideshowSeconds";

    // Throws the skin's lookup errors when the node "Image" or one of its
    // buttons or views is missing.
    ImageForm(PropertiesImpl const& store, PhotoCatalog& catalog, WString placeholder_dir = u"%app_path%\\skins\\bin");
    ~ImageForm() override;

    // The viewer on picture `index` of `pictures`, all of one search root.
    void open(std::shared_ptr<std::vector<WString> const> pictures, std::int32_t index, WString search_root);
    // The same with each picture's own search root, in their order: an album
    // put together of pictures from anywhere.
    void open(std::shared_ptr<std::vector<WString> const> pictures, std::int32_t index,
        std::shared_ptr<std::vector<WString> const> search_roots);
    // Leaves the viewer, and its menu, wherever they are on the stack.
    void close();

    void advance(double seconds) override;
    void draw(DrawTarget& target, Point origin) override;
    void layout_horizontal() override;
    void layout_vertical() override;

    void add_tile(TileView& view, int level, int column, int row) override;
    void on_pan_changed(TileView& view, double pan_x, double pan_y, double zoom) override;
    void on_view_click(TileView& view, Point point) override;
    void on_catalog_event(CatalogEvent const& event) override;
    bool on_click(Element& source, Point position) override;
    // The back key leaves the viewer as its back button does, hidden or not.
    bool on_key(KeyInput const& key) override;
    bool on_pointer_button(PointerEvent const& event) override;
    bool on_wheel(Point point, double notches, bool ctrl) override;
    bool on_double_click(Point point) override;
    bool on_menu_click(Point point) override;
    void get_items(MenuScreen& menu, WStringView name, WString& caption, std::vector<MenuItem>& items) override;

    // Moves to the neighbour on the left (-1) or on the right (+1), if any.
    void show_neighbour(int direction);
    // Slides to the neighbour as a swipe does; a second slide asked for
    // while one runs follows it.
    void slide(int direction);
    // The picture at `index`: a neighbour slides in, any other is put in
    // place at once.
    void go_to(std::int32_t index);
    bool sliding() const { return m_slide_pending; }

    // The zoom range of the centre picture: the whole picture in the view,
    // and full size (one picture pixel to a screen pixel).
    double whole_zoom() const;
    double full_zoom() const;
    bool zoomed_in() const;
    // Zooms so that the picture point under `anchor` stays there, to
    // `target` within the zoom range, over `seconds` (0: the view's pace).
    void zoom_to(Point anchor, double target, double seconds);

    void open_menu();
    MenuScreen& menu() { return m_menu; }

    void start_slideshow();
    void stop_slideshow();
    bool slideshow_running() const { return m_slideshow; }
    double slideshow_seconds() const { return m_slideshow_seconds; }

    void show_info(bool visible);
    bool info_visible() const { return m_info_visible; }

    std::int32_t current() const { return m_current; }
    std::int32_t picture_count() const { return m_pictures ? static_cast<std::int32_t>(m_pictures->size()) : 0; }
    bool landscape() const { return m_landscape; }
    int gesture_state() const { return m_gesture_state; }
    bool controls_visible() const { return m_controls_visible; }
    bool active() const { return m_active; }
    // Slots in screen order: 0 left, 1 centre, 2 right.
    ViewSlot const& slot(int position) const { return *m_slots[position]; }
    TileView& view(int position) const { return *m_slots[position]->view; }
    bool worker_idle() { return m_tiles.idle(); }
    // Tiles asked for, being cut or cut and not yet shown.
    bool busy() override { return !m_tiles.idle() || m_tiles.queued() > 0 || m_tiles.finished() > 0; }
    // See TileWorker::set_before_tile.
    void set_before_tile(std::function<void(std::size_t)> hook) { m_tiles.set_before_tile(std::move(hook)); }
    std::size_t queued_requests() { return m_tiles.queued(); }
    std::size_t finished_tiles() { return m_tiles.finished(); }

private:
    template<class T>
    T& require(WStringView id);

    // ---- The pictures in the slots (ImageSlots.cpp) ----
    void load_problem_texts(PropertiesImpl const& store);
    WString const& picture_path(ViewSlot const& slot) const;
    int first_slot() const;
    int last_slot() const;
    // `build`: a picture read from its file is asked to be built first.
    void reset(int position, bool build = true);
    void restart(int position);
    void show_empty(int position);
    void load_all();
    void show_problem();
    void picture_failed(ViewSlot& slot, PictureProblem problem);
    // The slot's cache file turned out damaged: read from the picture
    // until it is built again.
    void cache_failed(ViewSlot& slot);

    // ---- Placing, gestures and tiles (ImageForm.cpp) ----
    // The centre picture's edges on screen along the swipe axis, as a and b.
    void centre_edges(double& a, double& b) const;
    void place_views(double a, double b);
    void place_after_centre();
    void make_centre_interactive();
    void write_position();
    void start_zoom(Point anchor, double target, double seconds = 0);
    Point view_centre() const;
    // An arrow key's step of the pan, in view extents along the picture's
    // own axes; false when it does not move.
    bool pan_by_key(double dx, double dy);
    // Left or right: pans a picture zoomed in until its edge, then pages.
    void horizontal_key(int direction);
    bool at_edge(int direction) const;
    void leave();
    void rotate();
    void advance_slideshow(double seconds);
    void refresh_info();
    void update_swipe();
    void update_controls(double seconds);
    void show_bands();
    void settle_gesture();
    void deliver_tiles();
    void deliver_one_tile();

    PhotoCatalog& m_catalog;
    WString m_of_text;

    std::shared_ptr<std::vector<WString> const> m_pictures;
    std::int32_t m_current { 0 };
    // One root for every picture, or one per picture.
    std::shared_ptr<std::vector<WString> const> m_search_roots;
    // Pictures whose cache turned out damaged while shown: a second time,
    // the viewer reads the picture and leaves the build to the next search,
    // rather than build the same file over and over.
    std::unordered_set<WString> m_damaged_caches;
    WString const& search_root(std::int32_t index) const;
    std::array<ViewSlot, 3> m_slot_storage;
    std::array<ViewSlot*, 3> m_slots {};

    PropertiesImpl const& m_store;
    ButtonElement* m_back { nullptr };
    ButtonElement* m_minus { nullptr };
    ButtonElement* m_plus { nullptr };
    ButtonElement* m_landscape_button { nullptr };
    TextElement* m_number_text { nullptr };
    // The shades behind the top and bottom controls; the skin's to leave out.
    Element* m_top_band { nullptr };
    Element* m_bottom_band { nullptr };
    TextElement* m_log_text { nullptr };
    TextElement* m_problem_text { nullptr }; // optional in a skin
    static constexpr int kProblemCount = static_cast<int>(PictureProblem::Storage) + 1;
    std::array<WString, kProblemCount> m_problem_texts;

    std::atomic<bool> m_landscape { false };
    bool m_active { false };
    // Set by open until a frame shows the centre picture in its own tiles.
    bool m_first_frame_pending { false };
    bool m_controls_visible { true };
    double m_controls_timer { 0 };
    int m_gesture_state { 0 };
    bool m_slide_pending { false };
    bool m_slide_running { false };
    int m_slide_direction { 0 };
    PicturePoint m_slide_target;
    // The one-shot tap timer, counted down by the frames; below 0 it is off.
    double m_tap_timer { -1 };
    Size m_loaded_size;
    double m_place_a { 0 };
    double m_place_b { 0 };

    // The zoom anchor: a picture point, and where it stays on the view (in
    // the picture's frame, from the view's centre).
    PicturePoint m_anchor_picture;
    PicturePoint m_anchor_offset;
    double m_anchor_zoom { 0 };

    // A slide asked for while one runs: its direction, 0 for none.
    int m_queued_slide { 0 };
    // The second press of a double click is under way over the picture: its
    // release toggles the zoom instead of counting as a tap.
    bool m_double_click_pending { false };
    Point m_double_click_point;
    // A press that stopped the slideshow, kept from everything else until
    // its release.
    bool m_swallowing_press { false };

    bool m_slideshow { false };
    double m_slideshow_timer { 0 };
    double m_slideshow_seconds { kDefaultSlideshowSeconds };

    // The information panel, optional in a skin, and what it shows now.
    Element* m_info { nullptr };
    TextElement* m_info_name { nullptr };
    TextElement* m_info_folder { nullptr };
    TextElement* m_info_pixels { nullptr };
    TextElement* m_info_file_size { nullptr };
    TextElement* m_info_date_label { nullptr };
    TextElement* m_info_date { nullptr };
    InfoFormat m_info_format;
    bool m_info_visible { false };
    std::int32_t m_info_picture { -1 };
    std::uint32_t m_info_generation { 0 };

    MenuScreen m_menu;

    // Declared last: it stops before the slots whose creators it uses go.
    TileWorker m_tiles;
};

}
