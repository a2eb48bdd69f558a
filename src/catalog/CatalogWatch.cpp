// The catalog's watching: a thread of its own waits on the watches of the
// search roots and on the mount table, gathers bursts of changes and hands
// them to the worker, which brings the album list up to date in place.

#include "catalog/PhotoCatalog.h"

#include "base/Log.h"
#include "base/Milestones.h"
#include "base/Paths.h"
#include "catalog/AlbumListing.h"
#include "catalog/LoggedLock.h"
#include "platform/DirectoryWatch.h"
#include "platform/Files.h"
#include "thumbcache/CacheFile.h"
#include "thumbcache/CacheLocation.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <unordered_set>

namespace qv {

namespace {

std::uint64_t now_ms()
{
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

std::string system_directory(WStringView program_path)
{
    std::string path = platform::to_system_path(expand_path(program_path));
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

// A directory as the albums name it, as folder_of names a picture's: with
// its trailing separator.
WString album_directory(WStringView directory) { return folder_of(join_path(directory, u"x")); }

// Album folders end in a separator, as folder_of gives them.
bool album_within(WString const& folder, WString const& directory, bool recursive)
{
    if (!recursive)
        return folder == directory;
    return folder.size() >= directory.size() && folder.compare(0, directory.size(), directory) == 0;
}

bool same_albums(std::vector<FolderInfo> a, std::vector<FolderInfo> b)
{
    auto const by_path = [](FolderInfo const& x, FolderInfo const& y) { return x.folder_path < y.folder_path; };
    std::sort(a.begin(), a.end(), by_path);
    std::sort(b.begin(), b.end(), by_path);
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](FolderInfo const& x, FolderInfo const& y) {
        return x.folder_path == y.folder_path && x.key_picture_path == y.key_picture_path
            && x.folder_size == y.folder_size && x.drive_path == y.drive_path;
    });
}

}

class PhotoCatalog::WatchThread : public Thread {
public:
    WatchThread(PhotoCatalog& catalog, WatchOptions const& options)
        : m_catalog(catalog)
        , watch(platform::DirectoryWatch::Options {
              options.max_watches,
              [this](std::string_view path) {
                  return std::any_of(ignored.begin(), ignored.end(),
                      [&](std::string const& top) { return platform::path_within(path, top); });
              },
              [](std::string_view name) { return is_picture_name(platform::from_system_path(name)); },
              true })
    {
    }
    ~WatchThread() override
    {
        request_stop();
        watch.wake();
        join();
    }

    // The roots, program form, and what is never to be watched below them.
    void set_roots(std::vector<WString> program_roots)
    {
        roots = std::move(program_roots);
        ignored.clear();
        std::vector<std::string> system_roots;
        for (auto const& root : roots) {
            system_roots.push_back(system_directory(root));
            ignored.push_back(system_directory(cache_directory_of(root)));
        }
        // Where the desktop keeps caches: builds write there all the time,
        // and no picture of an album lives there.
        ignored.push_back(xdg_base_directory("XDG_CACHE_HOME", ".cache"));
        watch.set_roots(std::move(system_roots));
        watched = watch.watch_count();
        left = watch.unwatched().size();
        Log::get() << u"watching " << static_cast<std::int32_t>(watched) << u" directories, "
                   << static_cast<std::int32_t>(left) << u" trees left to rescans\n";
    }

    // The worker's terms for what the watching saw.
    std::vector<Update> updates(std::vector<platform::DirectoryChange> const& changes) const
    {
        std::vector<Update> out;
        for (auto const& change : changes) {
            if (change.everything) {
                out.push_back({ {}, {}, true, true });
                continue;
            }
            // The innermost root that holds it (a card may lie inside the
            // pictures folder's tree, or the other way round).
            WString const* drive = nullptr;
            std::string drive_system;
            for (auto const& root : roots) {
                std::string const top = system_directory(root);
                if (platform::path_within(change.path, top) && (!drive || top.size() > drive_system.size())) {
                    drive = &root;
                    drive_system = top;
                }
            }
            if (!drive)
                continue;
            WString directory = strip_trailing_separator(*drive);
            directory += platform::from_system_path(std::string_view(change.path).substr(drive_system.size()));
            out.push_back({ *drive, album_directory(directory), change.recursive, false });
        }
        return out;
    }

    std::atomic<std::size_t> watched { 0 };
    std::atomic<std::size_t> left { 0 };
    std::vector<WString> roots;

private:
    void run() override { m_catalog.watch_loop(*this); }

