// The viewer's input: gestures, buttons, keys, the wheel and its menu, and
// the slideshow and information panel they open.

#include "screens/ImageForm.h"

#include "base/Log.h"
#include "base/Milestones.h"
#include "base/Paths.h"
#include "base/Registry.h"
#include "catalog/AlbumListing.h"
#include "catalog/PhotoCatalog.h"
#include "platform/System.h"
#include "platform/Window.h"
#include "screens/ScreenForm.h"
#include "widgets/ScreenHost.h"
#include "widgets/TextElement.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace qv {

namespace {

constexpr double kDoubleTapSeconds = 0.4;

// A notch of the wheel zooms by a quarter over about an eighth of a second,
// quick enough to follow a spinning wheel; parts of a notch zoom as much of
// a quarter (in levels, so that turns add up exactly).
constexpr double kWheelStep = 1.25;
constexpr double kWheelSeconds = 0.12;
// "+" and "-": half a level, the square root of two, a press.
constexpr double kKeyZoomLevels = 0.5;
constexpr double kKeyZoomSeconds = 0.15;
// The whole picture, full size, and the double click between them.
constexpr double kJumpSeconds = 0.25;
// An arrow pans by a sixth of the view: small enough to keep one's place,
// large enough that a held key crosses a picture in a few seconds.
constexpr double kKeyPanFraction = 1.0 / 6;
// Zooms this close to a mark count as at it.
constexpr double kZoomSlack = 1e-6;
// The viewer's own menu. Its caption is the picture's name, so its name
// needs no text in the languages.
constexpr char16_t const* kViewerMenu = u"ViewerMenu";

// The letters and digits the viewer answers to.
constexpr Key kKeyF = Key(25);
constexpr Key kKeyI = Key(28);
constexpr Key kKeyR = Key(37);
constexpr Key kKeyS = Key(38);
constexpr Key kKeyZ = Key::Z;
constexpr Key kKey0 = Key::Digit0;
constexpr Key kKey1 = Key(static_cast<int>(Key::Digit0) + 1);

}

// ---- Gestures and buttons --------------------------------------------------

void ImageForm::start_zoom(Point anchor, double target, double seconds)
{
    TileView& view = *m_slots[1]->view;
    m_anchor_picture = view.screen_to_picture(anchor);
    m_anchor_offset = PicturePoint { (m_anchor_picture.x - view.pan().x) / view.to_full(),
        (m_anchor_picture.y - view.pan().y) / view.to_full() };
    m_anchor_zoom = view.zoom();
    m_gesture_state = 2;
    target = std::min(target, static_cast<double>(view.top_level()));
    if (seconds > 0)
        view.animate_zoom(target, seconds);
    else
        view.set_target_zoom(target);
}

double ImageForm::whole_zoom() const { return m_slots[1]->fit_zoom; }

double ImageForm::full_zoom() const { return m_slots[1]->view->top_level(); }

bool ImageForm::zoomed_in() const { return m_slots[1]->view->target_zoom() > whole_zoom() + kZoomSlack; }

void ImageForm::zoom_to(Point anchor, double target, double seconds)
{
    if (!m_active || picture_count() == 0 || m_slide_pending)
        return;
    start_zoom(anchor, std::clamp(target, whole_zoom(), std::max(whole_zoom(), full_zoom())), seconds);
}

Point ImageForm::view_centre() const
{
    TileView const& view = *m_slots[1]->view;
    return Point { view.position().x + view.size().width / 2, view.position().y + view.size().height / 2 };
}

bool ImageForm::at_edge(int direction) const
{
    TileView const& view = *m_slots[1]->view;
    PanRange const range = view.pan_range_x();
    double const x = view.pan_animating() ? view.pan_target().x : view.pan().x;
    // Within half a screen pixel: the pan rests on the edge, not beside it.
    double const slack = 0.5 * view.to_full();
    return direction < 0 ? x <= range.low + slack : x >= range.high - slack;
}

