#pragma once

// The one file class. Names may carry a path macro and either kind of slash.

#include "core/WString.h"
#include "platform/Files.h"

#include <cstddef>
#include <cstdint>

namespace qv {

using platform::FileAccess;
using platform::OpenMode;

class FileStream {
public:
    FileStream() = default;
    FileStream(WStringView name, OpenMode mode) { open(name, mode); }
    FileStream(FileStream const&) = delete;
    FileStream& operator=(FileStream const&) = delete;
    FileStream(FileStream&&) = default;
    FileStream& operator=(FileStream&&) = default;

    bool open(WStringView name, OpenMode mode, FileAccess access = FileAccess::Shared);
    bool is_open() const { return m_file.is_open(); }
    void close() { m_file.close(); }

    std::size_t read(void* buffer, std::size_t count) { return m_file.read(buffer, count); }
    std::size_t read_at(std::uint64_t position, void* buffer, std::size_t count)
    {
        return m_file.read_at(position, buffer, count);
    }
    std::size_t write(void const* buffer, std::size_t count) { return m_file.write(buffer, count); }
    std::int64_t skip(std::int64_t count);
    std::uint64_t size() const { return m_file.size(); }
    std::uint64_t tell() const { return m_file.tell(); }
    bool seek(std::uint64_t position) { return m_file.seek(position); }
    void flush() { m_file.flush(); }

private:
    platform::File m_file;
};

}
