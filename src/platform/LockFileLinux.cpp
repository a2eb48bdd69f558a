#include "platform/LockFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qv::platform {

namespace {

bool same_file(struct stat const& a, struct stat const& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// The file at `path` is the one open as `fd`; a link there is never it.
bool still_at_path(std::string const& path, int fd)
{
    struct stat held {}, named {};
    return ::fstat(fd, &held) == 0 && ::lstat(path.c_str(), &named) == 0 && same_file(held, named);
}

}

int take_lock_file(std::string const& path, bool wait, std::string& problem)
{
    for (;;) {
        int const fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == ELOOP || errno == EACCES || errno == EPERM || errno == EISDIR)
                problem = path + " is not a lock file of this user's";
            return -1;
        }
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
            problem = path + " is not a lock file of this user's";
            ::close(fd);
            return -1;
        }
        int result = 0;
        while ((result = ::flock(fd, wait ? LOCK_EX : LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) { }
        if (result != 0) {
            int const reason = errno;
            ::close(fd);
            errno = reason;
            return -1;
        }
        if (still_at_path(path, fd))
            return fd;
        // Its holder removed it as it let go: the lock is now the new file's.
        ::close(fd);
    }
}

void release_lock_file(std::string const& path, int fd)
{
    if (fd < 0)
        return;
    if (still_at_path(path, fd))
        ::unlink(path.c_str());
    ::close(fd);
}

}
