// The catalog's worker, which searches the cards and My Documents (and
// applies the watching's updates, CatalogWatch.cpp), and its building
// threads, which build the queued pictures' cache files, each its own
// picture. Everything here runs on one of those threads.

#include "catalog/PhotoCatalog.h"

#include "base/Directories.h"
#include "base/FileInfo.h"
#include "base/Log.h"
#include "base/Paths.h"
#include "catalog/AlbumListing.h"
#include "catalog/LoggedLock.h"
#include "platform/Files.h"
#include "platform/System.h"
#include "thumbcache/CacheFile.h"
#include "thumbcache/CacheLocation.h"
#include "thumbcache/CacheOwnership.h"
#include "thumbcache/ScratchFiles.h"

#include <functional>
#include <unordered_map>

#include <algorithm>
#include <utility>
#include <cstdio>

namespace qv {

namespace {

WString seconds_text(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%f", seconds);
    return from_utf8(text);
}

}

void PhotoCatalog::run()
{
    set_priority(-1);
    move_old_document_caches();
    remove_scratch_of_dead_builds();
    while (!stopping()) {
        bool wanted = false;
        std::vector<Update> updates;
        {
            // Taken, not held: a search takes seconds, and the screens ask
            // for the next one meanwhile. Reset under the same lock as
            // need_search sets it, so no request is lost between.
            QV_LOCK(u"run", m_need_search_mutex);
            wanted = std::exchange(m_need_search, false);
            // A search looks at everything the watching saw before it.
            if (wanted)
                m_updates.clear();
            else
                updates = std::exchange(m_updates, {});
            m_applying_updates = !updates.empty();
            if (!wanted && updates.empty())
                m_work_event.reset();
        }
        if (wanted) {
            // No build starts while the search counts the queue anew; those
            // under way end meanwhile, and are counted before it.
            set_searching(true);
            finish_search(search());
            set_searching(false);
            continue;
        }
        if (!updates.empty()) {
            apply_updates(updates);
            m_applying_updates = false;
            continue;
        }
        // The destructor raises the flag before it signals: a signal lost to
        // the reset above is seen here.
        if (stopping())
            break;
        m_work_event.wait();
    }
}

// Builds killed in an earlier run left their scratch files (a level of a
// large picture takes tens of megabytes): gone at every start, before the
// first search, in every cache directory this user's caches may be in.
void PhotoCatalog::remove_scratch_of_dead_builds()
{
    std::vector<WString> directories;
    for (auto const& root : search_roots())
        directories.push_back(cache_directory_of(root));
    WString const home = user_cache_directory();
    for (char16_t const* kind : { u"\\cards", u"\\folders" }) {
        for (auto const& entry : platform::list_directory(expand_path(home + kind))) {
            if (entry.is_directory)
                directories.push_back(home + kind + u"\\" + entry.name);
        }
    }
    int removed = 0;
    for (auto const& directory : directories)
        removed += remove_stale_scratch_files(directory);
    if (removed > 0)
        Log::get() << u"removed " << removed << u" scratch files of builds that did not finish\n";
}

void PhotoCatalog::finish_search(bool whole)
{
    if (whole) {
        save_folders(m_folders_file);
        // Counted anew: pictures queued before the search and still waiting
        // belong to this round of progress too.
        QV_LOCK(u"run", m_map_mutex);
        int queued = pending_count();
        QV_LOCK(u"run", m_progress_max_mutex);
        m_progress_max = queued;
    }
    // Counted before the screens can hear of it, so that whoever sees the
    // event also sees the count.
    if (whole)
        ++m_searches_completed;
    {
        // A search asked for while this one ran is still to come.
        QV_LOCK(u"run", m_need_search_mutex);
        m_search_under_way = m_need_search;
    }
    QV_LOCK(u"run", m_events_mutex);
    m_search_complete = true;
    QV_LOCK(u"run", m_progress_value_mutex);
    m_progress_value = 0;
}

bool PhotoCatalog::search()
{
    auto const roots = search_roots();
    bool storage_was_refused = false;
    {
        // Every picture given up on is tried again by this search.
        QV_LOCK(u"search", m_failed_mutex);
        m_failed.clear();
        storage_was_refused = m_storage_problem.fault != platform::StorageFault::None;
        m_storage_problem = {};
    }
    if (storage_was_refused) {
        QV_LOCK(u"search", m_events_mutex);
        m_storage_changed = true;
    }
    // One after the other, not nested: a screen's listener takes the album
    // list inside the progress locks.
    {
        QV_LOCK(u"search", m_folders_mutex);
        m_folders.clear();
    }
    {
        QV_LOCK(u"search", m_progress_max_mutex);
        m_progress_max = 0;
    }
    for (auto const& root : roots) {
        if (!check_drive(root))
            return false;
    }
    return true;
}

namespace {

// `count` pictures of `directory`, the first of them `picture`.
void count_in_album(std::vector<FolderInfo>& albums, WString const& root, WString const& directory,
    WString const& picture, int count, size_t& hint)
{
    // Pictures come directory by directory, so the last album is usually it.
    if (hint < albums.size() && albums[hint].folder_path == directory) {
        albums[hint].folder_size += count;
        return;
    }
    for (size_t i = 0; i < albums.size(); ++i) {
        if (albums[i].folder_path == directory) {
            albums[i].folder_size += count;
            hint = i;
            return;
        }
    }
    albums.push_back({ root, directory, picture, count });
    hint = albums.size() - 1;
}

}

std::vector<PhotoCatalog::Checked> PhotoCatalog::check_pictures(WString const& root, std::vector<WString> pictures,
    std::function<bool(WStringView)> const& listed)
{
    // Every picture's file is looked at here, with no lock held: the
    // screens take these locks every frame.
    std::vector<Checked> checked;
    checked.reserve(pictures.size());
    for (auto& picture : pictures) {
        if (stopping())
            break;
        auto lookup = find_cache_file(picture, root, IdentityCheck::Listing, listed);
        // Counted as the album shows it, even one that cannot be looked at
        // (a link to nothing); a picture marked bad is tried again by every
        // search.
        bool const to_build = lookup.state == CacheLookup::State::Absent || lookup.state == CacheLookup::State::Bad;
        checked.push_back({ std::move(picture), to_build, std::move(lookup.path) });
    }
    return checked;
}

bool PhotoCatalog::check_drive(WString const& root)
{
    std::vector<WString> pictures;
    // A cut walk has not seen every picture: comparing it with the cache
    // directory would delete the cache files of the pictures it missed.
    if (!pictures_under(root, pictures, &m_stop) || stopping())
        return false;

    // The cache directory, listed once: only names it holds are opened.
    // Scratch files belong to builds, this program's or a tool's, and go
    // only once their process has.
    WString const cache_directory = cache_directory_of(root);
    remove_stale_scratch_files(cache_directory);
    std::unordered_map<WString, bool> listed; // name, in use
    for (auto& file : platform::list_directory(expand_path(cache_directory))) {
        if (!file.is_directory && !is_scratch_file_name(file.name))
            listed.emplace(join_path(cache_directory, file.name), false);
    }
    auto const in_listing = [&listed](WStringView name) { return listed.contains(WString(name)); };
    auto const checked = check_pictures(root, std::move(pictures), in_listing);
    if (stopping())
        return false;
    for (auto const& picture : checked) {
        if (auto used = listed.find(picture.cache_file); used != listed.end())
            used->second = true;
    }

    std::vector<FolderInfo> albums;
    {
        QV_LOCK(u"check_drive", m_map_mutex);
        if (!queue_pictures(root, checked, albums))
            return false;
    }
    // Files the listing did not see are newer than it: a build's.
    remove_unused_cache_files(cache_directory, [&](WStringView leaf) {
        auto const listed_file = listed.find(join_path(cache_directory, leaf));
        return listed_file == listed.end() || listed_file->second;
    });
    QV_LOCK(u"check_drive", m_folders_mutex);
    m_folders.insert(m_folders.end(), albums.begin(), albums.end());
    std::erase_if(m_folders, [](FolderInfo const& folder) { return folder.folder_size == 0; });
    // The walk's order is a tree's; the list shows each root's albums by name.
    sort_albums(m_folders);
    return true;
}

// Called with m_map_mutex held.
bool PhotoCatalog::queue_pictures(WString const& root, std::vector<Checked> const& pictures,
    std::vector<FolderInfo>& albums)
{
    size_t hint = 0;
    // Pictures come directory by directory: each run of one directory's
    // pictures is counted in its album at once.
    WString run_directory;
    WString run_first;
    int run_length = 0;
    auto count_run = [&] {
        if (run_length > 0)
            count_in_album(albums, root, run_directory, run_first, run_length, hint);
        run_length = 0;
    };
    auto count = [&](WString const& directory, WString const& picture) {
        if (run_length > 0 && directory == run_directory) {
            ++run_length;
            return;
        }
        count_run();
        run_directory = directory;
        run_first = picture;
        run_length = 1;
    };
    for (auto const& item : pictures) {
        if (stopping()) {
            count_run();
            return false;
        }
        WString const& picture = item.picture;
        auto directory = folder_of(picture);
        count(directory, picture);
        if (!item.to_build)
            continue;
        auto pending = m_map.find(directory);
        if (pending == m_map.end()) {
            m_map.emplace(directory, PendingFolder { root, { { 0, picture } } });
        } else {
            // A picture asked for before the search is queued once only.
            auto& queue = pending->second.pictures;
            if (std::any_of(queue.begin(), queue.end(), [&](auto const& p) { return p.path == picture; }))
                continue;
            queue.push_back({ static_cast<int>(queue.size()), picture });
        }
        QV_LOCK(u"check_drive", m_progress_max_mutex);
        ++m_progress_max;
    }
    count_run();
    return true;
}

void PhotoCatalog::set_searching(bool searching)
{
    {
        QV_LOCK(u"run", m_map_mutex);
        m_searching = searching;
    }
    if (!searching)
        m_build_event.set();
}

void PhotoCatalog::build_loop()
{
    while (!stopping()) {
        WString drive;
        WString picture;
        std::uint64_t ticket = 0;
        if (next_to_build(drive, picture, ticket)) {
            build_one(drive, picture, ticket);
            continue;
        }
        // Bounded: another building thread may reset the event between a
        // signal and this thread's waking, the stop's signal included.
        m_build_event.wait_for(200);
    }
}

bool PhotoCatalog::next_to_build(WString& drive, WString& picture, std::uint64_t& ticket)
{
    QV_LOCK(u"create_cache", m_map_mutex);
    if (m_searching) {
        m_build_event.reset();
        return false;
    }
    auto const untaken = [this](PendingFolder const& folder) {
        return std::find_if(folder.pictures.begin(), folder.pictures.end(),
            [this](PendingPicture const& p) { return !m_building.contains(p.path); });
    };
    auto take = [&](PendingFolder const& folder, std::vector<PendingPicture>::const_iterator p) {
        drive = folder.drive_path;
        picture = p->path;
        m_building.insert(picture);
        // In queue order, under the queue's lock: see NameClaims.
        ticket = m_name_claims.take_ticket();
        return true;
    };
    {
        QV_LOCK(u"create_cache", m_current_folder_mutex);
        if (!m_current_folder.empty()) {
            auto current = m_map.find(m_current_folder);
            if (current != m_map.end()) {
                if (auto p = untaken(current->second); p != current->second.pictures.end())
                    return take(current->second, p);
            }
        }
    }
    for (auto entry = m_map.begin(); entry != m_map.end();) {
        if (entry->second.pictures.empty()) {
            entry = m_map.erase(entry);
            continue;
        }
        if (auto p = untaken(entry->second); p != entry->second.pictures.end())
            return take(entry->second, p);
        ++entry;
    }
    // Reset under the lock every queuing takes: a picture queued after
    // this look sets the event again.
    m_build_event.reset();
    return false;
}

void PhotoCatalog::build_one(WString const& drive, WString const& picture, std::uint64_t ticket)
{
    NameClaims::Ticket claim(m_name_claims, ticket);
    Stopwatch timer;
    Log::get() << u"Time for create cache begin " << seconds_text(timer.elapsed()) << u"\n";
    PictureProblem problem = PictureProblem::None;
    bool ok = false;
    // No plain name: the picture has gone, which the build finds and says.
    WString const plain_name = cache_file_name(picture, drive);
    if (plain_name.empty() || claim.claim(plain_name, &m_stop))
        ok = build_picture_cache(picture, drive, &m_stop, problem);
    Log::get() << u"Time for create cache end " << seconds_text(timer.elapsed()) << u"\n";
    built(picture, ok, problem);
    if (problem == PictureProblem::Storage && !stopping())
        give_up_on_storage(drive);
}

// Every other picture of a storage that refuses one cache file would fail
// the same way, each after reading its picture: they wait for the next
// search, and the screens hear once why.
void PhotoCatalog::give_up_on_storage(WString const& drive)
{
    // The cache directory, or the nearest folder above it that there is:
    // what refused to hold it (a read-only cache home says so).
    WString where = strip_trailing_separator(expand_path(cache_directory_of(drive)));
    while (!where.empty() && !FileInfo(where).exists())
        where = strip_trailing_separator(directory_of(where));
    auto fault = platform::storage_fault(where.empty() ? expand_path(drive) : where);
    if (fault == platform::StorageFault::None)
        fault = platform::StorageFault::Other;
    Log::get() << u"cache files cannot be written under " << drive << u"\n";

    std::vector<WString> given_up;
    bool news = false;
    {
        QV_LOCK(u"create_cache", m_map_mutex);
        for (auto entry = m_map.begin(); entry != m_map.end();) {
            if (entry->second.drive_path != drive) {
                ++entry;
                continue;
            }
            // Builds under way end by themselves, and count themselves.
            auto& pictures = entry->second.pictures;
            auto const under_way = std::stable_partition(pictures.begin(), pictures.end(),
                [this](PendingPicture const& p) { return m_building.contains(p.path); });
            for (auto p = under_way; p != pictures.end(); ++p)
                given_up.push_back(std::move(p->path));
            pictures.erase(under_way, pictures.end());
            entry = pictures.empty() ? m_map.erase(entry) : std::next(entry);
        }
        // Bad before they leave the queue, under its lock: a screen that
        // found a picture neither queued nor given up on would queue it
        // again.
        QV_LOCK(u"create_cache", m_failed_mutex);
        for (auto const& picture : given_up)
            m_failed[picture] = PictureProblem::Storage;
        // A build that was under way beside the first refused one fails
        // the same way: the screens are told once.
        news = m_storage_problem.fault != fault || m_storage_problem.drive_path != drive;
        m_storage_problem = { fault, drive };
    }
    if (news) {
        QV_LOCK(u"create_cache", m_events_mutex);
        m_storage_changed = true;
    }
    QV_LOCK(u"create_cache", m_progress_value_mutex);
    m_progress_value += static_cast<int>(given_up.size());
}

void PhotoCatalog::built(WString const& picture, bool ok, PictureProblem problem)
{
    ++m_builds_finishing;
    // Kept before anyone can hear of the picture: a screen told of it finds
    // it Bad, with its reason, even where its marker could not be written.
    if (!stopping()) {
        QV_LOCK(u"create_cache", m_failed_mutex);
        if (ok)
            m_failed.erase(picture);
        else
            m_failed[picture] = problem;
    }
    if (m_build_observer)
        m_build_observer(picture, ok);
    {
        QV_LOCK(u"create_cache", m_map_mutex);
        m_building.erase(picture);
        auto found = m_map.find(folder_of(picture));
        if (found != m_map.end()) {
            auto& pictures = found->second.pictures;
            auto p = std::find_if(pictures.begin(), pictures.end(), [&](auto const& q) { return q.path == picture; });
            if (p != pictures.end())
                pictures.erase(p);
            if (pictures.empty())
                m_map.erase(found);
        }
    }
    {
        QV_LOCK(u"create_cache", m_events_mutex);
        m_picture_complete = picture;
    }
    {
        QV_LOCK(u"create_cache", m_progress_value_mutex);
        ++m_progress_value;
    }
    --m_builds_finishing;
}

}
