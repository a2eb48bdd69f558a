#pragma once

// The picture element of the viewer (skin type "bigpicture"): one picture at
// any zoom, drawn from a small bounded set of square tiles that the listener
// delivers on request, with pen panning, inertia, elastic edges and smooth
// zoom between levels. User-interface thread only. m_tiles_mutex (re-entrant)
// guards the tiles and the geometry; the draw loop holds it around each
// tile's lookup and drawing and lets go of it while the listener is asked.
// Nothing fails loudly: a tile not delivered yet shows the empty surface,
// and a key the view no longer holds is dropped on delivery.

#include "base/Thread.h"
#include "skin/FontRep.h"
#include "widgets/Element.h"
#include "widgets/MotionTracker.h"
#include "widgets/TileGeometry.h"
#include "widgets/TileListener.h"
#include "widgets/TileTable.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace qv {

class TileView : public Element {
public:
    // The pen's feel: every move pans (no dead zone), a press that strays
    // no more than 8 pixels is a tap, and a fling's velocity is read over
    // the pen's last 100 ms, yet over its last two samples however old.
    static constexpr MotionSettings kPenMotion { .dead_zone = 0, .tap_slop = 8, .window_ms = 100, .min_samples = 2 };

    // What a test or the owner may see of one cached tile.
    struct TileInfo {
        int level { 0 };
        int column { 0 };
        int row { 0 };
        bool pending { true };
        bool requested { false };
        // Scaled from another level while its own tile is awaited.
        bool preview { false };
        bool drawn_last_frame { false };
    };

    explicit TileView(Element* parent);
    ~TileView() override;

    void load(PropertiesImpl const& store, SkinNode node) override;
    void advance(double seconds) override;
    void draw(DrawTarget& target, Point origin) override;
    void on_pointer_move(PointerEvent const& event) override;
    bool on_pointer_button(PointerEvent const& event) override;

    void set_tile_listener(TileListener* listener) { m_tile_listener = listener; }
    void set_gesture_listener(GestureListener* listener) { m_gesture_listener = listener; }

    // Replaces the geometry and discards every tile. A zoom outside
    // [fit_level, top_level] starts at fit_level.
    void set_picture(int tile_width, int tile_height, int picture_width, int picture_height, double zoom,
        bool unbounded = false);
    // Asks the listener for the tiles the next frame will show, before it
    // is drawn: a picture just opened starts decoding at once.
    void request_visible();
    // The surface is dropped when no entry holds that key any more.
    void put_piece(int level, int column, int row, std::unique_ptr<RenderSurface> surface);
    bool is_needed(int level, int column, int row, std::int64_t* distance = nullptr);

    void set_zoom(double zoom);
    // Zooms to `zoom` at the view's own pace: faster the more levels lie
    // between, about half a second a level.
    void set_target_zoom(double zoom)
    {
        m_target_zoom = zoom;
        m_zoom_rate = 0;
    }
    // Zooms to `zoom` at an even pace that gets there in `seconds` (the
    // frame after, for 0 or less): a wheel's notch or a key's step takes
    // as long however far it goes.
    void animate_zoom(double zoom, double seconds);
    void set_pan(double x, double y);
    void set_pan_target(double x, double y);
    void stop_motion();
    // 0 upright; 1 turned clockwise, -1 anticlockwise (tiles arrive turned).
    void set_orientation(int orientation);

    double zoom() const { return m_zoom; }
    double target_zoom() const { return m_target_zoom; }
    double settled_zoom() const { return m_settled_zoom; }
    PicturePoint pan() const { return { m_pan_x, m_pan_y }; }
    PicturePoint pan_target() const { return { m_pan_target_x, m_pan_target_y }; }
    bool pan_animating() const { return m_pan_animating; }
    double speed() const { return m_speed; }
    bool pen_down() const { return m_pen_down; }
    bool at_rest() const { return !m_pen_down && m_speed == 0 && !m_pan_animating; }
    int orientation() const { return m_orientation; }
    int top_level() const { return m_top_level; }
    int fit_level() const { return m_fit_level; }
    int tile_level() const { return m_tile_level; }
    int tile_width() const { return m_tile_width; }
    int tile_height() const { return m_tile_height; }
    int picture_width() const { return m_picture_width; }
    int picture_height() const { return m_picture_height; }
    bool unbounded() const { return m_unbounded; }
    int tile_budget() const;
    std::vector<TileInfo> tiles();

