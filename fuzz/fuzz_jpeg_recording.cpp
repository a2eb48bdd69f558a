// The recording read over arbitrary bytes. Besides not crashing, it must
// agree with the library's own decode: whenever both read every row, the
// rows are the same.
//
// Except after fill bytes that end in a stuffed zero (0xFF 0xFF 0x00, which
// T.81 B.1.1.2 does not allow: fill bytes may only precede a marker). There
// libjpeg-turbo's fast path takes the second 0xFF for a marker, decodes the
// MCU from zero bits, then redoes it on its careful path without clearing
// the block, so coefficients of the first attempt survive. The own decoder
// reads the bytes as the careful path does and does not copy that.

#include "imaging/JpegCodec.h"
#include "imaging/JpegEntry.h"

#include <cstdlib>
#include <vector>

namespace {

constexpr long kMaxPixels = 1 << 20;

bool has_fill_before_stuffing(std::span<std::uint8_t const> bytes)
{
    for (std::size_t i = 2; i < bytes.size(); ++i)
        if (bytes[i] == 0x00 && bytes[i - 1] == 0xFF && bytes[i - 2] == 0xFF)
            return true;
    return false;
}

std::vector<std::uint8_t> read_all(qv::JpegReader& reader)
{
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(reader.width()) * static_cast<std::size_t>(reader.height()) * 3);
    std::size_t const stride = static_cast<std::size_t>(reader.width()) * 3;
    for (int y = 0; y < reader.height(); ++y)
        if (!reader.read_row(std::span(rgb).subspan(static_cast<std::size_t>(y) * stride, stride)))
            return {};
    return rgb;
}

}

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size)
{
    std::span<std::uint8_t const> const bytes(data, size);
    std::vector<std::uint8_t> entries;
    auto recording = qv::JpegReader::open_recording(bytes, entries);
    if (!recording || static_cast<long>(recording->width()) * recording->height() > kMaxPixels)
        return 0;
    auto const recorded = read_all(*recording);
    if (recorded.empty())
        return 0;
    if (entries.size() % qv::kJpegEntrySize != 0)
        std::abort();
    auto plain = qv::JpegReader::open_memory(bytes);
    if (!plain)
        std::abort();
    auto const reference = read_all(*plain);
    if (!reference.empty() && reference != recorded && !has_fill_before_stuffing(bytes))
        std::abort();
    return 0;
}
