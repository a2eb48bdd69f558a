#include "platform/DirectoryWatch.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <fstream>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qv::platform {

namespace {

constexpr std::uint32_t kDirectoryEvents = IN_CREATE | IN_DELETE | IN_CLOSE_WRITE | IN_MOVED_FROM | IN_MOVED_TO
    | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_EXCL_UNLINK;

constexpr std::size_t kWatchCeiling = 8192;

// The directories inside `directory` an album walk would enter: hidden ones
// and names the program's paths cannot carry are no albums.
std::vector<std::string> subdirectories(std::string const& directory)
{
    std::vector<std::string> found;
    DIR* dir = opendir(directory.c_str());
    if (!dir)
        return found;
    int const at = dirfd(dir);
    while (auto* entry = readdir(dir)) {
        if (entry->d_name[0] == '\0' || entry->d_name[0] == '.' || std::strchr(entry->d_name, '\\'))
            continue;
        // Links to directories are not walked, as the search does not walk
        // them: a link to "/" in the pictures folder would have the watch
        // take the whole disk, other users' folders included.
        bool is_directory = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat st {};
            is_directory = fstatat(at, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
        }
        if (is_directory)
            found.push_back(directory + "/" + entry->d_name);
    }
    closedir(dir);
    std::sort(found.begin(), found.end());
    return found;
}

void drain(int fd)
{
    char buffer[4096];
    while (read(fd, buffer, sizeof buffer) > 0) { }
}

}

std::size_t DirectoryWatch::default_max_watches()
{
    std::size_t allowed = 0;
    std::ifstream limit("/proc/sys/fs/inotify/max_user_watches");
    if (!(limit >> allowed) || allowed == 0)
        return kWatchCeiling;
    return std::max<std::size_t>(1, std::min(kWatchCeiling, allowed / 2));
}

DirectoryWatch::DirectoryWatch(Options options)
    : m_options(std::move(options))
    , m_max_watches(m_options.max_watches > 0 ? m_options.max_watches : default_max_watches())
{
    m_fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    m_wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_options.watch_mounts) {
        m_mounts = open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
        // Read once: the kernel marks the table changed against what its
        // reader last saw.
        if (m_mounts >= 0)
            drain(m_mounts);
    }
}

DirectoryWatch::~DirectoryWatch()
{
    for (int fd : { m_fd, m_wake, m_mounts }) {
        if (fd >= 0)
            close(fd);
    }
}

bool DirectoryWatch::ignored(std::string const& path) const
{
    return m_options.ignore_directory && m_options.ignore_directory(path);
}

void DirectoryWatch::set_roots(std::vector<std::string> roots)
{
    forget_tree("/");
    m_unwatched.clear();
    m_roots = std::move(roots);
    for (auto& root : m_roots) {
        while (root.size() > 1 && root.back() == '/')
            root.pop_back();
    }
    for (auto const& root : m_roots)
        add_tree(root);
}

void DirectoryWatch::add_tree(std::string const& top)
{
    if (m_fd < 0)
        return;
    std::deque<std::string> pending { top };
    while (!pending.empty()) {
        std::string directory = std::move(pending.front());
        pending.pop_front();
        bool const root = std::find(m_roots.begin(), m_roots.end(), directory) != m_roots.end();
        if (!root && ignored(directory))
            continue;
        if (m_paths.contains(directory)) {
            m_unwatched.erase(directory);
            continue;
        }
        if (m_paths.size() >= m_max_watches) {
            m_unwatched.insert(directory);
            continue;
        }
        int const wd = inotify_add_watch(m_fd, directory.c_str(), kDirectoryEvents);
        if (wd < 0) {
            // The system's own bound: what is left is looked at now and then.
            if (errno == ENOSPC || errno == ENOMEM)
                m_unwatched.insert(directory);
            continue;
        }
        m_unwatched.erase(directory);
        // A directory reached twice (a link to one above it) gets the same
        // descriptor: it is walked once.
        if (auto known = m_watches.find(wd); known != m_watches.end())
            continue;
        m_watches.emplace(wd, directory);
        m_paths.emplace(directory, wd);
        // Trees under it that were left unwatched are this walk's now.
        for (auto const& below : subdirectories(directory))
            pending.push_back(below);
    }
}