    // The view's sides in the picture's frame (swapped when turned).
    double view_extent_x() const;
    double view_extent_y() const;
    // The picture's displayed sides at the current zoom, screen pixels.
    double displayed_width() const;
    double displayed_height() const;
    // Screen pixels to full-resolution pixels at the current zoom.
    double to_full() const;
    PanRange pan_range_x() const;
    PanRange pan_range_y() const;
    // Screen points (absolute) and picture points (full resolution).
    PicturePoint screen_to_picture(Point screen) const;
    PicturePoint picture_to_view(PicturePoint picture) const;

private:
    // The tile grid of the current level that covers the view.
    struct VisibleGrid {
        int level { 0 };
        double tile_w { 0 };
        double tile_h { 0 };
        double off_x { 0 };
        double off_y { 0 };
        int c0 { 0 };
        int c1 { -1 };
        int r0 { 0 };
        int r1 { -1 };
    };
    VisibleGrid visible_grid() const;
    void choose_level();
    void relevel(int old_level, int new_level);
    // The entry for a key the frame shows, made when the table lacks it.
    TileEntry& entry_for(int level, int column, int row);
    // Marks the entry asked for and asks the listener, without the lock.
    void ask_for(TileEntry& entry, int level, int column, int row);
    RenderSurface const& empty_surface();
    void draw_tiles(DrawTarget& target, Point origin, VisibleGrid const& g);
    void draw_tile(DrawTarget& target, Point origin, Rect virtual_rect, RenderSurface const* surface);
    Rect to_screen(Rect virtual_rect) const;
    // A step of the pen, in the picture's frame, held back past an edge.
    double resisted(double delta, double pan, PanRange range, double view) const;
    void apply_edges(double dt);
    void animate_pan(double dt);
    // Sets the view coasting at the pen's velocity, turned into the
    // picture's frame and capped.
    void fling(MotionVelocity velocity);

    mutable Mutex m_tiles_mutex;
    TileListener* m_tile_listener { nullptr };
    GestureListener* m_gesture_listener { nullptr };

    int m_tile_width { 64 };
    int m_tile_height { 64 };
    int m_picture_width { 0 };
    int m_picture_height { 0 };
    int m_top_level { 0 };
    int m_fit_level { 0 };
    bool m_unbounded { true };
    int m_orientation { 0 };

    double m_zoom { 2.0 };
    double m_target_zoom { 2.0 };
    double m_zoom_speed { 2.0 };
    // Levels a second while animate_zoom's pace holds; 0 for the own pace.
    double m_zoom_rate { 0 };
    double m_settled_zoom { 2.0 };
    int m_tile_level { 2 };
    double m_pan_x { 0 };
    double m_pan_y { 0 };
    double m_pan_target_x { 0 };
    double m_pan_target_y { 0 };
    bool m_pan_animating { false };
    double m_reported_pan_x { 0 };
    double m_reported_pan_y { 0 };
    double m_reported_zoom { 2.0 };
    double m_speed { 0 };
    double m_direction_x { 0 };
    double m_direction_y { 0 };

    bool m_pen_down { false };
    MotionTracker m_pen { kPenMotion };

    TileTable m_tiles;
    int m_frame_counter { 0 };
    RenderSurface m_empty_surface;
    bool m_empty_stale { true };
    std::uint16_t m_empty_colour { 0 };
    SkinColor m_empty_skin_colour;
    FontHandle m_empty_font;
    WString m_empty_text;
};

}
