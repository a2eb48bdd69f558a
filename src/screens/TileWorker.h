#pragma once

// The viewer's tile worker: one thread that cuts the tiles its views ask
// for with the piece creator of their slot, a queue of requests in and a
// list of finished tiles out. A slot is one of the viewer's three places for
// a picture.
//
// Threads: the worker's own thread cuts tiles; every call here belongs to
// the user-interface thread, the only writer of the slots. What the worker
// reads of a slot (creator, state, generation and the rest) changes only
// through install, fail and clear, under m_creator_mutex. The worker holds
// that lock only to copy what a tile needs, never over a decode or a disk
// read: it cuts with its own reference to the creator, so a swipe that
// installs another picture neither waits for the tile in hand nor frees
// the creator under it, and a tile whose slot has moved on meanwhile is
// thrown away. No two of the worker's locks are ever held together;
// m_idle_mutex is taken alone or inside m_queue_mutex. The first queue
// entry belongs to the worker from when it reads it until it removes it.
//
// Failures: a tile that cannot be cut is the broken-picture placeholder; a
// picture read from its own file that turns out unreadable comes back as
// its reason instead, so that it shows one icon, not one per tile. A
// placeholder picture that cannot be read leaves its tile out.

#include "base/Thread.h"
#include "core/WString.h"
#include "imaging/JpegCodec.h"
#include "imaging/PixelBuffer.h"
#include "platform/WindowMessages.h"
#include "thumbcache/PieceCreator.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

namespace qv {

class TileView;

struct ViewSlot {
    enum State { Cached = 0, Loading = 1, Bad = 2 };

    TileView* view { nullptr };
    // Shared with the worker while it cuts a tile of the slot's picture.
    std::shared_ptr<PieceCreator> creator;
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
    // Set when the slot's cache file turned out damaged.
    bool cache_damaged { false };
};

class TileWorker final : private Thread {
public:
    // Placeholders are read from `placeholder_dir` at the screen's scale
    // (in quarters; see imaging/Density.h); `wake_window`, when there is
    // one, is posted an empty message when a batch is finished.
    TileWorker(WString placeholder_dir, std::int32_t scale_quarters, platform::WindowId wake_window);
    ~TileWorker() override;
    // Ends the thread; the destructor does it too.
    void stop();

    // A new picture for the slot, and a new generation.
    void install(ViewSlot& slot, std::shared_ptr<PieceCreator> creator, int state, bool creator_ok,
        std::int32_t picture);
    // The slot's picture turned out unreadable, for `problem`.
    void fail(ViewSlot& slot, PictureProblem problem);
    // The slot shows nothing.
    void clear(ViewSlot& slot);

    // Queues a tile of the slot's current picture. False when the same tile
    // is queued already. Requests whose view no longer needs them, or whose
    // slot has moved on, leave the queue first.
    bool request(ViewSlot& slot, bool landscape, int level, int column, int row);
    // Drops the requests queued and the tiles finished for `slot`, or for
    // every slot when it is null; the tile being cut is finished all the same.
    void forget(ViewSlot const* slot);
    // Drops everything and lets the worker sleep once its tile is done.
    void rest();
    // The finished tile last made, or nothing.
    std::unique_ptr<TileRequest> take_finished();

    bool idle();
    void set_idle(bool idle);
    std::size_t queued();
    std::size_t finished();
    // For tests that need the worker at a given point: called on the worker
    // before each tile it cuts, with the number of requests queued, that one
    // included, and no lock held. Set it before the first request.
    void set_before_tile(std::function<void(std::size_t)> hook) { m_before_tile = std::move(hook); }

private:
    // What a cut needs of its slot, copied under m_creator_mutex.
    struct SlotCopy {
        std::shared_ptr<PieceCreator> creator;
        int state { ViewSlot::Cached };
        bool creator_ok { true };
        PictureProblem problem { PictureProblem::None };
    };

    void run() override;
    void create_tile();
    void cut(TileRequest& request, SlotCopy const& slot);
    bool is_current(TileRequest const& request);
    std::unique_ptr<PixelBuffer> placeholder(WStringView name) const;

    WString const m_placeholder_dir;
    std::int32_t const m_scale_quarters;
    platform::WindowId const m_wake_window;
    Mutex m_creator_mutex;
    Mutex m_queue_mutex;
    std::deque<std::unique_ptr<TileRequest>> m_queue;
    Mutex m_ready_mutex;
    std::vector<std::unique_ptr<TileRequest>> m_ready;
    Mutex m_idle_mutex;
    bool m_idle { true };
    std::function<void(std::size_t)> m_before_tile;

    Event m_wake { Event::Reset::Manual };
};

}
