#include "screens/ImageForm.h"

#include "base/Log.h"
#include "base/Milestones.h"
#include "base/Paths.h"
#include "base/Registry.h"
#include "catalog/PhotoCatalog.h"
#include "platform/System.h"
#include "platform/Window.h"
#include "screens/ScreenForm.h"
#include "skin/SkinErrors.h"
#include "widgets/ScreenHost.h"
#include "widgets/TextElement.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace qv {

namespace {

// Between neighbouring pictures.
constexpr double kGap = 20;
constexpr double kControlsSeconds = 4.0;

// Where the worker's finished tiles are announced; none without a window.
platform::WindowId wake_window()
{
    auto* application = ScreenHost::instance();
    return application ? application->window() : platform::WindowId {};
}

}

WString language_text(PropertiesImpl const& store, WStringView key, WStringView fallback)
{
    WString text = store.text(WString(key));
    return text.empty() || text == key ? WString(fallback) : text;
}

template<class T>
T& ImageForm::require(WStringView id)
{
    auto* element = dynamic_cast<T*>(find_child(id));
    if (!element)
        throw NodeNotFound(u"Image", WString(id));
    return *element;
}

ImageForm::ImageForm(PropertiesImpl const& store, PhotoCatalog& catalog, WString placeholder_dir)
    : m_catalog(catalog)
    , m_store(store)
    , m_tiles(std::move(placeholder_dir), store.scale_quarters(), wake_window())
{
    if (!load_form(store, u"Image"))
        throw NodeNotFoundInSkin(u"Image");
    m_back = &require<ButtonElement>(u"btnBack");
    m_minus = &require<ButtonElement>(u"btnMinus");
    m_plus = &require<ButtonElement>(u"btnPlus");
    m_landscape_button = &require<ButtonElement>(u"btnLandscape");
    m_number_text = &require<TextElement>(u"btnNumText");
    m_log_text = &require<TextElement>(u"btnLog2");
    m_log_text->set_visible(false);
    m_top_band = find_child(u"topBand");
    m_bottom_band = find_child(u"bottomBand");
    for (auto* band : { m_top_band, m_bottom_band })
        if (band)
            band->set_visible(false);
    m_problem_text = dynamic_cast<TextElement*>(find_child(u"problemText"));
    if (m_problem_text)
        m_problem_text->set_visible(false);
    load_problem_texts(store);
    char16_t const* const view_ids[3] = { u"left", u"center", u"right" };
    for (int k = 0; k < 3; ++k) {
        m_slot_storage[k].view = &require<TileView>(view_ids[k]);
        m_slots[k] = &m_slot_storage[k];
        m_slot_storage[k].view->set_tile_listener(this);
        m_slot_storage[k].view->set_gesture_listener(this);
    }
    for (auto const* id : { u"btnBack", u"btnMinus", u"btnPlus", u"btnLandscape" })
        bind_child(id, this);
    make_centre_interactive();
    m_of_text = store.text(u"of");
    // Measured once now: the first measure opens the font's face, which
    // opening a picture should not wait for. It stays hidden until then.
    m_number_text->set_text(u"0123456789 " + m_of_text);
    // The information panel is the skin's to leave out; its texts too.
    m_info = find_child(u"info");
    if (m_info) {
        auto text = [this](WStringView id) { return dynamic_cast<TextElement*>(find_child(id)); };
        m_info_name = text(u"infoName");
        m_info_folder = text(u"infoFolder");
        m_info_pixels = text(u"infoPixels");
        m_info_file_size = text(u"infoFileSize");
        m_info_date_label = text(u"infoDateLabel");
        m_info_date = text(u"infoDate");
        m_info->set_visible(false);
    }
    m_info_format.date_pattern = language_text(store, u"DateFormat", m_info_format.date_pattern);
    m_info_format.decimal_point = language_text(store, u"DecimalPoint", m_info_format.decimal_point);
    m_info_format.bytes = language_text(store, u"UnitBytes", m_info_format.bytes);
    m_info_format.kilobytes = language_text(store, u"UnitKB", m_info_format.kilobytes);
    m_info_format.megabytes = language_text(store, u"UnitMB", m_info_format.megabytes);
    m_menu.bind(store, u"MenuPanel");
    m_menu.set_source(this);
    m_menu.set_default_template(u"MenuElement");
    m_catalog.add_listener(this);
    Log::get() << u"image form\n";
}