    PhotoCatalog& m_catalog;
    std::vector<std::string> ignored;

public:
    platform::DirectoryWatch watch;
};

void PhotoCatalog::StopWatching::operator()(WatchThread* thread) const { delete thread; }

bool PhotoCatalog::start_watching(WatchOptions options)
{
    if (m_watcher)
        return true;
    m_watch_options = options;
    std::unique_ptr<WatchThread, StopWatching> watcher(new WatchThread(*this, options));
    if (!watcher->watch.valid()) {
        Log::get() << u"the search roots cannot be watched: new pictures wait for a search\n";
        return false;
    }
    if (!watcher->start())
        return false;
    m_watcher = std::move(watcher);
    return true;
}

std::pair<std::size_t, std::size_t> PhotoCatalog::watch_counts()
{
    if (!m_watcher)
        return { 0, 0 };
    return { m_watcher->watched.load(), m_watcher->left.load() };
}

void PhotoCatalog::watch_loop(WatchThread& thread)
{
    thread.set_roots(search_roots());
    auto& watch = thread.watch;
    platform::ChangeBatch batch(static_cast<std::uint64_t>(std::max(m_watch_options.quiet_ms, 0)),
        static_cast<std::uint64_t>(std::max(m_watch_options.longest_ms, 0)));
    std::uint64_t const rescan_every = static_cast<std::uint64_t>(std::max(m_watch_options.rescan_seconds, 1)) * 1000;
    std::uint64_t next_rescan = now_ms() + rescan_every;
    while (!thread.stop_requested() && !stopping()) {
        std::uint64_t now = now_ms();
        std::int64_t timeout = next_rescan > now ? static_cast<std::int64_t>(next_rescan - now) : 0;
        if (auto const pending = batch.wait_ms(now); pending >= 0)
            timeout = std::min(timeout, pending);
        auto const woken = watch.wait(static_cast<int>(timeout));
        if (thread.stop_requested() || stopping())
            break;
        now = now_ms();
        if (woken.events)
            batch.add(watch.read_changes(), now);
        if (woken.mounts) {
            auto roots = search_roots();
            if (roots != thread.roots) {
                Log::get() << u"the storage cards changed\n";
                thread.set_roots(std::move(roots));
                batch.add({ { {}, true, true } }, now);
            }
        }
        if (now >= next_rescan) {
            next_rescan = now + rescan_every;
            if (!watch.unwatched().empty()) {
                std::vector<platform::DirectoryChange> trees;
                for (auto const& top : watch.unwatched())
                    trees.push_back({ top, true, false });
                watch.retry_unwatched();
                batch.add(trees, now);
            }
        }
        thread.watched = watch.watch_count();
        thread.left = watch.unwatched().size();
        if (batch.due(now))
            queue_updates(thread.updates(batch.take()));
    }
}

void PhotoCatalog::queue_updates(std::vector<Update> updates)
{
    if (updates.empty())
        return;
    QV_LOCK(u"queue_updates", m_need_search_mutex);
    m_updates.insert(m_updates.end(), updates.begin(), updates.end());
    m_work_event.set();
}

void PhotoCatalog::apply_updates(std::vector<Update> const& updates)
{
    bool changed = false;
    for (auto const& update : updates) {
        if (stopping())
            return;
        if (!update.everything) {
            Log::get() << u"update " << update.directory << (update.recursive ? u" and below\n" : u"\n");
            if (!rescan(update.drive_path, update.directory, update.recursive, changed))
                return;
            continue;
        }
        Log::get() << u"update of every root\n";
        auto const roots = search_roots();
        for (auto const& root : roots) {
            if (!rescan(root, album_directory(root), true, changed))
                return;
        }
        // The albums of a card taken out go with it.
        QV_LOCK(u"apply_updates", m_folders_mutex);
        auto const gone = std::erase_if(m_folders, [&](FolderInfo const& folder) {
            return std::find(roots.begin(), roots.end(), folder.drive_path) == roots.end();
        });
        changed = changed || gone > 0;
    }
    if (changed) {
        save_folders(m_folders_file);
        QV_LOCK(u"apply_updates", m_events_mutex);
        m_folders_changed = true;
    }
    // Both milestones: the one with the change says more of the same line.
    Log::get() << (changed ? WStringView(milestone::kAlbumsChanged) : WStringView(milestone::kUpdateComplete)) << u"\n";
    ++m_updates_completed;
}

bool PhotoCatalog::rescan(WString const& drive, WString const& directory, bool recursive, bool& changed)
{
    std::vector<WString> pictures;
    if (recursive) {
        if (!pictures_under(directory, pictures, &m_stop))
            return false;
    } else {
        pictures = album_pictures(directory);
    }
    auto const checked = check_pictures(drive, std::move(pictures), {});
    if (stopping())
        return false;
    auto const inside = [&](WString const& folder) { return album_within(folder, directory, recursive); };

    std::vector<FolderInfo> albums;
    int dropped = 0;
    {
        QV_LOCK(u"rescan", m_map_mutex);
        std::unordered_set<WString> present;
        for (auto const& item : checked)
            present.insert(item.picture);
        // Queued pictures that went leave the queue (one being built ends by
        // itself); those that failed are tried again, changed as they may be.
        for (auto entry = m_map.begin(); entry != m_map.end();) {
            if (!inside(entry->first)) {
                ++entry;
                continue;
            }
            dropped += static_cast<int>(std::erase_if(entry->second.pictures, [&](PendingPicture const& p) {
                return !present.contains(p.path) && !m_building.contains(p.path);
            }));
            entry = entry->second.pictures.empty() ? m_map.erase(entry) : std::next(entry);
        }
        {
            QV_LOCK(u"rescan", m_failed_mutex);
            std::erase_if(m_failed, [&](auto const& failed) { return inside(folder_of(failed.first)); });
        }
        if (!queue_pictures(drive, checked, albums))
            return false;
    }
    if (dropped > 0) {
        QV_LOCK(u"rescan", m_progress_value_mutex);
        m_progress_value += dropped;
    }
    QV_LOCK(u"rescan", m_folders_mutex);
    auto const moved = std::stable_partition(m_folders.begin(), m_folders.end(),
        [&](FolderInfo const& folder) { return folder.drive_path != drive || !inside(folder.folder_path); });
    std::vector<FolderInfo> before(moved, m_folders.end());
    if (same_albums(before, albums))
        return true;
    m_folders.erase(moved, m_folders.end());
    m_folders.insert(m_folders.end(), albums.begin(), albums.end());
    sort_albums(m_folders);
    changed = true;
    return true;
}

}
