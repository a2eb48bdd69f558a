#include "base/TextFile.h"

#include <algorithm>
#include <bit>
#include <vector>

namespace qv {

namespace {

WString widen_bytes(unsigned char const* bytes, size_t count)
{
    WString text;
    text.reserve(count);
    for (size_t i = 0; i < count; ++i)
        text += static_cast<char16_t>(bytes[i]);
    return text;
}

}

TextRead read_text(FileStream& stream, std::uint64_t max_bytes)
{
    auto size = stream.size();
    auto position = stream.tell();
    auto length = static_cast<size_t>(std::min<std::uint64_t>(max_bytes, size > position ? size - position : 0));

    std::vector<unsigned char> bytes(length);
    if (length % 2 == 1 || length < 2) {
        if (stream.read(bytes.data(), length) != length)
            return {};
        return { widen_bytes(bytes.data(), length), false };
    }
    if (stream.read(bytes.data(), 2) != 2)
        return {};
    if (bytes[0] == 0xFF && bytes[1] == 0xFE) {
        size_t units = (length - 2) / 2;
        WString text(units, u'\0');
        if (stream.read(text.data(), length - 2) != length - 2)
            return {};
        // Files are little-endian; fix the order on a big-endian host.
        if constexpr (std::endian::native == std::endian::big) {
            for (auto& c : text)
                c = static_cast<char16_t>((c >> 8) | (c << 8));
        }
        return { std::move(text), true };
    }
    if (stream.read(bytes.data() + 2, length - 2) != length - 2)
        return {};
    return { widen_bytes(bytes.data(), length), false };
}

bool TextWriter::open(WStringView name, OpenMode mode, FileAccess access)
{
    if (!m_stream.open(name, mode, access))
        return false;
    if (m_stream.size() == 0) {
        static constexpr unsigned char mark[2] = { 0xFF, 0xFE };
        m_stream.write(mark, 2);
    }
    return true;
}

bool TextWriter::write(WStringView text)
{
    if (text.empty())
        return true;
    auto bytes = text.size() * sizeof(char16_t);
    return m_stream.write(text.data(), bytes) == bytes;
}

}
