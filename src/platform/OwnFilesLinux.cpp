#include "platform/OwnFiles.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qv::platform {

namespace {

PlaceState state_of(struct stat const& st)
{
    if (S_ISLNK(st.st_mode))
        return PlaceState::Link;
    if (!S_ISDIR(st.st_mode))
        return PlaceState::NotDirectory;
    return st.st_uid == geteuid() ? PlaceState::OwnDirectory : PlaceState::NotOwn;
}

}

PlaceState place_state(WStringView path)
{
    struct stat st {};
    if (::lstat(to_system_path(path).c_str(), &st) != 0)
        return PlaceState::Missing;
    return state_of(st);
}

char const* place_state_text(PlaceState state)
{
    switch (state) {
    case PlaceState::Missing:
        return "missing";
    case PlaceState::OwnDirectory:
        return "a directory of ours";
    case PlaceState::Link:
        return "a symbolic link";
    case PlaceState::NotOwn:
        return "another user's directory";
    case PlaceState::NotDirectory:
        return "not a directory";
    }
    return "";
}

OwnDirectory::~OwnDirectory()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool OwnDirectory::open(WStringView path)
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    // O_NOFOLLOW refuses a link in the last place; the owner is asked of
    // what was opened, not of the name, which may change meanwhile.
    int const fd = ::open(to_system_path(path).c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        m_state = place_state(path);
        if (m_state == PlaceState::OwnDirectory)
            m_state = PlaceState::Missing; // there, but not for us to open
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        m_state = PlaceState::Missing;
        return false;
    }
    m_state = state_of(st);
    if (m_state != PlaceState::OwnDirectory) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    return true;
}

std::vector<ListedEntry> OwnDirectory::list() const
{
    std::vector<ListedEntry> entries;
    if (m_fd < 0)
        return entries;
    // A listing of its own: readdir on a duplicate leaves this handle's
    // position alone.
    int const copy = ::openat(m_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (copy < 0)
        return entries;
    DIR* dir = ::fdopendir(copy);
    if (!dir) {
        ::close(copy);
        return entries;
    }
    while (auto* d = ::readdir(dir)) {
        if (std::strcmp(d->d_name, ".") == 0 || std::strcmp(d->d_name, "..") == 0)
            continue;
        struct stat st {};
        if (::fstatat(m_fd, d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (S_ISDIR(st.st_mode) || S_ISREG(st.st_mode))
            entries.push_back({ from_utf8_escaped(d->d_name), S_ISDIR(st.st_mode), static_cast<std::uint64_t>(st.st_size) });
    }
    ::closedir(dir);
    std::sort(entries.begin(), entries.end(), [](auto const& a, auto const& b) { return a.name < b.name; });
    return entries;
}

bool OwnDirectory::open_file(WStringView name, File& file, bool writable) const
{
    file.close();
    if (m_fd < 0)
        return false;
    int const access = writable ? O_RDWR : O_RDONLY;
    int const fd = ::openat(m_fd, to_utf8_escaped(name).c_str(), access | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    file.m_fd = fd;
    return true;
}

bool OwnDirectory::remove_file(WStringView name) const
{
    return m_fd >= 0 && ::unlinkat(m_fd, to_utf8_escaped(name).c_str(), 0) == 0;
}

}