bool ImageForm::pan_by_key(double dx, double dy)
{
    TileView& view = *m_slots[1]->view;
    // Steps add up while the pan is still on its way: a held key glides.
    PicturePoint const from = view.pan_animating() ? view.pan_target() : view.pan();
    double const full = view.to_full();
    double const x = clamp_to(view.pan_range_x(), from.x + dx * view.view_extent_x() * kKeyPanFraction * full);
    double const y = clamp_to(view.pan_range_y(), from.y + dy * view.view_extent_y() * kKeyPanFraction * full);
    if (std::abs(x - from.x) < 0.5 * full && std::abs(y - from.y) < 0.5 * full)
        return false;
    // A zoom under way goes on about the view's centre, no longer pulled
    // to where it started.
    if (m_gesture_state == 2)
        m_gesture_state = 0;
    view.stop_motion();
    view.set_pan_target(x, y);
    return true;
}

void ImageForm::horizontal_key(int direction)
{
    if (zoomed_in() && !at_edge(direction)) {
        pan_by_key(direction, 0);
        return;
    }
    slide(direction);
}

void ImageForm::on_pan_changed(TileView& view, double, double, double zoom)
{
    if (&view != m_slots[1]->view)
        return;
    if (m_gesture_state == 2) {
        // The anchor's picture point stays under its screen point: its
        // screen offset from the centre is fixed, so the pan follows the scale.
        double const full = view.to_full();
        double const x = clamp_to(view.pan_range_x(), m_anchor_picture.x - m_anchor_offset.x * full);
        double const y = clamp_to(view.pan_range_y(), m_anchor_picture.y - m_anchor_offset.y * full);
        view.set_pan(x, y);
        view.set_pan_target(x, y);
    }
    place_after_centre();
    if (view.pen_down()) {
        m_gesture_state = 1;
        return;
    }
    if (m_slide_pending)
        return;
    double const extent = view.view_extent_x();
    if (m_place_a > -0.75 * extent && m_current > 0) {
        m_slide_pending = true;
        m_slide_direction = -1;
    } else if (m_place_b < 0.75 * extent && m_current + 1 < picture_count()) {
        m_slide_pending = true;
        m_slide_direction = 1;
    }
}

void ImageForm::on_view_click(TileView& view, Point point)
{
    if (&view != m_slots[1]->view)
        return;
    if (m_double_click_pending) {
        // The release of a double click: whole picture and full size take
        // turns, about the point clicked.
        m_double_click_pending = false;
        bool const at_full = view.target_zoom() >= full_zoom() - kZoomSlack;
        zoom_to(m_double_click_point, at_full ? whole_zoom() : full_zoom(), kJumpSeconds);
        return;
    }
    if (m_tap_timer < 0) {
        m_tap_timer = kDoubleTapSeconds;
    } else {
        m_tap_timer = -1;
        ViewSlot const& slot = *m_slots[1];
        double const zoom = view.zoom();
        bool const from_file = (slot.state == ViewSlot::Loading || slot.state == ViewSlot::Bad) && slot.creator_ok;
        if (!(zoom + 1.0 > view.top_level() || m_gesture_state == 2 || (from_file && zoom + 1.0 > 2.0)))
            start_zoom(point, round_zoom(zoom) + 1);
    }
    m_log_text->set_text(to_wstring(m_gesture_state));
}

bool ImageForm::on_click(Element& source, Point)
{
    TileView& view = *m_slots[1]->view;
    Point const centre { view.position().x + view.size().width / 2, view.position().y + view.size().height / 2 };
    if (&source == m_back) {
        leave();
    } else if (&source == m_minus) {
        if (m_gesture_state == 2)
            return true;
        double const fit = m_slots[1]->fit_zoom;
        double target = view.target_zoom() - 1.0;
        if ((view.zoom() == 1.0 && std::round(fit) == 0) || (view.zoom() == 2.0 && std::round(fit) == 1))
            target = fit;
        start_zoom(centre, std::max(target, fit));
    } else if (&source == m_plus) {
        if (m_gesture_state == 2)
            return true;
        start_zoom(centre, round_zoom(view.zoom()) + 1);
    } else if (&source == m_landscape_button) {
        rotate();
    }
    return true;
}

