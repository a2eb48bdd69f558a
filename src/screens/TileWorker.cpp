#include "screens/TileWorker.h"

#include "base/Log.h"
#include "base/Paths.h"
#include "imaging/Density.h"
#include "imaging/Picture.h"
#include "widgets/TileView.h"

#include <algorithm>
#include <optional>

namespace qv {

namespace {

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

}

TileWorker::TileWorker(WString placeholder_dir, std::int32_t scale_quarters, platform::WindowId wake_window)
    : m_placeholder_dir(std::move(placeholder_dir))
    , m_scale_quarters(scale_quarters)
    , m_wake_window(wake_window)
{
    start();
}

TileWorker::~TileWorker() { stop(); }

void TileWorker::stop()
{
    request_stop();
    m_wake.set();
    join();
}

void TileWorker::install(ViewSlot& slot, std::shared_ptr<PieceCreator> creator, int state, bool creator_ok,
    std::int32_t picture)
{
    // The old creator is let go outside the lock; if the worker is cutting
    // with it, the worker's own reference lets it go when the tile is done.
    {
        MutexLock lock(m_creator_mutex);
        slot.problem = creator ? creator->problem() : PictureProblem::None;
        std::swap(slot.creator, creator);
        slot.state = state;
        slot.creator_ok = creator_ok;
        slot.picture = picture;
        ++slot.generation;
    }
}

void TileWorker::fail(ViewSlot& slot, PictureProblem problem)
{
    MutexLock lock(m_creator_mutex);
    slot.creator_ok = false;
    slot.problem = problem;
    ++slot.generation;
}

void TileWorker::clear(ViewSlot& slot)
{
    MutexLock lock(m_creator_mutex);
    slot.picture = -1;
    ++slot.generation;
}

bool TileWorker::request(ViewSlot& slot, bool landscape, int level, int column, int row)
{
    auto request = std::make_unique<TileRequest>();
    request->slot = &slot;
    request->generation = slot.generation;
    request->landscape = landscape;
    request->level = level;
    request->column = column;
    request->row = row;

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
        if (queued->slot == &slot && queued->generation == request->generation && queued->level == level
            && queued->column == column && queued->row == row)
            return false;
    }
    m_queue.push_back(std::move(request));
    m_wake.set();
    return true;
}

void TileWorker::forget(ViewSlot const* slot)
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

void TileWorker::rest()
{
    m_wake.reset();
    forget(nullptr);
}

std::unique_ptr<TileRequest> TileWorker::take_finished()
{
    MutexLock lock(m_ready_mutex);
    if (m_ready.empty())
        return nullptr;
    auto request = std::move(m_ready.back());
    m_ready.pop_back();
    return request;
}

bool TileWorker::idle()
{
    MutexLock lock(m_idle_mutex);
    return m_idle;
}

void TileWorker::set_idle(bool idle)
{
    MutexLock lock(m_idle_mutex);
    m_idle = idle;
}

std::size_t TileWorker::queued()
{
    MutexLock lock(m_queue_mutex);
    return m_queue.size();
}

std::size_t TileWorker::finished()
{
    MutexLock lock(m_ready_mutex);
    return m_ready.size();
}

void TileWorker::run()
{
    Log::get() << u"run start\n";
    m_wake.wait();
    Log::get() << u"run begin\n";
    while (!stop_requested()) {
        Log::get() << u"run create_tile start\n";
        create_tile();
        Log::get() << u"run create_tile end\n";
        {
            MutexLock lock(m_queue_mutex);
            if (m_queue.empty()) {
                m_wake.reset();
                MutexLock idle(m_idle_mutex);
                m_idle = true;
            }
        }
        // A stop asked for during the tile set the wake-up that the reset
        // above has just cleared: look again before sleeping.
        if (stop_requested())
            break;
        m_wake.wait();
        Log::get() << u"run begin\n";
    }
}

std::unique_ptr<PixelBuffer> TileWorker::placeholder(WStringView name) const
{
    return load_bmp_for_scale(expand_path(join_path(m_placeholder_dir, name)), m_scale_quarters).buffer;
}

// Runs with no lock held: it decodes and reads files.
void TileWorker::cut(TileRequest& request, SlotCopy const& slot)
{
    PieceCreator* const creator = slot.creator.get();
    bool const usable = creator && creator->width() > 0 && creator->height() > 0
        && (slot.state == ViewSlot::Cached || slot.creator_ok);
    if (!usable) {
        bool const loading = slot.state == ViewSlot::Loading && slot.problem == PictureProblem::None;
        request.tile = placeholder(loading ? u"load" : u"bad");
    } else if (!creator->create_piece(request.level, request.column, request.row, request.tile)) {
        request.tile = placeholder(u"bad");
        // A picture read from its file that turns out unreadable shows one
        // icon and the reason, not a broken icon per tile.
        if (slot.state != ViewSlot::Cached && !creator->is_valid() && creator->problem() != PictureProblem::None)
            request.problem = creator->problem();
        request.cache_damaged = slot.state == ViewSlot::Cached && creator->cache_damaged();
    }
    if (request.tile && request.landscape)
        request.tile = turned_clockwise(*request.tile);
}

bool TileWorker::is_current(TileRequest const& request)
{
    MutexLock lock(m_creator_mutex);
    return request.generation == request.slot->generation;
}

void TileWorker::create_tile()
{
    TileRequest* request = nullptr;
    std::size_t queued_now = 0;
    {
        MutexLock lock(m_queue_mutex);
        if (m_queue.empty())
            return;
        request = m_queue.front().get();
        queued_now = m_queue.size();
    }
    // A request left from an earlier picture of the slot is not worth a
    // decode; it leaves the queue empty-handed. A current one takes what it
    // needs of the slot, the creator with it, and lets the lock go at once.
    std::optional<SlotCopy> copy;
    {
        MutexLock lock(m_creator_mutex);
        ViewSlot const& slot = *request->slot;
        if (request->generation == slot.generation)
            copy = SlotCopy { slot.creator, slot.state, slot.creator_ok, slot.problem };
    }
    if (m_before_tile)
        m_before_tile(queued_now);
    if (copy) {
        cut(*request, *copy);
        // Where the slot has let go of the creator meanwhile, it is freed
        // here, on the worker, with no lock held.
        copy.reset();
    }
    // Made for a picture the slot no longer shows: nobody is to see it.
    bool const keep = is_current(*request);
    std::unique_ptr<TileRequest> done;
    bool drained;
    {
        MutexLock lock(m_queue_mutex);
        done = std::move(m_queue.front());
        m_queue.pop_front();
        drained = m_queue.empty();
    }
    if (keep) {
        MutexLock lock(m_ready_mutex);
        m_ready.push_back(std::move(done));
    }
    done.reset();
    // The frame loop may be pausing between frames: the last tile of a
    // batch shows at once, with those before it, in one frame.
    if (drained && m_wake_window)
        platform::MessageQueue::main().post(m_wake_window, platform::WM_NULL);
}

}
