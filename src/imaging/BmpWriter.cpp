#include "imaging/BmpWriter.h"
#include "base/FileStream.h"

namespace qv {

namespace {

void put(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}

std::vector<std::uint8_t> encode_bmp_565(PixelBuffer const& buffer)
{
    constexpr std::uint32_t kHeaders = 14 + 40 + 12; // file, information, three masks
    auto width = static_cast<std::uint32_t>(buffer.width());
    auto height = static_cast<std::uint32_t>(buffer.height());
    std::uint32_t row_bytes = ((16 * width + 31) / 32) * 4;
    std::vector<std::uint8_t> out(kHeaders + row_bytes * height, 0);
    out[0] = 'B';
    out[1] = 'M';
    put(out, 2, static_cast<std::uint32_t>(out.size()), 4);
    put(out, 10, kHeaders, 4);
    put(out, 14, 40, 4);
    put(out, 18, width, 4);
    put(out, 22, height, 4);
    put(out, 26, 1, 2);      // planes
    put(out, 28, 16, 2);     // bits per pixel
    put(out, 30, 3, 4);      // bit fields
    put(out, 34, row_bytes * height, 4);
    put(out, 38, 2835, 4);   // 72 dpi
    put(out, 42, 2835, 4);
    put(out, 54, 0xF800, 4);
    put(out, 58, 0x07E0, 4);
    put(out, 62, 0x001F, 4);
    for (std::uint32_t y = 0; y < height; ++y) {
        auto const* row = buffer.row(static_cast<std::int32_t>(height - 1 - y));
        auto at = kHeaders + y * row_bytes;
        for (std::uint32_t x = 0; x < width; ++x)
            put(out, at + 2 * x, row[x], 2);
    }
    return out;
}

bool write_bmp_565(PixelBuffer const& buffer, WStringView path)
{
    auto bytes = encode_bmp_565(buffer);
    FileStream file(path, OpenMode::Write);
    return file.is_open() && file.write(bytes.data(), bytes.size()) == bytes.size();
}

}
