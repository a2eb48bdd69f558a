#pragma once

// The file-system seam. Paths cross it in the program's own form ("\"
// separators); this layer turns them into system paths and back.

#include "core/WString.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace qv::platform {

// Attribute bits as the program's file layer knows them.
inline constexpr std::uint32_t kAttributeReadOnly = 0x1;
inline constexpr std::uint32_t kAttributeHidden = 0x2;
inline constexpr std::uint32_t kAttributeDirectory = 0x10;
inline constexpr std::uint32_t kAttributeNormal = 0x80;
inline constexpr std::uint32_t kAttributeTemporary = 0x100; // a storage card's mount point

// Both ways through surrogate escapes (core/WString.h), so that a name
// which is not UTF-8 keeps its bytes.
std::string to_system_path(WStringView program_path);
WString from_system_path(std::string_view system_path);

struct LocalTime {
    std::uint16_t year { 0 };
    std::uint16_t month { 0 };
    std::uint16_t day_of_week { 0 };
    std::uint16_t day { 0 };
    std::uint16_t hour { 0 };
    std::uint16_t minute { 0 };
    std::uint16_t second { 0 };
    std::uint16_t millisecond { 0 };
};

struct FindEntry {
    WString name;
    std::uint32_t attributes { 0 };
    std::uint64_t size { 0 };
    LocalTime created;  // birth time where the file system keeps one, else modification time
    LocalTime modified;
    // The modification time exactly, in nanoseconds since 1970 (UTC): what
    // tells one version of a file from the next where fields cannot.
    std::int64_t modified_ns { 0 };
};

// Lists the entries matching the last component of `pattern_path`
// ("\dir\*.jpg"), case-insensitively, sorted by name. Hidden names (leading
// "."), names containing "\" and symbolic links to directories are left out.
std::vector<FindEntry> find_files(WStringView pattern_path);

// Only the names of the files or of the directories matching the pattern,
// in the same order and with the same exclusions as find_files; cheap, since
// it asks the file system for nothing the directory itself does not tell.
enum class EntryKind { Files, Directories };
std::vector<WString> find_names(WStringView pattern_path, EntryKind kind);

// One listing of a directory, without a pattern: its files and its
// sub-directories together, sorted by name, with the exclusions of
// find_files. Sizes are asked for only when `with_sizes` is set (a stat of
// each file relative to the open directory, following links); a file whose
// stat fails has no size.
struct ListedEntry {
    WString name;
    bool is_directory { false };
    std::optional<std::uint64_t> size;
};
std::vector<ListedEntry> list_directory(WStringView directory, bool with_sizes = false);

// One entry for an existing path (no wildcards), following symbolic links.
std::optional<FindEntry> stat_path(WStringView path);

bool matches_pattern(WStringView name, WStringView pattern);

// Files the process must not leave behind when SIGINT or SIGTERM ends it.
// The system path is kept in a fixed table from which the signal handler
// only reads, so that removing files there allocates nothing and takes no
// lock; registration returns a ticket, or -1 when the table is full or the
// path too long (the file is then left as an interrupted build leaves it).
int remove_on_termination(WStringView path);
void keep_on_termination(int ticket);
// Handlers for SIGINT and SIGTERM that remove the registered files and then
// end the process as the signal would have: a handler installed before is
// called afterwards instead, and a signal the process ignores stays
// ignored. Installs once; further calls do nothing.
void install_removal_on_termination();
// Whether a process of this id exists on this machine; a zombie or a
// process of another user counts as existing.
bool process_exists(int process_id);

enum class OpenMode { Read = 0, Write = 1, Append = 2, ReadWrite = 3 };

// Owner-only (for files in shared places such as Temp): opened without
// following a symbolic link, created with permissions 0600, refused unless it
// is a regular file of ours, and written at the end only.
enum class FileAccess { Shared, OwnerOnly };

class OwnDirectory;

class File {
public:
    File() = default;
    ~File();
    File(File const&) = delete;
    File& operator=(File const&) = delete;
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;

    bool open(WStringView path, OpenMode mode, FileAccess access = FileAccess::Shared);
    bool is_open() const { return m_fd >= 0; }
    void close();

    std::size_t read(void* buffer, std::size_t count);
    // Reads at `position` without moving the file position: one call where
    // a seek and a read would take two.
    std::size_t read_at(std::uint64_t position, void* buffer, std::size_t count);
    std::size_t write(void const* buffer, std::size_t count);
    std::int64_t seek_relative(std::int64_t distance); // new position, or -1
    bool seek(std::uint64_t position);
    std::uint64_t size() const;
    std::uint64_t tell() const;
    void flush();

private:
    friend class OwnDirectory;
    int m_fd { -1 };
};

bool remove_file(WStringView path);
bool remove_directory(WStringView path);
bool move_file(WStringView from, WStringView to);
bool create_directory(WStringView path);
int last_error(); // errno of the last failed call on this thread

// Why files cannot be written under `directory`, as far as the file system
// says: mounted read-only or not writable by us, or out of space.
enum class StorageFault { None, ReadOnly, Full, Other };
StorageFault storage_fault(WStringView directory);

}
