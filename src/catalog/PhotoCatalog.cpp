#include "catalog/PhotoCatalog.h"

#include "base/FileStream.h"
#include "base/Log.h"
#include "base/Paths.h"
#include "base/Registry.h"
#include "base/TextFile.h"
#include "catalog/CatalogFile.h"
#include "catalog/LoggedLock.h"
#include "platform/Files.h"
#include "platform/System.h"

#include <algorithm>
#include <cstdlib>

namespace qv {

PhotoCatalog::PhotoCatalog(WString folders_file, bool start)
    : m_folders_file(folders_file.empty() ? default_folders_file() : std::move(folders_file))
{
    Log::get() << u"ini load start\n";
    load_folders(m_folders_file);
    Log::get() << u"ini load end\n";
    // Nobody is told of the loaded list: no listener can be there yet, and
    // each screen reads the list when it is built.
    if (start) {
        start_worker();
        // A first start over a full pictures folder finds its albums without
        // being asked; later starts show the list kept at once, and bring it
        // up to date behind it.
        // "WatchFolders"=dword:0 leaves the list to the search button, for
        // storage that should stay idle.
        std::uint32_t watch = 1;
        read_dword(kMakerKey, u"WatchFolders", watch);
        if (!m_album_list_found) {
            Log::get() << u"no album list: the first search starts\n";
            need_search();
        } else if (watch != 0) {
            // The list kept is as old as the last run: what changed while
            // the program was closed comes in quietly, as the watching's
            // changes do.
            queue_updates({ Update { {}, {}, true, true } });
        }
        if (watch != 0)
            start_watching();
        else
            Log::get() << u"the search roots are not watched (WatchFolders is 0)\n";
    }
}

// A building thread: the catalog's loop, at background priority.
class PhotoCatalog::BuildThread : public Thread {
public:
    explicit BuildThread(PhotoCatalog& catalog)
        : m_catalog(catalog)
    {
        set_background();
    }
    ~BuildThread() override { join(); }

private:
    void run() override { m_catalog.build_loop(); }
    PhotoCatalog& m_catalog;
};

PhotoCatalog::~PhotoCatalog()
{
    m_stop.store(true);
    // The watching hands work to the worker: it goes first.
    m_watcher.reset();
    request_stop();
    m_work_event.set();
    m_build_event.set();
    join();
    m_builders.clear();
}

WString PhotoCatalog::default_folders_file()
{
    if (char const* file = std::getenv("QUILVANE_FOLDERS_INI"); file && *file)
        return platform::from_system_path(file);
    // An installed program's directory is not the user's to write in: its
    // album list goes where the desktop keeps each user's data.
    if (app_paths().installed) {
        WString directory = user_data_directory();
        if (!make_directories(directory))
            Log::get() << u"default_folders_file: cannot make {" << directory << u"}\n";
        return join_path(directory, u"folders.ini");
    }
    return u"%app_path%/folders.ini";
}

// More builds than processors only share them, each holding its levels:
// the setting asks for at most one a processor, and a larger one is
// clamped and said so.
int PhotoCatalog::build_threads_for(std::uint32_t setting, int processors)
{
    int const most = std::clamp(processors, 1, kMaxBuildThreads);
    if (setting == 0)
        return most;
    if (setting > static_cast<std::uint32_t>(most)) {
        Log::get() << u"BuildThreads " << static_cast<std::int64_t>(setting) << u" is more than the " << most
                   << u" processors: " << most << u" building threads\n";
        return most;
    }
    return static_cast<int>(setting);
}

void PhotoCatalog::set_build_threads(int count) { m_build_threads = std::clamp(count, 0, kMaxBuildThreads); }

bool PhotoCatalog::start_worker()
{
    if (!m_builders.empty())
        return false;
    if (m_build_threads == 0) {
        std::uint32_t setting = 0;
        read_dword(kMakerKey, u"BuildThreads", setting);
        m_build_threads = build_threads_for(setting, platform::processor_count());
    }
    if (!start())
        return false;
    for (int i = 0; i < m_build_threads; ++i) {
        auto builder = std::make_unique<BuildThread>(*this);
        if (builder->start())
            m_builders.push_back(std::move(builder));
    }
    Log::get() << u"cache files are built " << static_cast<std::int32_t>(m_builders.size()) << u" at once\n";
    return !m_builders.empty();
}

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
    QV_LOCK(u"set_folder_size", m_events_mutex);
    m_folders_changed = true;
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
    QV_LOCK(u"set_key_picture", m_events_mutex);
    m_folders_changed = true;
}

void PhotoCatalog::load_folders(WStringView file)
{
    QV_LOCK(u"load_folders", m_folders_mutex);
    FileStream stream(file, OpenMode::Read);
    if (!stream.is_open())
        return;
    m_album_list_found = true;
    auto loaded = folders_from_text(read_text(stream).text);
    m_folders.insert(m_folders.end(), loaded.begin(), loaded.end());
}

bool PhotoCatalog::save_folders(WStringView file)
{
    // Never waits on another save's disk writes: a save that finds one
    // running leaves the writing to it, which saves once more with the
    // newest list.
    std::unique_lock saving(m_save_mutex, std::try_to_lock);
    if (!saving.owns_lock()) {
        m_save_again = true;
        return true;
    }
    bool saved = false;
    do {
        m_save_again = false;
        WString text;
        {
            QV_LOCK(u"save_folders", m_folders_mutex);
            text = folders_to_text(m_folders);
        }
        saved = write_folders(file, text);
    } while (m_save_again);
    return saved;
}