ImageForm::~ImageForm()
{
    stop_slideshow();
    m_tiles.stop();
    m_catalog.remove_listener(this);
}

void ImageForm::make_centre_interactive()
{
    // Only the centre picture takes the pen, and after the buttons, which
    // lie over it.
    for (auto& slot : m_slot_storage)
        forget(slot.view);
    register_interactive(m_slots[1]->view);
}

void ImageForm::open(std::shared_ptr<std::vector<WString> const> pictures, std::int32_t index, WString search_root)
{
    open(std::move(pictures), index, std::make_shared<std::vector<WString> const>(1, std::move(search_root)));
}

WString const& ImageForm::search_root(std::int32_t index) const
{
    static WString const none;
    if (!m_search_roots || m_search_roots->empty())
        return none;
    if (m_search_roots->size() == 1)
        return m_search_roots->front();
    return index >= 0 && static_cast<std::size_t>(index) < m_search_roots->size() ? (*m_search_roots)[index] : none;
}

void ImageForm::close()
{
    if (m_menu.is_open())
        m_menu.close();
    leave();
}

void ImageForm::open(std::shared_ptr<std::vector<WString> const> pictures, std::int32_t index,
    std::shared_ptr<std::vector<WString> const> search_roots)
{
    m_first_frame_pending = true;
    m_pictures = std::move(pictures);
    if (!m_pictures)
        m_pictures = std::make_shared<std::vector<WString> const>();
    m_current = std::clamp(index, 0, std::max(0, picture_count() - 1));
    m_search_roots = std::move(search_roots);
    m_slide_pending = m_slide_running = false;
    m_gesture_state = 0;
    m_landscape = false;
    m_back->set_visible(false);
    m_landscape_button->set_visible(false);
    m_number_text->set_visible(false);
    m_minus->set_visible(false);
    show_bands();
    Log::get() << u"Landscape not visible\n";
    m_tiles.set_idle(true);
    m_controls_timer = 0;
    m_controls_visible = true;
    write_position();
    m_active = true;
    // Another album may have the same screen size: always load anew.
    m_loaded_size = Size {};
    invalidate_layout();
    if (auto* application = ScreenHost::instance())
        application->push_screen(&screen(), false);
}

void ImageForm::layout_horizontal()
{
    Form::layout_horizontal();
    place_views(m_place_a, m_place_b);
}

void ImageForm::layout_vertical()
{
    Form::layout_vertical();
    if (m_active && m_pictures && m_size != m_loaded_size && m_size.width > 0 && m_size.height > 0) {
        m_loaded_size = m_size;
        load_all();
    } else {
        place_views(m_place_a, m_place_b);
    }
}

void ImageForm::centre_edges(double& a, double& b) const
{
    TileView const& view = *m_slots[1]->view;
    double const extent = view.view_extent_x();
    double left = extent / 2 - view.pan().x / view.to_full();
    double right = left + view.displayed_width();
    if (right - left < extent) {
        double const middle = (left + right) / 2;
        left = middle - extent / 2;
        right = middle + extent / 2;
    }
    a = left - extent;
    b = right;
}

void ImageForm::place_views(double a, double b)
{
    m_place_a = a;
    m_place_b = b;
    auto* left = m_slots[0]->view;
    auto* centre = m_slots[1]->view;
    auto* right = m_slots[2]->view;
    auto const l = static_cast<std::int32_t>(std::floor(a - kGap));
    auto const r = static_cast<std::int32_t>(std::floor(b + kGap));
    centre->set_horizontal(0, m_size.width);
    centre->set_vertical(0, m_size.height);
    if (m_landscape) {
        left->set_horizontal(0, m_size.width);
        left->set_vertical(l, m_size.height);
        right->set_horizontal(0, m_size.width);
        right->set_vertical(r, m_size.height);
    } else {
        left->set_horizontal(l, m_size.width);
        left->set_vertical(0, m_size.height);
        right->set_horizontal(r, m_size.width);
        right->set_vertical(0, m_size.height);
    }
    invalidate_drawing();
}

