#include "platform/Files.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace qv::platform {

// Names pass through surrogate escapes (core/WString.h): a name that is not
// UTF-8 is listed, and opened again by the same bytes.
std::string to_system_path(WStringView program_path)
{
    auto out = to_utf8_escaped(program_path);
    std::replace(out.begin(), out.end(), '\\', '/');
    return out;
}

WString from_system_path(std::string_view system_path)
{
    auto out = from_utf8_escaped(system_path);
    std::replace(out.begin(), out.end(), u'/', u'\\');
    return out;
}

namespace {

LocalTime to_local_time(struct timespec ts)
{
    struct tm fields {};
    time_t seconds = ts.tv_sec;
    localtime_r(&seconds, &fields);
    LocalTime t;
    t.year = static_cast<std::uint16_t>(fields.tm_year + 1900);
    t.month = static_cast<std::uint16_t>(fields.tm_mon + 1);
    t.day_of_week = static_cast<std::uint16_t>(fields.tm_wday);
    t.day = static_cast<std::uint16_t>(fields.tm_mday);
    t.hour = static_cast<std::uint16_t>(fields.tm_hour);
    t.minute = static_cast<std::uint16_t>(fields.tm_min);
    t.second = static_cast<std::uint16_t>(std::min(fields.tm_sec, 59));
    t.millisecond = static_cast<std::uint16_t>(ts.tv_nsec / 1000000);
    return t;
}

std::optional<FindEntry> entry_for(std::string const& system_path, WString name)
{
    struct statx sx {};
    if (statx(AT_FDCWD, system_path.c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0)
        return std::nullopt;
    FindEntry e;
    e.name = std::move(name);
    bool is_dir = S_ISDIR(sx.stx_mode);
    e.attributes = is_dir ? kAttributeDirectory : kAttributeNormal;
    if (!(sx.stx_mode & S_IWUSR))
        e.attributes |= kAttributeReadOnly;
    e.size = is_dir ? 0 : sx.stx_size;
    struct timespec mtime { static_cast<time_t>(sx.stx_mtime.tv_sec), static_cast<long>(sx.stx_mtime.tv_nsec) };
    e.modified = to_local_time(mtime);
    e.modified_ns = static_cast<std::int64_t>(sx.stx_mtime.tv_sec) * 1'000'000'000 + sx.stx_mtime.tv_nsec;
    if (sx.stx_mask & STATX_BTIME) {
        struct timespec btime { static_cast<time_t>(sx.stx_btime.tv_sec), static_cast<long>(sx.stx_btime.tv_nsec) };
        e.created = to_local_time(btime);
    } else {
        e.created = e.modified;
    }
    return e;
}

thread_local int t_last_error = 0;

bool record(bool ok)
{
    t_last_error = ok ? 0 : errno;
    return ok;
}

}

bool matches_pattern(WStringView name, WStringView pattern)
{
    // Iterative wildcard match with one backtrack point, case-insensitive.
    size_t n = 0, p = 0, star = WStringView::npos, resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == u'?' || to_lower(pattern[p]) == to_lower(name[n]))) {
            ++n;
            ++p;
        } else if (p < pattern.size() && pattern[p] == u'*') {
            star = p++;
            resume = n;
        } else if (star != WStringView::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*')
        ++p;
    return p == pattern.size();
}

namespace {

struct Listing {
    std::string system_dir;
    WString pattern;
};

Listing split_pattern(WStringView pattern_path)
{
    auto slash = pattern_path.find_last_of(u"\\/");
    WString directory = slash == WStringView::npos ? WString() : WString(pattern_path.substr(0, slash));
    WString pattern(slash == WStringView::npos ? pattern_path : pattern_path.substr(slash + 1));
    std::string system_dir = directory.empty() ? (slash == WStringView::npos ? "." : "/") : to_system_path(directory);
    return { system_dir, pattern };
}

// Calls `visit(name, full_path, type)` for every listed entry that matches,
// in name order; d_type is DT_UNKNOWN where the file system does not say.
template<typename Visit>
void list_matching(Listing const& listing, Visit visit)
{
    DIR* dir = opendir(listing.system_dir.c_str());
    if (!dir) {
        t_last_error = errno;
        return;
    }
    struct Found {
        WString name;
        std::string full;
        unsigned char type;
    };
    std::vector<Found> found;
    while (auto* d = readdir(dir)) {
        std::string name = d->d_name;
        if (name.empty() || name[0] == '.')
            continue;
        if (name.find('\\') != std::string::npos)
            continue; // cannot be named in the program's path form
        WString wide = from_utf8_escaped(name);
        if (!matches_pattern(wide, listing.pattern))
            continue;
        std::string full = listing.system_dir == "/" ? "/" + name : listing.system_dir + "/" + name;
        found.push_back({ std::move(wide), std::move(full), d->d_type });
    }
    closedir(dir);
    std::sort(found.begin(), found.end(), [](auto const& a, auto const& b) { return a.name < b.name; });
    for (auto& f : found)
        visit(f.name, f.full, f.type);
}

}

