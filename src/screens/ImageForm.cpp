#include "screens/ImageForm.h"

#include "widgets/ScreenHost.h"
#include "base/FileStream.h"
#include "base/Log.h"
#include "base/Paths.h"
#include "catalog/PhotoCatalog.h"
#include "imaging/Picture.h"
#include "imaging/PixelOp.h"
#include "platform/System.h"
#include "skin/SkinErrors.h"
#include "thumbcache/CacheFile.h"
#include "widgets/TextElement.h"

#include <algorithm>
#include <cmath>

namespace qv {

namespace {

// Between neighbouring pictures.
constexpr double kGap = 20;
constexpr double kControlsSeconds = 4.0;
constexpr double kDoubleTapSeconds = 0.4;

// Turned a quarter clockwise: source (x, y) lands on (height - 1 - y, x).
std::unique_ptr<PixelBuffer> turned_clockwise(PixelBuffer const& source)
{
    auto turned = PixelBuffer::create(source.height(), source.width());
    if (!turned)
        return nullptr;
    int const h = source.height();
    for (int y = 0; y < h; ++y) {
        auto const* row = source.row(y);
        for (int x = 0; x < source.width(); ++x)
            turned->at(h - 1 - y, x) = row[x];
    }
    return turned;
}

WString name_of(WString const& path) { return file_name_of(path); }

// The language file's line for each reason a picture cannot be shown.
char16_t const* problem_key(PictureProblem problem)
{
    switch (problem) {
    case PictureProblem::None:
        return nullptr;
    case PictureProblem::Missing:
        return u"BadMissing";
    case PictureProblem::Empty:
        return u"BadEmpty";
    case PictureProblem::NotJpeg:
        return u"BadNotJpeg";
    case PictureProblem::Damaged:
        return u"BadDamaged";
    case PictureProblem::Precision:
        return u"BadPrecision";
    case PictureProblem::Unsupported:
        return u"BadUnsupported";
    case PictureProblem::Storage:
        return u"BadStorage";
    }
    return nullptr;
}

}

template<class T>
T& ImageForm::require(WStringView id)
{
    auto* element = dynamic_cast<T*>(find_child(id));
    if (!element)
        throw NodeNotFound(u"Image", WString(id));
    return *element;
}

ImageForm::ImageForm(PropertiesImpl const& store, PhotoCatalog* catalog, WString placeholder_dir)
    : m_catalog(catalog)
    , m_placeholder_dir(std::move(placeholder_dir))
{
    if (!load_form(store, u"Image"))
        throw NodeNotFoundInSkin(u"Image");
    if (auto* application = ScreenHost::instance())
        m_wake_window = application->window();
    m_back = &require<ButtonElement>(u"btnBack");
    m_minus = &require<ButtonElement>(u"btnMinus");
    m_plus = &require<ButtonElement>(u"btnPlus");
    m_landscape_button = &require<ButtonElement>(u"btnLandscape");
    m_number_text = &require<TextElement>(u"btnNumText");
    m_log_text = &require<TextElement>(u"btnLog2");
    m_log_text->set_visible(false);
    m_problem_text = dynamic_cast<TextElement*>(find_child(u"problemText"));
    if (m_problem_text)
        m_problem_text->set_visible(false);
    for (int k = 0; k < kProblemCount; ++k)
        if (auto const* key = problem_key(static_cast<PictureProblem>(k)))
            m_problem_texts[k] = store.text(key);
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
    if (m_catalog)
        m_catalog->add_listener(this);
    m_worker.start();
    Log::get() << u"image form\n";
}

ImageForm::~ImageForm()
{
    m_worker.request_stop();
    m_wake.set();
    m_worker.join();
    if (m_catalog)
        m_catalog->remove_listener(this);
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
    m_first_frame_pending = true;
    m_pictures = std::move(pictures);
    if (!m_pictures)
        m_pictures = std::make_shared<std::vector<WString> const>();
    m_current = std::clamp(index, 0, std::max(0, picture_count() - 1));
    m_search_root = std::move(search_root);
    m_slide_pending = m_slide_running = false;
    m_gesture_state = 0;
    m_landscape = false;
    m_back->set_visible(false);
    m_landscape_button->set_visible(false);
    m_number_text->set_visible(false);
    m_minus->set_visible(false);
    Log::get() << u"Landscape not visible\n";
    {
        MutexLock lock(m_idle_mutex);
        m_worker_idle = true;
    }
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

WString const& ImageForm::picture_path(ViewSlot const& slot) const
{
    static WString const none;
    if (!m_pictures || slot.picture < 0 || slot.picture >= picture_count())
        return none;
    return (*m_pictures)[slot.picture];
}

int ImageForm::first_slot() const { return m_current == 0 ? 1 : 0; }
int ImageForm::last_slot() const { return m_current + 1 >= picture_count() ? 1 : 2; }

void ImageForm::reset(int position)
{
    ViewSlot& slot = *m_slots[position];
    std::int32_t const index = m_current + position - 1;
    WString const& picture = (*m_pictures)[index];
    WString const cache = cache_file_name(picture, m_search_root);
    auto log = Log::get();

    // Creators are made outside the lock: they read files, and the worker
    // must not wait on that with a tile half made.
    // Both read the headers only: a picture the library reads whole (a
    // progressive one) is decoded by the worker, never here.
    std::unique_ptr<PieceCreator> creator;
    int state = ViewSlot::Cached;
    bool ok = true;
    auto from_file = [&] {
        auto file = std::make_unique<FilePieceCreator>(picture);
        ok = file->is_valid();
        int const orientation = file->orientation();
        creator = upright_creator(std::move(file), orientation);
    };
    if (cache.empty() || is_bad_picture(cache)) {
        state = ViewSlot::Bad;
        log << u"reset PieceCrt2 begin\n";
        from_file();
        log << u"reset PieceCrt2\n";
    } else if (is_cache_file_valid(cache)) {
        creator = upright_creator(std::make_unique<CachePieceCreator>(picture, m_search_root),
            probe_jpeg(picture).info.orientation);
        if (!creator->is_valid())
            log << u"Bad picture in creation\n";
        log << u"reset\n";
        ok = false;
    } else {
        state = ViewSlot::Loading;
        log << u"reset PieceCrt1 begin\n";
        from_file();
        log << u"reset PieceCrt1\n";
        if (m_catalog)
            m_catalog->prioritize_picture(picture);
    }
    {
        MutexLock lock(m_creator_mutex);
        slot.problem = creator->problem();
        std::swap(slot.creator, creator);
        slot.state = state;
        slot.creator_ok = ok;
        slot.picture = index;
        ++slot.generation;
    }
}

void ImageForm::restart(int position)
{
    ViewSlot& slot = *m_slots[position];
    TileView& view = *slot.view;
    int const orientation = m_landscape ? 1 : 0;
    int const w = slot.creator ? slot.creator->width() : 0;
    int const h = slot.creator ? slot.creator->height() : 0;
    // A cache creator that could not read its own size has nothing to cut.
    bool const usable = w > 0 && h > 0 && (slot.state == ViewSlot::Cached || slot.creator_ok);
    // Turned first: the view's fit level depends on which way it stands.
    view.set_orientation(orientation);
    if (usable) {
        view.set_picture(kTileSide, kTileSide, w, h, 0);
        if (!m_landscape)
            Log::get() << u"restart " << position << u"\n";
        slot.fit_zoom = fit_zoom(w, h, view.top_level(), view.view_extent_x(), view.view_extent_y());
    } else {
        slot.fit_zoom = 0;
        view.set_picture(64, 64, 45, 45, 0);
    }
    view.set_zoom(slot.fit_zoom);
    view.set_pan(view.picture_width() / 2.0, view.picture_height() / 2.0);
    view.set_pan_target(view.picture_width() / 2.0, view.picture_height() / 2.0);
}

void ImageForm::show_empty(int position)
{
    ViewSlot& slot = *m_slots[position];
    {
        MutexLock lock(m_creator_mutex);
        slot.picture = -1;
        ++slot.generation;
    }
    slot.view->set_picture(256, 256, 0, 0, 0);
    slot.view->set_pan(0, 0);
    slot.view->set_pan_target(0, 0);
}

void ImageForm::load_all()
{
    if (!m_pictures || m_pictures->empty())
        return;
    for (int k = 0; k < 3; ++k)
        if (k < first_slot() || k > last_slot())
            show_empty(k);
    // The centre first, and its tiles asked for before anything is drawn:
    // the worker decodes them while the neighbours are made ready and the
    // first frame is laid out.
    reset(1);
    restart(1);
    TileView& centre = *m_slots[1]->view;
    double const extent = centre.view_extent_x();
    double const width = centre.picture_width() * std::exp2(m_slots[1]->fit_zoom - centre.top_level());
    place_views(-extent, std::max(extent, width));
    centre.request_visible();
    for (int k : { 0, 2 }) {
        if (k >= first_slot() && k <= last_slot()) {
            reset(k);
            restart(k);
        }
    }
    if (m_catalog)
        m_catalog->prioritize_picture((*m_pictures)[m_current]);
    show_problem();
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

void ImageForm::picture_failed(ViewSlot& slot, PictureProblem problem)
{
    for (int k = 0; k < 3; ++k) {
        if (m_slots[k] != &slot)
            continue;
        clear_slot(&slot);
        {
            MutexLock lock(m_creator_mutex);
            slot.creator_ok = false;
            slot.problem = problem;
            ++slot.generation;
        }
        Log::get() << u"picture cannot be shown: " << name_of(picture_path(slot)) << u" "
                   << from_utf8(problem_text(problem)) << u"\n";
        restart(k);
        if (k == 1)
            slot.view->request_visible();
        show_problem();
        return;
    }
}

void ImageForm::show_problem()
{
    if (!m_problem_text)
        return;
    ViewSlot const& centre = *m_slots[1];
    auto const* key = centre.picture >= 0 && !centre.creator_ok ? problem_key(centre.problem) : nullptr;
    m_problem_text->set_visible(key != nullptr);
    if (key)
        m_problem_text->set_text(m_problem_texts[static_cast<int>(centre.problem)]);
}

void ImageForm::clear_slot(ViewSlot const* slot)
{
    {
        MutexLock lock(m_queue_mutex);
        if (m_queue.size() > 1)
            m_queue.erase(std::remove_if(m_queue.begin() + 1, m_queue.end(),
                              [slot](auto const& request) { return !slot || request->slot == slot; }),
                m_queue.end());
    }
    MutexLock lock(m_ready_mutex);
    std::erase_if(m_ready, [slot](auto const& request) { return !slot || request->slot == slot; });
}

void ImageForm::clear_all() { clear_slot(nullptr); }

void ImageForm::add_tile(TileView& view, int level, int column, int row)
{
    ViewSlot* slot = nullptr;
    for (auto* candidate : m_slots)
        if (candidate->view == &view)
            slot = candidate;
    if (!slot || slot->picture < 0)
        return;
    auto request = std::make_unique<TileRequest>();
    request->slot = slot;
    request->generation = slot->generation;
    request->landscape = m_landscape;
    request->level = level;
    request->column = column;
    request->row = row;
    auto log = Log::get();
    log << u"add tile " << name_of(picture_path(*slot)) << u" " << level << u" " << column << u" " << row;

    MutexLock lock(m_queue_mutex);
    if (m_queue.size() > 1) {
        m_queue.erase(std::remove_if(m_queue.begin() + 1, m_queue.end(),
                          [](auto const& queued) {
                              return queued->generation != queued->slot->generation
                                  || !queued->slot->view->is_needed(queued->level, queued->column, queued->row);
                          }),
            m_queue.end());
    }
    for (auto const& queued : m_queue) {
        if (queued->slot == slot && queued->generation == request->generation && queued->level == level
            && queued->column == column && queued->row == row) {
            log << u"clear\n";
            return;
        }
    }
    m_queue.push_back(std::move(request));
    log << u"realy add\n";
    m_wake.set();
}

void ImageForm::run_worker()
{
    Log::get() << u"run start\n";
    m_wake.wait();
    Log::get() << u"run begin\n";
    while (!m_worker.stop_requested()) {
        Log::get() << u"run create_tile start\n";
        create_tile();
        Log::get() << u"run create_tile end\n";
        {
            MutexLock lock(m_queue_mutex);
            if (m_queue.empty()) {
                m_wake.reset();
                MutexLock idle(m_idle_mutex);
                m_worker_idle = true;
            }
        }
        // A stop asked for during the tile set the wake-up that the reset
        // above has just cleared: look again before sleeping.
        if (m_worker.stop_requested())
            break;
        m_wake.wait();
        Log::get() << u"run begin\n";
    }
}

std::unique_ptr<PixelBuffer> ImageForm::placeholder(WStringView name) const
{
    FileStream file;
    if (!file.open(expand_path(join_path(m_placeholder_dir, name)), OpenMode::Read))
        return nullptr;
    return read_bmp_565(file);
}

void ImageForm::create_tile()
{
    MutexLock creator_lock(m_creator_mutex);
    TileRequest* request = nullptr;
    {
        MutexLock lock(m_queue_mutex);
        if (m_queue.empty())
            return;
        request = m_queue.front().get();
    }
    ViewSlot& slot = *request->slot;
    // A request left from an earlier picture of the slot is not worth a
    // decode; it leaves the queue empty-handed.
    if (request->generation == slot.generation) {
        bool const usable = slot.creator && slot.creator->width() > 0 && slot.creator->height() > 0
            && (slot.state == ViewSlot::Cached || slot.creator_ok);
        if (!usable) {
            bool const loading = slot.state == ViewSlot::Loading && slot.problem == PictureProblem::None;
            request->tile = placeholder(loading ? u"load.bmp" : u"bad.bmp");
        } else if (!slot.creator->create_piece(request->level, request->column, request->row, request->tile)) {
            request->tile = placeholder(u"bad.bmp");
            // A picture read from its file that turns out unreadable shows
            // one icon and the reason, not a broken icon per tile.
            if (slot.state != ViewSlot::Cached && !slot.creator->is_valid()
                && slot.creator->problem() != PictureProblem::None)
                request->problem = slot.creator->problem();
        }
        if (request->tile && request->landscape)
            request->tile = turned_clockwise(*request->tile);
    }
    std::unique_ptr<TileRequest> done;
    bool drained;
    {
        MutexLock lock(m_queue_mutex);
        done = std::move(m_queue.front());
        m_queue.pop_front();
        drained = m_queue.empty();
    }
    {
        MutexLock lock(m_ready_mutex);
        m_ready.push_back(std::move(done));
    }
    // The frame loop may be pausing between frames: the last tile of a
    // batch shows at once, with those before it, in one frame.
    if (drained && m_wake_window)
        platform::MessageQueue::main().post(m_wake_window, platform::WM_NULL);
}

void ImageForm::deliver_tiles()
{
    // While the user waits for a picture to appear, every finished tile
    // goes in at once; once it shows, one a frame keeps panning smooth.
    if (!m_first_frame_pending) {
        deliver_one_tile();
        return;
    }
    for (;;) {
        {
            MutexLock lock(m_ready_mutex);
            if (m_ready.empty())
                return;
        }
        deliver_one_tile();
    }
}

void ImageForm::deliver_one_tile()
{
    std::unique_ptr<TileRequest> request;
    {
        MutexLock lock(m_ready_mutex);
        if (m_ready.empty())
            return;
        request = std::move(m_ready.back());
        m_ready.pop_back();
    }
    ViewSlot& slot = *request->slot;
    if (request->generation != slot.generation)
        return;
    if (request->problem != PictureProblem::None) {
        picture_failed(slot, request->problem);
        return;
    }
    if (!request->tile)
        return;
    auto surface = std::make_unique<RenderSurface>();
    surface->adopt(std::move(request->tile));
    slot.view->put_piece(request->level, request->column, request->row, std::move(surface));
    Log::get() << u"found " << name_of(picture_path(slot)) << u" " << request->level << u" " << request->column
               << u" " << request->row << u"\n";
}

bool ImageForm::worker_idle()
{
    MutexLock lock(m_idle_mutex);
    return m_worker_idle;
}

std::size_t ImageForm::queued_requests()
{
    MutexLock lock(m_queue_mutex);
    return m_queue.size();
}

std::size_t ImageForm::finished_tiles()
{
    MutexLock lock(m_ready_mutex);
    return m_ready.size();
}

void ImageForm::advance(double seconds)
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
    if (m_catalog)
        m_catalog->poll_events();

    ViewSlot const& centre = *m_slots[1];
    m_minus->set_visible(centre.view->zoom() > centre.fit_zoom);
    m_plus->set_visible(centre.view->zoom() + 1.0 <= centre.view->top_level());

    deliver_tiles();
    {
        MutexLock lock(m_idle_mutex);
        if (m_worker_idle && !m_landscape_button->enabled()) {
            m_landscape_button->set_enabled(true);
            Log::get() << u"Landscape enabled\n";
        }
    }
    bool const swiping = m_slide_pending;
    if (swiping)
        update_swipe();

    Form::advance(seconds);

    if (swiping)
        return;
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
    if (m_slide_direction < 0)
        set_left();
    else
        set_right();
    m_slide_pending = m_slide_running = false;
}

void ImageForm::set_left()
{
    Log::get() << u"Set Left\n";
    if (m_current <= 0)
        return;
    clear_slot(m_slots[2]);
    Log::get() << u"Set Left clear end\n";
    --m_current;
    m_slots = { m_slots[2], m_slots[0], m_slots[1] };
    if (m_current > 0) {
        reset(0);
        restart(0);
    } else {
        show_empty(0);
    }
    for (int k : { 1, 0 }) {
        TileView& view = *m_slots[k]->view;
        view.set_pan(view.picture_width() / 2.0, view.picture_height() / 2.0);
        view.set_pan_target(view.picture_width() / 2.0, view.picture_height() / 2.0);
    }
    m_slots[1]->view->set_target_zoom(m_slots[1]->fit_zoom);
    make_centre_interactive();
    place_after_centre();
    write_position();
}

void ImageForm::set_right()
{
    Log::get() << u"Set Right\n";
    if (m_current + 1 >= picture_count())
        return;
    clear_slot(m_slots[0]);
    Log::get() << u"Set Right clear end\n";
    ++m_current;
    m_slots = { m_slots[1], m_slots[2], m_slots[0] };
    if (m_current + 1 < picture_count()) {
        reset(2);
        restart(2);
    } else {
        show_empty(2);
    }
    for (int k : { 1, 2 }) {
        TileView& view = *m_slots[k]->view;
        view.set_pan(view.picture_width() / 2.0, view.picture_height() / 2.0);
        view.set_pan_target(view.picture_width() / 2.0, view.picture_height() / 2.0);
    }
    m_slots[1]->view->set_target_zoom(m_slots[1]->fit_zoom);
    make_centre_interactive();
    place_after_centre();
    write_position();
}

void ImageForm::start_zoom(Point anchor, double target)
{
    TileView& view = *m_slots[1]->view;
    m_anchor_picture = view.screen_to_picture(anchor);
    m_anchor_offset = PicturePoint { (m_anchor_picture.x - view.pan().x) / view.to_full(),
        (m_anchor_picture.y - view.pan().y) / view.to_full() };
    m_anchor_zoom = view.zoom();
    m_gesture_state = 2;
    view.set_target_zoom(std::min(target, static_cast<double>(view.top_level())));
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
        m_wake.reset();
        clear_all();
        m_loaded_size = Size {};
        m_active = false;
        m_tap_timer = -1;
        if (auto* application = ScreenHost::instance())
            application->remove_screen(&screen());
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
        clear_all();
        m_landscape = !m_landscape;
        load_all();
        m_controls_timer = 0;
        m_landscape_button->set_enabled(false);
        Log::get() << u"Landscape disabled\n";
        MutexLock lock(m_idle_mutex);
        m_worker_idle = false;
    }
    return true;
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
        Log::get() << platform::tick_count() << u" image form: first full frame\n";
    }
}

bool ImageForm::on_key(KeyInput const& key)
{
    if (Form::on_key(key))
        return true;
    if (key.down && key.key == Key::Backspace) {
        Log::get() << u"image form: back\n";
        on_click(*m_back, Point {});
        return true;
    }
    return false;
}

void ImageForm::on_catalog_event(CatalogEvent const& event)
{
    if (!event.picture_complete || !m_active || !m_pictures)
        return;
    for (int k = first_slot(); k <= last_slot(); ++k) {
        ViewSlot* slot = m_slots[k];
        if (picture_path(*slot) != event.picture_path)
            continue;
        // A picture shown straight from its JPEG file moves to its new cache
        // file too: the file can be cut only into the coarser levels and
        // only slowly, the cache into every level at once.
        bool const cache_now = slot->state == ViewSlot::Loading
            && is_cache_file_valid(cache_file_name(picture_path(*slot), m_search_root));
        if (slot->creator_ok && !cache_now)
            return;
        clear_slot(slot);
        Log::get() << u"on_document_refresh begin\n";
        reset(k);
        Log::get() << u"on_document_refresh load end\n";
        restart(k);
        Log::get() << u"on_document_refresh resize end\n";
        return;
    }
}

}
