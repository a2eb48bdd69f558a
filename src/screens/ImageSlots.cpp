// The viewer's three slots: which picture each shows, read from its cache
// file or from the picture itself as the catalog says, and what becomes of
// a slot when the catalog has built or given up on its picture.

#include "screens/ImageForm.h"

#include "base/Log.h"
#include "base/Paths.h"
#include "catalog/PhotoCatalog.h"
#include "widgets/TextElement.h"

#include <cmath>

namespace qv {

namespace {

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
    case PictureProblem::NotPicture:
        return u"BadNotPicture";
    case PictureProblem::Damaged:
        return u"BadDamaged";
    case PictureProblem::Precision:
        return u"BadPrecision";
    case PictureProblem::Unsupported:
        return u"BadUnsupported";
    case PictureProblem::TooLarge:
        return u"BadTooLarge";
    case PictureProblem::Storage:
        return u"BadStorage";
    }
    return nullptr;
}

}

void ImageForm::load_problem_texts(PropertiesImpl const& store)
{
    for (int k = 0; k < kProblemCount; ++k)
        if (auto const* key = problem_key(static_cast<PictureProblem>(k)))
            m_problem_texts[k] = store.text(key);
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

void ImageForm::reset(int position, bool build)
{
    ViewSlot& slot = *m_slots[position];
    std::int32_t const index = m_current + position - 1;
    WString const& picture = (*m_pictures)[index];
    auto const status = m_catalog.picture_status(picture, search_root(index));
    auto log = Log::get();

    int state = ViewSlot::Bad;
    if (status.state == PictureStatus::State::Ready)
        state = ViewSlot::Cached;
    else if (status.state == PictureStatus::State::Building)
        state = ViewSlot::Loading;
    if (state != ViewSlot::Cached)
        log << (state == ViewSlot::Loading ? u"reset PieceCrt1 begin\n" : u"reset PieceCrt2 begin\n");
    // Made before the worker's lock is taken: creators read files, and no
    // lock either thread waits on is held over a file read. Both read the
    // headers only: a picture the library reads whole (a progressive one) is
    // decoded by the worker, never here.
    auto creator = open_piece_creator(picture, search_root(index), status);
    bool ok = false;
    if (state == ViewSlot::Cached) {
        if (!creator->is_valid())
            log << u"Bad picture in creation\n";
        log << u"reset\n";
    } else {
        ok = creator->is_valid();
        log << (state == ViewSlot::Loading ? u"reset PieceCrt1\n" : u"reset PieceCrt2\n");
    }
    m_tiles.install(slot, std::move(creator), state, ok, index);
    if (state == ViewSlot::Loading && build)
        m_catalog.prioritize_picture(picture, search_root(index));
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
        // The placeholder, read at the screen's scale, as the one tile of a
        // picture its own size.
        std::int32_t const side = m_store.scale_length(45);
        view.set_picture(m_store.scale_length(64), m_store.scale_length(64), side, side, 0);
    }
    view.set_zoom(slot.fit_zoom);
    view.set_pan(view.picture_width() / 2.0, view.picture_height() / 2.0);
    view.set_pan_target(view.picture_width() / 2.0, view.picture_height() / 2.0);
}

void ImageForm::show_empty(int position)
{
    ViewSlot& slot = *m_slots[position];
    m_tiles.clear(slot);
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
    // The neighbours' requests sorted the queue around themselves: the
    // centre picture goes first again.
    if (m_slots[1]->state == ViewSlot::Loading)
        m_catalog.prioritize_picture((*m_pictures)[m_current], search_root(m_current));
    show_problem();
}

void ImageForm::picture_failed(ViewSlot& slot, PictureProblem problem)
{
    for (int k = 0; k < 3; ++k) {
        if (m_slots[k] != &slot)
            continue;
        m_tiles.forget(&slot);
        m_tiles.fail(slot, problem);
        Log::get() << u"picture cannot be shown: " << file_name_of(picture_path(slot)) << u" "
                   << from_utf8(problem_text(problem)) << u"\n";
        restart(k);
        if (k == 1)
            slot.view->request_visible();
        show_problem();
        return;
    }
}

void ImageForm::cache_failed(ViewSlot& slot)
{
    for (int k = 0; k < 3; ++k) {
        if (m_slots[k] != &slot)
            continue;
        m_tiles.forget(&slot);
        Log::get() << u"cache file damaged, read from the picture: " << file_name_of(picture_path(slot)) << u"\n";
        // The file is marked: the catalog now says Building, and the slot
        // reads the picture itself until the build is done.
        bool const first_time = m_damaged_caches.insert(picture_path(slot)).second;
        reset(k, first_time);
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
        // only slowly, the cache into every level at once. One that could not
        // be read is loaded anew in any case: built, it shows; given up on,
        // the catalog now says Bad and it is not asked for again.
        bool const cache_now = slot->state == ViewSlot::Loading
            && m_catalog.picture_status(event.picture_path, search_root(slot->picture)).state == PictureStatus::State::Ready;
        if (slot->creator_ok && !cache_now)
            return;
        m_tiles.forget(slot);
        Log::get() << u"on_document_refresh begin\n";
        reset(k);
        Log::get() << u"on_document_refresh load end\n";
        restart(k);
        Log::get() << u"on_document_refresh resize end\n";
        if (k == 1)
            show_problem();
        return;
    }
}

}