void ImageForm::place_after_centre()
{
    double a = 0;
    double b = 0;
    centre_edges(a, b);
    place_views(a, b);
}

void ImageForm::write_position()
{
    m_number_text->set_text(to_wstring(m_current + 1) + u" " + m_of_text + u" " + to_wstring(picture_count()));
    show_problem();
}

// ---- Tiles -----------------------------------------------------------------

void ImageForm::add_tile(TileView& view, int level, int column, int row)
{
    ViewSlot* slot = nullptr;
    for (auto* candidate : m_slots)
        if (candidate->view == &view)
            slot = candidate;
    if (!slot || slot->picture < 0)
        return;
    auto log = Log::get();
    log << u"add tile " << file_name_of(picture_path(*slot)) << u" " << level << u" " << column << u" " << row;
    log << (m_tiles.request(*slot, m_landscape, level, column, row) ? u"realy add\n" : u"clear\n");
}

void ImageForm::deliver_tiles()
{
    // While the user waits for a picture to appear, every finished tile
    // goes in at once; once it shows, one a frame keeps panning smooth.
    if (!m_first_frame_pending) {
        deliver_one_tile();
        return;
    }
    while (m_tiles.finished() > 0)
        deliver_one_tile();
}

void ImageForm::deliver_one_tile()
{
    auto request = m_tiles.take_finished();
    if (!request)
        return;
    ViewSlot& slot = *request->slot;
    if (request->generation != slot.generation)
        return;
    if (request->problem != PictureProblem::None) {
        picture_failed(slot, request->problem);
        return;
    }
    if (request->cache_damaged && slot.state == ViewSlot::Cached) {
        cache_failed(slot);
        return;
    }
    if (!request->tile)
        return;
    auto surface = std::make_unique<RenderSurface>();
    surface->adopt(std::move(request->tile));
    slot.view->put_piece(request->level, request->column, request->row, std::move(surface));
    Log::get() << u"found " << file_name_of(picture_path(slot)) << u" " << request->level << u" " << request->column
               << u" " << request->row << u"\n";
}

// ---- Frames ----------------------------------------------------------------

void ImageForm::update_controls(double seconds)
{
    if (m_tap_timer >= 0) {
        m_tap_timer -= seconds;
        if (m_tap_timer < 0) {
            m_controls_visible = !m_controls_visible;
            m_controls_timer = 0;
        }
    }
    if (m_controls_visible && m_controls_timer < kControlsSeconds) {
        m_back->set_visible(true);
        m_number_text->set_visible(true);
        m_landscape_button->set_visible(true);
        m_controls_timer += seconds;
    } else {
        m_back->set_visible(false);
        m_number_text->set_visible(false);
        m_landscape_button->set_visible(false);
        m_controls_visible = false;
        m_controls_timer = 0;
    }
}

void ImageForm::show_bands()
{
    // Each shade while anything it backs shows.
    if (m_top_band)
        m_top_band->set_visible(m_back->visible() || m_number_text->visible());
    if (m_bottom_band)
        m_bottom_band->set_visible(m_landscape_button->visible() || m_minus->visible() || m_plus->visible());
}

void ImageForm::advance(double seconds)
{
    update_controls(seconds);
    m_catalog.poll_events();

    ViewSlot const& centre = *m_slots[1];
    m_minus->set_visible(centre.view->zoom() > centre.fit_zoom);
    m_plus->set_visible(centre.view->zoom() + 1.0 <= centre.view->top_level());
    show_bands();

    deliver_tiles();
    if (m_tiles.idle() && !m_landscape_button->enabled()) {
        m_landscape_button->set_enabled(true);
        Log::get() << u"Landscape enabled\n";
    }
    bool const swiping = m_slide_pending;
    if (swiping)
        update_swipe();
    advance_slideshow(seconds);

    Form::advance(seconds);

    if (!swiping)
        settle_gesture();
    if (m_info_visible)
        refresh_info();
}

