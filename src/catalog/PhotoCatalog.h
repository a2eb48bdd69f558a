#pragma once

// The album list and its worker: the search of the storage cards and My
// Documents, the queue of pictures without a valid cache file, and the
// building of those files, several at once on threads of their own. It is the screens' one way to the
// cache files: they ask picture_status what a picture's cache holds and hand
// in requests (add_picture, prioritize_picture), and never look for a cache
// file themselves.
//
// Threads: the worker, the object's own thread, searches and applies the
// watching's updates, one after the other; the watching's thread only
// waits for changes and hands them to the worker; the building
// threads take pictures from the queue in its order, each its own, and run
// only on time the rest of the system leaves over. Every other call belongs
// to the user-interface thread, except the diagnostics, which any thread may
// call. Listeners are told only from poll_events, which a screen calls once
// a frame, never from inside another call: whatever a listener asks while it
// is told, it hears of at the next poll, so no call can lead back into the
// listener that made it.
//
// Failures: nothing is thrown. A picture whose cache file cannot be built
// (it cannot be read, or the cache cannot be written) is Bad, with its
// reason, until the next search tries it again; an album list that cannot
// be saved keeps the previous file.
//
// Lock order (a lock is only taken while holding locks to its left):
//   m_need_search_mutex > m_map_mutex > m_folders_mutex > m_progress_max_mutex > m_current_folder_mutex
//   m_progress_max_mutex > m_progress_value_mutex
//   m_need_search_mutex > m_events_mutex > m_progress_value_mutex
//   m_map_mutex > m_current_folder_mutex
// m_failed_mutex comes last: no other lock is taken while it is held.
// The watching's updates take them in the same order, one at a time except
// m_map_mutex > m_failed_mutex and m_map_mutex > m_progress_max_mutex.

#include "base/Singleton.h"
#include "base/Thread.h"
#include "core/WString.h"
#include "catalog/CatalogEvent.h"
#include "catalog/FolderInfo.h"
#include "catalog/NameClaims.h"
#include "catalog/PendingFolder.h"
#include "catalog/PictureStatus.h"
#include "platform/Files.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace qv {

class PhotoCatalog : public Singleton<PhotoCatalog>, private Thread {
public:
    // `folders_file` empty: $QUILVANE_FOLDERS_INI, else "%app_path%/folders.ini"
    // beside the program, or $XDG_DATA_HOME/quilvane/folders.ini installed.
    // With `start_worker`, as the program starts it: the worker starts, the
    // search roots are watched, and where no album list was found the first
    // search starts at once. Without it nothing is built, searched or
    // watched until asked for (start_worker, start_watching, need_search).
    explicit PhotoCatalog(WString folders_file = {}, bool start_worker = true);
    ~PhotoCatalog() override;

    static WString default_folders_file();
    WString const& folders_file() const { return m_folders_file; }
    bool start_worker();
    // Whether the album list file was there to load.
    bool album_list_found() const { return m_album_list_found; }

    // Watches the search roots while the object lives (see DirectoryWatch):
    // pictures and albums that come, go or change, and cards mounted or
    // taken out, change the album list within seconds, quietly: the list
    // is changed in place and told as folders_changed, never as a search.
    // Trees beyond the bound of watches are looked at every
    // `rescan_seconds`. False when the system offers no watching.
    struct WatchOptions {
        std::size_t max_watches { 0 }; // 0: the platform's default
        int quiet_ms { 500 };
        int longest_ms { 3000 };
        int rescan_seconds { 45 };
    };
    bool start_watching(WatchOptions options);
    bool start_watching() { return start_watching(WatchOptions {}); }
    // A search asked for and not yet complete (a screen made meanwhile
    // shows it as running).
    bool search_under_way() const { return m_search_under_way.load(); }
    // How many cache files are built at once: before start_worker, 0 for
    // the setting "BuildThreads", else one per processor; at most
    // kMaxBuildThreads, as many as the scratch files of builds under way can
    // be removed for on a terminating signal.
    static constexpr int kMaxBuildThreads = 32;
    void set_build_threads(int count);
    // What the setting `setting` (0: none) gives on `processors` processors.
    static int build_threads_for(std::uint32_t setting, int processors);
    int build_threads() const { return m_build_threads; }