namespace {

std::optional<bool> listed_kind(int at, char const* name, unsigned char type);

}

std::vector<FindEntry> find_files(WStringView pattern_path)
{
    std::vector<FindEntry> entries;
    list_matching(split_pattern(pattern_path), [&](WString& name, std::string const& full, unsigned char type) {
        if (!listed_kind(AT_FDCWD, full.c_str(), type))
            return;
        if (auto e = entry_for(full, std::move(name)))
            entries.push_back(std::move(*e));
    });
    return entries;
}

namespace {

// Whether a listed entry is a directory; nothing for one to leave out (a
// link to a directory, or one that cannot be asked about). `at` and `name`
// name it relative to an open directory.
std::optional<bool> listed_kind(int at, char const* name, unsigned char type)
{
    if (type == DT_DIR)
        return true;
    if (type == DT_REG)
        return false;
    // FIFOs, devices and sockets are neither pictures nor folders: opening
    // a FIFO named like a picture would wait for a writer for ever.
    if (type != DT_LNK && type != DT_UNKNOWN)
        return std::nullopt;
    // Links and file systems that do not say: ask, without following a
    // link to a directory.
    struct stat l {};
    if (fstatat(at, name, &l, AT_SYMLINK_NOFOLLOW) != 0)
        return std::nullopt;
    if (S_ISLNK(l.st_mode)) {
        struct stat target {};
        if (fstatat(at, name, &target, 0) != 0 || !S_ISREG(target.st_mode))
            return std::nullopt;
        return false;
    }
    if (S_ISDIR(l.st_mode))
        return true;
    return S_ISREG(l.st_mode) ? std::optional<bool>(false) : std::nullopt;
}

}

std::vector<WString> find_names(WStringView pattern_path, EntryKind kind)
{
    std::vector<WString> names;
    bool want_directories = kind == EntryKind::Directories;
    list_matching(split_pattern(pattern_path), [&](WString& name, std::string const& full, unsigned char type) {
        auto const is_directory = listed_kind(AT_FDCWD, full.c_str(), type);
        if (is_directory && *is_directory == want_directories)
            names.push_back(std::move(name));
    });
    return names;
}

std::vector<ListedEntry> list_directory(WStringView directory, bool with_sizes)
{
    std::vector<ListedEntry> entries;
    std::string const system_dir = directory.empty() ? std::string(".") : to_system_path(directory);
    DIR* dir = opendir(system_dir.c_str());
    if (!dir) {
        t_last_error = errno;
        return entries;
    }
    int const at = dirfd(dir);
    while (auto* d = readdir(dir)) {
        if (d->d_name[0] == '\0' || d->d_name[0] == '.' || std::strchr(d->d_name, '\\'))
            continue;
        auto const is_directory = listed_kind(at, d->d_name, d->d_type);
        if (!is_directory)
            continue;
        ListedEntry entry { from_utf8_escaped(d->d_name), *is_directory, std::nullopt };
        if (with_sizes && !entry.is_directory) {
            struct stat st {};
            if (fstatat(at, d->d_name, &st, 0) == 0)
                entry.size = static_cast<std::uint64_t>(st.st_size);
        }
        entries.push_back(std::move(entry));
    }
    closedir(dir);
    std::sort(entries.begin(), entries.end(), [](auto const& a, auto const& b) { return a.name < b.name; });
    return entries;
}

std::optional<FindEntry> stat_path(WStringView path)
{
    auto system_path = to_system_path(path);
    auto slash = path.find_last_of(u"\\/");
    WString name(slash == WStringView::npos ? path : path.substr(slash + 1));
    auto e = entry_for(system_path.empty() ? "." : system_path, std::move(name));
    t_last_error = e ? 0 : errno;
    return e;
}

