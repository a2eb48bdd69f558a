#pragma once

// The image viewer screen: one picture of an album full-screen with its two
// neighbours loaded beside it, each shown by a TileView whose tile requests
// go to one worker thread that cuts them with the picture's piece creator.
//
// Threads: everything runs on the user-interface thread except the worker's
// run() and create_tile(). Lock order: m_creator_mutex before m_queue_mutex
// and before m_ready_mutex; the queue and finished-list locks are never held
// together; m_idle_mutex is taken alone or inside m_queue_mutex. The first
// queue entry belongs to the worker from when it reads it until it removes it.

#include "base/Thread.h"
#include "platform/WindowMessages.h"
#include "core/WString.h"
#include "catalog/CatalogEvent.h"
#include "imaging/PixelBuffer.h"
#include "widgets/TileListener.h"
#include "widgets/TileView.h"
#include "thumbcache/PieceCreator.h"
#include "widgets/ButtonElement.h"
#include "widgets/Form.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

namespace qv {

class PhotoCatalog;
class TextElement;

struct ViewSlot {
    enum State { Cached = 0, Loading = 1, Bad = 2 };

    TileView* view { nullptr };
    std::unique_ptr<PieceCreator> creator;
    int state { Cached };
    bool creator_ok { true };
    // Why the picture cannot be shown; told to the user under its icon.
    PictureProblem problem { PictureProblem::None };
    double fit_zoom { 0 };
    // The album index shown, -1 for an empty neighbour.
    std::int32_t picture { -1 };
    // Counts the slot's resets: a tile made for an earlier picture (or an
    // earlier orientation) must never reach the view of the current one.
    std::uint32_t generation { 0 };
};

class ImageForm final : public Form,
                        public TileListener,
                        public GestureListener,
                        public CatalogListener,
                        public ButtonHandler {
public:
    // Throws the skin's lookup errors when the node "Image" or one of its
    // buttons or views is missing. `catalog` may be null (no cache queue).
    ImageForm(PropertiesImpl const& store, PhotoCatalog* catalog,
        WString placeholder_dir = u"%app_path%\\skins\\bin");
    ~ImageForm() override;

    void open(std::shared_ptr<std::vector<WString> const> pictures, std::int32_t index, WString search_root);

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

    void set_left();
    void set_right();

    std::int32_t current() const { return m_current; }
    std::int32_t picture_count() const { return m_pictures ? static_cast<std::int32_t>(m_pictures->size()) : 0; }
    bool landscape() const { return m_landscape; }
    int gesture_state() const { return m_gesture_state; }
    bool controls_visible() const { return m_controls_visible; }
    bool active() const { return m_active; }
    // Slots in screen order: 0 left, 1 centre, 2 right.
    ViewSlot const& slot(int position) const { return *m_slots[position]; }
    TileView& view(int position) const { return *m_slots[position]->view; }
    bool worker_idle();
    std::size_t queued_requests();
    std::size_t finished_tiles();

private:
    struct TileRequest {
        ViewSlot* slot { nullptr };
        std::uint32_t generation { 0 };
        bool landscape { false };
        int level { 0 };
        int column { 0 };
        int row { 0 };
        std::unique_ptr<PixelBuffer> tile;
        // Set when this request found the picture unreadable.
        PictureProblem problem { PictureProblem::None };
    };

    class Worker final : public Thread {
    public:
        explicit Worker(ImageForm& form)
            : m_form(form)
        {
        }

    private:
        void run() override { m_form.run_worker(); }
        ImageForm& m_form;
    };

    template<class T>
    T& require(WStringView id);
    void run_worker();
    void create_tile();
    std::unique_ptr<PixelBuffer> placeholder(WStringView name) const;

    WString const& picture_path(ViewSlot const& slot) const;
    int first_slot() const;
    int last_slot() const;
    void reset(int position);
    void restart(int position);
    void show_empty(int position);
    void load_all();
    void clear_slot(ViewSlot const* slot);
    void clear_all();
    // The centre picture's edges on screen along the swipe axis, as a and b.
    void centre_edges(double& a, double& b) const;
    void place_views(double a, double b);
    void place_after_centre();
    void make_centre_interactive();
    void write_position();
    void show_problem();
    void picture_failed(ViewSlot& slot, PictureProblem problem);
    void start_zoom(Point anchor, double target);
    void update_swipe();
    void deliver_tiles();
    void deliver_one_tile();

    PhotoCatalog* m_catalog;
    WString m_placeholder_dir;
    WString m_of_text;

    std::shared_ptr<std::vector<WString> const> m_pictures;
    std::int32_t m_current { 0 };
    WString m_search_root;
    std::array<ViewSlot, 3> m_slot_storage;
    std::array<ViewSlot*, 3> m_slots {};

    ButtonElement* m_back { nullptr };
    ButtonElement* m_minus { nullptr };
    ButtonElement* m_plus { nullptr };
    ButtonElement* m_landscape_button { nullptr };
    TextElement* m_number_text { nullptr };
    TextElement* m_log_text { nullptr };
    TextElement* m_problem_text { nullptr }; // optional in a skin
    static constexpr int kProblemCount = static_cast<int>(PictureProblem::Storage) + 1;
    std::array<WString, kProblemCount> m_problem_texts;

    std::atomic<bool> m_landscape { false };
    bool m_active { false };
    // Set by open until a frame shows the centre picture in its own tiles.
    bool m_first_frame_pending { false };
    // Where the worker's finished tiles are announced; none without a window.
    platform::WindowId m_wake_window {};
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

    Mutex m_creator_mutex;
    Mutex m_queue_mutex;
    std::deque<std::unique_ptr<TileRequest>> m_queue;
    Mutex m_ready_mutex;
    std::vector<std::unique_ptr<TileRequest>> m_ready;
    Mutex m_idle_mutex;
    bool m_worker_idle { true };
    Event m_wake { Event::Reset::Manual };
    Worker m_worker { *this };
};

}