    // The album list.
    int get_folders_size();
    // A copy; an index outside the list gives an empty album.
    FolderInfo get_folder(int index);
    std::vector<FolderInfo> get_folders();
    int search_folder_num(WStringView key_picture_path);
    static WString folder_display_name(WStringView path) { return qv::folder_display_name(path); }
    // Both save the list and announce the change at the next poll.
    void set_folder_size(WStringView picture_path, int count);
    void set_key_picture(WStringView picture_path, WStringView new_path);
    void load_folders(WStringView file);
    // Writes a file beside `file` and renames it over; false (the old file
    // kept) when anything fails. No lock the screens take is held while it
    // writes.
    bool save_folders(WStringView file);

    // What a screen needs to know of `picture`, whose search root is
    // `drive_path`: Ready with its cache file, Building, Bad with the reason
    // (a build that failed since the last search is remembered, whether or
    // not its marker could be written; a marker left from before is
    // diagnosed once, on this thread, and remembered), or Missing.
    PictureStatus picture_status(WStringView picture_path, WStringView drive_path);

    // Why cache files could not be written since the last search, and
    // where: the first such failure on a storage gives up on the rest of its
    // queue (those pictures are Bad for Storage) until the next search.
    struct StorageProblem {
        platform::StorageFault fault { platform::StorageFault::None };
        WString drive_path;
    };
    StorageProblem storage_problem();

    // The search and the cache queue; none of them tells a listener.
    void need_search();
    // Queues the picture at the end of its album's queue, unless queued.
    void add_picture(WStringView picture_path, WStringView drive_path);
    // The picture on view: queued when it is not, and its album's queue
    // sorted by distance from it, so that it and then its neighbours come
    // next. A picture Bad since the last search is not queued again.
    void prioritize_picture(WStringView picture_path, WStringView drive_path);
    void set_current_folder(WStringView folder_path);
    // Tells the listeners what changed since the last poll. A poll from
    // inside a listener tells nothing; the next one tells it.
    void poll_events();

    void add_listener(CatalogListener* listener);
    void remove_listener(CatalogListener* listener);

    // Diagnostics for tools and tests.
    int searches_completed() const { return m_searches_completed.load(); }
    // Nothing asked for, searched, queued or being built: every build has
    // been counted and its event is ready for the next poll.
    bool work_done();
    // That, and every event told: what a script's wait_idle waits for.
    bool idle();
    // Quiet updates the watching made, each a batch of changes.
    int updates_completed() const { return m_updates_completed.load(); }
    // Directories the watching holds a watch on, and the trees it left to
    // the rescans (0, 0 when not watching). Any thread.
    std::pair<std::size_t, std::size_t> watch_counts();
    std::vector<PendingPicture> pending_pictures(WStringView folder_path);
    int pending_count();
    // Called on the building thread after each build attempt, before the
    // picture leaves the queue; builds run at once, so it must be safe to
    // call from several threads. Set it before the worker starts.
    void set_build_observer(std::function<void(WString const& picture, bool built)> observer)
    {
        m_build_observer = std::move(observer);
    }

private:
    // ---- The worker (CatalogWorker.cpp) ----
    void run() override;
    void finish_search(bool whole);
    void remove_scratch_of_dead_builds();
    // False when the stop flag cut it short.
    bool search();
    bool check_drive(WString const& root);
    // Queues the pictures of `root` that have no valid file and counts
    // every picture in its album. False when the stop flag cut it short.
    struct Checked {
        WString picture;
        bool to_build { false };
        WString cache_file;
    };
    // Called with m_map_mutex held; the albums counted go to `albums`.
    bool queue_pictures(WString const& root, std::vector<Checked> const& pictures, std::vector<FolderInfo>& albums);
    std::vector<Checked> check_pictures(WString const& root, std::vector<WString> pictures,
        std::function<bool(WStringView)> const& listed);