namespace {

constexpr int kTerminationSlots = 128;
constexpr std::size_t kTerminationPathBytes = 4096; // PATH_MAX, the terminating zero included

// One file to remove. The path is written while `sequence` is odd; the
// handler keeps a copy only when the sequence was even and unchanged from
// before the copy to after it, so a path half rewritten by another thread
// is never removed. The characters are atomics for the same reason: the
// handler reads them while another thread may write.
struct TerminationSlot {
    std::atomic<std::uint32_t> sequence { 0 };
    std::atomic<char> path[kTerminationPathBytes] {};
};

TerminationSlot g_termination_slots[kTerminationSlots];
std::mutex g_termination_writers; // registrations change one slot at a time
bool g_termination_used[kTerminationSlots] {}; // under g_termination_writers
struct sigaction g_previous_int {};
struct sigaction g_previous_term {};

void write_slot(TerminationSlot& slot, std::string_view path)
{
    auto const sequence = slot.sequence.load(std::memory_order_relaxed);
    slot.sequence.store(sequence + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    for (std::size_t i = 0; i < path.size(); ++i)
        slot.path[i].store(path[i], std::memory_order_relaxed);
    slot.path[path.size()].store('\0', std::memory_order_relaxed);
    slot.sequence.store(sequence + 2, std::memory_order_release);
}

// Async-signal-safe. An odd sequence that never turns even is a write the
// signal interrupted on this very thread: its file is not there yet, or no
// longer, so the slot is passed over after a bounded wait.
bool read_slot(TerminationSlot const& slot, char* out)
{
    for (int attempt = 0; attempt < (1 << 16); ++attempt) {
        auto const before = slot.sequence.load(std::memory_order_acquire);
        if (before & 1)
            continue;
        std::size_t n = 0;
        while (n + 1 < kTerminationPathBytes && (out[n] = slot.path[n].load(std::memory_order_relaxed)) != '\0')
            ++n;
        out[n] = '\0';
        std::atomic_thread_fence(std::memory_order_acquire);
        if (slot.sequence.load(std::memory_order_relaxed) == before)
            return n > 0;
    }
    return false;
}

void remove_on_signal(int signal, siginfo_t* info, void* context)
{
    int const saved_errno = errno;
    char path[kTerminationPathBytes];
    for (auto const& slot : g_termination_slots) {
        if (read_slot(slot, path))
            ::unlink(path);
    }
    struct sigaction const& previous = signal == SIGINT ? g_previous_int : g_previous_term;
    if ((previous.sa_flags & SA_SIGINFO) && previous.sa_sigaction) {
        previous.sa_sigaction(signal, info, context);
    } else if (!(previous.sa_flags & SA_SIGINFO) && previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
        previous.sa_handler(signal);
    } else {
        // The signal is blocked while its handler runs: raised again with
        // the default action, it ends the process as soon as this returns.
        struct sigaction fallback {};
        fallback.sa_handler = SIG_DFL;
        sigemptyset(&fallback.sa_mask);
        ::sigaction(signal, &fallback, nullptr);
        ::raise(signal);
    }
    errno = saved_errno;
}

}

int remove_on_termination(WStringView path)
{
    auto const system_path = to_system_path(path);
    if (system_path.empty() || system_path.size() >= kTerminationPathBytes)
        return -1;
    std::lock_guard lock(g_termination_writers);
    for (int i = 0; i < kTerminationSlots; ++i) {
        if (g_termination_used[i])
            continue;
        g_termination_used[i] = true;
        write_slot(g_termination_slots[i], system_path);
        return i;
    }
    return -1;
}

void keep_on_termination(int ticket)
{
    if (ticket < 0 || ticket >= kTerminationSlots)
        return;
    std::lock_guard lock(g_termination_writers);
    if (!g_termination_used[ticket])
        return;
    write_slot(g_termination_slots[ticket], {});
    g_termination_used[ticket] = false;
}

void install_removal_on_termination()
{
    static std::once_flag once;
    std::call_once(once, [] {
        for (int signal : { SIGINT, SIGTERM }) {
            struct sigaction previous {};
            if (::sigaction(signal, nullptr, &previous) != 0)
                continue;
            // A shell starts background commands with SIGINT ignored: they
            // stay out of reach of the terminal's interrupt.
            if (!(previous.sa_flags & SA_SIGINFO) && previous.sa_handler == SIG_IGN)
                continue;
            (signal == SIGINT ? g_previous_int : g_previous_term) = previous;
            struct sigaction action {};
            action.sa_sigaction = remove_on_signal;
            action.sa_flags = SA_SIGINFO | SA_RESTART;
            sigemptyset(&action.sa_mask);
            // One removal at a time: the other signal waits for this one's end.
            sigaddset(&action.sa_mask, SIGINT);
            sigaddset(&action.sa_mask, SIGTERM);
            ::sigaction(signal, &action, nullptr);
        }
    });
}

bool process_exists(int process_id)
{
    // 0 and negative ids name process groups to kill(), never one process.
    if (process_id <= 0)
        return false;
    return ::kill(process_id, 0) == 0 || errno == EPERM;
}

File::~File() { close(); }

File::File(File&& other) noexcept
    : m_fd(other.m_fd)
{
    other.m_fd = -1;
}

File& File::operator=(File&& other) noexcept
{
    if (this != &other) {
        close();
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

bool File::open(WStringView path, OpenMode mode, FileAccess access)
{
    close();
    int flags = O_CLOEXEC;
    switch (mode) {
    case OpenMode::Read: flags |= O_RDONLY; break;
    case OpenMode::Write: flags |= O_WRONLY | O_CREAT | O_TRUNC; break;
    case OpenMode::Append: flags |= O_WRONLY | O_CREAT; break;
    case OpenMode::ReadWrite: flags |= O_RDWR | O_CREAT; break;
    }
    mode_t permissions = 0666;
    if (access == FileAccess::OwnerOnly) {
        // Appending: a writer that outlives a truncation by a newer one
        // still lands at the end instead of leaving a hole of zeros.
        flags |= O_NOFOLLOW | (mode == OpenMode::Read ? 0 : O_APPEND);
        permissions = 0600;
    }
    auto system_path = to_system_path(path);
    // Never waits: a FIFO would hold the open until a writer came. Only
    // regular files are the program's files, and on those the flag changes
    // nothing, so it stays.
    int fd = ::open(system_path.c_str(), flags | O_NONBLOCK, permissions);
    if (fd < 0) {
        t_last_error = errno;
        return false;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || (access == FileAccess::OwnerOnly && st.st_uid != geteuid())) {
        t_last_error = S_ISDIR(st.st_mode) ? EISDIR : EPERM;
        ::close(fd);
        return false;
    }
    m_fd = fd;
    if (mode == OpenMode::Append && lseek(m_fd, 0, SEEK_END) < 0) {
        close();
        return false;
    }
    return true;
}

void File::close()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

namespace {

// Repeats a read or write until the count is done, the file ends or it fails.
template<typename Byte, typename Call>
std::size_t transfer_all(Byte* buffer, std::size_t count, Call call)
{
    std::size_t done = 0;
    while (done < count) {
        ssize_t n = call(buffer + done, count - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

}

std::size_t File::read(void* buffer, std::size_t count)
{
    if (m_fd < 0 || count == 0)
        return 0;
    return transfer_all(static_cast<char*>(buffer), count, [this](char* p, std::size_t n) { return ::read(m_fd, p, n); });
}

std::size_t File::read_at(std::uint64_t position, void* buffer, std::size_t count)
{
    if (m_fd < 0 || count == 0)
        return 0;
    char* const start = static_cast<char*>(buffer);
    return transfer_all(start, count, [this, start, position](char* p, std::size_t n) {
        return ::pread(m_fd, p, n, static_cast<off_t>(position + static_cast<std::uint64_t>(p - start)));
    });
}

std::size_t File::write(void const* buffer, std::size_t count)
{
    if (m_fd < 0 || count == 0)
        return 0;
    return transfer_all(static_cast<char const*>(buffer), count,
        [this](char const* p, std::size_t n) { return ::write(m_fd, p, n); });
}

std::int64_t File::seek_relative(std::int64_t distance)
{
    if (m_fd < 0)
        return -1;
    return lseek(m_fd, distance, SEEK_CUR);
}

bool File::seek(std::uint64_t position)
{
    return m_fd >= 0 && lseek(m_fd, static_cast<off_t>(position), SEEK_SET) >= 0;
}

std::uint64_t File::size() const
{
    struct stat st {};
    if (m_fd < 0 || fstat(m_fd, &st) != 0)
        return 0;
    return static_cast<std::uint64_t>(st.st_size);
}

std::uint64_t File::tell() const
{
    if (m_fd < 0)
        return 0;
    off_t pos = lseek(m_fd, 0, SEEK_CUR);
    return pos < 0 ? 0 : static_cast<std::uint64_t>(pos);
}

void File::flush()
{
    if (m_fd >= 0)
        fsync(m_fd);
}

bool remove_file(WStringView path) { return record(::unlink(to_system_path(path).c_str()) == 0); }
bool remove_directory(WStringView path) { return record(::rmdir(to_system_path(path).c_str()) == 0); }
bool move_file(WStringView from, WStringView to)
{
    return record(::rename(to_system_path(from).c_str(), to_system_path(to).c_str()) == 0);
}
bool create_directory(WStringView path) { return record(::mkdir(to_system_path(path).c_str(), 0777) == 0); }
int last_error() { return t_last_error; }

StorageFault storage_fault(WStringView directory)
{
    auto const path = to_system_path(directory);
    struct statvfs fs {};
    if (statvfs(path.c_str(), &fs) != 0)
        return StorageFault::Other;
    if (fs.f_flag & ST_RDONLY)
        return StorageFault::ReadOnly;
    // What an unprivileged writer may use: root's reserve does not count.
    if (std::uint64_t { fs.f_bavail } * fs.f_frsize < (1u << 20) || (fs.f_files != 0 && fs.f_favail == 0))
        return StorageFault::Full;
    if (access(path.c_str(), W_OK) != 0)
        return errno == EROFS || errno == EACCES || errno == EPERM ? StorageFault::ReadOnly : StorageFault::Other;
    return StorageFault::None;
}

}
