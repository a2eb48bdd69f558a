#include "CachePictures.h"
#include "imaging/JpegCodec.h"
#include "support/TestSupport.h"

#include <cmath>
#include <cstdlib>
#include <fstream>

namespace qv::test {

std::vector<std::uint8_t> pattern_row(int width, int y)
{
    std::vector<std::uint8_t> row(static_cast<size_t>(width) * 3);
    for (int x = 0; x < width; ++x) {
        row[3 * x] = static_cast<std::uint8_t>(128 + 100 * std::sin(x * 0.09));
        row[3 * x + 1] = static_cast<std::uint8_t>(128 + 100 * std::sin(y * 0.11));
        row[3 * x + 2] = static_cast<std::uint8_t>(128 + 80 * std::sin((x + y) * 0.05));
    }
    return row;
}

bool write_pattern_jpeg(std::filesystem::path const& path, int width, int height)
{
    auto encoder = JpegEncoder::open(program_form(path), width, height);
    if (!encoder)
        return false;
    for (int y = 0; y < height; ++y) {
        if (!encoder->write_row(pattern_row(width, y)))
            return false;
    }
    return encoder->finish();
}

bool write_progressive_jpeg(std::filesystem::path const& path, int width, int height)
{
    auto ppm = path.string() + ".ppm";
    {
        std::ofstream out(ppm, std::ios::binary);
        out << "P6\n" << width << " " << height << "\n255\n";
        for (int y = 0; y < height; ++y) {
            auto row = pattern_row(width, y);
            out.write(reinterpret_cast<char const*>(row.data()), static_cast<std::streamsize>(row.size()));
        }
    }
    std::string command = "cjpeg -progressive -outfile '" + path.string() + "' '" + ppm + "'";
    bool ok = std::system(command.c_str()) == 0;
    std::filesystem::remove(ppm);
    return ok;
}

std::unique_ptr<PixelBuffer> decode_whole(WStringView path) { return decode_scaled(path, 1); }

double mean_difference(PixelBuffer const& a, int ax, int ay, PixelBuffer const& b, int bx, int by, int w, int h)
{
    double total = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            auto p = a.at(ax + x, ay + y), q = b.at(bx + x, by + y);
            total += std::abs(((p >> 11) & 31) - ((q >> 11) & 31)) * 255.0 / 31;
            total += std::abs(((p >> 5) & 63) - ((q >> 5) & 63)) * 255.0 / 63;
            total += std::abs((p & 31) - (q & 31)) * 255.0 / 31;
        }
    }
    return total / (3.0 * w * h);
}

}