void DirectoryWatch::forget_tree(std::string const& top)
{
    for (auto it = m_paths.lower_bound(top); it != m_paths.end() && it->first.compare(0, top.size(), top) == 0;) {
        if (!path_within(it->first, top)) {
            ++it;
            continue;
        }
        inotify_rm_watch(m_fd, it->second);
        m_watches.erase(it->second);
        it = m_paths.erase(it);
    }
    std::erase_if(m_unwatched, [&](std::string const& path) { return path_within(path, top); });
}

void DirectoryWatch::retry_unwatched()
{
    auto const tops = m_unwatched;
    for (auto const& top : tops) {
        m_unwatched.erase(top);
        struct stat st {};
        if (stat(top.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            add_tree(top);
    }
}

std::vector<DirectoryChange> DirectoryWatch::read_changes()
{
    std::vector<DirectoryChange> changes;
    if (m_fd < 0)
        return changes;
    alignas(inotify_event) char buffer[64 * 1024];
    bool overflow = false;
    for (;;) {
        ssize_t const length = read(m_fd, buffer, sizeof buffer);
        if (length <= 0)
            break;
        for (ssize_t at = 0; at < length;) {
            auto const* event = reinterpret_cast<inotify_event const*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW) {
                overflow = true;
                continue;
            }
            auto const watch = m_watches.find(event->wd);
            if (watch == m_watches.end())
                continue;
            std::string const directory = watch->second;
            if (event->mask & IN_IGNORED) {
                m_paths.erase(directory);
                m_watches.erase(watch);
                continue;
            }
            if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF)) {
                // The parent tells of any other directory; a root has none
                // that is watched.
                if (std::find(m_roots.begin(), m_roots.end(), directory) != m_roots.end())
                    changes.push_back({ directory, true, false });
                if (event->mask & IN_MOVE_SELF)
                    forget_tree(directory);
                continue;
            }
            if (event->len == 0 || event->name[0] == '.')
                continue;
            std::string const child = directory + "/" + event->name;
            if (event->mask & IN_ISDIR) {
                if (ignored(child))
                    continue;
                if (event->mask & (IN_CREATE | IN_MOVED_TO))
                    add_tree(child);
                else if (event->mask & (IN_DELETE | IN_MOVED_FROM))
                    forget_tree(child);
                changes.push_back({ child, true, false });
            } else if (!m_options.interesting_file || m_options.interesting_file(event->name)) {
                changes.push_back({ directory, false, false });
            }
        }
    }
    if (overflow) {
        // Directories made while events were lost have no watch yet.
        set_roots(m_roots);
        changes.push_back({ {}, true, true });
    }
    return changes;
}

DirectoryWatch::Woken DirectoryWatch::wait(int timeout_ms)
{
    pollfd fds[3] = {
        { m_fd, POLLIN, 0 },
        { m_wake, POLLIN, 0 },
        { m_mounts, POLLPRI, 0 },
    };
    Woken woken;
    int const ready = poll(fds, 3, timeout_ms);
    if (ready <= 0)
        return woken;
    woken.events = fds[0].revents & POLLIN;
    if (fds[1].revents & POLLIN) {
        woken.woken = true;
        drain(m_wake);
    }
    if (fds[2].revents & (POLLPRI | POLLERR)) {
        woken.mounts = true;
        // Read whole from the start: that is what clears the mark.
        lseek(m_mounts, 0, SEEK_SET);
        drain(m_mounts);
    }
    return woken;
}

void DirectoryWatch::wake()
{
    std::uint64_t const one = 1;
    if (m_wake >= 0)
        [[maybe_unused]] auto written = write(m_wake, &one, sizeof one);
}

}
