#pragma once

// The album list and its worker: the search of the storage cards and My
// Documents, the queue of pictures without a valid cache file, and the
// building of those files one at a time. Screens never wait for the worker:
// once per frame they call poll_events, which turns its state into events.
//
// Lock order (a lock is only taken while holding locks to its left):
//   m_need_search_mutex > m_map_mutex > m_folders_mutex > m_progress_max_mutex > m_current_folder_mutex
//   m_progress_max_mutex > m_progress_value_mutex
//   m_need_search_mutex > m_search_complete_mutex > m_progress_value_mutex
//   m_map_mutex > m_current_folder_mutex
// m_picture_complete_mutex is never nested.

#include "base/Singleton.h"
#include "base/Thread.h"
#include "core/WString.h"
#include "catalog/CatalogEvent.h"
#include "catalog/FolderInfo.h"
#include "catalog/PendingFolder.h"

#include <atomic>
#include <functional>
#include <map>
#include <vector>

namespace qv {

class PhotoCatalog : public Singleton<PhotoCatalog>, private Thread {
public:
    // `folders_file` empty: $QUILVANE_FOLDERS_INI, else "%app_path%/folders.ini".
    // Without `start_worker` nothing is built until start_worker() is called.
    explicit PhotoCatalog(WString folders_file = {}, bool start_worker = true);
    ~PhotoCatalog() override;

    static WString default_folders_file();
    WString const& folders_file() const { return m_folders_file; }
    bool start_worker();

    // The album list.
    int get_folders_size();
    // A copy; an index outside the list gives an empty album.
    FolderInfo get_folder(int index);
    std::vector<FolderInfo> get_folders();
    int search_folder_num(WStringView key_picture_path);
    static WString folder_display_name(WStringView path) { return qv::folder_display_name(path); }
    void set_folder_size(WStringView picture_path, int count);
    void set_key_picture(WStringView picture_path, WStringView new_path);
    void load_folders(WStringView file);
    // Writes a file beside `file` and renames it over; false (the old file
    // kept) when anything fails.
    bool save_folders(WStringView file);

    // The search and the cache queue.
    void need_search();
    void add_picture(WStringView picture_path, WStringView drive_path);
    void prioritize_picture(WStringView picture_path);
    void set_current_folder(WStringView folder_path);
    static bool is_bad_picture(WStringView cache_file);
    void poll_events();

    void add_listener(CatalogListener* listener);
    void remove_listener(CatalogListener* listener);

    // Diagnostics for tools and tests.
    int searches_completed() const { return m_searches_completed.load(); }
    std::vector<PendingPicture> pending_pictures(WStringView folder_path);
    int pending_count();
    // Called on the worker after each build attempt, before the picture
    // leaves the queue. Set it before the worker starts.
    void set_build_observer(std::function<void(WString const& picture, bool built)> observer)
    {
        m_build_observer = std::move(observer);
    }

private:
    void run() override;
    // False when the stop flag cut it short.
    bool search();
    bool check_drive(WString const& root);
    void create_cache();

    bool stopping() const { return m_stop.load(std::memory_order_relaxed); }
    void send(CatalogEvent const& event);
    // `count` pictures of `directory`, the first of them `picture`.
    void count_in_album(WString const& root, WString const& directory, WString const& picture, int count, size_t& hint);

    WString const m_folders_file;

    Mutex m_need_search_mutex;
    bool m_need_search { false };
    Mutex m_search_complete_mutex;
    bool m_search_complete { false };
    Mutex m_progress_max_mutex;
    int m_progress_max { 0 };
    Mutex m_progress_value_mutex;
    int m_progress_value { 0 };
    int m_progress_reported { 0 };
    Mutex m_current_folder_mutex;
    WString m_current_folder;
    Mutex m_picture_complete_mutex;
    WString m_picture_complete;
    Mutex m_map_mutex;
    std::map<WString, PendingFolder> m_map;
    Mutex m_folders_mutex;
    std::vector<FolderInfo> m_folders;
    Event m_work_event { Event::Reset::Manual };

    // The builder reads this one; Thread's own flag is set alongside it.
    std::atomic<bool> m_stop { false };
    std::atomic<int> m_searches_completed { 0 };
    std::vector<CatalogListener*> m_listeners;
    std::function<void(WString const&, bool)> m_build_observer;
};

}
