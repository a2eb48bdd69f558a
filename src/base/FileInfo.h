#pragma once

// Dates and snapshots of files as the program sees them: sizes, times and
// attributes read once through the platform layer. Any thread; a file that
// cannot be read is a snapshot that says it does not exist.

#include "core/WString.h"
#include "platform/Files.h"

#include <cstdint>

namespace qv {

// A date and time kept both broken down and as a 64-bit file time (100 ns
// units since 1601-01-01); every setter keeps the two in step.
class DateTime {
public:
    using Fields = platform::LocalTime;

    void set_file_time(std::uint64_t file_time);
    void set_broken_down(Fields const& fields);
    void set_date(int year, int month, int day);
    void set_time(int hour, int minute, double seconds);

    std::uint64_t file_time() const { return m_file_time; }
    Fields const& fields() const { return m_fields; }

private:
    std::uint64_t m_file_time { 0 };
    Fields m_fields { 1601, 1, 1, 1, 0, 0, 0, 0 };
};

// A snapshot of one file or directory, taken at construction.
class FileInfo {
public:
    explicit FileInfo(WStringView path);

    WString const& path() const { return m_path; }
    std::uint32_t attributes() const { return m_attributes; }
    std::uint32_t size() const { return m_size; }
    DateTime const& created() const { return m_created; }
    DateTime const& modified() const { return m_modified; }
    int last_error() const { return m_last_error; }

    bool exists() const { return m_attributes != kNotFound; }
    bool is_directory() const { return exists() && (m_attributes & platform::kAttributeDirectory); }

    bool remove();
    bool move_to(WStringView new_path);

    static constexpr std::uint32_t kNotFound = 0xFFFFFFFFu;

private:
    WString m_path;
    std::uint32_t m_attributes { kNotFound };
    std::uint32_t m_size { 0 };
    DateTime m_created;
    DateTime m_modified;
    int m_last_error { 0 };
};

}