bool PhotoCatalog::write_folders(WStringView file, WStringView text)
{
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

// ---- What the screens ask --------------------------------------------------

bool PhotoCatalog::failed(WStringView picture_path, PictureProblem* problem)
{
    QV_LOCK(u"failed", m_failed_mutex);
    auto found = m_failed.find(WString(picture_path));
    if (found == m_failed.end())
        return false;
    if (problem)
        *problem = found->second;
    return true;
}

PictureStatus PhotoCatalog::picture_status(WStringView picture_path, WStringView drive_path)
{
    PictureProblem problem = PictureProblem::None;
    if (failed(picture_path, &problem)) {
        PictureStatus status;
        status.state = PictureStatus::State::Bad;
        status.problem = problem;
        return status;
    }
    return read_picture_status(picture_path, drive_path);
}

PhotoCatalog::StorageProblem PhotoCatalog::storage_problem()
{
    QV_LOCK(u"storage_problem", m_failed_mutex);
    return m_storage_problem;
}

// ---- Requests of the screens -----------------------------------------------

void PhotoCatalog::need_search()
{
    QV_LOCK(u"need_search", m_need_search_mutex);
    m_search_under_way = true;
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
    m_build_event.set();
}

void PhotoCatalog::prioritize_picture(WStringView picture_path, WStringView drive_path)
{
    // Given up on until the next search: queuing it again would only fail
    // again, and tell the screen again, frame after frame.
    if (failed(picture_path))
        return;
    add_picture(picture_path, drive_path);
    WString const directory = folder_of(picture_path);
    {
        QV_LOCK(u"prioritize_picture", m_map_mutex);
        auto found = m_map.find(directory);
        // Taken by the worker since it was queued: it is being built.
        if (found == m_map.end())
            return;
        auto& pictures = found->second.pictures;
        auto picture = std::find_if(pictures.begin(), pictures.end(), [&](auto const& p) { return p.path == picture_path; });
        if (picture == pictures.end())
            return;
        int const order = picture->order;
        std::stable_sort(pictures.begin(), pictures.end(),
            [order](auto const& a, auto const& b) { return std::abs(a.order - order) < std::abs(b.order - order); });
    }
    set_current_folder(directory);
}

void PhotoCatalog::set_current_folder(WStringView folder_path)
{
    QV_LOCK(u"set_current_folder", m_current_folder_mutex);
    m_current_folder = WString(folder_path);
}

// ---- Events ----------------------------------------------------------------

std::vector<CatalogEvent> PhotoCatalog::take_events()
{
    std::vector<CatalogEvent> events;
    {
        QV_LOCK(u"poll_events", m_events_mutex);
        if (m_folders_changed) {
            events.emplace_back().folders_changed = true;
            m_folders_changed = false;
        }
        if (m_search_complete) {
            events.emplace_back().search_complete = true;
            m_search_complete = false;
        }
        if (m_storage_changed) {
            events.emplace_back().storage_fault = true;
            m_storage_changed = false;
        }
        if (!m_picture_complete.empty()) {
            auto& event = events.emplace_back();
            event.picture_complete = true;
            event.picture_path = std::move(m_picture_complete);
            m_picture_complete.clear();
        }
    }
    QV_LOCK(u"poll_events", m_progress_max_mutex);
    QV_LOCK(u"poll_events", m_progress_value_mutex);
    if (m_progress_max == 0) {
        // A search that started again after the last build, before the end
        // was told, set the count back: the end is told now, or the bar
        // shown for the progress would stay.
        if (m_progress_reported > 0) {
            events.emplace_back().cache_complete = true;
            m_progress_reported = 0;
        }
        return events;
    }
    if (m_progress_value < m_progress_max && m_progress_value != m_progress_reported) {
        m_progress_reported = m_progress_value;
        auto& event = events.emplace_back();
        event.progress = true;
        event.progress_fraction = static_cast<double>(m_progress_value) / m_progress_max;
    }
    if (m_progress_value >= m_progress_max) {
        events.emplace_back().cache_complete = true;
        m_progress_value = 0;
        m_progress_max = 0;
        m_progress_reported = 0;
    }
    return events;
}

void PhotoCatalog::poll_events()
{
    if (m_polling)
        return;
    // Everything is gathered first and told with no lock held: a listener
    // may call back in, and what its calls change waits for the next poll.
    struct Polling {
        bool& flag;
        explicit Polling(bool& f)
            : flag(f)
        {
            flag = true;
        }
        ~Polling() { flag = false; }
    } polling(m_polling);
    for (auto const& event : take_events())
        send(event);
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

// ---- Diagnostics -----------------------------------------------------------

std::vector<PendingPicture> PhotoCatalog::pending_pictures(WStringView folder_path)
{
    QV_LOCK(u"pending_pictures", m_map_mutex);
    auto found = m_map.find(WString(folder_path));
    return found == m_map.end() ? std::vector<PendingPicture>() : found->second.pictures;
}

bool PhotoCatalog::work_done()
{
    {
        QV_LOCK(u"work_done", m_need_search_mutex);
        if (m_need_search || !m_updates.empty() || m_applying_updates || m_search_under_way)
            return false;
    }
    {
        // Pictures being built stay in the queue until they are done.
        QV_LOCK(u"work_done", m_map_mutex);
        if (!m_map.empty())
            return false;
    }
    // Asked after the queue: a build leaves it only once counted here.
    return m_builds_finishing.load() == 0;
}

bool PhotoCatalog::idle()
{
    if (!work_done())
        return false;
    QV_LOCK(u"idle", m_events_mutex);
    return !m_search_complete && !m_folders_changed && !m_storage_changed && m_picture_complete.empty();
}

int PhotoCatalog::pending_count()
{
    QV_LOCK(u"pending_count", m_map_mutex);
    int count = 0;
    for (auto const& [directory, folder] : m_map)
        count += static_cast<int>(folder.pictures.size());
    return count;
}

}
