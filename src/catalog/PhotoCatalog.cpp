#include "catalog/PhotoCatalog.h"

#include "base/Directories.h"
#include "base/FileInfo.h"
#include "base/FileStream.h"
#include "base/Log.h"
#include "base/Paths.h"
#include "base/TextFile.h"
#include "catalog/CatalogFile.h"
#include "platform/Files.h"
#include "thumbcache/CacheBuilder.h"
#include "thumbcache/CacheFile.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <unordered_map>

namespace qv {

namespace {

// Takes a named lock with the diagnostic lines around it: "start" before
// taking it, "end" before letting it go.
class LoggedLock {
public:
    LoggedLock(char16_t const* operation, char16_t const* name, Mutex& mutex, bool blank_line = false)
        : m_operation(operation)
        , m_name(name)
        , m_mutex(mutex)
        , m_blank_line(blank_line)
    {
        Log::get() << m_operation << u" " << m_name << u" start\n";
        m_mutex.lock();
    }
    ~LoggedLock()
    {
        Log::get() << m_operation << u" " << m_name << (m_blank_line ? u" end\n\n" : u" end\n");
        m_mutex.unlock();
    }
    LoggedLock(LoggedLock const&) = delete;
    LoggedLock& operator=(LoggedLock const&) = delete;

private:
    char16_t const* m_operation;
    char16_t const* m_name;
    Mutex& m_mutex;
    bool m_blank_line;
};

#define QV_LOCK(operation, member) LoggedLock member##_lock(operation, u## #member, member)

struct Cards : DirectoryVisitor {
    std::vector<WString> roots;
    bool on_directory(WString const& path) override
    {
        roots.push_back(path);
        return true;
    }
};

// The pictures under `directory`, walked as walk_directory walks: a
// directory's files in name order, then each sub-directory in name order,
// descending at once. Every directory is listed once for both. "*.jpg"
// pictures go to `jpg`, "*.jpeg" ones to `jpeg`. False once `stop` is seen.
bool collect_pictures(WString const& directory, std::atomic<bool> const& stop, std::vector<WString>& jpg,
    std::vector<WString>& jpeg)
{
    auto const entries = platform::list_directory(expand_path(directory));
    for (auto const& entry : entries) {
        if (entry.is_directory)
            continue;
        bool const is_jpg = platform::matches_pattern(entry.name, u"*.jpg");
        if (!is_jpg && !platform::matches_pattern(entry.name, u"*.jpeg"))
            continue;
        if (stop.load(std::memory_order_relaxed))
            return false;
        (is_jpg ? jpg : jpeg).push_back(join_path(directory, entry.name));
    }
    for (auto const& entry : entries) {
        if (!entry.is_directory)
            continue;
        if (stop.load(std::memory_order_relaxed) || !collect_pictures(join_path(directory, entry.name), stop, jpg, jpeg))
            return false;
    }
    return true;
}

WString seconds_text(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%f", seconds);
    return from_utf8(text);
}

}

PhotoCatalog::PhotoCatalog(WString folders_file, bool start)
    : m_folders_file(folders_file.empty() ? default_folders_file() : std::move(folders_file))
{
    Log::get() << u"ini load start\n";
    load_folders(m_folders_file);
    Log::get() << u"ini load end\n";
    CatalogEvent event;
    event.folders_changed = true;
    send(event);
    if (start)
        start_worker();
}

PhotoCatalog::~PhotoCatalog()
{
    m_stop.store(true);
    request_stop();
    m_work_event.set();
    join();
}

WString PhotoCatalog::default_folders_file()
{
    if (char const* file = std::getenv("QUILVANE_FOLDERS_INI"); file && *file)
        return platform::from_system_path(file);
    return u"%app_path%/folders.ini";
}

bool PhotoCatalog::start_worker() { return start(); }

// ---- The album list --------------------------------------------------------

int PhotoCatalog::get_folders_size()
{
    QV_LOCK(u"get_folders_size", m_folders_mutex);
    return static_cast<int>(m_folders.size());
}

FolderInfo PhotoCatalog::get_folder(int index)
{
    QV_LOCK(u"get_folder", m_folders_mutex);
    Log::get() << u"get_folder size=" << static_cast<std::int32_t>(m_folders.size()) << u" index=" << index << u"\n";
    // The worker may have rebuilt the list since the caller read its size.
    if (index < 0 || static_cast<size_t>(index) >= m_folders.size())
        return {};
    return m_folders[static_cast<size_t>(index)];
}

std::vector<FolderInfo> PhotoCatalog::get_folders()
{
    QV_LOCK(u"get_folders", m_folders_mutex);
    return m_folders;
}

int PhotoCatalog::search_folder_num(WStringView key_picture_path)
{
    QV_LOCK(u"search_folder_num", m_folders_mutex);
    for (size_t i = 0; i < m_folders.size(); ++i) {
        if (m_folders[i].key_picture_path == key_picture_path)
            return static_cast<int>(i);
    }
    return -1;
}

void PhotoCatalog::set_folder_size(WStringView picture_path, int count)
{
    {
        QV_LOCK(u"set_folder_size", m_folders_mutex);
        auto directory = folder_of(picture_path);
        for (auto& folder : m_folders) {
            if (folder.folder_path == directory) {
                folder.folder_size = count;
                break;
            }
        }
        save_folders(m_folders_file);
    }
    CatalogEvent event;
    event.folders_changed = true;
    send(event);
}

void PhotoCatalog::set_key_picture(WStringView picture_path, WStringView new_path)
{
    {
        QV_LOCK(u"set_key_picture", m_folders_mutex);
        auto directory = folder_of(picture_path);
        for (auto& folder : m_folders) {
            if (folder.folder_path == directory) {
                folder.key_picture_path = WString(new_path);
                break;
            }
        }
        save_folders(m_folders_file);
    }
    CatalogEvent event;
    event.folders_changed = true;
    send(event);
}

void PhotoCatalog::load_folders(WStringView file)
{
    QV_LOCK(u"load_folders", m_folders_mutex);
    FileStream stream(file, OpenMode::Read);
    if (!stream.is_open())
        return;
    auto loaded = folders_from_text(read_text(stream).text);
    m_folders.insert(m_folders.end(), loaded.begin(), loaded.end());
}

bool PhotoCatalog::save_folders(WStringView file)
{
    QV_LOCK(u"save_folders", m_folders_mutex);
    auto text = folders_to_text(m_folders);
    // The list is written beside the file and renamed over it, so a crash or
    // a full disk half way leaves the previous list whole.
    WString target = expand_path(file);
    WString temporary = target + u".new";
    bool written = false;
    {
        TextWriter writer(temporary, OpenMode::Write);
        written = writer.is_open() && writer.write(text);
        if (written)
            writer.flush();
        writer.close();
    }
    if (written && platform::move_file(temporary, target))
        return true;
    platform::remove_file(temporary);
    Log::get() << u"save_folders failed {" << target << u"}\n";
    return false;
}

// ---- Calls of the screens --------------------------------------------------

void PhotoCatalog::need_search()
{
    QV_LOCK(u"need_search", m_need_search_mutex);
    if (!m_need_search) {
        m_need_search = true;
        m_work_event.set();
    }
}

void PhotoCatalog::add_picture(WStringView picture_path, WStringView drive_path)
{
    {
        QV_LOCK(u"add_picture", m_map_mutex);
        auto directory = folder_of(picture_path);
        auto found = m_map.find(directory);
        if (found == m_map.end()) {
            m_map.emplace(directory, PendingFolder { WString(drive_path), { { 0, WString(picture_path) } } });
        } else {
            auto& pictures = found->second.pictures;
            bool queued = std::any_of(pictures.begin(), pictures.end(), [&](auto const& p) { return p.path == picture_path; });
            if (queued)
                return;
            pictures.push_back({ static_cast<int>(pictures.size()), WString(picture_path) });
        }
        {
            QV_LOCK(u"add_picture", m_progress_max_mutex);
            ++m_progress_max;
        }
        {
            QV_LOCK(u"add_picture", m_current_folder_mutex);
            m_current_folder = directory;
        }
    }
    m_work_event.set();
}

void PhotoCatalog::prioritize_picture(WStringView picture_path)
{
    bool held = false;
    {
        QV_LOCK(u"prioritize_picture", m_map_mutex);
        WString current;
        {
            QV_LOCK(u"prioritize_picture", m_current_folder_mutex);
            current = m_current_folder;
        }
        auto found = m_map.find(current);
        if (found == m_map.end())
            return;
        auto& pictures = found->second.pictures;
        auto picture = std::find_if(pictures.begin(), pictures.end(), [&](auto const& p) { return p.path == picture_path; });
        if (picture != pictures.end()) {
            held = true;
            int const order = picture->order;
            std::stable_sort(pictures.begin(), pictures.end(),
                [order](auto const& a, auto const& b) { return std::abs(a.order - order) < std::abs(b.order - order); });
        }
    }
    if (held) {
        set_current_folder(folder_of(picture_path));
        return;
    }
    CatalogEvent event;
    event.picture_complete = true;
    event.picture_path = WString(picture_path);
    send(event);
}

void PhotoCatalog::set_current_folder(WStringView folder_path)
{
    QV_LOCK(u"set_current_folder", m_current_folder_mutex);
    m_current_folder = WString(folder_path);
}

bool PhotoCatalog::is_bad_picture(WStringView cache_file) { return qv::is_bad_picture(cache_file); }

void PhotoCatalog::poll_events()
{
    {
        QV_LOCK(u"poll_events", m_search_complete_mutex);
        if (m_search_complete) {
            CatalogEvent event;
            event.search_complete = true;
            send(event);
            m_search_complete = false;
        }
    }
    {
        QV_LOCK(u"poll_events", m_picture_complete_mutex);
        if (!m_picture_complete.empty()) {
            CatalogEvent event;
            event.picture_complete = true;
            event.picture_path = m_picture_complete;
            m_picture_complete.clear();
            send(event);
        }
    }
    {
        QV_LOCK(u"poll_events", m_progress_max_mutex);
        QV_LOCK(u"poll_events", m_progress_value_mutex);
        if (m_progress_max != 0) {
            if (m_progress_value < m_progress_max && m_progress_value != m_progress_reported) {
                m_progress_reported = m_progress_value;
                CatalogEvent event;
                event.progress = true;
                event.progress_fraction = static_cast<double>(m_progress_value) / m_progress_max;
                send(event);
            }
            if (m_progress_value >= m_progress_max) {
                CatalogEvent event;
                event.cache_complete = true;
                m_progress_value = 0;
                m_progress_max = 0;
                send(event);
            }
        }
    }
}

void PhotoCatalog::add_listener(CatalogListener* listener) { m_listeners.push_back(listener); }

void PhotoCatalog::remove_listener(CatalogListener* listener)
{
    auto found = std::find(m_listeners.begin(), m_listeners.end(), listener);
    if (found != m_listeners.end())
        m_listeners.erase(found);
}

void PhotoCatalog::send(CatalogEvent const& event)
{
    // A listener may unregister itself (or another) while it is told.
    auto listeners = m_listeners;
    for (auto* listener : listeners) {
        if (std::find(m_listeners.begin(), m_listeners.end(), listener) != m_listeners.end())
            listener->on_catalog_event(event);
    }
}

std::vector<PendingPicture> PhotoCatalog::pending_pictures(WStringView folder_path)
{
    QV_LOCK(u"pending_pictures", m_map_mutex);
    auto found = m_map.find(WString(folder_path));
    return found == m_map.end() ? std::vector<PendingPicture>() : found->second.pictures;
}

int PhotoCatalog::pending_count()
{
    QV_LOCK(u"pending_count", m_map_mutex);
    int count = 0;
    for (auto const& [directory, folder] : m_map)
        count += static_cast<int>(folder.pictures.size());
    return count;
}

// ---- The worker ------------------------------------------------------------

void PhotoCatalog::run()
{
    set_priority(-1);
    m_work_event.wait();
    while (!stopping()) {
        {
            QV_LOCK(u"run", m_need_search_mutex);
            if (m_need_search) {
                bool whole = search();
                m_need_search = false;
                if (whole) {
                    save_folders(m_folders_file);
                    // Counted anew: pictures queued before the search and
                    // still waiting belong to this round of progress too.
                    QV_LOCK(u"run", m_map_mutex);
                    int queued = pending_count();
                    QV_LOCK(u"run", m_progress_max_mutex);
                    m_progress_max = queued;
                }
                // Counted before the screens can hear of it, so that whoever
                // sees the event also sees the count.
                if (whole)
                    ++m_searches_completed;
                {
                    QV_LOCK(u"run", m_search_complete_mutex);
                    m_search_complete = true;
                    QV_LOCK(u"run", m_progress_value_mutex);
                    m_progress_value = 0;
                }
            }
        }
        if (stopping())
            break;
        create_cache();
        {
            // A search request that came in meanwhile keeps the worker awake.
            QV_LOCK(u"run", m_need_search_mutex);
            QV_LOCK(u"run", m_map_mutex);
            if (m_map.empty() && !m_need_search)
                m_work_event.reset();
        }
        // The destructor raises the flag before it signals: a signal lost to
        // the reset above is seen here.
        if (stopping())
            break;
        m_work_event.wait();
    }
}

bool PhotoCatalog::search()
{
    Cards cards;
    find_drives(cards);
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
    for (auto const& card : cards.roots) {
        if (!check_drive(card + u"\\"))
            return false;
    }
    return check_drive(u"%my_documents%\\");
}

void PhotoCatalog::count_in_album(WString const& root, WString const& directory, WString const& picture, int count,
    size_t& hint)
{
    QV_LOCK(u"check_drive", m_folders_mutex);
    // Pictures come directory by directory, so the last album is usually it.
    if (hint < m_folders.size() && m_folders[hint].folder_path == directory) {
        m_folders[hint].folder_size += count;
        return;
    }
    for (size_t i = 0; i < m_folders.size(); ++i) {
        if (m_folders[i].folder_path == directory) {
            m_folders[i].folder_size += count;
            hint = i;
            return;
        }
    }
    m_folders.push_back({ root, directory, picture, count });
    hint = m_folders.size() - 1;
}

bool PhotoCatalog::check_drive(WString const& root)
{
    // One walk gathers both kinds; every "*.jpg" picture still comes before
    // every "*.jpeg" one, each in walk order, as two walks would give them.
    std::vector<WString> pictures;
    std::vector<WString> jpeg_pictures;
    bool const whole = collect_pictures(root, m_stop, pictures, jpeg_pictures);
    pictures.insert(pictures.end(), std::make_move_iterator(jpeg_pictures.begin()),
        std::make_move_iterator(jpeg_pictures.end()));
    // A cut walk has not seen every picture: comparing it with the cache
    // directory would delete the cache files of the pictures it missed.
    if (!whole || stopping())
        return false;

    // The cache directory, listed once with the sizes that tell its valid
    // files from the others without opening each.
    struct Listed {
        std::optional<std::uint64_t> size;
        bool used { false };
    };
    WString const cache_directory = root + kCacheDirectory;
    std::unordered_map<WString, Listed> used;
    for (auto& file : platform::list_directory(expand_path(cache_directory), true)) {
        if (!file.is_directory)
            used.emplace(join_path(cache_directory, file.name), Listed { file.size });
    }

    {
        QV_LOCK(u"check_drive", m_map_mutex);
        size_t hint = 0;
        // Pictures come directory by directory: each run of one directory's
        // pictures is counted in its album at once, under one lock.
        WString run_directory;
        WString run_first;
        int run_length = 0;
        auto count_run = [&] {
            if (run_length > 0)
                count_in_album(root, run_directory, run_first, run_length, hint);
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
        for (auto const& picture : pictures) {
            if (stopping()) {
                count_run();
                return false;
            }
            auto name = cache_file_name(picture, root);
            if (name.empty())
                continue;
            auto directory = folder_of(picture);
            auto cache = used.find(name);
            if (cache != used.end() && is_listed_cache_file_valid(name, cache->second.size)) {
                cache->second.used = true;
                count(directory, picture);
                continue;
            }
            auto pending = m_map.find(directory);
            if (pending == m_map.end()) {
                m_map.emplace(directory, PendingFolder { root, { { 0, picture } } });
            } else {
                // A picture asked for before the search is queued once only.
                auto& queue = pending->second.pictures;
                if (std::any_of(queue.begin(), queue.end(), [&](auto const& p) { return p.path == picture; })) {
                    count(directory, picture);
                    continue;
                }
                queue.push_back({ static_cast<int>(queue.size()), picture });
            }
            count(directory, picture);
            QV_LOCK(u"check_drive", m_progress_max_mutex);
            ++m_progress_max;
        }
        count_run();

        for (auto const& [file, listed] : used) {
            if (!listed.used)
                platform::remove_file(expand_path(file));
        }
        QV_LOCK(u"check_drive", m_folders_mutex);
        std::erase_if(m_folders, [](FolderInfo const& folder) { return folder.folder_size == 0; });
    }
    return true;
}

void PhotoCatalog::create_cache()
{
    WString drive;
    WString picture;
    {
        QV_LOCK(u"create_cache", m_map_mutex);
        if (m_map.empty())
            return;
        auto entry = m_map.end();
        {
            QV_LOCK(u"create_cache", m_current_folder_mutex);
            if (!m_current_folder.empty())
                entry = m_map.find(m_current_folder);
        }
        if (entry == m_map.end())
            entry = m_map.begin();
        if (entry->second.pictures.empty()) {
            m_map.erase(entry);
            return;
        }
        drive = entry->second.drive_path;
        picture = entry->second.pictures.front().path;
    }

    WString cache_directory = drive + kCacheDirectory;
    if (!FileInfo(cache_directory).exists())
        create_directories(cache_directory);
    auto name = cache_file_name(picture, drive);
    Stopwatch timer;
    Log::get() << u"Time for create cache begin " << seconds_text(timer.elapsed()) << u"\n";
    bool built = !name.empty() && create_picture_cache(picture, name, &m_stop);
    if (!built && !name.empty()) {
        // The empty file marks a picture that cannot be read; the next
        // search tries it again.
        FileStream marker(name, OpenMode::Write);
    }
    Log::get() << u"Time for create cache end " << seconds_text(timer.elapsed()) << u"\n";
    if (m_build_observer)
        m_build_observer(picture, built);

    {
        QV_LOCK(u"create_cache", m_map_mutex);
        auto directory = folder_of(picture);
        auto found = m_map.find(directory);
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
        QV_LOCK(u"create_cache", m_picture_complete_mutex);
        m_picture_complete = picture;
    }
    QV_LOCK(u"create_cache", m_progress_value_mutex);
    ++m_progress_value;
}

}
