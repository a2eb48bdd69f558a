#pragma once

// Watching directory trees for pictures that come, go or change, and the
// system's mount table for cards that are put in or taken out, so that the
// albums follow the disk without a search being asked for.
//
// Linux: one inotify watch per directory, added breadth first from each
// root (the nearest directories are the ones a person adds to) up to a
// bound; a tree the bound leaves unwatched is reported by unwatched() for
// its owner to look at now and then. New directories get watches as they
// appear. The mount table is /proc/self/mountinfo, which the kernel marks
// (POLLPRI) whenever a file system is mounted or unmounted.
//
// Threads: a DirectoryWatch belongs to one thread, except wake(), which any
// thread may call. ChangeBatch is plain data.
// Failures: a directory that cannot be watched (gone, no access) is left
// out; without inotify valid() is false and nothing is ever reported.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <map>
#include <vector>

namespace qv::platform {

// What to look at again. Paths are system paths, without a trailing "/".
struct DirectoryChange {
    std::string path;
    // The directory and everything below it (a directory that came, went
    // or moved), or its own files only (a picture in it changed).
    bool recursive { false };
    // Events were lost: every root is to be looked at again.
    bool everything { false };

    bool operator==(DirectoryChange const&) const = default;
};

class DirectoryWatch {
public:
    struct Options {
        // 0: default_max_watches().
        std::size_t max_watches { 0 };
        // Directories never watched, and whose coming and going is no
        // change (cache directories, which builds write to constantly).
        std::function<bool(std::string_view path)> ignore_directory;
        // Files whose changes matter, by name; empty: every file.
        std::function<bool(std::string_view name)> interesting_file;
        // Also wait for changes of the mount table.
        bool watch_mounts { false };
    };

    explicit DirectoryWatch(Options options);
    ~DirectoryWatch();
    DirectoryWatch(DirectoryWatch const&) = delete;
    DirectoryWatch& operator=(DirectoryWatch const&) = delete;

    bool valid() const { return m_fd >= 0; }

    // Drops every watch and watches `roots` (system paths) anew.
    void set_roots(std::vector<std::string> roots);
    std::vector<std::string> const& roots() const { return m_roots; }

    // What changed since the last call, from the events waiting now; never
    // blocks. Directories that appeared are watched before it returns.
    std::vector<DirectoryChange> read_changes();

    // Waits up to `timeout_ms` (negative: without end) for events, a change
    // of the mount table or wake().
    struct Woken {
        bool events { false };
        bool mounts { false };
        bool woken { false };
    };
    Woken wait(int timeout_ms);
    void wake();

    // The tops of the trees the bound left unwatched.
    std::set<std::string> const& unwatched() const { return m_unwatched; }
    // Tries to watch them again (a bound freed by directories that went).
    void retry_unwatched();
    std::size_t watch_count() const { return m_paths.size(); }
    std::size_t max_watches() const { return m_max_watches; }
    bool watching(std::string const& directory) const { return m_paths.contains(directory); }

    // A few thousand directories, and never more than half of what the
    // system allows a user (/proc/sys/fs/inotify/max_user_watches), so that
    // other programs keep theirs.
    static std::size_t default_max_watches();

private:
    void add_tree(std::string const& top);
    void forget_tree(std::string const& top);
    bool ignored(std::string const& path) const;

    Options m_options;
    std::size_t m_max_watches { 0 };
    int m_fd { -1 };
    int m_wake { -1 };
    int m_mounts { -1 };
    std::vector<std::string> m_roots;
    std::unordered_map<int, std::string> m_watches; // watch descriptor, directory
    std::map<std::string, int> m_paths;             // directory, watch descriptor
    std::set<std::string> m_unwatched;
};

// Changes come in bursts (a copy of hundreds of pictures): they are merged
// and handed on once nothing came for `quiet_ms`, or `longest_ms` after the
// first of the burst, whichever is sooner. Times in milliseconds of any
// monotonic clock.
class ChangeBatch {
public:
    ChangeBatch(std::uint64_t quiet_ms, std::uint64_t longest_ms)
        : m_quiet(quiet_ms)
        , m_longest(longest_ms)
    {
    }

    void add(std::vector<DirectoryChange> const& changes, std::uint64_t now);
    bool empty() const { return m_changes.empty(); }
    bool due(std::uint64_t now) const;
    // How long until due; -1 when empty.
    std::int64_t wait_ms(std::uint64_t now) const;
    // The changes merged: one `everything` stands for all; a recursive
    // change stands for every change below it; each path once.
    std::vector<DirectoryChange> take();

private:
    std::uint64_t m_quiet;
    std::uint64_t m_longest;
    std::uint64_t m_first { 0 };
    std::uint64_t m_last { 0 };
    std::vector<DirectoryChange> m_changes;
};

// The directory `path` is `top` or lies below it (system paths).
bool path_within(std::string_view path, std::string_view top);

}