void ImageForm::leave()
{
    stop_slideshow();
    m_tiles.rest();
    m_loaded_size = Size {};
    m_active = false;
    m_tap_timer = -1;
    m_slide_pending = m_slide_running = false;
    m_queued_slide = 0;
    m_double_click_pending = false;
    if (auto* application = ScreenHost::instance())
        application->remove_screen(&screen());
}

void ImageForm::rotate()
{
    // Until the worker has made the turned tiles, as the button shows.
    if (!m_landscape_button->enabled())
        return;
    m_slide_pending = m_slide_running = false;
    m_queued_slide = 0;
    m_tiles.forget(nullptr);
    m_landscape = !m_landscape;
    load_all();
    m_controls_timer = 0;
    m_landscape_button->set_enabled(false);
    Log::get() << u"Landscape disabled\n";
    m_tiles.set_idle(false);
}

void ImageForm::draw(DrawTarget& target, Point origin)
{
    Form::draw(target, origin);
    if (!m_first_frame_pending)
        return;
    // The moment the user sees the picture itself, for the benchmark of
    // opening one: every tile drawn is the right one, none a stand-in.
    bool any = false, whole = true;
    for (auto const& tile : m_slots[1]->view->tiles())
        if (tile.drawn_last_frame) {
            any = true;
            whole = whole && !tile.pending && !tile.preview;
        }
    if (any && whole) {
        m_first_frame_pending = false;
        Log::get() << platform::tick_count() << u" " << milestone::kFirstFullFrame << u"\n";
    }
}

bool ImageForm::on_key(KeyInput const& key)
{
    if (m_slideshow && key.down) {
        // The key stops the show and does nothing else: whoever presses
        // something wants the pictures to stand still first.
        stop_slideshow();
        return true;
    }
    if (Form::on_key(key))
        return true;
    if (!key.down)
        return false;
    if (key.key == Key::Backspace) {
        Log::get() << u"image form: back\n";
        leave();
        return true;
    }
    if (!m_active || picture_count() == 0)
        return false;
    TileView& view = *m_slots[1]->view;
    switch (key.key) {
    case Key::Left:
        horizontal_key(-1);
        return true;
    case Key::Right:
        horizontal_key(1);
        return true;
    case Key::PageUp:
        slide(-1);
        return true;
    case Key::PageDown:
    case Key::Space:
        slide(1);
        return true;
    case Key::Up:
    case Key::Down:
        if (zoomed_in())
            pan_by_key(0, key.key == Key::Up ? -1 : 1);
        return true;
    case Key::Plus:
    case Key::Minus:
        zoom_to(view_centre(), view.target_zoom() + (key.key == Key::Plus ? kKeyZoomLevels : -kKeyZoomLevels),
            kKeyZoomSeconds);
        return true;
    case Key::Home:
        if (key.first)
            go_to(0);
        return true;
    case Key::End:
        if (key.first)
            go_to(picture_count() - 1);
        return true;
    case Key::SoftRight:
    case Key::ContextMenu:
        if (key.first)
            open_menu();
        return true;
    case Key::F11:
        if (key.first)
            if (auto* application = ScreenHost::instance())
                application->toggle_full_screen();
        return true;
    default:
        break;
    }
    // Letters and digits act once a press, not again while held.
    if (!key.first)
        return false;
    if (key.key == kKey0 || key.key == kKeyZ) {
        zoom_to(view_centre(), whole_zoom(), kJumpSeconds);
    } else if (key.key == kKey1) {
        zoom_to(view_centre(), full_zoom(), kJumpSeconds);
    } else if (key.key == kKeyR) {
        rotate();
    } else if (key.key == kKeyI) {
        show_info(!m_info_visible);
    } else if (key.key == kKeyF) {
        if (auto* application = ScreenHost::instance())
            application->toggle_full_screen();
    } else if (key.key == kKeyS) {
        start_slideshow();
    } else {
        return false;
    }
    return true;
}

