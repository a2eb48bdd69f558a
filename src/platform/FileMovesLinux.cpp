#include "platform/FileMoves.h"
#include "platform/Files.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qv::platform {

namespace {

thread_local int t_move_error = 0;

bool record(bool ok)
{
    t_move_error = ok ? 0 : errno;
    return ok;
}

class Descriptor {
public:
    explicit Descriptor(int fd)
        : m_fd(fd)
    {
    }
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(Descriptor const&) = delete;
    Descriptor& operator=(Descriptor const&) = delete;
    int get() const { return m_fd; }
    // The close's own error counts: on some file systems a failed write
    // shows only there.
    bool close()
    {
        int const fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

private:
    int m_fd;
};

bool copy_bytes(int in, int out)
{
    char buffer[1 << 16];
    for (;;) {
        ssize_t const n = ::read(in, buffer, sizeof buffer);
        if (n == 0)
            return true;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        for (ssize_t written = 0; written < n;) {
            ssize_t const w = ::write(out, buffer + written, static_cast<size_t>(n - written));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                return false;
            written += w;
        }
    }
}

}

MoveOutcome rename_without_replacing(WStringView from, WStringView to)
{
    auto const source = to_system_path(from);
    auto const target = to_system_path(to);
    if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
        return MoveOutcome::Moved;
    int error = errno;
    if (error == EINVAL || error == ENOSYS) {
        // A file system without the flag: a link cannot replace anything,
        // and a directory, which cannot be linked, is looked for first.
        struct stat st {};
        if (::stat(source.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
            if (::link(source.c_str(), target.c_str()) == 0) {
                ::unlink(source.c_str());
                return MoveOutcome::Moved;
            }
            error = errno;
        } else if (::lstat(target.c_str(), &st) == 0) {
            error = EEXIST;
        } else if (::rename(source.c_str(), target.c_str()) == 0) {
            return MoveOutcome::Moved;
        } else {
            error = errno;
        }
    }
    t_move_error = error;
    if (error == EEXIST || error == ENOTEMPTY)
        return MoveOutcome::TargetExists;
    if (error == EXDEV)
        return MoveOutcome::OtherFileSystem;
    return MoveOutcome::Failed;
}

bool copy_file(WStringView from, WStringView to)
{
    Descriptor in(::open(to_system_path(from).c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (in.get() < 0 || ::fstat(in.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return record(false);
    auto const target = to_system_path(to);
    Descriptor out(::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (out.get() < 0)
        return record(false);
    struct timespec const times[2] = { st.st_atim, st.st_mtim };
    bool const ok = copy_bytes(in.get(), out.get()) && ::futimens(out.get(), times) == 0 && ::fsync(out.get()) == 0
        && out.close();
    if (!ok) {
        int const error = errno;
        ::unlink(target.c_str());
        errno = error;
    }
    return record(ok);
}

int last_move_error() { return t_move_error; }

std::string error_text(int error) { return std::strerror(error); }

}
