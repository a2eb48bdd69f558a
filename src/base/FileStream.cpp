#include "base/FileStream.h"
#include "base/Paths.h"

namespace qv {

bool FileStream::open(WStringView name, OpenMode mode, FileAccess access)
{
    return m_file.open(expand_path(name), mode, access);
}

std::int64_t FileStream::skip(std::int64_t count)
{
    auto before = static_cast<std::int64_t>(m_file.tell());
    auto after = m_file.seek_relative(count);
    return after < 0 ? 0 : after - before;
}

}