bool ImageForm::on_pointer_button(PointerEvent const& event)
{
    if (event.down) {
        // A press that is not the second of a double click ends any
        // double click before it.
        m_double_click_pending = false;
        if (m_slideshow) {
            stop_slideshow();
            m_swallowing_press = true;
            return true;
        }
    } else if (m_swallowing_press) {
        m_swallowing_press = false;
        return true;
    }
    return Form::on_pointer_button(event);
}

bool ImageForm::on_wheel(Point point, double notches, bool)
{
    if (m_slideshow) {
        stop_slideshow();
        return true;
    }
    // Steps add up while the zoom is under way: a spun wheel goes as far
    // as its notches say, about wherever the pointer is now.
    TileView const& view = *m_slots[1]->view;
    zoom_to(point, view.target_zoom() + notches * std::log2(kWheelStep), kWheelSeconds);
    return true;
}

bool ImageForm::on_double_click(Point point)
{
    if (m_slideshow) {
        stop_slideshow();
        return true;
    }
    // Over a button it is two presses of the button, nothing more.
    for (auto* button : { m_back, m_minus, m_plus, m_landscape_button })
        if (button->visible() && button->hit_test(point))
            return false;
    m_double_click_pending = true;
    m_double_click_point = point;
    // The first click's tap would show or hide the controls meanwhile.
    m_tap_timer = -1;
    return true;
}

bool ImageForm::on_menu_click(Point)
{
    if (m_slideshow) {
        stop_slideshow();
        return true;
    }
    open_menu();
    return true;
}

void ImageForm::open_menu()
{
    if (!m_active)
        return;
    m_menu.show_menu(kViewerMenu, u"", false);
}

void ImageForm::get_items(MenuScreen&, WStringView name, WString& caption, std::vector<MenuItem>& items)
{
    Log::get() << u"image form: menu " << name << u"\n";
    auto* application = ScreenHost::instance();
    if (name == kViewerMenu) {
        caption = picture_count() > 0 ? file_name_of((*m_pictures)[m_current]) : WString();
        items.push_back(menu_item(u"Slideshow"));
        items.push_back(menu_item(u"SlideshowInterval"));
        MenuItem info = menu_item(u"PictureInfo");
        info.checked = m_info_visible;
        info.enabled = m_info != nullptr;
        items.push_back(info);
        MenuItem full = menu_item(u"FullScreen");
        full.checked = application && application->full_screen();
        items.push_back(full);
        items.push_back(menu_item(u"Cancel", u"MenuElementCancel"));
    } else if (name == u"SlideshowInterval") {
        std::uint32_t seconds = kDefaultSlideshowSeconds;
        read_dword(kMakerKey, kSlideshowSetting, seconds);
        for (std::uint32_t choice : kSlideshowChoices) {
            WString const number = to_wstring(static_cast<std::int32_t>(choice));
            MenuItem item = menu_item(u"Interval" + number, {},
                number + u"\u00A0" + language_text(m_store, u"SecondsShort", u"s"));
            item.checked = choice == seconds;
            items.push_back(item);
        }
        items.push_back(menu_item(u"Cancel", u"MenuElementCancel"));
    } else if (name.starts_with(u"Interval")) {
        std::int64_t seconds = 0;
        for (char16_t c : name.substr(8))
            seconds = c >= u'0' && c <= u'9' && seconds < 100000 ? seconds * 10 + (c - u'0') : -1;
        if (seconds > 0) {
            write_dword(kMakerKey, kSlideshowSetting, static_cast<std::uint32_t>(seconds));
            m_slideshow_seconds = static_cast<double>(seconds);
        }
    } else if (name == u"Slideshow") {
        start_slideshow();
    } else if (name == u"PictureInfo") {
        show_info(!m_info_visible);
    } else if (name == u"FullScreen") {
        if (application)
            application->toggle_full_screen();
    }
}