void ImageForm::settle_gesture()
{
    TileView& view = *m_slots[1]->view;
    if (m_gesture_state == 1 && !view.pen_down() && view.speed() == 0) {
        view.set_pan_target(clamp_to(view.pan_range_x(), view.pan().x), clamp_to(view.pan_range_y(), view.pan().y));
        m_gesture_state = 0;
    } else if (m_gesture_state == 2 && view.at_rest()
        && (view.zoom() == view.target_zoom() || view.zoom() == m_slots[1]->fit_zoom)) {
        m_gesture_state = 0;
    }
}

void ImageForm::update_swipe()
{
    TileView& view = *m_slots[1]->view;
    double const full = view.to_full();
    if (!m_slide_running) {
        view.stop_motion();
        double const extent = view.view_extent_x();
        double const narrow = std::max(0.0, (extent - view.displayed_width()) / 2);
        double const beyond = (extent / 2 + kGap + narrow) * full;
        double const x = m_slide_direction < 0 ? -beyond : view.picture_width() + beyond;
        m_slide_target = PicturePoint { x, clamp_to(view.pan_range_y(), view.pan().y) };
        view.set_pan_target(m_slide_target.x, m_slide_target.y);
        m_slide_running = true;
        return;
    }
    auto const pan = view.pan();
    if (std::abs(pan.x - m_slide_target.x) / full > 2 || std::abs(pan.y - m_slide_target.y) / full > 1)
        return;
    view.set_zoom(view.zoom());
    show_neighbour(m_slide_direction);
    m_slide_pending = m_slide_running = false;
    if (int const queued = std::exchange(m_queued_slide, 0))
        slide(queued);
}

void ImageForm::slide(int direction)
{
    std::int32_t const next = m_current + (direction < 0 ? -1 : 1);
    if (!m_active || next < 0 || next >= picture_count())
        return;
    if (m_slide_pending) {
        m_queued_slide = direction < 0 ? -1 : 1;
        return;
    }
    // The zoom stops where it is and its anchor is let go: the slide moves
    // the picture now, and nothing may pull it back.
    TileView& view = *m_slots[1]->view;
    view.set_zoom(view.zoom());
    m_gesture_state = 0;
    m_tap_timer = -1;
    m_slide_pending = true;
    m_slide_running = false;
    m_slide_direction = direction < 0 ? -1 : 1;
}

void ImageForm::go_to(std::int32_t index)
{
    if (!m_active || index < 0 || index >= picture_count() || index == m_current)
        return;
    if (index == m_current - 1 || index == m_current + 1) {
        slide(index - m_current);
        return;
    }
    Log::get() << u"image form: go to " << index << u"\n";
    m_slide_pending = m_slide_running = false;
    m_queued_slide = 0;
    m_gesture_state = 0;
    m_tap_timer = -1;
    m_tiles.forget(nullptr);
    m_current = index;
    write_position();
    if (m_loaded_size.width > 0 && m_loaded_size.height > 0)
        load_all();
    else
        invalidate_layout();
}

void ImageForm::show_neighbour(int direction)
{
    bool const left = direction < 0;
    Log::get() << (left ? u"Set Left\n" : u"Set Right\n");
    std::int32_t const next = m_current + (left ? -1 : 1);
    if (next < 0 || next >= picture_count())
        return;
    // The slot on the far side leaves, and comes back on the near side for
    // the new neighbour.
    int const outer = left ? 0 : 2;
    m_tiles.forget(m_slots[2 - outer]);
    Log::get() << (left ? u"Set Left clear end\n" : u"Set Right clear end\n");
    m_current = next;
    if (left)
        m_slots = { m_slots[2], m_slots[0], m_slots[1] };
    else
        m_slots = { m_slots[1], m_slots[2], m_slots[0] };
    std::int32_t const beyond = next + (left ? -1 : 1);
    if (beyond >= 0 && beyond < picture_count()) {
        reset(outer);
        restart(outer);
    } else {
        show_empty(outer);
    }
    for (int k : { 1, outer }) {
        TileView& view = *m_slots[k]->view;
        view.set_pan(view.picture_width() / 2.0, view.picture_height() / 2.0);
        view.set_pan_target(view.picture_width() / 2.0, view.picture_height() / 2.0);
    }
    m_slots[1]->view->set_target_zoom(m_slots[1]->fit_zoom);
    make_centre_interactive();
    place_after_centre();
    write_position();
}

}
