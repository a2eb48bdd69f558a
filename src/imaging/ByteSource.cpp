#include "imaging/ByteSource.h"

#include <algorithm>
#include <cstring>

namespace qv {

std::size_t MemoryByteSource::read(void* buffer, std::size_t count)
{
    std::size_t available = m_bytes.size() - m_position;
    count = std::min(count, available);
    if (count > 0)
        std::memcpy(buffer, m_bytes.data() + m_position, count);
    m_position += count;
    return count;
}

void MemoryByteSource::skip(std::int64_t count)
{
    if (count <= 0)
        return;
    std::size_t available = m_bytes.size() - m_position;
    m_position += static_cast<std::size_t>(std::min<std::uint64_t>(static_cast<std::uint64_t>(count), available));
}

}
