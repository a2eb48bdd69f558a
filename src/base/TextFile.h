#pragma once

// Text files: UTF-16 little-endian with the mark FF FE when the program
// writes them; 8-bit text is accepted when reading.

#include "base/FileStream.h"
#include "core/WString.h"

#include <cstdint>

namespace qv {

struct TextRead {
    WString text;
    bool was_utf16 { false };
};

inline constexpr std::uint64_t kWholeFile = 2147483647;

// Reads from the current position to the end (at most max_bytes). 8-bit text
// maps each byte to the character of the same number (Latin-1).
TextRead read_text(FileStream& stream, std::uint64_t max_bytes = kWholeFile);

class TextWriter {
public:
    TextWriter() = default;
    TextWriter(WStringView name, OpenMode mode, FileAccess access = FileAccess::Shared) { open(name, mode, access); }

    // Opens and writes the byte-order mark when the file is empty.
    bool open(WStringView name, OpenMode mode, FileAccess access = FileAccess::Shared);
    bool is_open() const { return m_stream.is_open(); }
    bool write(WStringView text);
    void flush() { m_stream.flush(); }
    void close() { m_stream.close(); }

    TextWriter& operator<<(WStringView text)
    {
        write(text);
        return *this;
    }

private:
    FileStream m_stream;
};

}