// ---- Slideshow and information ------------------------------------------

void ImageForm::start_slideshow()
{
    if (!m_active || picture_count() == 0)
        return;
    std::uint32_t seconds = kDefaultSlideshowSeconds;
    // A value the user could not have meant (none, or over an hour) is the
    // default; the file keeps whatever it says.
    if (!read_dword(kMakerKey, kSlideshowSetting, seconds) || seconds < 1 || seconds > 3600)
        seconds = kDefaultSlideshowSeconds;
    m_slideshow_seconds = seconds;
    m_slideshow_timer = 0;
    m_slideshow = true;
    // The pictures, not the buttons.
    m_controls_visible = false;
    m_tap_timer = -1;
    platform::inhibit_screen_saver(true);
    Log::get() << u"image form: slideshow every " << static_cast<std::int32_t>(seconds) << u" s\n";
}

void ImageForm::stop_slideshow()
{
    if (!m_slideshow)
        return;
    m_slideshow = false;
    platform::inhibit_screen_saver(false);
    Log::get() << u"image form: slideshow stopped\n";
}

void ImageForm::advance_slideshow(double seconds)
{
    if (!m_slideshow)
        return;
    // Each picture stands for the whole pace once it has slid in.
    if (m_slide_pending)
        return;
    m_slideshow_timer += seconds;
    if (m_slideshow_timer < m_slideshow_seconds)
        return;
    m_slideshow_timer = 0;
    // After the last picture the show is over, and the screen may rest.
    if (m_current + 1 >= picture_count()) {
        stop_slideshow();
        return;
    }
    slide(1);
}

void ImageForm::show_info(bool visible)
{
    if (!m_info)
        return;
    m_info_visible = visible;
    m_info->set_visible(visible);
    m_info_picture = -1;
    if (visible)
        refresh_info();
}

void ImageForm::refresh_info()
{
    ViewSlot const& slot = *m_slots[1];
    if (picture_count() == 0 || (m_info_picture == m_current && m_info_generation == slot.generation))
        return;
    m_info_picture = m_current;
    m_info_generation = slot.generation;
    WString const& path = (*m_pictures)[m_current];
    PictureFacts const facts = read_picture_facts(path);
    auto set = [](TextElement* element, WStringView text) {
        if (element)
            element->set_text(text);
    };
    // The RAW a camera saved with it is this picture too: named beside it.
    auto const raw = raw_companion(path);
    set(m_info_name, raw ? facts.name + u" + " + *raw : facts.name);
    set(m_info_folder, facts.folder);
    // The size the picture shows at, Exif turns included; none for one
    // that shows its broken-picture icon instead.
    bool const shown = slot.picture >= 0 && slot.problem == PictureProblem::None && slot.creator
        && (slot.state == ViewSlot::Cached || slot.creator_ok) && slot.creator->width() > 0;
    set(m_info_pixels, shown ? format_pixel_size(slot.creator->width(), slot.creator->height()) : u"\u2013");
    set(m_info_file_size, facts.file_size ? format_file_size(*facts.file_size, m_info_format) : u"\u2013");
    set(m_info_date_label, language_text(m_store, facts.taken_by_camera ? u"InfoTaken" : u"InfoModified",
                               facts.taken_by_camera ? u"Taken" : u"Modified"));
    set(m_info_date, facts.date ? format_date(*facts.date, m_info_format) : u"\u2013");
    Log::get() << u"image form: information on " << facts.name << (facts.taken_by_camera ? u" taken " : u" changed ")
               << (facts.date ? format_date(*facts.date, m_info_format) : WString()) << u"\n";
}

}
