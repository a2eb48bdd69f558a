#include "widgets/TileView.h"

#include "imaging/PixelOp.h"
#include "imaging/PixelRules.h"
#include "skin/TextDrawing.h"
#include "widgets/Coasting.h"
#include "widgets/Form.h"

#include <algorithm>
#include <cmath>

namespace qv {

namespace {

constexpr double kMaxFlingSpeed = 2000;
constexpr double kCentringSpeed = 400;

std::uint16_t to_565(SkinColor c) { return pack_rgb565(c.red, c.green, c.blue); }

// Exact powers of two, so that whole zooms give exactly 1:1 drawing.
double pow2(double e) { return std::exp2(e); }

// Lets go of a held lock for a scope. The listener is called without the
// view's lock: it takes its own queue lock and then asks views is_needed,
// so holding ours across the call would order the two locks both ways.
class MutexUnlock {
public:
    explicit MutexUnlock(Mutex& mutex)
        : m_mutex(mutex)
    {
        m_mutex.unlock();
    }
    ~MutexUnlock() { m_mutex.lock(); }
    MutexUnlock(MutexUnlock const&) = delete;
    MutexUnlock& operator=(MutexUnlock const&) = delete;

private:
    Mutex& m_mutex;
};

}

TileView::TileView(Element* parent)
    : Element(parent)
{
    if (root())
        root()->register_interactive(this);
    m_empty_font = empty_font();
    set_picture(64, 64, 0, 0, 2.0, true);
}

TileView::~TileView() = default;

void TileView::load(PropertiesImpl const& store, SkinNode node)
{
    Element::load(store, node);
    m_empty_skin_colour = store.get_color(node, u"empty_color", SkinColor {});
    m_empty_colour = to_565(m_empty_skin_colour);
    m_empty_font = store.get_font(node, u"empty_font", empty_font());
    WString const key = store.get_string(node, u"empty_text", WString());
    m_empty_text = key.empty() ? WString() : store.text(key);
    m_empty_stale = true;
}

RenderSurface const& TileView::empty_surface()
{
    // Made on first use and again only when the tile size or the skin
    // changes: drawing its text for every picture opened would slow the
    // opening down, and the neighbours of a picture are often never drawn.
    auto const* buffer = m_empty_surface.buffer();
    if (!m_empty_stale && buffer && buffer->width() == m_tile_width && buffer->height() == m_tile_height)
        return m_empty_surface;
    m_empty_stale = false;
    m_empty_surface.recreate(Size { m_tile_width, m_tile_height });
    if (!m_empty_surface.buffer())
        return m_empty_surface;
    fill_rect(m_empty_surface.target(), 0, 0, m_tile_width, m_tile_height, ColourFillOp(m_empty_colour));
    if (!m_empty_text.empty() && m_empty_font) {
        TextColour inverted { static_cast<std::uint8_t>(255 - m_empty_skin_colour.red),
            static_cast<std::uint8_t>(255 - m_empty_skin_colour.green),
            static_cast<std::uint8_t>(255 - m_empty_skin_colour.blue) };
        draw_text(*m_empty_font, m_empty_surface.target(), inverted, m_empty_text, Point {},
            Size { m_tile_width, m_tile_height }, HAlign::Center, VAlign::VCenter, TextWrap::WordBreak);
    }
    return m_empty_surface;
}

void TileView::set_picture(int tile_width, int tile_height, int picture_width, int picture_height, double zoom,
    bool unbounded)
{
    MutexLock lock(m_tiles_mutex);
    m_tile_width = std::max(1, tile_width);
    m_tile_height = std::max(1, tile_height);
    m_picture_width = std::max(0, picture_width);
    m_picture_height = std::max(0, picture_height);
    m_unbounded = unbounded;
    m_top_level = tile_top_level(m_tile_width, m_tile_height, m_picture_width, m_picture_height);
    if (unbounded)
        m_top_level = std::max(m_top_level, static_cast<int>(std::ceil(std::max(zoom, 0.0))));
    m_fit_level = std::min(m_top_level,
        tile_fit_level(m_top_level, m_tile_width, m_tile_height, static_cast<int>(view_extent_x()),
            static_cast<int>(view_extent_y())));
    if (!(zoom >= m_fit_level && zoom <= m_top_level))
        zoom = m_fit_level;
    m_zoom = m_target_zoom = m_settled_zoom = m_reported_zoom = zoom;
    m_tile_level = std::clamp(static_cast<int>(std::ceil(zoom)), 0, m_top_level);
    m_tiles.clear();
    m_pan_x = m_pan_target_x = m_reported_pan_x = m_picture_width / 2.0;
    m_pan_y = m_pan_target_y = m_reported_pan_y = m_picture_height / 2.0;
    m_pan_animating = false;
    m_speed = 0;
    invalidate_drawing();
}

int TileView::tile_budget() const
{
    return qv::tile_budget(m_tile_width, m_tile_height, m_size.width, m_size.height);
}

std::vector<TileView::TileInfo> TileView::tiles()
{
    MutexLock lock(m_tiles_mutex);
    std::vector<TileInfo> result;
    for (auto const& entry : m_tiles.entries())
        result.push_back(TileInfo { entry->level, entry->column, entry->row, entry->pending, entry->requested,
            entry->preview, entry->stamp == m_frame_counter });
    return result;
}

void TileView::put_piece(int level, int column, int row, std::unique_ptr<RenderSurface> surface)
{
    MutexLock lock(m_tiles_mutex);
    auto* entry = m_tiles.find(level, column, row);
    if (!entry)
        return;
    entry->surface = std::move(surface);
    entry->pending = false;
    entry->requested = true;
    entry->preview = false;
    invalidate_drawing();
}

bool TileView::is_needed(int level, int column, int row, std::int64_t* distance)
{
    MutexLock lock(m_tiles_mutex);
    if (!m_tiles.find(level, column, row))
        return false;
    if (distance) {
        double const scale = pow2(level - m_top_level);
        auto const px = static_cast<std::int64_t>(std::floor(m_pan_x * scale));
        auto const py = static_cast<std::int64_t>(std::floor(m_pan_y * scale));
        auto const cx = static_cast<std::int64_t>(column) * m_tile_width + m_tile_width / 2;
        auto const cy = static_cast<std::int64_t>(row) * m_tile_height + m_tile_height / 2;
        *distance = (px - cx) * (px - cx) + (py - cy) * (py - cy);
    }
    return true;
}

void TileView::set_zoom(double zoom)
{
    m_zoom = m_target_zoom = zoom;
    m_zoom_rate = 0;
    invalidate_drawing();
}

void TileView::animate_zoom(double zoom, double seconds)
{
    m_target_zoom = zoom;
    // At least a frame's worth: a pace of nothing would never arrive.
    m_zoom_rate = std::max(std::abs(zoom - m_zoom) / std::max(seconds, 1e-3), 1e-6);
}

void TileView::set_pan(double x, double y)
{
    m_pan_x = x;
    m_pan_y = y;
    invalidate_drawing();
}

void TileView::set_pan_target(double x, double y)
{
    m_pan_target_x = x;
    m_pan_target_y = y;
    m_pan_animating = x != m_pan_x || y != m_pan_y;
}

void TileView::stop_motion()
{
    m_speed = 0;
    m_pan_animating = false;
    m_pan_target_x = m_pan_x;
    m_pan_target_y = m_pan_y;
}

void TileView::set_orientation(int orientation)
{
    m_orientation = std::clamp(orientation, -1, 1);
    invalidate_drawing();
}

double TileView::view_extent_x() const { return m_orientation ? m_size.height : m_size.width; }
double TileView::view_extent_y() const { return m_orientation ? m_size.width : m_size.height; }
double TileView::displayed_width() const { return m_picture_width * pow2(m_zoom - m_top_level); }
double TileView::displayed_height() const { return m_picture_height * pow2(m_zoom - m_top_level); }
double TileView::to_full() const { return pow2(m_top_level - m_zoom); }
PanRange TileView::pan_range_x() const { return pan_range(displayed_width(), view_extent_x(), to_full()); }
PanRange TileView::pan_range_y() const { return pan_range(displayed_height(), view_extent_y(), to_full()); }

PicturePoint TileView::screen_to_picture(Point screen) const
{
    double const sx = screen.x - m_position.x;
    double const sy = screen.y - m_position.y;
    double vx = sx;
    double vy = sy;
    if (m_orientation == 1) {
        vx = sy;
        vy = m_size.width - sx;
    } else if (m_orientation == -1) {
        vx = m_size.height - sy;
        vy = sx;
    }
    return { (vx - view_extent_x() / 2) * to_full() + m_pan_x, (vy - view_extent_y() / 2) * to_full() + m_pan_y };
}

PicturePoint TileView::picture_to_view(PicturePoint picture) const
{
    double const vx = (picture.x - m_pan_x) / to_full() + view_extent_x() / 2;
    double const vy = (picture.y - m_pan_y) / to_full() + view_extent_y() / 2;
    if (m_orientation == 1)
        return { m_size.width - vy + m_position.x, vx + m_position.y };
    if (m_orientation == -1)
        return { vy + m_position.x, m_size.height - vx + m_position.y };
    return { vx + m_position.x, vy + m_position.y };
}

TileEntry& TileView::entry_for(int level, int column, int row)
{
    if (auto* entry = m_tiles.find(level, column, row))
        return *entry;
    return m_tiles.take(level, column, row, tile_budget(), m_frame_counter);
}

void TileView::choose_level()
{
    if (m_zoom != m_target_zoom || m_zoom == m_settled_zoom)
        return;
    m_settled_zoom = m_zoom;
    int const level = std::clamp(static_cast<int>(std::ceil(m_zoom)), 0, m_top_level);
    if (level != m_tile_level) {
        int const old_level = m_tile_level;
        m_tile_level = level;
        relevel(old_level, level);
    }
}

void TileView::relevel(int old_level, int new_level)
{
    if (m_unbounded || m_tile_width != m_tile_height)
        return;
    TileLook const look { m_tile_width, m_orientation, m_empty_colour };
    // The new level is already the current one: its grid is the one drawn.
    auto const g = visible_grid();
    // Previews are made into fresh entries first: the old tiles they are
    // drawn from may be the very entries that would otherwise be recycled.
    // Only where an old tile has something to show: the rest waits for its
    // own tile with no entry made for it.
    std::vector<std::unique_ptr<TileEntry>> previews;
    for (int r = g.r0; r <= g.r1; ++r) {
        for (int c = g.c0; c <= g.c1; ++c) {
            if (m_tiles.find(new_level, c, r))
                continue;
            if (auto preview = m_tiles.make_preview(old_level, new_level, c, r, look)) {
                preview->stamp = m_frame_counter;
                previews.push_back(std::move(preview));
            }
        }
    }
    m_tiles.add_previews(std::move(previews), tile_budget());
}

Rect TileView::to_screen(Rect v) const { return turned_rect(v, m_size, m_orientation); }

void TileView::draw_tile(DrawTarget& target, Point origin, Rect virtual_rect, RenderSurface const* surface)
{
    if (!surface || !surface->buffer())
        return;
    auto const* buffer = surface->buffer();
    // A smaller piece (a placeholder picture) covers only the top-left part
    // of its tile, at the tile's scale.
    int const piece_w = m_orientation ? buffer->height() : buffer->width();
    int const piece_h = m_orientation ? buffer->width() : buffer->height();
    if (piece_w != m_tile_width)
        virtual_rect.right = virtual_rect.left
            + static_cast<std::int32_t>(std::lround(double(virtual_rect.width()) * piece_w / m_tile_width));
    if (piece_h != m_tile_height)
        virtual_rect.bottom = virtual_rect.top
            + static_cast<std::int32_t>(std::lround(double(virtual_rect.height()) * piece_h / m_tile_height));
    Rect const r = to_screen(virtual_rect);
    if (r.width() == buffer->width() && r.height() == buffer->height())
        copy_rect(target, origin.x + r.left, origin.y + r.top, r.width(), r.height(), *buffer, 0, 0, copy_op());
    else
        stretch_rect(target, origin.x + r.left, origin.y + r.top, r.width(), r.height(), *buffer, 0, 0,
            buffer->width(), buffer->height(), copy_op());
}

TileView::VisibleGrid TileView::visible_grid() const
{
    VisibleGrid g;
    g.level = m_tile_level;
    double const f = pow2(m_zoom - g.level);
    g.tile_w = m_tile_width * f;
    g.tile_h = m_tile_height * f;
    double const px = m_pan_x * pow2(m_zoom - m_top_level);
    double const py = m_pan_y * pow2(m_zoom - m_top_level);
    double const vw = view_extent_x();
    double const vh = view_extent_y();
    // A picture that fits the view exactly computes as a hair more than it:
    // that hair must not move it a whole pixel.
    constexpr double kHair = 1e-6;
    g.off_x = std::floor(vw / 2 - px + kHair);
    g.off_y = std::floor(vh / 2 - py + kHair);
    g.c0 = static_cast<int>(std::floor((px - vw / 2) / g.tile_w));
    g.c1 = static_cast<int>(std::floor((px + vw / 2) / g.tile_w));
    g.r0 = static_cast<int>(std::floor((py - vh / 2) / g.tile_h));
    g.r1 = static_cast<int>(std::floor((py + vh / 2) / g.tile_h));
    if (!m_unbounded) {
        g.c0 = std::max(g.c0, 0);
        g.r0 = std::max(g.r0, 0);
        g.c1 = std::min(g.c1, level_tiles(m_picture_width, m_top_level, g.level, m_tile_width) - 1);
        g.r1 = std::min(g.r1, level_tiles(m_picture_height, m_top_level, g.level, m_tile_height) - 1);
    }
    return g;
}

void TileView::ask_for(TileEntry& entry, int level, int column, int row)
{
    entry.requested = true;
    MutexUnlock unlocked(m_tiles_mutex);
    m_tile_listener->add_tile(*this, level, column, row);
}

void TileView::request_visible()
{
    MutexLock lock(m_tiles_mutex);
    choose_level();
    if (m_unbounded || !m_tile_listener || m_zoom != m_settled_zoom)
        return;
    auto const g = visible_grid();
    for (int r = g.r0; r <= g.r1; ++r) {
        for (int c = g.c0; c <= g.c1; ++c) {
            auto& entry = entry_for(g.level, c, r);
            entry.stamp = m_frame_counter;
            if (!entry.requested)
                ask_for(entry, g.level, c, r);
        }
    }
}

void TileView::draw(DrawTarget& target, Point origin)
{
    MutexLock lock(m_tiles_mutex);
    ++m_frame_counter;
    choose_level();
    ClipScope view_clip(target, Rect { origin.x, origin.y, origin.x + m_size.width, origin.y + m_size.height });

    auto const g = visible_grid();
    // The last row and column of tiles hold nothing past the picture's
    // edge; only the picture itself is drawn, the rest shows what lies under.
    std::unique_ptr<ClipScope> picture_clip;
    if (!m_unbounded) {
        Rect const picture { static_cast<std::int32_t>(g.off_x), static_cast<std::int32_t>(g.off_y),
            static_cast<std::int32_t>(std::ceil(g.off_x + displayed_width() - 1e-6)),
            static_cast<std::int32_t>(std::ceil(g.off_y + displayed_height() - 1e-6)) };
        Rect const on_screen = to_screen(picture);
        picture_clip = std::make_unique<ClipScope>(target,
            Rect { origin.x + on_screen.left, origin.y + on_screen.top, origin.x + on_screen.right,
                origin.y + on_screen.bottom });
    }
    draw_tiles(target, origin, g);
    picture_clip.reset();
    if (m_tile_listener) {
        MutexUnlock unlocked(m_tiles_mutex);
        m_tile_listener->after_draw(*this);
    }
}

void TileView::draw_tiles(DrawTarget& target, Point origin, VisibleGrid const& g)
{
    int const grid = 1 << std::clamp(g.level, 0, 20);
    bool const moving = m_speed != 0 || m_pen_down;
    bool const zoom_settled = m_zoom == m_settled_zoom;
    for (int r = g.r0; r <= g.r1; ++r) {
        for (int c = g.c0; c <= g.c1; ++c) {
            Rect const rect { static_cast<std::int32_t>(std::floor(g.off_x + c * g.tile_w)),
                static_cast<std::int32_t>(std::floor(g.off_y + r * g.tile_h)),
                static_cast<std::int32_t>(std::floor(g.off_x + (c + 1) * g.tile_w)),
                static_cast<std::int32_t>(std::floor(g.off_y + (r + 1) * g.tile_h)) };
            int column = c;
            int row = r;
            if (m_unbounded) {
                column = ((c % grid) + grid) % grid;
                row = ((r % grid) + grid) % grid;
            }
            // While an unbounded view moves, the tiles it lacks show empty
            // and are asked for once it rests: it would otherwise churn
            // through its budget on tiles that only slide past.
            if (m_unbounded && moving && !m_tiles.find(g.level, column, row)) {
                draw_tile(target, origin, rect, &empty_surface());
                continue;
            }
            auto& entry = entry_for(g.level, column, row);
            entry.stamp = m_frame_counter;
            if (zoom_settled && !entry.requested && (!m_unbounded || !moving) && m_tile_listener)
                ask_for(entry, g.level, column, row);
            draw_tile(target, origin, rect, entry.pending ? &empty_surface() : entry.surface.get());
        }
    }
}

void TileView::apply_edges(double dt)
{
    double const step = kCentringSpeed * dt * to_full();
    struct Axis {
        double& pan;
        double& direction;
        double displayed;
        double view;
        double centre;
    };
    Axis axes[2] = {
        { m_pan_x, m_direction_x, displayed_width(), view_extent_x(), m_picture_width / 2.0 },
        { m_pan_y, m_direction_y, displayed_height(), view_extent_y(), m_picture_height / 2.0 },
    };
    double vx = m_speed * m_direction_x;
    double vy = m_speed * m_direction_y;
    double* velocity[2] = { &vx, &vy };
    for (int i = 0; i < 2; ++i) {
        auto& axis = axes[i];
        double& v = *velocity[i];
        if (axis.displayed <= axis.view) {
            axis.pan = step_towards(axis.pan, axis.centre, step);
            continue;
        }
        double const pan_screen = axis.pan / to_full();
        double const low = axis.view / 2;
        double const high = axis.displayed - axis.view / 2;
        // The pen's direction moves the picture, so a positive velocity
        // lowers the pan point: towards the low edge's limit.
        if (pan_screen < low) {
            if (v > 0)
                v = edge_pulled_speed(v, low - pan_screen, dt);
            if (m_speed == 0)
                axis.pan = step_towards(axis.pan, low * to_full(), step);
        } else if (pan_screen > high) {
            if (v < 0)
                v = -edge_pulled_speed(-v, pan_screen - high, dt);
            if (m_speed == 0)
                axis.pan = step_towards(axis.pan, high * to_full(), step);
        }
    }
    double const speed = std::hypot(vx, vy);
    if (speed > 0) {
        m_direction_x = vx / speed;
        m_direction_y = vy / speed;
    }
    m_speed = speed;
}

void TileView::animate_pan(double dt)
{
    m_speed = 0;
    double const scale = 1 / to_full();
    double const dx = (m_pan_target_x - m_pan_x) * scale;
    double const dy = (m_pan_target_y - m_pan_y) * scale;
    double const distance = std::hypot(dx, dy);
    double const diagonal = std::hypot(double(m_size.width), double(m_size.height));
    double const rate = kCentringSpeed * std::clamp(diagonal > 0 ? 10 * distance / diagonal : 10.0, 2.0, 10.0);
    double const step = rate * dt;
    if (distance <= step || distance == 0) {
        m_pan_x = m_pan_target_x;
        m_pan_y = m_pan_target_y;
        m_pan_animating = false;
        return;
    }
    m_pan_x += (m_pan_target_x - m_pan_x) * step / distance;
    m_pan_y += (m_pan_target_y - m_pan_y) * step / distance;
}

void TileView::advance(double seconds)
{
    Element::advance(seconds);
    double const dt = seconds;
    if (m_zoom != m_target_zoom) {
        double const levels = std::max(1.0, std::ceil(std::abs(m_target_zoom - m_tile_level)));
        double const rate = m_zoom_rate > 0 ? m_zoom_rate : m_zoom_speed * levels;
        m_zoom = step_towards(m_zoom, m_target_zoom, rate * dt);
    }
    if (m_zoom == m_target_zoom)
        m_zoom_rate = 0;
    if (m_speed > 0) {
        m_speed = coasted_speed(m_speed, dt, m_pen_down ? kHeldBrake : 1);
        if (!m_pen_down) {
            m_pan_x -= m_speed * m_direction_x * dt * to_full();
            m_pan_y -= m_speed * m_direction_y * dt * to_full();
        }
    }
    if (m_pan_animating)
        animate_pan(dt);
    else if (!m_pen_down && !m_unbounded)
        apply_edges(dt);

    bool const zoom_changed = m_zoom != m_reported_zoom;
    bool const moved = std::abs(m_pan_x - m_reported_pan_x) > 0.5 || std::abs(m_pan_y - m_reported_pan_y) > 0.5;
    if (!moved && !zoom_changed) {
        m_speed = 0;
        return;
    }
    m_reported_pan_x = m_pan_x;
    m_reported_pan_y = m_pan_y;
    m_reported_zoom = m_zoom;
    invalidate_drawing();
    if (m_gesture_listener)
        m_gesture_listener->on_pan_changed(*this, m_pan_x, m_pan_y, m_zoom);
}

bool TileView::on_pointer_button(PointerEvent const& event)
{
    if (event.down) {
        m_pen_down = true;
        m_pen.press(event.position, event.tick);
        m_speed = 0;
        m_pan_animating = false;
        return true;
    }
    if (!m_pen_down)
        return false;
    if (!event.position_unknown)
        on_pointer_move(PointerEvent { event.position, event.tick, true, false });
    m_pen_down = false;
    if (event.position_unknown)
        return true;
    bool const click = m_pen.is_tap();
    fling(click ? MotionVelocity {} : m_pen.velocity());
    if (click && m_gesture_listener)
        m_gesture_listener->on_view_click(*this, event.position);
    return true;
}

void TileView::fling(MotionVelocity velocity)
{
    auto const v = turned_to_picture(velocity.x, velocity.y, m_orientation);
    double const length = std::hypot(v.x, v.y);
    double const speed = std::min(kMaxFlingSpeed, length);
    if (speed > 0) {
        m_direction_x = v.x / length;
        m_direction_y = v.y / length;
    }
    m_speed = speed;
}

void TileView::on_pointer_move(PointerEvent const& event)
{
    if (!m_pen_down)
        return;
    auto const step = m_pen.add(event.position, event.tick);
    if (!step)
        return;
    auto const d = turned_to_picture(step->x, step->y, m_orientation);
    double const dx = resisted(d.x, m_pan_x, pan_range_x(), view_extent_x());
    double const dy = resisted(d.y, m_pan_y, pan_range_y(), view_extent_y());
    m_pan_x -= dx * to_full();
    m_pan_y -= dy * to_full();
    invalidate_drawing();
}

double TileView::resisted(double delta, double pan, PanRange range, double view) const
{
    // Past an edge the picture follows the pen less and less, the deeper
    // the edge is inside: it feels held back by a spring.
    double const past = drag_overscroll(delta, pan / to_full(), range.low / to_full(), range.high / to_full());
    return resisted_step(delta, past, view);
}

}