    // What the watching asks the worker to look at again: one album (its
    // own pictures), a tree of them, or every root.
    struct Update {
        WString drive_path;
        WString directory;
        bool recursive { false };
        bool everything { false };
    };
    void queue_updates(std::vector<Update> updates);
    void apply_updates(std::vector<Update> const& updates);
    // False when the stop flag cut it short.
    bool rescan(WString const& drive, WString const& directory, bool recursive, bool& changed);
    class WatchThread;
    void watch_loop(WatchThread& thread);
    class BuildThread;
    void set_searching(bool searching);
    void build_loop();
    // The next picture nobody builds yet, the current album's first; false
    // (and the build event reset) when there is none.
    bool next_to_build(WString& drive, WString& picture, std::uint64_t& ticket);
    void build_one(WString const& drive, WString const& picture, std::uint64_t ticket);
    void built(WString const& picture, bool built, PictureProblem problem);
    void give_up_on_storage(WString const& drive);

    bool stopping() const { return m_stop.load(std::memory_order_relaxed); }
    std::vector<CatalogEvent> take_events();
    void send(CatalogEvent const& event);
    bool failed(WStringView picture_path, PictureProblem* problem = nullptr);

    WString const m_folders_file;
    bool write_folders(WStringView file, WStringView text);
    std::mutex m_save_mutex;
    std::atomic<bool> m_save_again { false };

    Mutex m_need_search_mutex;
    bool m_need_search { false };
    std::vector<Update> m_updates; // under m_need_search_mutex
    // Taken from m_updates and not yet applied; set under m_need_search_mutex.
    std::atomic<bool> m_applying_updates { false };
    std::atomic<bool> m_search_under_way { false };
    bool m_album_list_found { false };
    Mutex m_progress_max_mutex;
    int m_progress_max { 0 };
    Mutex m_progress_value_mutex;
    int m_progress_value { 0 };
    int m_progress_reported { 0 };
    Mutex m_current_folder_mutex;
    WString m_current_folder;
    // What the next poll tells, besides the progress.
    Mutex m_events_mutex;
    bool m_search_complete { false };
    bool m_folders_changed { false };
    bool m_storage_changed { false };
    // The latest picture built or given up on; a later one replaces it.
    WString m_picture_complete;
    Mutex m_map_mutex;
    std::map<WString, PendingFolder> m_map;
    Mutex m_folders_mutex;
    std::vector<FolderInfo> m_folders;
    // Pictures whose cache file is not to be had until the next search.
    Mutex m_failed_mutex;
    std::unordered_map<WString, PictureProblem> m_failed;
    StorageProblem m_storage_problem;
    // Set when a search is asked for, and when the object goes.
    Event m_work_event { Event::Reset::Manual };
    // Set whenever the queue gains a picture, and when the object goes.
    Event m_build_event { Event::Reset::Manual };
    int m_build_threads { 0 };
    std::vector<std::unique_ptr<BuildThread>> m_builders;
    // Pictures being built, under m_map_mutex: they stay queued (so a
    // search does not queue them again) but no second thread takes them.
    std::unordered_set<WString> m_building;
    bool m_searching { false }; // under m_map_mutex
    NameClaims m_name_claims;

    // The builder reads this one; Thread's own flag is set alongside it.
    std::atomic<bool> m_stop { false };
    std::atomic<int> m_searches_completed { 0 };
    // Builds between leaving the queue and being counted.
    std::atomic<int> m_builds_finishing { 0 };
    std::atomic<int> m_updates_completed { 0 };
    struct StopWatching {
        void operator()(WatchThread* thread) const;
    };
    std::unique_ptr<WatchThread, StopWatching> m_watcher;
    WatchOptions m_watch_options;
    std::vector<CatalogListener*> m_listeners;
    bool m_polling { false };
    std::function<void(WString const&, bool)> m_build_observer;
};

}
